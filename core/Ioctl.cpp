#include "core/Ioctl.h"

#include <algorithm>
#include <mutex>
#include <span>
#include <vector>

#include "core/LittleEndian.h"

namespace dv {
namespace {

// S.M.A.R.T. subcommands (Features) with their Sector Count, flags and data length.
struct SmartSubcommand {
  AtaCommand command;
  uint8_t features;
  uint8_t sectorCount;
  uint16_t ataFlags;
  uint32_t dataLength;
};
constexpr std::array<SmartSubcommand, 6> kSmartSubcommands{{
    {AtaCommand::SmartEnable, kSmartEnableOperations, 1, kAtaFlagsDrdyRequired, 0},
    {AtaCommand::SmartReadData, kSmartReadData, 1, kAtaFlagsDrdyRequired | kAtaFlagsDataIn,
     kSectorSize},
    {AtaCommand::SmartAutoOffline, kSmartAutoOffline, kSmartAutoOfflineEnable,
     kAtaFlagsDrdyRequired, 0},
    {AtaCommand::SmartAutosave, kSmartAttributeAutosave, kSmartAutosaveEnable,
     kAtaFlagsDrdyRequired, 0},
    {AtaCommand::SmartReturnStatus, kSmartReturnStatus, 1, kAtaFlagsDrdyRequired, 0},
    {AtaCommand::SmartReadThresholds, kSmartReadThresholds, 1,
     kAtaFlagsDrdyRequired | kAtaFlagsDataIn, kSectorSize},
}};

// SET FEATURES subcommands the program may send: AAM and APM enable/disable.
constexpr std::array<uint8_t, 4> kSetFeaturesSubcommands{
    kSetFeaturesEnableAam, kSetFeaturesDisableAam, kSetFeaturesEnableApm, kSetFeaturesDisableApm};

// The self-test routines and logs the program may name in LBA Low; everything else there (the
// captive routines 81h-84h, off-line data collection, selective tests, other logs) is refused.
constexpr std::array<uint8_t, 4> kSelfTestRoutines{kSelfTestShort, kSelfTestExtended,
                                                   kSelfTestConveyance, kSelfTestAbort};
constexpr std::array<uint8_t, 3> kReadableLogs{kLogDirectory, kLogSummaryError, kLogSelfTest};

constexpr std::array<const char*, 14> kCommandNames{
    "SMART_ENABLE",          "IDENTIFY",       "READ_NATIVE_MAX_EXT", "SMART_READ_DATA",
    "SMART_AUTO_OFFLINE",    "SMART_AUTOSAVE", "SMART_RETURN_STATUS", "SMART_READ_THRESHOLDS",
    "SET_FEATURES",          "READ_SECTORS",   "READ_SECTORS_EXT",    "CHECK_POWER_MODE",
    "SMART_EXECUTE_OFFLINE", "SMART_READ_LOG",
};

template <size_t N>
bool IsOneOf(const std::array<uint8_t, N>& values, uint8_t value) {
  return std::find(values.begin(), values.end(), value) != values.end();
}

TaskFile SmartTaskFile(uint8_t features, uint8_t sectorCount, uint8_t lbaLow, int driveNumber) {
  return TaskFile{features,      sectorCount,
                  lbaLow,        kSmartLbaMid,
                  kSmartLbaHigh, DeviceHeadFor(driveNumber),
                  kCmdSmart,     0};
}

bool IsDeviceHead(uint8_t device, uint8_t base) { return (device & ~kDeviceSelect) == base; }

std::optional<AtaCommand> ClassifySmart(uint16_t flags, const TaskFile& tf, uint32_t length) {
  if (tf.lbaMid != kSmartLbaMid || tf.lbaHigh != kSmartLbaHigh ||
      !IsDeviceHead(tf.device, kDeviceChs)) {
    return std::nullopt;
  }
  if (tf.features == kSmartExecuteOffline) {
    const bool fits = IsOneOf(kSelfTestRoutines, tf.lbaLow) && tf.sectorCount == 0 &&
                      flags == kAtaFlagsDrdyRequired && length == 0;
    return fits ? std::optional(AtaCommand::SmartExecuteOffline) : std::nullopt;
  }
  if (tf.features == kSmartReadLog) {
    const bool fits = IsOneOf(kReadableLogs, tf.lbaLow) && tf.sectorCount == 1 &&
                      flags == (kAtaFlagsDrdyRequired | kAtaFlagsDataIn) && length == kSectorSize;
    return fits ? std::optional(AtaCommand::SmartReadLog) : std::nullopt;
  }
  if (tf.lbaLow != 1) return std::nullopt;
  for (const auto& sub : kSmartSubcommands) {
    if (sub.features == tf.features && sub.sectorCount == tf.sectorCount && sub.ataFlags == flags &&
        sub.dataLength == length) {
      return sub.command;
    }
  }
  return std::nullopt;
}

bool IsZero(const TaskFile& tf) { return tf == TaskFile{}; }

}  // namespace

std::array<uint8_t, 8> TaskFile::Bytes() const {
  return {features, sectorCount, lbaLow, lbaMid, lbaHigh, device, command, reserved};
}

TaskFile TaskFile::FromBytes(std::span<const uint8_t, 8> b) {
  return TaskFile{b[0], b[1], b[2], b[3], b[4], b[5], b[6], b[7]};
}

size_t FillAtaRequest(std::span<uint8_t, kDataRequestSize> buffer, uint16_t ataFlags,
                      const TaskFile& current, uint32_t dataLength, const TaskFile& previous) {
  const size_t size = dataLength == 0 ? kRequestHeaderSize : kDataRequestSize;
  std::fill(buffer.begin(), buffer.begin() + static_cast<std::ptrdiff_t>(size), uint8_t{0});
  std::span<uint8_t> bytes = buffer.first(size);
  PutLe16(bytes, kOffsetLength, static_cast<uint16_t>(kRequestHeaderSize));
  PutLe16(bytes, kOffsetAtaFlags, ataFlags);
  PutLe32(bytes, kOffsetDataTransferLength, dataLength);
  PutLe32(bytes, kOffsetTimeOutValue, kAtaTimeOutSeconds);
  PutLe32(bytes, kOffsetDataBufferOffset, static_cast<uint32_t>(kRequestHeaderSize));
  WriteReturnedRegisters(bytes, current, previous);
  return size;
}

std::vector<uint8_t> BuildAtaRequest(uint16_t ataFlags, const TaskFile& current,
                                     uint32_t dataLength, const TaskFile& previous) {
  std::array<uint8_t, kDataRequestSize> buffer;
  const size_t size = FillAtaRequest(buffer, ataFlags, current, dataLength, previous);
  return std::vector<uint8_t>(buffer.begin(), buffer.begin() + static_cast<std::ptrdiff_t>(size));
}

std::optional<AtaRequestHeader> ReadAtaRequestHeader(std::span<const uint8_t> request) {
  if (request.size() < kRequestHeaderSize) return std::nullopt;
  AtaRequestHeader header;
  header.length = Le16(request, kOffsetLength);
  header.ataFlags = Le16(request, kOffsetAtaFlags);
  header.dataTransferLength = Le32(request, kOffsetDataTransferLength);
  header.timeOutValue = Le32(request, kOffsetTimeOutValue);
  header.dataBufferOffset = Le32(request, kOffsetDataBufferOffset);
  header.previous = TaskFile::FromBytes(request.subspan<kOffsetPreviousTaskFile, 8>());
  header.current = TaskFile::FromBytes(request.subspan<kOffsetCurrentTaskFile, 8>());
  return header;
}

void WriteReturnedRegisters(std::span<uint8_t> request, const TaskFile& current,
                            const TaskFile& previous) {
  const auto prev = previous.Bytes();
  const auto cur = current.Bytes();
  std::copy(prev.begin(), prev.end(), request.begin() + kOffsetPreviousTaskFile);
  std::copy(cur.begin(), cur.end(), request.begin() + kOffsetCurrentTaskFile);
}

const char* AtaCommandName(AtaCommand command) {
  return kCommandNames.at(static_cast<size_t>(command));
}

std::optional<AtaCommand> AtaCommandFromName(std::string_view name) {
  for (size_t i = 0; i < kCommandNames.size(); ++i) {
    if (name == kCommandNames[i]) return static_cast<AtaCommand>(i);
  }
  return std::nullopt;
}

uint8_t DeviceHeadFor(int driveNumber) {
  return static_cast<uint8_t>(kDeviceChs | ((driveNumber & 1) << 4));
}

uint8_t LbaDeviceHeadFor(int driveNumber) {
  return static_cast<uint8_t>(kDeviceLba | ((driveNumber & 1) << 4));
}

AtaCommandRequest MakeAtaCommand(AtaCommand command, int driveNumber) {
  AtaCommandRequest r;
  switch (command) {
    case AtaCommand::Identify:
      r.ataFlags = kAtaFlagsDataIn;
      r.current.device = DeviceHeadFor(driveNumber);
      r.current.command = kCmdIdentify;
      r.dataLength = kSectorSize;
      return r;
    case AtaCommand::ReadNativeMaxExt:
      r.ataFlags = kAtaFlagsDrdyRequired | kAtaFlags48BitCommand;
      r.current.device = LbaDeviceHeadFor(driveNumber);
      r.current.command = kCmdReadNativeMaxExt;
      return r;
    case AtaCommand::CheckPowerMode:
      r.ataFlags = kAtaFlagsDrdyRequired;
      r.current.device = DeviceHeadFor(driveNumber);
      r.current.command = kCmdCheckPowerMode;
      return r;
    case AtaCommand::SetFeatures:
    case AtaCommand::ReadSectors:
    case AtaCommand::ReadSectorsExt:
    case AtaCommand::SmartExecuteOffline:
    case AtaCommand::SmartReadLog:
      break;  // these take arguments: MakeSetFeatures, MakeReadSector, MakeSmartSelfTest, ...
    default:
      for (const auto& sub : kSmartSubcommands) {
        if (sub.command != command) continue;
        r.ataFlags = sub.ataFlags;
        r.dataLength = sub.dataLength;
        r.current = SmartTaskFile(sub.features, sub.sectorCount, 1, driveNumber);
        return r;
      }
      break;
  }
  return r;  // an all-zero request, which the guard refuses
}

AtaCommandRequest MakeSetFeatures(int driveNumber, uint8_t subcommand, uint8_t level) {
  AtaCommandRequest r;
  r.current.features = subcommand;
  r.current.sectorCount = level;
  r.current.device = DeviceHeadFor(driveNumber);
  r.current.command = kCmdSetFeatures;
  return r;
}

AtaCommandRequest MakeSmartSelfTest(int driveNumber, uint8_t routine) {
  AtaCommandRequest r;
  r.ataFlags = kAtaFlagsDrdyRequired;
  r.current = SmartTaskFile(kSmartExecuteOffline, 0, routine, driveNumber);
  return r;
}

AtaCommandRequest MakeSmartReadLog(int driveNumber, uint8_t logAddress) {
  AtaCommandRequest r;
  r.ataFlags = kAtaFlagsDrdyRequired | kAtaFlagsDataIn;
  r.dataLength = kSectorSize;
  r.current = SmartTaskFile(kSmartReadLog, 1, logAddress, driveNumber);
  return r;
}

AtaCommandRequest MakeReadSector(int driveNumber, uint64_t lba, bool ext) {
  AtaCommandRequest r;
  r.dataLength = kSectorSize;
  r.current.sectorCount = 1;
  r.current.lbaLow = static_cast<uint8_t>(lba);
  r.current.lbaMid = static_cast<uint8_t>(lba >> 8);
  r.current.lbaHigh = static_cast<uint8_t>(lba >> 16);
  r.current.device = LbaDeviceHeadFor(driveNumber);
  if (ext) {
    r.ataFlags = kAtaFlagsDrdyRequired | kAtaFlagsDataIn | kAtaFlags48BitCommand;
    r.current.command = kCmdReadSectorsExt;
    r.previous.lbaLow = static_cast<uint8_t>(lba >> 24);
    r.previous.lbaMid = static_cast<uint8_t>(lba >> 32);
    r.previous.lbaHigh = static_cast<uint8_t>(lba >> 40);
  } else {
    r.ataFlags = kAtaFlagsDrdyRequired | kAtaFlagsDataIn;
    r.current.command = kCmdReadSectors;
    r.current.device = static_cast<uint8_t>(r.current.device | ((lba >> 24) & 0x0F));
  }
  return r;
}

std::optional<AtaCommand> ClassifyAtaCommand(uint16_t ataFlags, const TaskFile& current,
                                             const TaskFile& previous, uint32_t dataLength) {
  if (current.reserved != 0 || (dataLength != 0 && dataLength != kSectorSize)) {
    return std::nullopt;
  }
  const bool noData = dataLength == 0;
  const bool plain = current.features == 0 && current.sectorCount == 0 && current.lbaLow == 0 &&
                     current.lbaMid == 0 && current.lbaHigh == 0;
  switch (current.command) {
    case kCmdSmart:
      if (!IsZero(previous)) return std::nullopt;
      return ClassifySmart(ataFlags, current, dataLength);
    case kCmdIdentify:
      if (plain && IsZero(previous) && IsDeviceHead(current.device, kDeviceChs) &&
          ataFlags == kAtaFlagsDataIn && !noData) {
        return AtaCommand::Identify;
      }
      return std::nullopt;
    case kCmdReadNativeMaxExt:
      if (plain && IsZero(previous) && IsDeviceHead(current.device, kDeviceLba) &&
          ataFlags == (kAtaFlagsDrdyRequired | kAtaFlags48BitCommand) && noData) {
        return AtaCommand::ReadNativeMaxExt;
      }
      return std::nullopt;
    case kCmdCheckPowerMode:
      if (plain && IsZero(previous) && IsDeviceHead(current.device, kDeviceChs) &&
          ataFlags == kAtaFlagsDrdyRequired && noData) {
        return AtaCommand::CheckPowerMode;
      }
      return std::nullopt;
    case kCmdSetFeatures: {
      const bool known = std::find(kSetFeaturesSubcommands.begin(), kSetFeaturesSubcommands.end(),
                                   current.features) != kSetFeaturesSubcommands.end();
      if (known && current.lbaLow == 0 && current.lbaMid == 0 && current.lbaHigh == 0 &&
          IsZero(previous) && IsDeviceHead(current.device, kDeviceChs) && ataFlags == 0 && noData) {
        return AtaCommand::SetFeatures;
      }
      return std::nullopt;
    }
    case kCmdReadSectors:
      if (current.features == 0 && current.sectorCount == 1 && IsZero(previous) &&
          (current.device & 0xE0) == kDeviceLba &&
          ataFlags == (kAtaFlagsDrdyRequired | kAtaFlagsDataIn) && !noData) {
        return AtaCommand::ReadSectors;
      }
      return std::nullopt;
    case kCmdReadSectorsExt:
      if (current.features == 0 && current.sectorCount == 1 && previous.features == 0 &&
          previous.sectorCount == 0 && previous.device == 0 && previous.command == 0 &&
          previous.reserved == 0 && IsDeviceHead(current.device, kDeviceLba) &&
          ataFlags == (kAtaFlagsDrdyRequired | kAtaFlagsDataIn | kAtaFlags48BitCommand) &&
          !noData) {
        return AtaCommand::ReadSectorsExt;
      }
      return std::nullopt;
    default:
      return std::nullopt;
  }
}

DriveHandlePtr OpenDrive(DriveSystem& system, int driveNumber) {
  if (!IsDriveNumber(driveNumber)) return nullptr;
  return system.Open(driveNumber);
}

namespace {

// What a request the back end carried came back with.
ATACommandResult ResultOf(std::span<uint8_t> request, bool callSucceeded) {
  ATACommandResult result;
  result.callSucceeded = callSucceeded;
  result.current = TaskFile::FromBytes(request.subspan<kOffsetCurrentTaskFile, 8>());
  result.previous = TaskFile::FromBytes(request.subspan<kOffsetPreviousTaskFile, 8>());
  if (request.size() == kDataRequestSize) {
    std::copy_n(request.begin() + kRequestHeaderSize, kSectorSize, result.data.begin());
  }
  result.success = result.callSucceeded && (result.current.Status() & kStatusErr) == 0;
  return result;
}

bool IsCatalogued(const AtaCommandRequest& request) {
  return ClassifyAtaCommand(request.ataFlags, request.current, request.previous, request.dataLength)
      .has_value();
}

bool ConditionHolds(SendCondition condition, const std::optional<ATACommandResult>* before) {
  if (before == nullptr || condition == SendCondition::Always) return true;
  if (condition == SendCondition::PreviousOpened) return before->has_value();
  return before->has_value() && (*before)->success;
}

}  // namespace

ATACommandResult SendATACommand(DriveHandle& handle, uint16_t ataFlags, const TaskFile& current,
                                uint32_t dataLength, const TaskFile& previous) {
  if (!ClassifyAtaCommand(ataFlags, current, previous, dataLength)) return {};

  // The request lives on the stack: one exchange, no allocation, released on every path.
  std::array<uint8_t, kDataRequestSize> buffer;
  const size_t size = FillAtaRequest(buffer, ataFlags, current, dataLength, previous);
  const std::span<uint8_t> request(buffer.data(), size);
  const bool callSucceeded = handle.PassThrough(request);
  return ResultOf(request, callSucceeded);
}

std::vector<std::optional<ATACommandResult>> SendATACommands(
    DriveSystem& system, std::span<const FreshOpenCommand> commands) {
  std::vector<std::optional<ATACommandResult>> results;
  SendATACommands(system, commands, results);
  return results;
}

namespace {

// Each command's request buffer and what became of it. The sector starts on a 512-byte boundary
// and so never straddles two pages: the kernel pins one page for it, not two.
struct alignas(kSectorSize) Slot {
  std::array<uint8_t, kSectorSize - kRequestHeaderSize> padding;
  std::array<uint8_t, kDataRequestSize> buffer;
  FreshOpenRequest request;
  bool catalogued = false;
  bool sendable = false;  // only requests of the catalogue, for a drive number that can exist
};

// The slots of a batch. A monitor sends a batch at every pass, and a fresh allocation of this size
// each time was a fifth of the pass's own work, so one set is kept for the process and lent to one
// batch at a time; a batch sent while another thread holds it gets a set of its own. (Not kept per
// thread: with MinGW's emulated thread-local storage, a thread-local vector was destroyed after
// its storage had been freed when its thread ended, freeing a stray pointer.)
class SlotLease {
 public:
  explicit SlotLease(size_t count) : lock_(KeptMutex(), std::try_to_lock) {
    std::vector<Slot>& room = lock_.owns_lock() ? Kept() : own_;
    if (room.size() < count) room.resize(count);
    slots_ = std::span<Slot>(room.data(), count);
  }
  std::span<Slot> Slots() const { return slots_; }

