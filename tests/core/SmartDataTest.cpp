#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "core/AttributeRows.h"
#include "core/SimulatedDrives.h"
#include "core/SmartData.h"
#include "kit/SmartSectorBuilder.h"

namespace dv {
namespace {

using test::MakeSectors;

constexpr int kDriveNumber = 2;

SimulatedDrive DriveWith(const SmartSectors& sectors) {
  SimulatedDrive drive;
  drive.driveNumber = kDriveNumber;
  // IDENTIFY words 82 and 85 bit 0: S.M.A.R.T. supported and enabled.
  drive.identify[2 * 82] = 0x01;
  drive.identify[2 * 85] = 0x01;
  drive.smartData = sectors.SMARTData;
  drive.smartThresholds = sectors.SMARTThresholds;
  return drive;
}

const SmartSectors kHealthy = MakeSectors({
    {5, 0x0033, 100, 100, {}, 36},
    {194, 0x0022, 100, 100, {0x24, 0x00, 0x11, 0x00, 0x3A, 0x00}, 0},
});
const SmartSectors kOther = MakeSectors({
    {9, 0x0032, 98, 98, {0x10, 0x27}, 0},
    {194, 0x0022, 100, 100, {0x29}, 0},
});

class ReadSmart : public ::testing::Test {
 protected:
  ReadSmart() : system_({DriveWith(kHealthy)}) {
    drives_.DriveCount = 1;
    Drive& drive = drives_.At(1);
    drive.DriveNumber = kDriveNumber;
    drive.SMARTEnabled = true;
    drive.Temperature = 55;
    drive.SMARTStatusOK = false;
  }

  SimulatedDrive& Simulated() { return *system_.FindDrive(kDriveNumber); }
  std::vector<std::string> Commands() const {
    std::vector<std::string> names;
    for (const auto& logged : system_.CommandLog()) names.push_back(logged.name);
    return names;
  }
  ReadSmartResult Read() { return ReadSMART(system_, drives_, 1, sectors_); }

