#include "mail/SmtpReply.h"

#include <cctype>

namespace dv {
namespace {

bool SameCodePrefix(std::string_view line, std::string_view first) {
  if (line.size() < 4 || line[3] != ' ') return false;
  for (std::size_t i = 0; i < 3; ++i) {
    if (std::tolower(static_cast<unsigned char>(line[i])) !=
        std::tolower(static_cast<unsigned char>(first[i]))) {
      return false;
    }
  }
  return true;
}

int CodeOf(std::string_view line) {
  if (line.size() < 3) return -1;
  int code = 0;
  for (std::size_t i = 0; i < 3; ++i) {
    const char c = line[i];
    if (c < '0' || c > '9') return -1;
    code = code * 10 + (c - '0');
  }
  return code;
}

ReplyParse ReplyParseOf(ReplyState state) {
  ReplyParse parse;
  parse.state = state;
  return parse;
}

}  // namespace

std::string_view SmtpReply::LineText(std::size_t i) const {
  const std::string& line = lines.at(i);
  return line.size() > 4 ? std::string_view(line).substr(4) : std::string_view();
}

std::string SmtpReply::Text() const {
  std::string text;
  for (std::size_t i = 0; i < lines.size(); ++i) {
    if (i > 0) text += '\n';
    text += LineText(i);
  }
  return text;
}

ReplyParse ParseReply(std::string_view buffer) {
  ReplyParse parse;
  std::size_t offset = 0;
  while (true) {
    const std::size_t end = buffer.find('\n', offset);
    if (end == std::string_view::npos) {
      // A CR may still be waiting for its LF, so one more byte is allowed before giving up.
      if (buffer.size() - offset > kMaxReplyLineLength + 1 ||
          (buffer.size() - offset == kMaxReplyLineLength + 1 && buffer.back() != '\r')) {
        return ReplyParseOf(ReplyState::LineTooLong);
      }
      return ReplyParseOf(ReplyState::Incomplete);
    }
    std::string_view line = buffer.substr(offset, end - offset);
    if (!line.empty() && line.back() == '\r') line.remove_suffix(1);
    if (line.size() > kMaxReplyLineLength) return ReplyParseOf(ReplyState::LineTooLong);
    offset = end + 1;
    parse.reply.lines.emplace_back(line);

    const std::string_view first = parse.reply.lines.front();
    const bool multiLine = first.size() > 3 && first[3] == '-';
    const bool last =
        parse.reply.lines.size() == 1 ? !multiLine : line.size() < 4 || SameCodePrefix(line, first);
    if (last) break;
  }
  parse.reply.code = CodeOf(parse.reply.lines.front());
  parse.state = ReplyState::Complete;
  parse.consumed = offset;
  return parse;
}

}  // namespace dv
