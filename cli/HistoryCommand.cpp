// `diskvigil-cli history`: the rows the history keeps of drive POS, oldest first, as a table, JSON
// or CSV; and the history `monitor --history` writes.
#include <charconv>
#include <ctime>
#include <ostream>

#include "cli/Arguments.h"
#include "cli/CliSupport.h"
#include "cli/MonitorHistory.h"
#include "cli/SmartOutput.h"
#include "history/HistoryStore.h"
#include "history/HistoryText.h"
#include "history/PassSamples.h"

namespace dv::cli {
namespace {

class StoreHistory : public MonitorHistory {
 public:
  explicit StoreHistory(CliContext& ctx)
      : store_(HistoryFilePath(), HistoryStore::Mode::ReadWrite) {
    if (store_.Note()) ctx.err << *store_.Note() << "\n";
  }
  bool IsOpen() const { return store_.IsOpen(); }
  void Take(const DriveTable& table, const PositionReading& reading, const SmartSectors& sectors,
            std::optional<bool> caution) override {
    pass_.Take(table, reading, sectors, caution);
  }
  std::optional<std::string> WritePass() override { return pass_.WritePass(store_); }

 private:
  HistoryStore store_;
  PassSamples pass_;
};

// "90s", "30m", "24h", "7d", "2w" in seconds; nothing for anything else.
std::optional<int64_t> ParseDuration(const std::string& text) {
  int64_t count = 0;
  const auto [end, error] = std::from_chars(text.data(), text.data() + text.size(), count);
  if (error != std::errc() || count < 0 || end + 1 != text.data() + text.size())
    return std::nullopt;
  constexpr int64_t kLongest = int64_t{100} * 366 * 86400;
  const int64_t unit = *end == 's'   ? 1
                       : *end == 'm' ? 60
                       : *end == 'h' ? 3600
                       : *end == 'd' ? 86400
                       : *end == 'w' ? 7 * 86400
                                     : 0;
  if (unit == 0 || count > kLongest / unit) return std::nullopt;
  return count * unit;
}

template <typename T>
OrderedJson JsonOf(const std::optional<T>& value) {
  return value ? OrderedJson(*value) : OrderedJson();
}

OrderedJson RowJson(const HistoryRow& row) {
  const HistorySample& v = row.values;
  OrderedJson counters = OrderedJson::object();
  for (size_t i = 0; i < kWatchedCounterIds.size(); ++i) {
    if (v.counters[i]) counters[std::to_string(kWatchedCounterIds[i])] = *v.counters[i];
  }
  const char* folded = HistoryFoldedName(row.span);
  OrderedJson json{{"time", HistoryTimeText(row.time)},
                   {"temperature", JsonOf(v.temperature)},
                   {"verdict", HistoryVerdictName(v.verdict)},
                   {"caution", v.caution},
                   {"asleep", v.asleep},
                   {"powerOnHours", JsonOf(v.powerOnHours)},
                   {"counters", counters},
                   {"folded", folded != nullptr ? OrderedJson(folded) : OrderedJson()},
                   {"min", JsonOf(row.lowest)},
                   {"max", JsonOf(row.highest)}};
  if (v.percentageUsed) json["percentageUsed"] = *v.percentageUsed;
  if (v.availableSpare) json["availableSpare"] = *v.availableSpare;
  if (v.mediaErrors) json["mediaErrors"] = *v.mediaErrors;
  return json;
}

std::string Table(const std::vector<HistoryRow>& rows) {
  std::vector<std::vector<std::string>> cells;
  for (const HistoryRow& row : rows) {
    const HistorySample& v = row.values;
    std::string counters;
    const auto add = [&](const std::string& name, const std::optional<uint64_t>& value) {
      if (value) counters += (counters.empty() ? "" : " ") + name + "=" + std::to_string(*value);
    };
    for (size_t i = 0; i < kWatchedCounterIds.size(); ++i) {
      add(std::to_string(kWatchedCounterIds[i]), v.counters[i]);
    }
    add("used%", v.percentageUsed);
    add("spare%", v.availableSpare);
    add("media errors", v.mediaErrors);
    const char* folded = HistoryFoldedName(row.span);
    const std::string range =
        row.lowest ? HistoryValueText(row.lowest) + ".." + HistoryValueText(row.highest) : "";
    std::string state = HistoryVerdictName(v.verdict);
    if (v.caution) state += ", caution";
    if (v.asleep) state += ", asleep";
    cells.push_back({HistoryTimeText(row.time), folded != nullptr ? folded : "",
                     HistoryValueText(v.temperature), range, state,
                     HistoryValueText(v.powerOnHours), counters});
  }
  return FormatTextTable({{"Time (UTC)"},
                          {"Folded"},
                          {"Temp C", true},
                          {"Range"},
                          {"Verdict"},
                          {"Hours", true},
                          {"Counters"}},
                         cells);
}

}  // namespace

std::unique_ptr<MonitorHistory> OpenMonitorHistory(CliContext& ctx) {
  auto history = std::make_unique<StoreHistory>(ctx);
  if (!history->IsOpen()) return nullptr;
  return history;
}

int RunHistory(CliContext& ctx) {
  const auto words = ParseArguments(ctx, Position::Needed, {ValueOption("--since"), Flag("--csv")});
  if (!words) return kExitUsage;
  std::optional<int64_t> since;
  if (const auto text = words->Value("--since")) {
    since = ParseDuration(*text);
    if (!since) {
      ctx.err << "--since needs a length of time such as 90m, 24h, 7d or 2w\n";
      return kExitUsage;
    }
  }
  if (ctx.json && words->Has("--csv")) {
    ctx.err << "history prints either --json or --csv\n";
    return kExitUsage;
  }
  DriveTable table;
  const auto position = ProbeListedPosition(ctx, table, words->position);
  if (!position) return kExitFailure;
  const Drive& drive = table.At(*position);

  const HistoryStore store(HistoryFilePath(), HistoryStore::Mode::ReadOnly);
  if (store.Note()) {
    ctx.err << *store.Note() << "\n";
    return kExitFailure;
  }
  std::string error;
  const auto rows = store.Rows({drive.ModelNumber, drive.SerialNumber},
                               since ? HistoryWallClock() - *since : 0, &error);
  if (!error.empty()) {
    ctx.err << "The history file " << store.Path().string() << " could not be read: " << error
            << "\n";
    return kExitFailure;
  }
  if (ctx.json) {
    OrderedJson list = OrderedJson::array();
    for (const HistoryRow& row : rows) list.push_back(RowJson(row));
    ctx.out << DumpOrdered({{"rows", list}}, 2);
  } else if (words->Has("--csv")) {
    ctx.out << HistoryCsv(rows);
  } else if (rows.empty()) {
    ctx.out << "No history kept of drive " << *position << "\n";
  } else {
    ctx.out << Table(rows);
  }
  return kExitOk;
}

}  // namespace dv::cli
