#include <gtest/gtest.h>
#include <sys/stat.h>

#include <filesystem>
#include <fstream>
#include <map>
#include <set>
#include <sstream>

#include "TestFolder.h"
#include "cli/Metrics.h"

namespace dv::cli {
namespace {

namespace fs = std::filesystem;

std::vector<std::string> Lines(const std::string& text) {
  std::vector<std::string> lines;
  std::istringstream in(text);
  for (std::string line; std::getline(in, line);) lines.push_back(line);
  return lines;
}

std::vector<std::string> SamplesOf(const std::string& text, const std::string& metric) {
  std::vector<std::string> samples;
  for (const std::string& line : Lines(text)) {
    if (line.starts_with(metric + "{") || line.starts_with(metric + " ")) samples.push_back(line);
  }
  return samples;
}

// The rules a scraper holds the file to: each family's HELP and TYPE once, before its samples,
// and all its samples together; no series twice; the file ends with a line feed.
void ExpectWellFormed(const std::string& text) {
  ASSERT_FALSE(text.empty());
  EXPECT_EQ(text.back(), '\n');
  std::set<std::string> typed, finished, series;
  std::string current;
  for (const std::string& line : Lines(text)) {
    if (line.starts_with("# TYPE ")) {
      std::istringstream words(line.substr(7));
      std::string name, type;
      words >> name >> type;
      EXPECT_EQ(type, "gauge") << line;
      EXPECT_TRUE(typed.insert(name).second) << "TYPE twice: " << line;
      if (!current.empty()) finished.insert(current);
      current = name;
      continue;
    }
    if (line.starts_with("# HELP ")) continue;
    const std::string name = line.substr(0, line.find_first_of("{ "));
    EXPECT_EQ(name, current) << "sample outside its family: " << line;
    EXPECT_FALSE(finished.contains(name)) << line;
    EXPECT_TRUE(series.insert(line.substr(0, line.rfind(' '))).second) << "twice: " << line;
  }
}

MetricsDrive HealthyDrive() {
  MetricsDrive drive;
  drive.device = "/dev/sda";
  drive.model = "ST2000DM008-2FR102";
  drive.serial = "ZFL0ABCD";
  drive.smartEnabled = true;
  drive.healthy = true;
  drive.temperatureCelsius = 36;
  drive.airflowCelsius = 35;
  drive.attributes = {{5, "Reallocated Sector Count", 100, 100, 10, 0},
                      {194, "Temperature", 36, 45, 0, 0x0016000E0024ull}};
  return drive;
}

const std::string kSdaLabels = R"(device="/dev/sda",model="ST2000DM008-2FR102",serial="ZFL0ABCD")";

TEST(MetricsFormat, OneSamplePerDriveAndValueUnderStableNames) {
  MetricsDrive off;
  off.device = "/dev/sdb";
  off.model = "HDS721010";
  off.serial = "X1";
  const std::vector<MetricsDrive> drives{HealthyDrive(), off};
  const std::string text = FormatMetrics(drives, 1765100000);
  ExpectWellFormed(text);

  EXPECT_EQ(SamplesOf(text, "diskvigil_smart_enabled"),
            (std::vector<std::string>{
                "diskvigil_smart_enabled{" + kSdaLabels + "} 1",
                R"(diskvigil_smart_enabled{device="/dev/sdb",model="HDS721010",serial="X1"} 0)"}));
  EXPECT_EQ(SamplesOf(text, "diskvigil_smart_healthy"),
            std::vector<std::string>{"diskvigil_smart_healthy{" + kSdaLabels + "} 1"});
  EXPECT_EQ(SamplesOf(text, "diskvigil_temperature_celsius"),
            std::vector<std::string>{"diskvigil_temperature_celsius{" + kSdaLabels + "} 36"});
  EXPECT_EQ(
      SamplesOf(text, "diskvigil_temperature_airflow_celsius"),
      std::vector<std::string>{"diskvigil_temperature_airflow_celsius{" + kSdaLabels + "} 35"});
  const std::string temperature = "{" + kSdaLabels + R"(,id="194",name="Temperature"})";
  EXPECT_EQ(SamplesOf(text, "diskvigil_attribute_value")[1],
            "diskvigil_attribute_value" + temperature + " 36");
  EXPECT_EQ(SamplesOf(text, "diskvigil_attribute_worst")[1],
            "diskvigil_attribute_worst" + temperature + " 45");
  EXPECT_EQ(SamplesOf(text, "diskvigil_attribute_threshold")[0],
            "diskvigil_attribute_threshold{" + kSdaLabels +
                R"(,id="5",name="Reallocated Sector Count"} 10)");
  // The whole 48-bit raw value, in decimal.
  EXPECT_EQ(SamplesOf(text, "diskvigil_attribute_raw")[1],
            "diskvigil_attribute_raw" + temperature + " 94490198052");
  EXPECT_EQ(SamplesOf(text, "diskvigil_last_pass_timestamp_seconds"),
            std::vector<std::string>{"diskvigil_last_pass_timestamp_seconds 1765100000"});
  EXPECT_NE(text.find("# HELP diskvigil_attribute_raw "), std::string::npos);
}

TEST(MetricsFormat, ValuesADriveDidNotGiveHaveNoSample) {
  MetricsDrive noAnswer = HealthyDrive();
  noAnswer.healthy.reset();
  noAnswer.temperatureCelsius.reset();
  noAnswer.airflowCelsius.reset();
  noAnswer.attributes.clear();
  const std::string text = FormatMetrics(std::vector<MetricsDrive>{noAnswer}, 0);
  ExpectWellFormed(text);
  EXPECT_EQ(SamplesOf(text, "diskvigil_smart_enabled").size(), 1u);
  for (const char* metric : {"diskvigil_smart_healthy", "diskvigil_temperature_celsius",
                             "diskvigil_temperature_airflow_celsius", "diskvigil_attribute_raw"}) {
    EXPECT_TRUE(SamplesOf(text, metric).empty()) << metric;
    EXPECT_EQ(text.find(std::string("# TYPE ") + metric + " "), std::string::npos) << metric;
  }

  // A failing verdict is a sample of 0, not a missing one.
  MetricsDrive failing = HealthyDrive();
  failing.healthy = false;
  EXPECT_EQ(
      SamplesOf(FormatMetrics(std::vector<MetricsDrive>{failing}, 0), "diskvigil_smart_healthy"),
      std::vector<std::string>{"diskvigil_smart_healthy{" + kSdaLabels + "} 0"});
  // No drives at all still says when the pass ran.
  EXPECT_EQ(FormatMetrics({}, 7),
            "# HELP diskvigil_last_pass_timestamp_seconds When the last monitoring pass ended, in "
            "seconds since the Unix epoch.\n# TYPE diskvigil_last_pass_timestamp_seconds gauge\n"
            "diskvigil_last_pass_timestamp_seconds 7\n");
}

TEST(MetricsFormat, NoSeriesTwice) {
  MetricsDrive drive = HealthyDrive();
  drive.attributes.push_back(drive.attributes.front());  // the same ID again
  MetricsDrive sameDevice = HealthyDrive();
  sameDevice.serial = "OTHER";
  MetricsDrive sameModelAndSerial = HealthyDrive();
  sameModelAndSerial.device = "/dev/sdc";
  const std::string text =
      FormatMetrics(std::vector<MetricsDrive>{drive, sameDevice, sameModelAndSerial}, 0);
  ExpectWellFormed(text);
  EXPECT_EQ(SamplesOf(text, "diskvigil_smart_enabled").size(), 2u);
  EXPECT_EQ(SamplesOf(text, "diskvigil_attribute_value").size(), 4u);
  EXPECT_EQ(text.find("OTHER"), std::string::npos);
}

TEST(MetricsFormat, LabelValuesEscaped) {
  EXPECT_EQ(EscapeLabelValue(R"(a\b"c)"), R"(a\\b\"c)");
  EXPECT_EQ(EscapeLabelValue("two\nlines"), "two\\nlines");
  // Other control bytes and bytes that are not UTF-8 would make the file unreadable.
  EXPECT_EQ(EscapeLabelValue(std::string("x\0y\r\x1b\x7f", 6)), "x?y???");
  EXPECT_EQ(EscapeLabelValue("\xff\xc3"), "??");
  EXPECT_EQ(EscapeLabelValue("\xc0\xaf"), "??") << "an overlong '/'";
  EXPECT_EQ(EscapeLabelValue("\xed\xa0\x80"), "???") << "a surrogate";
  EXPECT_EQ(EscapeLabelValue("Gr\xc3\xb6\xc3\x9f"
                             "e \xe2\x82\xac \xf0\x9f\x92\xbe"),
            "Gr\xc3\xb6\xc3\x9f"
            "e \xe2\x82\xac \xf0\x9f\x92\xbe");

  MetricsDrive drive = HealthyDrive();
  drive.model = "Odd \"model\"\\\n";
  const std::string text = FormatMetrics(std::vector<MetricsDrive>{drive}, 0);
  ExpectWellFormed(text);
  EXPECT_NE(text.find(R"(model="Odd \"model\"\\\n")"), std::string::npos) << text;
}

// A sector with attribute entries {id, value, worst, raw} and one with thresholds {id, threshold}.
SmartSectors Sectors(std::initializer_list<std::array<uint64_t, 4>> attributes,
                     std::initializer_list<std::array<uint8_t, 2>> thresholds) {
  SmartSectors sectors;
  size_t offset = kSmartTableOffset;
  for (const auto& [id, value, worst, raw] : attributes) {
    sectors.SMARTData[offset] = static_cast<uint8_t>(id);
    sectors.SMARTData[offset + 3] = static_cast<uint8_t>(value);
    sectors.SMARTData[offset + 4] = static_cast<uint8_t>(worst);
    for (size_t i = 0; i < 6; ++i) sectors.SMARTData[offset + 5 + i] = (raw >> (8 * i)) & 0xFF;
    offset += kSmartEntrySize;
  }
  offset = kSmartTableOffset;
  for (const auto& [id, threshold] : thresholds) {
    sectors.SMARTThresholds[offset] = id;
    sectors.SMARTThresholds[offset + 1] = threshold;
    offset += kSmartEntrySize;
  }
  return sectors;
}

TEST(MetricsDriveFromReading, TakesOnlyWhatThisReadGave) {
  Drive drive;
  drive.ModelNumber = "M";
  drive.SerialNumber = "S";
  drive.SMARTEnabled = true;
  const SmartSectors sectors = Sectors({{5, 100, 99, 3},
                                        {194, 64, 50, 0x1E001400 | 40},
                                        {9, 0, 0, 0},
                                        {187, 100, 100, 2},
                                        {5, 1, 1, 1}},
                                       {{5, 36}});

  const MetricsDrive full = MakeMetricsDrive("/dev/sda", drive, {true, true, true}, sectors);
  EXPECT_EQ(full.healthy, true);
  EXPECT_EQ(full.temperatureCelsius, 40u);
  EXPECT_FALSE(full.airflowCelsius) << "no attribute 190";
  // 9 is listed empty and does not count; 187 has no name in the table but counts all the same.
  ASSERT_EQ(full.attributes.size(), 3u);
  EXPECT_EQ(full.attributes[0].id, 5);
  EXPECT_EQ(full.attributes[0].threshold, 36);
  EXPECT_EQ(full.attributes[0].raw, 3u);
  EXPECT_EQ(full.attributes[1].name, "Temperature");
  EXPECT_EQ(full.attributes[1].threshold, 0) << "no threshold entry";
  EXPECT_EQ(full.attributes[2].id, 187);
  EXPECT_EQ(full.attributes[2].name, "Unknown");
  EXPECT_EQ(full.attributes[2].raw, 2u) << "the second entry for 5 is not a second attribute";

  // After a failed sector read the sectors hold an earlier drive's data: none of it is used.
  const MetricsDrive verdictOnly =
      MakeMetricsDrive("/dev/sda", drive, {true, false, false}, sectors);
  EXPECT_EQ(verdictOnly.healthy, false);
  EXPECT_FALSE(verdictOnly.temperatureCelsius);
  EXPECT_TRUE(verdictOnly.attributes.empty());
  EXPECT_FALSE(MakeMetricsDrive("/dev/sda", drive, {}, sectors).healthy);

  drive.SMARTEnabled = false;
  const MetricsDrive off = MakeMetricsDrive("/dev/sda", drive, {true, true, true}, sectors);
  EXPECT_FALSE(off.smartEnabled);
  EXPECT_FALSE(off.healthy);
  EXPECT_TRUE(off.attributes.empty());
}

class MetricsFileTest : public ::testing::Test {
 protected:
  void SetUp() override { folder_ = dv::test::MakeTestFolder("dv-metrics"); }
  void TearDown() override { fs::remove_all(folder_); }

  static std::string Read(const fs::path& path) {
    std::ifstream in(path, std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(in), {});
  }
  size_t Entries() const {
    return static_cast<size_t>(std::distance(fs::directory_iterator(folder_), {}));
  }

  fs::path folder_;
};

TEST_F(MetricsFileTest, ReplacesTheFileReadableByAll) {
  const fs::path path = folder_ / "diskvigil.prom";
  std::ofstream(path) << "old";
  const mode_t previous = ::umask(077);
  const auto error = WriteMetricsFile(path.string(), "new\n");
  ::umask(previous);
  ASSERT_FALSE(error) << *error;
  EXPECT_EQ(Read(path), "new\n");
  EXPECT_EQ(fs::status(path).permissions(), fs::perms(0644));
  EXPECT_EQ(Entries(), 1u) << "nothing left beside it";
}

TEST_F(MetricsFileTest, FailuresLeaveNothingBehind) {
  const fs::path missing = folder_ / "no-such-folder" / "diskvigil.prom";
  EXPECT_EQ(WriteMetricsFile(missing.string(), "x"), "Unable to write to " + missing.string());
  const fs::path folder = folder_ / "a-folder.prom";
  fs::create_directory(folder);
  EXPECT_TRUE(WriteMetricsFile(folder.string(), "x"));
  EXPECT_TRUE(fs::is_directory(folder));
  EXPECT_EQ(Entries(), 1u);
}

}  // namespace
}  // namespace dv::cli
