// diskvigil-cli selftest and log: the words they take, their exit statuses, and that their output
// carries the drive's answer.
#include <gtest/gtest.h>

#include <sstream>

#include "cli/Cli.h"
#include "cli/CliTestKit.h"
#include "cli/MonitorSelfTests.h"
#include "core/Enumerate.h"

namespace dv::cli {
namespace {

constexpr const char* kSelfTestDrives = R"({"drives": [
  {"model": "TESTED", "selfTest": {"pollingMinutes": {"short": 3},
    "log": [{"type": "short", "status": 7, "lifetimeHours": 70, "lba": 4242}],
    "errorCount": 4, "errors": [{"command": 37, "lba": 77, "lifetimeHours": 60}]}},
  {"model": "PLAIN"},
  {"model": "NVME", "nvme": {}}
]})";

TEST(SelfTestCommandsTest, WordsExitStatusesAndOutput) {
  struct Case {
    std::vector<std::string> args;
    int exitCode;
    const char* inOutput;  // in standard output, or standard error when the exit is not 0
  };
  const std::vector<Case> cases{
      {{"selftest", "1", "short"}, kExitOk, "3 minutes"},
      {{"--json", "selftest", "1", "extended"}, kExitOk, "\"started\": true"},
      {{"selftest", "1", "conveyance"}, kExitNotOffered, "does not offer a conveyance"},
      {{"selftest", "2", "short"}, kExitFailure, "aborted"},
      {{"selftest", "3", "short"}, kExitNotOffered, "does not offer device self-tests"},
      {{"selftest", "9", "short"}, kExitFailure, "No drive at position 9"},
      {{"selftest", "1"}, kExitUsage, "is needed"},
      {{"selftest", "1", "captive"}, kExitUsage, "Unexpected argument: captive"},
      {{"selftest", "short", "1"}, kExitUsage, "Unexpected argument: 1"},
      {{"log", "1", "selftest"}, kExitOk, "read failure"},
      {{"--json", "log", "1", "selftest"}, kExitOk, "\"firstErrorLba\": 4242"},
      {{"--json", "log", "1", "error"}, kExitOk, "\"count\": 4"},
      {{"log", "1", "error"}, kExitOk, "Error 4 at 60 hours"},
      {{"log", "2", "selftest"}, kExitFailure, "READ LOG"},
      {{"log", "3", "error"}, kExitFailure, "NVMe"},
      {{"log", "1", "all"}, kExitUsage, "one of selftest, error"},
      {{"--json", "smart", "1"}, kExitOk, "\"status\": \"read failure\""},
  };
  for (const Case& c : cases) {
    auto system = clitest::Simulate(kSelfTestDrives);
    const clitest::CliRun run = clitest::RunOn(*system, c.args);
    EXPECT_EQ(run.exitCode, c.exitCode) << c.args[1] << " " << c.args.back() << run.err;
    const std::string& text = c.exitCode == kExitOk ? run.out : run.err;
    EXPECT_NE(text.find(c.inOutput), std::string::npos) << text;
  }
}

// Three passes: one test starts on the first drive due and, while it runs, no other.
TEST(SelfTestCommandsTest, MonitorStartsOneScheduledTestAtATime) {
  constexpr const char* kSchedule = R"({"drives": [
    {"model": "A", "smart": {"attributes": [{"id": 9, "value": 100, "worst": 100, "raw": 1300}]},
     "selfTest": {"log": [{"type": "short", "lifetimeHours": 1000}]}},
    {"model": "B", "smart": {"attributes": [{"id": 9, "value": 100, "worst": 100, "raw": 50}]},
     "selfTest": {}}]})";
  struct Case {
    const char* days;
    const char* started;  // the one drive that gets a test
  };
  for (const Case& c : {Case{"7",
                             "Drive 1: scheduled short self-test started (the last one "
                             "ended 300 hours ago)"},
                        Case{"30", "Drive 2: scheduled short self-test started (none logged)"}}) {
    auto system = clitest::Simulate(kSchedule);
    const clitest::CliRun run = clitest::RunOn(
        *system, {"monitor", "--count", "3", "--interval", "0", "--self-test-days", c.days});
    EXPECT_EQ(run.exitCode, kExitOk) << run.err;
    EXPECT_EQ(run.err, std::string(c.started) + "\n");
  }
  auto system = clitest::Simulate(kSchedule);
  EXPECT_EQ(clitest::RunOn(*system, {"monitor", "--self-test-days", "0"}).exitCode, kExitUsage);
}

// With warnings on: a failed newest self-test once per entry, an error count that rises between
// passes, nothing for a drive whose log holds neither.
TEST(SelfTestCommandsTest, WarningsOncePerFailedTestAndOnEachErrorRise) {
  auto system = clitest::Simulate(kSelfTestDrives);
  DriveTable table;
  ASSERT_TRUE(ProbeDrives(*system, table));
  MonitorSelfTests selfTests(*system, table, 0);
  std::ostringstream err;
  const auto pass = [&] {
    SmartSectors sectors;
    for (int position : {1, 2}) {
      PositionReading reading;
      reading.position = position;
      reading.monitored = true;
      reading.result.sectorsRead = true;
      selfTests.Take(reading, sectors);
    }
    return selfTests.AfterPass(err, nullptr, true);
  };
  auto warned = pass();
  ASSERT_EQ(warned.size(), 1u);
  EXPECT_EQ(warned[1],
            (std::vector<std::string>{"self-test failed: short test, read failure at LBA 4242, 70 "
                                      "power-on hours"}));
  EXPECT_TRUE(pass().empty());
  system->FindDrive(0)->selfTest->errorCount = 6;
  warned = pass();
  EXPECT_EQ(warned[1], (std::vector<std::string>{"error log count rose from 4 to 6"}));
  EXPECT_TRUE(selfTests.AfterPass(err, nullptr, false).empty());  // off: nothing read
  EXPECT_EQ(err.str(), "");
}

}  // namespace
}  // namespace dv::cli
