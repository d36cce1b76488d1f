#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <nlohmann/json.hpp>
#include <sstream>
#include <string>
#include <vector>

#include "TestFolder.h"
#include "cli/Cli.h"
#include "cli/CliSupport.h"
#include "cli/CliTestKit.h"

namespace dv::cli {
namespace {

using clitest::CliRun;

CliRun RunArgs(const std::vector<std::string>& args) {
  std::ostringstream out;
  std::ostringstream err;
  CliRun run;
  run.exitCode = RunCli(args, out, err);
  run.out = out.str();
  run.err = err.str();
  return run;
}

// A simulation file in this test process's own folder, removed at exit.
std::string WriteFile(const std::string& name, const std::string& text) {
  static const test::ProcessFolder folder("dv-list");
  const std::filesystem::path path = folder.Path() / name;
  std::ofstream(path) << text;
  return path.string();
}

const char* const kTwoDrives = R"({"drives": [
  {"driveNumber": 1, "model": "WDC WD2500JB-00REA0", "serial": "WD-WMANK4051741",
   "firmware": "20.00K20", "sectors": 488397168, "hpaEnabled": true,
   "nativeMaxAddress": 488601967},
  {"driveNumber": 4, "model": "INTEL SSDSA2CW120G3", "serial": "CVPR109301UZ120LGN",
   "firmware": "4PC10302", "sectors": 39100223, "smartEnabled": false,
   "securityEnabled": true}
]})";

TEST(ListCommand, JsonHasTheListKeysAndValues) {
  const std::string path = WriteFile("two-drives.json", kTwoDrives);
  const CliRun run = RunArgs({"--simulate", path, "--json", "list"});
  ASSERT_EQ(run.exitCode, kExitOk) << run.err;
  EXPECT_EQ(run.err, "");
  const auto list = nlohmann::json::parse(run.out);
  ASSERT_EQ(list.size(), 2u);
  EXPECT_EQ(list[0], nlohmann::json::parse(R"({
    "position": 1, "driveNumber": 1, "model": "WDC WD2500JB-00REA0",
    "serial": "WD-WMANK4051741", "firmware": "20.00K20", "vendorCode": "W", "lba48": true,
    "smartEnabled": true, "userSectors": 488397168, "capacityGB": 233, "hpaEnabled": true,
    "hpaSizeMB": 100, "securityEnabled": false})"));
  EXPECT_EQ(list[1], nlohmann::json::parse(R"({
    "position": 2, "driveNumber": 4, "model": "INTEL SSDSA2CW120G3",
    "serial": "CVPR109301UZ120LGN", "firmware": "4PC10302", "vendorCode": null, "lba48": false,
    "smartEnabled": false, "userSectors": 39100223, "capacityGB": 19, "hpaEnabled": false,
    "hpaSizeMB": -1, "securityEnabled": true})"));
}

TEST(ListCommand, DemoSetListsDrivesWithTheSameKeys) {
  const CliRun run = RunArgs({"--demo", "list", "--json"});
  ASSERT_EQ(run.exitCode, kExitOk) << run.err;
  const auto list = nlohmann::json::parse(run.out);
  ASSERT_GE(list.size(), 4u);
  ASSERT_LE(list.size(), 6u);
  const std::vector<std::string> keys{"position",       "driveNumber", "model",      "serial",
                                      "firmware",       "vendorCode",  "lba48",      "smartEnabled",
                                      "userSectors",    "capacityGB",  "hpaEnabled", "hpaSizeMB",
                                      "securityEnabled"};
  bool someMakerUnknown = false;
  bool someSmartOff = false;
  for (size_t i = 0; i < list.size(); ++i) {
    EXPECT_EQ(list[i].size(), keys.size());
    for (const auto& key : keys) EXPECT_TRUE(list[i].contains(key)) << key;
    EXPECT_EQ(list[i]["position"], i + 1);
    EXPECT_FALSE(list[i]["model"].get<std::string>().empty());
    someMakerUnknown |= list[i]["vendorCode"].is_null();
    someSmartOff |= !list[i]["smartEnabled"].get<bool>();
  }
  EXPECT_TRUE(someMakerUnknown);
  EXPECT_TRUE(someSmartOff);
}

TEST(ListCommand, TextTableIsAlignedAndHeaded) {
  const std::string path = WriteFile("two-drives-text.json", kTwoDrives);
  const CliRun run = RunArgs({"--simulate", path, "list"});
  ASSERT_EQ(run.exitCode, kExitOk) << run.err;
  std::istringstream lines(run.out);
  std::vector<std::string> rows;
  for (std::string line; std::getline(lines, line);) rows.push_back(line);
  ASSERT_EQ(rows.size(), 3u);
  EXPECT_EQ(rows[0].rfind("Pos", 0), 0u);
  const size_t modelColumn = rows[0].find("Model");
  ASSERT_NE(modelColumn, std::string::npos);
  EXPECT_EQ(rows[1].find("WDC WD2500JB-00REA0"), modelColumn);
  EXPECT_EQ(rows[2].find("INTEL SSDSA2CW120G3"), modelColumn);
  EXPECT_NE(rows[1].find(" 100 "), std::string::npos);  // the HPA size
  EXPECT_NE(rows[2].find("..."), std::string::npos);    // HPA size not determined
}

