// Little-endian reads and writes on byte spans; every on-disk and on-wire structure is decoded
// through these, never by casting packed structs. Reads past the end yield 0.
#pragma once

#include <cstddef>
#include <cstdint>
#include <span>

namespace dv {

inline uint8_t Byte(std::span<const uint8_t> b, size_t at) { return at < b.size() ? b[at] : 0; }

inline uint16_t Le16(std::span<const uint8_t> b, size_t at) {
  return static_cast<uint16_t>(Byte(b, at) | (Byte(b, at + 1) << 8));
}

inline uint32_t Le32(std::span<const uint8_t> b, size_t at) {
  return static_cast<uint32_t>(Le16(b, at)) | (static_cast<uint32_t>(Le16(b, at + 2)) << 16);
}

inline uint64_t Le64(std::span<const uint8_t> b, size_t at) {
  return static_cast<uint64_t>(Le32(b, at)) | (static_cast<uint64_t>(Le32(b, at + 4)) << 32);
}

// A little-endian number of `count` bytes (up to 8), lowest byte first.
inline uint64_t LeN(std::span<const uint8_t> b, size_t at, size_t count) {
  uint64_t v = 0;
  for (size_t i = count; i-- > 0;) v = (v << 8) | Byte(b, at + i);
  return v;
}

// Word n of an ATA sector (words are little-endian 16-bit values at bytes 2n, 2n+1).
inline uint16_t Word(std::span<const uint8_t> sector, size_t n) { return Le16(sector, 2 * n); }

inline void PutLe16(std::span<uint8_t> b, size_t at, uint16_t v) {
  if (at + 2 > b.size()) return;
  b[at] = static_cast<uint8_t>(v);
  b[at + 1] = static_cast<uint8_t>(v >> 8);
}

inline void PutLe32(std::span<uint8_t> b, size_t at, uint32_t v) {
  PutLe16(b, at, static_cast<uint16_t>(v));
  PutLe16(b, at + 2, static_cast<uint16_t>(v >> 16));
}

}  // namespace dv
