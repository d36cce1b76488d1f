// Real NVMe drives: the identify data and health logs rebuilt from what smartctl printed for them
// (tests/data/nvme/) decode to exactly the figures smartctl printed.
#include <gtest/gtest.h>

#include <algorithm>
#include <cctype>
#include <filesystem>
#include <fstream>
#include <nlohmann/json.hpp>
#include <sstream>
#include <string>
#include <vector>

#include "core/Enumerate.h"
#include "core/HexText.h"
#include "core/Nvme.h"
#include "core/SimulatedDrives.h"
#include "core/SmartData.h"

namespace dv {
namespace {

namespace fs = std::filesystem;
using nlohmann::json;

const fs::path kFixtureFolder = fs::path(DISKVIGIL_TEST_DATA_DIR) / "nvme";

std::vector<std::string> FixtureFiles() {
  std::vector<std::string> files;
  for (const auto& entry : fs::directory_iterator(kFixtureFolder)) {
    if (entry.path().extension() == ".json") files.push_back(entry.path().filename().string());
  }
  std::sort(files.begin(), files.end());
  return files;
}

json LoadFixture(const std::string& file) {
  std::ifstream in(kFixtureFolder / file);
  std::stringstream text;
  text << in.rdbuf();
  return json::parse(text.str());
}

std::vector<uint8_t> FromHex(const std::string& hex) {
  return BytesFromHex(hex).value_or(std::vector<uint8_t>{});
}

// A 128-bit counter that smartctl printed as a plain (64-bit) number.
void ExpectCounter(const NvmeCounter& counter, const json& printed, const char* what) {
  SCOPED_TRACE(what);
  const uint64_t value = printed.get<uint64_t>();
  EXPECT_EQ(counter.Low, value);
  EXPECT_EQ(counter.High, 0u);
  EXPECT_EQ(counter.Decimal(), std::to_string(value));
}

class RealNvmeDrive : public ::testing::TestWithParam<std::string> {
 protected:
  void SetUp() override {
    fixture_ = LoadFixture(GetParam());
    printed_ = fixture_.at("smartctl");
    log_ = printed_.at("nvme_smart_health_information_log");
  }
  std::vector<uint8_t> Bytes(const char* key) const {
    return FromHex(fixture_.at(key).get<std::string>());
  }
  NvmeHealth Health() const {
    const std::vector<uint8_t> bytes = Bytes("healthLogHex");
    const std::optional<NvmeHealth> health = DecodeNvmeHealthLog(bytes);
    if (!health) ADD_FAILURE() << "the health log did not decode";
    return health.value_or(NvmeHealth{});
  }

