#include "mail/AddressList.h"

#include <cstddef>
#include <string>

namespace dv {
namespace {

bool IsBlank(char c) { return c == ' ' || c == '\t' || c == '\r' || c == '\n'; }

bool IsControl(char c) {
  const auto byte = static_cast<unsigned char>(c);
  return byte < 0x20 || byte == 0x7F;
}

std::string Trim(std::string_view text) {
  std::size_t begin = 0;
  std::size_t end = text.size();
  while (begin < end && IsBlank(text[begin])) ++begin;
  while (end > begin && IsBlank(text[end - 1])) --end;
  return std::string(text.substr(begin, end - begin));
}

// Appends `c` to `out`, folding runs of blanks into one space.
void AppendFolded(std::string& out, char c) {
  if (IsBlank(c)) {
    if (!out.empty() && out.back() != ' ') out += ' ';
  } else {
    out += c;
  }
}

// One list entry, already cut at its top-level comma: phrase, address and comment apart. The
// address keeps its quotes and quoted pairs as typed ("john doe"@x is not johndoe@x); blanks
// outside quotes are folding white space and go.
MailAddress ParseEntry(std::string_view entry) {
  std::string outside;  // text outside angle brackets and comments, quotes removed
  std::string bare;     // the same text as an address: quotes kept, no blanks or comments
  std::string inside;   // text between the angle brackets, quotes kept
  std::string comment;  // the first comment's text
  bool sawAngle = false;
  bool sawComment = false;
  int commentDepth = 0;
  bool inQuote = false;
  bool inAngle = false;
  bool closedAngle = false;

  for (std::size_t i = 0; i < entry.size(); ++i) {
    const char c = entry[i];
    if (commentDepth > 0) {
      if (c == '\\' && i + 1 < entry.size()) {
        if (!sawComment)
          comment += entry[++i];
        else
          ++i;
      } else if (c == '(') {
        ++commentDepth;
        if (!sawComment) comment += c;
      } else if (c == ')') {
        if (--commentDepth == 0) {
          sawComment = true;
          if (!outside.empty()) AppendFolded(outside, ' ');
        } else if (!sawComment) {
          comment += c;
        }
      } else if (!sawComment) {
        AppendFolded(comment, c);
      }
      continue;
    }
    std::string& address = inAngle ? inside : bare;
    const bool toAddress = inAngle || !closedAngle;
    if (inQuote) {
      if (c == '\\' && i + 1 < entry.size()) {
        if (toAddress) address += entry.substr(i, 2);
        if (!inAngle) outside += entry[i + 1];
        ++i;
      } else {
        if (toAddress) address += c;
        if (c == '"') {
          inQuote = false;
        } else if (!inAngle) {
          outside += c;
        }
      }
      continue;
    }
    if (c == '"') {
      inQuote = true;
      if (toAddress) address += c;
    } else if (c == '(') {
      commentDepth = 1;
    } else if (c == '<' && !inAngle && !closedAngle) {
      inAngle = true;
      sawAngle = true;
    } else if (c == '>' && inAngle) {
      inAngle = false;
      closedAngle = true;
    } else if (inAngle) {
      if (!IsBlank(c)) inside += c;
    } else if (!closedAngle) {
      AppendFolded(outside, c);
      if (!IsBlank(c)) bare += c;
    }
  }

  // Control characters have no place in a display name that goes into a header; in the address
  // they stay, for AddressFault to refuse.
  std::erase_if(outside, [](char c) { return IsControl(c) && !IsBlank(c); });

  MailAddress result;
  if (sawAngle) {
    result.address = inside;
    // A source route ("@relay:user@host") is obsolete; only the mailbox is kept.
    if (!result.address.empty() && result.address.front() == '@') {
      const auto colon = result.address.find(':');
      result.address = colon == std::string::npos ? "" : result.address.substr(colon + 1);
    }
    result.name = Trim(outside);
  } else {
    result.address = bare;
  }
  if (result.name.empty()) result.name = Trim(comment);
  return result;
}

}  // namespace

std::vector<MailAddress> ParseAddressList(std::string_view text) {
  std::vector<MailAddress> list;
  std::size_t start = 0;
  int commentDepth = 0;
  bool inQuote = false;
  bool inAngle = false;

  const auto finishEntry = [&](std::size_t end) {
    std::string_view entry = text.substr(start, end - start);
    start = end + 1;
    MailAddress address = ParseEntry(entry);
    if (!address.address.empty()) list.push_back(std::move(address));
  };

  for (std::size_t i = 0; i < text.size(); ++i) {
    const char c = text[i];
    if (c == '\\' && (inQuote || commentDepth > 0)) {
      ++i;
    } else if (commentDepth > 0) {
      if (c == '(') ++commentDepth;
      if (c == ')') --commentDepth;
    } else if (inQuote) {
      if (c == '"') inQuote = false;
    } else if (c == '"') {
      inQuote = true;
    } else if (c == '(') {
      commentDepth = 1;
    } else if (c == '<') {
      inAngle = true;
    } else if (c == '>') {
      inAngle = false;
    } else if (!inAngle && c == ':') {
      // A group's name: its members follow.
      start = i + 1;
    } else if (!inAngle && (c == ',' || c == ';')) {
      finishEntry(i);
    }
  }
  if (start <= text.size()) finishEntry(text.size());
  return list;
}

std::string AddressFault(std::string_view address) {
  constexpr const char* kControl = "contains a control character";
  bool inQuote = false;
  for (std::size_t i = 0; i < address.size(); ++i) {
    const char c = address[i];
    if (IsControl(c)) return kControl;
    if (inQuote) {
      // A quoted pair: the next character is taken as it is, a quote or backslash included.
      if (c == '\\' && i + 1 < address.size() && IsControl(address[++i])) return kControl;
      if (c == '"') inQuote = false;
    } else if (c == '"') {
      inQuote = true;
    } else if (c == '<' || c == '>') {
      return "has an unquoted '<' or '>'";
    }
  }
  return inQuote ? "has an unclosed quote" : "";
}

}  // namespace dv
