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

void ReplyReader::Append(std::string_view bytes) {
  // Finished lines are dropped here, once per delivery, not once per line.
  buffer_.erase(0, start_);
  start_ = 0;
  buffer_.append(bytes);
}

void ReplyReader::Clear() { *this = ReplyReader(); }

ReplyParse ReplyReader::Next() {
  while (true) {
    const std::string_view rest = std::string_view(buffer_).substr(start_);
    const std::size_t end = rest.find('\n', searched_);
    if (end == std::string_view::npos) {
      searched_ = rest.size();
      // A CR may still be waiting for its LF, so one more byte is allowed before giving up.
      if (rest.size() > kMaxReplyLineLength + 1 ||
          (rest.size() == kMaxReplyLineLength + 1 && rest.back() != '\r')) {
        return ReplyParseOf(ReplyState::LineTooLong);
      }
      return ReplyParseOf(ReplyState::Incomplete);
    }
    std::string_view line = rest.substr(0, end);
    if (!line.empty() && line.back() == '\r') line.remove_suffix(1);
    if (line.size() > kMaxReplyLineLength) return ReplyParseOf(ReplyState::LineTooLong);
    start_ += end + 1;
    taken_ += end + 1;
    searched_ = 0;
    reply_.lines.emplace_back(line);

    const std::string_view first = reply_.lines.front();
    const bool multiLine = first.size() > 3 && first[3] == '-';
    const bool last =
        reply_.lines.size() == 1 ? !multiLine : line.size() < 4 || SameCodePrefix(line, first);
    if (last) break;
  }
  ReplyParse parse;
  parse.state = ReplyState::Complete;
  parse.reply = std::move(reply_);
  parse.reply.code = CodeOf(parse.reply.lines.front());
  parse.consumed = taken_;
  reply_ = {};
  taken_ = 0;
  return parse;
}

ReplyParse ParseReply(std::string_view buffer) {
  ReplyReader reader;
  reader.Append(buffer);
  return reader.Next();
}

}  // namespace dv
