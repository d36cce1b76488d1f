// Reading SMTP replies out of the bytes received so far: pure, so the client and the fuzzer share
// it.
#pragma once

#include <cstddef>
#include <string>
#include <string_view>
#include <vector>

namespace dv {

// The longest reply line accepted, without its line end.
inline constexpr std::size_t kMaxReplyLineLength = 16384;

struct SmtpReply {
  int code = 0;  // the number in the first line's first three characters; -1 if none
  std::vector<std::string> lines;  // each line as received, without its line end
  // The text after "250-" / "250 " of every line, joined with "\n".
  std::string Text() const;
  // The text part of line i (after the first four characters).
  std::string_view LineText(std::size_t i) const;
};

enum class ReplyState {
  Incomplete,   // more bytes are needed
  Complete,     // `reply` and `consumed` are set
  LineTooLong,  // a line is longer than kMaxReplyLineLength
};

struct ReplyParse {
  ReplyState state = ReplyState::Incomplete;
  SmtpReply reply;
  std::size_t consumed = 0;  // bytes of the buffer the reply took, line ends included
};

// One reply from the start of `buffer`. A line ends at LF; a CR right before the LF is dropped.
// When the first line is longer than three characters and its fourth is '-', lines are read until
// one that begins with the same three characters and a space (case-insensitively), or one that is
// shorter than four characters.
ReplyParse ParseReply(std::string_view buffer);

}  // namespace dv
