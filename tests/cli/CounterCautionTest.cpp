// The counters that predict failure on the command line: smart's "caution" list, the monitor's
// pass lines and state file, and the caution and asleep metrics.
#include <gtest/gtest.h>
#include <unistd.h>

#include <filesystem>
#include <fstream>
#include <nlohmann/json.hpp>
#include <optional>
#include <sstream>

#include "CliTestKit.h"
#include "TestFolder.h"
#include "cli/Metrics.h"
#include "core/Enumerate.h"

namespace dv::cli {
namespace {

namespace fs = std::filesystem;
using clitest::RunOn;
using clitest::Simulate;
using nlohmann::json;

// Pending sectors 0, 0, 3 over the passes; CRC errors 7 throughout (not a rise at first sight).
constexpr char kRising[] = R"({"drives": [
  {"model": "ST3500418AS", "serial": "5VM1", "smart": {"attributes": [
    [{"id": 197, "value": 100, "raw": 0}, {"id": 199, "value": 200, "raw": 7}],
    [{"id": 197, "value": 100, "raw": 0}, {"id": 199, "value": 200, "raw": 7}],
    [{"id": 197, "value": 100, "raw": 3}, {"id": 199, "value": 200, "raw": 7}]]}},
  {"model": "WDC WD5000AAKS", "serial": "WMA1", "smart": {"attributes": [
    {"id": 5, "value": 200, "raw": 0}, {"id": 194, "value": 110, "raw": 33}]}}]})";

class CounterCaution : public ::testing::Test {
 protected:
  void SetUp() override {
    folder_ = test::MakeTestFolder("dv-cli-counters");
    stateHome_.emplace(folder_ / "state");
  }
  void TearDown() override {
    stateHome_.reset();
    fs::remove_all(folder_);
  }

  fs::path StateFile() const { return folder_ / "state" / "diskvigil" / "counters.json"; }

  fs::path folder_;
  std::optional<clitest::StateHomeFor> stateHome_;
};

std::vector<json> JsonLines(const std::string& text) {
  std::vector<json> lines;
  std::istringstream in(text);
  for (std::string line; std::getline(in, line);) lines.push_back(json::parse(line));
  return lines;
}

TEST_F(CounterCaution, SmartListsTheRisesWithoutUsingThemUp) {
  auto system = Simulate(R"({"model": "M1", "serial": "S1", "smart": {"attributes": [
      {"id": 5, "value": 99, "raw": 4}, {"id": 188, "value": 100, "raw": 2}]}})");
  ASSERT_TRUE(system);
  for (int run = 0; run < 2; ++run) {
    const clitest::CliRun smart = RunOn(*system, {"--json", "smart", "1"});
    ASSERT_EQ(smart.exitCode, kExitOk) << smart.err;
    EXPECT_EQ(
        json::parse(smart.out)["caution"],
        json::parse(R"([{"id": 5, "name": "Reallocated Sector Count", "from": 0, "to": 4}])"));
  }
  EXPECT_FALSE(fs::exists(StateFile()));  // a look stores nothing
  const clitest::CliRun text = RunOn(*system, {"smart", "1"});
  EXPECT_NE(text.out.find("Caution: Reallocated Sector Count (5) rose from 0 to 4\n"),
            std::string::npos)
      << text.out;

  // A drive with nothing risen has an empty list, whatever the settings say.
  auto quiet = Simulate(R"({"model": "M2", "smart": {"attributes": [{"id": 5, "value": 100}]}})");
  ASSERT_TRUE(quiet);
  EXPECT_EQ(json::parse(RunOn(*quiet, {"--json", "smart", "1"}).out)["caution"], json::array());
}

TEST_F(CounterCaution, MonitorReportsARiseAndRemembersIt) {
  auto system = Simulate(kRising);
  ASSERT_TRUE(system);
  const clitest::CliRun run =
      RunOn(*system, {"--json", "monitor", "--count", "3", "--interval", "0"});
  ASSERT_EQ(run.exitCode, kExitOk) << run.err;
  const auto lines = JsonLines(run.out);
  ASSERT_EQ(lines.size(), 3u);
  EXPECT_FALSE(lines[0]["drives"][0].contains("caution"));
  EXPECT_FALSE(lines[1]["drives"][0].contains("caution"));
  EXPECT_EQ(lines[2]["drives"][0]["caution"],
            json::parse(R"([{"id": 197, "name": "Current Pending Sector Count", "from": 0,
                             "to": 3}])"));
  EXPECT_FALSE(lines[2]["drives"][1].contains("caution"));
  ASSERT_TRUE(fs::exists(StateFile()));

  // Started again, the stored values stand: the caution is still there, and smart agrees.
  auto again = Simulate(kRising);
  const clitest::CliRun text = RunOn(*again, {"monitor", "--count", "1"});
  EXPECT_NE(text.out.find("[1] ST3500418AS: O.K. 0 C, caution: Current Pending Sector Count (197) "
                          "rose from 0 to 3"),
            std::string::npos)
      << text.out;
  EXPECT_EQ(json::parse(RunOn(*again, {"--json", "smart", "1"}).out)["caution"].size(), 1u);
}

