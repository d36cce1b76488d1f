// Drive self-tests and the drive's own logs: decoders of the self-test status and capability
// bytes of S.M.A.R.T. READ DATA, the ATA self-test log (06h) and summary error log (01h), the NVMe
// self-test log (log page 06h), and the rows both kinds of log are shown as. Pure functions over
// the bytes the drive returned; the commands that fetch them are in SelfTestDrive.cpp.
#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "core/AtaLayout.h"
#include "core/Drive.h"
#include "core/DriveSystem.h"
#include "core/NvmeLayout.h"

namespace dv {

// The self-test execution status byte (READ DATA byte 363, and byte 1 of each log descriptor).
struct SelfTestStatus {
  uint8_t Code = 0;  // bits 7:4: 0 completed, 1 aborted, 2 interrupted, 3-8 failed, Fh running
  int RemainingPercent = 0;  // bits 3:0 in tenths

  bool Running() const { return Code == kSelfTestStatusRunning; }
  bool Failed() const {
    return Code >= kSelfTestStatusFirstFailure && Code <= kSelfTestStatusLastFailure;
  }
};
SelfTestStatus DecodeSelfTestStatus(uint8_t byte);
// "completed without error", "aborted by the host", ..., "in progress"; "status N" for codes the
// drive's standard leaves unnamed.
std::string SelfTestStatusText(uint8_t code);

// What READ DATA says the drive can do (bytes 367, 370, 372-376).
struct SelfTestCapability {
  bool ExecuteOffline = false;  // byte 367 bit 0
  bool SelfTests = false;       // byte 367 bit 4: short and extended
  bool Conveyance = false;      // byte 367 bit 5
  bool ErrorLogging = false;    // byte 370 bit 0
  int ShortMinutes = 0;         // byte 372
  int ExtendedMinutes = 0;      // byte 373, or 375-376 when it reads FFh
  int ConveyanceMinutes = 0;    // byte 374

  // Whether EXECUTE OFF-LINE IMMEDIATE with this routine is offered; abort goes with any test.
  bool Offers(uint8_t routine) const;
  // The polling minutes of the routine, 0 when none is given.
  int PollingMinutes(uint8_t routine) const;
};
SelfTestCapability DecodeSelfTestCapability(std::span<const uint8_t> smartData);

// The name of a routine as logged in the descriptor's first byte ("short", "extended",
// "conveyance", "short (captive)", "off-line data collection", ...).
std::string SelfTestRoutineName(uint8_t routine);

// One descriptor of the ATA self-test log.
struct SelfTestLogEntry {
  uint8_t Routine = 0;
  SelfTestStatus Status;
  uint16_t LifetimeHours = 0;
  uint8_t Checkpoint = 0;
  uint32_t FailingLba = 0;  // as logged; meaningful only for a failed test
};
struct SelfTestLog {
  uint16_t Revision = 0;
  std::vector<SelfTestLogEntry> Entries;  // newest first, empty descriptors left out
};
// Nothing for a sector of the wrong size or an index beyond the 21 descriptors.
std::optional<SelfTestLog> DecodeSelfTestLog(std::span<const uint8_t> sector);

// The summary error log.
// The 28-bit LBA of a register set: low, mid, high and the device register's low nibble.
inline uint32_t Lba28(uint8_t low, uint8_t mid, uint8_t high, uint8_t device) {
  return static_cast<uint32_t>(low | mid << 8 | high << 16 | (device & 0x0F) << 24);
}
struct AtaErrorCommand {
  uint8_t DeviceControl = 0;
  uint8_t Features = 0;
  uint8_t Count = 0;
  uint8_t LbaLow = 0;
  uint8_t LbaMid = 0;
  uint8_t LbaHigh = 0;
  uint8_t Device = 0;
  uint8_t Command = 0;
  uint32_t TimestampMs = 0;  // since the drive powered up

  uint32_t Lba() const { return Lba28(LbaLow, LbaMid, LbaHigh, Device); }
};
struct AtaErrorRecord {
  std::vector<AtaErrorCommand> Commands;  // the failing command first, then the ones before it
  uint8_t Error = 0;
  uint8_t Count = 0;
  uint8_t LbaLow = 0;
  uint8_t LbaMid = 0;
  uint8_t LbaHigh = 0;
  uint8_t Device = 0;
  uint8_t Status = 0;
  uint8_t State = 0;
  uint16_t LifetimeHours = 0;

