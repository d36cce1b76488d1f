// The history file on a fake clock: what folding keeps, how large years of passes grow, and the
// files that cannot be used.
#include <gtest/gtest.h>
#include <sqlite3.h>
#include <unistd.h>

#include <chrono>
#include <fstream>
#include <string>
#include <vector>

#include "TestFolder.h"
#include "history/HistoryStore.h"

namespace dv {
namespace {

namespace fs = std::filesystem;

constexpr int64_t kDay = 86400;
constexpr int64_t kEpoch = 1'800'000'000 / kDay * kDay;  // a midnight, UTC
const HistoryDrive kDriveA{"Model A", "SERIAL-A"};
const HistoryDrive kDriveB{"Model B", "SERIAL-B"};

class HistoryStoreTest : public ::testing::Test {
 public:
  // A year of passes writes a lot: on a RAM file system where there is one.
  void SetUp() override {
    folder_ = test::MakeTestFolder("dv-history");
    if (::access("/dev/shm", W_OK) == 0) {
      fs::remove_all(folder_);
      folder_ = "/dev/shm" / folder_.filename();
      fs::create_directories(folder_);
    }
  }
  void TearDown() override { fs::remove_all(folder_); }

  HistoryStore Open(HistoryStore::Mode mode = HistoryStore::Mode::ReadWrite) {
    return HistoryStore(Path(), mode, [this] { return now_; });
  }
  fs::path Path() const { return folder_ / "history.sqlite"; }

  static HistorySample Sample(std::optional<int> temperature, uint64_t reallocated = 0,
                              bool asleep = false) {
    HistorySample sample;
    sample.temperature = temperature;
    sample.verdict = HistoryVerdict::Passed;
    sample.asleep = asleep;
    if (asleep) return sample;  // nothing read
    sample.powerOnHours = 1000;
    sample.counters[0] = reallocated;
    return sample;
  }

