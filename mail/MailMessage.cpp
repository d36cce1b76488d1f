#include "mail/MailMessage.h"

#include <cstdint>
#include <cstdio>
#include <optional>

#include "mail/MailPlatform.h"

namespace dv {
namespace {

constexpr std::size_t kMaxEncodedWordLength = 75;
constexpr char kBase64Alphabet[] =
    "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/";

char AsciiLower(char c) { return c >= 'A' && c <= 'Z' ? static_cast<char>(c - 'A' + 'a') : c; }

bool SameName(std::string_view a, std::string_view b) {
  if (a.size() != b.size()) return false;
  for (std::size_t i = 0; i < a.size(); ++i) {
    if (AsciiLower(a[i]) != AsciiLower(b[i])) return false;
  }
  return true;
}

bool IsPrintableAscii(std::string_view text) {
  for (const char c : text) {
    const auto byte = static_cast<unsigned char>(c);
    if (byte < 0x20 || byte > 0x7E) return false;
  }
  return true;
}

std::string TrimRight(std::string_view text) {
  std::size_t end = text.size();
  while (end > 0 && (text[end - 1] == ' ' || text[end - 1] == '\t')) --end;
  return std::string(text.substr(0, end));
}

}  // namespace

std::string EncodeBase64(std::string_view bytes) {
  std::string out;
  std::size_t i = 0;
  for (; i + 2 < bytes.size(); i += 3) {
    const uint32_t n = static_cast<uint32_t>(static_cast<unsigned char>(bytes[i])) << 16 |
                       static_cast<uint32_t>(static_cast<unsigned char>(bytes[i + 1])) << 8 |
                       static_cast<unsigned char>(bytes[i + 2]);
    out += kBase64Alphabet[n >> 18 & 63];
    out += kBase64Alphabet[n >> 12 & 63];
    out += kBase64Alphabet[n >> 6 & 63];
    out += kBase64Alphabet[n & 63];
  }
  if (i < bytes.size()) {
    uint32_t n = static_cast<uint32_t>(static_cast<unsigned char>(bytes[i])) << 16;
    if (i + 1 < bytes.size())
      n |= static_cast<uint32_t>(static_cast<unsigned char>(bytes[i + 1])) << 8;
    out += kBase64Alphabet[n >> 18 & 63];
    out += kBase64Alphabet[n >> 12 & 63];
    out += i + 1 < bytes.size() ? kBase64Alphabet[n >> 6 & 63] : '=';
    out += '=';
  }
  return out;
}

namespace {

// The "Q" encoding restricted to what may stand in a display name as well as in unstructured text.
std::string QEncode(std::string_view bytes) {
  static constexpr char kHex[] = "0123456789ABCDEF";
  std::string out;
  for (const char c : bytes) {
    const auto byte = static_cast<unsigned char>(c);
    if ((c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z') || (c >= '0' && c <= '9') || c == '!' ||
        c == '*' || c == '+' || c == '-' || c == '/') {
      out += c;
    } else if (c == ' ') {
      out += '_';
    } else {
      out += '=';
      out += kHex[byte >> 4];
      out += kHex[byte & 15];
    }
  }
  return out;
}

std::string EncodedWord(std::string_view bytes, const MailCharset& charset) {
  return "=?" + charset.name + "?" +
         (charset.base64 ? "B?" + EncodeBase64(bytes) : "Q?" + QEncode(bytes)) + "?=";
}

// Length of the UTF-8 sequence starting at text[i]; a stray byte counts as one.
std::size_t CharacterLength(std::string_view text, std::size_t i) {
  const auto lead = static_cast<unsigned char>(text[i]);
  std::size_t length = 1;
  if (lead >= 0xF0 && lead < 0xF8)
    length = 4;
  else if (lead >= 0xE0)
    length = 3;
  else if (lead >= 0xC0)
    length = 2;
  if (i + length > text.size()) return 1;
  for (std::size_t k = 1; k < length; ++k) {
    if ((static_cast<unsigned char>(text[i + k]) & 0xC0) != 0x80) return 1;
  }
  return length;
}

// Encoded words of at most kMaxEncodedWordLength characters, split between characters; nothing
// when the text cannot be converted.
std::optional<std::string> EncodeWords(std::string_view text, const MailCharset& charset) {
  std::string result;
  std::string pending;  // the current word, already encoded
  std::size_t chunkStart = 0;
  std::size_t i = 0;
  while (i < text.size()) {
    const std::size_t next = i + CharacterLength(text, i);
    const auto converted =
        ConvertFromUtf8(text.substr(chunkStart, next - chunkStart), charset.name);
    if (!converted) return std::nullopt;
    const std::string word = EncodedWord(*converted, charset);
    if (word.size() > kMaxEncodedWordLength && !pending.empty()) {
      if (!result.empty()) result += ' ';
      result += pending;
      pending.clear();
      chunkStart = i;
      continue;
    }
    pending = word;
    i = next;
  }
  if (!pending.empty()) {
    if (!result.empty()) result += ' ';
    result += pending;
  }
  return result;
}

// Bytes as text: valid UTF-8 sequences stay, every other byte is read as an 8-bit Latin-1
// character (the degree sign 0xB0 above all), giving UTF-8 throughout.
std::string BytesAsUtf8(std::string_view bytes) {
  std::string out;
  for (std::size_t i = 0; i < bytes.size();) {
    const std::size_t length = CharacterLength(bytes, i);
    const auto byte = static_cast<unsigned char>(bytes[i]);
    if (length > 1 || byte < 0x80) {
      out.append(bytes.substr(i, length));
    } else {
      out += static_cast<char>(0xC0 | byte >> 6);
      out += static_cast<char>(0x80 | (byte & 0x3F));
    }
    i += length;
  }
  return out;
}

}  // namespace

void HeaderList::Set(std::string_view name, std::string_view value) {
  for (auto it = headers_.begin(); it != headers_.end(); ++it) {
    if (SameName(it->first, name)) {
      if (value.empty()) {
        headers_.erase(it);
      } else {
        it->second = value;
      }
      return;
    }
  }
  if (!value.empty()) headers_.emplace_back(name, value);
}

std::string HeaderList::Get(std::string_view name) const {
  for (const auto& [key, value] : headers_) {
    if (SameName(key, name)) return value;
  }
  return {};
}

std::string HeaderList::Text() const {
  std::string text;
  for (const auto& [name, value] : headers_) text += FoldHeaderLine(name + ": " + value) + "\r\n";
  return text;
}

std::string FoldHeaderLine(std::string_view line, std::size_t width) {
  // Never fold between the name and its value.
  const std::size_t colon = line.find(": ");
  const std::size_t firstBreak = colon == std::string_view::npos ? 1 : colon + 2;
  std::string out;
  std::size_t lineStart = 0;  // where the current output line begins in `line`
  while (line.size() - lineStart > width) {
    const std::size_t searchFrom = lineStart == 0 ? firstBreak : lineStart + 1;
    std::size_t cut = std::string_view::npos;
    for (std::size_t i = lineStart + width; i >= searchFrom && i > lineStart; --i) {
      if (line[i] == ' ') {
        cut = i;
        break;
      }
    }
    if (cut == std::string_view::npos) cut = line.find(' ', lineStart + width + 1);
    if (cut == std::string_view::npos) break;
    const std::string piece = TrimRight(line.substr(lineStart, cut - lineStart));
    // A run of blanks: the continuation keeps one as its fold.
    std::size_t next = cut;
    while (next + 1 < line.size() && line[next + 1] == ' ') ++next;
    if (next + 1 >= line.size()) {
      // Only blanks remain.
      out += piece;
      return out;
    }
    out += piece + "\r\n";
    lineStart = next;
  }
  out += TrimRight(line.substr(lineStart));
  return out;
}

MailCharset CharsetForLanguage(std::string_view language) {
  const auto starts = [&](std::string_view prefix) {
    if (language.size() < prefix.size()) return false;
    for (std::size_t i = 0; i < prefix.size(); ++i) {
      if (AsciiLower(language[i]) != AsciiLower(prefix[i])) return false;
    }
    // "ja" but not "jam": the language code ends here.
    return language.size() == prefix.size() || language[prefix.size()] == '_' ||
           language[prefix.size()] == '-' || language[prefix.size()] == '.' ||
           language[prefix.size()] == '@';
  };
  if (starts("zh_CN") || starts("zh-CN") || starts("zh_SG")) return {"GB2312", true};
  if (starts("zh")) return {"Big5", true};
  if (starts("ja")) return {"ISO-2022-JP", true};
  if (starts("ko")) return {"EUC-KR", true};
  return {"ISO-8859-1", false};
}

MailCharset SystemMailCharset() { return CharsetForLanguage(SystemLanguage()); }

std::string EncodeHeaderText(std::string_view text, const MailCharset& charset) {
  if (IsPrintableAscii(text)) return std::string(text);
  const std::string utf8 = BytesAsUtf8(text);
  if (auto words = EncodeWords(utf8, charset)) return *words;
  return *EncodeWords(utf8, MailCharset{"UTF-8", charset.base64});
}

std::string FormatAddress(const MailAddress& address, const MailCharset& charset) {
  if (address.name.empty()) return address.address;
  std::string name;
  if (IsPrintableAscii(address.name)) {
    name = "\"";
    for (const char c : address.name) {
      if (c == '"' || c == '\\') name += '\\';
      name += c;
    }
    name += '"';
  } else {
    name = EncodeHeaderText(address.name, charset);
  }
  return name + " <" + address.address + ">";
}

std::string MailDate(std::time_t when) {
  static constexpr const char* kDays[] = {"Sun", "Mon", "Tue", "Wed", "Thu", "Fri", "Sat"};
  static constexpr const char* kMonths[] = {"Jan", "Feb", "Mar", "Apr", "May", "Jun",
                                            "Jul", "Aug", "Sep", "Oct", "Nov", "Dec"};
  const LocalTime local = ToLocalTime(when);
  const long offsetMinutes = local.utcOffsetSeconds / 60;
  const long magnitude = offsetMinutes < 0 ? -offsetMinutes : offsetMinutes;
  char text[64];
  std::snprintf(text, sizeof text, "%s, %d %s %d %02d:%02d:%02d %c%02ld%02ld",
                kDays[local.fields.tm_wday % 7], local.fields.tm_mday,
                kMonths[local.fields.tm_mon % 12], local.fields.tm_year + 1900,
                local.fields.tm_hour, local.fields.tm_min, local.fields.tm_sec,
                offsetMinutes < 0 ? '-' : '+', magnitude / 60, magnitude % 60);
  return text;
}

std::vector<std::string> SplitBodyLines(std::string_view body) {
  std::vector<std::string> lines;
  std::size_t start = 0;
  for (std::size_t i = 0; i < body.size(); ++i) {
    if (body[i] != '\r' && body[i] != '\n') continue;
    lines.emplace_back(body.substr(start, i - start));
    if (body[i] == '\r' && i + 1 < body.size() && body[i + 1] == '\n') ++i;
    start = i + 1;
  }
  if (start < body.size()) lines.emplace_back(body.substr(start));
  return lines;
}

HeaderList MessageHeaders(const MailMessage& message, std::time_t date,
                          const MailCharset& charset) {
  HeaderList headers;
  headers.Set("From", FormatAddress(message.from, charset));
  headers.Set("Subject", EncodeHeaderText(message.subject, charset));
  std::string to;
  for (const MailAddress& address : message.to) {
    if (!to.empty()) to += ", ";
    to += FormatAddress(address, charset);
  }
  headers.Set("To", to);
  headers.Set("Date", MailDate(date));
  headers.Set("X-Priority", "3");
  headers.Set("X-Library", kMailLibraryName);
  headers.Set("X-Mailer", EncodeHeaderText(message.mailer, charset));
  return headers;
}

std::string MessageData(const MailMessage& message, std::time_t date, const MailCharset& charset) {
  std::string data = MessageHeaders(message, date, charset).Text() + "\r\n";
  // A Japanese system sends the body in ISO-2022-JP; elsewhere the bytes go as they are.
  const bool japanese = charset.name == "ISO-2022-JP";
  for (std::string line : SplitBodyLines(message.body)) {
    if (japanese) {
      if (auto converted = ConvertFromUtf8(BytesAsUtf8(line), charset.name)) line = *converted;
    }
    if (!line.empty() && line.front() == '.') data += '.';
    data += line + "\r\n";
  }
  return data;
}

}  // namespace dv
