// The Linux NVMe back end: admin commands through the controller's character device, and what the
// kernel publishes about a controller without privilege under /sys/class/nvme.
#pragma once

#include <filesystem>
#include <optional>
#include <string>

#include "core/DriveSystem.h"

namespace dv {

inline constexpr char kSysClassNvme[] = "/sys/class/nvme";

// "/dev/nvme3".
std::string LinuxNvmePath(int controller);

// Opens the controller read-only. Null when it cannot be opened; `refused` is set when the kernel
// said EACCES or EPERM, then or to a later command.
NvmeHandlePtr OpenLinuxNvme(const std::string& path, bool& refused);

// Reads <classRoot>/nvmeN: model, serial, firmware_rev, device/vendor, the first namespace's size
// (512-byte sectors) and hwmon*/temp1_input with the temp*_alarm files. Nothing needs privilege.
// Nullopt when the controller's folder or its model file is missing.
std::optional<NvmeUnprivilegedInfo> ReadLinuxNvmeSysfs(const std::filesystem::path& classRoot,
                                                       int controller);

}  // namespace dv
