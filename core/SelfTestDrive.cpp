// Self-tests and logs on a drive: each command on the guarded path, one open of the drive per
// request.
#include <algorithm>
#include <array>
#include <cstdio>

#include "core/Ioctl.h"
#include "core/LittleEndian.h"
#include "core/Nvme.h"
#include "core/SelfTest.h"
#include "core/SmartData.h"

namespace dv {
namespace {

constexpr std::array<const char*, 4> kKindNames{"short", "extended", "conveyance", "abort"};

uint8_t AtaRoutine(SelfTestKind kind) {
  switch (kind) {
    case SelfTestKind::Short:
      return kSelfTestShort;
    case SelfTestKind::Extended:
      return kSelfTestExtended;
    case SelfTestKind::Conveyance:
      return kSelfTestConveyance;
    case SelfTestKind::Abort:
      break;
  }
  return kSelfTestAbort;
}

std::string NoDrive(const Drive& drive) {
  return "drive " + std::to_string(drive.DriveNumber) + " could not be opened";
}

// Why a command the drive answered did not succeed.
std::string RefusalReason(const ATACommandResult& result, const char* what) {
  if (!result.callSucceeded) return std::string("the drive did not complete ") + what;
  char registers[64];
  std::snprintf(registers, sizeof registers, " (status %02Xh, error %02Xh)",
                result.current.Status(), result.current.features);
  return std::string("the drive aborted ") + what + registers;
}

std::optional<ATACommandResult> SendOnce(DriveSystem& system, int driveNumber,
                                         const AtaCommandRequest& request) {
  DriveHandlePtr handle = OpenDrive(system, driveNumber);
  if (!handle) return std::nullopt;
  const ATACommandResult result = SendATACommand(*handle, request);
  if (handle->OpenFailed()) return std::nullopt;
  return result;
}

// READ DATA, or nothing with the reason.
std::optional<std::array<uint8_t, kSectorSize>> ReadSmartData(DriveSystem& system,
                                                              const Drive& drive,
                                                              std::string& reason) {
  const auto result = SendOnce(system, drive.DriveNumber,
                               MakeAtaCommand(AtaCommand::SmartReadData, drive.DriveNumber));
  if (!result) {
    reason = NoDrive(drive);
    return std::nullopt;
  }
  if (!result->success) {
    reason = RefusalReason(*result, "S.M.A.R.T. READ DATA");
    return std::nullopt;
  }
  return result->data;
}

std::optional<std::array<uint8_t, kSectorSize>> ReadLogSector(DriveSystem& system,
                                                              const Drive& drive, uint8_t log,
                                                              std::string& reason) {
  const auto result = SendOnce(system, drive.DriveNumber, MakeSmartReadLog(drive.DriveNumber, log));
  if (!result) {
    reason = NoDrive(drive);
    return std::nullopt;
  }
  if (!result->success) {
    reason = RefusalReason(*result, "S.M.A.R.T. READ LOG");
    return std::nullopt;
  }
  return result->data;
}

SelfTestStart StartAta(DriveSystem& system, const Drive& drive, SelfTestKind kind) {
  SelfTestStart start;
  const auto smartData = ReadSmartData(system, drive, start.reason);
  if (!smartData) return start;
  const SelfTestCapability capability = DecodeSelfTestCapability(*smartData);
  const uint8_t routine = AtaRoutine(kind);
  if (!capability.Offers(routine)) {
    start.outcome = SelfTestStart::Outcome::NotSupported;
    start.reason =
        std::string("the drive does not offer ") +
        (kind == SelfTestKind::Abort ? "self-tests"
                                     : "a " + SelfTestRoutineName(routine) + " self-test");
    return start;
  }
  const auto result =
      SendOnce(system, drive.DriveNumber, MakeSmartSelfTest(drive.DriveNumber, routine));
  if (!result) {
    start.reason = NoDrive(drive);
  } else if (!result->success) {
    start.reason = RefusalReason(*result, "the self-test command");
  } else {
    start.outcome = SelfTestStart::Outcome::Started;
    start.pollingMinutes = capability.PollingMinutes(routine);
  }
  return start;
}

SelfTestStart StartNvme(DriveSystem& system, const Drive& drive, SelfTestKind kind) {
  SelfTestStart start;
  NvmeHandlePtr handle = system.OpenNvme(drive.DriveNumber);
  if (!handle) {
    start.reason = NoDrive(drive);
    return start;
  }
  const NvmeCommandResult identify = SendNvmeCommand(*handle, NvmeAdminCommand::IdentifyController);
  if (!identify.success) {
    start.reason = identify.privilegeFailure ? "reading the controller needs root"
                                             : "the controller did not answer Identify";
    return start;
  }
  const bool offered = (Le16(identify.data, kNvmeIdOacs) & kNvmeOacsSelfTest) != 0;
  if (!offered || kind == SelfTestKind::Conveyance) {
    start.outcome = SelfTestStart::Outcome::NotSupported;
    start.reason = offered ? "NVMe drives have no conveyance self-test"
                           : "the controller does not offer device self-tests";
    return start;
  }
  const NvmeAdminCommand command = kind == SelfTestKind::Short ? NvmeAdminCommand::SelfTestShort
                                   : kind == SelfTestKind::Extended
                                       ? NvmeAdminCommand::SelfTestExtended
                                       : NvmeAdminCommand::SelfTestAbort;
  const NvmeCommandResult result = SendNvmeCommand(*handle, command);
  if (!result.success) {
    start.reason = result.privilegeFailure ? "starting a self-test needs root"
                                           : "the controller refused the self-test command";
    return start;
  }
  start.outcome = SelfTestStart::Outcome::Started;
  if (kind == SelfTestKind::Extended)
    start.pollingMinutes = Le16(identify.data, kNvmeIdExtendedTestMinutes);
  return start;
}

SelfTestLogReading ReadNvmeLog(DriveSystem& system, const Drive& drive) {
  SelfTestLogReading reading;
  NvmeHandlePtr handle = system.OpenNvme(drive.DriveNumber);
  if (!handle) {
    reading.reason = NoDrive(drive);
    return reading;
  }
  const NvmeCommandResult result = SendNvmeCommand(*handle, NvmeAdminCommand::SelfTestLog);
  const auto log = result.success ? DecodeNvmeSelfTestLog(result.data) : std::nullopt;
  if (!log) {
    reading.reason = result.privilegeFailure ? "the self-test log needs root"
                                             : "the controller did not return its self-test log";
    return reading;
  }
  reading.read = true;
  reading.rows = SelfTestRows(*log);
  reading.running = log->CurrentOperation != 0;
  if (reading.running) reading.remainingPercent = 100 - std::min<int>(log->CurrentCompletion, 100);
  return reading;
}

}  // namespace

std::optional<SelfTestKind> SelfTestKindFromName(std::string_view name) {
  for (size_t i = 0; i < kKindNames.size(); ++i) {
    if (name == kKindNames[i]) return static_cast<SelfTestKind>(i);
  }
  return std::nullopt;
}

SelfTestStart StartSelfTest(DriveSystem& system, const Drive& drive, SelfTestKind kind) {
  return drive.IsNvme() ? StartNvme(system, drive, kind) : StartAta(system, drive, kind);
}

SelfTestLogReading ReadSelfTestLog(DriveSystem& system, const Drive& drive) {
  if (drive.IsNvme()) return ReadNvmeLog(system, drive);
  SelfTestLogReading reading;
  const auto smartData = ReadSmartData(system, drive, reading.reason);
  if (!smartData) return reading;
  const auto sector = ReadLogSector(system, drive, kLogSelfTest, reading.reason);
  if (!sector) return reading;
  const auto log = DecodeSelfTestLog(*sector);
  if (!log) {
    reading.reason = "the drive's self-test log is malformed";
    return reading;
  }
  const SelfTestStatus now = DecodeSelfTestStatus((*smartData)[kSmartSelfTestStatusByte]);
  reading.read = true;
  reading.rows = SelfTestRows(*log);
  reading.running = now.Running();
  reading.remainingPercent = now.Running() ? now.RemainingPercent : 0;
  return reading;
}

std::optional<uint64_t> LastSelfTestAgeHours(const SelfTestLogReading& log, bool ata,
                                             std::optional<uint64_t> powerOnHoursNow) {
  if (log.rows.empty() || !powerOnHoursNow) return std::nullopt;
  const uint64_t then = log.rows.front().LifetimeHours;
  if (ata) return (*powerOnHoursNow - then) & 0xFFFF;
  if (*powerOnHoursNow < then) return std::nullopt;
  return *powerOnHoursNow - then;
}

bool ScheduledSelfTestDue(const SelfTestLogReading& log, std::optional<uint64_t> ageHours,
                          int days) {
  if (!log.read || log.running || days <= 0) return false;
  if (log.rows.empty()) return true;
  return ageHours && *ageHours >= static_cast<uint64_t>(days) * 24;
}

std::optional<uint64_t> PowerOnHoursOf(const Drive& drive, std::span<const uint8_t> smartData,
                                       std::span<const uint8_t> nvmeHealthLog) {
  if (drive.IsNvme()) {
    const auto health = DecodeNvmeHealthLog(nvmeHealthLog);
    if (!health || health->PowerOnHours.High != 0) return std::nullopt;
    return health->PowerOnHours.Low;
  }
  const SMARTAttribute hours = FindSMARTAttribute(smartData, kAttributePowerOnHours);
  if (!hours.IsPresent()) return std::nullopt;
  // Some drives keep minutes or other counts in the upper bytes; the hours are the low 32 bits.
  return hours.Raw & 0xFFFFFFFF;
}

ErrorLogReading ReadErrorLog(DriveSystem& system, const Drive& drive) {
  ErrorLogReading reading;
  if (drive.IsNvme()) {
    reading.reason = "NVMe drives keep no ATA error log";
    return reading;
  }
  const auto sector = ReadLogSector(system, drive, kLogSummaryError, reading.reason);
  if (!sector) return reading;
  const auto log = DecodeAtaErrorLog(*sector);
  if (!log) {
    reading.reason = "the drive's error log is malformed";
    return reading;
  }
  reading.read = true;
  reading.log = *log;
  return reading;
}

}  // namespace dv
