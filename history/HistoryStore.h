// Each drive's history in one SQLite file: every sample of the last two days, ten-minute rows up
// to ninety days, a row a day after that. All the drives of a pass go in one transaction, so a
// process killed at any moment loses at most the pass it was writing.
//
// A file that cannot be used (not a database, damaged, written by a newer program) is moved aside
// to "<name>.bad" and a new one is started; a file this user may not write is left alone. Either
// way the caller gets a note and goes on, with or without history: the store never throws.
#pragma once

#include <chrono>
#include <cstdint>
#include <filesystem>
#include <functional>
#include <map>
#include <memory>
#include <optional>
#include <span>
#include <string>
#include <vector>

#include "history/HistorySample.h"

struct sqlite3;
struct sqlite3_stmt;

namespace dv {

// The schema this program writes. A file of a newer one is not touched.
inline constexpr int kHistorySchemaVersion = 1;
// Every sample is kept this long, then folded into ten-minute rows.
inline constexpr int64_t kHistoryRawSeconds = 48 * 60 * 60;
// Ten-minute rows are kept this long, then folded into daily rows, which are kept for ever.
inline constexpr int64_t kHistoryTenMinuteSeconds = 90 * 24 * 60 * 60;
// How long a pass waits for another program writing the same file before it skips its write.
inline constexpr int kHistoryBusyTimeoutMs = 1000;

// Unix seconds, UTC.
using HistoryClock = std::function<int64_t()>;
int64_t HistoryWallClock();

class HistoryStore {
 public:
  enum class Mode { ReadWrite, ReadOnly };

  // Opens the file, making it (and its folder) when missing in ReadWrite mode. `note` says why a
  // file was set aside or why there is no history; the store is then closed (IsOpen false) unless
  // a new file could be started.
  HistoryStore(std::filesystem::path path, Mode mode, HistoryClock clock = HistoryWallClock);
  ~HistoryStore();
  HistoryStore(const HistoryStore&) = delete;
  HistoryStore& operator=(const HistoryStore&) = delete;

  bool IsOpen() const { return db_ != nullptr; }
  const std::optional<std::string>& Note() const { return note_; }
  const std::filesystem::path& Path() const { return path_; }

  // One pass: every drive's sample at the clock's time, and the folding that is due, in one
  // transaction. The error text when nothing was written (busy beyond the time-out, disk full).
  std::optional<std::string> WritePass(std::span<const DriveSample> samples);

  // The rows of one drive from `since` on (a folded row when its span ends after it), oldest
  // first; empty for a drive not
  // known. The error text in `error` when the file could not be read.
  std::vector<HistoryRow> Rows(const HistoryDrive& drive, int64_t since,
                               std::string* error = nullptr) const;

 private:
  struct Finalize {
    void operator()(sqlite3_stmt* statement) const;
  };
  using StatementPtr = std::unique_ptr<sqlite3_stmt, Finalize>;

  void Open(bool afterSettingAside);
  std::optional<std::string> Prepare();
  void SetAside(const std::string& why);
  void Close();
  sqlite3_stmt* Statement(const char* sql) const;
  bool Execute(const char* sql) const;
  std::string LastError() const;
  std::optional<int64_t> DriveId(const HistoryDrive& drive, bool create) const;
  bool Insert(int64_t driveId, int64_t time, const HistorySample& sample);
  bool Fold(int64_t now);
  std::optional<std::string> Failed(const char* what);

  std::filesystem::path path_;
  Mode mode_;
  HistoryClock clock_;
  sqlite3* db_ = nullptr;
  std::optional<std::string> note_;
  bool fileIsBad_ = false;  // Prepare found the file unusable by anyone, not only now or by us
  mutable std::map<const char*, StatementPtr> statements_;  // by their SQL text's address
  mutable std::map<std::pair<std::string, std::string>, int64_t> driveIds_;
  int64_t nextFold_ = 0;  // the folding is looked at once every ten minutes
};

// The store's file: $XDG_STATE_HOME/diskvigil/history.sqlite (~/.local/state when unset), or
// beside the settings file as "Diskvigil-history.sqlite" where APPDATA is set.
std::filesystem::path HistoryFilePath();

}  // namespace dv
