// The counter watch: the rise rule, its state file across restarts, files that cannot be trusted,
// and simulated drives whose counters rise from pass to pass.
#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <nlohmann/json.hpp>
#include <tuple>

#include "TestFolder.h"
#include "core/Counters.h"
#include "core/Enumerate.h"
#include "core/HexText.h"
#include "core/Monitor.h"
#include "core/SimulatedDrives.h"
#include "kit/SmartSectorBuilder.h"

namespace dv {
namespace {

namespace fs = std::filesystem;
using test::AttributeEntry;
using test::MakeSectors;

AttributeEntry Raw(uint8_t id, uint64_t raw) {
  AttributeEntry entry{id, 0x0033, 100, 100, {}, 10};
  for (size_t i = 0; i < 6; ++i) entry.raw[i] = static_cast<uint8_t>(raw >> (8 * i));
  return entry;
}

CounterRise Rise(uint8_t id, uint64_t from, uint64_t to) {
  return {id, std::string(CounterName(id)), from, to};
}

bool WriteByRename(const fs::path& path, std::string_view text) {
  const fs::path temporary = path.string() + ".new";
  std::ofstream(temporary, std::ios::binary) << text;
  std::error_code error;
  fs::rename(temporary, path, error);
  return !error;
}

TEST(CounterRule, RisesBetweenReadingsAndFirstSightOfSectorCounters) {
  CounterRecord record;
  // First sight: reallocated and pending sectors above zero count, CRC errors and time-outs not.
  CounterCheck check = CompareCounters(nullptr, {{5, 8}, {188, 4}, {197, 0}, {199, 12}}, record);
  EXPECT_EQ(check.newRises, std::vector<CounterRise>{Rise(5, 0, 8)});
  EXPECT_TRUE(check.Caution());

  // Nothing new: the caution stands but nothing is told again.
  CounterRecord next;
  check = CompareCounters(&record, {{5, 8}, {188, 4}, {197, 0}, {199, 12}}, next);
  EXPECT_TRUE(check.newRises.empty());
  EXPECT_EQ(check.caution, std::vector<CounterRise>{Rise(5, 0, 8)});

  // Each counter that grows is a new rise, from its last value; a second rise of the same
  // counter replaces its first in the standing list.
  CounterRecord third;
  check = CompareCounters(&next, {{5, 9}, {188, 4}, {197, 2}, {199, 13}}, third);
  EXPECT_EQ(check.newRises,
            (std::vector<CounterRise>{Rise(5, 8, 9), Rise(197, 0, 2), Rise(199, 12, 13)}));
  EXPECT_EQ(check.caution, check.newRises);

  // A value that goes down is the new base: no rise, and the next rise counts from there.
  CounterRecord fourth;
  check = CompareCounters(&third, {{199, 1}}, fourth);
  EXPECT_TRUE(check.newRises.empty());
  EXPECT_EQ(fourth.values.at(199), 1u);
  EXPECT_EQ(fourth.values.at(5), 9u);  // not reported this time: kept
  CounterRecord fifth;
  EXPECT_EQ(CompareCounters(&fourth, {{199, 2}}, fifth).newRises,
            std::vector<CounterRise>{Rise(199, 1, 2)});
}

TEST(CounterRule, ReadsOnlyWatchedCountersTheDriveKeeps) {
  const SmartSectors sectors = MakeSectors(
      {Raw(1, 77), Raw(5, 3), {187, 0, 0, 0, {}, 0}, Raw(194, 35), Raw(198, 0x0000010000000001)});
  // 187 is listed all zero (not kept); 198's whole 48-bit raw value counts.
  EXPECT_EQ(ReadWatchedCounters(sectors.SMARTData), (CounterValues{{5, 3}, {198, 0x010000000001}}));
  EXPECT_EQ(CounterName(187), "Reported Uncorrectable Errors");
  EXPECT_EQ(CounterName(197), "Current Pending Sector Count");
  EXPECT_EQ(DescribeRise(Rise(199, 0, 4)), "UltraDMA CRC Error Count (199) rose from 0 to 4");
}

class CounterStateTest : public ::testing::Test {
 protected:
  void SetUp() override { folder_ = test::MakeTestFolder("dv-counters"); }
  void TearDown() override { fs::remove_all(folder_); }

