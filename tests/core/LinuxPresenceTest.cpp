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
  const std::string block = (root / "block").string();
  const std::string nvmeClass = (root / "class" / "nvme").string();
  fs::create_directories(root / "block" / "sda");
  fs::create_directories(root / "block" / "sdc");

  EXPECT_EQ(SysfsBlockPresence(block, "sda"), DrivePresence::Present);
  EXPECT_EQ(SysfsBlockPresence(block, "sdb"), DrivePresence::Absent);
  // No NVMe driver loaded: no class folder, so no controllers.
  EXPECT_EQ(SysfsNvmePresence(block, nvmeClass, 0), DrivePresence::Absent);
  fs::create_directories(root / "class" / "nvme" / "nvme1");
  EXPECT_EQ(SysfsNvmePresence(block, nvmeClass, 1), DrivePresence::Present);
  EXPECT_EQ(SysfsNvmePresence(block, nvmeClass, 0), DrivePresence::Absent);
  // Without sysfs nothing can be told: every drive is tried.
  const std::string missing = (root / "no-sysfs" / "block").string();
  EXPECT_EQ(SysfsBlockPresence(missing, "sda"), DrivePresence::Unknown);
  EXPECT_EQ(SysfsNvmePresence(missing, nvmeClass, 1), DrivePresence::Unknown);
  fs::remove_all(root);
}

}  // namespace
}  // namespace dv
