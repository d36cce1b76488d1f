// One drive's state at one pass, as the history keeps it, and the rows the history gives back.
// Plain data: no drive access and no database here.
#pragma once

#include <array>
#include <cstdint>
#include <optional>
#include <string>

#include "core/Counters.h"

namespace dv {

// The drive's own verdict without the counters' caution, which is kept beside it. The numbers are
// what the history file stores: never renumber them.
enum class HistoryVerdict : int {
  Passed = 0,
  Failed = 1,
  SmartOff = 2,
  Unknown = 3,  // no verdict: the drive did not answer
};

// "passed", "failed", "smartOff", "unknown". Here rather than beside the store, so that the
// window program's history window links where the store (SQLite) is not built: Windows.
inline const char* HistoryVerdictName(HistoryVerdict verdict) {
  switch (verdict) {
    case HistoryVerdict::Passed:
      return "passed";
    case HistoryVerdict::Failed:
      return "failed";
    case HistoryVerdict::SmartOff:
      return "smartOff";
    case HistoryVerdict::Unknown:
      break;
  }
  return "unknown";
}

struct HistorySample {
  std::optional<int> temperature;  // degrees Celsius; none when not read (asleep, a failed read)
  HistoryVerdict verdict = HistoryVerdict::Unknown;
  bool caution = false;  // a watched counter rose
  bool asleep = false;   // left in standby by the pass, nothing read
  std::optional<uint64_t> powerOnHours;
  // The watched counters' raw values, in the order of kWatchedCounterIds.
  std::array<std::optional<uint64_t>, kWatchedCounterIds.size()> counters{};
  // NVMe drives, from the health log.
  std::optional<uint64_t> percentageUsed;
  std::optional<uint64_t> availableSpare;
  std::optional<uint64_t> mediaErrors;

  bool operator==(const HistorySample&) const = default;
};

// A drive as the history knows it: its own model and serial bytes.
struct HistoryDrive {
  std::string model;
  std::string serial;
};

struct DriveSample {
  HistoryDrive drive;
  HistorySample sample;
};

// Raw samples are kept as they were taken; older ones are folded into rows of these spans.
enum class HistorySpan : int64_t { Sample = 0, TenMinutes = 600, Day = 86400 };

struct HistoryRow {
  int64_t time = 0;  // Unix seconds, UTC; a folded row starts at its span's start
  HistorySpan span = HistorySpan::Sample;
  // The values of the row: for a folded row the temperature is the rounded mean, the counters,
  // the verdict and the power-on hours the last ones read, caution and asleep whether any sample
  // had them.
  HistorySample values;
  std::optional<int> lowest;  // folded rows: the temperature's range over the span
  std::optional<int> highest;
};

}  // namespace dv
