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

// One list entry, already cut at its top-level comma: phrase, address and comment apart.
MailAddress ParseEntry(std::string_view entry) {
  std::string outside;  // text outside angle brackets and comments, quotes removed
  std::string inside;   // text between the angle brackets
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
    if (inQuote) {
      if (c == '\\' && i + 1 < entry.size()) {
        (inAngle ? inside : outside) += entry[++i];
      } else if (c == '"') {
        inQuote = false;
      } else {
        (inAngle ? inside : outside) += c;
      }
      continue;
    }
    if (c == '"') {
      inQuote = true;
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
    }
  }

  // Control characters (line breaks above all) have no place in an address that goes into
  // commands and headers.
  std::erase_if(inside, IsControl);
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
    // A bare address: no blanks belong in it.
    for (char c : outside) {
      if (!IsBlank(c)) result.address += c;
    }
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

}  // namespace dv
