#include <gtest/gtest.h>

#include "mail/SmtpReply.h"

namespace dv {
namespace {

TEST(SmtpReply, SingleLineWithAndWithoutCr) {
  for (const std::string line : {"220 ready\r\n", "220 ready\n"}) {
    const ReplyParse parse = ParseReply(line + "250 next\r\n");
    ASSERT_EQ(parse.state, ReplyState::Complete);
    EXPECT_EQ(parse.reply.code, 220);
    EXPECT_EQ(parse.reply.Text(), "ready");
    EXPECT_EQ(parse.consumed, line.size());
  }
}

TEST(SmtpReply, ThreeLineReplyIsOne) {
  const ReplyParse parse = ParseReply("250-host\r\n250-AUTH LOGIN\r\n250 SIZE 100\r\n");
  ASSERT_EQ(parse.state, ReplyState::Complete);
  EXPECT_EQ(parse.reply.code, 250);
  ASSERT_EQ(parse.reply.lines.size(), 3u);
  EXPECT_EQ(parse.reply.LineText(1), "AUTH LOGIN");
}

TEST(SmtpReply, ContinuationEndsOnOwnCodeOrShortLine) {
  // A line with another code and a space does not end the reply; a short line does.
  ReplyParse parse = ParseReply("250-a\r\n251 b\r\n250 c\r\n");
  ASSERT_EQ(parse.state, ReplyState::Complete);
  EXPECT_EQ(parse.reply.lines.size(), 3u);
  parse = ParseReply("250-a\r\nok\r\n250 c\r\n");
  ASSERT_EQ(parse.state, ReplyState::Complete);
  EXPECT_EQ(parse.reply.lines.size(), 2u);
  // The code comparison ignores case, which matters only for codes that are not digits.
  parse = ParseReply("abc-x\nABC y\n");
  ASSERT_EQ(parse.state, ReplyState::Complete);
  EXPECT_EQ(parse.reply.lines.size(), 2u);
  EXPECT_EQ(parse.reply.code, -1);
}

TEST(SmtpReply, IncompleteUntilTheLastLineEnds) {
  EXPECT_EQ(ParseReply("").state, ReplyState::Incomplete);
  EXPECT_EQ(ParseReply("220 rea").state, ReplyState::Incomplete);
  EXPECT_EQ(ParseReply("250-a\r\n250 b").state, ReplyState::Incomplete);
  EXPECT_EQ(ParseReply("220 a\r").state, ReplyState::Incomplete);
}

TEST(SmtpReply, LineLengthLimit) {
  const std::string longest = "250 " + std::string(kMaxReplyLineLength - 4, 'x');
  EXPECT_EQ(ParseReply(longest + "\r\n").state, ReplyState::Complete);
  EXPECT_EQ(ParseReply(longest + "\r").state, ReplyState::Incomplete);
  EXPECT_EQ(ParseReply(longest + "y\r\n").state, ReplyState::LineTooLong);
  // Known to be too long before its end arrives, so a reader does not wait for more.
  EXPECT_EQ(ParseReply(longest + "yy").state, ReplyState::LineTooLong);
  EXPECT_EQ(ParseReply("250-a\r\n" + longest + "y").state, ReplyState::LineTooLong);
}

TEST(SmtpReply, ByteByByteReadsTheSameReplies) {
  // Two replies back to back, delivered one byte at a time: the same lines as read at once, and
  // the second reply starts where the first ended.
  for (const std::string bytes : {"220 a\r\n250 b\r\n", "250-a\r\n250-b\n250 c\r\n221 bye\n",
                                  "250-a\r\nok\r\n250 rest\r\n"}) {
    const ReplyParse first = ParseReply(bytes);
    const ReplyParse second = ParseReply(std::string_view(bytes).substr(first.consumed));
    ReplyReader reader;
    std::vector<ReplyParse> read;
    for (const char c : bytes) {
      reader.Append(std::string_view(&c, 1));
      ReplyParse parse = reader.Next();
      if (parse.state == ReplyState::Complete) read.push_back(std::move(parse));
    }
    ASSERT_EQ(read.size(), 2u) << bytes;
    EXPECT_EQ(read[0].reply.lines, first.reply.lines);
    EXPECT_EQ(read[0].consumed, first.consumed);
    EXPECT_EQ(read[1].reply.lines, second.reply.lines);
    EXPECT_EQ(read[1].reply.code, second.reply.code);
    EXPECT_EQ(reader.Size(), 0u);
  }
}

}  // namespace
}  // namespace dv
