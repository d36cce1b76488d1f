// NVMe controllers on Linux. The character device /dev/nvmeN takes admin commands through
// NVME_IOCTL_ADMIN_CMD; the kernel allows that only with CAP_SYS_ADMIN (newer kernels let anyone
// identify, but not read logs). Without it, the controller's sysfs folder still gives its names,
// its namespace's size and, through the kernel's own hwmon driver, the composite temperature and
// the temperature alarm.
#include "core/platform/LinuxNvme.h"

#include <fcntl.h>
#include <linux/nvme_ioctl.h>
#include <sys/ioctl.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <charconv>
#include <fstream>
#include <vector>

#include "core/Nvme.h"
#include "core/platform/FileDescriptor.h"

namespace dv {
namespace {

constexpr uint32_t kAdminTimeoutMs = 2000;
constexpr size_t kMaxSysfsText = 4096;

class LinuxNvmeHandle : public NvmeHandle {
 public:
  LinuxNvmeHandle(int fd, bool& refused) : fd_(fd), refused_(refused) {}

  bool AdminCommand(const NvmeAdminRequest& request, std::span<uint8_t> data) override {
    lastPrivilegeFailure_ = false;
    // Only the catalogue goes to the controller, whoever calls, and only into a buffer that
    // holds the whole transfer.
    if (!ClassifyNvmeAdminCommand(request) || data.size() != request.dataLength) return false;
    nvme_admin_cmd command{};
    command.opcode = request.opcode;
    command.nsid = request.namespaceId;
    command.cdw10 = request.cdw10;
    command.cdw11 = request.cdw11;
    command.addr = reinterpret_cast<uintptr_t>(data.data());
    command.data_len = request.dataLength;
    command.timeout_ms = kAdminTimeoutMs;
    const int status = ioctl(fd_.Get(), NVME_IOCTL_ADMIN_CMD, &command);
    if (status < 0 && (errno == EACCES || errno == EPERM)) {
      lastPrivilegeFailure_ = true;
      refused_ = true;
    }
    // A positive value is the controller's own error status.
    if (status != 0) std::fill(data.begin(), data.end(), uint8_t{0});
    return status == 0;
  }

  bool LastFailureWasPrivilege() const override { return lastPrivilegeFailure_; }

