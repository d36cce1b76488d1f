#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <csignal>
#include <filesystem>
#include <fstream>
#include <nlohmann/json.hpp>
#include <sstream>
#include <thread>

#include "TestFolder.h"
#include "cli/Cli.h"
#include "cli/CliTestKit.h"
#include "core/AttributeRows.h"
#include "core/SimulatedDrives.h"
#include "core/SmartData.h"

namespace dv::cli {
namespace {

using namespace dv::cli::clitest;

namespace fs = std::filesystem;
using nlohmann::json;

std::string RealDrive(const std::string& name) {
  return std::string(DISKVIGIL_TEST_DATA_DIR) + "/real-drives/" + name + ".json";
}

TEST(SmartCommand, JsonOfAHealthyDrive) {
  const CliRun run = RunOn(kDemoDir, {"--json", "smart", "1"});
  EXPECT_EQ(run.exitCode, kExitOk) << run.err;
  const json j = json::parse(run.out);
  EXPECT_EQ(j["position"], 1);
  EXPECT_EQ(j["statusOK"], true);
  EXPECT_EQ(j["readOK"], true);
  EXPECT_EQ(j["temperatures"], (json{{"current", 36}, {"low", 20}, {"high", 45}, {"airflow", 36}}));
  ASSERT_FALSE(j["rows"].empty());
  for (const auto& row : j["rows"]) {
    ASSERT_EQ(row.size(), 7u);
    EXPECT_EQ(row[3].get<std::string>().back(), 'h') << "HEX unless --dec";
  }
  EXPECT_EQ(j["rows"][0][0], "(01h) Raw Read Error Rate");

  const json dec = json::parse(RunOn(kDemoDir, {"--json", "smart", "1", "--dec"}).out);
  EXPECT_EQ(dec["rows"][0][3], "100123456");
  EXPECT_EQ(dec["rows"].size(), j["rows"].size());
}

TEST(SmartCommand, FailingVerdictWithAttributesReadExitsThree) {
  const CliRun run = RunOn(kDemoDir, {"--json", "smart", "2"});
  EXPECT_EQ(run.exitCode, kExitUnhealthy);
  const json j = json::parse(run.out);
  EXPECT_EQ(j["statusOK"], false);
  EXPECT_EQ(j["readOK"], true);
  EXPECT_FALSE(j["rows"].empty());

  const CliRun text = RunOn(kDemoDir, {"smart", "2"});
  EXPECT_NE(text.out.find("S.M.A.R.T.: ERROR"), std::string::npos);
  EXPECT_NE(text.out.find("!!!"), std::string::npos);
}

TEST(SmartCommand, SsdTemperatureComesFromAirflowAttribute) {
  const json j = json::parse(RunOn(kDemoDir, {"--json", "smart", "3"}).out);
  EXPECT_EQ(j["temperatures"]["current"], 29);
  EXPECT_EQ(j["temperatures"]["current"], j["temperatures"]["airflow"]);
}

TEST(SmartCommand, DriveWithSmartOffHasNoRows) {
  const CliRun run = RunOn(kDemoDir, {"--json", "smart", "4"});
  EXPECT_EQ(run.exitCode, kExitSmartOff);
  const json j = json::parse(run.out);
  EXPECT_EQ(j["readOK"], false);
  EXPECT_TRUE(j["rows"].empty());
  EXPECT_EQ(j["temperatures"]["current"], 0);
}

TEST(SmartCommand, RealMaxtorWithAFailingVerdict) {
  const CliRun run = RunOn(RealDrive("Maxtor_96147H8--BAC51KJ0--2"), {"--json", "smart", "1"});
  EXPECT_EQ(run.exitCode, kExitUnhealthy);
  const json j = json::parse(run.out);
  EXPECT_EQ(j["statusOK"], false);
  EXPECT_EQ(j["readOK"], true);
  ASSERT_EQ(j["rows"].size(), 17u);
  EXPECT_EQ(j["rows"][8], (json{"(0Ah) Spin Retry Count", "212", "210", "002900000063h", "223",
                                "S-E-OF", "!!!"}));
}

std::vector<uint8_t> FromHex(const std::string& hex) {
  std::vector<uint8_t> bytes;
  for (size_t i = 0; i + 1 < hex.size(); i += 2) {
    bytes.push_back(static_cast<uint8_t>(std::stoi(hex.substr(i, 2), nullptr, 16)));
  }
  return bytes;
}

// The typed attributes of every recorded real drive: what the product's decoder reads from the
// drive's own sectors, the same attributes as the display rows in the same order.
TEST(SmartCommand, TypedAttributesOfRealDrives) {
  const fs::path folder = fs::path(DISKVIGIL_TEST_DATA_DIR) / "real-drives";
  int drives = 0;
  for (const auto& file : fs::directory_iterator(folder)) {
    if (file.path().extension() != ".json") continue;
    SCOPED_TRACE(file.path().filename().string());
    std::ifstream in(file.path());
    const json recorded = json::parse(in);
    const auto data = FromHex(recorded.at("smartDataHex"));
    const auto thresholds = FromHex(recorded.at("smartThresholdsHex"));
    const json j = json::parse(RunOn(file.path().string(), {"--json", "smart", "1", "--dec"}).out);
    ASSERT_EQ(j["attributes"].size(), j["rows"].size());
    for (size_t i = 0; i < j["rows"].size(); ++i) {
      const json& a = j["attributes"][i];
      const json& row = j["rows"][i];
      const auto id = a["id"].get<uint8_t>();
      const SMARTAttribute decoded = FindSMARTAttribute(data, id);
      EXPECT_EQ(a, (json{{"id", id},
                         {"name", a["name"]},
                         {"value", decoded.Value},
                         {"worst", decoded.Worst},
                         {"threshold", FindSMARTThreshold(thresholds, id)},
                         {"raw", decoded.Raw},
                         {"flags", decoded.Flags},
                         {"flagsText", row[5]},
                         {"prefailure", row[5].get<std::string>().back() == 'F'},
                         {"failingNow", row[6] == "!!!"},
                         {"failedBefore", a["failedBefore"]}}));
      EXPECT_EQ(AttributeNameCell(id, a["name"].get<std::string>()), row[0]);
      EXPECT_EQ(std::to_string(a["raw"].get<uint64_t>()), row[3]);
    }
    ++drives;
  }
  EXPECT_GE(drives, 19);

  // The Maxtor's spin retry count is below its threshold now and was before.
  const json maxtor =
      json::parse(RunOn(RealDrive("Maxtor_96147H8--BAC51KJ0--2"), {"--json", "smart", "1"}).out);
  const json& spinRetry = maxtor["attributes"][8];
  EXPECT_EQ(spinRetry["name"], "Spin Retry Count");
  EXPECT_EQ(spinRetry["raw"], 0x002900000063u);
  for (const char* key : {"prefailure", "failingNow", "failedBefore"}) {
    EXPECT_EQ(spinRetry[key], true) << key;
  }
}

TEST(SmartCommand, PositionsAndArguments) {
  EXPECT_EQ(RunOn(kDemoDir, {"smart", "7"}).exitCode, kExitFailure);
  EXPECT_EQ(RunOn(kDemoDir, {"smart", "0"}).exitCode, kExitFailure);
  EXPECT_EQ(RunOn(RealDrive("ST320410A--3.39"), {"smart", "2"}).exitCode, kExitFailure);
  EXPECT_EQ(RunOn(kDemoDir, {"smart"}).exitCode, kExitUsage);
  EXPECT_EQ(RunOn(kDemoDir, {"smart", "1", "2"}).exitCode, kExitUsage);
  EXPECT_EQ(RunOn(kDemoDir, {"smart", "1", "--hex"}).exitCode, kExitUsage);
  SimulatedDriveSystem empty({});
  const CliRun none = RunOn(empty, {"smart", "1"});
  EXPECT_EQ(none.exitCode, kExitFailure);
  EXPECT_EQ(none.err, "S.M.A.R.T. HDD(s) not found!\n");
}

// A position that is not written as a number is a usage error for every command that takes one;
// a number that names no listed drive stays "no such drive".
// A status says what happened and no more: a change the drive aborted is no success, a drive
// read without privilege or with S.M.A.R.T. off failed no check, and a command that does not
// apply to the drive says so.
TEST(ExitStatus, SaysWhatHappened) {
  const std::string nvmeDemo = std::string(DISKVIGIL_SOURCE_DIR) + "/data/demo-nvme";
  const std::string hwmonOnly = R"({"model": "KINGSTON SNV2S1000G", "serial": "50026B7",
      "nvme": {"privileged": false, "health": {"temperature": 44}}})";
  const std::string noApm = R"({"model": "No features", "serial": "NF1"})";
  struct Row {
    std::string drives;  // a simulation path, or simulation JSON
    std::vector<std::string> args;
    int status;
    std::string said;  // in standard output or standard error
  };
  const std::vector<Row> rows{
      {noApm, {"--json", "apm", "1", "--set", "128"}, kExitFailure, "\"applied\": false"},
      {noApm, {"aam", "1", "--disable"}, kExitFailure, "aborted SET FEATURES (AAM)"},
      {hwmonOnly, {"report", "1"}, kExitOk, "needs root"},
      {hwmonOnly, {"smart", "1"}, kExitOk, "needs root"},
      {kDemoDir, {"smart", "4"}, kExitSmartOff, "S.M.A.R.T.: off"},
      {kDemoDir, {"--json", "smart", "4"}, kExitSmartOff, "\"readOK\": false"},
      {kDemoDir, {"report", "4"}, kExitSmartOff, "S.M.A.R.T. is off on drive 4"},
      {nvmeDemo, {"mbr", "3"}, kExitFailure, "does not apply to NVMe drive 3"},
      {nvmeDemo, {"aam", "3"}, kExitFailure, "does not apply to NVMe drive 3"},
  };
  for (const Row& row : rows) {
    auto system = row.drives.starts_with("{") ? Simulate(row.drives) : LoadSystem(row.drives);
    ASSERT_TRUE(system);
    const CliRun run = RunOn(*system, row.args);
    const std::string what = testing::PrintToString(row.args) + "\n" + run.out + run.err;
    EXPECT_EQ(run.exitCode, row.status) << what;
    EXPECT_NE((run.out + run.err).find(row.said), std::string::npos) << what;
  }
}

