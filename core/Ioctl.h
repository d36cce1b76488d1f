// The one path every ATA command takes: the canonical pass-through request, the command catalogue
// and its guard, OpenDrive and SendATACommand.
//
// The canonical request is the 32-bit ATA_PASS_THROUGH_EX header (40 bytes) followed, for commands
// that read a sector, by a 512-byte data area. Platform back ends translate it to their own
// interface and write the drive's returned registers back into the same header positions.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <optional>
#include <span>
#include <string>
#include <vector>

#include "core/AtaLayout.h"
#include "core/DriveSystem.h"

namespace dv {

// The eight task-file bytes in header order. On return `command` holds the Status register.
struct TaskFile {
  uint8_t features = 0;
  uint8_t sectorCount = 0;
  uint8_t lbaLow = 0;
  uint8_t lbaMid = 0;
  uint8_t lbaHigh = 0;
  uint8_t device = 0;
  uint8_t command = 0;
  uint8_t reserved = 0;

  bool operator==(const TaskFile&) const = default;
  std::array<uint8_t, 8> Bytes() const;
  static TaskFile FromBytes(std::span<const uint8_t, 8> bytes);
  uint8_t Status() const { return command; }
};

// AtaFlags bits of ATA_PASS_THROUGH_EX.
inline constexpr uint16_t kAtaFlagsDrdyRequired = 0x01;
inline constexpr uint16_t kAtaFlagsDataIn = 0x02;
inline constexpr uint16_t kAtaFlags48BitCommand = 0x08;

inline constexpr uint32_t kIoctlAtaPassThrough = 0x0004D02C;
inline constexpr size_t kRequestHeaderSize = 40;
inline constexpr size_t kDataRequestSize = kRequestHeaderSize + kSectorSize;  // 552
inline constexpr uint32_t kAtaTimeOutSeconds = 2;

// Byte offsets inside the 40-byte header (32-bit layout).
inline constexpr size_t kOffsetLength = 0;
inline constexpr size_t kOffsetAtaFlags = 2;
inline constexpr size_t kOffsetPathId = 4;
inline constexpr size_t kOffsetTargetId = 5;
inline constexpr size_t kOffsetLun = 6;
inline constexpr size_t kOffsetDataTransferLength = 8;
inline constexpr size_t kOffsetTimeOutValue = 12;
inline constexpr size_t kOffsetDataBufferOffset = 20;
inline constexpr size_t kOffsetPreviousTaskFile = 24;
inline constexpr size_t kOffsetCurrentTaskFile = 32;

// The header fields as a back end needs them.
struct AtaRequestHeader {
  uint16_t length = 0;
  uint16_t ataFlags = 0;
  uint32_t dataTransferLength = 0;
  uint32_t timeOutValue = 0;
  uint32_t dataBufferOffset = 0;
  TaskFile previous;
  TaskFile current;
};

// Builds a zero-filled request of 40 or 552 bytes (data length 0 or 512).
std::vector<uint8_t> BuildAtaRequest(uint16_t ataFlags, const TaskFile& current,
                                     uint32_t dataLength, const TaskFile& previous = {});
// The same into a caller's buffer; returns the request's size (40 or 552).
size_t FillAtaRequest(std::span<uint8_t, kDataRequestSize> buffer, uint16_t ataFlags,
                      const TaskFile& current, uint32_t dataLength, const TaskFile& previous = {});
// Reads the header of a canonical request; nullopt when the buffer is shorter than a header.
std::optional<AtaRequestHeader> ReadAtaRequestHeader(std::span<const uint8_t> request);
// Writes returned registers into the header of a canonical request (back ends use this).
void WriteReturnedRegisters(std::span<uint8_t> request, const TaskFile& current,
                            const TaskFile& previous);

// The command catalogue: everything the program ever sends. Nothing here writes a sector.
enum class AtaCommand {
  SmartEnable,
  Identify,
  ReadNativeMaxExt,
  SmartReadData,
  SmartAutoOffline,
  SmartAutosave,
  SmartReturnStatus,
  SmartReadThresholds,
  SetFeatures,
  ReadSectors,
  ReadSectorsExt,
  CheckPowerMode,  // reads the power state from the returned Sector Count; never spins up
  // S.M.A.R.T. EXECUTE OFF-LINE IMMEDIATE with a self-test routine in off-line mode (short,
  // extended, conveyance) or the abort of one: the drive reads its own medium and writes only its
  // own log.
  SmartExecuteOffline,
  SmartReadLog,  // S.M.A.R.T. READ LOG of the log directory, summary error log or self-test log
};
inline constexpr AtaCommand kLastAtaCommand = AtaCommand::SmartReadLog;
// Upper-case names, as the simulation files spell them ("SMART_ENABLE", "IDENTIFY", ...).
const char* AtaCommandName(AtaCommand command);
std::optional<AtaCommand> AtaCommandFromName(std::string_view name);

// One fully specified request of the catalogue.
struct AtaCommandRequest {
  uint16_t ataFlags = 0;
  TaskFile current;
  TaskFile previous;
  uint32_t dataLength = 0;
};

// Device/Head values: 0xA0 or 0x40 with bit 4 set to the lowest bit of the drive number.
uint8_t DeviceHeadFor(int driveNumber);
uint8_t LbaDeviceHeadFor(int driveNumber);

// The fixed catalogue commands (everything except SET FEATURES, the sector reads, the self-test
// routines and the logs).
AtaCommandRequest MakeAtaCommand(AtaCommand command, int driveNumber);
// SET FEATURES with one of the AAM/APM subcommands 0x42, 0xC2, 0x05, 0x85.
AtaCommandRequest MakeSetFeatures(int driveNumber, uint8_t subcommand, uint8_t level);
// EXECUTE OFF-LINE IMMEDIATE with routine kSelfTestShort, kSelfTestExtended, kSelfTestConveyance
// or kSelfTestAbort.
AtaCommandRequest MakeSmartSelfTest(int driveNumber, uint8_t routine);
// READ LOG of one sector at kLogDirectory, kLogSummaryError or kLogSelfTest.
AtaCommandRequest MakeSmartReadLog(int driveNumber, uint8_t logAddress);
// READ SECTOR(S) (28-bit, LBA bits 27..24 in the device register) or READ SECTOR(S) EXT.
AtaCommandRequest MakeReadSector(int driveNumber, uint64_t lba, bool ext);

// The guard: which catalogue command a request is, or nullopt when it is none of them.
std::optional<AtaCommand> ClassifyAtaCommand(uint16_t ataFlags, const TaskFile& current,
                                             const TaskFile& previous, uint32_t dataLength);

struct ATACommandResult {
  bool success = false;        // the platform call succeeded and ERR is clear
  bool callSucceeded = false;  // the platform call alone (AAM/APM look only at this)
  TaskFile current;            // returned registers
  TaskFile previous;
  std::array<uint8_t, kSectorSize> data{};  // the sector read, for data commands
};

// Whether N can name a drive at all (the helper's protocol carries it in one byte).
inline bool IsDriveNumber(int driveNumber) { return driveNumber >= 0 && driveNumber <= 255; }

// Opens drive N; a null handle is the failure. The handle closes itself.
DriveHandlePtr OpenDrive(DriveSystem& system, int driveNumber);

// One exchange. Requests outside the catalogue are refused before any device sees them.
ATACommandResult SendATACommand(DriveHandle& handle, uint16_t ataFlags, const TaskFile& current,
                                uint32_t dataLength, const TaskFile& previous = {});
ATACommandResult SendATACommand(DriveHandle& handle, const AtaCommandRequest& request);

// A command of a batch and when it is sent, judged on the entry before it in the batch: always,
// when that one's drive opened, or when that one succeeded.
enum class SendCondition { Always, PreviousOpened, PreviousSucceeded };
struct FreshOpenCommand {
  int driveNumber = 0;
  AtaCommandRequest request;
  SendCondition condition = SendCondition::Always;
};

// Each command on its own open of its drive, as SendATACommand on a fresh OpenDrive one after the
// other would send it; nullopt where the drive did not open or the condition kept it back. A
// back end that sends batches whole may carry a command whose condition then fails (read-only,
// like all of the catalogue); its result is dropped. Requests outside the catalogue are refused.
std::vector<std::optional<ATACommandResult>> SendATACommands(
    DriveSystem& system, std::span<const FreshOpenCommand> commands);
// The same into a vector of the caller's, whose room serves again: a monitor sends a batch at
// every pass.
void SendATACommands(DriveSystem& system, std::span<const FreshOpenCommand> commands,
                     std::vector<std::optional<ATACommandResult>>& results);

// Device names of drive N on each platform ("\\.\PhysicalDrive12", "/dev/sdm").
std::string WindowsDrivePath(int driveNumber);
std::string LinuxDrivePath(int driveNumber);

}  // namespace dv
