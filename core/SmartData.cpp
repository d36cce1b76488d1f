#include "core/SmartData.h"

#include <optional>

#include "core/LittleEndian.h"
#include "core/Nvme.h"
#include "core/Temperatures.h"

namespace dv {
namespace {

// The byte offset of the entry with `id`, or nothing when the table ends first.
std::optional<size_t> FindEntry(std::span<const uint8_t> sector, uint8_t id) {
  if (id == 0) return std::nullopt;
  for (size_t i = 0; i < kSmartEntryCount; ++i) {
    const size_t at = kSmartTableOffset + i * kSmartEntrySize;
    const uint8_t entryId = Byte(sector, at + kSmartEntryId);
    if (entryId == 0) return std::nullopt;
    if (entryId == id) return at;
  }
  return std::nullopt;
}

// Sends one catalogue command on its own open of the drive; the handle closes on return.
std::optional<ATACommandResult> SendOnFreshOpen(DriveSystem& system, int driveNumber,
                                                AtaCommand command) {
  DriveHandlePtr handle = OpenDrive(system, driveNumber);
  if (!handle) return std::nullopt;
  const ATACommandResult result = SendATACommand(*handle, MakeAtaCommand(command, driveNumber));
  if (handle->OpenFailed()) return std::nullopt;
  return result;
}

bool IsGoodVerdict(const ATACommandResult& result) {
  return result.success && result.current.lbaMid == kSmartStatusGoodMid &&
         result.current.lbaHigh == kSmartStatusGoodHigh;
}

// Reads one sector with `command`; the sector is only overwritten when the read succeeded.
bool ReadSectorInto(DriveSystem& system, int driveNumber, AtaCommand command,
                    std::array<uint8_t, kSectorSize>& sector) {
  const auto result = SendOnFreshOpen(system, driveNumber, command);
  if (!result || !result->success) return false;
  sector = result->data;
  return true;
}

SMARTAttribute DecodeAttributeAt(std::span<const uint8_t> smartData, size_t at) {
  SMARTAttribute attribute;
  attribute.Flags = Le16(smartData, at + kSmartEntryFlags);
  attribute.Value = Byte(smartData, at + kSmartEntryValue);
  attribute.Worst = Byte(smartData, at + kSmartEntryWorst);
  attribute.Raw = LeN(smartData, at + kSmartEntryRaw, kSmartRawLength);
  for (size_t i = 0; i < kSmartRawLength; ++i)
    attribute.RawBytes[i] = Byte(smartData, at + kSmartEntryRaw + i);
  return attribute;
}

}  // namespace

SMARTAttribute FindSMARTAttribute(std::span<const uint8_t> smartData, uint8_t id) {
  const auto at = FindEntry(smartData, id);
  return at ? DecodeAttributeAt(smartData, *at) : SMARTAttribute{};
}

uint8_t FindSMARTThreshold(std::span<const uint8_t> smartThresholds, uint8_t id) {
  const auto at = FindEntry(smartThresholds, id);
  return at ? Byte(smartThresholds, *at + kSmartEntryThreshold) : 0;
}

SmartTableIndex::SmartTableIndex(std::span<const uint8_t> sector) : sector_(sector) {
  for (size_t i = 0; i < kSmartEntryCount; ++i) {
    const size_t at = kSmartTableOffset + i * kSmartEntrySize;
    const uint8_t id = Byte(sector, at + kSmartEntryId);
    if (id == 0) break;
    if (offsets_[id] == 0) offsets_[id] = static_cast<uint16_t>(at);
  }
}

SMARTAttribute SmartTableIndex::Attribute(uint8_t id) const {
  return offsets_[id] != 0 ? DecodeAttributeAt(sector_, offsets_[id]) : SMARTAttribute{};
}

uint8_t SmartTableIndex::Threshold(uint8_t id) const {
  return offsets_[id] != 0 ? Byte(sector_, offsets_[id] + kSmartEntryThreshold) : 0;
}

ReadSmartResult ReadSMART(DriveSystem& system, DriveTable& drives, int position,
                          SmartSectors& sectors) {
  ReadSmartResult outcome;
  if (!drives.IsListed(position)) return outcome;
  Drive& drive = drives.At(position);
  if (!drive.SMARTEnabled) return outcome;
  if (drive.IsNvme()) return ReadNvmeSmart(system, drive, sectors);

  const auto status = SendOnFreshOpen(system, drive.DriveNumber, AtaCommand::SmartReturnStatus);
  if (!status) return outcome;
  // A failed RETURN STATUS is a bad verdict, not a failed read: the sectors are still read.
  outcome.verdictReached = true;
  outcome.statusOK = IsGoodVerdict(*status);
  drive.SMARTStatusOK = outcome.statusOK;

  if (!ReadSectorInto(system, drive.DriveNumber, AtaCommand::SmartReadData, sectors.SMARTData)) {
    return outcome;
  }
  sectors.NvmeLogHeld = false;
  if (!ReadSectorInto(system, drive.DriveNumber, AtaCommand::SmartReadThresholds,
                      sectors.SMARTThresholds)) {
    return outcome;
  }
  outcome.sectorsRead = true;
  drive.Temperature = GetTemperatures(sectors.SMARTData).Current;
  return outcome;
}

}  // namespace dv
