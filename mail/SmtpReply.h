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

// Replies read out of bytes as they arrive: each byte is looked at once, however thinly the server
// spreads a reply over its packets.
class ReplyReader {
 public:
  // Adds bytes received after those given before.
  void Append(std::string_view bytes);
  // The next reply once its last line has ended (its bytes are then gone from the reader), or how
  // far it got. After LineTooLong the reader is of no further use.
  ReplyParse Next();
  // Forgets every byte and the reply under way.
  void Clear();
  // The bytes held: those of the reply under way and any after it.
  std::size_t Size() const { return taken_ + buffer_.size() - start_; }

 private:
  std::string buffer_;        // bytes not yet part of a finished line, from start_ on
  std::size_t start_ = 0;     // where the line under way begins in buffer_
  std::size_t searched_ = 0;  // how far buffer_ was searched for the line end, from start_
  std::size_t taken_ = 0;     // bytes of the finished lines of the reply under way
  SmtpReply reply_;           // the finished lines of the reply under way
};

// One reply from the start of `buffer`. A line ends at LF; a CR right before the LF is dropped.
// When the first line is longer than three characters and its fourth is '-', lines are read until
// one that begins with the same three characters and a space (case-insensitively), or one that is
// shorter than four characters.
ReplyParse ParseReply(std::string_view buffer);

}  // namespace dv