 private:
  FileDescriptor fd_;
  bool& refused_;
  bool lastPrivilegeFailure_ = false;
};

// A sysfs attribute's text without its trailing newline and padding; nullopt when unreadable.
std::optional<std::string> ReadAttribute(const std::filesystem::path& path) {
  std::ifstream in(path, std::ios::binary);
  if (!in) return std::nullopt;
  std::string text(kMaxSysfsText, '\0');
  in.read(text.data(), static_cast<std::streamsize>(text.size()));
  text.resize(static_cast<size_t>(in.gcount()));
  if (in.bad()) return std::nullopt;
  for (char& c : text) {
    const auto byte = static_cast<unsigned char>(c);
    if (byte < 0x20 || byte > 0x7E) c = ' ';
  }
  const size_t first = text.find_first_not_of(' ');
  if (first == std::string::npos) return std::string();
  return text.substr(first, text.find_last_not_of(' ') - first + 1);
}

template <typename T>
std::optional<T> ParseNumber(const std::string& text, int base = 10) {
  T value{};
  std::string_view digits = text;
  if (base == 16 && (digits.starts_with("0x") || digits.starts_with("0X"))) digits.remove_prefix(2);
  const auto [end, error] =
      std::from_chars(digits.data(), digits.data() + digits.size(), value, base);
  if (digits.empty() || error != std::errc() || end != digits.data() + digits.size()) {
    return std::nullopt;
  }
  return value;
}

template <typename T>
std::optional<T> ReadNumber(const std::filesystem::path& path, int base = 10) {
  const auto text = ReadAttribute(path);
  return text ? ParseNumber<T>(*text, base) : std::nullopt;
}

// The first namespace's size in bytes: nvmeNn1 beside the controller, else the lowest namespace
// that has a size (with native multipath the controller's folder holds nvmeNcMn1 instead).
uint64_t NamespaceBytes(const std::filesystem::path& controllerDir, int controller) {
  constexpr uint64_t kBlockSectorSize = 512;  // sysfs sizes are in 512-byte units, always
  const std::string name = "nvme" + std::to_string(controller);
  if (const auto sectors = ReadNumber<uint64_t>(controllerDir / (name + "n1") / "size")) {
    return *sectors > UINT64_MAX / kBlockSectorSize ? UINT64_MAX : *sectors * kBlockSectorSize;
  }
  std::error_code error;
  std::vector<std::filesystem::path> namespaces;
  for (const auto& entry : std::filesystem::directory_iterator(controllerDir, error)) {
    const std::string entryName = entry.path().filename().string();
    if (entryName.starts_with(name) && entryName.find('n', name.size()) != std::string::npos) {
      namespaces.push_back(entry.path());
    }
  }
  std::sort(namespaces.begin(), namespaces.end());
  for (const auto& path : namespaces) {
    if (const auto sectors = ReadNumber<uint64_t>(path / "size")) {
      return *sectors > UINT64_MAX / kBlockSectorSize ? UINT64_MAX : *sectors * kBlockSectorSize;
    }
  }
  return 0;
}

// The kernel's hwmon device of the controller: temp1 is the composite temperature; its alarm (and
// those of the other sensors) is raised when the controller reports the temperature warning.
void ReadHwmon(const std::filesystem::path& controllerDir, NvmeUnprivilegedInfo& info) {
  std::error_code error;
  std::vector<std::filesystem::path> hwmons;
  for (const auto& entry : std::filesystem::directory_iterator(controllerDir, error)) {
    if (entry.path().filename().string().starts_with("hwmon")) hwmons.push_back(entry.path());
  }
  std::sort(hwmons.begin(), hwmons.end());
  for (const auto& hwmon : hwmons) {
    const auto temperature = ReadNumber<long long>(hwmon / "temp1_input");
    if (!temperature) continue;
    info.TemperatureMillidegrees = temperature;
    for (const auto& entry : std::filesystem::directory_iterator(hwmon, error)) {
      const std::string file = entry.path().filename().string();
      if (file.starts_with("temp") && file.ends_with("_alarm") &&
          ReadNumber<int>(entry.path()).value_or(0) != 0) {
        info.TemperatureAlarm = true;
      }
    }
    return;
  }
}

}  // namespace

std::string LinuxNvmePath(int controller) { return "/dev/nvme" + std::to_string(controller); }

NvmeHandlePtr OpenLinuxNvme(const std::string& path, bool& refused) {
  const int fd = open(path.c_str(), O_RDONLY | O_CLOEXEC);
  if (fd < 0) {
    if (errno == EACCES || errno == EPERM) refused = true;
    return nullptr;
  }
  return std::make_unique<LinuxNvmeHandle>(fd, refused);
}

std::optional<NvmeUnprivilegedInfo> ReadLinuxNvmeSysfs(const std::filesystem::path& classRoot,
                                                       int controller) {
  const std::filesystem::path dir = classRoot / ("nvme" + std::to_string(controller));
  const auto model = ReadAttribute(dir / "model");
  if (!model) return std::nullopt;
  NvmeUnprivilegedInfo info;
  info.ModelNumber = *model;
  info.SerialNumber = ReadAttribute(dir / "serial").value_or("");
  info.FirmwareRevision = ReadAttribute(dir / "firmware_rev").value_or("");
  info.PciVendorId = ReadNumber<uint16_t>(dir / "device" / "vendor", 16).value_or(0);
  info.SizeBytes = NamespaceBytes(dir, controller);
  ReadHwmon(dir, info);
  return info;
}

}  // namespace dv
