// Sector 0 of a drive and the boot sectors of its four primary partitions, read-only.
#pragma once

#include <array>
#include <cstdint>
#include <optional>
#include <span>
#include <string>

#include "core/Ioctl.h"

namespace dv {

class DriveSystem;
struct Drive;

using Sector = std::array<uint8_t, kSectorSize>;

// What one MBR reading knows of a primary partition (entry k is index k - 1).
struct PartitionEntry {
  bool Active = false;
  std::string TypeName;
  uint32_t StartLBA = 0;
  uint32_t SectorCount = 0;
  uint32_t SizeGB = 0;
  std::string Serial;
  uint8_t ClusterSectors = 0;
  int64_t MftCluster = 0;
  std::string VolumeLabel;
  std::string Version;
  bool Dirty = false;
  // The volume name: a drive letter on Windows, a mount point on Linux; empty when none.
  std::string DriveLetter;

  bool operator==(const PartitionEntry&) const = default;
};

struct MbrReading {
  bool read = false;  // sector 0 was read; nothing else is meaningful otherwise
  uint32_t diskId = 0;
  uint16_t signature = 0;
  std::array<PartitionEntry, 4> entries{};
};

// Name of a partition type byte; "..." for any type not in the table.
std::string PartitionTypeName(uint8_t type);

// One sector through SendATACommand: READ SECTOR(S) or, on an LBA48 drive, READ SECTOR(S) EXT.
// `judgeError`: also fail when the returned status has ERR set (the boot sectors are judged so;
// sector 0 only on the platform call).
std::optional<Sector> ReadSector(DriveSystem& system, const Drive& drive, uint32_t lba,
                                 bool judgeError);

// Pure decoders (any bytes, never a read outside the sector).
MbrReading DecodeMbr(std::span<const uint8_t, kSectorSize> sector0);
// Fills Serial, ClusterSectors, MftCluster, VolumeLabel, SectorCount and TypeName ("NTFS") from a
// partition's first sector; leaves the entry as it is when the sector is not one it decodes.
void DecodeBootSector(std::span<const uint8_t, kSectorSize> sector, PartitionEntry& entry);
// Sector address of the NTFS volume record (record 3 of the MFT), 32-bit wrapping.
uint32_t NtfsVolumeRecordLba(const PartitionEntry& entry);
// Fills VolumeLabel, Version and Dirty from the volume record's first sector.
void DecodeNtfsVolumeRecord(std::span<const uint8_t, kSectorSize> sector, PartitionEntry& entry);

// The whole reading of drive `drive`: sector 0, the entries, the volume names and the boot sectors.
MbrReading ReadMbr(DriveSystem& system, const Drive& drive);

}  // namespace dv
