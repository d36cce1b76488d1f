// The command line on NVMe drives: the NVMe demo set (two ATA drives, a healthy NVMe SSD and one
// with a critical warning) and a controller read without privilege.
#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <nlohmann/json.hpp>
#include <optional>
#include <sstream>

#include "TestFolder.h"
#include "cli/Cli.h"
#include "cli/CliTestKit.h"
#include "core/Enumerate.h"
#include "core/SmartData.h"

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
  EXPECT_EQ(run.exitCode, kExitOk);
  EXPECT_NE(run.err.find("needs root (sudo diskvigil-cli report 1)"), std::string::npos) << run.err;
  EXPECT_NE(run.out.find("Model Number: KINGSTON SNV2S1000G"), std::string::npos) << run.out;

  // AAM and APM are ATA commands: refused for an NVMe position, nothing sent.
  for (const char* feature : {"aam", "apm"}) {
    run = RunOn(kNvmeDemoDir, {feature, "3", "--set", "128"});
    EXPECT_EQ(run.exitCode, kExitFailure);
    EXPECT_NE(run.err.find("does not apply to NVMe"), std::string::npos) << run.err;
  }
  std::filesystem::remove_all(folder);
}

// The typed health fields of eight real drives are the figures smartctl printed for them.
TEST(NvmeCli, TypedHealthFieldsOfRealDrives) {
  const std::vector<std::string> smartctlNames{
      "critical_warning",          "temperature",       "available_spare",
      "available_spare_threshold", "percentage_used",   "data_units_read",
      "data_units_written",        "host_reads",        "host_writes",
      "controller_busy_time",      "power_cycles",      "power_on_hours",
      "unsafe_shutdowns",          "media_errors",      "num_err_log_entries",
      "warning_temp_time",         "critical_comp_time"};
  int drives = 0;
  for (const auto& file :
       std::filesystem::directory_iterator(std::string(DISKVIGIL_TEST_DATA_DIR) + "/nvme")) {
    if (file.path().extension() != ".json") continue;
    SCOPED_TRACE(file.path().filename().string());
    const json fixture = json::parse(ReadWhole(file.path()));
    const json& printed = fixture["smartctl"]["nvme_smart_health_information_log"];
    auto system = Simulate(json{{"model", "x"},
                                {"nvme",
                                 {{"identifyHex", fixture["identifyControllerHex"]},
                                  {"namespaceHex", fixture["identifyNamespaceHex"]},
                                  {"healthLogHex", fixture["healthLogHex"]}}}}
                               .dump());
    ASSERT_TRUE(system);
    const json fields = json::parse(RunOn(*system, {"--json", "smart", "1"}).out)["attributes"];
    // The fields come in the log's order; the sensors smartctl printed follow.
    json expected = json::array();
    for (const std::string& name : smartctlNames) expected.push_back(printed.value(name, json()));
    for (const json& sensor : printed.value("temperature_sensors", json::array())) {
      if (!sensor.is_null()) expected.push_back(sensor);
    }
    ASSERT_EQ(fields.size(), expected.size());
    for (size_t i = 0; i < fields.size(); ++i) {
      if (!expected[i].is_null()) {
        EXPECT_EQ(fields[i]["value"], expected[i]) << fields[i];
      }
    }
    EXPECT_EQ(fields[2]["threshold"], printed["available_spare_threshold"]);
    EXPECT_EQ(fields[13]["failingNow"], printed["media_errors"] != 0);
    ++drives;
  }
  EXPECT_EQ(drives, 8);
}

// A composite temperature of 0 K is "not reported": no figure anywhere, with or without the log
// (the kernel's sensor passes it on as -273.15 degrees). A cold drive's figure stays signed.
TEST(NvmeCli, TemperatureNotReportedOrBelowZero) {
  const auto folder = test::MakeTestFolder("nvme-cold");
  const auto metrics = folder / "cold.prom";
  for (const bool privileged : {true, false}) {
    for (const int celsius : {-273, -5}) {
      const std::optional<int> shown = celsius == -273 ? std::nullopt : std::optional(celsius);
      SCOPED_TRACE(std::to_string(privileged) + " " + std::to_string(celsius));
      auto system = Simulate(
          json{{"model", "COLD"},
               {"nvme", {{"privileged", privileged}, {"health", {{"temperature", celsius}}}}}}
              .dump());
      ASSERT_TRUE(system);
      const json expected = shown ? json(*shown) : json();
      const json smart = json::parse(RunOn(*system, {"--json", "smart", "1"}).out);
      EXPECT_EQ(smart["temperatures"]["current"], expected);
      const std::string text = RunOn(*system, {"smart", "1"}).out;
      EXPECT_NE(text.find("Temperature: " + (shown ? std::to_string(*shown) + " C" : "...")),
                std::string::npos)
          << text;
      const CliRun monitor =
          RunOn(*system, {"monitor", "--count", "1", "--json", "--settings",
                          (folder / "none.ini").string(), "--textfile", metrics.string()});
      EXPECT_EQ(json::parse(monitor.out)["drives"][0]["temperature"], expected);
      const std::string series = ReadWhole(metrics);
      const size_t sample = series.find("\ndiskvigil_temperature_celsius{");
      EXPECT_EQ(sample != std::string::npos, shown.has_value()) << series;
      if (shown) {
        EXPECT_EQ(series.substr(series.find("} ", sample) + 2, 3), "-5\n") << series;
      }
      // The mail takes the same figure, or none.
      DriveTable table;
      SmartSectors sectors;
      ASSERT_TRUE(ProbeDrives(*system, table));
      EXPECT_EQ(MailReportDrive(table.At(1), ReadSMART(*system, table, 1, sectors)).temperature,
                shown);
    }
  }
  std::filesystem::remove_all(folder);
}

}  // namespace
}  // namespace dv::cli
