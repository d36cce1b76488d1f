// The IDENTIFY DEVICE sector (`IDENTIFYData`): 256 little-endian words as the drive returns them.
// Pure decoding, total for any input: a short or odd sector reads as zeros past its end.
#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <span>
#include <string>
#include <string_view>

#include "core/AtaLayout.h"

namespace dv {

// One maker recognised from the beginning of the model number.
struct VendorPrefix {
  std::string_view prefix;  // compared with the upper-cased start of the trimmed model
  char code;                // `VendorCode`
  int logoIndex;            // picture index of the maker's logo
};

// The maker table, in the order the prefixes are tried.
std::span<const VendorPrefix> VendorPrefixes();
// The `VendorCode` for a trimmed model number, or 0 when no prefix matches.
char VendorCodeForModel(std::string_view model);
// The logo index for a `VendorCode`, or nullopt for 0 and unknown letters.
std::optional<int> LogoIndexForVendorCode(char code);

// Words first..last as text: per word the high byte, then the low byte, with no conversion and no
// stop at a zero byte. Untrimmed.
std::string DecodeATAString(std::span<const uint8_t> identify, size_t firstWord, size_t lastWord);
// Removes characters with codes 0..32 from both ends; those inside stay.
std::string TrimATAString(std::string_view text);

// Word 86 bit 10: 48-bit addressing enabled.
bool IdentifyLBA48(std::span<const uint8_t> identify);
// Words 100-103 when LBA48 is on, else words 60-61.
uint64_t UserSectors(std::span<const uint8_t> identify);
// Sectors / 2 / 1024 / 1024 (units of 2^30 bytes), rounded to nearest, halfway to even.
// Saturates at the largest 32-bit value for a nonsensical sector count.
uint32_t CapacityGB(uint64_t userSectors);
// The Host Protected Area size in units of 2^20 bytes from the native maximum address (rounded
// like CapacityGB), or -1 when the address lies below the last user sector and so cannot be right.
int64_t HPASizeMB(uint64_t nativeMaxAddress, uint64_t userSectors);

// Everything the identification takes from the sector.
struct IdentifyInfo {
  std::string SerialNumber;      // trimmed words 10-19
  std::string FirmwareRevision;  // trimmed words 23-26
  std::string ModelText;         // words 27-46, untrimmed
  std::string ModelNumber;       // trimmed words 27-46
  char VendorCode = 0;
  bool LBA48 = false;            // word 86 bit 10
  bool SMARTEnabled = false;     // word 85 bit 0
  bool SecurityEnabled = false;  // word 85 bit 1
  bool HPAEnabled = false;       // word 85 bit 10
  uint64_t UserSectors = 0;
  uint32_t CapacityGB = 0;
};

IdentifyInfo DecodeIdentify(std::span<const uint8_t> identify);

}  // namespace dv
