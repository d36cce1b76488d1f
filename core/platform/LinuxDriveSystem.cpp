// The Linux back end: drive N is /dev/sdX, and each request travels as one ATA PASS-THROUGH (16)
// command through SG_IO. The block device is opened read-only and non-blocking: opened for writing,
// udev re-probes the disk when it is closed, and a sleeping SATA disk may spin up. SG_IO with ATA
// PASS-THROUGH needs CAP_SYS_RAWIO on the block device (root, or the capability set on the
// program); without it every command fails with EPERM and no drive is listed.
#include "core/platform/LinuxDriveSystem.h"

#include <fcntl.h>
#include <scsi/sg.h>
#include <sys/ioctl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <array>
#include <cerrno>
#include <fstream>
#include <sstream>

#include "core/DriveSystem.h"
#include "core/Ioctl.h"
#include "core/SatCdb.h"
#include "core/platform/FileDescriptor.h"
#include "core/platform/LinuxNvme.h"

namespace dv {
namespace {

constexpr size_t kSenseBufferSize = 64;
constexpr char kMountsFile[] = "/proc/self/mounts";
constexpr char kSysBlock[] = "/sys/block";

// access() on a plain string: asked 32 times at every start, where std::filesystem would split
// each path into its parts first.
bool Exists(const std::string& path) { return access(path.c_str(), F_OK) == 0; }

// The SG_IO call and nothing else: every decision is made by the pure SAT functions.
SgIoReply IssueSgIo(int fd, SatCommand& sat, std::span<uint8_t> data, uint32_t timeoutMs,
                    std::span<uint8_t> sense) {
  sg_io_hdr_t io{};
  io.interface_id = 'S';
  io.cmd_len = static_cast<unsigned char>(sat.cdb.size());
  io.cmdp = sat.cdb.data();
  io.mx_sb_len = static_cast<unsigned char>(sense.size());
  io.sbp = sense.data();
  io.dxfer_direction = sat.dataIn ? SG_DXFER_FROM_DEV : SG_DXFER_NONE;
  io.dxfer_len = sat.dataIn ? static_cast<unsigned int>(data.size()) : 0;
  io.dxferp = sat.dataIn ? data.data() : nullptr;
  io.timeout = timeoutMs;

  SgIoReply reply;
  reply.ioctlSucceeded = ioctl(fd, SG_IO, &io) == 0;
  if (!reply.ioctlSucceeded) reply.ioctlError = errno;
  reply.hostStatus = static_cast<uint8_t>(io.host_status);
  reply.driverStatus = io.driver_status;
  reply.scsiStatus = io.status;
  reply.residue = io.resid;
  reply.sense = sense.first(std::min<size_t>(io.sb_len_wr, sense.size()));
  return reply;
}

class LinuxDriveHandle : public DriveHandle {
 public:
  LinuxDriveHandle(int fd, bool& refused) : fd_(fd), refused_(refused) {}

  bool PassThrough(std::span<uint8_t> request) override {
    // Only the catalogue's requests in their canonical shape go to a device, whoever calls.
    const auto header = ReadAtaRequestHeader(request);
    auto sat = BuildSatCommand(request);
    if (!header || !sat ||
        !ClassifyAtaCommand(header->ataFlags, header->current, header->previous,
                            header->dataTransferLength)) {
      return false;
    }
    std::span<uint8_t> data = request.subspan(kRequestHeaderSize);
    std::array<uint8_t, kSenseBufferSize> sense{};
    const SgIoReply reply = IssueSgIo(fd_.Get(), *sat, data, header->timeOutValue * 1000, sense);
    if (reply.ioctlError == EPERM || reply.ioctlError == EACCES) refused_ = true;
    const SatOutcome outcome = ReadSatReply(*sat, reply);

    WriteReturnedRegisters(request, outcome.current, outcome.previous);
    if (!outcome.callSucceeded) std::fill(data.begin(), data.end(), uint8_t{0});
    return outcome.callSucceeded;
  }

