// The machine's drives reached directly: SG_IO and the NVMe admin ioctl from this process.
#pragma once

#include <memory>
#include <string>

#include "core/DriveSystem.h"

namespace dv {

std::unique_ptr<DriveSystem> CreateLinuxDriveSystem();

// Whether sysfs lists the block device `blockName` ("sda") in `blockRoot` ("/sys/block"), or NVMe
// controller N in `nvmeClassRoot` ("/sys/class/nvme"). Unknown when sysfs is not there to ask (no
// `blockRoot`). Controllers are Absent when their class folder is missing: without the driver
// there are none.
DrivePresence SysfsBlockPresence(const std::string& blockRoot, const std::string& blockName);
DrivePresence SysfsNvmePresence(const std::string& blockRoot, const std::string& nvmeClassRoot,
                                int controller);

}  // namespace dv
