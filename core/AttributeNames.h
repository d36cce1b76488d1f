// The attributes the program knows, in the order their rows appear. Attributes a drive keeps that
// are not listed here are never shown.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <string_view>

namespace dv {

struct AttributeNameEntry {
  uint8_t id;
  std::string_view name;
};

inline constexpr size_t kAttributeNameCount = 37;

// Some names appear twice, under different IDs (191 and 221, 193 and 225, 194 and 231).
extern const std::array<AttributeNameEntry, kAttributeNameCount> AttributeNameTable;

}  // namespace dv
