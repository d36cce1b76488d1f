// Simulation files: the three PATH forms, raw sectors, the real-drive fixtures and every way a
// file can be malformed.
#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <filesystem>
#include <fstream>

#include "core/Identify.h"
#include "core/LittleEndian.h"
#include "core/SimulationFile.h"

namespace dv {
namespace {

namespace fs = std::filesystem;

const fs::path kRealDrives = fs::path(DISKVIGIL_TEST_DATA_DIR) / "real-drives";

// A scratch folder removed after each test.
class SimulationFileTest : public ::testing::Test {
 protected:
  void SetUp() override {
    const auto* info = ::testing::UnitTest::GetInstance()->current_test_info();
    dir_ = fs::temp_directory_path() /
           ("dv-simfile-" + std::string(info->name()) + "-" +
            std::to_string(std::chrono::steady_clock::now().time_since_epoch().count()));
    fs::create_directories(dir_);
  }
  void TearDown() override { fs::remove_all(dir_); }

  fs::path Write(const std::string& name, const std::string& text) {
    const fs::path path = dir_ / name;
    fs::create_directories(path.parent_path());
    std::ofstream(path, std::ios::binary) << text;
    return path;
  }

  fs::path dir_;
};

std::string ModelOf(const SimulatedDrive& drive) {
  std::string text;
  for (size_t w = 27; w <= 46; ++w) {
    text += static_cast<char>(Word(drive.identify, w) >> 8);
    text += static_cast<char>(Word(drive.identify, w) & 0xFF);
  }
  while (!text.empty() && static_cast<unsigned char>(text.back()) <= ' ') text.pop_back();
  return text;
}

std::string Hex(uint8_t fill) {
  static const char* kDigits = "0123456789abcdef";
  std::string hex;
  for (size_t i = 0; i < kSectorSize; ++i) {
    hex += kDigits[fill >> 4];
    hex += kDigits[fill & 15];
  }
  return hex;
}

TEST_F(SimulationFileTest, OneDriveObjectFile) {
  const auto path = Write("one.json", R"({"model": "ST1000", "driveNumber": 4, "comment": "x"})");
  std::vector<SimulatedDrive> drives;
  std::string error;
  ASSERT_TRUE(LoadSimulationPath(path.string(), drives, error)) << error;
  ASSERT_EQ(drives.size(), 1u);
  EXPECT_EQ(drives[0].driveNumber, 4);
  EXPECT_EQ(ModelOf(drives[0]), "ST1000");
}

TEST_F(SimulationFileTest, DrivesListNumbersByIndex) {
  const auto path = Write("list.json", R"({"drives": [{"model": "a"}, {"model": "b"},
                                                      {"model": "c", "driveNumber": 9}]})");
  std::vector<SimulatedDrive> drives;
  std::string error;
  ASSERT_TRUE(LoadSimulationPath(path.string(), drives, error)) << error;
  ASSERT_EQ(drives.size(), 3u);
  EXPECT_EQ(drives[0].driveNumber, 0);
  EXPECT_EQ(drives[1].driveNumber, 1);
  EXPECT_EQ(drives[2].driveNumber, 9);
}

TEST_F(SimulationFileTest, FolderSortedByNameOnlyJsonFiles) {
  Write("b-second.json", R"({"model": "second"})");
  Write("a-first.json", R"({"model": "first"})");
  Write("notes.txt", "not a drive");
  Write("c-third.json", R"({"model": "third", "driveNumber": 12})");
  std::vector<SimulatedDrive> drives;
  std::string error;
  ASSERT_TRUE(LoadSimulationPath(dir_.string(), drives, error)) << error;
  ASSERT_EQ(drives.size(), 3u);
  EXPECT_EQ(ModelOf(drives[0]), "first");
  EXPECT_EQ(drives[0].driveNumber, 0);
  EXPECT_EQ(ModelOf(drives[1]), "second");
  EXPECT_EQ(drives[1].driveNumber, 1);
  EXPECT_EQ(drives[2].driveNumber, 12);
}