TEST(PositionArgument, WordsAreUsageErrorsNumbersOutOfRangeAreNot) {
  for (const std::string verb : {"smart", "report", "aam", "apm", "mbr"}) {
    for (const std::string word : {"abc", "1x", "x1", "1.5", "+1", " 1", "\x1b[2J"}) {
      const CliRun run = RunOn(kDemoDir, {verb, word});
      EXPECT_EQ(run.exitCode, kExitUsage) << verb << " '" << word << "'";
      EXPECT_NE(run.err.find("Usage:"), std::string::npos) << verb << " " << word;
      EXPECT_EQ(run.err.find('\x1b'), std::string::npos) << "the word is echoed safely";
      EXPECT_EQ(run.out, "");
    }
    for (const std::string number : {"0", "7", "99", "01"}) {
      EXPECT_EQ(RunOn(kDemoDir, {verb, number}).exitCode, kExitFailure) << verb << " " << number;
    }
  }
}

class ReportCommand : public ::testing::Test {
 protected:
  void SetUp() override { folder_ = dv::test::MakeTestFolder("dv-cli-report"); }
  void TearDown() override { fs::remove_all(folder_); }
  static std::string Read(const fs::path& path) {
    std::ifstream in(path, std::ios::binary);
    std::stringstream text;
    text << in.rdbuf();
    return text.str();
  }
  fs::path folder_;
};

