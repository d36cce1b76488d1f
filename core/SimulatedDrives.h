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
