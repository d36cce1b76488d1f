// The state behind "Keep History": while it is on, the history file open and each pass's readings
// written to it in one transaction; the History window reads its rows from here. Builds without
// the history library keep nothing and say so.
#pragma once

#include <cstdint>
#include <filesystem>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "core/Drive.h"
#include "history/HistorySample.h"

namespace dv {

struct PositionReading;
struct SmartSectors;

// The user's history file; empty where no history can be kept.
std::filesystem::path DefaultHistoryPath();

class HistoryKeeper {
 public:
  explicit HistoryKeeper(std::filesystem::path path);
  ~HistoryKeeper();

  bool On() const;
  // Opens the file (on) or closes it (off). A note for the status bar, empty for none.
  std::string Switch(bool on);
  // During a pass: the reading of one position.
  void Take(const DriveTable& drives, const PositionReading& reading, const SmartSectors& sectors,
            bool caution);
  // After the pass: what it took, in one transaction. The error text when it was not written.
  std::optional<std::string> WritePass();
  // One drive's rows from `since` (Unix seconds) on, read from the file whether or not the
  // setting is on.
  std::vector<HistoryRow> Rows(const HistoryDrive& drive, int64_t since) const;
  // The rows as the command line's CSV.
  std::string Csv(const std::vector<HistoryRow>& rows) const;

 private:
  struct Store;
  std::filesystem::path path_;
  std::unique_ptr<Store> store_;  // while on
};

}  // namespace dv