TEST_F(ReportCommand, WritesTheReportToStandardOutputOrAFile) {
  const CliRun run = RunOn(kDemoDir, {"report", "1", "--dec"});
  EXPECT_EQ(run.exitCode, kExitOk) << run.err;
  EXPECT_EQ(run.out.rfind("S.M.A.R.T. Report - ", 0), 0u);
  EXPECT_NE(run.out.find("\r\nModel Number: ST2000DM008-2FR102\r\n"), std::string::npos);
  EXPECT_NE(run.out.find("\r\n(01h) Raw Read Error Rate               80     64     100123456"),
            std::string::npos);

  const fs::path file = folder_ / "drive.log";
  EXPECT_EQ(RunOn(kDemoDir, {"report", "2", "-o", file.string()}).exitCode, kExitOk);
  const std::string written = Read(file);
  EXPECT_NE(written.find("Serial Number: WD-WCC6Y3KR7N1Z\r\n"), std::string::npos);
  EXPECT_NE(written.find("(05h) Reallocated Sector Count"), std::string::npos);
}

// The first demo drive with control bytes (clear screen, bell, a stray high byte) in its model.
std::string HostileModelDrive() {
  std::ifstream in(kDemoDir + "/1-healthy-seagate-hdd.json");
  json drive = json::parse(in);
  drive["model"] = "ST\x1b[2J\x07X";
  return drive.dump();
}