 private:
  FileDescriptor fd_;
  bool& refused_;
};

// /proc/self/mounts escapes blanks, tabs, newlines and backslashes in octal (\040 ...).
bool IsOctalEscape(const std::string& field, size_t at) {
  if (field[at] != '\\' || at + 4 > field.size()) return false;
  for (size_t i = at + 1; i < at + 4; ++i) {
    if (field[i] < '0' || field[i] > '7') return false;
  }
  return true;
}

std::string UnescapeMountField(const std::string& field) {
  std::string out;
  for (size_t i = 0; i < field.size(); ++i) {
    if (IsOctalEscape(field, i)) {
      out.push_back(static_cast<char>((field[i + 1] - '0') * 64 + (field[i + 2] - '0') * 8 +
                                      (field[i + 3] - '0')));
      i += 3;
    } else {
      out.push_back(field[i]);
    }
  }
  return out;
}

std::optional<dev_t> BlockDeviceNumber(const std::string& path) {
  struct stat st {};
  if (stat(path.c_str(), &st) != 0 || !S_ISBLK(st.st_mode)) return std::nullopt;
  return st.st_rdev;
}

class LinuxDriveSystem : public DriveSystem {
 public:
  DrivePresence PresenceOf(int driveNumber) const override {
    const std::string device = LinuxDrivePath(driveNumber);
    return SysfsBlockPresence(kSysBlock, device.substr(device.rfind('/') + 1));
  }
  DrivePresence NvmePresenceOf(int controller) const override {
    return SysfsNvmePresence(kSysBlock, kSysClassNvme, controller);
  }

  DriveHandlePtr Open(int driveNumber) override {
    const int fd = OpenDevice(driveNumber);
    if (fd < 0) return nullptr;
    return std::make_unique<LinuxDriveHandle>(fd, refused_);
  }

  // As the default, with each handle on the stack: a monitoring pass sends six or more.
  void PassThroughEach(std::span<FreshOpenRequest> requests) override {
    for (FreshOpenRequest& each : requests) {
      const int fd = OpenDevice(each.driveNumber);
      if (fd < 0) continue;
      LinuxDriveHandle handle(fd, refused_);
      each.callSucceeded = handle.PassThrough(each.request);
      each.opened = true;
    }
  }

  // The mount point of /dev/sdXk. A mount may name the partition through another node (a
  // /dev/disk/by-... link), so sources are compared by device number.
  std::optional<std::string> VolumeName(int driveNumber, int partition) override {
    if (partition < 1) return std::nullopt;
    const auto wanted = BlockDeviceNumber(LinuxDrivePath(driveNumber) + std::to_string(partition));
    if (!wanted) return std::nullopt;
    std::ifstream mounts(kMountsFile);
    std::string line;
    while (std::getline(mounts, line)) {
      std::istringstream fields(line);
      std::string source;
      std::string mountPoint;
      if (!(fields >> source >> mountPoint) || source.empty() || source[0] != '/') continue;
      if (BlockDeviceNumber(UnescapeMountField(source)) == wanted) {
        return UnescapeMountField(mountPoint);
      }
    }
    return std::nullopt;
  }

  std::string DescribeDrive(int driveNumber) const override { return LinuxDrivePath(driveNumber); }

  NvmeHandlePtr OpenNvme(int controller) override {
    return OpenLinuxNvme(LinuxNvmePath(controller), nvmeRefused_);
  }
  std::optional<NvmeUnprivilegedInfo> ReadNvmeUnprivileged(int controller) override {
    return ReadLinuxNvmeSysfs(kSysClassNvme, controller);
  }
  std::string NvmeDevicePath(int controller) const override { return LinuxNvmePath(controller); }

  std::string PrivilegeProblem() const override {
    if (!refused_) return {};
    return "The disks refused access: ATA pass-through needs root, or CAP_SYS_RAWIO "
           "(setcap cap_sys_rawio+ep) with read access to /dev/sd* (the disk group).";
  }

 private:
  int OpenDevice(int driveNumber) {
    const int fd = open(LinuxDrivePath(driveNumber).c_str(), O_RDONLY | O_NONBLOCK | O_CLOEXEC);
    if (fd < 0 && (errno == EACCES || errno == EPERM)) refused_ = true;
    return fd;
  }

  bool refused_ = false;      // the kernel said EPERM or EACCES to an open or a command
  bool nvmeRefused_ = false;  // the same for an NVMe controller (its sysfs readings stand in)
};

}  // namespace

DrivePresence SysfsBlockPresence(const std::string& blockRoot, const std::string& blockName) {
  if (!Exists(blockRoot)) return DrivePresence::Unknown;
  return Exists(blockRoot + "/" + blockName) ? DrivePresence::Present : DrivePresence::Absent;
}

DrivePresence SysfsNvmePresence(const std::string& blockRoot, const std::string& nvmeClassRoot,
                                int controller) {
  if (!Exists(blockRoot)) return DrivePresence::Unknown;
  return Exists(nvmeClassRoot + "/nvme" + std::to_string(controller)) ? DrivePresence::Present
                                                                      : DrivePresence::Absent;
}

std::unique_ptr<DriveSystem> CreateLinuxDriveSystem() {
  return std::make_unique<LinuxDriveSystem>();
}

}  // namespace dv
