#include "history/HistoryStore.h"

#include <fcntl.h>
#include <sqlite3.h>
#include <unistd.h>

#include <algorithm>
#include <cmath>
#include <cstdlib>
#include <limits>
#include <system_error>

#include "settings/IniFile.h"

namespace dv {
namespace {

namespace fs = std::filesystem;

// Version 1. Folded rows keep the mean temperature (weighted by how many temperatures went into
// it), its range, and the last values read. Keyed by drive, span and time, so that each drive's
// raw samples lie together and a fold or a drive's rows since a time are one range.
constexpr const char* kCreateSchema = R"(
CREATE TABLE drives(
  id INTEGER PRIMARY KEY,
  model TEXT NOT NULL,
  serial TEXT NOT NULL,
  UNIQUE(model, serial));
CREATE TABLE samples(
  drive INTEGER NOT NULL,
  span INTEGER NOT NULL,
  time INTEGER NOT NULL,
  temperature REAL,
  low INTEGER,
  high INTEGER,
  weight INTEGER NOT NULL,
  verdict INTEGER NOT NULL,
  caution INTEGER NOT NULL,
  asleep INTEGER NOT NULL,
  power_on_hours INTEGER,
  c5 INTEGER, c187 INTEGER, c188 INTEGER, c197 INTEGER, c198 INTEGER, c199 INTEGER,
  percentage_used INTEGER,
  available_spare INTEGER,
  media_errors INTEGER,
  PRIMARY KEY(drive, span, time)) WITHOUT ROWID;
)";

// The steps from each older schema to the next; entry k takes version k to k + 1. Version 0 is
// the empty file.
constexpr const char* kMigrations[] = {kCreateSchema};
static_assert(std::size(kMigrations) == kHistorySchemaVersion);

constexpr const char* kInsertSample =
    "INSERT OR REPLACE INTO samples(drive, span, time, temperature, low, high, weight, verdict, "
    "caution, asleep, power_on_hours, c5, c187, c188, c197, c198, c199, percentage_used, "
    "available_spare, media_errors) "
    "VALUES(?1, 0, ?2, ?3, NULL, NULL, ?4, ?5, ?6, ?7, ?8, ?9, ?10, ?11, ?12, ?13, ?14, ?15, ?16, "
    "?17)";

// Rows of span ?1 older than ?3 become rows of span ?2 (its width too). The values read come from
// the newest row that was read (power-on hours known), the verdict from the newest row; both are
// found by their key, which keeps the fold a range scan and two lookups per span.
constexpr const char* kFold = R"(
WITH spans AS (
  SELECT drive, time - time % ?2 AS bucket,
    sum(temperature * weight) AS heat,
    sum(CASE WHEN temperature IS NOT NULL THEN weight END) AS measured,
    min(coalesce(low, temperature)) AS low, max(coalesce(high, temperature)) AS high,
    total(weight) AS weight, max(caution) AS caution, max(asleep) AS asleep,
    max(time) AS lastTime, max(CASE WHEN power_on_hours IS NOT NULL THEN time END) AS lastRead
  FROM samples WHERE drive IN (SELECT id FROM drives) AND span = ?1 AND time < ?3
  GROUP BY drive, bucket)
INSERT OR REPLACE INTO samples(drive, span, time, temperature, low, high, weight, verdict, caution,
  asleep, power_on_hours, c5, c187, c188, c197, c198, c199, percentage_used, available_spare,
  media_errors)
SELECT s.drive, ?2, s.bucket, s.heat / s.measured, s.low, s.high, s.weight, v.verdict, s.caution,
  s.asleep, r.power_on_hours, r.c5, r.c187, r.c188, r.c197, r.c198, r.c199, r.percentage_used,
  r.available_spare, r.media_errors
FROM spans AS s
JOIN samples AS v ON v.drive = s.drive AND v.span = ?1 AND v.time = s.lastTime
LEFT JOIN samples AS r ON r.drive = s.drive AND r.span = ?1 AND r.time = s.lastRead
)";
constexpr const char* kDropFolded =
    "DELETE FROM samples WHERE drive IN (SELECT id FROM drives) AND span = ?1 AND time < ?2";

constexpr const char* kSelectRows =
    "SELECT time, span, temperature, low, high, verdict, caution, asleep, power_on_hours, c5, "
    "c187, c188, c197, c198, c199, percentage_used, available_spare, media_errors "
    "FROM samples WHERE drive = ?1 AND span = ?2 AND time > ?3";

