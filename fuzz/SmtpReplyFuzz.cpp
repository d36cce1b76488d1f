// Any bytes as what an SMTP server sends back.
#include <cstddef>
#include <cstdint>
#include <string_view>

#include "fuzz/FuzzCheck.h"
#include "mail/SmtpReply.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  const std::string_view bytes(reinterpret_cast<const char*>(data), size);
  const dv::ReplyParse parse = dv::ParseReply(bytes);
  if (parse.state != dv::ReplyState::Complete) return 0;
  DV_FUZZ_CHECK(parse.consumed > 0 && parse.consumed <= size);
  DV_FUZZ_CHECK(bytes[parse.consumed - 1] == '\n');
  DV_FUZZ_CHECK(!parse.reply.lines.empty());
  DV_FUZZ_CHECK(parse.reply.code >= -1 && parse.reply.code <= 999);
  for (const std::string& line : parse.reply.lines) {
    DV_FUZZ_CHECK(line.size() <= dv::kMaxReplyLineLength);
    DV_FUZZ_CHECK(line.find('\n') == std::string::npos);
  }
  (void)parse.reply.Text();
  // The reply depends only on the bytes it took: what follows cannot change it.
  const dv::ReplyParse alone = dv::ParseReply(bytes.substr(0, parse.consumed));
  DV_FUZZ_CHECK(alone.state == dv::ReplyState::Complete);
  DV_FUZZ_CHECK(alone.consumed == parse.consumed);
  DV_FUZZ_CHECK(alone.reply.lines == parse.reply.lines);
  // Bytes that arrive in two pieces give the same reply as all at once.
  dv::ReplyReader reader;
  const std::size_t cut = static_cast<unsigned char>(bytes[0]) % (parse.consumed + 1);
  reader.Append(bytes.substr(0, cut));
  const dv::ReplyParse early = reader.Next();
  if (early.state == dv::ReplyState::Complete) {
    DV_FUZZ_CHECK(early.consumed == parse.consumed && early.reply.lines == parse.reply.lines);
    return 0;
  }
  DV_FUZZ_CHECK(early.state == dv::ReplyState::Incomplete);
  reader.Append(bytes.substr(cut));
  const dv::ReplyParse split = reader.Next();
  DV_FUZZ_CHECK(split.state == dv::ReplyState::Complete);
  DV_FUZZ_CHECK(split.consumed == parse.consumed && split.reply.lines == parse.reply.lines);
  return 0;
}
