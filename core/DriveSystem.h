// The seam between the program and the machine's disks: open drive N, pass one canonical
// pass-through request through, close. Linux (SG_IO), Windows (IOCTL_ATA_PASS_THROUGH) and the
// simulated drives implement it; tests hand in their own.
#pragma once

#include <cstdint>
#include <memory>
#include <optional>
#include <span>
#include <string>

namespace dv {

class DriveHandle {
 public:
  virtual ~DriveHandle() = default;
  // Carries one canonical request (40-byte header, plus 512 data bytes for a sector read) to the
  // drive and writes the returned registers and data back into it. Returns whether the platform
  // call itself succeeded; the ERR bit is judged by the caller.
  virtual bool PassThrough(std::span<uint8_t> request) = 0;
  // True when the drive turned out not to be open after all: a handle whose open was sent ahead
  // of its first command and refused. The caller treats it as a drive that did not open.
  virtual bool OpenFailed() const { return false; }
};

// Closing is the handle's destruction, so every path closes it.
using DriveHandlePtr = std::unique_ptr<DriveHandle>;

struct NvmeAdminRequest;

// An open NVMe controller. Only SendNvmeCommand (core/Nvme.h) calls it, after the guard.
class NvmeHandle {
 public:
  virtual ~NvmeHandle() = default;
  // Carries one admin command that reads `data.size()` (the request's length) bytes. Returns
  // whether the call succeeded and the controller completed it with status 0.
  virtual bool AdminCommand(const NvmeAdminRequest& request, std::span<uint8_t> data) = 0;
  // Set when the last failure was the system refusing the command for lack of privilege.
  virtual bool LastFailureWasPrivilege() const { return false; }
};
using NvmeHandlePtr = std::unique_ptr<NvmeHandle>;

// What the kernel publishes about an NVMe controller without privilege.
struct NvmeUnprivilegedInfo {
  std::string ModelNumber;
  std::string SerialNumber;
  std::string FirmwareRevision;
  uint16_t PciVendorId = 0;
  uint64_t SizeBytes = 0;                            // of the first namespace; 0 when unknown
  std::optional<long long> TemperatureMillidegrees;  // composite temperature
  bool TemperatureAlarm = false;                     // any alarm file reads 1
};

// One canonical request to carry on a fresh open of its drive, as part of a batch; the back end
// writes the returned registers and data into `request` and fills in the two results.
struct FreshOpenRequest {
  int driveNumber = 0;
  std::span<uint8_t> request;
  bool opened = false;         // the drive opened for it
  bool callSucceeded = false;  // PassThrough's result
};

// What the system says about a drive before anything opens it.
enum class DrivePresence {
  Absent,   // the system knows of no such drive: it is not opened
  Present,  // the system lists it
  Unknown,  // the system cannot tell: opening it decides
};

class DriveSystem {
 public:
  virtual ~DriveSystem() = default;
  // Drive number N (0-based); null when the drive cannot be opened.
  virtual DriveHandlePtr Open(int driveNumber) = 0;
  // The volume name (drive letter or mount point) of primary partition k (1..4) of drive N.
  virtual std::optional<std::string> VolumeName(int driveNumber, int partition) = 0;
  // What a person would call drive N on this system, for messages.
  virtual std::string DescribeDrive(int driveNumber) const = 0;
  // Set once the system refused a drive or a command for lack of privilege, so a caller that found
  // no drive can say why; empty otherwise.
  virtual std::string PrivilegeProblem() const { return {}; }

  // Asked once per drive number and controller during enumeration, before any open, so that an
  // absent drive costs no open at all. The default cannot tell.
  virtual DrivePresence PresenceOf(int /*driveNumber*/) const { return DrivePresence::Unknown; }
  virtual DrivePresence NvmePresenceOf(int /*controller*/) const { return DrivePresence::Unknown; }

  // NVMe controller N (0..15), opened read-only; null when there is none or it cannot be opened.
  virtual NvmeHandlePtr OpenNvme(int /*controller*/) { return nullptr; }

  // Whether PassThroughEach costs less than the requests one by one (a back end that pays per
  // round trip): the guard then sends a batch whole and drops what it would not have sent.
  virtual bool SendsBatchesWhole() const { return false; }
  // Each request on its own open, close after it, in order; every one is sent. The default opens
  // and sends them in turn.
  virtual void PassThroughEach(std::span<FreshOpenRequest> requests) {
    for (FreshOpenRequest& each : requests) {
      DriveHandlePtr handle = Open(each.driveNumber);
      if (!handle) continue;
      each.callSucceeded = handle->PassThrough(each.request);
      each.opened = !handle->OpenFailed();
    }
  }
  // Controller N as the kernel publishes it to everyone; nullopt when there is no such controller.
  virtual std::optional<NvmeUnprivilegedInfo> ReadNvmeUnprivileged(int /*controller*/) {
    return std::nullopt;
  }
  // The controller's device ("/dev/nvme0").
  virtual std::string NvmeDevicePath(int controller) const {
    return "/dev/nvme" + std::to_string(controller);
  }
};

// The machine's own drives: SG_IO on Linux, IOCTL_ATA_PASS_THROUGH on Windows.
std::unique_ptr<DriveSystem> CreatePlatformDriveSystem();

}  // namespace dv