TEST(ListCommand, NothingAnsweringExitsOneWithTheMessage) {
  const std::string path =
      WriteFile("no-drive.json", R"({"model": "ST1", "failures": {"open": true}})");
  for (bool json : {false, true}) {
    std::vector<std::string> args{"--simulate", path, "list"};
    if (json) args.push_back("--json");
    const CliRun run = RunArgs(args);
    EXPECT_EQ(run.exitCode, kExitFailure);
    EXPECT_EQ(run.err, "S.M.A.R.T. HDD(s) not found!\n");
    EXPECT_EQ(run.out, "");
  }
}

// A machine whose disks refuse the program for lack of privilege.
class RefusingDrives : public DriveSystem {
 public:
  DriveHandlePtr Open(int) override { return nullptr; }
  std::optional<std::string> VolumeName(int, int) override { return std::nullopt; }
  std::string DescribeDrive(int n) const override { return "disk " + std::to_string(n); }
  std::string PrivilegeProblem() const override { return "needs CAP_SYS_RAWIO"; }
};

TEST(ListCommand, NothingFoundForLackOfPrivilegeSaysWhy) {
  RefusingDrives drives;
  std::ostringstream out;
  std::ostringstream err;
  EXPECT_EQ(RunCliOn(drives, {"list"}, out, err), kExitFailure);
  EXPECT_EQ(err.str(), "S.M.A.R.T. HDD(s) not found!\nneeds CAP_SYS_RAWIO\n");
}

TEST(ListCommand, BadSimulationFileOrExtraArgumentsExitTwo) {
  const std::string broken = WriteFile("broken.json", R"({"drives": [{"model": )");
  CliRun run = RunArgs({"--simulate", broken, "list"});
  EXPECT_EQ(run.exitCode, kExitUsage);
  EXPECT_NE(run.err.find("broken.json"), std::string::npos) << run.err;
  EXPECT_EQ(run.out, "");

  const std::string good = WriteFile("good.json", kTwoDrives);
  run = RunArgs({"--simulate", good, "list", "extra"});
  EXPECT_EQ(run.exitCode, kExitUsage);
  EXPECT_NE(run.err.find("Usage:"), std::string::npos);
  EXPECT_EQ(run.out, "");
}

// A drive's text bytes are not trusted: control characters and invalid UTF-8 reach neither the
// terminal nor the JSON as they are, and never stop the program.
TEST(ListCommand, HostileModelBytesAreMadeSafe) {
  std::string identify(1024, '0');
  // Words 27.. start at byte 54; each word's high byte comes first in the text:
  // A ESC [ 2 J 0xFF blank, then 0xC3 which is no UTF-8 lead for '('.
  const std::string bytes =
      "1b41325b"
      "ff4a"
      "c320"
      "2028";
  identify.replace(2 * 54, bytes.size(), bytes);
  identify.replace(2 * 170, 4, "0100");  // word 85 bit 0: S.M.A.R.T. on
  const std::string path =
      WriteFile("hostile.json", R"({"model": "x", "identifyHex": ")" + identify + "\"}");

  CliRun run = RunArgs({"--simulate", path, "list"});
  ASSERT_EQ(run.exitCode, kExitOk) << run.err;
  EXPECT_EQ(run.out.find('\x1b'), std::string::npos);
  EXPECT_NE(run.out.find("A?[2J? ?("), std::string::npos) << run.out;

  run = RunArgs({"--simulate", path, "--json", "list"});
  ASSERT_EQ(run.exitCode, kExitOk) << run.err;
  const auto list = nlohmann::json::parse(run.out);
  EXPECT_EQ(list[0]["model"], "A\x1b[2J\xEF\xBF\xBD \xEF\xBF\xBD(");
}

TEST(ListCommand, HelpGoesToStandardOutputAndEndsWithALineBreak) {
  for (const std::string flag : {"--help", "-h"}) {
    const CliRun run = RunArgs({"list", flag});
    EXPECT_EQ(run.exitCode, kExitOk);
    ASSERT_FALSE(run.out.empty());
    EXPECT_EQ(run.out.back(), '\n');
    EXPECT_EQ(run.out.rfind("Usage: ", 0), 0u);
    EXPECT_NE(run.out.find("Exit status:"), std::string::npos);
    EXPECT_EQ(run.err, "");
  }
  const CliRun version = RunArgs({"--version"});
  EXPECT_EQ(version.exitCode, kExitOk);
  EXPECT_EQ(version.out, VersionText());
}

TEST(CliSupport, PositionsAreOneToSixInDecimal) {
  EXPECT_EQ(ParsePosition("1"), 1);
  EXPECT_EQ(ParsePosition("6"), 6);
  for (const char* bad : {"0", "7", "", "01", "1x", "-1", " 1", "+2", "12"}) {
    EXPECT_FALSE(ParsePosition(bad).has_value()) << bad;
  }
}

TEST(CliSupport, TextTableRightAlignsNumbersAndTrimsLineEnds) {
  const std::string text = FormatTextTable({{"Name"}, {"GB", true}, {"Note"}},
                                           {{"ST1", "80"}, {"WDC long", "1863", "x"}});
  EXPECT_EQ(text,
            "Name        GB  Note\n"
            "ST1         80\n"
            "WDC long  1863  x\n");
}

}  // namespace
}  // namespace dv::cli