constexpr const char* kFindDrive = "SELECT id FROM drives WHERE model = ?1 AND serial = ?2";
constexpr const char* kAddDrive = "INSERT INTO drives(model, serial) VALUES(?1, ?2)";

constexpr int64_t kFoldEvery = 600;

void BindOptional(sqlite3_stmt* statement, int index, const std::optional<uint64_t>& value) {
  if (!value) {
    sqlite3_bind_null(statement, index);
    return;
  }
  // A counter beyond what SQLite's integers hold is kept at their largest.
  constexpr auto kLargest = static_cast<uint64_t>(std::numeric_limits<int64_t>::max());
  sqlite3_bind_int64(statement, index, static_cast<int64_t>(std::min(*value, kLargest)));
}

std::optional<uint64_t> ColumnOptional(sqlite3_stmt* statement, int column) {
  if (sqlite3_column_type(statement, column) == SQLITE_NULL) return std::nullopt;
  return static_cast<uint64_t>(std::max<sqlite3_int64>(0, sqlite3_column_int64(statement, column)));
}

std::optional<int> ColumnTemperature(sqlite3_stmt* statement, int column) {
  if (sqlite3_column_type(statement, column) == SQLITE_NULL) return std::nullopt;
  return static_cast<int>(std::lround(sqlite3_column_double(statement, column)));
}

HistoryVerdict VerdictFrom(int64_t stored) {
  return stored >= 0 && stored <= static_cast<int>(HistoryVerdict::Unknown)
             ? static_cast<HistoryVerdict>(stored)
             : HistoryVerdict::Unknown;
}

// Codes that say the file itself is not usable, as opposed to this moment or this user.
bool FileIsBad(int code) {
  const int primary = code & 0xff;
  return primary == SQLITE_NOTADB || primary == SQLITE_CORRUPT;
}

bool NotWritable(int code) {
  const int primary = code & 0xff;
  return primary == SQLITE_READONLY || primary == SQLITE_CANTOPEN || primary == SQLITE_PERM ||
         primary == SQLITE_AUTH;
}

void MoveIfThere(const fs::path& from, const fs::path& to) {
  std::error_code error;
  if (fs::exists(from, error)) fs::rename(from, to, error);
}

}  // namespace

int64_t HistoryWallClock() {
  return std::chrono::duration_cast<std::chrono::seconds>(
             std::chrono::system_clock::now().time_since_epoch())
      .count();
}

void HistoryStore::Finalize::operator()(sqlite3_stmt* statement) const {
  sqlite3_finalize(statement);
}

HistoryStore::HistoryStore(fs::path path, Mode mode, HistoryClock clock)
    : path_(std::move(path)), mode_(mode), clock_(std::move(clock)) {
  Open(false);
}

HistoryStore::~HistoryStore() { Close(); }

void HistoryStore::Close() {
  statements_.clear();
  driveIds_.clear();
  if (db_ != nullptr) sqlite3_close_v2(db_);
  db_ = nullptr;
}

std::string HistoryStore::LastError() const {
  return db_ != nullptr ? sqlite3_errmsg(db_) : "out of memory";
}

void HistoryStore::Open(bool afterSettingAside) {
  const bool writing = mode_ == Mode::ReadWrite;
  std::error_code error;
  if (writing) {
    const fs::path folder = path_.parent_path();
    if (!folder.empty() && !fs::exists(folder, error)) {
      fs::create_directories(folder, error);
      fs::permissions(folder, fs::perms::owner_all, error);
    }
    if (const auto problem = UntrustedFolder(folder.empty() ? fs::path(".") : folder)) {
      note_ = "History is not kept: the folder of " + path_.string() + " " + *problem;
      return;
    }
  } else if (!fs::exists(path_, error)) {
    return;  // nothing kept yet: no rows, and nothing to say
  }
  if (writing && !fs::exists(path_, error)) {
    // The journal files SQLite adds take the file's own mode: the owner's alone, as the state's.
    const int fd =
        ::open(path_.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, 0600);
    if (fd >= 0) ::close(fd);
  }
  const int flags = (writing ? SQLITE_OPEN_READWRITE | SQLITE_OPEN_CREATE : SQLITE_OPEN_READONLY) |
                    SQLITE_OPEN_NOFOLLOW;
  const int opened = sqlite3_open_v2(path_.c_str(), &db_, flags, nullptr);
  if (opened == SQLITE_OK) sqlite3_busy_timeout(db_, kHistoryBusyTimeoutMs);
  fileIsBad_ = false;
  const std::optional<std::string> problem =
      opened == SQLITE_OK ? Prepare() : std::optional<std::string>(sqlite3_errstr(opened));
  if (!problem) return;
  const int code = db_ != nullptr ? sqlite3_extended_errcode(db_) : opened;
  Close();
  if (writing && !afterSettingAside && (FileIsBad(code) || fileIsBad_)) {
    SetAside(*problem);
    return;
  }
  if (NotWritable(code) || (writing && fs::exists(path_, error))) {
    note_ = "History is not kept: " + path_.string() + " cannot be " +
            (writing ? "written" : "read") + " (" + *problem + "); it is left as it is";
  } else {
    note_ = "History is not kept: " + path_.string() + ": " + *problem;
  }
}