TEST_F(CounterCaution, AStateFileThatCannotBeTrustedIsNamedAndReplaced) {
  fs::create_directories(StateFile().parent_path());
  std::ofstream(StateFile()) << "{\"format\": \"diskvigil counter state\", \"version\": 1, "
                                "\"machine\": \"elsewhere\", \"drives\": []}";
  auto system = Simulate(kRising);
  const clitest::CliRun run = RunOn(*system, {"monitor", "--count", "1"});
  EXPECT_EQ(run.exitCode, kExitOk);
  EXPECT_NE(run.err.find("counters.json: set aside as counters.json.bad, counters are watched "
                         "afresh: it was written on another machine"),
            std::string::npos)
      << run.err;
  std::ofstream(StateFile()) << "\x01\x02 not json";
  const clitest::CliRun corrupt = RunOn(*system, {"--json", "smart", "1"});
  EXPECT_EQ(corrupt.exitCode, kExitOk);
  EXPECT_NE(corrupt.err.find("is not valid JSON"), std::string::npos) << corrupt.err;
}

// Two drives behind a bridge that gives both one model and serial, with different counters, beside
// a third drive whose pending sectors rise: the twins are not watched (and it is said), neither is
// put in caution for the other's counter, and the third is watched as ever.
TEST_F(CounterCaution, DrivesWithOneModelAndSerialAreNotWatched) {
  auto system = Simulate(R"({"drives": [
    {"model": "USB BRIDGE", "serial": "0000", "smart": {"attributes": [
      {"id": 5, "value": 100, "raw": 0}, {"id": 199, "value": 200, "raw": 1}]}},
    {"model": "USB BRIDGE", "serial": "0000", "smart": {"attributes": [
      {"id": 5, "value": 100, "raw": 8}, {"id": 199, "value": 200, "raw": 40}]}},
    {"model": "ST3500418AS", "serial": "5VM1", "smart": {"attributes": [
      [{"id": 197, "value": 100, "raw": 0}], [{"id": 197, "value": 100, "raw": 3}]]}}]})");
  ASSERT_TRUE(system);
  const clitest::CliRun run =
      RunOn(*system, {"--json", "monitor", "--count", "4", "--interval", "0"});
  ASSERT_EQ(run.exitCode, kExitOk) << run.err;
  EXPECT_NE(run.err.find("Drives 1 and 2 give the same model and serial: their counters are not "
                         "watched\n"),
            std::string::npos)
      << run.err;
  const auto lines = JsonLines(run.out);
  ASSERT_EQ(lines.size(), 4u);
  for (const json& line : lines) {
    EXPECT_FALSE(line["drives"][0].contains("caution")) << line;
    EXPECT_FALSE(line["drives"][1].contains("caution")) << line;
  }
  EXPECT_TRUE(lines[3]["drives"][2].contains("caution"));
  const clitest::CliRun smart = RunOn(*system, {"--json", "smart", "2"});
  EXPECT_EQ(json::parse(smart.out)["caution"], json::array());
  EXPECT_NE(smart.err.find("Drive 1 gives the same model and serial: the counters of drive 2 are "
                           "not watched"),
            std::string::npos)
      << smart.err;
}

// Root run with a user's environment must not write where the user points it: a link planted as
// the state file is set aside and replaced, and a folder of another user is not used at all.
TEST_F(CounterCaution, StateNeverWrittenThroughALinkOrInAnotherUsersFolder) {
  auto system = Simulate(kRising);
  ASSERT_TRUE(system);
  const fs::path precious = folder_ / "precious";
  std::ofstream(precious) << "root only\n";
  fs::create_directories(StateFile().parent_path());
  fs::create_symlink(precious, StateFile());
  const clitest::CliRun run = RunOn(*system, {"monitor", "--count", "1"});
  EXPECT_EQ(run.exitCode, kExitOk);
  EXPECT_NE(run.err.find("set aside as counters.json.bad, counters are watched afresh: it is a "
                         "symbolic link"),
            std::string::npos)
      << run.err;
  std::ifstream in(precious);
  EXPECT_EQ(std::string(std::istreambuf_iterator<char>(in), {}), "root only\n");
  EXPECT_EQ(fs::symlink_status(StateFile()).type(), fs::file_type::regular);
  EXPECT_TRUE(fs::is_symlink(StateFile().string() + ".bad"));

  if (::geteuid() != 0) GTEST_SKIP() << "another user's folder needs root to make";
  fs::remove(StateFile());
  ASSERT_EQ(::chown(StateFile().parent_path().c_str(), 4321, 4321), 0);
  const clitest::CliRun refused = RunOn(*system, {"monitor", "--count", "1"});
  EXPECT_EQ(refused.exitCode, kExitOk);
  EXPECT_NE(refused.err.find("diskvigil: not used, counters are watched in memory only: it belongs "
                             "to another user"),
            std::string::npos)
      << refused.err;
  EXPECT_FALSE(fs::exists(StateFile()));
}

