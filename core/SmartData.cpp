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

bool IsGoodVerdict(const ATACommandResult& result) {
  return result.success && result.current.lbaMid == kSmartStatusGoodMid &&
         result.current.lbaHigh == kSmartStatusGoodHigh;
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

std::array<FreshOpenCommand, kSmartReadCount> SmartReadCommands(int driveNumber) {
  // A failed RETURN STATUS is a bad verdict, not a failed read: the sectors are still read, but
  // the thresholds only after the data.
  return {
      FreshOpenCommand{driveNumber, MakeAtaCommand(AtaCommand::SmartReturnStatus, driveNumber),
                       SendCondition::Always},
      FreshOpenCommand{driveNumber, MakeAtaCommand(AtaCommand::SmartReadData, driveNumber),
                       SendCondition::PreviousOpened},
      FreshOpenCommand{driveNumber, MakeAtaCommand(AtaCommand::SmartReadThresholds, driveNumber),
                       SendCondition::PreviousSucceeded}};
}

ReadSmartResult TakeSmartReads(
    Drive& drive, std::span<const std::optional<ATACommandResult>, kSmartReadCount> reads,
    SmartSectors& sectors) {
  ReadSmartResult outcome;
  const auto& status = reads[0];
  const auto& data = reads[1];
  const auto& thresholds = reads[2];
  if (!status) return outcome;
  outcome.verdictReached = true;
  outcome.statusOK = IsGoodVerdict(*status);
  drive.SMARTStatusOK = outcome.statusOK;

  if (!data || !data->success) return outcome;
  sectors.SMARTData = data->data;
  sectors.NvmeLogHeld = false;
  if (!thresholds || !thresholds->success) return outcome;
  sectors.SMARTThresholds = thresholds->data;
  outcome.sectorsRead = true;
  drive.Temperature = GetTemperatures(sectors.SMARTData).Current;
  return outcome;
}

ReadSmartResult ReadSMART(DriveSystem& system, DriveTable& drives, int position,
                          SmartSectors& sectors) {
  if (!drives.IsListed(position)) return {};
  Drive& drive = drives.At(position);
  if (!drive.SMARTEnabled) return {};
  if (drive.IsNvme()) return ReadNvmeSmart(system, drive, sectors);
  const auto commands = SmartReadCommands(drive.DriveNumber);
  const auto reads = SendATACommands(system, commands);
  return TakeSmartReads(drive,
                        std::span<const std::optional<ATACommandResult>, kSmartReadCount>(
                            reads.data(), kSmartReadCount),
                        sectors);
}

}  // namespace dv