// Checks the file and brings its schema up to this program's. The reason when it is not to be
// used.
std::optional<std::string> HistoryStore::Prepare() {
  const auto single = [&](const char* sql) -> std::optional<std::string> {
    sqlite3_stmt* statement = Statement(sql);
    if (statement == nullptr || sqlite3_step(statement) != SQLITE_ROW) return std::nullopt;
    const auto* text = sqlite3_column_text(statement, 0);
    std::string value = text != nullptr ? reinterpret_cast<const char*>(text) : "";
    sqlite3_reset(statement);
    return value;
  };
  const auto version = single("PRAGMA user_version");
  if (!version) return LastError();
  if (std::atoi(version->c_str()) > kHistorySchemaVersion) {
    fileIsBad_ = true;
    return "not a history file this version can use: it was written by a newer program (schema " +
           *version + ")";
  }
  // A reader does not move the file aside, and a damaged page shows up as an error where it is
  // read; the check (tens of milliseconds for a year of six drives) is the writer's.
  if (mode_ == Mode::ReadOnly) return std::nullopt;
  const auto check = single("PRAGMA quick_check");
  if (!check) return LastError();
  if (*check != "ok") {
    fileIsBad_ = true;
    return "the file is damaged: " + *check;
  }
  // Small pages: a pass changes one leaf page per drive, and each changed page is written whole
  // to the journal. Only a new, empty file takes the size.
  Execute("PRAGMA page_size=1024");
  const auto journal = single("PRAGMA journal_mode=WAL");
  if (!journal) return LastError();
  if (!Execute("PRAGMA synchronous=NORMAL") || !Execute("BEGIN IMMEDIATE")) return LastError();
  // Read again inside the transaction: another program may have made the file meanwhile.
  const auto current = single("PRAGMA user_version");
  const auto tables = single("SELECT count(*) FROM sqlite_schema");
  if (!current || !tables) {
    Execute("ROLLBACK");
    return LastError();
  }
  int from = std::atoi(current->c_str());
  if (from == 0 && *tables != "0") {
    Execute("ROLLBACK");
    fileIsBad_ = true;
    return std::string("not a history file: it holds other tables");
  }
  for (; from < kHistorySchemaVersion; ++from) {
    if (!Execute(kMigrations[from])) {
      const std::string error = LastError();
      Execute("ROLLBACK");
      return error;
    }
  }
  const std::string setVersion = "PRAGMA user_version=" + std::to_string(kHistorySchemaVersion);
  if (!Execute(setVersion.c_str()) || !Execute("COMMIT")) {
    const std::string error = LastError();
    Execute("ROLLBACK");
    return error;
  }
  return std::nullopt;
}

void HistoryStore::SetAside(const std::string& why) {
  const fs::path bad = fs::path(path_.string() + ".bad");
  std::error_code error;
  fs::rename(path_, bad, error);
  if (error) {
    note_ = "History is not kept: " + path_.string() + " cannot be used (" + why +
            ") nor moved aside (" + error.message() + ")";
    return;
  }
  // Its journal goes with it; the shared-memory index is rebuilt from the journal anyway.
  MoveIfThere(path_.string() + "-wal", bad.string() + "-wal");
  fs::remove(path_.string() + "-shm", error);
  Open(true);
  const std::string outcome = IsOpen() ? "; a new one is started" : "";
  note_ = "The history file " + path_.string() + " could not be used (" + why +
          "); it was moved to " + bad.string() + outcome + (note_ ? ". " + *note_ : "");
}

