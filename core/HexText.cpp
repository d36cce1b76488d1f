#include "core/HexText.h"

namespace dv {

int HexDigitValue(char c) {
  if (c >= '0' && c <= '9') return c - '0';
  if (c >= 'a' && c <= 'f') return c - 'a' + 10;
  if (c >= 'A' && c <= 'F') return c - 'A' + 10;
  return -1;
}

std::optional<std::vector<uint8_t>> BytesFromHex(std::string_view hex, size_t* badPosition) {
  std::vector<uint8_t> bytes;
  bytes.reserve(hex.size() / 2);
  for (size_t i = 0; i < hex.size(); i += 2) {
    const int high = HexDigitValue(hex[i]);
    const int low = i + 1 < hex.size() ? HexDigitValue(hex[i + 1]) : -1;
    if (high < 0 || low < 0) {
      if (badPosition != nullptr) *badPosition = high < 0 ? i : i + 1;
      return std::nullopt;
    }
    bytes.push_back(static_cast<uint8_t>(high * 16 + low));
  }
  return bytes;
}

}  // namespace dv