  fs::path folder_;
  int64_t now_ = kEpoch;
};

struct Taken {
  int64_t at;  // seconds after kEpoch
  std::optional<int> temperature;
  uint64_t reallocated = 0;
  bool asleep = false;
};
struct Expected {
  int64_t at;
  HistorySpan span;
  std::optional<int> temperature, lowest, highest;
  uint64_t reallocated;
  bool asleep = false;
};
struct FoldCase {
  const char* name;
  std::vector<Taken> taken;
  int64_t now;    // the clock of a last, empty pass that folds
  int64_t since;  // the query's start
  std::vector<Expected> rows;
};

TEST_F(HistoryStoreTest, FoldsOldSamplesAndAnswersSince) {
  constexpr int64_t kTwoDays = 2 * kDay;
  const auto tenMinutes = HistorySpan::TenMinutes;
  const FoldCase cases[] = {
      {"recent samples stay as taken",
       {{0, 30}, {15, 31}},
       kTwoDays,
       0,
       {{0, HistorySpan::Sample, 30, {}, {}, 0}, {15, HistorySpan::Sample, 31, {}, {}, 0}}},
      {"a ten-minute span past two days: mean, range, last counter, any sleep",
       {{0, 30, 1}, {100, 36, 2}, {200, {}, 2, true}, {300, 31, 3}, {650, 40, 3}},
       kTwoDays + 610,
       0,
       {{0, tenMinutes, 32, 30, 36, 3, true}, {650, HistorySpan::Sample, 40, {}, {}, 3}}},
      {"a span still filling is not folded",
       {{0, 30}, {599, 40}},
       kTwoDays + 599,
       0,
       {{0, HistorySpan::Sample, 30, {}, {}, 0}, {599, HistorySpan::Sample, 40, {}, {}, 0}}},
      {"the last counter is the last one read, not a sleeping sample's",
       {{0, 30, 5}, {300, {}, 0, true}},
       kTwoDays + 600,
       0,
       {{0, tenMinutes, 30, 30, 30, 5, true}}},
      {"ten-minute rows past ninety days become a day, weighted by their samples",
       {{0, 30}, {10, 30}, {20, 30}, {700, 42}, {kDay + 5, 35}},
       91 * kDay + 1,
       0,
       {{0, HistorySpan::Day, 33, 30, 42, 0}, {kDay, tenMinutes, 35, 35, 35, 0}}},
      {"since skips older rows but keeps a folded row that reaches past it",
       {{0, 30}, {300, 40}, {700, 44}, {1200, 50}},
       kTwoDays + 1800,
       650,
       {{600, tenMinutes, 44, 44, 44, 0}, {1200, tenMinutes, 50, 50, 50, 0}}},
  };
  for (const FoldCase& c : cases) {
    SCOPED_TRACE(c.name);
    fs::remove_all(folder_);
    now_ = kEpoch;
    HistoryStore store = Open();
    ASSERT_TRUE(store.IsOpen()) << store.Note().value_or("");
    for (const Taken& t : c.taken) {
      now_ = kEpoch + t.at;
      const DriveSample samples[] = {{kDriveA, Sample(t.temperature, t.reallocated, t.asleep)},
                                     {kDriveB, Sample(99)}};
      ASSERT_EQ(store.WritePass(samples), std::nullopt);
    }
    now_ = kEpoch + c.now;
    ASSERT_EQ(store.WritePass({}), std::nullopt);
    const auto rows = store.Rows(kDriveA, kEpoch + c.since);
    ASSERT_EQ(rows.size(), c.rows.size());
    for (size_t i = 0; i < rows.size(); ++i) {
      SCOPED_TRACE(i);
      EXPECT_EQ(rows[i].time, kEpoch + c.rows[i].at);
      EXPECT_EQ(rows[i].span, c.rows[i].span);
      EXPECT_EQ(rows[i].values.temperature, c.rows[i].temperature);
      EXPECT_EQ(rows[i].lowest, c.rows[i].lowest);
      EXPECT_EQ(rows[i].highest, c.rows[i].highest);
      EXPECT_EQ(rows[i].values.counters[0], c.rows[i].reallocated);
      EXPECT_EQ(rows[i].values.asleep, c.rows[i].asleep);
    }
    EXPECT_TRUE(store.Rows({"Model C", "unknown"}, 0).empty());
  }
}

// Six drives at the default fifteen seconds. What is kept of a span does not depend on how
// often it was sampled, so the year runs a pass every six hours while its days are folded whole, a
// pass every ten minutes while its ten-minute rows are kept, and every fifteen seconds only for
// its last two days: a short run that leaves the file as a real year does.
TEST_F(HistoryStoreTest, YearsOfSixDrivesStaySmallAndFlat) {
  std::vector<DriveSample> pass;
  for (int drive = 1; drive <= 6; ++drive) {
    HistorySample sample = Sample(35, 2);
    sample.powerOnHours = 12345;
    pass.push_back({{"Model " + std::to_string(drive), "SERIAL" + std::to_string(drive)}, sample});
  }
  const auto runYear = [&](HistoryStore& store, int64_t yearStart) {
    const int64_t end = yearStart + 365 * kDay;
    for (now_ = yearStart; now_<end; now_ += end - now_> kHistoryTenMinuteSeconds ? 6 * 3600
                           : end - now_ > kHistoryRawSeconds                      ? 600
                                                                                  : 15) {
      pass[0].sample.temperature = 30 + static_cast<int>(now_ / 600 % 15);
      ASSERT_EQ(store.WritePass(pass), std::nullopt);
    }
  };
  std::vector<uintmax_t> sizes;
  for (int year = 0; year < 2; ++year) {
    {
      HistoryStore store = Open();
      runYear(store, kEpoch + year * 365 * kDay);
    }
    sizes.push_back(fs::file_size(Path()));
  }
  std::cout << "after one year: " << sizes[0] << " bytes, after two: " << sizes[1] << "\n";
  EXPECT_LT(sizes[0], 10u * 1024 * 1024);
  // The second year adds only its 365 daily rows a drive.
  EXPECT_LT(sizes[1], sizes[0] + sizes[0] / 20);
  HistoryStore store = Open(HistoryStore::Mode::ReadOnly);
  EXPECT_GT(store.Rows(pass[0].drive, 0).size(), 600u);
}

// Opens a file with SQLite alone, for the cases the program never writes.
void WithDatabase(const fs::path& path, const char* sql) {
  sqlite3* db = nullptr;
  ASSERT_EQ(sqlite3_open(path.c_str(), &db), SQLITE_OK);
  ASSERT_EQ(sqlite3_exec(db, sql, nullptr, nullptr, nullptr), SQLITE_OK) << sqlite3_errmsg(db);
  sqlite3_close(db);
}

TEST_F(HistoryStoreTest, BadFilesAreSetAsideOrLeftAlone) {
  struct BadFile {
    const char* name;
    std::function<void(HistoryStoreTest&)> make;
    bool setAside;  // moved to .bad and a new file started; else left as it was, no history
    const char* note;
  };
  const auto writeTwoPasses = [](HistoryStoreTest& t) {
    HistoryStore store = t.Open();
    const DriveSample sample[] = {{kDriveA, Sample(30)}};
    store.WritePass(sample);
    store.WritePass(sample);
  };
  const BadFile cases[] = {
      {"not a database",
       [](HistoryStoreTest& t) { std::ofstream(t.Path()) << std::string(5000, 'x'); }, true,
       "not a database"},
      {"damaged pages",
       [&](HistoryStoreTest& t) {
         writeTwoPasses(t);
         std::fstream file(t.Path(), std::ios::in | std::ios::out | std::ios::binary);
         file.seekp(1024);  // the second page on
         file << std::string(2048, '\xA5');
       },
       true, "could not be used"},
      {"a newer schema",
       [](HistoryStoreTest& t) { WithDatabase(t.Path(), "PRAGMA user_version=99"); }, true,
       "newer program"},
      {"another program's database",
       [](HistoryStoreTest& t) { WithDatabase(t.Path(), "CREATE TABLE notes(text)"); }, true,
       "other tables"},
      {"not writable by this user",
       [&](HistoryStoreTest& t) {
         writeTwoPasses(t);
         fs::permissions(t.Path(), fs::perms::owner_read);
         fs::permissions(t.folder_, fs::perms::owner_read | fs::perms::owner_exec);
       },
       false, "cannot be written"},
  };
  for (const BadFile& c : cases) {
    SCOPED_TRACE(c.name);
    if (!c.setAside && ::geteuid() == 0) continue;  // root writes whatever the modes say
    fs::permissions(folder_, fs::perms::owner_all);
    fs::remove_all(folder_);
    fs::create_directories(folder_);
    c.make(*this);
    const auto before = fs::file_size(Path());
    {
      HistoryStore store = Open();
      ASSERT_TRUE(store.Note());
      EXPECT_NE(store.Note()->find(c.note), std::string::npos) << *store.Note();
      EXPECT_EQ(store.IsOpen(), c.setAside);
      const DriveSample sample[] = {{kDriveA, Sample(30)}};
      EXPECT_EQ(store.WritePass(sample) == std::nullopt, c.setAside);
    }
    const fs::path bad = Path().string() + ".bad";
    EXPECT_EQ(fs::exists(bad), c.setAside);
    EXPECT_EQ(fs::file_size(c.setAside ? bad : Path()), before);
    if (c.setAside) {
      EXPECT_EQ(Open().Rows(kDriveA, 0).size(), 1u);
    }
  }
  fs::permissions(folder_, fs::perms::owner_all);
}

// Another program holding the write lock costs a pass its write, never more than the time-out.
TEST_F(HistoryStoreTest, BusyFileSkipsThePassAfterTheTimeout) {
  HistoryStore store = Open();
  sqlite3* other = nullptr;
  ASSERT_EQ(sqlite3_open(Path().c_str(), &other), SQLITE_OK);
  ASSERT_EQ(sqlite3_exec(other, "BEGIN IMMEDIATE", nullptr, nullptr, nullptr), SQLITE_OK);
  const DriveSample sample[] = {{kDriveA, Sample(30)}};
  const auto start = std::chrono::steady_clock::now();
  EXPECT_TRUE(store.WritePass(sample));
  EXPECT_LT(std::chrono::steady_clock::now() - start,
            std::chrono::milliseconds(2 * kHistoryBusyTimeoutMs));
  sqlite3_exec(other, "COMMIT", nullptr, nullptr, nullptr);
  sqlite3_close(other);
  now_ += 15;
  EXPECT_EQ(store.WritePass(sample), std::nullopt);
  EXPECT_EQ(store.Rows(kDriveA, 0).size(), 1u);
}

}  // namespace
}  // namespace dv
