#include "core/Mbr.h"

#include "core/Drive.h"
#include "core/DriveSystem.h"
#include "core/LittleEndian.h"

namespace dv {
namespace {

// Sector 0.
constexpr size_t kOffsetDiskId = 0x1B8;
constexpr size_t kOffsetFirstEntry = 0x1BE;
constexpr size_t kEntrySize = 16;
constexpr size_t kOffsetSignature = 0x1FE;

// One partition entry, from its first byte.
constexpr size_t kEntryBootIndicator = 0;
constexpr size_t kEntryType = 4;
constexpr size_t kEntryStartLba = 8;
constexpr size_t kEntrySectorCount = 12;

constexpr uint8_t kBootActive = 0x80;
constexpr int kSizeGBShift = 21;  // 2^21 sectors of 512 bytes are one GiB

// A 28-bit command carries LBA bits 0..27 only.
constexpr uint32_t kLba28Limit = 1u << 28;

struct TypeNameRow {
  uint8_t type;
  const char* name;
};

// The names are matched by text later on ("Empty", "IFS", a leading "FAT"), so they are exact.
constexpr TypeNameRow kTypeNames[] = {
    {0x00, "Empty"},        {0x01, "FAT12 CHS"},        {0x04, "FAT16 CHS <32M"},
    {0x05, "Extended CHS"}, {0x06, "BIGDOS FAT16 CHS"}, {0x07, "IFS"},
    {0x0B, "FAT32 CHS"},    {0x0C, "FAT32 LBA"},        {0x0E, "BIGDOS FAT16 LBA"},
    {0x0F, "Extended LBA"}, {0x42, "Dynamic disk"},     {0x82, "Linux swap"},
    {0x83, "Linux"},        {0x85, "Linux extended"},
};

}  // namespace

std::string PartitionTypeName(uint8_t type) {
  for (const TypeNameRow& row : kTypeNames) {
    if (row.type == type) return row.name;
  }
  return "...";
}

std::optional<Sector> ReadSector(DriveSystem& system, const Drive& drive, uint32_t lba,
                                 bool judgeError) {
  // A 28-bit READ SECTOR(S) would silently drop bits 31..28 and read another sector.
  if (!drive.LBA48 && lba >= kLba28Limit) return std::nullopt;
  // Sector reads are ATA commands; an NVMe drive's number names another device on that path.
  if (drive.IsNvme()) return std::nullopt;
  DriveHandlePtr handle = OpenDrive(system, drive.DriveNumber);
  if (!handle) return std::nullopt;
  const ATACommandResult result =
      SendATACommand(*handle, MakeReadSector(drive.DriveNumber, lba, drive.LBA48));
  if (!result.callSucceeded) return std::nullopt;
  if (judgeError && !result.success) return std::nullopt;
  return result.data;
}

MbrReading DecodeMbr(std::span<const uint8_t, kSectorSize> sector0) {
  const std::span<const uint8_t> s(sector0);
  MbrReading reading;
  reading.read = true;
  reading.diskId = Le32(s, kOffsetDiskId);
  reading.signature = Le16(s, kOffsetSignature);
  for (size_t k = 0; k < reading.entries.size(); ++k) {
    const size_t at = kOffsetFirstEntry + kEntrySize * k;
    PartitionEntry& e = reading.entries[k];
    e.Active = Byte(s, at + kEntryBootIndicator) == kBootActive;
    e.TypeName = PartitionTypeName(Byte(s, at + kEntryType));
    e.StartLBA = Le32(s, at + kEntryStartLba);
    e.SectorCount = Le32(s, at + kEntrySectorCount);
    e.SizeGB = e.SectorCount >> kSizeGBShift;
  }
  return reading;
}

MbrReading ReadMbr(DriveSystem& system, const Drive& drive) {
  MbrReading reading;  // every entry cleared
  // Sector 0 counts as read on the platform call alone.
  const std::optional<Sector> sector0 = ReadSector(system, drive, 0, false);
  if (!sector0) return reading;
  reading = DecodeMbr(*sector0);

  for (size_t k = 0; k < reading.entries.size(); ++k) {
    PartitionEntry& entry = reading.entries[k];
    entry.DriveLetter.clear();
    if (auto name = system.VolumeName(drive.DriveNumber, static_cast<int>(k) + 1)) {
      entry.DriveLetter = *name;
    }
    if (entry.TypeName == "Empty") continue;
    // Boot sectors and the volume record must also come back without ERR.
    if (auto boot = ReadSector(system, drive, entry.StartLBA, true)) {
      DecodeBootSector(*boot, entry);
    } else {
      continue;
    }
    if (entry.TypeName != "NTFS") continue;
    if (auto record = ReadSector(system, drive, NtfsVolumeRecordLba(entry), true)) {
      DecodeNtfsVolumeRecord(*record, entry);
    }
  }
  return reading;
}

}  // namespace dv
