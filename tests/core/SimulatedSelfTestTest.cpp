// Self-tests on simulated drives over simulated time, through the same calls the command line and
// the windows make: a test that completes, one that fails at an LBA, an abort, a test the drive
// does not offer, and the error log of the simulation file.
#include <gtest/gtest.h>

#include <memory>
#include <string>

#include "core/SelfTest.h"
#include "core/SimulatedDrives.h"

namespace dv {
namespace {

constexpr const char* kSelfTestDrives = R"({"drives": [
  {"model": "SIM ATA", "selfTest": {"pollingMinutes": {"short": 2, "extended": 30},
    "powerOnHours": 1200, "log": [{"type": "extended", "lifetimeHours": 1000}],
    "errorCount": 9, "errors": [{"command": 37, "lba": 4096, "lifetimeHours": 900},
                                {"command": 200, "lba": 8192, "lifetimeHours": 950}]}},
  {"model": "SIM NVMe", "nvme": {}, "selfTest": {"pollingMinutes": {"short": 2, "extended": 30},
    "powerOnHours": 1200, "log": [{"type": "extended", "lifetimeHours": 1000}]}},
  {"model": "PLAIN"}
]})";

struct Bench {
  Bench() {
    std::string error;
    system = SimulatedDriveSystem::FromJsonText(kSelfTestDrives, "", "test.json", error);
    EXPECT_TRUE(system) << error;
  }
  Drive DriveAt(int number) const {
    Drive d;
    d.DriveNumber = static_cast<uint8_t>(number);
    d.Kind = number == 1 ? DriveKind::Nvme : DriveKind::Ata;
    return d;
  }
  SimulatedSelfTest& Clock(int number) { return *system->FindDrive(number)->selfTest; }
  std::unique_ptr<SimulatedDriveSystem> system;
};

TEST(SimulatedSelfTestTest, CompletesFailsAndAbortsOnBothKinds) {
  struct Step {
    SelfTestKind kind;
    double minutesBefore;  // clock moved before the start
    double minutesAfter;   // then this long before the log is read
    bool abortThen;
    const char* status;
    int remaining;
    bool running;
  };
  const std::vector<Step> steps{
      {SelfTestKind::Short, 0, 1, false, "", 50, true},  // half-way: still running
      {SelfTestKind::Short, 0, 2.5, false, "completed without error", 0, false},
      {SelfTestKind::Extended, 0, 16, false, "fails", 50, false},
      {SelfTestKind::Extended, 0, 6, true, "aborted by the host", 80, false},
  };
  for (int number : {0, 1}) {
    Bench bench;
    const Drive drive = bench.DriveAt(number);
    for (size_t i = 0; i < steps.size(); ++i) {
      const Step& s = steps[i];
      const bool fails = std::string(s.status) == "fails";
      if (fails) bench.Clock(number).failAtLba = 12345;
      const SelfTestStart start = StartSelfTest(*bench.system, drive, s.kind);
      ASSERT_EQ(start.outcome, SelfTestStart::Outcome::Started) << number << " " << start.reason;
      bench.Clock(number).clockMinutes += s.minutesAfter;
      if (s.abortThen) {
        ASSERT_EQ(StartSelfTest(*bench.system, drive, SelfTestKind::Abort).outcome,
                  SelfTestStart::Outcome::Started);
      }
      const SelfTestLogReading log = ReadSelfTestLog(*bench.system, drive);
      ASSERT_TRUE(log.read) << log.reason;
      EXPECT_EQ(log.running, s.running) << number << " step " << i;
      if (s.running) {
        EXPECT_EQ(log.remainingPercent, s.remaining) << number;
        // A second test while one runs is refused; the first one then finishes.
        EXPECT_EQ(StartSelfTest(*bench.system, drive, SelfTestKind::Short).outcome,
                  SelfTestStart::Outcome::Refused);
        bench.Clock(number).clockMinutes += 5;
        continue;
      }
      const SelfTestRow& newest = log.rows.front();
      EXPECT_EQ(newest.Type, s.kind == SelfTestKind::Short ? "short" : "extended");
      EXPECT_EQ(newest.Failed, fails) << number << " step " << i;
      EXPECT_EQ(newest.LifetimeHours, 1200u);
      if (fails) {
        EXPECT_EQ(newest.FirstErrorLba, 12345u) << number;
      } else {
        EXPECT_EQ(newest.Status, s.status) << number << " step " << i;
      }
      if (number == 0) {
        EXPECT_EQ(newest.RemainingPercent, s.remaining) << "step " << i;
      }
    }
    // The file's own entry stays the oldest, below the four tests run here.
    const SelfTestLogReading log = ReadSelfTestLog(*bench.system, drive);
    ASSERT_EQ(log.rows.size(), 5u) << number;
    EXPECT_EQ(log.rows.back().LifetimeHours, 1000u);
  }
}

TEST(SimulatedSelfTestTest, WhatADriveDoesNotOfferIsNotSent) {
  Bench bench;
  bench.system->ClearLog();
  for (auto [number, kind] :
       {std::pair{0, SelfTestKind::Conveyance}, {1, SelfTestKind::Conveyance}}) {
    const SelfTestStart start = StartSelfTest(*bench.system, bench.DriveAt(number), kind);
    EXPECT_EQ(start.outcome, SelfTestStart::Outcome::NotSupported) << number;
  }
  for (const auto& command : bench.system->CommandLog()) {
    EXPECT_NE(command.name, "SMART_EXECUTE_OFFLINE");
    EXPECT_EQ(command.name.find("Device Self-test"), std::string::npos) << command.name;
  }
  // A drive without the object offers short tests by its capability bits but aborts the command,
  // as before; it keeps no logs.
  const Drive plain = bench.DriveAt(2);
  EXPECT_EQ(StartSelfTest(*bench.system, plain, SelfTestKind::Short).outcome,
            SelfTestStart::Outcome::Refused);
  EXPECT_FALSE(ReadSelfTestLog(*bench.system, plain).read);
  EXPECT_FALSE(ReadErrorLog(*bench.system, plain).read);
}

TEST(SimulatedSelfTestTest, ErrorLogOfTheFile) {
  Bench bench;
  const ErrorLogReading reading = ReadErrorLog(*bench.system, bench.DriveAt(0));
  ASSERT_TRUE(reading.read) << reading.reason;
  EXPECT_EQ(reading.log.Count, 9);
  ASSERT_EQ(reading.log.Records.size(), 2u);
  EXPECT_EQ(reading.log.Records[0].LifetimeHours, 950);  // newest first
  EXPECT_EQ(reading.log.Records[0].Commands.front().Command, 200);
  EXPECT_EQ(reading.log.Records[1].LbaMid, 4096 >> 8);
  EXPECT_FALSE(ReadErrorLog(*bench.system, bench.DriveAt(1)).read);  // NVMe: none
}

}  // namespace
}  // namespace dv
