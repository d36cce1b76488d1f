// Which drives sysfs lists, asked before enumeration opens any.
#include <gtest/gtest.h>

#include <filesystem>

#include "TestFolder.h"
#include "core/platform/LinuxDriveSystem.h"

namespace dv {
namespace {

namespace fs = std::filesystem;

TEST(SysfsPresence, ListedPresentUnlistedAbsentAndNoSysfsUnknown) {
  const fs::path root = test::MakeTestFolder("sysfs-presence");
  const fs::path block = root / "block";
  const fs::path nvmeClass = root / "class" / "nvme";
  fs::create_directories(block / "sda");
  fs::create_directories(block / "sdc");

  EXPECT_EQ(SysfsBlockPresence(block, "sda"), DrivePresence::Present);
  EXPECT_EQ(SysfsBlockPresence(block, "sdb"), DrivePresence::Absent);
  // No NVMe driver loaded: no class folder, so no controllers.
  EXPECT_EQ(SysfsNvmePresence(block, nvmeClass, 0), DrivePresence::Absent);
  fs::create_directories(nvmeClass / "nvme1");
  EXPECT_EQ(SysfsNvmePresence(block, nvmeClass, 1), DrivePresence::Present);
  EXPECT_EQ(SysfsNvmePresence(block, nvmeClass, 0), DrivePresence::Absent);
  // Without sysfs nothing can be told: every drive is tried.
  const fs::path missing = root / "no-sysfs" / "block";
  EXPECT_EQ(SysfsBlockPresence(missing, "sda"), DrivePresence::Unknown);
  EXPECT_EQ(SysfsNvmePresence(missing, nvmeClass, 1), DrivePresence::Unknown);
  fs::remove_all(root);
}

}  // namespace
}  // namespace dv