TEST_F(CounterCaution, MetricsCarryCautionAndAsleep) {
  auto system = Simulate(kRising);
  ASSERT_TRUE(system);
  const fs::path prom = folder_ / "drives.prom";
  ASSERT_EQ(
      RunOn(*system, {"monitor", "--count", "3", "--interval", "0", "--textfile", prom.string()})
          .exitCode,
      kExitOk);
  std::ifstream in(prom);
  const std::string text{std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
  EXPECT_NE(text.find("# TYPE diskvigil_caution gauge\n"), std::string::npos);
  EXPECT_NE(text.find("diskvigil_caution{device=\"simulated drive "
                      "0\",model=\"ST3500418AS\",serial=\"5VM1\"} 1\n"),
            std::string::npos)
      << text;
  EXPECT_NE(text.find("diskvigil_caution{device=\"simulated drive 1\",model=\"WDC "
                      "WD5000AAKS\",serial=\"WMA1\"} 0"),
            std::string::npos);
  EXPECT_NE(
      text.find(
          "diskvigil_asleep{device=\"simulated drive 0\",model=\"ST3500418AS\",serial=\"5VM1\"} 0"),
      std::string::npos);
}

TEST(CautionMetricsFormat, AsleepReadingTakenWithItsCaution) {
  auto system = Simulate(kRising);
  ASSERT_TRUE(system);
  DriveTable table;
  ASSERT_TRUE(ProbeDrives(*system, table));
  const fs::path prom =
      fs::temp_directory_path() / ("dv-asleep-" + std::to_string(getpid()) + ".prom");
  MetricsTextfile textfile(*system, table, prom.string());
  PositionReading asleep;
  asleep.position = 1;
  asleep.monitored = true;
  asleep.asleep = true;
  textfile.Take(asleep, SmartSectors{}, true);
  ASSERT_FALSE(textfile.WritePass(0));
  std::string text;
  {
    std::ifstream in(prom, std::ios::binary);  // closed before the removal (Windows refuses it)
    text.assign(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
  }
  fs::remove(prom);
  const std::string labels = R"({device="simulated drive 0",model="ST3500418AS",serial="5VM1"})";
  EXPECT_NE(text.find("diskvigil_asleep" + labels + " 1\n"), std::string::npos) << text;
  EXPECT_NE(text.find("diskvigil_caution" + labels + " 1\n"), std::string::npos) << text;
  EXPECT_EQ(text.find("diskvigil_smart_healthy"), std::string::npos);  // nothing was read
}

TEST(CautionMetricsFormat, SampleOnlyWhenKnown) {
  MetricsDrive unknown;
  unknown.device = "/dev/sda";
  unknown.smartEnabled = true;
  MetricsDrive off;
  off.device = "/dev/sdb";
  MetricsDrive risen = unknown;
  risen.device = "/dev/sdc";
  risen.caution = true;
  risen.asleep = true;
  const std::string text = FormatMetrics(std::vector<MetricsDrive>{unknown, off, risen}, 0);
  EXPECT_EQ(text.find("diskvigil_caution{device=\"/dev/sda\""), std::string::npos);
  EXPECT_EQ(text.find("device=\"/dev/sdb\""), text.rfind("device=\"/dev/sdb\""));  // enabled only
  EXPECT_NE(text.find("diskvigil_caution{device=\"/dev/sdc\",model=\"\",serial=\"\"} 1\n"),
            std::string::npos);
  EXPECT_NE(text.find("diskvigil_asleep{device=\"/dev/sdc\",model=\"\",serial=\"\"} 1\n"),
            std::string::npos);
  EXPECT_NE(text.find("# HELP diskvigil_asleep "), std::string::npos);
}

}  // namespace
}  // namespace dv::cli