TEST_F(ReportCommand, TerminalGetsPrintableTextWhileFilesAndPipesKeepTheBytes) {
  std::string error;
  auto system = SimulatedDriveSystem::FromJsonText(HostileModelDrive(), kDemoDir, "hostile", error);
  ASSERT_TRUE(system) << error;

  std::ostringstream terminal, err;
  ASSERT_EQ(RunCliOn(*system, {"report", "1"}, terminal, err, true), kExitOk) << err.str();
  EXPECT_EQ(terminal.str().find('\x1b'), std::string::npos);
  EXPECT_EQ(terminal.str().find('\x07'), std::string::npos);
  EXPECT_NE(terminal.str().find("\r\nModel Number: ST?[2J?X\r\n"), std::string::npos)
      << "line ends survive the filter";

  const CliRun piped = RunOn(*system, {"report", "1"});
  ASSERT_EQ(piped.exitCode, kExitOk);
  EXPECT_NE(piped.out.find("Model Number: ST\x1b[2J\x07X\r\n"), std::string::npos);
  EXPECT_EQ(piped.out.size(), terminal.str().size()) << "only bytes replaced, none dropped";

  const fs::path file = folder_ / "hostile.log";
  ASSERT_EQ(RunCliOn(*system, {"report", "1", "-o", file.string()}, terminal, err, true), kExitOk);
  EXPECT_NE(Read(file).find("Model Number: ST\x1b[2J\x07X\r\n"), std::string::npos);
}

TEST_F(ReportCommand, UnwritableFileIsReportedAndNothingIsReplaced) {
  const fs::path missing = folder_ / "missing" / "drive.log";
  const CliRun run = RunOn(kDemoDir, {"report", "1", "-o", missing.string()});
  EXPECT_EQ(run.exitCode, kExitFailure);
  EXPECT_EQ(run.err, "Unable to write to " + missing.string() + "\n");

  // A drive with S.M.A.R.T. off leaves an earlier report in place.
  const fs::path earlier = folder_ / "earlier.log";
  std::ofstream(earlier) << "earlier";
  EXPECT_EQ(RunOn(kDemoDir, {"report", "4", "-o", earlier.string()}).exitCode, kExitSmartOff);
  EXPECT_EQ(Read(earlier), "earlier");
}

TEST(MonitorCommand, CountedPassesAsJsonLines) {
  const CliRun run = RunOn(kDemoDir, {"monitor", "--count", "2", "--interval", "0", "--json"});
  EXPECT_EQ(run.exitCode, kExitUnhealthy) << "the demo set holds a failing drive";
  std::istringstream lines(run.out);
  std::string line;
  int count = 0;
  while (std::getline(lines, line)) {
    ++count;
    const json pass = json::parse(line);
    EXPECT_EQ(pass["good"], false);
    EXPECT_TRUE(pass["time"].is_string());
    ASSERT_EQ(pass["drives"].size(), 6u);
    EXPECT_EQ(pass["drives"][0], (json{{"position", 1},
                                       {"model", "ST2000DM008-2FR102"},
                                       {"statusOK", true},
                                       {"readOK", true},
                                       {"temperature", 36}}));
    EXPECT_EQ(pass["drives"][1]["statusOK"], false);
    EXPECT_EQ(pass["drives"][3]["readOK"], false);
  }
  EXPECT_EQ(count, 2);
}

