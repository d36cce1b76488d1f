// The mail's operating-system services on Windows: the local time and its bias, the user's short
// date and long time formats, code-page conversion, the user's locale and the DNS host name.
#include <windows.h>

#include <array>
#include <cstring>
#include <string>

#include "mail/MailPlatform.h"

namespace dv {

namespace {

// Windows code pages of the charsets the mail writes encoded words or bodies in.
UINT CodePageOf(const std::string& charset) {
  if (charset == "GB2312") return 936;
  if (charset == "Big5") return 950;
  if (charset == "ISO-2022-JP") return 50220;
  if (charset == "EUC-KR") return 51949;
  if (charset == "ISO-8859-1") return 28591;
  return 0;
}

SYSTEMTIME ToSystemTime(const std::tm& fields) {
  SYSTEMTIME time{};
  time.wYear = static_cast<WORD>(fields.tm_year + 1900);
  time.wMonth = static_cast<WORD>(fields.tm_mon + 1);
  time.wDayOfWeek = static_cast<WORD>(fields.tm_wday);
  time.wDay = static_cast<WORD>(fields.tm_mday);
  time.wHour = static_cast<WORD>(fields.tm_hour);
  time.wMinute = static_cast<WORD>(fields.tm_min);
  time.wSecond = static_cast<WORD>(fields.tm_sec);
  return time;
}

}  // namespace

LocalTime ToLocalTime(std::time_t when) {
  LocalTime local;
  if (localtime_s(&local.fields, &when) != 0) return local;
  // The local fields read as if they were UTC, less the instant itself, is the offset with
  // daylight saving included.
  std::tm asUtc = local.fields;
  local.utcOffsetSeconds = static_cast<long>(_mkgmtime(&asUtc) - when);
  return local;
}

// "%x" is the user's short date, "%X" the user's long time; anything else goes to strftime.
std::string FormatUserTime(const std::tm& fields, const char* format) {
  const SYSTEMTIME time = ToSystemTime(fields);
  std::array<char, 256> text{};
  int length = 0;
  if (std::strcmp(format, "%x") == 0) {
    length = GetDateFormatA(LOCALE_USER_DEFAULT, DATE_SHORTDATE, &time, nullptr, text.data(),
                            static_cast<int>(text.size()));
  } else if (std::strcmp(format, "%X") == 0) {
    length = GetTimeFormatA(LOCALE_USER_DEFAULT, 0, &time, nullptr, text.data(),
                            static_cast<int>(text.size()));
  } else {
    return std::string(text.data(), std::strftime(text.data(), text.size(), format, &fields));
  }
  return length > 0 ? std::string(text.data(), static_cast<size_t>(length - 1)) : std::string();
}

std::optional<std::string> ConvertFromUtf8(std::string_view text, const std::string& charset) {
  if (charset == "UTF-8") return std::string(text);
  const UINT codePage = CodePageOf(charset);
  if (codePage == 0) return std::nullopt;
  if (text.empty()) return std::string();
  const int wideLength = MultiByteToWideChar(CP_UTF8, MB_ERR_INVALID_CHARS, text.data(),
                                             static_cast<int>(text.size()), nullptr, 0);
  if (wideLength <= 0) return std::nullopt;
  std::wstring wide(static_cast<size_t>(wideLength), L'\0');
  MultiByteToWideChar(CP_UTF8, MB_ERR_INVALID_CHARS, text.data(), static_cast<int>(text.size()),
                      wide.data(), wideLength);
  // ISO-2022-JP takes neither flags nor the default-character question.
  const bool stateful = codePage == 50220;
  BOOL usedDefault = FALSE;
  const DWORD flags = stateful ? 0 : WC_NO_BEST_FIT_CHARS;
  BOOL* usedDefaultOut = stateful ? nullptr : &usedDefault;
  const int length = WideCharToMultiByte(codePage, flags, wide.data(), wideLength, nullptr, 0,
                                         nullptr, usedDefaultOut);
  if (length <= 0 || usedDefault) return std::nullopt;
  std::string out(static_cast<size_t>(length), '\0');
  WideCharToMultiByte(codePage, flags, wide.data(), wideLength, out.data(), length, nullptr,
                      usedDefaultOut);
  if (usedDefault) return std::nullopt;
  return out;
}

// The user's locale as a POSIX-style name ("ja_JP"), so one rule picks the charset everywhere.
std::string SystemLanguage() {
  std::array<wchar_t, LOCALE_NAME_MAX_LENGTH> name{};
  if (GetUserDefaultLocaleName(name.data(), static_cast<int>(name.size())) <= 0) return {};
  std::string text;
  for (const wchar_t* c = name.data(); *c != L'\0'; ++c) {
    text += *c == L'-' ? '_' : static_cast<char>(*c & 0x7F);
  }
  return text;
}

std::string LocalHostName() {
  std::array<char, 256> name{};
  DWORD size = static_cast<DWORD>(name.size());
  if (!GetComputerNameExA(ComputerNameDnsHostname, name.data(), &size) || size == 0) {
    return "localhost";
  }
  return std::string(name.data(), size);
}

}  // namespace dv
