// The mail as it goes after DATA: the header list, encoded words, the date line, and the body with
// CR LF line ends and dot-stuffing.
#pragma once

#include <ctime>
#include <string>
#include <string_view>
#include <vector>

#include "mail/AddressList.h"

namespace dv {

inline constexpr std::size_t kHeaderFoldWidth = 78;
inline constexpr const char* kMailLibraryName = "Diskvigil SMTP 1.0";
inline constexpr const char* kMailAgentName = "Diskvigil";

// Header lines "Name: value" in the order they were first set. Names are compared without regard
// to ASCII case.
class HeaderList {
 public:
  // Replaces an existing header in place, appends a new one, or removes it when `value` is empty.
  void Set(std::string_view name, std::string_view value);
  // The value, or empty when there is no such header.
  std::string Get(std::string_view name) const;
  std::size_t Size() const { return headers_.size(); }
  // Every header as one or more lines, each ending in CR LF. A line longer than kHeaderFoldWidth is
  // folded at spaces (the continuation begins with the space); trailing blanks go from every line.
  std::string Text() const;

 private:
  std::vector<std::pair<std::string, std::string>> headers_;
};

// Folds one header line as HeaderList::Text does, without the final CR LF.
std::string FoldHeaderLine(std::string_view line, std::size_t width = kHeaderFoldWidth);

// How header text outside US-ASCII is written.
struct MailCharset {
  std::string name;     // the charset named in the encoded word
  bool base64 = false;  // "B" encoding; otherwise "Q"
};

// The charset for a language setting such as "ja_JP.UTF-8": zh_CN → GB2312, other zh → Big5,
// ja → ISO-2022-JP, ko → EUC-KR (all B), anything else ISO-8859-1 (Q).
MailCharset CharsetForLanguage(std::string_view language);
// The system language: LC_ALL, else LC_MESSAGES, else LANG (the first that is set and not empty).
MailCharset SystemMailCharset();

// `text` unchanged when it is printable ASCII; otherwise as encoded words of at most 75 characters
// each, separated by spaces. The text is read as UTF-8, a byte that is not part of a UTF-8 sequence
// as Latin-1 (so 0xB0 is the degree sign). Text that cannot be converted to the charset is encoded
// as UTF-8 instead, so nothing is lost.
std::string EncodeHeaderText(std::string_view text, const MailCharset& charset);

// "addr", "\"Name\" <addr>" (backslash before '"' and '\'), or "=?...?= <addr>" for a name outside
// printable ASCII.
std::string FormatAddress(const MailAddress& address, const MailCharset& charset);

// RFC 822 date of `when` in local time, e.g. "Mon, 7 Dec 2026 12:05:09 +0100" (the offset includes
// daylight saving).
std::string MailDate(std::time_t when);

// Base64 (RFC 2045 alphabet, padded, no line breaks).
std::string EncodeBase64(std::string_view bytes);

// The body text split into lines: at CR LF, LF or CR; a final line break starts no further line.
std::vector<std::string> SplitBodyLines(std::string_view body);

struct MailMessage {
  MailAddress from;
  std::vector<MailAddress> to;
  std::string subject;
  std::string body;  // bytes as they are to be sent, any line ends
  std::string mailer = kMailAgentName;
};

// The headers in the program's order (From, Subject, To, Date, X-Priority, X-Library, X-Mailer;
// empty ones left out).
HeaderList MessageHeaders(const MailMessage& message, std::time_t date, const MailCharset& charset);

// Everything sent between DATA's 354 and the final ".": the headers, an empty line and the body
// lines, each ending in CR LF, lines beginning with "." given one more. With ISO-2022-JP (a
// Japanese system) each body line is converted to it, reading UTF-8 sequences as such and any other
// byte as Latin-1; a line that cannot be converted goes unchanged.
std::string MessageData(const MailMessage& message, std::time_t date, const MailCharset& charset);

}  // namespace dv
