#include "history/HistoryText.h"

#include <ctime>

namespace dv {

std::string HistoryTimeText(int64_t time) {
  const auto seconds = static_cast<std::time_t>(time);
  std::tm fields{};
  gmtime_r(&seconds, &fields);
  char text[32];
  const size_t length = std::strftime(text, sizeof text, "%Y-%m-%dT%H:%M:%SZ", &fields);
  return std::string(text, length);
}

const char* HistoryFoldedName(HistorySpan span) {
  switch (span) {
    case HistorySpan::TenMinutes:
      return "10min";
    case HistorySpan::Day:
      return "day";
    case HistorySpan::Sample:
      break;
  }
  return nullptr;
}

std::string HistoryCsv(const std::vector<HistoryRow>& rows) {
  std::string text = "time,folded,temperature,min,max,verdict,caution,asleep,powerOnHours";
  for (const uint8_t id : kWatchedCounterIds) text += ",counter" + std::to_string(id);
  text += ",percentageUsed,availableSpare,mediaErrors\n";
  for (const HistoryRow& row : rows) {
    const HistorySample& v = row.values;
    const char* folded = HistoryFoldedName(row.span);
    text += HistoryTimeText(row.time) + "," + (folded != nullptr ? folded : "") + "," +
            HistoryValueText(v.temperature) + "," + HistoryValueText(row.lowest) + "," +
            HistoryValueText(row.highest) + "," + HistoryVerdictName(v.verdict) + "," +
            (v.caution ? "1" : "0") + "," + (v.asleep ? "1" : "0") + "," +
            HistoryValueText(v.powerOnHours);
    for (const auto& counter : v.counters) text += "," + HistoryValueText(counter);
    text += "," + HistoryValueText(v.percentageUsed) + "," + HistoryValueText(v.availableSpare) +
            "," + HistoryValueText(v.mediaErrors) + "\n";
  }
  return text;
}

}  // namespace dv
