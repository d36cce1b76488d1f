#include "core/SelfTest.h"

#include <algorithm>
#include <array>

#include "core/LittleEndian.h"

namespace dv {
namespace {

bool AllZero(std::span<const uint8_t> bytes) {
  return std::all_of(bytes.begin(), bytes.end(), [](uint8_t b) { return b == 0; });
}

// The ring positions of `count` slots from the 1-based index of the newest, newest first.
std::vector<size_t> NewestFirst(size_t newest, size_t slots) {
  std::vector<size_t> order;
  for (size_t k = 0; k < slots; ++k) order.push_back((newest - 1 + slots - k) % slots);
  return order;
}

AtaErrorCommand DecodeErrorCommand(std::span<const uint8_t> b) {
  AtaErrorCommand c;
  c.DeviceControl = b[kErrorCommandDeviceControl];
  const size_t r = kErrorCommandRegisters;
  c.Features = b[r];
  c.Count = b[r + 1];
  c.LbaLow = b[r + 2];
  c.LbaMid = b[r + 3];
  c.LbaHigh = b[r + 4];
  c.Device = b[r + 5];
  c.Command = b[r + 6];
  c.TimestampMs = Le32(b, kErrorCommandTimestamp);
  return c;
}

AtaErrorRecord DecodeErrorRecord(std::span<const uint8_t> b) {
  AtaErrorRecord e;
  for (size_t i = kErrorLogCommands; i-- > 0;) {
    const auto command = b.subspan(i * kErrorLogCommandSize, kErrorLogCommandSize);
    if (!AllZero(command)) e.Commands.push_back(DecodeErrorCommand(command));
  }
  const auto data = b.subspan(kErrorLogDataOffset);
  const size_t r = kErrorDataRegisters;
  e.Error = data[r];
  e.Count = data[r + 1];
  e.LbaLow = data[r + 2];
  e.LbaMid = data[r + 3];
  e.LbaHigh = data[r + 4];
  e.Device = data[r + 5];
  e.Status = data[r + 6];
  e.State = data[kErrorDataState];
  e.LifetimeHours = Le16(data, kErrorDataHours);
  return e;
}

}  // namespace

SelfTestStatus DecodeSelfTestStatus(uint8_t byte) {
  return SelfTestStatus{static_cast<uint8_t>(byte >> 4), (byte & 0x0F) * 10};
}

std::string SelfTestStatusText(uint8_t code) {
  static constexpr std::array<const char*, 9> kTexts{
      "completed without error", "aborted by the host", "interrupted by a reset", "fatal error",
      "unknown failure",         "electrical failure",  "servo or seek failure",  "read failure",
      "handling damage"};
  if (code < kTexts.size()) return kTexts[code];
  if (code == kSelfTestStatusRunning) return "in progress";
  return "status " + std::to_string(code);
}

bool SelfTestCapability::Offers(uint8_t routine) const {
  switch (routine) {
    case kSelfTestShort:
    case kSelfTestExtended:
      return ExecuteOffline && SelfTests;
    case kSelfTestConveyance:
      return ExecuteOffline && Conveyance;
    case kSelfTestAbort:
      return ExecuteOffline && (SelfTests || Conveyance);
    default:
      return false;
  }
}

int SelfTestCapability::PollingMinutes(uint8_t routine) const {
  switch (routine) {
    case kSelfTestShort:
      return ShortMinutes;
    case kSelfTestExtended:
      return ExtendedMinutes;
    case kSelfTestConveyance:
      return ConveyanceMinutes;
    default:
      return 0;
  }
}

SelfTestCapability DecodeSelfTestCapability(std::span<const uint8_t> smartData) {
  SelfTestCapability c;
  const uint8_t offline = Byte(smartData, kSmartOfflineCapabilityByte);
  c.ExecuteOffline = (offline & kSmartExecuteOfflineBit) != 0;
  c.SelfTests = (offline & kSmartSelfTestBit) != 0;
  c.Conveyance = (offline & kSmartConveyanceBit) != 0;
  c.ErrorLogging = (Byte(smartData, kSmartErrorLoggingByte) & kSmartErrorLoggingBit) != 0;
  c.ShortMinutes = Byte(smartData, kSmartShortTestMinutesByte);
  c.ExtendedMinutes = Byte(smartData, kSmartExtendedTestMinutesByte);
  if (c.ExtendedMinutes == kSmartPollingMinutesEscape) {
    c.ExtendedMinutes = Le16(smartData, kSmartExtendedMinutesOffset);
  }
  c.ConveyanceMinutes = Byte(smartData, kSmartConveyanceTestMinutesByte);
  return c;
}

std::string SelfTestRoutineName(uint8_t routine) {
  const bool captive = (routine & 0x80) != 0;
  std::string name;
  switch (routine & 0x7F) {
    case 0x00:
      name = "off-line data collection";
      break;
    case kSelfTestShort:
      name = "short";
      break;
    case kSelfTestExtended:
      name = "extended";
      break;
    case kSelfTestConveyance:
      name = "conveyance";
      break;
    case 0x04:
      name = "selective";
      break;
    case kSelfTestAbort:
      return "abort";
    default:
      return "routine " + std::to_string(routine);
  }
  return captive ? name + " (captive)" : name;
}

std::optional<SelfTestLog> DecodeSelfTestLog(std::span<const uint8_t> sector) {
  if (sector.size() != kSectorSize) return std::nullopt;
  const size_t newest = sector[kSelfTestLogIndexByte];
  if (newest > kSelfTestLogEntries) return std::nullopt;
  SelfTestLog log;
  log.Revision = Le16(sector, kSelfTestLogRevision);
  if (newest == 0) return log;
  for (size_t slot : NewestFirst(newest, kSelfTestLogEntries)) {
    const auto d =
        sector.subspan(kSelfTestLogFirst + slot * kSelfTestLogEntrySize, kSelfTestLogEntrySize);
    if (AllZero(d)) continue;
    SelfTestLogEntry entry;
    entry.Routine = d[kSelfTestEntryRoutine];
    entry.Status = DecodeSelfTestStatus(d[kSelfTestEntryStatus]);
    entry.LifetimeHours = Le16(d, kSelfTestEntryHours);
    entry.Checkpoint = d[kSelfTestEntryCheckpoint];
    entry.FailingLba = Le32(d, kSelfTestEntryLba);
    log.Entries.push_back(entry);
  }
  return log;
}

std::optional<AtaErrorLog> DecodeAtaErrorLog(std::span<const uint8_t> sector) {
  if (sector.size() != kSectorSize) return std::nullopt;
  const size_t newest = sector[kErrorLogIndexByte];
  if (newest > kErrorLogRecords) return std::nullopt;
  AtaErrorLog log;
  log.Version = sector[kErrorLogVersion];
  log.Count = Le16(sector, kErrorLogCountOffset);
  if (newest == 0) return log;
  // The drive keeps the last five; fewer when it has counted fewer.
  const size_t held = std::min<size_t>(log.Count, kErrorLogRecords);
  for (size_t slot : NewestFirst(newest, kErrorLogRecords)) {
    if (log.Records.size() == held) break;
    const auto record =
        sector.subspan(kErrorLogFirst + slot * kErrorLogRecordSize, kErrorLogRecordSize);
    if (AllZero(record)) continue;
    log.Records.push_back(DecodeErrorRecord(record));
  }
  return log;
}

std::optional<NvmeSelfTestLog> DecodeNvmeSelfTestLog(std::span<const uint8_t> data) {
  if (data.size() != kNvmeSelfTestLogSize) return std::nullopt;
  NvmeSelfTestLog log;
  log.CurrentOperation = data[kNvmeSelfTestOperation] & 0x0F;
  log.CurrentCompletion = data[kNvmeSelfTestCompletion] & 0x7F;
  for (size_t i = 0; i < kNvmeSelfTestResultCount; ++i) {
    const auto r =
        data.subspan(kNvmeSelfTestResults + i * kNvmeSelfTestResultSize, kNvmeSelfTestResultSize);
    NvmeSelfTestResult result;
    result.Code = r[kNvmeResultStatus] >> 4;
    result.Result = r[kNvmeResultStatus] & 0x0F;
    if (result.Result == kNvmeSelfTestUnused) continue;
    result.Segment = r[kNvmeResultSegment];
    result.PowerOnHours = Le64(r, kNvmeResultPowerOnHours);
    const uint8_t valid = r[kNvmeResultValid];
    if (valid & kNvmeResultNamespaceValid) result.Namespace = Le32(r, kNvmeResultNamespace);
    if (valid & kNvmeResultLbaValid) result.FailingLba = Le64(r, kNvmeResultFailingLba);
    if (valid & kNvmeResultTypeValid) result.StatusCodeType = r[kNvmeResultStatusCodeType] & 0x07;
    if (valid & kNvmeResultCodeValid) result.StatusCode = r[kNvmeResultStatusCode];
    log.Results.push_back(result);
  }
  return log;
}

std::string NvmeSelfTestResultText(uint8_t result) {
  static constexpr std::array<const char*, 10> kTexts{
      "completed without error",    "aborted by the host", "aborted by a reset",
      "aborted: namespace removed", "aborted: format",     "fatal error",
      "unknown segment failed",     "segments failed",     "aborted",
      "aborted: sanitize"};
  if (result < kTexts.size()) return kTexts[result];
  return "result " + std::to_string(result);
}

std::vector<SelfTestRow> SelfTestRows(const SelfTestLog& log) {
  std::vector<SelfTestRow> rows;
  for (const SelfTestLogEntry& e : log.Entries) {
    SelfTestRow row;
    row.Code = e.Status.Code;
    row.Type = SelfTestRoutineName(e.Routine);
    row.Status = SelfTestStatusText(e.Status.Code);
    row.RemainingPercent = e.Status.RemainingPercent;
    row.LifetimeHours = e.LifetimeHours;
    row.Failed = e.Status.Failed();
    // All ones is how a drive says it has no address to give.
    if (row.Failed && e.FailingLba != 0xFFFFFFFF) row.FirstErrorLba = e.FailingLba;
    rows.push_back(row);
  }
  return rows;
}

std::vector<SelfTestRow> SelfTestRows(const NvmeSelfTestLog& log) {
  std::vector<SelfTestRow> rows;
  for (const NvmeSelfTestResult& r : log.Results) {
    SelfTestRow row;
    row.Code = r.Result;
    row.Type = r.Code == kNvmeSelfTestShort      ? "short"
               : r.Code == kNvmeSelfTestExtended ? "extended"
                                                 : "code " + std::to_string(r.Code);
    row.Status = NvmeSelfTestResultText(r.Result);
    row.LifetimeHours = r.PowerOnHours;
    row.Failed = r.Failed();
    if (row.Failed) row.FirstErrorLba = r.FailingLba;
    rows.push_back(row);
  }
  return rows;
}

}  // namespace dv
