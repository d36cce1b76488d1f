// The history's rows as text: the times, the fold names and the CSV that the command line and the
// History window both give.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "history/HistorySample.h"

namespace dv {

// "2026-12-08T01:00:00Z".
std::string HistoryTimeText(int64_t time);
// "10min", "day"; null for a sample.
const char* HistoryFoldedName(HistorySpan span);

template <typename T>
std::string HistoryValueText(const std::optional<T>& value) {
  return value ? std::to_string(*value) : "";
}

// A header line and one line per row, every column always, so a spreadsheet or a script finds
// each one at the same place.
std::string HistoryCsv(const std::vector<HistoryRow>& rows);

}  // namespace dv
