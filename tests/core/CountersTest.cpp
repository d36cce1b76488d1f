// The counter watch: the rise rule, its state file across restarts, files that cannot be trusted,
// and simulated drives whose counters rise from pass to pass.
#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>

#include "SmartSectorBuilder.h"
#include "TestFolder.h"
#include "core/Counters.h"
#include "core/Enumerate.h"
#include "core/Monitor.h"
#include "core/SimulatedDrives.h"

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
  const std::string valid = good.Serialize();
  const std::string foreign = CounterWatch(File("machine-b")).Serialize();

  const std::vector<std::pair<std::string, std::string>> cases{
      {"{\"format\": \"diskvigil counter", "not valid JSON"},
      {"[1, 2, 3]", "not a counter state file"},
      {"{\"format\": \"something else\", \"version\": 1}", "not a counter state file"},
      {foreign, "another machine"},
      {std::string(valid).replace(valid.find("\"version\": 1"), 12, "\"version\": 7"), "version"},
      {std::string(valid).replace(valid.find("\"5\""), 3, "\"6\""), "damaged"},
      {std::string(valid).replace(valid.find(": 2"), 3, ": -2"), "damaged"},
      {std::string(valid).replace(valid.find(": 2"), 3, ": 1e300"), "damaged"},
      {std::string(kMaxCounterStateFileSize + 1, ' '), "larger than 256 KB"},
  };
  for (const auto& [text, reason] : cases) {
    WriteState(text);
    CounterWatch watch(File());
    const auto note = watch.Load();
    ASSERT_TRUE(note) << text.substr(0, 80);
    EXPECT_NE(note->find(reason), std::string::npos) << *note;
    EXPECT_NE(note->find("counters.json"), std::string::npos) << *note;
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