  CounterStateFile File(std::string machine = "machine-a") const {
    return {folder_ / "state" / "counters.json", std::move(machine), WriteByRename};
  }
  void WriteState(const std::string& text) const {
    fs::create_directories(folder_ / "state");
    std::ofstream(folder_ / "state" / "counters.json", std::ios::binary) << text;
  }

  fs::path folder_;
};

TEST_F(CounterStateTest, RestartComparesAgainstTheStoredValues) {
  const SmartSectors before = MakeSectors({Raw(5, 0), Raw(199, 2)});
  const SmartSectors after = MakeSectors({Raw(5, 1), Raw(199, 2)});
  {
    CounterWatch watch(File());
    EXPECT_FALSE(watch.Load());  // no file yet: nothing to say
    EXPECT_FALSE(watch.Take("WDC WD10", "S1", before.SMARTData).Caution());
    EXPECT_FALSE(watch.Save());
    EXPECT_TRUE(fs::exists(folder_ / "state" / "counters.json"));  // the folder was made
  }
  {
    CounterWatch watch(File());
    EXPECT_FALSE(watch.Load());
    // Another drive of the same model is another drive.
    EXPECT_FALSE(watch.Take("WDC WD10", "S2", before.SMARTData).Caution());
    const CounterCheck check = watch.Take("WDC WD10", "S1", after.SMARTData);
    EXPECT_EQ(check.newRises, std::vector<CounterRise>{Rise(5, 0, 1)});
    EXPECT_FALSE(watch.Save());
  }
  // After the next restart the caution stands, the rise is not told again.
  CounterWatch watch(File());
  EXPECT_FALSE(watch.Load());
  EXPECT_EQ(watch.Caution("WDC WD10", "S1"), std::vector<CounterRise>{Rise(5, 0, 1)});
  const CounterCheck check = watch.Take("WDC WD10", "S1", after.SMARTData);
  EXPECT_TRUE(check.newRises.empty());
  EXPECT_TRUE(check.Caution());
  EXPECT_TRUE(watch.Caution("WDC WD10", "S2").empty());
}

TEST_F(CounterStateTest, PeekLeavesTheStateAsItWas) {
  CounterWatch watch(File());
  const SmartSectors sectors = MakeSectors({Raw(197, 4)});
  EXPECT_EQ(watch.Peek("M", "S", sectors.SMARTData).newRises,
            std::vector<CounterRise>{Rise(197, 0, 4)});
  EXPECT_TRUE(watch.Caution("M", "S").empty());
  EXPECT_EQ(watch.Take("M", "S", sectors.SMARTData).newRises.size(), 1u);
}

TEST_F(CounterStateTest, UntrustedFilesAreSetAsideWithANote) {
  CounterWatch good(File());
  good.Take("M", "S", MakeSectors({Raw(5, 2)}).SMARTData);
  good.Take("N", "T", MakeSectors({Raw(197, 1)}).SMARTData);
  const std::string valid = good.Serialize();
  const std::string foreign = CounterWatch(File("machine-b")).Serialize();
  const auto replaced = [&](std::string_view what, std::string_view with) {
    return std::string(valid).replace(valid.find(what), what.size(), with);
  };

  // Whole files are moved to counters.json.bad; a record that cannot be read costs its drive
  // alone (drive M, which comes first), and a copy of the file is kept.
  const std::string oneRecord = "1 drive record(s) could not be read";
  const std::vector<std::pair<std::string, std::string>> cases{
      {"{\"format\": \"diskvigil counter", "not valid JSON"},
      {"[1, 2, 3]", "not a counter state file"},
      {"{\"format\": \"something else\", \"version\": 1}", "not a counter state file"},
      {foreign, "another machine"},
      {replaced("\"version\": 1", "\"version\": 7"), "version"},
      {replaced("\"caution\": [", "\"caution\": 5, \"x\": ["), oneRecord},
      {replaced("\"5\"", "\"6\""), oneRecord},
      {replaced(": 2", ": -2"), oneRecord},
      {replaced(": 2", ": 1e300"), oneRecord},
      {replaced("\"model\": \"M\"", "\"model\": 7"), oneRecord},
      {replaced("\"model\": \"M\"", "\"modelHex\": \"4g\""), oneRecord},
      {replaced("\"M\",\n   \"serial\": \"S\"", "\"N\",\n   \"serial\": \"T\""), oneRecord},
      {std::string(kMaxCounterStateFileSize + 1, ' '), "larger than 256 KB"},
  };
  for (const auto& [text, reason] : cases) {
    WriteState(text);
    fs::remove(folder_ / "state" / "counters.json.bad");
    CounterWatch watch(File());
    const auto note = watch.Load();
    ASSERT_TRUE(note) << text.substr(0, 80);
    EXPECT_NE(note->find(reason), std::string::npos) << *note;
    EXPECT_NE(note->find("counters.json.bad"), std::string::npos) << *note;
    std::ifstream bad(folder_ / "state" / "counters.json.bad", std::ios::binary);
    EXPECT_EQ(std::string(std::istreambuf_iterator<char>(bad), {}), text) << *note;
    EXPECT_EQ(watch.Caution("N", "T").size(), reason == oneRecord ? 1u : 0u) << *note;
    // The watch starts afresh: a sector counter above zero is a first-sight rise again.
    EXPECT_EQ(watch.Take("M", "S", MakeSectors({Raw(5, 2)}).SMARTData).newRises.size(), 1u);
    // and the next save replaces the file with a good one.
    EXPECT_FALSE(watch.Save());
    CounterWatch reread(File());
    EXPECT_FALSE(reread.Load());
  }
  // A folder where the file should be cannot be read or replaced; neither is fatal.
  fs::remove_all(folder_ / "state");
  fs::create_directories(folder_ / "state" / "counters.json");
  CounterWatch blocked(File());
  EXPECT_TRUE(blocked.Load());
  blocked.Take("M", "S", MakeSectors({Raw(5, 2)}).SMARTData);
  EXPECT_EQ(blocked.Save(), "Unable to write to " + (folder_ / "state" / "counters.json").string());
}

// A folder its check refuses (another user's, where root was sent by that user's environment),
// the folder holding it, or the nearest one there is when they are missing: the file there is
// neither read nor replaced, and no folder is made.
TEST_F(CounterStateTest, AFolderNotTrustedIsNeitherReadNorWritten) {
  CounterWatch earlier(File());
  earlier.Take("M", "S", MakeSectors({Raw(5, 2)}).SMARTData);
  const std::string text = earlier.Serialize();
  const std::vector<std::tuple<fs::path, fs::path, bool>> cases{{"state", folder_ / "state", true},
                                                                {"state", folder_, true},
                                                                {"state/below", folder_, false}};
  for (const auto& [where, refused, stateThere] : cases) {
    fs::remove_all(folder_ / "state");
    if (stateThere) WriteState(text);
    CounterStateFile file = File();
    file.path = folder_ / where / "counters.json";
    file.folderProblem = [&](const fs::path& folder) -> std::optional<std::string> {
      if (folder == refused) return "belongs to another user";
      return std::nullopt;
    };
    CounterWatch watch(file);
    EXPECT_EQ(watch.Load(), refused.string() +
                                ": not used, counters are watched in memory only: it belongs to "
                                "another user");
    EXPECT_TRUE(watch.Caution("M", "S").empty());
    EXPECT_EQ(watch.Take("M", "S", MakeSectors({Raw(5, 3)}).SMARTData).newRises.size(), 1u);
    EXPECT_FALSE(watch.Save());
    std::ifstream in(file.path, std::ios::binary);
    EXPECT_EQ(std::string(std::istreambuf_iterator<char>(in), {}), stateThere ? text : "");
    EXPECT_EQ(fs::exists(folder_ / "state"), stateThere);
  }
}

TEST_F(CounterStateTest, SaveKeepsDrivesAnotherProcessWrote) {
  CounterWatch first(File());
  CounterWatch second(File());
  first.Take("A", "1", MakeSectors({Raw(5, 1)}).SMARTData);
  second.Take("B", "2", MakeSectors({Raw(197, 3)}).SMARTData);
  EXPECT_FALSE(first.Save());
  EXPECT_FALSE(second.Save());
  CounterWatch reread(File());
  EXPECT_FALSE(reread.Load());
  EXPECT_EQ(reread.Caution("A", "1").size(), 1u);
  EXPECT_EQ(reread.Caution("B", "2").size(), 1u);
}

// A real drive's IDENTIFY sector with a model byte that is not text (B0h), beside a healthy drive
// whose caution stands: over restarts both keep their records and nothing is told twice.
TEST_F(CounterStateTest, KeysOfAnyBytesSurviveRestarts) {
  std::ifstream in(fs::path(DISKVIGIL_TEST_DATA_DIR) / "real-drives" /
                   "FUJITSU_MHY2120BH--0084000D.json");
  nlohmann::json odd = nlohmann::json::parse(in);
  std::string hex = odd["identifyHex"];
  const auto byteAt = [&](size_t i) { return BytesFromHex(hex)->at(i); };
  const auto setByte = [&](size_t i, int value) {
    static constexpr char kDigits[] = "0123456789abcdef";
    hex[2 * i] = kDigits[(value >> 4) & 15];
    hex[2 * i + 1] = kDigits[value & 15];
  };
  const int old = byteAt(58);  // model character 5 (the bytes of each word are swapped)
  setByte(58, 0xB0);
  setByte(511, (byteAt(511) + old - 0xB0) & 0xFF);  // the checksum still adds up
  odd["identifyHex"] = hex;
  const nlohmann::json healthy = nlohmann::json::parse(
      R"({"model": "WDC WD5000AAKS", "serial": "WMA1", "smart": {"attributes": [
          {"id": 5, "value": 200, "raw": 3}]}})");
  std::string error;
  auto system = SimulatedDriveSystem::FromJsonText(
      nlohmann::json{{"drives", {odd, healthy}}}.dump(), "", "two.json", error);
  ASSERT_TRUE(system) << error;
  DriveTable drives;
  ASSERT_TRUE(ProbeDrives(*system, drives));
  ASSERT_EQ(drives.DriveCount, 2);
  ASSERT_EQ(drives.At(1).ModelNumber.substr(0, 6), "FUJIT\xB0");

  SmartSectors sectors;
  Monitor monitor(*system, drives, sectors);
  std::vector<size_t> told;
  for (int start = 0; start < 4; ++start) {
    CounterWatch watch(File());
    EXPECT_FALSE(watch.Load()) << "start " << start;
    size_t rises = 0;
    monitor.CheckHDDs(0, [&](const PositionReading& reading, const SmartSectors& read) {
      const Drive& drive = drives.At(reading.position);
      rises += watch.Take(drive.ModelNumber, drive.SerialNumber, read.SMARTData).newRises.size();
    });
    told.push_back(rises);
    EXPECT_EQ(watch.Caution("WDC WD5000AAKS", "WMA1").size(), 1u);
    EXPECT_FALSE(watch.Save());
  }
  EXPECT_EQ(told, (std::vector<size_t>{2, 0, 0, 0}));  // first sight only
}