TEST_F(SimulationFileTest, ImagePathRelativeToTheFile) {
  Write("disks/disk.img", std::string(1024, '\x42'));
  const auto path = Write("disks/drive.json", R"({"model": "m", "image": "disk.img"})");
  std::vector<SimulatedDrive> drives;
  std::string error;
  ASSERT_TRUE(LoadSimulationPath(path.string(), drives, error)) << error;
  EXPECT_EQ(fs::path(drives[0].imagePath), dir_ / "disks" / "disk.img");
}

TEST(SimulationFile, RawSectorsReplaceTheBuiltOnes) {
  const std::string json = R"({"model": "ignored", "identifyHex": ")" + Hex(0x11) +
                           R"(", "smartDataHex": ")" + Hex(0x22) + R"(", "smartThresholdsHex": ")" +
                           Hex(0x33) + R"("})";
  std::vector<SimulatedDrive> drives;
  std::string error;
  ASSERT_TRUE(ParseSimulationText(json, "", "raw.json", drives, error)) << error;
  Sector expected{};
  expected.fill(0x11);
  EXPECT_EQ(drives[0].identify, expected);
  expected.fill(0x22);
  EXPECT_EQ(drives[0].smartData, expected);
  expected.fill(0x33);
  EXPECT_EQ(drives[0].smartThresholds, expected);
}

TEST(SimulationFile, SetFeaturesChangesRawIdentifyWords) {
  // AAM supported (word 83 bit 9), not enabled; no integrity signature, so byte 511 stays.
  Sector id{};
  PutLe16(id, 2 * 83, 0x4200);
  std::string hex;
  for (uint8_t b : id) {
    static const char* kDigits = "0123456789abcdef";
    hex += kDigits[b >> 4];
    hex += kDigits[b & 15];
  }
  std::string error;
  auto system = SimulatedDriveSystem::FromJsonText(
      R"({"model": "m", "identifyHex": ")" + hex + R"("})", "", "raw.json", error);
  ASSERT_TRUE(system) << error;
  auto handle = OpenDrive(*system, 0);
  EXPECT_TRUE(SendATACommand(*handle, MakeSetFeatures(0, 0x42, 0x90)).success);
  const Sector& now = system->FindDrive(0)->identify;
  EXPECT_EQ(Word(now, 86), 0x0200);
  EXPECT_EQ(Word(now, 94), 0x0090);
  EXPECT_EQ(now[511], 0);
}

TEST(SimulationFile, EveryRealDriveLoads) {
  int files = 0;
  for (const auto& entry : fs::directory_iterator(kRealDrives)) {
    if (entry.path().extension() != ".json") continue;
    ++files;
    std::vector<SimulatedDrive> drives;
    std::string error;
    ASSERT_TRUE(LoadSimulationPath(entry.path().string(), drives, error)) << error;
    ASSERT_EQ(drives.size(), 1u);
    // The raw IDENTIFY sector is the one the drive sent: its model matches the file's.
    const std::string name = entry.path().stem().string();
    std::string model = name.substr(0, name.find("--"));
    std::replace(model.begin(), model.end(), '_', ' ');
    EXPECT_EQ(ModelOf(drives[0]).substr(0, model.size()), model) << name;
    EXPECT_GT(UserSectors(drives[0].identify), 0u) << name;
  }
  EXPECT_EQ(files, 19);
}

TEST(SimulationFile, RealDriveVerdicts) {
  std::vector<SimulatedDrive> drives;
  std::string error;
  ASSERT_TRUE(LoadSimulationPath((kRealDrives / "Maxtor_96147H8--BAC51KJ0--2.json").string(),
                                 drives, error));
  EXPECT_EQ(drives[0].smartStatus, SimulatedSmartStatus::ThresholdExceeded);
  ASSERT_TRUE(LoadSimulationPath((kRealDrives / "WDC_WD2500JB--00REA0-20.00K20.json").string(),
                                 drives, error));
  EXPECT_EQ(drives[0].smartStatus, SimulatedSmartStatus::Ok) << "no verdict in the file";
}

// Malformed text: the error names the source and the field and says what is wrong.
struct Malformed {
  const char* field;
  const char* problem;
};

