#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <memory>
#include <string>
#include <vector>

#include "TestFolder.h"
#include "core/Enumerate.h"
#include "core/SimulatedDrives.h"
#include "kit/SimulationText.h"

namespace dv {
namespace {

using ::testing::ElementsAre;

using test::Simulate;

// The catalogue names sent to one drive, in order.
std::vector<std::string> CommandsTo(const SimulatedDriveSystem& system, int driveNumber) {
  std::vector<std::string> names;
  for (const auto& entry : system.CommandLog()) {
    if (entry.driveNumber == driveNumber) names.push_back(entry.name);
  }
  return names;
}

std::vector<int> ListedDriveNumbers(const DriveTable& table) {
  std::vector<int> numbers;
  for (int k = 1; k <= table.DriveCount; ++k) numbers.push_back(table.At(k).DriveNumber);
  return numbers;
}

std::string SimDrive(int number, const std::string& model, const std::string& extra = "") {
  return R"({"driveNumber": )" + std::to_string(number) + R"(, "model": ")" + model + "\"" +
         (extra.empty() ? "" : ", " + extra) + "}";
}

std::string Drives(const std::vector<std::string>& drives) {
  std::string json = R"({"drives": [)";
  for (size_t i = 0; i < drives.size(); ++i) json += (i > 0 ? "," : "") + drives[i];
  return json + "]}";
}

TEST(ProbeDrives, ListsInDriveNumberOrderAndNeverOpensASeventh) {
  auto system = Simulate(
      Drives({SimDrive(11, "ST11"), SimDrive(0, "ST0"), SimDrive(3, "ST3"), SimDrive(2, "ST2"),
              SimDrive(5, "ST5"), SimDrive(9, "ST9"), SimDrive(7, "ST7"), SimDrive(8, "ST8")}));
  DriveTable table;
  EXPECT_TRUE(ProbeDrives(*system, table));
  EXPECT_EQ(table.DriveCount, 6);
  EXPECT_THAT(ListedDriveNumbers(table), ElementsAre(0, 2, 3, 5, 7, 8));
  EXPECT_EQ(table.At(3).ModelNumber, "ST3");
  EXPECT_EQ(system->TotalOpens(), 6);
  EXPECT_EQ(system->OpenHandleCount(), 0);
  EXPECT_TRUE(CommandsTo(*system, 9).empty());
  EXPECT_TRUE(CommandsTo(*system, 11).empty());
}

// The simulated drives behind a system that lists only some of them, as sysfs does.
class ListingSystem : public DriveSystem {
 public:
  ListingSystem(SimulatedDriveSystem& drives, std::vector<int> listed)
      : drives_(drives), listed_(std::move(listed)) {}
  DrivePresence PresenceOf(int driveNumber) const override {
    return std::count(listed_.begin(), listed_.end(), driveNumber) > 0 ? DrivePresence::Present
                                                                       : DrivePresence::Absent;
  }
  DrivePresence NvmePresenceOf(int) const override { return DrivePresence::Absent; }
  DriveHandlePtr Open(int driveNumber) override { return drives_.Open(driveNumber); }
  NvmeHandlePtr OpenNvme(int controller) override { return drives_.OpenNvme(controller); }
  std::optional<NvmeUnprivilegedInfo> ReadNvmeUnprivileged(int controller) override {
    return drives_.ReadNvmeUnprivileged(controller);
  }
  std::optional<std::string> VolumeName(int, int) override { return std::nullopt; }
  std::string DescribeDrive(int driveNumber) const override {
    return drives_.DescribeDrive(driveNumber);
  }

