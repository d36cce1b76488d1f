#include <gtest/gtest.h>

#include <chrono>
#include <string>
#include <thread>
#include <vector>

#include "core/AttributeRows.h"
#include "core/Monitor.h"
#include "core/SimulatedDrives.h"
#include "kit/SmartSectorBuilder.h"

namespace dv {
namespace {

using test::MakeSectors;

SimulatedDrive DriveAt(int driveNumber, uint8_t temperature) {
  const SmartSectors sectors = MakeSectors({
      {9, 0x0032, 99, 99, {static_cast<uint8_t>(driveNumber)}, 0},
      {194, 0x0022, 100, 100, {temperature}, 0},
  });
  SimulatedDrive drive;
  drive.driveNumber = driveNumber;
  drive.identify[2 * 82] = 0x01;  // S.M.A.R.T. supported and enabled (words 82, 85 bit 0)
  drive.identify[2 * 85] = 0x01;
  drive.smartData = sectors.SMARTData;
  drive.smartThresholds = sectors.SMARTThresholds;
  return drive;
}

class MonitorPass : public ::testing::Test {
 protected:
  MonitorPass() : system_({DriveAt(0, 30), DriveAt(3, 40), DriveAt(4, 50)}) {
    drives_.DriveCount = 3;
    for (int position = 1; position <= 3; ++position) {
      drives_.At(position).DriveNumber = static_cast<uint8_t>(position == 1 ? 0 : position + 1);
      drives_.At(position).SMARTEnabled = true;
    }
  }

  // Runs one pass and records what the observer saw.
  PassOutcome Pass(int selected) {
    readings_.clear();
    shownRows_.clear();
    return monitor_.CheckHDDs(selected,
                              [this](const PositionReading& reading, const SmartSectors& sectors) {
                                readings_.push_back(reading);
                                if (reading.shown && reading.result.sectorsRead) {
                                  shownRows_ = BuildAttributeRows(sectors, RawPresentation::Dec);
                                }
                              });
  }
  int CommandsFor(int driveNumber) const {
    int count = 0;
    for (const auto& logged : system_.CommandLog()) count += logged.driveNumber == driveNumber;
    return count;
  }

