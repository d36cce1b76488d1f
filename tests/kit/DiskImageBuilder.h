// Test helper: sector 0, FAT and NTFS boot sectors and the NTFS volume record, written byte by
// byte at their on-disk offsets, and a simulated drive that serves them.
#pragma once

#include <array>
#include <cstdint>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "core/Ioctl.h"
#include "core/LittleEndian.h"
#include "core/SimulatedDrives.h"
#include "core/SimulatedSectors.h"

namespace dv::test {

using Bytes = std::array<uint8_t, kSectorSize>;

inline void PutBytes(Bytes& s, size_t at, std::initializer_list<uint8_t> bytes) {
  for (uint8_t b : bytes) s.at(at++) = b;
}

inline void PutText(Bytes& s, size_t at, std::string_view text) {
  for (char c : text) s.at(at++) = static_cast<uint8_t>(c);
}

struct MbrEntry {
  uint8_t boot = 0;
  uint8_t type = 0;
  uint32_t start = 0;
  uint32_t count = 0;
};

inline Bytes MakeMbr(uint32_t diskId, std::vector<MbrEntry> entries, uint16_t signature = 0xAA55) {
  Bytes s{};
  PutLe32(s, 0x1B8, diskId);
  for (size_t k = 0; k < entries.size() && k < 4; ++k) {
    const size_t at = 0x1BE + 16 * k;
    s[at] = entries[k].boot;
    s[at + 4] = entries[k].type;
    PutLe32(s, at + 8, entries[k].start);
    PutLe32(s, at + 12, entries[k].count);
  }
  PutLe16(s, 0x1FE, signature);
  return s;
}

// FAT12/16 layout when `fat32` is false: serial at 0x27, label at 0x2B; FAT32: 0x43, 0x47.
inline Bytes MakeFatBoot(bool fat32, uint8_t clusterSectors, uint16_t total16, uint32_t total32,
                         uint32_t serial, std::string_view label11) {
  Bytes s{};
  PutBytes(s, 0, {0xEB, 0x3C, 0x90});
  PutText(s, 3, "MSWIN4.1");
  PutLe16(s, 0x0B, 512);
  s[0x0D] = clusterSectors;
  PutLe16(s, 0x13, total16);
  PutLe32(s, 0x20, total32);
  PutLe32(s, fat32 ? 0x43 : 0x27, serial);
  PutText(s, fat32 ? 0x47 : 0x2B, label11);
  PutLe16(s, 0x1FE, 0xAA55);
  return s;
}

inline Bytes MakeNtfsBoot(uint8_t clusterSectors, uint64_t mftCluster, uint64_t serial,
                          std::string_view oem = "NTFS    ") {
  Bytes s{};
  PutBytes(s, 0, {0xEB, 0x52, 0x90});
  PutText(s, 3, oem);
  s[0x0D] = clusterSectors;
  for (size_t i = 0; i < 8; ++i) s[0x30 + i] = static_cast<uint8_t>(mftCluster >> (8 * i));
  for (size_t i = 0; i < 8; ++i) s[0x48 + i] = static_cast<uint8_t>(serial >> (8 * i));
  PutLe16(s, 0x1FE, 0xAA55);
  return s;
}

// An MFT record whose attributes follow each other from offset 0x38: each a resident header
// (type, length, value length at 0x10, value offset 0x18 at 0x14) and its value.
class VolumeRecordBuilder {
 public:
  VolumeRecordBuilder() {
    PutText(s_, 0, "FILE");
    PutLe16(s_, 0x14, static_cast<uint16_t>(at_));
  }
  VolumeRecordBuilder& Attribute(uint8_t type, std::vector<uint8_t> value) {
    const size_t length = (0x18 + value.size() + 7) / 8 * 8;
    PutLe32(s_, at_, type);
    PutLe32(s_, at_ + 4, static_cast<uint32_t>(length));
    PutLe32(s_, at_ + 0x10, static_cast<uint32_t>(value.size()));
    PutLe16(s_, at_ + 0x14, 0x18);
    for (size_t i = 0; i < value.size(); ++i) s_.at(at_ + 0x18 + i) = value[i];
    at_ += length;
    return *this;
  }
  VolumeRecordBuilder& Name(std::u16string_view name) {
    std::vector<uint8_t> value;
    for (char16_t c : name) {
      value.push_back(static_cast<uint8_t>(c));
      value.push_back(static_cast<uint8_t>(c >> 8));
    }
    return Attribute(0x60, value);
  }
  VolumeRecordBuilder& Information(uint8_t major, uint8_t minor, uint16_t flags) {
    return Attribute(0x70, {0, 0, 0, 0, 0, 0, 0, 0, major, minor, static_cast<uint8_t>(flags),
                            static_cast<uint8_t>(flags >> 8)});
  }
  VolumeRecordBuilder& End() {
    PutLe32(s_, at_, 0xFFFFFFFF);
    return *this;
  }
  size_t Offset() const { return at_; }
  Bytes& Sector() { return s_; }
  Bytes Build() const { return s_; }

 private:
  Bytes s_{};
  size_t at_ = 0x38;
};

// A drive of `sectors` sectors whose medium holds `sectorMap`; everything else reads as zeros.
inline SimulatedDrive MakeDiskDrive(int driveNumber, uint64_t sectors, bool lba48,
                                    std::vector<std::pair<uint64_t, Bytes>> sectorMap) {
  SimulatedIdentifyFields fields;
  fields.model = "Disk image";
  fields.sectors = sectors;
  fields.lba48 = lba48;
  SimulatedDrive drive;
  drive.driveNumber = driveNumber;
  drive.identify = BuildIdentifySector(fields);
  for (auto& [lba, sector] : sectorMap) drive.sectors[lba] = sector;
  return drive;
}

}  // namespace dv::test