TEST(MonitorCommand, OnlyTheMonitorSwitchesOnTheConveniences) {
  const auto system = LoadSystem(kDemoDir);
  const auto sentAutosave = [&system] {
    for (const auto& entry : system->CommandLog()) {
      if (entry.name == "SMART_AUTOSAVE") return true;
    }
    return false;
  };
  for (const std::vector<std::string>& oneShot :
       {std::vector<std::string>{"smart", "1"}, {"list"}, {"log", "1", "selftest"}}) {
    RunOn(*system, oneShot);
    EXPECT_FALSE(sentAutosave()) << oneShot[0];
  }
  RunOn(*system, {"monitor", "--count", "1", "--interval", "0"});
  EXPECT_TRUE(sentAutosave());
}

TEST(MonitorCommand, GoodLastPassExitsZero) {
  const CliRun run = RunOn(RealDrive("SAMSUNG_HD501LJ--CR100-12"), {"monitor", "--count", "1"});
  EXPECT_EQ(run.exitCode, kExitOk) << run.err;
  EXPECT_NE(run.out.find("[1] SAMSUNG HD501LJ: O.K. 47 C"), std::string::npos) << run.out;
  EXPECT_NE(run.out.find("pass: good"), std::string::npos);
}

TEST(MonitorCommand, BadArguments) {
  for (const auto& args : std::vector<std::vector<std::string>>{{"monitor", "--interval", "soon"},
                                                                {"monitor", "--interval", "-1"},
                                                                {"monitor", "--count", "0"},
                                                                {"monitor", "--count"},
                                                                {"monitor", "1"}}) {
    EXPECT_EQ(RunOn(kDemoDir, args).exitCode, kExitUsage);
  }
}

// Counts opens so the test knows the monitor has started before it signals.
class WatchedSystem : public DriveSystem {
 public:
  explicit WatchedSystem(DriveSystem& inner) : inner_(inner) {}
  DriveHandlePtr Open(int driveNumber) override {
    ++opens;
    return inner_.Open(driveNumber);
  }
  std::optional<std::string> VolumeName(int driveNumber, int partition) override {
    return inner_.VolumeName(driveNumber, partition);
  }
  std::string DescribeDrive(int driveNumber) const override {
    return inner_.DescribeDrive(driveNumber);
  }
  std::atomic<int> opens{0};

 private:
  DriveSystem& inner_;
};

TEST(MonitorCommand, EndsCleanlyOnSigterm) {
  auto simulated = LoadSystem(RealDrive("ST320410A--3.39"));
  ASSERT_TRUE(simulated);
  WatchedSystem system(*simulated);
  std::ostringstream out;
  std::ostringstream err;
  std::atomic<int> exitCode{-1};
  clitest::KeepCounterStateAside();
  std::thread monitor([&] {
    exitCode = RunCliOn(system, {"monitor", "--interval", "600"}, out, err);
  });
  while (system.opens == 0) std::this_thread::sleep_for(std::chrono::milliseconds(5));
  std::this_thread::sleep_for(std::chrono::milliseconds(50));
  const auto start = std::chrono::steady_clock::now();
  std::raise(SIGTERM);
  monitor.join();
  EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::seconds(5));
  EXPECT_EQ(exitCode, kExitOk);
  EXPECT_NE(out.str().find("pass: good"), std::string::npos);
}

int CommandCount(const SimulatedDriveSystem& system, int driveNumber, const std::string& name) {
  int count = 0;
  for (const auto& logged : system.CommandLog()) {
    count += logged.driveNumber == driveNumber && logged.name == name;
  }
  return count;
}

TEST(SmartCommand, NoWakeLeavesAStandbyDriveUnread) {
  auto system = LoadSystem(RealDrive("SAMSUNG_HD501LJ--CR100-12"));
  ASSERT_TRUE(system);
  const int driveNumber = system->Drives().front().driveNumber;
  system->FindDrive(driveNumber)->powerMode = SimulatedPowerMode::Standby;
  const CliRun asleep = RunOn(*system, {"--json", "smart", "1", "--no-wake"});
  EXPECT_EQ(asleep.exitCode, kExitAsleep);
  EXPECT_EQ(asleep.out, "") << "nothing read, nothing printed";
  EXPECT_NE(asleep.err.find("Drive 1 is asleep"), std::string::npos) << asleep.err;
  EXPECT_EQ(CommandCount(*system, driveNumber, "SMART_RETURN_STATUS"), 0);
  EXPECT_EQ(CommandCount(*system, driveNumber, "SMART_READ_THRESHOLDS"), 0);

  // Awake, or without the option, the drive is read as always.
  const CliRun awake = RunOn(*system, {"smart", "1", "--no-wake"});
  EXPECT_EQ(awake.exitCode, kExitOk) << awake.err;
  system->FindDrive(driveNumber)->powerMode = SimulatedPowerMode::Standby;
  system->ClearLog();
  EXPECT_EQ(RunOn(*system, {"smart", "1"}).exitCode, kExitOk);
  EXPECT_EQ(CommandCount(*system, driveNumber, "CHECK_POWER_MODE"), 0);
  EXPECT_EQ(RunOn(*system, {"report", "1", "--no-wake"}).exitCode, kExitUsage);
}

