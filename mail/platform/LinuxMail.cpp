// The mail's operating-system services on Linux (glibc): localtime_r with tm_gmtoff, strftime_l
// in the environment's LC_TIME, iconv, and the locale variables.
#include <iconv.h>
#include <locale.h>
#include <unistd.h>

#include <array>
#include <cerrno>
#include <cstdlib>

#include "mail/MailPlatform.h"

namespace dv {

LocalTime ToLocalTime(std::time_t when) {
  LocalTime local;
  if (localtime_r(&when, &local.fields) == nullptr) {
    gmtime_r(&when, &local.fields);
    return local;
  }
  local.utcOffsetSeconds = local.fields.tm_gmtoff;
  return local;
}

std::string FormatUserTime(const std::tm& fields, const char* format) {
  locale_t locale = newlocale(LC_TIME_MASK, "", static_cast<locale_t>(0));
  if (locale == static_cast<locale_t>(0)) {
    locale = newlocale(LC_TIME_MASK, "C", static_cast<locale_t>(0));
  }
  if (locale == static_cast<locale_t>(0)) return {};
  std::array<char, 256> text{};
  const std::size_t length = strftime_l(text.data(), text.size(), format, &fields, locale);
  freelocale(locale);
  return std::string(text.data(), length);
}

namespace {

// One iconv descriptor per thread, kept for the last charset: a header is converted a character
// at a time, and opening a descriptor (loading its gconv module) costs far more than converting.
class CachedConverter {
 public:
  CachedConverter() = default;
  CachedConverter(const CachedConverter&) = delete;
  CachedConverter& operator=(const CachedConverter&) = delete;
  ~CachedConverter() { Close(); }

  // A descriptor for UTF-8 to `charset` in its initial shift state; nothing for an unknown one.
  std::optional<iconv_t> For(const std::string& charset) {
    if (!IsOpen() || charset != charset_) {
      Close();
      cd_ = iconv_open(charset.c_str(), "UTF-8");
      if (!IsOpen()) return std::nullopt;
      charset_ = charset;
    }
    iconv(cd_, nullptr, nullptr, nullptr, nullptr);
    return cd_;
  }

 private:
  bool IsOpen() const { return cd_ != reinterpret_cast<iconv_t>(-1); }
  void Close() {
    if (IsOpen()) iconv_close(cd_);
    cd_ = reinterpret_cast<iconv_t>(-1);
    charset_.clear();
  }

  iconv_t cd_ = reinterpret_cast<iconv_t>(-1);
  std::string charset_;
};

}  // namespace

std::optional<std::string> ConvertFromUtf8(std::string_view text, const std::string& charset) {
  if (charset == "UTF-8") return std::string(text);
  thread_local CachedConverter converter;
  const std::optional<iconv_t> opened = converter.For(charset);
  if (!opened) return std::nullopt;
  const iconv_t cd = *opened;
  std::string input(text);
  std::string out;
  char* in = input.data();
  std::size_t inLeft = input.size();
  std::array<char, 256> buffer{};
  while (inLeft > 0) {
    char* outPtr = buffer.data();
    std::size_t outLeft = buffer.size();
    const std::size_t rc = iconv(cd, &in, &inLeft, &outPtr, &outLeft);
    out.append(buffer.data(), static_cast<std::size_t>(outPtr - buffer.data()));
    if (rc == static_cast<std::size_t>(-1) && errno == E2BIG) continue;
    // An error, or characters glibc could only approximate: not an exact conversion.
    if (rc != 0) return std::nullopt;
  }
  // Back to the initial shift state (ISO-2022-JP ends in ASCII).
  char* outPtr = buffer.data();
  std::size_t outLeft = buffer.size();
  iconv(cd, nullptr, nullptr, &outPtr, &outLeft);
  out.append(buffer.data(), static_cast<std::size_t>(outPtr - buffer.data()));
  return out;
}

std::string SystemLanguage() {
  for (const char* name : {"LC_ALL", "LC_MESSAGES", "LANG"}) {
    const char* value = std::getenv(name);
    if (value != nullptr && *value != '\0') return value;
  }
  return {};
}

std::string LocalHostName() {
  std::array<char, 256> name{};
  if (gethostname(name.data(), name.size() - 1) != 0 || name[0] == '\0') return "localhost";
  return name.data();
}

}  // namespace dv