 private:
  static std::mutex& KeptMutex() {
    static std::mutex mutex;
    return mutex;
  }
  static std::vector<Slot>& Kept() {
    static std::vector<Slot> kept;
    return kept;
  }

  std::unique_lock<std::mutex> lock_;
  std::vector<Slot> own_;
  std::span<Slot> slots_;
};

}  // namespace

void SendATACommands(DriveSystem& system, std::span<const FreshOpenCommand> commands,
                     std::vector<std::optional<ATACommandResult>>& results) {
  const size_t count = commands.size();
  results.assign(count, std::nullopt);
  const SlotLease lease(count);
  const std::span<Slot> slots = lease.Slots();
  for (size_t i = 0; i < count; ++i) {
    const FreshOpenCommand& command = commands[i];
    const AtaCommandRequest& r = command.request;
    Slot& slot = slots[i];
    const size_t size =
        FillAtaRequest(slot.buffer, r.ataFlags, r.current, r.dataLength, r.previous);
    slot.request = FreshOpenRequest{};
    slot.request.driveNumber = command.driveNumber;
    slot.request.request = std::span<uint8_t>(slot.buffer.data(), size);
    slot.catalogued = IsCatalogued(r);
    slot.sendable = slot.catalogued && IsDriveNumber(command.driveNumber);
  }
  const bool whole = system.SendsBatchesWhole();
  if (whole) {
    std::vector<FreshOpenRequest> batch;
    for (const Slot& slot : slots) {
      if (slot.sendable) batch.push_back(slot.request);
    }
    system.PassThroughEach(batch);
    for (size_t i = 0, next = 0; i < count; ++i) {
      if (slots[i].sendable) slots[i].request = batch[next++];
    }
  }
  for (size_t i = 0; i < count; ++i) {
    if (!ConditionHolds(commands[i].condition, i == 0 ? nullptr : &results[i - 1])) continue;
    Slot& slot = slots[i];
    if (!slot.catalogued) {
      results[i] = ATACommandResult{};
      continue;
    }
    if (!slot.sendable) continue;
    if (!whole) system.PassThroughEach(std::span<FreshOpenRequest>(&slot.request, 1));
    if (slot.request.opened) {
      results[i] = ResultOf(slot.request.request, slot.request.callSucceeded);
    }
  }
}

ATACommandResult SendATACommand(DriveHandle& handle, const AtaCommandRequest& request) {
  return SendATACommand(handle, request.ataFlags, request.current, request.dataLength,
                        request.previous);
}

std::string WindowsDrivePath(int driveNumber) {
  return "\\\\.\\PhysicalDrive" + std::to_string(driveNumber);
}

std::string LinuxDrivePath(int driveNumber) {
  // sda..sdz, then sdaa.. as the kernel names them.
  std::string suffix;
  int n = driveNumber;
  do {
    suffix.insert(suffix.begin(), static_cast<char>('a' + n % 26));
    n = n / 26 - 1;
  } while (n >= 0);
  return "/dev/sd" + suffix;
}

}  // namespace dv
