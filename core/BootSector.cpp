// The first sector of a FAT or NTFS volume, and the NTFS record that holds the volume's name,
// version and dirty flag. Every read is bounded by the 512 bytes handed in.
#include <string>
#include <string_view>
#include <vector>

#include "core/LittleEndian.h"
#include "core/Mbr.h"

namespace dv {
namespace {

// Boot sector.
constexpr size_t kBootOemName = 0x03;  // 8 bytes
constexpr size_t kBootSectorsPerCluster = 0x0D;
constexpr size_t kBootTotalSectors16 = 0x13;
constexpr size_t kBootTotalSectors32 = 0x20;
constexpr size_t kFat16Serial = 0x27;
constexpr size_t kFat16Label = 0x2B;
constexpr size_t kFat32Serial = 0x43;
constexpr size_t kFat32Label = 0x47;
constexpr size_t kFatLabelLength = 11;
constexpr size_t kNtfsMftCluster = 0x30;
constexpr size_t kNtfsSerial = 0x48;  // 8 bytes

constexpr std::string_view kNtfsOemName = "NTFS    ";

// The MFT's volume record (record 3, two sectors per record).
constexpr uint32_t kVolumeRecordSectorOffset = 6;
constexpr size_t kRecordFirstAttribute = 0x14;
constexpr size_t kAttrLength = 0x04;
constexpr size_t kAttrValueLength = 0x10;
constexpr size_t kAttrValueOffset = 0x14;
constexpr size_t kAttrResidentHeader = 0x16;  // through the value offset
constexpr uint8_t kAttrVolumeName = 0x60;
constexpr uint8_t kAttrVolumeInformation = 0x70;
constexpr uint8_t kAttrData = 0x80;
constexpr size_t kVolInfoMajor = 8;
constexpr size_t kVolInfoMinor = 9;
constexpr size_t kVolInfoFlags = 10;
constexpr uint8_t kVolumeDirty = 0x01;

constexpr char kHexDigits[] = "0123456789ABCDEF";

// Bytes in the order stored, two upper-case hex digits each.
std::string HexBytes(std::span<const uint8_t> s, size_t at, size_t count) {
  std::string text;
  for (size_t i = 0; i < count; ++i) {
    const uint8_t b = Byte(s, at + i);
    text.push_back(kHexDigits[b >> 4]);
    text.push_back(kHexDigits[b & 0x0F]);
  }
  return text;
}

// The label bytes as characters, without the characters of code 32 or less at either end.
std::string TrimmedLabel(std::span<const uint8_t> s, size_t at) {
  size_t first = 0;
  size_t last = kFatLabelLength;
  while (first < last && Byte(s, at + first) <= 32) ++first;
  while (last > first && Byte(s, at + last - 1) <= 32) --last;
  std::string label;
  for (size_t i = first; i < last; ++i) label.push_back(static_cast<char>(Byte(s, at + i)));
  return label;
}

void AppendUtf8(std::string& out, uint32_t cp) {
  if (cp < 0x80) {
    out.push_back(static_cast<char>(cp));
  } else if (cp < 0x800) {
    out.push_back(static_cast<char>(0xC0 | (cp >> 6)));
    out.push_back(static_cast<char>(0x80 | (cp & 0x3F)));
  } else if (cp < 0x10000) {
    out.push_back(static_cast<char>(0xE0 | (cp >> 12)));
    out.push_back(static_cast<char>(0x80 | ((cp >> 6) & 0x3F)));
    out.push_back(static_cast<char>(0x80 | (cp & 0x3F)));
  } else {
    out.push_back(static_cast<char>(0xF0 | (cp >> 18)));
    out.push_back(static_cast<char>(0x80 | ((cp >> 12) & 0x3F)));
    out.push_back(static_cast<char>(0x80 | ((cp >> 6) & 0x3F)));
    out.push_back(static_cast<char>(0x80 | (cp & 0x3F)));
  }
}

constexpr uint32_t kReplacement = 0xFFFD;

bool IsHighSurrogate(uint16_t u) { return u >= 0xD800 && u <= 0xDBFF; }
bool IsLowSurrogate(uint16_t u) { return u >= 0xDC00 && u <= 0xDFFF; }

// UTF-16LE code units to UTF-8; a lone surrogate becomes U+FFFD.
std::string Utf16ToUtf8(std::span<const uint16_t> units) {
  std::string out;
  for (size_t i = 0; i < units.size(); ++i) {
    const uint16_t u = units[i];
    if (IsHighSurrogate(u) && i + 1 < units.size() && IsLowSurrogate(units[i + 1])) {
      const uint32_t cp = 0x10000 + ((uint32_t{u} - 0xD800) << 10) + (units[i + 1] - 0xDC00u);
      AppendUtf8(out, cp);
      ++i;
    } else if (IsHighSurrogate(u) || IsLowSurrogate(u)) {
      AppendUtf8(out, kReplacement);
    } else {
      AppendUtf8(out, u);
    }
  }
  return out;
}

bool IsFatName(const std::string& typeName) { return typeName.starts_with("FAT"); }

void DecodeNtfs(std::span<const uint8_t> s, PartitionEntry& entry) {
  const std::string_view oem(reinterpret_cast<const char*>(s.data()) + kBootOemName,
                             kNtfsOemName.size());
  if (oem != kNtfsOemName) return;
  entry.TypeName = "NTFS";
  entry.Serial = HexBytes(s, kNtfsSerial, 8);
  entry.ClusterSectors = Byte(s, kBootSectorsPerCluster);
  entry.MftCluster = static_cast<int64_t>(Le64(s, kNtfsMftCluster));
}

void DecodeFat(std::span<const uint8_t> s, PartitionEntry& entry) {
  entry.ClusterSectors = Byte(s, kBootSectorsPerCluster);
  const uint16_t total16 = Le16(s, kBootTotalSectors16);
  entry.SectorCount = total16 != 0 ? total16 : Le32(s, kBootTotalSectors32);
  const bool small = entry.TypeName.starts_with("FAT12") || entry.TypeName.starts_with("FAT16");
  const size_t serialAt = small ? kFat16Serial : kFat32Serial;
  const size_t labelAt = small ? kFat16Label : kFat32Label;
  entry.Serial = HexBytes(s, serialAt, 4);
  entry.VolumeLabel = TrimmedLabel(s, labelAt);
}

// The volume name value: UTF-16 units, as many as lie inside the sector.
std::string VolumeNameValue(std::span<const uint8_t> s, size_t valueAt, uint32_t valueLength) {
  std::vector<uint16_t> units;
  for (uint32_t i = 0; i < valueLength / 2; ++i) {
    const size_t at = valueAt + 2 * size_t{i};
    if (at + 2 > s.size()) break;
    units.push_back(Le16(s, at));
  }
  return Utf16ToUtf8(units);
}

}  // namespace

void DecodeBootSector(std::span<const uint8_t, kSectorSize> sector, PartitionEntry& entry) {
  const std::span<const uint8_t> s(sector);
  if (entry.TypeName == "IFS") {
    DecodeNtfs(s, entry);
  } else if (IsFatName(entry.TypeName)) {
    DecodeFat(s, entry);
  }
}

uint32_t NtfsVolumeRecordLba(const PartitionEntry& entry) {
  const auto mftLow = static_cast<uint32_t>(static_cast<uint64_t>(entry.MftCluster));
  return mftLow * entry.ClusterSectors + entry.StartLBA + kVolumeRecordSectorOffset;
}

// The walk ends at the data attribute, at an attribute of length 0, at one that runs past the
// sector, or at the sector's end; what it found before stays. A value that reaches past the
// sector is cut there (the name) or skipped (the volume information).
void DecodeNtfsVolumeRecord(std::span<const uint8_t, kSectorSize> sector, PartitionEntry& entry) {
  const std::span<const uint8_t> s(sector);
  size_t at = Le16(s, kRecordFirstAttribute);
  while (at < s.size()) {
    const uint8_t type = s[at];
    if (type == kAttrData) break;
    if ((type == kAttrVolumeName || type == kAttrVolumeInformation) &&
        at + kAttrResidentHeader <= s.size()) {
      const uint32_t valueLength = Le32(s, at + kAttrValueLength);
      const size_t valueAt = at + Le16(s, at + kAttrValueOffset);
      if (type == kAttrVolumeName) {
        entry.VolumeLabel = VolumeNameValue(s, valueAt, valueLength);
      } else if (valueAt + kVolInfoFlags < s.size()) {
        entry.Version = " " + std::to_string(s[valueAt + kVolInfoMajor]) + "." +
                        std::to_string(s[valueAt + kVolInfoMinor]);
        entry.Dirty = (s[valueAt + kVolInfoFlags] & kVolumeDirty) != 0;
      }
    }
    if (at + kAttrLength + 4 > s.size()) break;
    const uint32_t length = Le32(s, at + kAttrLength);
    if (length == 0 || length > s.size() - at) break;
    at += length;
  }
}

}  // namespace dv
