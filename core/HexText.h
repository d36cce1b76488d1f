// Hex text to bytes, the one reader for every hex dump the program or its tests take in
// (simulated-drive sectors, recorded fixtures, fuzz seeds): two digits a byte, either case,
// nothing between them.
#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <string_view>
#include <vector>

namespace dv {

// The value of one hex digit, or -1 when `c` is none.
int HexDigitValue(char c);

// The bytes `hex` spells. Nothing for an odd length or a character that is no hex digit; then
// `badPosition`, when given, is set to the first such character (the length for an odd length).
std::optional<std::vector<uint8_t>> BytesFromHex(std::string_view hex,
                                                 size_t* badPosition = nullptr);

}  // namespace dv
