#include "core/SimulatedDrives.h"

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <fstream>
#include <thread>

#include "core/AtaLayout.h"
#include "core/Identify.h"
#include "core/LittleEndian.h"
#include "core/NvmeLayout.h"
#include "core/SimulatedSectors.h"
#include "core/SimulationFile.h"

namespace dv {
namespace {

constexpr uint8_t kStatusAborted = kStatusReady | kStatusErr;

struct Reply {
  TaskFile current;
  TaskFile previous;
};

Reply Completed(const AtaRequestHeader& header) {
  Reply reply{header.current, header.previous};
  reply.current.features = 0;  // Error register
  reply.current.command = kStatusReady;
  return reply;
}

Reply Aborted(const AtaRequestHeader& header, uint8_t error = kErrorAbort) {
  Reply reply{header.current, header.previous};
  reply.current.features = error;
  reply.current.command = kStatusAborted;
  return reply;
}

bool HasBit(const Sector& identify, size_t word, uint16_t bit) {
  return (Word(identify, word) & bit) != 0;
}

void ChangeWord(Sector& identify, size_t word, uint16_t value) {
  PutLe16(identify, 2 * word, value);
  if (identify[kIntegritySignatureByte] == kIntegritySignature) SetSectorChecksum(identify);
}

void SetBit(Sector& identify, size_t word, uint16_t bit, bool on) {
  const uint16_t old = Word(identify, word);
  ChangeWord(identify, word, static_cast<uint16_t>(on ? (old | bit) : (old & ~bit)));
}

void SetLowByte(Sector& identify, size_t word, uint8_t low) {
  ChangeWord(identify, word, static_cast<uint16_t>((Word(identify, word) & 0xFF00) | low));
}

bool SmartEnabled(const SimulatedDrive& drive) {
  return HasBit(drive.identify, kIdWordFeaturesEnabled, kIdBitSmart);
}

bool Lba48Enabled(const SimulatedDrive& drive) { return IdentifyLBA48(drive.identify); }

Reply ReturnStatus(const SimulatedDrive& drive, const AtaRequestHeader& header) {
  if (drive.smartStatus == SimulatedSmartStatus::Error) return Aborted(header);
  Reply reply = Completed(header);
  const bool good = drive.smartStatus == SimulatedSmartStatus::Ok;
  reply.current.lbaMid = good ? kSmartStatusGoodMid : kSmartStatusBadMid;
  reply.current.lbaHigh = good ? kSmartStatusGoodHigh : kSmartStatusBadHigh;
  return reply;
}

Reply ReadNativeMax(const SimulatedDrive& drive, const AtaRequestHeader& header) {
  if (!Lba48Enabled(drive)) return Aborted(header);
  Reply reply = Completed(header);
  const uint64_t max = drive.nativeMaxAddress;
  reply.current.lbaLow = static_cast<uint8_t>(max);
  reply.current.lbaMid = static_cast<uint8_t>(max >> 8);
  reply.current.lbaHigh = static_cast<uint8_t>(max >> 16);
  reply.previous.lbaLow = static_cast<uint8_t>(max >> 24);
  reply.previous.lbaMid = static_cast<uint8_t>(max >> 32);
  reply.previous.lbaHigh = static_cast<uint8_t>(max >> 40);
  return reply;
}

// AAM levels 0..254 and APM levels 1..254 are accepted; 255 (and APM 0) are reserved.
Reply SetFeatures(SimulatedDrive& drive, const AtaRequestHeader& header) {
  const uint8_t level = header.current.sectorCount;
  Sector& id = drive.identify;
  switch (header.current.features) {
    case kSetFeaturesEnableAam:
    case kSetFeaturesDisableAam:
      if (!HasBit(id, kIdWordFeaturesSupported2, kIdBitAam)) return Aborted(header);
      if (header.current.features == kSetFeaturesDisableAam) {
        SetBit(id, kIdWordFeaturesEnabled2, kIdBitAam, false);
        break;
      }
      if (level == 0xFF) return Aborted(header);
      SetBit(id, kIdWordFeaturesEnabled2, kIdBitAam, true);
      SetLowByte(id, kIdWordAamLevel, level);
      break;
    case kSetFeaturesEnableApm:
    case kSetFeaturesDisableApm:
      if (!HasBit(id, kIdWordFeaturesSupported2, kIdBitApm)) return Aborted(header);
      if (header.current.features == kSetFeaturesDisableApm) {
        SetBit(id, kIdWordFeaturesEnabled2, kIdBitApm, false);
        break;
      }
      if (level == 0 || level == 0xFF) return Aborted(header);
      SetBit(id, kIdWordFeaturesEnabled2, kIdBitApm, true);
      SetLowByte(id, kIdWordApmLevel, level);
      break;
    default:
      return Aborted(header);
  }
  return Completed(header);
}

// One sector of the drive's medium: the overrides first, then the image, else zeros.
bool ReadMedium(const SimulatedDrive& drive, uint64_t lba, std::span<uint8_t> out) {
  std::fill(out.begin(), out.end(), uint8_t{0});
  if (auto it = drive.sectors.find(lba); it != drive.sectors.end()) {
    std::copy(it->second.begin(), it->second.end(), out.begin());
    return true;
  }
  if (drive.imagePath.empty()) return true;
  std::ifstream image(drive.imagePath, std::ios::binary);
  if (!image) return false;
  image.seekg(static_cast<std::streamoff>(lba * kSectorSize));
  if (!image) return true;  // past the end of the image: zeros
  image.read(reinterpret_cast<char*>(out.data()), static_cast<std::streamsize>(out.size()));
  return true;
}

Reply ReadSector(const SimulatedDrive& drive, const AtaRequestHeader& header, bool ext,
                 std::span<uint8_t> data) {
  if (ext && !Lba48Enabled(drive)) return Aborted(header);
  const TaskFile& cur = header.current;
  uint64_t lba = cur.lbaLow | (uint64_t{cur.lbaMid} << 8) | (uint64_t{cur.lbaHigh} << 16);
  if (ext) {
    const TaskFile& prev = header.previous;
    lba |= (uint64_t{prev.lbaLow} << 24) | (uint64_t{prev.lbaMid} << 32) |
           (uint64_t{prev.lbaHigh} << 40);
  } else {
    lba |= uint64_t{cur.device & 0x0Fu} << 24;
  }
  // A drive built by hand without a capacity in its IDENTIFY sector reads everywhere.
  const uint64_t capacity = UserSectors(drive.identify);
  if (capacity != 0 && lba >= capacity) return Aborted(header, kErrorIdNotFound);
  if (!ReadMedium(drive, lba, data)) return Aborted(header, kErrorUncorrectable);
  return Completed(header);
}

Reply CopyOut(const Sector& sector, const AtaRequestHeader& header, std::span<uint8_t> data) {
  std::copy(sector.begin(), sector.end(), data.begin());
  return Completed(header);
}

Reply CheckPowerMode(const SimulatedDrive& drive, const AtaRequestHeader& header) {
  Reply reply = Completed(header);
  switch (drive.powerMode) {
    case SimulatedPowerMode::Standby:
      reply.current.sectorCount = kPowerModeStandby;
      break;
    case SimulatedPowerMode::Idle:
      reply.current.sectorCount = kPowerModeIdle;
      break;
    case SimulatedPowerMode::Active:
      reply.current.sectorCount = kPowerModeActiveOrIdle;
      break;
  }
  return reply;
}

int RoutineMinutes(const SimulatedSelfTest& t, uint8_t routine) {
  return routine == kSelfTestShort      ? t.shortMinutes
         : routine == kSelfTestExtended ? t.extendedMinutes
                                        : t.conveyanceMinutes;
}

// Tenths of the running test still to go, 1 to 9 while it runs.
int TenthsLeft(const SimulatedSelfTest& t) {
  const double total = std::max(RoutineMinutes(t, *t.running), 1);
  const double left = 1.0 - (t.clockMinutes - t.startedAt) / total;
  return std::clamp(static_cast<int>(left * 10 + 0.999), 1, 9);
}

// Logs the running test as ended with `status`.
void EndSelfTest(SimulatedSelfTest& t, uint8_t status, int remainingPercent, uint32_t lba) {
  t.log.push_back({*t.running, status, remainingPercent, t.powerOnHours, lba});
  t.running.reset();
}

// Ends the running test once the clock has passed its end: a failing one half-way.
void AdvanceSelfTest(SimulatedSelfTest& t) {
  if (!t.running) return;
  const double total = RoutineMinutes(t, *t.running);
  if (t.runningFails && t.clockMinutes - t.startedAt >= total / 2) {
    EndSelfTest(t, 7, 50, t.failAtLba.value_or(0));  // read failure
    t.failAtLba.reset();
  } else if (!t.runningFails && t.clockMinutes - t.startedAt >= total) {
    EndSelfTest(t, 0, 0, 0);
  }
}

// READ DATA byte 363: the running test's progress, else the last test's result.
uint8_t SelfTestStatusByte(const SimulatedSelfTest& t) {
  if (t.running) return static_cast<uint8_t>(kSelfTestStatusRunning << 4 | TenthsLeft(t));
  if (t.log.empty()) return 0;
  return static_cast<uint8_t>(t.log.back().status << 4 | t.log.back().remainingPercent / 10);
}

Reply ReadSmartData(SimulatedDrive& drive, const AtaRequestHeader& header,
                    std::span<uint8_t> data) {
  if (!drive.selfTest) return CopyOut(drive.smartData, header, data);
  AdvanceSelfTest(*drive.selfTest);
  Sector sector = drive.smartData;
  PutSelfTestState(sector, *drive.selfTest, SelfTestStatusByte(*drive.selfTest));
  return CopyOut(sector, header, data);
}

// Starts a routine, one test at a time; abort ends the running one (or none). Whether the drive
// took the command.
bool RunRoutine(SimulatedSelfTest& t, uint8_t routine) {
  AdvanceSelfTest(t);
  if (routine == kSelfTestAbort) {
    if (t.running) EndSelfTest(t, kSelfTestStatusAbortedByHost, TenthsLeft(t) * 10, 0);
    return true;
  }
  if (t.running || (routine == kSelfTestConveyance && !t.conveyance)) return false;
  t.running = routine;
  t.startedAt = t.clockMinutes;
  t.runningFails = t.failAtLba.has_value();
  return true;
}

Reply ExecuteOffline(SimulatedDrive& drive, const AtaRequestHeader& header) {
  return drive.selfTest && RunRoutine(*drive.selfTest, header.current.lbaLow) ? Completed(header)
                                                                              : Aborted(header);
}

Reply ReadLog(SimulatedDrive& drive, const AtaRequestHeader& header, std::span<uint8_t> data) {
  if (!drive.selfTest) return Aborted(header);
  SimulatedSelfTest& t = *drive.selfTest;
  AdvanceSelfTest(t);
  switch (header.current.lbaLow) {
    case kLogSelfTest:
      return CopyOut(BuildSelfTestLogSector(t.log), header, data);
    case kLogSummaryError:
      return CopyOut(BuildErrorLogSector(t.errorCount, t.errors), header, data);
    default: {
      // The directory: version 1, one sector each of logs 01h and 06h.
      Sector directory{};
      directory[0] = 1;
      directory[2 * kLogSummaryError] = 1;
      directory[2 * kLogSelfTest] = 1;
      return CopyOut(directory, header, data);
    }
  }
}

// A read of the verdict starts a pass: the drive's attributes move on to that pass's set.
void NextSmartPass(SimulatedDrive& drive) {
  if (drive.smartPasses.empty()) return;
  const size_t index = std::min(drive.smartPassesServed, drive.smartPasses.size() - 1);
  drive.smartData = drive.smartPasses[index].data;
  drive.smartThresholds = drive.smartPasses[index].thresholds;
  ++drive.smartPassesServed;
}

// Whether a command has to reach the medium, which spins a sleeping drive up. The S.M.A.R.T.
// switches and SET FEATURES are taken to be answered by the electronics alone, as is READ NATIVE
// MAX ADDRESS; CHECK POWER MODE exists precisely so that it never wakes the drive.
bool TouchesMedium(AtaCommand command) {
  switch (command) {
    case AtaCommand::Identify:
    case AtaCommand::SmartReadData:
    case AtaCommand::SmartReadThresholds:
    case AtaCommand::SmartReturnStatus:
    case AtaCommand::ReadSectors:
    case AtaCommand::ReadSectorsExt:
    case AtaCommand::SmartExecuteOffline:
    case AtaCommand::SmartReadLog:
      return true;
    default:
      return false;
  }
}

// The drive's answer to one catalogue command; `data` is the request's 512-byte data area (empty
// for commands without data).
Reply Answer(SimulatedDrive& drive, AtaCommand command, const AtaRequestHeader& header,
             std::span<uint8_t> data) {
  const bool smartOn = SmartEnabled(drive);
  switch (command) {
    case AtaCommand::SmartEnable:
      // Like the emulated QEMU disk: succeeds and leaves word 85 as it is.
      return Completed(header);
    case AtaCommand::Identify:
      return CopyOut(drive.identify, header, data);
    case AtaCommand::ReadNativeMaxExt:
      return ReadNativeMax(drive, header);
    case AtaCommand::SmartReadData:
      return smartOn ? ReadSmartData(drive, header, data) : Aborted(header);
    case AtaCommand::SmartReadThresholds:
      return smartOn ? CopyOut(drive.smartThresholds, header, data) : Aborted(header);
    case AtaCommand::SmartReturnStatus:
      if (smartOn) NextSmartPass(drive);
      return smartOn ? ReturnStatus(drive, header) : Aborted(header);
    case AtaCommand::SmartAutoOffline:
      return smartOn && (drive.smartData[kSmartOfflineCapabilityByte] & kSmartAutoOfflineBit)
                 ? Completed(header)
                 : Aborted(header);
    case AtaCommand::SmartAutosave:
      return smartOn && (drive.smartData[kSmartCapabilityOffset] & kSmartAutosaveBit)
                 ? Completed(header)
                 : Aborted(header);
    case AtaCommand::SetFeatures:
      return SetFeatures(drive, header);
    case AtaCommand::ReadSectors:
      return ReadSector(drive, header, false, data);
    case AtaCommand::ReadSectorsExt:
      return ReadSector(drive, header, true, data);
    case AtaCommand::CheckPowerMode:
      return CheckPowerMode(drive, header);
    case AtaCommand::SmartExecuteOffline:
      return smartOn ? ExecuteOffline(drive, header) : Aborted(header);
    case AtaCommand::SmartReadLog:
      return smartOn ? ReadLog(drive, header, data) : Aborted(header);
  }
  return Aborted(header);
}

// Device Self-test and the self-test log of a controller that offers them; the test codes 1h and 2h
// are the ATA routines' numbers, Fh the abort.
bool NvmeSelfTest(SimulatedSelfTest& t, NvmeAdminCommand command, std::span<uint8_t> data) {
  switch (command) {
    case NvmeAdminCommand::SelfTestShort:
      return RunRoutine(t, kSelfTestShort);
    case NvmeAdminCommand::SelfTestExtended:
      return RunRoutine(t, kSelfTestExtended);
    case NvmeAdminCommand::SelfTestAbort:
      return RunRoutine(t, kSelfTestAbort);
    default: {
      AdvanceSelfTest(t);
      const auto log = BuildNvmeSelfTestLog(t, t.clockMinutes - t.startedAt);
      std::copy_n(log.begin(), std::min(log.size(), data.size()), data.begin());
      return true;
    }
  }
}

std::string CommandByteName(uint8_t command) {
  char text[8];
  std::snprintf(text, sizeof text, "0x%02X", command);
  return text;
}

}  // namespace

void SetSectorChecksum(std::span<uint8_t> sector) {
  if (sector.size() != kSectorSize) return;
  uint8_t sum = 0;
  for (size_t i = 0; i < kChecksumByte; ++i) sum = static_cast<uint8_t>(sum + sector[i]);
  sector[kChecksumByte] = static_cast<uint8_t>(0x100 - sum);
}

// A handle counts itself open for as long as it lives.
class SimulatedDriveSystem::Handle : public DriveHandle {
 public:
  Handle(SimulatedDriveSystem& system, int driveNumber)
      : system_(system), driveNumber_(driveNumber) {
    ++system_.openHandles_;
  }
  ~Handle() override { --system_.openHandles_; }
  Handle(const Handle&) = delete;
  Handle& operator=(const Handle&) = delete;

