// The command line on NVMe drives: the NVMe demo set (two ATA drives, a healthy NVMe SSD and one
// with a critical warning) and a controller read without privilege.
#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <fstream>
#include <map>
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
  const std::map<std::string, std::string> smartctlNames{
      {"Critical Warning", "critical_warning"},
      {"Composite Temperature (C)", "temperature"},
      {"Available Spare (%)", "available_spare"},
      {"Available Spare Threshold (%)", "available_spare_threshold"},
      {"Percentage Used", "percentage_used"},
      {"Data Units Read", "data_units_read"},
      {"Data Units Written", "data_units_written"},
      {"Host Read Commands", "host_reads"},
      {"Host Write Commands", "host_writes"},
      {"Controller Busy Time (minutes)", "controller_busy_time"},
      {"Power Cycles", "power_cycles"},
      {"Power On Hours", "power_on_hours"},
      {"Unsafe Shutdowns", "unsafe_shutdowns"},
      {"Media and Data Integrity Errors", "media_errors"},
      {"Error Information Log Entries", "num_err_log_entries"},
      {"Warning Temperature Time (min)", "warning_temp_time"},
      {"Critical Temperature Time (min)", "critical_comp_time"}};
  const auto folder = std::filesystem::path(DISKVIGIL_TEST_DATA_DIR) / "nvme";
  int drives = 0;
  for (const auto& file : std::filesystem::directory_iterator(folder)) {
    if (file.path().extension() != ".json") continue;
    SCOPED_TRACE(file.path().filename().string());
    const json fixture = json::parse(ReadWhole(file.path()));
    const json simulation{{"model", fixture["smartctl"]["model_name"]},
                          {"nvme",
                           {{"identifyHex", fixture["identifyControllerHex"]},
                            {"namespaceHex", fixture["identifyNamespaceHex"]},
                            {"healthLogHex", fixture["healthLogHex"]}}}};
    auto system = Simulate(simulation.dump());
    ASSERT_TRUE(system);
    const json j = json::parse(RunOn(*system, {"--json", "smart", "1"}).out);
    const json& printed = fixture["smartctl"]["nvme_smart_health_information_log"];
    const json sensors = printed.value("temperature_sensors", json::array());
    size_t sensorFields = 0;
    ASSERT_EQ(j["attributes"].size(), j["rows"].size());
    for (const json& field : j["attributes"]) {
      const std::string name = field["name"];
      SCOPED_TRACE(name);
      if (name.starts_with("Temperature Sensor ")) {
        const size_t index = std::stoul(name.substr(19)) - 1;
        EXPECT_EQ(field["value"], sensors.at(index));
        ++sensorFields;
      } else if (printed.contains(smartctlNames.at(name))) {
        EXPECT_EQ(field["value"], printed[smartctlNames.at(name)]);
      }
    }
    EXPECT_EQ(sensorFields, std::count_if(sensors.begin(), sensors.end(),
                                          [](const json& v) { return !v.is_null(); }));
    EXPECT_EQ(j["attributes"][2]["threshold"], printed["available_spare_threshold"]);
    EXPECT_EQ(j["attributes"][13]["failingNow"], printed["media_errors"] != 0);
    ++drives;
  }
  EXPECT_EQ(drives, 8);
}