  SimulatedDriveSystem system_;
  DriveTable drives_;
  SmartSectors sectors_ = kOther;  // the sectors of a drive read before
};

TEST_F(ReadSmart, GoodDriveSendsThreeCommandsOnThreeOpens) {
  const ReadSmartResult result = Read();
  EXPECT_TRUE(result.verdictReached);
  EXPECT_TRUE(result.statusOK);
  EXPECT_TRUE(result.sectorsRead);
  EXPECT_TRUE(result.Passed());
  EXPECT_TRUE(drives_.At(1).SMARTStatusOK);
  EXPECT_EQ(drives_.At(1).Temperature, 36);
  EXPECT_EQ(sectors_.SMARTData, kHealthy.SMARTData);
  EXPECT_EQ(sectors_.SMARTThresholds, kHealthy.SMARTThresholds);
  EXPECT_EQ(Commands(), (std::vector<std::string>{"SMART_RETURN_STATUS", "SMART_READ_DATA",
                                                  "SMART_READ_THRESHOLDS"}));
  EXPECT_EQ(system_.TotalOpens(), 3);
  EXPECT_EQ(system_.OpenHandleCount(), 0);
}

TEST_F(ReadSmart, SmartOffOrUnlistedPositionChangesNothing) {
  drives_.At(1).SMARTEnabled = false;
  EXPECT_FALSE(Read().Passed());
  drives_.At(1).SMARTEnabled = true;
  for (int position : {0, 2, 7, -1}) {
    EXPECT_FALSE(ReadSMART(system_, drives_, position, sectors_).verdictReached);
  }
  EXPECT_EQ(system_.TotalOpens(), 0);
  EXPECT_EQ(drives_.At(1).Temperature, 55);
  EXPECT_EQ(sectors_.SMARTData, kOther.SMARTData);
}

TEST_F(ReadSmart, FailingVerdictWithBothSectorsRead) {
  Simulated().smartStatus = SimulatedSmartStatus::ThresholdExceeded;
  drives_.At(1).SMARTStatusOK = true;
  const ReadSmartResult result = Read();
  EXPECT_TRUE(result.verdictReached);
  EXPECT_FALSE(result.statusOK);
  EXPECT_TRUE(result.sectorsRead) << "rows and temperatures are still fresh";
  EXPECT_FALSE(result.Passed());
  EXPECT_FALSE(drives_.At(1).SMARTStatusOK);
  EXPECT_EQ(drives_.At(1).Temperature, 36);
  EXPECT_EQ(sectors_.SMARTData, kHealthy.SMARTData);
}

TEST_F(ReadSmart, FailedReturnStatusIsABadVerdictAndTheReadGoesOn) {
  for (auto failure : {&SimulatedDrive::ioctlFailures, &SimulatedDrive::errorBitFailures}) {
    Simulated().ioctlFailures.clear();
    Simulated().errorBitFailures.clear();
    (Simulated().*failure).insert(AtaCommand::SmartReturnStatus);
    const ReadSmartResult result = Read();
    EXPECT_TRUE(result.verdictReached);
    EXPECT_FALSE(result.statusOK);
    EXPECT_TRUE(result.sectorsRead);
  }
  Simulated().ioctlFailures.clear();
  Simulated().errorBitFailures.clear();
  Simulated().smartStatus = SimulatedSmartStatus::Error;
  EXPECT_FALSE(Read().statusOK);
  EXPECT_EQ(system_.OpenHandleCount(), 0);
}

TEST_F(ReadSmart, DriveThatCannotBeOpenedLeavesEverythingAsItWas) {
  Simulated().failOpen = true;
  drives_.At(1).SMARTStatusOK = true;
  const ReadSmartResult result = Read();
  EXPECT_FALSE(result.verdictReached);
  EXPECT_FALSE(result.Passed());
  EXPECT_TRUE(drives_.At(1).SMARTStatusOK);
  EXPECT_EQ(drives_.At(1).Temperature, 55);
  EXPECT_EQ(sectors_.SMARTData, kOther.SMARTData);
  EXPECT_EQ(sectors_.SMARTThresholds, kOther.SMARTThresholds);
}

TEST_F(ReadSmart, FailedDataReadKeepsBothEarlierSectors) {
  for (auto failure : {&SimulatedDrive::ioctlFailures, &SimulatedDrive::errorBitFailures}) {
    Simulated().ioctlFailures.clear();
    Simulated().errorBitFailures.clear();
    (Simulated().*failure).insert(AtaCommand::SmartReadData);
    const ReadSmartResult result = Read();
    EXPECT_TRUE(result.verdictReached);
    EXPECT_TRUE(result.statusOK);
    EXPECT_FALSE(result.sectorsRead);
    EXPECT_FALSE(result.Passed());
    EXPECT_EQ(sectors_.SMARTData, kOther.SMARTData);
    EXPECT_EQ(sectors_.SMARTThresholds, kOther.SMARTThresholds);
    EXPECT_EQ(drives_.At(1).Temperature, 55);
    EXPECT_EQ(system_.OpenHandleCount(), 0);
  }
  // The thresholds are not asked for once the data failed.
  EXPECT_EQ(Commands().back(), "SMART_READ_DATA");
}

TEST_F(ReadSmart, FailedThresholdReadKeepsNewDataWithEarlierThresholds) {
  Simulated().errorBitFailures.insert(AtaCommand::SmartReadThresholds);
  const ReadSmartResult result = Read();
  EXPECT_FALSE(result.sectorsRead);
  EXPECT_EQ(sectors_.SMARTData, kHealthy.SMARTData);
  EXPECT_EQ(sectors_.SMARTThresholds, kOther.SMARTThresholds);
  EXPECT_EQ(drives_.At(1).Temperature, 55) << "the temperature waits for a complete read";
  EXPECT_EQ(system_.OpenHandleCount(), 0);
}

TEST(ReadSmartOnRealDrives, FailingMaxtorReadsBothSectorsWithABadVerdict) {
  std::string error;
  auto system =
      SimulatedDriveSystem::Load(test::RealDrivePath("Maxtor_96147H8--BAC51KJ0--2"), error);
  ASSERT_TRUE(system) << error;
  DriveTable drives;
  drives.DriveCount = 1;
  drives.At(1).DriveNumber = static_cast<uint8_t>(system->Drives().front().driveNumber);
  drives.At(1).SMARTEnabled = true;
  SmartSectors sectors;

  const ReadSmartResult result = ReadSMART(*system, drives, 1, sectors);
  EXPECT_TRUE(result.verdictReached);
  EXPECT_FALSE(result.statusOK);
  EXPECT_TRUE(result.sectorsRead);
  EXPECT_EQ(sectors.SMARTData, test::RealDriveSectors("Maxtor_96147H8--BAC51KJ0--2").SMARTData);
  EXPECT_EQ(drives.At(1).Temperature, 0) << "this drive keeps neither 190 nor 194";
  const auto rows = BuildAttributeRows(sectors, RawPresentation::Hex);
  EXPECT_EQ(rows.size(), 17u);
}

TEST(ReadSmartOnRealDrives, HealthyDriveWithAFailedOldAgeAttributeStillPasses) {
  // The verdict is the drive's own; a Start/Stop Count below its threshold does not change it.
  std::string error;
  auto system = SimulatedDriveSystem::Load(test::RealDrivePath("ST9100821AS--3.CME"), error);
  ASSERT_TRUE(system) << error;
  DriveTable drives;
  drives.DriveCount = 1;
  drives.At(1).DriveNumber = static_cast<uint8_t>(system->Drives().front().driveNumber);
  drives.At(1).SMARTEnabled = true;
  SmartSectors sectors;

  EXPECT_TRUE(ReadSMART(*system, drives, 1, sectors).Passed());
  EXPECT_EQ(drives.At(1).Temperature, 34);
  const auto rows = BuildAttributeRows(sectors, RawPresentation::Hex);
  std::vector<std::string> failed;
  for (const AttributeRow& row : rows) {
    if (row[kColumnStatus] == "!!!") failed.push_back(row[kColumnName]);
  }
  EXPECT_EQ(failed, std::vector<std::string>{"(04h) Start/Stop Count"});
}

}  // namespace
}  // namespace dv
