#include "core/Identify.h"

#include <array>
#include <limits>

#include "core/LittleEndian.h"

namespace dv {
namespace {

constexpr uint64_t kSectorsPerGB = 2ull * 1024 * 1024;  // 512-byte sectors in 2^30 bytes
constexpr uint64_t kSectorsPerMB = 2ull * 1024;         // 512-byte sectors in 2^20 bytes

constexpr std::array<VendorPrefix, 9> kVendorPrefixes{{
    {"ST", 'S', 0},
    {"WD", 'W', 1},
    {"SAMSUNG", 'M', 2},
    {"HITACHI", 'H', 3},
    {"MAXTOR", 'A', 4},
    {"FUJITSU", 'F', 5},
    {"IBM", 'I', 6},
    {"TOSHIBA", 'T', 7},
    {"QUANTUM", 'Q', 8},
}};

char AsciiUpper(char c) { return (c >= 'a' && c <= 'z') ? static_cast<char>(c - 'a' + 'A') : c; }

bool StartsWithIgnoringCase(std::string_view text, std::string_view upperPrefix) {
  if (text.size() < upperPrefix.size()) return false;
  for (size_t i = 0; i < upperPrefix.size(); ++i) {
    if (AsciiUpper(text[i]) != upperPrefix[i]) return false;
  }
  return true;
}

bool IsTrimmed(char c) { return static_cast<unsigned char>(c) <= 32; }

// n / d to the nearest whole number, an exact half going to the even neighbour. Done in integers
// so that no sector count, however large, suffers from floating-point rounding.
uint64_t DivideRoundHalfEven(uint64_t n, uint64_t d) {
  uint64_t quotient = n / d;
  const uint64_t twiceRemainder = 2 * (n % d);  // d is small, so this cannot overflow
  if (twiceRemainder > d || (twiceRemainder == d && (quotient & 1) != 0)) ++quotient;
  return quotient;
}

}  // namespace

std::span<const VendorPrefix> VendorPrefixes() { return kVendorPrefixes; }

char VendorCodeForModel(std::string_view model) {
  for (const auto& vendor : kVendorPrefixes) {
    if (StartsWithIgnoringCase(model, vendor.prefix)) return vendor.code;
  }
  return 0;
}

std::optional<int> LogoIndexForVendorCode(char code) {
  for (const auto& vendor : kVendorPrefixes) {
    if (code != 0 && vendor.code == code) return vendor.logoIndex;
  }
  return std::nullopt;
}

std::string DecodeATAString(std::span<const uint8_t> identify, size_t firstWord, size_t lastWord) {
  std::string text;
  for (size_t word = firstWord; word <= lastWord; ++word) {
    const uint16_t value = Word(identify, word);
    text.push_back(static_cast<char>(value >> 8));
    text.push_back(static_cast<char>(value & 0xFF));
  }
  return text;
}

std::string TrimATAString(std::string_view text) {
  size_t begin = 0;
  size_t end = text.size();
  while (begin < end && IsTrimmed(text[begin])) ++begin;
  while (end > begin && IsTrimmed(text[end - 1])) --end;
  return std::string(text.substr(begin, end - begin));
}

bool IdentifyLBA48(std::span<const uint8_t> identify) {
  return (Word(identify, kIdWordFeaturesEnabled2) & kIdBitLba48) != 0;
}

uint64_t UserSectors(std::span<const uint8_t> identify) {
  if (IdentifyLBA48(identify)) return Le64(identify, 2 * kIdWordSectors48);
  return Le32(identify, 2 * kIdWordSectors28);
}

uint32_t CapacityGB(uint64_t userSectors) {
  const uint64_t gb = DivideRoundHalfEven(userSectors, kSectorsPerGB);
  constexpr uint64_t kMax = std::numeric_limits<uint32_t>::max();
  return static_cast<uint32_t>(gb > kMax ? kMax : gb);
}

int64_t HPASizeMB(uint64_t nativeMaxAddress, uint64_t userSectors) {
  // Hidden sectors = native max address - user sectors + 1; a drive whose native maximum lies
  // below its own last user sector has answered nonsense, and a negative size would read as a
  // real figure (or as "not determined" when it happened to be -1). No user sectors at all is
  // nonsense of the same kind.
  if (userSectors == 0 || nativeMaxAddress < userSectors - 1) return -1;
  const uint64_t hidden = nativeMaxAddress - (userSectors - 1);
  return static_cast<int64_t>(DivideRoundHalfEven(hidden, kSectorsPerMB));
}

IdentifyInfo DecodeIdentify(std::span<const uint8_t> identify) {
  IdentifyInfo info;
  info.SerialNumber =
      TrimATAString(DecodeATAString(identify, kIdWordSerialFirst, kIdWordSerialLast));
  info.FirmwareRevision =
      TrimATAString(DecodeATAString(identify, kIdWordFirmwareFirst, kIdWordFirmwareLast));
  info.ModelText = DecodeATAString(identify, kIdWordModelFirst, kIdWordModelLast);
  info.ModelNumber = TrimATAString(info.ModelText);
  info.VendorCode = VendorCodeForModel(info.ModelNumber);

  const uint16_t enabled = Word(identify, kIdWordFeaturesEnabled);
  info.SMARTEnabled = (enabled & kIdBitSmart) != 0;
  info.SecurityEnabled = (enabled & kIdBitSecurity) != 0;
  info.HPAEnabled = (enabled & kIdBitHpa) != 0;
  info.LBA48 = IdentifyLBA48(identify);

  info.UserSectors = UserSectors(identify);
  info.CapacityGB = CapacityGB(info.UserSectors);
  return info;
}

}  // namespace dv
