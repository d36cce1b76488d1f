// Simulated drives: a drive system whose disks are described by JSON files, for the tests, the
// demo and machines without ATA disks. Each drive answers the command catalogue with its real ATA
// meaning and aborts (ERR set) everything else.
#pragma once

#include <array>
#include <cstdint>
#include <map>
#include <memory>
#include <optional>
#include <set>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "core/DriveSystem.h"
#include "core/Ioctl.h"
#include "core/Nvme.h"

namespace dv {

using Sector = std::array<uint8_t, kSectorSize>;

// What S.M.A.R.T. RETURN STATUS answers.
enum class SimulatedSmartStatus {
  Ok,                 // LBA Mid/High 0x4F/0xC2
  ThresholdExceeded,  // LBA Mid/High 0xF4/0x2C
  Error,              // the command is aborted (ERR set)
};

// The power state CHECK POWER MODE reports. Any access to the medium (IDENTIFY, S.M.A.R.T. reads,
// sector reads) spins the drive up to Active.
enum class SimulatedPowerMode {
  Standby,  // Sector Count 00h
  Idle,     // 80h
  Active,   // FFh
};

// An NVMe controller in place of an ATA drive: its identify data, its health log, and how it
// answers. Without privilege every admin command is refused as the kernel refuses it, and the
// unprivileged readings (names, size, temperature, alarm) are taken from the same bytes.
struct SimulatedNvme {
  std::vector<uint8_t> identifyController = std::vector<uint8_t>(kNvmeIdentifySize, 0);
  std::vector<uint8_t> identifyNamespace = std::vector<uint8_t>(kNvmeIdentifySize, 0);
  std::vector<uint8_t> healthLog = std::vector<uint8_t>(kNvmeHealthLogSize, 0);
  bool privileged = true;
  std::set<NvmeAdminCommand> failures;  // answered with an error status
  bool failOpen = false;
};

// A finished self-test as the drive logs it.
struct SimulatedSelfTestEntry {
  uint8_t routine = 0x01;      // as the test was started (01h short, 02h extended, 03h conveyance)
  uint8_t status = 0;          // the status code, 0 completed ... 8, as in READ DATA byte 363
  int remainingPercent = 0;    // a multiple of 10
  uint16_t lifetimeHours = 0;  // power-on hours when it ended
  uint32_t lba = 0;            // the first failing LBA of a failed test
};

// One error of the drive's summary error log.
struct SimulatedAtaError {
  uint8_t command = 0;  // the failing command
  uint8_t features = 0;
  uint8_t error = kErrorUncorrectable;
  uint8_t status = kStatusReady | kStatusErr;
  uint32_t lba = 0;  // 28 bits
  uint16_t lifetimeHours = 0;
  uint32_t timestampMs = 0;
};

// Self-tests on a simulated drive, run against a clock the caller moves: a test started at
// clockMinutes = t ends at t + its polling minutes (a failing one half-way, with half left).
// Both an ATA drive and an NVMe controller use it; without it neither offers self-tests.
struct SimulatedSelfTest {
  bool conveyance = false;  // short and extended are always offered
  int shortMinutes = 2;
  int extendedMinutes = 60;
  int conveyanceMinutes = 5;
  std::vector<SimulatedSelfTestEntry> log;  // oldest first; the drive keeps the last 21 (NVMe 20)
  uint16_t errorCount = 0;                  // every error counted, at least errors.size()
  std::vector<SimulatedAtaError> errors;    // oldest first; the log keeps the last five
  uint16_t powerOnHours = 0;                // stamped on the tests that end
  std::optional<uint32_t> failAtLba;        // the next test started fails with a read failure here
  double clockMinutes = 0;
  // The test running now: its routine and when it started.
  std::optional<uint8_t> running;
  double startedAt = 0;
  bool runningFails = false;
};

// One simulated drive. Every field may be changed between two commands; the next command sees it.
struct SimulatedDrive {
  int driveNumber = 0;
  Sector identify{};
  Sector smartData{};
  Sector smartThresholds{};
  SimulatedSmartStatus smartStatus = SimulatedSmartStatus::Ok;
  SimulatedPowerMode powerMode = SimulatedPowerMode::Active;
  uint64_t nativeMaxAddress = 0;  // answer of READ NATIVE MAX ADDRESS EXT
  bool failOpen = false;
  std::set<AtaCommand> ioctlFailures;     // the platform call itself fails
  std::set<AtaCommand> errorBitFailures;  // the drive answers with ERR set
  int latencyMs = 0;                      // delay per command
  std::string imagePath;                  // disk image answering sector reads; empty for none
  std::map<uint64_t, Sector> sectors;     // sectors that override the image
  std::map<int, std::string> volumes;     // primary partition (1..4) -> volume name
  // Attribute and threshold sectors per S.M.A.R.T. read, so counters can change between passes:
  // each RETURN STATUS puts the next pair in smartData and smartThresholds (the first one puts
  // the first pair; after the last, the last stays). Empty: the sectors stay as they are.
  struct SmartPass {
    Sector data{};
    Sector thresholds{};
  };
  std::vector<SmartPass> smartPasses;
  size_t smartPassesServed = 0;
  std::optional<SimulatedSelfTest> selfTest;
  // Set for an NVMe controller: the drive number is then its controller number, and the ATA path
  // does not find it.
  std::optional<SimulatedNvme> nvme;
};

// Sets byte 511 so that all 512 bytes add up to 0 modulo 256 (the S.M.A.R.T. sector checksum, and
// the IDENTIFY integrity word's checksum when byte 510 holds its 0xA5 signature).
void SetSectorChecksum(std::span<uint8_t> sector);

class SimulatedDriveSystem : public DriveSystem {
 public:
  explicit SimulatedDriveSystem(std::vector<SimulatedDrive> drives);