  bool PassThrough(std::span<uint8_t> request) override {
    return system_.Execute(driveNumber_, request);
  }

 private:
  SimulatedDriveSystem& system_;
  int driveNumber_;
};

SimulatedDriveSystem::SimulatedDriveSystem(std::vector<SimulatedDrive> drives)
    : drives_(std::move(drives)) {}

std::unique_ptr<SimulatedDriveSystem> SimulatedDriveSystem::Load(const std::string& path,
                                                                 std::string& error) {
  std::vector<SimulatedDrive> drives;
  if (!LoadSimulationPath(path, drives, error)) return nullptr;
  return std::make_unique<SimulatedDriveSystem>(std::move(drives));
}

std::unique_ptr<SimulatedDriveSystem> SimulatedDriveSystem::FromJsonText(
    std::string_view text, const std::string& baseDir, const std::string& sourceName,
    std::string& error) {
  std::vector<SimulatedDrive> drives;
  if (!ParseSimulationText(text, baseDir, sourceName, drives, error)) return nullptr;
  return std::make_unique<SimulatedDriveSystem>(std::move(drives));
}

DriveHandlePtr SimulatedDriveSystem::Open(int driveNumber) {
  const SimulatedDrive* drive = FindDrive(driveNumber);
  if (drive == nullptr || drive->failOpen || drive->nvme) return nullptr;
  ++totalOpens_;
  return std::make_unique<Handle>(*this, driveNumber);
}

std::optional<std::string> SimulatedDriveSystem::VolumeName(int driveNumber, int partition) {
  const SimulatedDrive* drive = FindDrive(driveNumber);
  if (drive == nullptr) return std::nullopt;
  auto it = drive->volumes.find(partition);
  if (it == drive->volumes.end()) return std::nullopt;
  return it->second;
}

std::string SimulatedDriveSystem::DescribeDrive(int driveNumber) const {
  return "simulated drive " + std::to_string(driveNumber);
}

SimulatedDrive* SimulatedDriveSystem::FindDrive(int driveNumber) {
  auto it = std::find_if(drives_.begin(), drives_.end(),
                         [&](const SimulatedDrive& d) { return d.driveNumber == driveNumber; });
  return it == drives_.end() ? nullptr : &*it;
}

bool SimulatedDriveSystem::Execute(int driveNumber, std::span<uint8_t> request) {
  SimulatedDrive* drive = FindDrive(driveNumber);
  const auto header = ReadAtaRequestHeader(request);
  if (drive == nullptr || !header) return false;
  if (drive->latencyMs > 0)
    std::this_thread::sleep_for(std::chrono::milliseconds(drive->latencyMs));

  const uint32_t dataLength = header->dataTransferLength;
  const auto command =
      ClassifyAtaCommand(header->ataFlags, header->current, header->previous, dataLength);
  const std::string name =
      command ? AtaCommandName(*command) : CommandByteName(header->current.command);
  Log(driveNumber, name, !command);

  // A platform refuses a buffer that does not hold what its header announces.
  const bool wellFormed = header->length == kRequestHeaderSize &&
                          header->dataBufferOffset == kRequestHeaderSize &&
                          request.size() == kRequestHeaderSize + dataLength;
  if (command && !wellFormed) return false;
  if (command && drive->ioctlFailures.count(*command) != 0) return false;

  Reply reply;
  if (!command || drive->errorBitFailures.count(*command) != 0) {
    reply = Aborted(*header);
  } else {
    if (TouchesMedium(*command)) drive->powerMode = SimulatedPowerMode::Active;
    std::span<uint8_t> data = request.subspan(kRequestHeaderSize);
    reply = Answer(*drive, *command, *header, data);
  }
  WriteReturnedRegisters(request, reply.current, reply.previous);
  return true;
}

void SimulatedDriveSystem::Log(int driveNumber, std::string name, bool refused) {
  if (log_.size() >= kCommandLogLimit) {
    log_.erase(log_.begin(), log_.begin() + static_cast<std::ptrdiff_t>(kCommandLogLimit / 2));
  }
  log_.push_back({driveNumber, std::move(name), refused});
}

class SimulatedDriveSystem::NvmeControllerHandle : public NvmeHandle {
 public:
  NvmeControllerHandle(SimulatedDriveSystem& system, int controller)
      : system_(system), controller_(controller) {
    ++system_.openHandles_;
  }
  ~NvmeControllerHandle() override { --system_.openHandles_; }
  NvmeControllerHandle(const NvmeControllerHandle&) = delete;
  NvmeControllerHandle& operator=(const NvmeControllerHandle&) = delete;

