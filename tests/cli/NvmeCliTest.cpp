// The command line on NVMe drives: the NVMe demo set (two ATA drives, a healthy NVMe SSD and one
// with a critical warning) and a controller read without privilege.
#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <nlohmann/json.hpp>
#include <sstream>

#include "TestFolder.h"
#include "cli/Cli.h"
#include "cli/CliTestKit.h"

namespace dv::cli {
namespace {

using namespace dv::cli::clitest;
using nlohmann::json;

const std::string kNvmeDemoDir = std::string(DISKVIGIL_SOURCE_DIR) + "/data/demo-nvme";

// The file's bytes as they are (binary: a text-mode stream would turn CR LF into LF on Windows),
// closed again before the test removes its folder.
std::string ReadWhole(const std::filesystem::path& path) {
  std::ifstream in(path, std::ios::binary);
  return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
}

TEST(NvmeCli, ListCarriesKindAndDevicePath) {
  const CliRun run = RunOn(kNvmeDemoDir, {"--json", "list"});
  ASSERT_EQ(run.exitCode, kExitOk) << run.err;
  const json list = json::parse(run.out);
  ASSERT_EQ(list.size(), 4u);
  EXPECT_EQ(list[0]["kind"], "ata");
  EXPECT_EQ(list[0]["devicePath"], "simulated drive 0");
  EXPECT_EQ(list[2]["kind"], "nvme");
  EXPECT_EQ(list[2]["devicePath"], "simulated NVMe drive 2");
  EXPECT_EQ(list[2]["model"], "Samsung SSD 980 PRO 1TB");
  EXPECT_EQ(list[2]["vendorCode"], "M");
  EXPECT_EQ(list[2]["pciVendorId"], 0x144D);
  EXPECT_EQ(list[2]["healthLogNeedsRoot"], false);
  EXPECT_EQ(list[3]["vendorCode"], "W");

  // Where every drive is ATA, the answer keeps its earlier keys only.
  const json ataOnly = json::parse(RunOn(kDemoDir, {"--json", "list"}).out);
  EXPECT_FALSE(ataOnly[0].contains("kind"));

  // `--demo=nvme` finds the set beside the ATA demo drives.
  std::ostringstream out;
  std::ostringstream err;
  ASSERT_EQ(RunCli({"--demo=nvme", "--json", "list"}, out, err), kExitOk) << err.str();
  EXPECT_EQ(json::parse(out.str()), list);

  const CliRun text = RunOn(kNvmeDemoDir, {"list"});
  EXPECT_NE(text.out.find("simulated NVMe drive 3"), std::string::npos) << text.out;
}

TEST(NvmeCli, SmartOfAHealthyAndACriticalDrive) {
  CliRun run = RunOn(kNvmeDemoDir, {"--json", "smart", "3", "--dec"});
  ASSERT_EQ(run.exitCode, kExitOk) << run.err;
  json j = json::parse(run.out);
  EXPECT_EQ(j["kind"], "nvme");
  EXPECT_EQ(j["statusOK"], true);
  EXPECT_EQ(j["temperatures"]["current"], 41);
  EXPECT_EQ(j["temperatures"]["low"], 0);
  EXPECT_EQ(j["criticalWarnings"], json::array());
  EXPECT_EQ(j["healthLogRead"], true);
  bool sawHours = false;
  for (const auto& row : j["rows"]) {
    if (row[0] == "Power On Hours") {
      EXPECT_EQ(row[3], "4321");
      sawHours = true;
    }
  }
  EXPECT_TRUE(sawHours);

  run = RunOn(kNvmeDemoDir, {"--json", "smart", "4"});
  EXPECT_EQ(run.exitCode, kExitUnhealthy);
  j = json::parse(run.out);
  EXPECT_EQ(j["statusOK"], false);
  EXPECT_EQ(j["criticalWarning"], 5);
  EXPECT_EQ(j["criticalWarnings"],
            (json{"available spare below threshold", "reliability degraded"}));

  run = RunOn(kNvmeDemoDir, {"smart", "4"});
  EXPECT_NE(run.out.find("S.M.A.R.T.: ERROR"), std::string::npos) << run.out;
  EXPECT_NE(run.out.find("[available spare below threshold] [reliability degraded]"),
            std::string::npos)
      << run.out;
  EXPECT_NE(run.out.find("Media and Data Integrity Errors"), std::string::npos);
}

TEST(NvmeCli, ReportAndMonitor) {
  const auto folder = test::MakeTestFolder("nvme-cli");
  const auto report = folder / "nvme.log";
  ASSERT_EQ(RunOn(kNvmeDemoDir, {"report", "3", "-o", report.string()}).exitCode, kExitOk);
  const std::string text = ReadWhole(report);
  EXPECT_NE(text.find("Model Number: Samsung SSD 980 PRO 1TB\r\n"), std::string::npos);
  EXPECT_NE(text.find("Available Spare (%)"), std::string::npos);

  const auto metrics = folder / "diskvigil.prom";
  const CliRun run =
      RunOn(kNvmeDemoDir, {"monitor", "--count", "1", "--interval", "0", "--json", "--settings",
                           (folder / "none.ini").string(), "--textfile", metrics.string()});
  EXPECT_EQ(run.exitCode, kExitUnhealthy) << run.err;
  const json pass = json::parse(run.out);
  ASSERT_EQ(pass["drives"].size(), 4u);
  EXPECT_EQ(pass["drives"][2]["kind"], "nvme");
  EXPECT_EQ(pass["drives"][2]["temperature"], 41);
  EXPECT_EQ(pass["drives"][3]["statusOK"], false);

  // The temperature and verdict series exist for NVMe drives too, under their own device.
  const std::string series = ReadWhole(metrics);
  const std::string labels =
      R"({device="simulated NVMe drive 3",model="WD_BLACK SN770 500GB",serial="22331Y801234"})";
  EXPECT_NE(series.find("diskvigil_temperature_celsius" + labels + " 58\n"), std::string::npos)
      << series;
  EXPECT_NE(series.find("diskvigil_smart_healthy" + labels + " 0\n"), std::string::npos);
  std::filesystem::remove_all(folder);
}

TEST(NvmeCli, UnprivilegedDriveAndAtaOnlyCommands) {
  const auto folder = test::MakeTestFolder("nvme-cli");
  const auto file = folder / "hwmon-only.json";
  std::ofstream(file) << R"({"model": "KINGSTON SNV2S1000G", "serial": "50026B7", "nvme":
    {"privileged": false, "health": {"temperature": 44}}})";
  CliRun run = RunOn(file.string(), {"--json", "smart", "1"});
  ASSERT_EQ(run.exitCode, kExitOk) << run.err;
  const json j = json::parse(run.out);
  EXPECT_EQ(j["healthLogNeedsRoot"], true);
  EXPECT_EQ(j["temperatures"]["current"], 44);
  EXPECT_EQ(j["rows"], json::array());

  run = RunOn(file.string(), {"report", "1"});
  EXPECT_EQ(run.exitCode, kExitUnhealthy);
  EXPECT_NE(run.err.find("needs root"), std::string::npos) << run.err;

  // AAM and APM are ATA commands: refused for an NVMe position, nothing sent.
  for (const char* feature : {"aam", "apm"}) {
    run = RunOn(kNvmeDemoDir, {feature, "3", "--set", "128"});
    EXPECT_EQ(run.exitCode, kExitFailure);
    EXPECT_NE(run.err.find("does not apply to NVMe"), std::string::npos) << run.err;
  }
  std::filesystem::remove_all(folder);
}

}  // namespace
}  // namespace dv::cli