sqlite3_stmt* HistoryStore::Statement(const char* sql) const {
  auto found = statements_.find(sql);
  if (found != statements_.end()) {
    sqlite3_reset(found->second.get());
    sqlite3_clear_bindings(found->second.get());
    return found->second.get();
  }
  sqlite3_stmt* statement = nullptr;
  if (sqlite3_prepare_v3(db_, sql, -1, SQLITE_PREPARE_PERSISTENT, &statement, nullptr) !=
      SQLITE_OK) {
    sqlite3_finalize(statement);
    return nullptr;
  }
  statements_.emplace(sql, StatementPtr(statement));
  return statement;
}

bool HistoryStore::Execute(const char* sql) const {
  return sqlite3_exec(db_, sql, nullptr, nullptr, nullptr) == SQLITE_OK;
}

std::optional<int64_t> HistoryStore::DriveId(const HistoryDrive& drive, bool create) const {
  const auto key = std::make_pair(drive.model, drive.serial);
  if (const auto known = driveIds_.find(key); known != driveIds_.end()) return known->second;
  for (const char* sql : {kFindDrive, kAddDrive}) {
    if (sql == kAddDrive && !create) return std::nullopt;
    sqlite3_stmt* statement = Statement(sql);
    if (statement == nullptr) return std::nullopt;
    sqlite3_bind_text(statement, 1, drive.model.data(), static_cast<int>(drive.model.size()),
                      SQLITE_STATIC);
    sqlite3_bind_text(statement, 2, drive.serial.data(), static_cast<int>(drive.serial.size()),
                      SQLITE_STATIC);
    const int stepped = sqlite3_step(statement);
    const int64_t id =
        sql == kFindDrive ? sqlite3_column_int64(statement, 0) : sqlite3_last_insert_rowid(db_);
    sqlite3_reset(statement);
    if ((sql == kFindDrive && stepped == SQLITE_ROW) ||
        (sql == kAddDrive && stepped == SQLITE_DONE)) {
      driveIds_.emplace(key, id);
      return id;
    }
    if (stepped != SQLITE_DONE) return std::nullopt;
  }
  return std::nullopt;
}

bool HistoryStore::Insert(int64_t driveId, int64_t time, const HistorySample& sample) {
  sqlite3_stmt* statement = Statement(kInsertSample);
  if (statement == nullptr) return false;
  sqlite3_bind_int64(statement, 1, driveId);
  sqlite3_bind_int64(statement, 2, time);
  if (sample.temperature) sqlite3_bind_int(statement, 3, *sample.temperature);
  sqlite3_bind_int(statement, 4, sample.temperature ? 1 : 0);
  sqlite3_bind_int(statement, 5, static_cast<int>(sample.verdict));
  sqlite3_bind_int(statement, 6, sample.caution ? 1 : 0);
  sqlite3_bind_int(statement, 7, sample.asleep ? 1 : 0);
  BindOptional(statement, 8, sample.powerOnHours);
  for (size_t i = 0; i < sample.counters.size(); ++i) {
    BindOptional(statement, 9 + static_cast<int>(i), sample.counters[i]);
  }
  BindOptional(statement, 15, sample.percentageUsed);
  BindOptional(statement, 16, sample.availableSpare);
  BindOptional(statement, 17, sample.mediaErrors);
  const bool done = sqlite3_step(statement) == SQLITE_DONE;
  sqlite3_reset(statement);
  return done;
}

bool HistoryStore::Fold(int64_t now) {
  struct Step {
    HistorySpan from;
    HistorySpan to;
    int64_t keep;
  };
  constexpr Step kSteps[] = {
      {HistorySpan::Sample, HistorySpan::TenMinutes, kHistoryRawSeconds},
      {HistorySpan::TenMinutes, HistorySpan::Day, kHistoryTenMinuteSeconds},
  };
  for (const Step& step : kSteps) {
    const auto width = static_cast<int64_t>(step.to);
    // Whole spans only: a span still being filled waits for its last samples.
    const int64_t cutoff = (now - step.keep) / width * width;
    sqlite3_stmt* fold = Statement(kFold);
    if (fold == nullptr) return false;
    sqlite3_bind_int64(fold, 1, static_cast<int64_t>(step.from));
    sqlite3_bind_int64(fold, 2, width);
    sqlite3_bind_int64(fold, 3, cutoff);
    const bool folded = sqlite3_step(fold) == SQLITE_DONE;
    sqlite3_reset(fold);
    sqlite3_stmt* drop = folded ? Statement(kDropFolded) : nullptr;
    if (drop == nullptr) return false;
    sqlite3_bind_int64(drop, 1, static_cast<int64_t>(step.from));
    sqlite3_bind_int64(drop, 2, cutoff);
    const bool dropped = sqlite3_step(drop) == SQLITE_DONE;
    sqlite3_reset(drop);
    if (!dropped) return false;
  }
  return true;
}