// A file as the previous version wrote it: its caution still stands after the update.
TEST_F(CounterStateTest, FilesOfThePreviousVersionStillMatch) {
  WriteState(R"({"drives": [{"caution": [{"from": 0, "id": 5, "to": 2}], "counters": {"5": 2},
      "model": "WDC WD10", "serial": "S1"}], "format": "diskvigil counter state",
      "machine": "machine-a", "version": 1})");
  CounterWatch watch(File());
  EXPECT_FALSE(watch.Load());
  EXPECT_EQ(watch.Caution("WDC WD10 ", " S1"), std::vector<CounterRise>{Rise(5, 0, 2)});
}

TEST(CounterTwins, DrivesWithOneModelAndSerialAreNamedTogether) {
  DriveTable table;
  const std::vector<std::pair<std::string, std::string>> drives{
      {"A", "1"}, {"B", "1"}, {"A ", " 1"}, {"C", "9"}, {"A", "1"}, {"C", "9"}};
  for (const auto& [model, serial] : drives) {
    Drive& drive = table.At(++table.DriveCount);
    drive.ModelNumber = model;
    drive.SerialNumber = serial;
  }
  EXPECT_EQ(TwinOf(table, 5), 1);
  EXPECT_EQ(TwinOf(table, 2), std::nullopt);
  EXPECT_EQ(TwinNotes(table),
            (std::vector<std::string>{
                "Drives 1, 3 and 5 give the same model and serial: their counters are not watched",
                "Drives 4 and 6 give the same model and serial: their counters are not watched"}));
  CounterWatch watch;
  const SmartSectors sectors = MakeSectors({Raw(5, 4)});
  EXPECT_EQ(watch.Take(table, 3, sectors.SMARTData).twin, 1);
  EXPECT_FALSE(watch.Take(table, 3, sectors.SMARTData).Caution());
  EXPECT_TRUE(watch.Take(table, 2, sectors.SMARTData).Caution());
}