  json fixture_;
  json printed_;
  json log_;
};

TEST_P(RealNvmeDrive, IdentifyGivesModelSerialFirmwareAndVendor) {
  const std::vector<uint8_t> bytes = Bytes("identifyControllerHex");
  ASSERT_EQ(bytes.size(), kNvmeIdentifySize);
  const std::optional<NvmeIdentity> identity = DecodeNvmeIdentifyController(bytes);
  ASSERT_TRUE(identity.has_value());
  EXPECT_EQ(identity->ModelNumber, printed_.at("model_name").get<std::string>());
  EXPECT_EQ(identity->SerialNumber, printed_.at("serial_number").get<std::string>());
  EXPECT_EQ(identity->FirmwareRevision, printed_.at("firmware_version").get<std::string>());
  EXPECT_EQ(identity->PciVendorId, printed_.at("nvme_pci_vendor").at("id").get<uint16_t>());
}

TEST_P(RealNvmeDrive, NamespaceGivesTheCapacity) {
  const std::vector<uint8_t> bytes = Bytes("identifyNamespaceHex");
  ASSERT_EQ(bytes.size(), kNvmeIdentifySize);
  const std::optional<NvmeNamespaceSize> size = DecodeNvmeIdentifyNamespace(bytes);
  ASSERT_TRUE(size.has_value());
  EXPECT_EQ(size->Blocks, printed_.at("namespace_blocks").get<uint64_t>());
  EXPECT_EQ(size->BlockSize, printed_.at("logical_block_size").get<uint32_t>());
  EXPECT_EQ(size->Bytes(), printed_.at("user_capacity_bytes").get<uint64_t>());
}

TEST_P(RealNvmeDrive, HealthLogGivesEveryPrintedFigure) {
  const std::vector<uint8_t> bytes = Bytes("healthLogHex");
  ASSERT_EQ(bytes.size(), kNvmeHealthLogSize);
  const NvmeHealth health = Health();

  EXPECT_EQ(health.CriticalWarning, log_.at("critical_warning").get<uint8_t>());
  EXPECT_EQ(NvmeCelsius(health.CompositeTemperatureK), log_.at("temperature").get<int>());
  EXPECT_EQ(health.AvailableSpare, log_.at("available_spare").get<uint8_t>());
  EXPECT_EQ(health.AvailableSpareThreshold, log_.at("available_spare_threshold").get<uint8_t>());
  EXPECT_EQ(health.PercentageUsed, log_.at("percentage_used").get<uint8_t>());
  ExpectCounter(health.DataUnitsRead, log_.at("data_units_read"), "data units read");
  ExpectCounter(health.DataUnitsWritten, log_.at("data_units_written"), "data units written");
  ExpectCounter(health.HostReadCommands, log_.at("host_reads"), "host reads");
  ExpectCounter(health.HostWriteCommands, log_.at("host_writes"), "host writes");
  ExpectCounter(health.ControllerBusyTime, log_.at("controller_busy_time"), "busy time");
  ExpectCounter(health.PowerCycles, log_.at("power_cycles"), "power cycles");
  ExpectCounter(health.PowerOnHours, log_.at("power_on_hours"), "power-on hours");
  ExpectCounter(health.UnsafeShutdowns, log_.at("unsafe_shutdowns"), "unsafe shutdowns");
  ExpectCounter(health.MediaErrors, log_.at("media_errors"), "media errors");
  ExpectCounter(health.ErrorLogEntries, log_.at("num_err_log_entries"), "error-log entries");
  EXPECT_EQ(health.WarningTemperatureMinutes, log_.at("warning_temp_time").get<uint32_t>());
  EXPECT_EQ(health.CriticalTemperatureMinutes, log_.at("critical_comp_time").get<uint32_t>());

  // smartctl lists the sensors up to the last one reported, a gap as null; the rest are zero.
  const json& sensors = log_.at("temperature_sensors");
  for (size_t i = 0; i < health.SensorTemperatureK.size(); ++i) {
    SCOPED_TRACE("sensor " + std::to_string(i + 1));
    if (i < sensors.size() && !sensors[i].is_null()) {
      EXPECT_EQ(NvmeCelsius(health.SensorTemperatureK[i]), sensors[i].get<int>());
    } else {
      EXPECT_EQ(health.SensorTemperatureK[i], 0);
    }
  }
}

TEST_P(RealNvmeDrive, VerdictAndWarningNamesAgreeWithSmartctl) {
  const NvmeHealth health = Health();
  EXPECT_EQ(health.Passed(), printed_.at("smart_status_passed").get<bool>());
  EXPECT_EQ(NvmeCriticalWarningNames(health.CriticalWarning).empty(),
            log_.at("critical_warning").get<int>() == 0);
}

// The rows show every counter smartctl printed, in full, in the decimal form.
TEST_P(RealNvmeDrive, RowsCarryEveryCounterInDecimal) {
  const std::vector<AttributeRow> rows = BuildNvmeHealthRows(Health(), RawPresentation::Dec);
  std::vector<std::string> rawCells;
  for (const AttributeRow& row : rows) rawCells.push_back(row[kColumnRaw]);
  for (const char* key : {"data_units_read", "data_units_written", "host_reads", "host_writes",
                          "controller_busy_time", "power_cycles", "power_on_hours",
                          "unsafe_shutdowns", "media_errors", "num_err_log_entries"}) {
    const std::string printed = std::to_string(log_.at(key).get<uint64_t>());
    EXPECT_NE(std::find(rawCells.begin(), rawCells.end(), printed), rawCells.end())
        << key << " = " << printed << " is in no row";
  }
}

// The drive as a simulated controller answering with its rebuilt bytes, listed and read as the
// program lists and reads a real one: with privilege through the admin commands, without it
// through what the kernel publishes. Both give the temperature and verdict smartctl printed.
std::unique_ptr<SimulatedDriveSystem> AsSimulatedController(const json& fixture, bool privileged) {
  const json drive = {{"driveNumber", 0},
                      {"model", fixture.at("smartctl").at("model_name")},
                      {"nvme",
                       {{"identifyHex", fixture.at("identifyControllerHex")},
                        {"namespaceHex", fixture.at("identifyNamespaceHex")},
                        {"healthLogHex", fixture.at("healthLogHex")},
                        {"privileged", privileged}}}};
  std::string error;
  auto system = SimulatedDriveSystem::FromJsonText(drive.dump(), ".", "fixture", error);
  EXPECT_NE(system, nullptr) << error;
  return system;
}

TEST_P(RealNvmeDrive, ListedAndReadAsSmartctlPrintedIt) {
  for (const bool privileged : {true, false}) {
    SCOPED_TRACE(privileged ? "privileged" : "unprivileged");
    const auto system = AsSimulatedController(fixture_, privileged);
    ASSERT_NE(system, nullptr);
    DriveTable table;
    ASSERT_TRUE(ProbeDrives(*system, table));
    ASSERT_EQ(table.DriveCount, 1);
    const Drive& drive = table.At(1);
    EXPECT_TRUE(drive.IsNvme());
    EXPECT_EQ(drive.ModelNumber, printed_.at("model_name").get<std::string>());
    EXPECT_EQ(drive.SerialNumber, printed_.at("serial_number").get<std::string>());
    EXPECT_EQ(drive.FirmwareRevision, printed_.at("firmware_version").get<std::string>());
    EXPECT_EQ(drive.PciVendorId, printed_.at("nvme_pci_vendor").at("id").get<uint16_t>());
    EXPECT_EQ(drive.UserSectors * 512, printed_.at("user_capacity_bytes").get<uint64_t>());
    EXPECT_EQ(drive.NvmeHealthLogNeedsRoot, !privileged);

    SmartSectors sectors;
    const ReadSmartResult result = ReadSMART(*system, table, 1, sectors);
    ASSERT_TRUE(result.verdictReached);
    EXPECT_EQ(result.statusOK, printed_.at("smart_status_passed").get<bool>());
    EXPECT_EQ(table.At(1).Temperature, log_.at("temperature").get<int>());
    EXPECT_EQ(sectors.NvmeLogHeld, privileged);
    if (privileged) {
      EXPECT_EQ(BuildAttributeRows(sectors, RawPresentation::Dec),
                BuildNvmeHealthRows(Health(), RawPresentation::Dec));
    }
  }
}

std::string TestName(const ::testing::TestParamInfo<std::string>& info) {
  std::string name = info.param.substr(0, info.param.size() - std::string(".json").size());
  for (char& c : name) {
    if (std::isalnum(static_cast<unsigned char>(c)) == 0) c = '_';
  }
  return name;
}

INSTANTIATE_TEST_SUITE_P(Fixtures, RealNvmeDrive, ::testing::ValuesIn(FixtureFiles()), TestName);

TEST(RealNvmeDrives, AtLeastFiveMakersAreCovered) {
  std::vector<std::string> models;
  std::vector<uint16_t> vendors;
  for (const std::string& file : FixtureFiles()) {
    const json printed = LoadFixture(file).at("smartctl");
    models.push_back(printed.at("model_name").get<std::string>());
    vendors.push_back(printed.at("nvme_pci_vendor").at("id").get<uint16_t>());
  }
  std::sort(vendors.begin(), vendors.end());
  vendors.erase(std::unique(vendors.begin(), vendors.end()), vendors.end());
  EXPECT_GE(models.size(), 5u);
  EXPECT_GE(vendors.size(), 5u);
}

// The drive with media errors: its rows mark them, though the controller raised no warning.
TEST(RealNvmeDrives, MediaErrorsAreMarkedWithoutACriticalWarning) {
  const json fixture = LoadFixture("Samsung_SSD_970_EVO_500GB--2B2QEXE7.json");
  const std::vector<uint8_t> bytes = FromHex(fixture.at("healthLogHex").get<std::string>());
  const std::optional<NvmeHealth> health = DecodeNvmeHealthLog(bytes);
  ASSERT_TRUE(health.has_value());
  EXPECT_TRUE(health->Passed());
  ASSERT_EQ(health->MediaErrors.Low, 7u);
  int marked = 0;
  for (const AttributeRow& row : BuildNvmeHealthRows(*health, RawPresentation::Dec)) {
    if (row[kColumnRaw] == "7" && !row[kColumnStatus].empty() && row[kColumnStatus] != kStatusOk)
      ++marked;
  }
  EXPECT_EQ(marked, 1);
}

// Spare at 99 % over a 10 % threshold: the threshold shows in its own column, the row is fine.
TEST(RealNvmeDrives, SpareRowCarriesItsThreshold) {
  const json fixture = LoadFixture("Samsung_SSD_970_EVO_500GB--2B2QEXE7.json");
  const std::vector<uint8_t> bytes = FromHex(fixture.at("healthLogHex").get<std::string>());
  const std::optional<NvmeHealth> health = DecodeNvmeHealthLog(bytes);
  ASSERT_TRUE(health.has_value());
  int withThreshold = 0;
  for (const AttributeRow& row : BuildNvmeHealthRows(*health, RawPresentation::Dec)) {
    if (row[kColumnThreshold].empty()) continue;
    ++withThreshold;
    EXPECT_EQ(row[kColumnRaw], "99");
    EXPECT_EQ(row[kColumnThreshold], "10");
    EXPECT_EQ(row[kColumnStatus], kStatusOk);
  }
  EXPECT_EQ(withThreshold, 1);
}

}  // namespace
}  // namespace dv
