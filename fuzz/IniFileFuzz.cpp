// Any bytes as the settings file: every read of a value goes through the same lookup.
#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

#include "fuzz/FuzzCheck.h"
#include "settings/IniFile.h"

namespace {

void CheckValue(std::string_view text, std::string_view section, std::string_view key) {
  const auto value = dv::FindProfileValue(text, section, key);
  if (!value) return;
  // One line's value, without the blanks around it.
  DV_FUZZ_CHECK(value->find('\n') == std::string::npos);
  DV_FUZZ_CHECK(value->size() < text.size());
  if (!value->empty()) {
    DV_FUZZ_CHECK(value->front() != ' ' && value->front() != '\t');
    DV_FUZZ_CHECK(value->back() != ' ' && value->back() != '\t' && value->back() != '\r');
  }
  DV_FUZZ_CHECK(text.find(*value) != std::string_view::npos);
  (void)dv::ParseProfileInteger(*value);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  const std::string_view text(reinterpret_cast<const char*>(data), size);
  for (const char* key :
       {"Refresh Interval", "S.M.A.R.T. Monitoring", "SMTP Host", "HDD1 Color", ""})
    CheckValue(text, dv::kSettingsSection, key);
  // Keys and sections the file itself names, so the fuzzer reaches the matching paths too.
  const auto equals = text.find('=');
  if (equals != std::string_view::npos) {
    const auto lineStart = text.rfind('\n', equals);
    const auto begin = lineStart == std::string_view::npos ? 0 : lineStart + 1;
    const std::string_view key = text.substr(begin, equals - begin);
    CheckValue(text, dv::kSettingsSection, key);
    CheckValue(text, key, key);
  }
  (void)dv::ParseProfileInteger(text.substr(0, 64));
  return 0;
}