std::string Repeat(const std::string& item, int count) {
  std::string list;
  for (int i = 0; i < count; ++i) list += (i ? "," : "") + item;
  return list;
}

TEST(SimulationFile, MalformedFilesNameTheField) {
  const std::string drives17 = R"({"drives": [)" + Repeat(R"({"model": "m"})", 17) + "]}";
  const std::string attributes31 =
      R"({"model": "m", "smart": {"attributes": [)" + Repeat(R"({"id": 1})", 31) + "]}}";
  const std::string badHex = R"({"model": "m", "smartDataHex": "zz)" + Hex(0).substr(2) + "\"}";
  const std::vector<std::pair<std::string, Malformed>> cases = {
      {"{\"model\": ", {"", "not valid JSON"}},
      {"[1, 2]", {"(top level)", "drive object"}},
      {R"({"serial": "x"})", {"model", "is missing"}},
      {R"({"model": 12})", {"model", "must be a text"}},
      {R"({"model": "m", "serial": "012345678901234567890"})", {"serial", "longer than 20"}},
      {R"({"model": "m", "driveNumber": 16})", {"driveNumber", "from 0 to 15"}},
      {R"({"model": "m", "driveNumber": -1})", {"driveNumber", "from 0 to 15"}},
      {R"({"model": "m", "driveNumber": 2.5})", {"driveNumber", "whole number"}},
      {R"({"model": "m", "driveNumber": "3"})", {"driveNumber", "whole number"}},
      {R"({"drives": [{"model": "a"}, {"model": "b", "driveNumber": 0}]})",
       {"drives[1].driveNumber", "already used by drives[0]"}},
      {R"({"drives": {"model": "a"}})", {"drives", "must be a list"}},
      {R"({"drives": [7]})", {"drives[0]", "drive object"}},
      {R"({"model": "m", "sectors": 0})", {"sectors", "from 1 to"}},
      {R"({"model": "m", "sectors": 281474976710656})", {"sectors", "from 1 to"}},
      {R"({"model": "m", "sectors": 8589934592, "lba48": false})", {"sectors", "48-bit"}},
      {R"({"model": "m", "smartEnabled": "yes"})", {"smartEnabled", "true or false"}},
      {R"({"model": "m", "aam": {"current": 300}})", {"aam.current", "from 0 to 255"}},
      {R"({"model": "m", "apm": []})", {"apm", "must be an object"}},
      {R"({"model": "m", "identifyHex": "00ff"})", {"identifyHex", "1024 hex digits"}},
      {badHex.c_str(), {"smartDataHex", "not a hex digit at position 0"}},
      {R"({"model": "m", "smart": {"status": "failing"}})", {"smart.status", "threshold-exceeded"}},
      {R"({"model": "m", "smart": {"attributes": [{"id": 5, "value": 256}]}})",
       {"smart.attributes[0].value", "from 0 to 255"}},
      {R"({"model": "m", "smart": {"attributes": [{"value": 5}]}})",
       {"smart.attributes[0].id", "is missing"}},
      {R"({"model": "m", "smart": {"attributes": [{"id": 0}]}})",
       {"smart.attributes[0].id", "from 1 to 255"}},
      {R"({"model": "m", "smart": {"attributes": [{"id": 5, "rawBytes": [1, 2, 3, 4, 5]}]}})",
       {"smart.attributes[0].rawBytes", "six numbers"}},
      {R"({"model": "m", "smart": {"attributes": [{"id": 5, "raw": "0x1234567890123"}]}})",
       {"smart.attributes[0].raw", "1 to 12 hex digits"}},
      {R"({"model": "m", "smart": {"attributes": [{"id": 5, "raw": 281474976710656}]}})",
       {"smart.attributes[0].raw", "whole number"}},
      {R"({"model": "m", "failures": {"ioctl": ["FORMAT_UNIT"]}})",
       {"failures.ioctl[0]", "FORMAT_UNIT"}},
      {R"({"model": "m", "failures": {"open": 1}})", {"failures.open", "true or false"}},
      {R"({"model": "m", "sectorsHex": {"abc": "00"}})", {"sectorsHex.abc", "decimal"}},
      {R"({"model": "m", "sectorsHex": {"-1": "00"}})", {"sectorsHex.-1", "decimal"}},
      {R"({"model": "m", "sectorsHex": {"0": "00"}})", {"sectorsHex.0", "1024 hex digits"}},
      {R"({"model": "m", "volumes": {"5": "C"}})", {"volumes.5", "1 to 4"}},
      {R"({"model": "m", "volumes": {"1": 3}})", {"volumes.1", "must be a text"}},
      {R"({"model": "m", "image": "no-such-image.img"})", {"image", "cannot open"}},
      {R"({"model": "m", "latencyMs": 1000000000})", {"latencyMs", "from 0 to 10000"}},
      {drives17.c_str(), {"drives", "more than 16"}},
      {attributes31.c_str(), {"smart.attributes", "more than 30"}},
  };
  for (const auto& [json, expect] : cases) {
    std::vector<SimulatedDrive> drives;
    std::string error;
    EXPECT_FALSE(ParseSimulationText(json, "", "bad.json", drives, error)) << json;
    EXPECT_TRUE(drives.empty());
    const std::string prefix = std::string("bad.json: ") + expect.field;
    EXPECT_EQ(error.rfind(prefix, 0), 0u) << "error: " << error << "\nfile: " << json;
    EXPECT_NE(error.find(expect.problem), std::string::npos) << error;
  }
}

