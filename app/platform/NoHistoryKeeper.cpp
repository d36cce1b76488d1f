// Builds without the history library: "Keep History" keeps nothing and says so.
#include "app/HistoryKeeper.h"

namespace dv {

struct HistoryKeeper::Store {};

std::filesystem::path DefaultHistoryPath() { return {}; }

HistoryKeeper::HistoryKeeper(std::filesystem::path path) : path_(std::move(path)) {}
HistoryKeeper::~HistoryKeeper() = default;

bool HistoryKeeper::On() const { return false; }

std::string HistoryKeeper::Switch(bool on) { return on ? "History is not kept by this build" : ""; }

void HistoryKeeper::Take(const DriveTable&, const PositionReading&, const SmartSectors&, bool) {}

std::optional<std::string> HistoryKeeper::WritePass() { return std::nullopt; }

std::vector<HistoryRow> HistoryKeeper::Rows(const HistoryDrive&, int64_t) const { return {}; }

std::string HistoryKeeper::Csv(const std::vector<HistoryRow>&) const { return {}; }

}  // namespace dv