// A drive that has dozed off again by the time each pass asks for its power mode.
class DozingSystem : public DriveSystem {
 public:
  DozingSystem(SimulatedDriveSystem& inner, int sleeper) : inner_(inner), sleeper_(sleeper) {}
  DriveHandlePtr Open(int driveNumber) override {
    auto handle = inner_.Open(driveNumber);
    if (!handle || driveNumber != sleeper_) return handle;
    return std::make_unique<Handle>(std::move(handle), *inner_.FindDrive(driveNumber));
  }
  std::optional<std::string> VolumeName(int driveNumber, int partition) override {
    return inner_.VolumeName(driveNumber, partition);
  }
  std::string DescribeDrive(int driveNumber) const override {
    return inner_.DescribeDrive(driveNumber);
  }

 private:
  class Handle : public DriveHandle {
   public:
    Handle(DriveHandlePtr inner, SimulatedDrive& drive) : inner_(std::move(inner)), drive_(drive) {}
    bool PassThrough(std::span<uint8_t> request) override {
      if (request.size() > kOffsetCurrentTaskFile + 6 &&
          request[kOffsetCurrentTaskFile + 6] == 0xE5) {
        drive_.powerMode = SimulatedPowerMode::Standby;
      }
      return inner_->PassThrough(request);
    }

   private:
    DriveHandlePtr inner_;
    SimulatedDrive& drive_;
  };
  SimulatedDriveSystem& inner_;
  int sleeper_;
};

TEST(MonitorCommand, NoWakePassesLeaveAStandbyDriveAsleep) {
  auto simulated = LoadSystem(RealDrive("SAMSUNG_HD501LJ--CR100-12"));
  ASSERT_TRUE(simulated);
  const int driveNumber = simulated->Drives().front().driveNumber;
  DozingSystem system(*simulated, driveNumber);

  const CliRun json =
      RunOn(system, {"--json", "monitor", "--count", "2", "--interval", "0", "--no-wake"});
  EXPECT_EQ(json.exitCode, kExitOk) << json.err;
  std::istringstream lines(json.out);
  std::string line;
  int passes = 0;
  while (std::getline(lines, line)) {
    ++passes;
    const auto drive = nlohmann::json::parse(line)["drives"][0];
    EXPECT_EQ(drive["asleep"], true);
    EXPECT_EQ(drive["powerMode"], "standby");
    EXPECT_TRUE(drive["readingAge"].is_null()) << "never read by this monitor";
  }
  EXPECT_EQ(passes, 2);
  EXPECT_EQ(simulated->FindDrive(driveNumber)->powerMode, SimulatedPowerMode::Standby);
  EXPECT_EQ(CommandCount(*simulated, driveNumber, "SMART_RETURN_STATUS"), 0);

  const CliRun text = RunOn(system, {"monitor", "--count", "1", "--no-wake"});
  EXPECT_NE(text.out.find("[1] SAMSUNG HD501LJ: asleep, no reading yet"), std::string::npos)
      << text.out;

  // Without the option the pass never asks and wakes the drive with its reads.
  simulated->ClearLog();
  EXPECT_EQ(RunOn(system, {"monitor", "--count", "1"}).exitCode, kExitOk);
  EXPECT_EQ(CommandCount(*simulated, driveNumber, "CHECK_POWER_MODE"), 0);
  EXPECT_EQ(simulated->FindDrive(driveNumber)->powerMode, SimulatedPowerMode::Active);
}

}  // namespace
}  // namespace dv::cli
