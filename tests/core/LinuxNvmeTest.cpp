// The Linux NVMe back end: the admin handle's own checks and the kernel's sysfs readings used
// without privilege.
#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>

#include "TestFolder.h"
#include "core/Nvme.h"
#include "core/platform/LinuxNvme.h"

namespace dv {
namespace {

TEST(LinuxNvmeHandle, RefusesOutsideTheCatalogueAndReportsAFailedCall) {
  // /dev/null takes any ioctl and refuses it: enough to see what reaches the call.
  bool refused = false;
  NvmeHandlePtr handle = OpenLinuxNvme("/dev/null", refused);
  ASSERT_TRUE(handle);
  std::vector<uint8_t> data(kNvmeHealthLogSize, 0xAA);
  auto request = MakeNvmeAdminCommand(NvmeAdminCommand::HealthLog);
  EXPECT_FALSE(handle->AdminCommand(request, data));  // the ioctl fails: ENOTTY
  EXPECT_FALSE(handle->LastFailureWasPrivilege());
  EXPECT_EQ(data[0], 0);  // nothing of the buffer's old contents passes for an answer
  request.dataIn = false;
  EXPECT_FALSE(handle->AdminCommand(request, data));
  // A buffer shorter than the transfer is refused before the call.
  request = MakeNvmeAdminCommand(NvmeAdminCommand::IdentifyController);
  EXPECT_FALSE(handle->AdminCommand(request, data));
  EXPECT_FALSE(refused);
  EXPECT_FALSE(OpenLinuxNvme("/nonexistent/nvme9", refused));
}

// A controller's sysfs folder as the kernel lays it out.
class NvmeSysfs : public ::testing::Test {
 protected:
  void SetUp() override { root_ = test::MakeTestFolder("nvme-sysfs"); }
  void TearDown() override { std::filesystem::remove_all(root_); }
  void Write(const std::string& relative, const std::string& text) {
    const auto path = root_ / relative;
    std::filesystem::create_directories(path.parent_path());
    std::ofstream(path) << text;
  }
  std::filesystem::path root_;
};

TEST_F(NvmeSysfs, NamesSizeTemperatureAndAlarm) {
  Write("nvme2/model", "QEMU NVMe Ctrl                          \n");
  Write("nvme2/serial", "nvme-serial-1       \n");
  Write("nvme2/firmware_rev", "7.2.22  \n");
  Write("nvme2/device/vendor", "0x1b36\n");
  Write("nvme2/nvme2n1/size", "2097152\n");
  Write("nvme2/hwmon4/temp1_input", "49850\n");
  Write("nvme2/hwmon4/temp1_alarm", "0\n");
  auto info = ReadLinuxNvmeSysfs(root_, 2);
  ASSERT_TRUE(info);
  EXPECT_EQ(info->ModelNumber, "QEMU NVMe Ctrl");
  EXPECT_EQ(info->SerialNumber, "nvme-serial-1");
  EXPECT_EQ(info->FirmwareRevision, "7.2.22");
  EXPECT_EQ(info->PciVendorId, 0x1B36);
  EXPECT_EQ(info->SizeBytes, 1073741824u);
  ASSERT_TRUE(info->TemperatureMillidegrees);
  EXPECT_EQ(HwmonMillidegreesToCelsius(*info->TemperatureMillidegrees), 50);
  EXPECT_FALSE(info->TemperatureAlarm);

  Write("nvme2/hwmon4/temp1_alarm", "1\n");
  EXPECT_TRUE(ReadLinuxNvmeSysfs(root_, 2)->TemperatureAlarm);
  EXPECT_FALSE(ReadLinuxNvmeSysfs(root_, 3));
}

TEST_F(NvmeSysfs, MultipathNamespaceAndMissingOrBadFiles) {
  Write("nvme0/model", "x\n");
  Write("nvme0/nvme0c0n1/size", "1000\n");
  Write("nvme0/hwmon1/temp1_input", "not a number\n");
  Write("nvme0/device/vendor", "0xzz\n");
  auto info = ReadLinuxNvmeSysfs(root_, 0);
  ASSERT_TRUE(info);
  EXPECT_EQ(info->SizeBytes, 512000u);
  EXPECT_EQ(info->SerialNumber, "");
  EXPECT_EQ(info->PciVendorId, 0);
  EXPECT_FALSE(info->TemperatureMillidegrees);
}

}  // namespace
}  // namespace dv