  SimulatedDriveSystem system_;
  DriveTable drives_;
  SmartSectors sectors_;
  Monitor monitor_{system_, drives_, sectors_};
  std::vector<PositionReading> readings_;
  std::vector<AttributeRow> shownRows_;
};

// Each pass on a thread of its own that then ends, as a window's worker may: the buffers a pass
// keeps must outlive no thread (on MinGW a thread-local one was freed twice at thread exit).
TEST_F(MonitorPass, PassesOnThreadsThatEnd) {
  for (int round = 0; round < 8; ++round) {
    PassOutcome outcome;
    std::thread([&] { outcome = Pass(0); }).join();
    EXPECT_TRUE(outcome.good);
    EXPECT_EQ(readings_.size(), 3u);
  }
}

TEST_F(MonitorPass, HealthyDrivesGiveAGoodPassAndFreshTemperatures) {
  EXPECT_TRUE(Pass(0).good);
  ASSERT_EQ(readings_.size(), 3u);
  for (int i = 0; i < 3; ++i) {
    EXPECT_EQ(readings_[i].position, i + 1);
    EXPECT_TRUE(readings_[i].monitored);
    EXPECT_FALSE(readings_[i].shown) << "nothing selected";
    EXPECT_TRUE(readings_[i].result.Passed());
  }
  EXPECT_EQ(drives_.At(1).Temperature, 30);
  EXPECT_EQ(drives_.At(2).Temperature, 40);
  EXPECT_EQ(drives_.At(3).Temperature, 50);
  EXPECT_EQ(system_.TotalOpens(), 9);
  EXPECT_EQ(system_.OpenHandleCount(), 0);
  EXPECT_TRUE(shownRows_.empty());
}

TEST_F(MonitorPass, AFailingDriveDoesNotStopTheOthersBeingRead) {
  for (int failing : {0, 3, 4}) {
    SCOPED_TRACE(failing);
    for (auto& drive : {0, 3, 4}) {
      system_.FindDrive(drive)->smartStatus =
          drive == failing ? SimulatedSmartStatus::ThresholdExceeded : SimulatedSmartStatus::Ok;
    }
    system_.ClearLog();
    system_.FindDrive(4)->smartData[kSmartTableOffset + 12 + 5] =
        static_cast<uint8_t>(60 + failing);
    EXPECT_FALSE(Pass(0).good);
    EXPECT_EQ(CommandsFor(0), 3);
    EXPECT_EQ(CommandsFor(3), 3);
    EXPECT_EQ(CommandsFor(4), 3);
    EXPECT_EQ(drives_.At(3).Temperature, 60 + failing) << "the last drive's fresh temperature";
    for (const auto& reading : readings_) {
      EXPECT_EQ(reading.result.statusOK, drives_.At(reading.position).DriveNumber != failing);
    }
  }
}

TEST_F(MonitorPass, DriveWithSmartOffIsNeitherReadNorCounted) {
  drives_.At(2).SMARTEnabled = false;
  system_.FindDrive(3)->smartStatus = SimulatedSmartStatus::ThresholdExceeded;
  EXPECT_TRUE(Pass(0).good);
  EXPECT_EQ(CommandsFor(3), 0);
  ASSERT_EQ(readings_.size(), 3u) << "the observer still hears of it, for its tray icon";
  EXPECT_FALSE(readings_[1].monitored);
  EXPECT_FALSE(readings_[1].result.verdictReached);
}

TEST_F(MonitorPass, RemovedDriveMakesEveryPassBad) {
  system_.FindDrive(3)->failOpen = true;
  EXPECT_FALSE(Pass(0).good);
  EXPECT_FALSE(Pass(0).good);
  EXPECT_FALSE(readings_[1].result.verdictReached);
  EXPECT_TRUE(readings_[2].result.Passed());
}

TEST_F(MonitorPass, ObserverSeesTheSelectedDrivesSectorsWhileItIsShown) {
  Pass(2);
  EXPECT_FALSE(readings_[0].shown);
  EXPECT_TRUE(readings_[1].shown);
  EXPECT_FALSE(readings_[2].shown);
  // Position 3 was read after position 2, yet the rows are position 2's (drive number 3).
  ASSERT_EQ(shownRows_.size(), 2u);
  EXPECT_EQ(shownRows_[0][kColumnRaw], "3");
  EXPECT_EQ(shownRows_[1][kColumnRaw], "40");
  EXPECT_EQ(sectors_.FindSMARTAttribute(9).Raw, 4u) << "the holder keeps the drive read last";
}

TEST_F(MonitorPass, ActivityMarkTurnsTwiceInEightPasses) {
  drives_.DriveCount = 0;
  std::string marks;
  for (int pass = 0; pass < 9; ++pass) marks += Pass(0).activityMark;
  EXPECT_EQ(marks, "|/-\\|/-\\|");
  EXPECT_EQ(monitor_.ActivityPhase(), 1);
  EXPECT_EQ(ActivityMark(7), "\\");
}

// The same three drives with a clock the test turns, for passes that leave sleeping drives alone.
class SleepingDrivesPass : public MonitorPass {
 protected:
  SleepingDrivesPass() { sleepy_.SetSkipSleepingDrives(true); }

  PassOutcome SleepyPass(int selected = 0) {
    readings_.clear();
    return sleepy_.CheckHDDs(selected, [this](const PositionReading& reading, const SmartSectors&) {
      readings_.push_back(reading);
    });
  }
  void Standby(int driveNumber) {
    system_.FindDrive(driveNumber)->powerMode = SimulatedPowerMode::Standby;
  }
  SimulatedPowerMode ModeOf(int driveNumber) { return system_.FindDrive(driveNumber)->powerMode; }
  std::vector<std::string> CommandNamesFor(int driveNumber) const {
    std::vector<std::string> names;
    for (const auto& logged : system_.CommandLog()) {
      if (logged.driveNumber == driveNumber) names.push_back(logged.name);
    }
    return names;
  }