  // PATH: a JSON file with one drive object or {"drives": [...]}, or a folder whose *.json files
  // (sorted by name) each hold one drive object. Null + error on a malformed file: one clear
  // message naming the file and the field.
  static std::unique_ptr<SimulatedDriveSystem> Load(const std::string& path, std::string& error);
  // The same from JSON text; baseDir resolves "image" paths, sourceName names it in errors.
  static std::unique_ptr<SimulatedDriveSystem> FromJsonText(std::string_view text,
                                                            const std::string& baseDir,
                                                            const std::string& sourceName,
                                                            std::string& error);

  DriveHandlePtr Open(int driveNumber) override;
  std::optional<std::string> VolumeName(int driveNumber, int partition) override;
  std::string DescribeDrive(int driveNumber) const override;
  NvmeHandlePtr OpenNvme(int controller) override;
  std::optional<NvmeUnprivilegedInfo> ReadNvmeUnprivileged(int controller) override;
  std::string NvmeDevicePath(int controller) const override;

  int OpenHandleCount() const { return openHandles_; }  // handles open right now
  int TotalOpens() const { return totalOpens_; }        // successful opens so far

  struct LoggedCommand {
    int driveNumber;
    std::string name;  // the catalogue name ("IDENTIFY"), or "0xNN" for a refused command byte
    bool refused;
  };
  // The requests passed, oldest first: at least the last kCommandLogLimit / 2 and never more than
  // kCommandLogLimit, so a long run on simulated drives keeps its memory flat.
  static constexpr size_t kCommandLogLimit = 4096;
  const std::vector<LoggedCommand>& CommandLog() const { return log_; }
  void ClearLog() { log_.clear(); }

  // Mutable, so tests can change a drive between calls. Null when there is no such drive.
  SimulatedDrive* FindDrive(int driveNumber);
  const std::vector<SimulatedDrive>& Drives() const { return drives_; }

 private:
  class Handle;
  friend class Handle;
  class NvmeControllerHandle;
  friend class NvmeControllerHandle;

  // One NVMe admin command on controller N; returns whether the controller completed it.
  bool ExecuteNvme(int controller, const NvmeAdminRequest& request, std::span<uint8_t> data,
                   bool& privilegeFailure);
  void Log(int driveNumber, std::string name, bool refused);

  // One request on drive N; returns whether the platform call succeeded.
  bool Execute(int driveNumber, std::span<uint8_t> request);

  std::vector<SimulatedDrive> drives_;
  std::vector<LoggedCommand> log_;
  int openHandles_ = 0;
  int totalOpens_ = 0;
};

}  // namespace dv
