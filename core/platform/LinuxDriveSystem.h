// The machine's drives reached directly: SG_IO and the NVMe admin ioctl from this process.
#pragma once

#include <memory>

#include "core/DriveSystem.h"

namespace dv {

std::unique_ptr<DriveSystem> CreateLinuxDriveSystem();

}  // namespace dv
