// Any text as the sender or recipient setting, through to the header it becomes.
#include <cstddef>
#include <cstdint>
#include <string_view>

#include "fuzz/FuzzCheck.h"
#include "mail/AddressList.h"
#include "mail/MailMessage.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  const std::string_view text(reinterpret_cast<const char*>(data), size);
  const auto list = dv::ParseAddressList(text);
  DV_FUZZ_CHECK(list.size() <= size);
  static const dv::MailCharset kCharsets[] = {{"ISO-8859-1", false}, {"ISO-2022-JP", true}};
  for (const dv::MailAddress& address : list) {
    DV_FUZZ_CHECK(!address.address.empty());
    // What the sender refuses never reaches a command or a header.
    if (!dv::AddressFault(address.address).empty()) continue;
    DV_FUZZ_CHECK(address.address.find_first_of("\r\n") == std::string::npos);
    for (const dv::MailCharset& charset : kCharsets) {
      // Whatever was typed, no line break may reach a command or a header.
      const std::string formatted = dv::FormatAddress(address, charset);
      DV_FUZZ_CHECK(formatted.find_first_of("\r\n") == std::string::npos);
      const std::string folded = dv::FoldHeaderLine("To: " + formatted);
      for (size_t at = folded.find("\r\n"); at != std::string::npos;
           at = folded.find("\r\n", at + 2)) {
        DV_FUZZ_CHECK(at + 2 < folded.size() && folded[at + 2] == ' ');
      }
    }
  }
  return 0;
}