// A drive whose reallocated sectors go 0, 0, 2, 2, 5 over five passes.
constexpr char kRisingDrive[] = R"({"model": "ST3500418AS", "serial": "5VM1", "smart": {
  "attributes": [
    [{"id": 5, "value": 100, "raw": 0}, {"id": 194, "value": 35, "raw": 35}],
    [{"id": 5, "value": 100, "raw": 0}, {"id": 194, "value": 35, "raw": 35}],
    [{"id": 5, "value": 99, "raw": 2}, {"id": 194, "value": 36, "raw": 36}],
    [{"id": 5, "value": 99, "raw": 2}, {"id": 194, "value": 36, "raw": 36}],
    [{"id": 5, "value": 98, "raw": 5}, {"id": 194, "value": 36, "raw": 36}]
  ]}})";

TEST(CountersOnSimulatedDrives, OneRiseToldOncePerRiseAcrossPasses) {
  std::string error;
  auto system = SimulatedDriveSystem::FromJsonText(kRisingDrive, "", "rising.json", error);
  ASSERT_TRUE(system) << error;
  DriveTable drives;
  ASSERT_TRUE(ProbeDrives(*system, drives));
  SmartSectors sectors;
  Monitor monitor(*system, drives, sectors);
  CounterWatch watch;  // no file: memory only
  std::vector<std::vector<CounterRise>> told;
  std::vector<bool> caution;
  for (int pass = 0; pass < 7; ++pass) {
    monitor.CheckHDDs(0, [&](const PositionReading& reading, const SmartSectors& read) {
      const Drive& drive = drives.At(reading.position);
      const CounterCheck check = watch.Take(drive.ModelNumber, drive.SerialNumber, read.SMARTData);
      told.push_back(check.newRises);
      caution.push_back(check.Caution());
    });
  }
  EXPECT_EQ(caution, (std::vector<bool>{false, false, true, true, true, true, true}));
  const std::vector<std::vector<CounterRise>> expected{{}, {}, {Rise(5, 0, 2)}, {}, {Rise(5, 2, 5)},
                                                       {}, {}};  // the last set stays
  EXPECT_EQ(told, expected);
  EXPECT_EQ(watch.Caution("ST3500418AS", "5VM1"), std::vector<CounterRise>{Rise(5, 2, 5)});
}

TEST(CountersOnSimulatedDrives, AttributeSetsAreCheckedLikeOneSet) {
  std::string error;
  const std::string tooLong =
      R"({"model": "M", "smart": {"attributes": [[{"id": 5}], [{"id": 0}]]}})";
  EXPECT_FALSE(SimulatedDriveSystem::FromJsonText(tooLong, "", "bad.json", error));
  EXPECT_EQ(error, "bad.json: smart.attributes[1][0].id: must be a whole number from 1 to 255");
  const std::string mixed = R"({"model": "M", "smart": {"attributes": [[{"id": 5}], {"id": 9}]}})";
  EXPECT_FALSE(SimulatedDriveSystem::FromJsonText(mixed, "", "bad.json", error));
  EXPECT_EQ(error, "bad.json: smart.attributes[1]: must be a list");
}

}  // namespace
}  // namespace dv