// A composite temperature of 0 K is "not reported": no figure anywhere, with or without the log
// (the kernel's sensor passes it on as -273.15 degrees). A cold drive's figure stays signed.
TEST(NvmeCli, TemperatureNotReportedOrBelowZero) {
  struct Row {
    bool privileged;
    int celsius;  // as the simulation gives it; -273 is 0 K
    std::optional<int> shown;
  };
  const auto folder = test::MakeTestFolder("nvme-cold");
  for (const Row& row : {Row{true, -273, std::nullopt}, Row{false, -273, std::nullopt},
                         Row{true, -5, -5}, Row{false, -5, -5}}) {
    const std::string what =
        "privileged " + std::to_string(row.privileged) + ", " + std::to_string(row.celsius) + " C";
    auto system = Simulate(R"({"model": "COLD SSD", "serial": "C1", "nvme": {"privileged": )" +
                           std::string(row.privileged ? "true" : "false") +
                           R"(, "health": {"temperature": )" + std::to_string(row.celsius) + "}}}");
    ASSERT_TRUE(system);
    const json smart = json::parse(RunOn(*system, {"--json", "smart", "1"}).out);
    EXPECT_EQ(smart["temperatures"]["current"], row.shown ? json(*row.shown) : json()) << what;
    const std::string text = RunOn(*system, {"smart", "1"}).out;
    const std::string line =
        "Temperature: " + (row.shown ? std::to_string(*row.shown) + " C" : "...");
    EXPECT_NE(text.find(line + "\n"), std::string::npos) << what << "\n" << text;
    EXPECT_EQ(text.find("-273"), std::string::npos) << what << "\n" << text;

    const auto metrics = folder / "cold.prom";
    const CliRun monitor =
        RunOn(*system, {"monitor", "--count", "1", "--json", "--settings",
                        (folder / "none.ini").string(), "--textfile", metrics.string()});
    EXPECT_EQ(json::parse(monitor.out)["drives"][0]["temperature"],
              row.shown ? json(*row.shown) : json())
        << what;
    const std::string series = ReadWhole(metrics);
    const std::string sample = R"(diskvigil_temperature_celsius{device="simulated NVMe drive 0",)"
                               R"(model="COLD SSD",serial="C1"} )";
    if (row.shown) {
      EXPECT_NE(series.find(sample + std::to_string(*row.shown) + "\n"), std::string::npos)
          << what << "\n"
          << series;
    } else {
      EXPECT_EQ(series.find("diskvigil_temperature_celsius"), std::string::npos) << what << "\n"
                                                                                 << series;
    }

    // The mail takes the same figure, or none.
    DriveTable table;
    SmartSectors sectors;
    ASSERT_TRUE(ProbeDrives(*system, table));
    const ReadSmartResult result = ReadSMART(*system, table, 1, sectors);
    EXPECT_EQ(MailReportDrive(table.At(1), result).temperature, row.shown) << what;
  }
  std::filesystem::remove_all(folder);
}

// Without the log the critical warning is unknown: the metrics say the log was not read and give
// no verdict, where the log read gives both.
TEST(NvmeCli, MetricsTellWhetherTheHealthLogWasRead) {
  const auto folder = test::MakeTestFolder("nvme-log-read");
  for (const bool privileged : {true, false}) {
    auto system = Simulate(R"({"model": "SPARE LOW", "serial": "S1", "nvme": {"privileged": )" +
                           std::string(privileged ? "true" : "false") +
                           R"(, "health": {"criticalWarning": 1, "temperature": 40}}})");
    ASSERT_TRUE(system);
    const auto metrics = folder / "log.prom";
    RunOn(*system, {"monitor", "--count", "1", "--settings", (folder / "none.ini").string(),
                    "--textfile", metrics.string()});
    const std::string series = ReadWhole(metrics);
    const std::string labels =
        R"({device="simulated NVMe drive 0",model="SPARE LOW",serial="S1"} )";
    EXPECT_NE(series.find("diskvigil_nvme_health_log_read" + labels + (privileged ? "1" : "0")),
              std::string::npos)
        << series;
    EXPECT_NE(series.find("# TYPE diskvigil_nvme_health_log_read gauge\n"), std::string::npos);
    EXPECT_EQ(series.find("diskvigil_smart_healthy" + labels + "1"), std::string::npos) << series;
    EXPECT_EQ(series.find("diskvigil_smart_healthy" + labels) != std::string::npos, privileged)
        << series;
  }
  std::filesystem::remove_all(folder);
}

}  // namespace
}  // namespace dv::cli