 private:
  SimulatedDriveSystem& drives_;
  std::vector<int> listed_;
};

TEST(ProbeDrives, OpensOnlyWhatTheSystemListsAndKeepsTheOrder) {
  auto drives = Simulate(Drives({SimDrive(0, "ST0"), SimDrive(2, "ST2"), SimDrive(3, "ST3"),
                                 SimDrive(9, "ST9"), SimDrive(10, "nvme", R"("nvme": {})")}));
  ListingSystem system(*drives, {3, 2, 9});
  DriveTable table;
  EXPECT_TRUE(ProbeDrives(system, table));
  EXPECT_THAT(ListedDriveNumbers(table), ElementsAre(2, 3, 9));
  EXPECT_EQ(drives->TotalOpens(), 3);
  EXPECT_TRUE(CommandsTo(*drives, 0).empty());
}

TEST(ProbeDrives, SkipsDrivesThatFailToOpenEnableOrIdentifyAndClosesEveryHandle) {
  auto system = Simulate(Drives({
      SimDrive(0, "ST0", R"("failures": {"open": true})"),
      SimDrive(1, "ST1", R"("failures": {"ioctl": ["SMART_ENABLE"]})"),
      SimDrive(2, "ST2", R"("failures": {"errorBit": ["SMART_ENABLE"]})"),
      SimDrive(3, "ST3", R"("failures": {"ioctl": ["IDENTIFY"]})"),
      SimDrive(4, "ST4", R"("failures": {"errorBit": ["IDENTIFY"]})"),
      SimDrive(6, "WDC listed"),
  }));
  DriveTable table;
  EXPECT_TRUE(ProbeDrives(*system, table));
  EXPECT_THAT(ListedDriveNumbers(table), ElementsAre(6));
  EXPECT_EQ(table.At(1).ModelNumber, "WDC listed");
  EXPECT_EQ(table.At(1).VendorCode, 'W');
  // A drive that refuses S.M.A.R.T. is never asked to identify itself.
  EXPECT_THAT(CommandsTo(*system, 1), ElementsAre("SMART_ENABLE"));
  EXPECT_THAT(CommandsTo(*system, 2), ElementsAre("SMART_ENABLE"));
  EXPECT_THAT(CommandsTo(*system, 4), ElementsAre("SMART_ENABLE", "IDENTIFY"));
  EXPECT_EQ(system->TotalOpens(), 5);
  EXPECT_EQ(system->OpenHandleCount(), 0);
}

TEST(ProbeDrives, NothingAnsweringGivesFalseAndAnEmptyTable) {
  auto system = Simulate(Drives({SimDrive(0, "ST0", R"("failures": {"errorBit": ["IDENTIFY"]})")}));
  DriveTable table;
  table.DriveCount = 4;
  EXPECT_FALSE(ProbeDrives(*system, table));
  EXPECT_EQ(table.DriveCount, 0);
  EXPECT_EQ(system->OpenHandleCount(), 0);
  EXPECT_EQ(DriveListBalloonText(table), "");
}

TEST(ProbeDrives, FillsTheRecordFromIdentify) {
  auto system = Simulate(Drives({SimDrive(
      5, "Maxtor 6Y080L0",
      R"("serial": "Y2ABC", "firmware": "YAR41BW0", "sectors": 160086528, "securityEnabled": true)")}));
  DriveTable table;
  ASSERT_TRUE(ProbeDrives(*system, table));
  const dv::Drive& d = table.At(1);
  EXPECT_EQ(d.DriveNumber, 5);
  EXPECT_EQ(d.ModelNumber, "Maxtor 6Y080L0");
  EXPECT_EQ(d.ModelText.size(), 40u);  // untrimmed, as the drive list shows it
  EXPECT_EQ(d.ModelText.substr(0, 14), "Maxtor 6Y080L0");
  EXPECT_EQ(d.SerialNumber, "Y2ABC");
  EXPECT_EQ(d.FirmwareRevision, "YAR41BW0");
  EXPECT_EQ(d.VendorCode, 'A');
  EXPECT_FALSE(d.LBA48);
  EXPECT_TRUE(d.SMARTEnabled);
  EXPECT_TRUE(d.SecurityEnabled);
  EXPECT_FALSE(d.HPAEnabled);
  EXPECT_EQ(d.UserSectors, 160086528u);
  EXPECT_EQ(d.CapacityGB, 76u);
  EXPECT_EQ(d.HPASizeMB, -1);
}

TEST(ProbeDrives, HpaSizeComesFromTheNativeMaxAddressOfA48BitDrive) {
  // Drive 3 is odd and above 2^32 sectors: the previous task file carries the high address bytes.
  auto system = Simulate(Drives({
      SimDrive(
          0, "ST hidden 100MB",
          R"("sectors": 1000000, "lba48": true, "hpaEnabled": true, "nativeMaxAddress": 1204799)"),
      SimDrive(1, "ST no hidden area", R"("sectors": 1000000, "lba48": true, "hpaEnabled": true)"),
      SimDrive(3, "ST big",
               R"("sectors": 5860533168, "hpaEnabled": true, "nativeMaxAddress": 5860547503)"),
      SimDrive(4, "ST 28-bit", R"("sectors": 1000000, "lba48": false, "hpaEnabled": true,
                               "nativeMaxAddress": 2000000)"),
      SimDrive(6, "ST refuses",
               R"("sectors": 1000000, "lba48": true, "hpaEnabled": true,
               "failures": {"errorBit": ["READ_NATIVE_MAX_EXT"]})"),
      SimDrive(7, "ST no HPA", R"("sectors": 1000000, "lba48": true, "nativeMaxAddress": 2000000)"),
  }));
  DriveTable table;
  ASSERT_TRUE(ProbeDrives(*system, table));
  ASSERT_EQ(table.DriveCount, 6);
  EXPECT_EQ(table.At(1).HPASizeMB, 100);
  EXPECT_EQ(table.At(2).HPASizeMB, 0);
  EXPECT_EQ(table.At(3).HPASizeMB, 7);
  EXPECT_EQ(table.At(3).CapacityGB, 2795u);
  EXPECT_EQ(table.At(4).HPASizeMB, -1);
  EXPECT_EQ(table.At(5).HPASizeMB, -1);
  EXPECT_EQ(table.At(6).HPASizeMB, -1);
  // Without both flags the command is not even sent.
  const auto sent = [&](int n) {
    const auto names = CommandsTo(*system, n);
    return std::count(names.begin(), names.end(), "READ_NATIVE_MAX_EXT");
  };
  EXPECT_EQ(sent(3), 1);
  EXPECT_EQ(sent(4), 0);
  EXPECT_EQ(sent(7), 0);
}

TEST(ProbeDrives, SmartConveniencesFollowTheCapabilityBits) {
  auto system = Simulate(Drives({
      SimDrive(0, "ST both", R"("smart": {"offlineCollection": true, "attributeAutosave": true})"),
      SimDrive(1, "ST offline",
               R"("smart": {"offlineCollection": true, "attributeAutosave": false})"),
      SimDrive(2, "ST autosave",
               R"("smart": {"offlineCollection": false, "attributeAutosave": true})"),
      SimDrive(3, "ST off", R"("smartEnabled": false,
                            "smart": {"offlineCollection": true, "attributeAutosave": true})"),
      SimDrive(4, "ST unreadable",
               R"("smart": {"offlineCollection": true, "attributeAutosave": true},
                                   "failures": {"ioctl": ["SMART_READ_DATA"]})"),
      SimDrive(5, "ST ignored", R"("smart": {"offlineCollection": true, "attributeAutosave": true},
                                "failures": {"errorBit": ["SMART_AUTO_OFFLINE", "SMART_AUTOSAVE"]})"),
  }));
  DriveTable table;
  ASSERT_TRUE(ProbeDrives(*system, table));
  EXPECT_EQ(table.DriveCount, 6);
  EXPECT_THAT(CommandsTo(*system, 0), ElementsAre("SMART_ENABLE", "IDENTIFY", "SMART_READ_DATA",
                                                  "SMART_AUTO_OFFLINE", "SMART_AUTOSAVE"));
  EXPECT_THAT(CommandsTo(*system, 1),
              ElementsAre("SMART_ENABLE", "IDENTIFY", "SMART_READ_DATA", "SMART_AUTO_OFFLINE"));
  EXPECT_THAT(CommandsTo(*system, 2),
              ElementsAre("SMART_ENABLE", "IDENTIFY", "SMART_READ_DATA", "SMART_AUTOSAVE"));
  EXPECT_THAT(CommandsTo(*system, 3), ElementsAre("SMART_ENABLE", "IDENTIFY"));
  EXPECT_FALSE(table.At(4).SMARTEnabled);
  EXPECT_THAT(CommandsTo(*system, 4), ElementsAre("SMART_ENABLE", "IDENTIFY", "SMART_READ_DATA"));
  EXPECT_EQ(CommandsTo(*system, 5).size(), 5u);
  for (const auto& entry : system->CommandLog()) EXPECT_FALSE(entry.refused) << entry.name;
  EXPECT_EQ(system->OpenHandleCount(), 0);

  // A one-shot query lists the same drives and leaves their settings alone.
  system->ClearLog();
  ASSERT_TRUE(ProbeDrives(*system, table, ProbeChanges::None));
  EXPECT_EQ(table.DriveCount, 6);
  for (int n = 0; n <= 5; ++n) {
    EXPECT_THAT(CommandsTo(*system, n), ElementsAre("SMART_ENABLE", "IDENTIFY")) << n;
  }
}

TEST(ProbeDrives, ANewEnumerationKeepsTrayFieldsAndLeavesStalePositions) {
  DriveTable table;
  for (int k = 1; k <= kMaxDrives; ++k) {
    table.At(k).TrayIconOn = (k % 2) == 0;
    table.At(k).TrayFontColor = 0x100u + static_cast<uint32_t>(k);
    table.At(k).TrayBackColor = 0x200u + static_cast<uint32_t>(k);
  }
  table.At(1).Temperature = 41;
  table.At(1).SMARTStatusOK = true;
  auto three = Simulate(
      Drives({SimDrive(0, "ST first"), SimDrive(1, "ST second"), SimDrive(2, "ST third")}));
  ASSERT_TRUE(ProbeDrives(*three, table));
  EXPECT_EQ(table.DriveCount, 3);

  auto one = Simulate(Drives({SimDrive(4, "WDC only")}));
  ASSERT_TRUE(ProbeDrives(*one, table));
  EXPECT_EQ(table.DriveCount, 1);
  EXPECT_EQ(table.At(1).ModelNumber, "WDC only");
  EXPECT_EQ(table.At(1).DriveNumber, 4);
  EXPECT_EQ(table.At(2).ModelNumber, "ST second");  // stale, beyond DriveCount
  for (int k = 1; k <= kMaxDrives; ++k) {
    EXPECT_EQ(table.At(k).TrayIconOn, (k % 2) == 0) << k;
    EXPECT_EQ(table.At(k).TrayFontColor, 0x100u + static_cast<uint32_t>(k)) << k;
    EXPECT_EQ(table.At(k).TrayBackColor, 0x200u + static_cast<uint32_t>(k)) << k;
  }
  // The last S.M.A.R.T. reading stays until the next read of that position.
  EXPECT_EQ(table.At(1).Temperature, 41);
  EXPECT_TRUE(table.At(1).SMARTStatusOK);
}

// Eight real drives as a folder: the files take drive numbers 0..7 in name order.
TEST(ProbeDrives, RealDrivesListTheFirstSix) {
  const std::filesystem::path source =
      std::filesystem::path(DISKVIGIL_TEST_DATA_DIR) / "real-drives";
  std::vector<std::filesystem::path> files;
  for (const auto& entry : std::filesystem::directory_iterator(source)) {
    if (entry.path().extension() == ".json") files.push_back(entry.path());
  }
  std::sort(files.begin(), files.end());
  ASSERT_GE(files.size(), 8u);
  const std::filesystem::path folder = test::MakeTestFolder("dv-eight-real");
  for (size_t i = 0; i < 8; ++i) std::filesystem::copy_file(files[i], folder / files[i].filename());

  std::string error;
  auto system = SimulatedDriveSystem::Load(folder.string(), error);
  ASSERT_TRUE(system) << error;
  DriveTable table;
  ASSERT_TRUE(ProbeDrives(*system, table));
  EXPECT_THAT(ListedDriveNumbers(table), ElementsAre(0, 1, 2, 3, 4, 5));
  EXPECT_EQ(table.At(1).ModelNumber, "FUJITSU MHY2120BH");
  EXPECT_EQ(table.At(1).SerialNumber, "K434T81257SL");
  EXPECT_EQ(table.At(1).VendorCode, 'F');
  EXPECT_EQ(table.At(5).ModelNumber, "INTEL SSDSA2CW120G3");
  EXPECT_EQ(table.At(5).VendorCode, 0);
  EXPECT_EQ(table.At(6).FirmwareRevision, "045C8820");
  EXPECT_EQ(system->TotalOpens(), 6);
  EXPECT_EQ(system->OpenHandleCount(), 0);
  std::filesystem::remove_all(folder);
}

TEST(DriveListBalloonText, OneLinePerDriveEndingInCarriageReturn) {
  DriveTable table;
  table.DriveCount = 2;
  table.At(1).ModelNumber = "ST380011A";
  table.At(1).CapacityGB = 80;
  table.At(2).ModelNumber = "WDC WD2500JB-00REA0";
  table.At(2).CapacityGB = 250;
  table.At(3).ModelNumber = "stale";
  EXPECT_EQ(DriveListBalloonText(table), "ST380011A 80 GB\rWDC WD2500JB-00REA0 250 GB\r");
}

TEST(NativeMaxAddress, CurrentRegistersAreLowBitsPreviousRegistersHighBits) {
  TaskFile current;
  current.lbaLow = 0x01;
  current.lbaMid = 0x02;
  current.lbaHigh = 0x03;
  current.command = 0x50;  // the status register takes no part
  TaskFile previous;
  previous.lbaLow = 0x04;
  previous.lbaMid = 0x05;
  previous.lbaHigh = 0x06;
  previous.features = 0xFF;
  EXPECT_EQ(NativeMaxAddress(current, previous), 0x060504030201u);
}

}  // namespace
}  // namespace dv
