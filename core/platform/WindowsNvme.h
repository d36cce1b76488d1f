// The Windows NVMe back end: the controller behind \\.\PhysicalDriveN, asked through
// IOCTL_STORAGE_QUERY_PROPERTY with the NVMe protocol-specific property.
#pragma once

#include <string>

#include "core/DriveSystem.h"

namespace dv {

// Null when the drive cannot be opened.
NvmeHandlePtr OpenWindowsNvme(const std::string& path);

}  // namespace dv