  std::chrono::steady_clock::time_point now_{};
  Monitor sleepy_{system_, drives_, sectors_, [this] { return now_; }};
};

TEST_F(SleepingDrivesPass, OffByDefaultAPassWakesAStandbyDrive) {
  EXPECT_FALSE(monitor_.SkipSleepingDrives());
  Standby(3);
  EXPECT_TRUE(Pass(0).good);
  EXPECT_EQ(ModeOf(3), SimulatedPowerMode::Active);
  EXPECT_FALSE(readings_[1].asleep);
  for (const auto& name : CommandNamesFor(3)) EXPECT_NE(name, "CHECK_POWER_MODE");
}

TEST_F(SleepingDrivesPass, StandbyDriveStaysAsleepAndKeepsItsLastReading) {
  SleepyPass();  // all awake: read, and the readings' times noted
  EXPECT_EQ(drives_.At(2).Temperature, 40);
  Standby(3);
  system_.FindDrive(3)->smartData[0] ^= 0xFF;  // a read now would be noticed
  system_.ClearLog();
  now_ += std::chrono::minutes(5);

  for (int pass = 0; pass < 3; ++pass) {
    EXPECT_TRUE(SleepyPass(2).good);
    ASSERT_EQ(readings_.size(), 3u);
    EXPECT_TRUE(readings_[1].asleep);
    EXPECT_TRUE(readings_[1].shown);
    EXPECT_FALSE(readings_[1].result.verdictReached) << "nothing read";
    EXPECT_EQ(readings_[1].readingAge, std::chrono::seconds(300));
    EXPECT_FALSE(readings_[0].asleep);
    EXPECT_TRUE(readings_[2].result.Passed());
  }
  EXPECT_EQ(ModeOf(3), SimulatedPowerMode::Standby);
  EXPECT_EQ(CommandNamesFor(3), std::vector<std::string>(3, "CHECK_POWER_MODE"));
  EXPECT_EQ(drives_.At(2).Temperature, 40);
  EXPECT_TRUE(drives_.At(2).SMARTStatusOK);
  EXPECT_EQ(system_.OpenHandleCount(), 0);

  // Awake again (someone else spun it up): read as usual, the reading is fresh.
  system_.FindDrive(3)->powerMode = SimulatedPowerMode::Idle;
  SleepyPass();
  EXPECT_FALSE(readings_[1].asleep);
  EXPECT_TRUE(readings_[1].result.verdictReached);
  EXPECT_FALSE(readings_[1].readingAge);
}

TEST_F(SleepingDrivesPass, AsleepDriveKeepsItsFailingVerdict) {
  system_.FindDrive(4)->smartStatus = SimulatedSmartStatus::ThresholdExceeded;
  EXPECT_FALSE(SleepyPass().good);
  Standby(4);
  EXPECT_FALSE(SleepyPass().good) << "the last reading failed, the warning goes on";
  EXPECT_TRUE(readings_[2].asleep);
  EXPECT_FALSE(drives_.At(3).SMARTStatusOK);
}

TEST_F(SleepingDrivesPass, DrivesThatCannotAnswerOrNeverWereReadOrAreOff) {
  // No answer to the power question: read as before.
  Standby(0);
  system_.FindDrive(0)->errorBitFailures = {AtaCommand::CheckPowerMode};
  // Asleep from the start: no reading to keep, nothing known against it.
  Standby(3);
  // S.M.A.R.T. off: not monitored, not even asked.
  drives_.At(3).SMARTEnabled = false;
  Standby(4);

  EXPECT_TRUE(SleepyPass().good);
  EXPECT_FALSE(readings_[0].asleep);
  EXPECT_TRUE(readings_[0].result.Passed());
  EXPECT_EQ(ModeOf(0), SimulatedPowerMode::Active);
  EXPECT_TRUE(readings_[1].asleep);
  EXPECT_FALSE(readings_[1].readingAge);
  EXPECT_FALSE(readings_[2].asleep);
  EXPECT_TRUE(CommandNamesFor(4).empty());
  EXPECT_EQ(ModeOf(4), SimulatedPowerMode::Standby);
}

TEST_F(SleepingDrivesPass, AReadingIsNotLentToAnotherDriveAtThePosition) {
  SleepyPass();
  Standby(3);
  drives_.At(2).SerialNumber = "another drive";  // a new enumeration put another disk here
  SleepyPass();
  EXPECT_TRUE(readings_[1].asleep);
  EXPECT_FALSE(readings_[1].readingAge);
}

}  // namespace
}  // namespace dv
