#include "core/Mbr.h"

namespace dv {

// Interim: the decoding comes with the partition work.
std::string PartitionTypeName(uint8_t) { return "..."; }
std::optional<Sector> ReadSector(DriveSystem&, const Drive&, uint32_t, bool) {
  return std::nullopt;
}
MbrReading DecodeMbr(std::span<const uint8_t, kSectorSize>) { return {}; }
void DecodeBootSector(std::span<const uint8_t, kSectorSize>, PartitionEntry&) {}
uint32_t NtfsVolumeRecordLba(const PartitionEntry&) { return 0; }
void DecodeNtfsVolumeRecord(std::span<const uint8_t, kSectorSize>, PartitionEntry&) {}
MbrReading ReadMbr(DriveSystem&, const Drive&) { return {}; }

}  // namespace dv