TEST(SimulationFile, UnknownKeysAreIgnored) {
  std::vector<SimulatedDrive> drives;
  std::string error;
  EXPECT_TRUE(ParseSimulationText(
      R"({"model": "m", "colour": "blue", "smart": {"vendor": [1, {"x": null}]}, "aam": {"y": 1}})",
      "", "extra.json", drives, error))
      << error;
}

TEST_F(SimulationFileTest, FolderErrorsNameTheFile) {
  Write("a.json", R"({"model": "a"})");
  const auto bad = Write("b.json", R"({"model": "b", "driveNumber": 0})");
  std::vector<SimulatedDrive> drives;
  std::string error;
  EXPECT_FALSE(LoadSimulationPath(dir_.string(), drives, error));
  EXPECT_EQ(error.rfind(bad.string() + ": driveNumber: drive number 0 is already used by", 0), 0u)
      << error;
  EXPECT_NE(error.find("a.json"), std::string::npos) << error;

  Write("b.json", R"({"drives": [{"model": "b"}]})");
  EXPECT_FALSE(LoadSimulationPath(dir_.string(), drives, error));
  EXPECT_EQ(error.rfind(bad.string() + ": drives:", 0), 0u) << error;
}

TEST_F(SimulationFileTest, BrokenEntryInAFolderIsNamedNotTheFolder) {
  Write("a.json", R"({"model": "a"})");
  fs::create_symlink(dir_ / "gone", dir_ / "b.json");
  std::vector<SimulatedDrive> drives;
  std::string error;
  EXPECT_FALSE(LoadSimulationPath(dir_.string(), drives, error));
  EXPECT_EQ(error.rfind((dir_ / "b.json").string() + ": cannot be read", 0), 0u) << error;

  // A folder that happens to end in .json is not a drive file; it is passed over.
  fs::remove(dir_ / "b.json");
  fs::create_directories(dir_ / "c.json");
  EXPECT_TRUE(LoadSimulationPath(dir_.string(), drives, error)) << error;
  EXPECT_EQ(drives.size(), 1u);
}

TEST_F(SimulationFileTest, PathsThatHoldNoDrives) {
  std::vector<SimulatedDrive> drives;
  std::string error;
  EXPECT_FALSE(LoadSimulationPath((dir_ / "missing.json").string(), drives, error));
  EXPECT_NE(error.find("missing.json: no such"), std::string::npos) << error;
  EXPECT_FALSE(LoadSimulationPath(dir_.string(), drives, error));
  EXPECT_NE(error.find("no .json"), std::string::npos) << error;
  EXPECT_FALSE(LoadSimulationPath("/dev/null", drives, error));
  EXPECT_NE(error.find("/dev/null"), std::string::npos) << error;
}

}  // namespace
}  // namespace dv