  uint32_t Lba() const { return Lba28(LbaLow, LbaMid, LbaHigh, Device); }
};
struct AtaErrorLog {
  uint8_t Version = 0;
  uint16_t Count = 0;                   // every error the drive has counted
  std::vector<AtaErrorRecord> Records;  // newest first, at most five
};
std::optional<AtaErrorLog> DecodeAtaErrorLog(std::span<const uint8_t> sector);

// The NVMe self-test log.
struct NvmeSelfTestResult {
  uint8_t Code = 0;    // the test: 1 short, 2 extended, Eh vendor specific
  uint8_t Result = 0;  // 0 completed without error ... 9; Fh unused
  uint8_t Segment = 0;
  uint64_t PowerOnHours = 0;
  std::optional<uint32_t> Namespace;
  std::optional<uint64_t> FailingLba;
  std::optional<uint8_t> StatusCodeType;
  std::optional<uint8_t> StatusCode;

  bool Failed() const {
    return Result >= kNvmeSelfTestFirstFailure && Result <= kNvmeSelfTestLastFailure;
  }
};
struct NvmeSelfTestLog {
  uint8_t CurrentOperation = 0;             // 0: none running, else the code of the running test
  uint8_t CurrentCompletion = 0;            // percent done
  std::vector<NvmeSelfTestResult> Results;  // newest first, unused entries left out
};
std::optional<NvmeSelfTestLog> DecodeNvmeSelfTestLog(std::span<const uint8_t> data);
std::string NvmeSelfTestResultText(uint8_t result);

// One self-test as the command line and the windows show it, whatever the kind of drive.
struct SelfTestRow {
  uint8_t Code = 0;  // the status code (ATA) or result (NVMe) as the drive logs it
  std::string Type;
  std::string Status;
  int RemainingPercent = 0;
  uint64_t LifetimeHours = 0;
  std::optional<uint64_t> FirstErrorLba;  // a failed test that names one
  bool Failed = false;
};
std::vector<SelfTestRow> SelfTestRows(const SelfTestLog& log);
std::vector<SelfTestRow> SelfTestRows(const NvmeSelfTestLog& log);

// --- On the drive (SelfTestDrive.cpp) ------------------------------------------------------------

enum class SelfTestKind { Short, Extended, Conveyance, Abort };
// "short", "extended", "conveyance", "abort".
std::optional<SelfTestKind> SelfTestKindFromName(std::string_view name);

struct SelfTestStart {
  enum class Outcome {
    Started,       // the drive took the command
    Refused,       // the drive refused or aborted it, or did not answer
    NotSupported,  // the drive's capability bits do not offer it: nothing was sent
  };
  Outcome outcome = Outcome::Refused;
  std::string reason;      // for Refused and NotSupported
  int pollingMinutes = 0;  // the drive's estimate for a test started, 0 when it gives none
};
// Starts (or aborts) a self-test on the drive in off-line mode, after checking that the drive
// offers it: READ DATA's capability bits on ATA, Identify Controller's OACS on NVMe.
SelfTestStart StartSelfTest(DriveSystem& system, const Drive& drive, SelfTestKind kind);

// The self-test log of a drive as rows, newest first, with the test running now.
struct SelfTestLogReading {
  bool read = false;
  std::string reason;  // why not, when not read
  std::vector<SelfTestRow> rows;
  bool running = false;
  int remainingPercent = 0;  // of the running test
};
SelfTestLogReading ReadSelfTestLog(DriveSystem& system, const Drive& drive);

// How many power-on hours ago the newest logged test ended, from the drive's hours now; nothing
// when no test is logged or the hours are unknown. The ATA log keeps the low 16 bits of the hours,
// so there the difference is taken modulo 65536.
std::optional<uint64_t> LastSelfTestAgeHours(const SelfTestLogReading& log, bool ata,
                                             std::optional<uint64_t> powerOnHoursNow);
// Whether a scheduled test is due on a drive: none running, and none logged or the newest `days`
// days old or older (an age that cannot be told counts as not due).
bool ScheduledSelfTestDue(const SelfTestLogReading& log, std::optional<uint64_t> ageHours,
                          int days);
// The drive's power-on hours from the sectors the monitoring read left (attribute 9, or the NVMe
// health log); nothing when they hold none.
std::optional<uint64_t> PowerOnHoursOf(const Drive& drive, std::span<const uint8_t> smartData,
                                       std::span<const uint8_t> nvmeHealthLog);

// The summary error log of an ATA drive.
struct ErrorLogReading {
  bool read = false;
  std::string reason;
  AtaErrorLog log;
};
ErrorLogReading ReadErrorLog(DriveSystem& system, const Drive& drive);

}  // namespace dv