std::optional<std::string> HistoryStore::Failed(const char* what) {
  std::string error = std::string("History not written (") + what + "): " + LastError();
  const int code = sqlite3_extended_errcode(db_);
  Execute("ROLLBACK");
  if (FileIsBad(code)) {
    // Damaged under the running program: stop writing; the next start sets the file aside.
    Close();
    error += "; history is not kept until the program starts again";
  }
  return error;
}

std::optional<std::string> HistoryStore::WritePass(std::span<const DriveSample> samples) {
  if (db_ == nullptr) return std::string("History is not kept");
  const int64_t now = clock_();
  if (!Execute("BEGIN IMMEDIATE")) return Failed("busy");
  for (const DriveSample& entry : samples) {
    const auto id = DriveId(entry.drive, true);
    if (!id || !Insert(*id, now, entry.sample)) {
      driveIds_.clear();  // an id added in the rolled-back transaction is gone
      return Failed("sample");
    }
  }
  if (now >= nextFold_) {
    if (!Fold(now)) return Failed("folding");
    nextFold_ = (now / kFoldEvery + 1) * kFoldEvery;
  }
  if (!Execute("COMMIT")) return Failed("commit");
  return std::nullopt;
}

std::vector<HistoryRow> HistoryStore::Rows(const HistoryDrive& drive, int64_t since,
                                           std::string* error) const {
  std::vector<HistoryRow> rows;
  if (db_ == nullptr) return rows;
  const auto id = DriveId(drive, false);
  if (!id) return rows;
  for (const HistorySpan span : {HistorySpan::Day, HistorySpan::TenMinutes, HistorySpan::Sample}) {
    sqlite3_stmt* statement = Statement(kSelectRows);
    if (statement == nullptr) break;
    sqlite3_bind_int64(statement, 1, *id);
    sqlite3_bind_int64(statement, 2, static_cast<int64_t>(span));
    // A folded row counts when its span ends after `since`, a sample when it is not before it.
    const auto width = static_cast<int64_t>(span);
    sqlite3_bind_int64(statement, 3, width == 0 ? since - 1 : since - width);
    int stepped = SQLITE_ROW;
    while ((stepped = sqlite3_step(statement)) == SQLITE_ROW) {
      HistoryRow row;
      row.time = sqlite3_column_int64(statement, 0);
      row.span = static_cast<HistorySpan>(sqlite3_column_int64(statement, 1));
      HistorySample& values = row.values;
      values.temperature = ColumnTemperature(statement, 2);
      if (row.span != HistorySpan::Sample) {
        row.lowest = ColumnTemperature(statement, 3);
        row.highest = ColumnTemperature(statement, 4);
      }
      values.verdict = VerdictFrom(sqlite3_column_int64(statement, 5));
      values.caution = sqlite3_column_int(statement, 6) != 0;
      values.asleep = sqlite3_column_int(statement, 7) != 0;
      values.powerOnHours = ColumnOptional(statement, 8);
      for (size_t i = 0; i < values.counters.size(); ++i) {
        values.counters[i] = ColumnOptional(statement, 9 + static_cast<int>(i));
      }
      values.percentageUsed = ColumnOptional(statement, 15);
      values.availableSpare = ColumnOptional(statement, 16);
      values.mediaErrors = ColumnOptional(statement, 17);
      rows.push_back(std::move(row));
    }
    sqlite3_reset(statement);
    if (stepped != SQLITE_DONE) {
      if (error != nullptr) *error = LastError();
      break;
    }
  }
  std::stable_sort(rows.begin(), rows.end(),
                   [](const HistoryRow& a, const HistoryRow& b) { return a.time < b.time; });
  return rows;
}

fs::path HistoryFilePath() {
  // The counters' state already has the right folder for each system.
  const fs::path counters = CounterStateFilePath();
  if (const char* appData = std::getenv("APPDATA"); appData && *appData)
    return counters.parent_path() / "Diskvigil-history.sqlite";
  return counters.parent_path() / "history.sqlite";
}

}  // namespace dv