  bool AdminCommand(const NvmeAdminRequest& request, std::span<uint8_t> data) override {
    return system_.ExecuteNvme(controller_, request, data, privilegeFailure_);
  }
  bool LastFailureWasPrivilege() const override { return privilegeFailure_; }

 private:
  SimulatedDriveSystem& system_;
  int controller_;
  bool privilegeFailure_ = false;
};

NvmeHandlePtr SimulatedDriveSystem::OpenNvme(int controller) {
  const SimulatedDrive* drive = FindDrive(controller);
  if (drive == nullptr || !drive->nvme || drive->nvme->failOpen) return nullptr;
  ++totalOpens_;
  return std::make_unique<NvmeControllerHandle>(*this, controller);
}

std::optional<NvmeUnprivilegedInfo> SimulatedDriveSystem::ReadNvmeUnprivileged(int controller) {
  const SimulatedDrive* drive = FindDrive(controller);
  if (drive == nullptr || !drive->nvme) return std::nullopt;
  const SimulatedNvme& nvme = *drive->nvme;
  NvmeUnprivilegedInfo info;
  if (const auto identity = DecodeNvmeIdentifyController(nvme.identifyController)) {
    info.ModelNumber = identity->ModelNumber;
    info.SerialNumber = identity->SerialNumber;
    info.FirmwareRevision = identity->FirmwareRevision;
    info.PciVendorId = identity->PciVendorId;
  }
  if (const auto size = DecodeNvmeIdentifyNamespace(nvme.identifyNamespace)) {
    info.SizeBytes = size->Bytes();
  }
  // What the kernel's sensor driver makes of the same log: millidegrees from K - 273.15, and the
  // alarm from the temperature bit of the critical warning.
  if (const auto health = DecodeNvmeHealthLog(nvme.healthLog)) {
    info.TemperatureMillidegrees = KelvinToMillidegrees(health->CompositeTemperatureK);
    info.TemperatureAlarm = (health->CriticalWarning & kNvmeWarningTemperature) != 0;
  }
  return info;
}

std::string SimulatedDriveSystem::NvmeDevicePath(int controller) const {
  return "simulated NVMe drive " + std::to_string(controller);
}

bool SimulatedDriveSystem::ExecuteNvme(int controller, const NvmeAdminRequest& request,
                                       std::span<uint8_t> data, bool& privilegeFailure) {
  privilegeFailure = false;
  SimulatedDrive* drive = FindDrive(controller);
  if (drive == nullptr || !drive->nvme) return false;
  if (drive->latencyMs > 0)
    std::this_thread::sleep_for(std::chrono::milliseconds(drive->latencyMs));
  const auto command = ClassifyNvmeAdminCommand(request);
  char opcodeName[16];
  std::snprintf(opcodeName, sizeof opcodeName, "NVMe 0x%02X", request.opcode);
  Log(controller, command ? NvmeAdminCommandName(*command) : opcodeName, !command);
  if (!command || data.size() != request.dataLength) return false;

  SimulatedNvme& nvme = *drive->nvme;
  if (!nvme.privileged) {
    privilegeFailure = true;
    return false;
  }
  if (nvme.failures.count(*command) != 0) return false;
  if (request.opcode == kNvmeOpcodeDeviceSelfTest || *command == NvmeAdminCommand::SelfTestLog) {
    return drive->selfTest && NvmeSelfTest(*drive->selfTest, *command, data);
  }
  std::vector<uint8_t> source =
      *command == NvmeAdminCommand::IdentifyController  ? nvme.identifyController
      : *command == NvmeAdminCommand::IdentifyNamespace ? nvme.identifyNamespace
                                                        : nvme.healthLog;
  if (*command == NvmeAdminCommand::IdentifyController && drive->selfTest) {
    source.resize(kNvmeIdentifySize);
    PutLe16(source, kNvmeIdOacs,
            static_cast<uint16_t>(Le16(source, kNvmeIdOacs) | kNvmeOacsSelfTest));
    PutLe16(source, kNvmeIdExtendedTestMinutes,
            static_cast<uint16_t>(drive->selfTest->extendedMinutes));
  }
  std::fill(data.begin(), data.end(), uint8_t{0});
  std::copy_n(source.begin(), std::min(source.size(), data.size()), data.begin());
  return true;
}

}  // namespace dv
