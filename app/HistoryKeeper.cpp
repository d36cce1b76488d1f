#include "app/HistoryKeeper.h"

#include "history/HistoryStore.h"
#include "history/HistoryText.h"
#include "history/PassSamples.h"

namespace dv {

struct HistoryKeeper::Store {
  explicit Store(const std::filesystem::path& path) : file(path, HistoryStore::Mode::ReadWrite) {}
  HistoryStore file;
  PassSamples pass;
};

std::filesystem::path DefaultHistoryPath() { return HistoryFilePath(); }

HistoryKeeper::HistoryKeeper(std::filesystem::path path) : path_(std::move(path)) {}
HistoryKeeper::~HistoryKeeper() = default;

bool HistoryKeeper::On() const { return store_ != nullptr; }

std::string HistoryKeeper::Switch(bool on) {
  if (!on || path_.empty()) {
    store_.reset();
    return on ? "History is not kept: no place for its file" : "";
  }
  if (store_) return "";
  store_ = std::make_unique<Store>(path_);
  const std::string note = store_->file.Note().value_or("");
  if (!store_->file.IsOpen()) store_.reset();
  return note;
}

void HistoryKeeper::Take(const DriveTable& drives, const PositionReading& reading,
                         const SmartSectors& sectors, bool caution) {
  if (store_) store_->pass.Take(drives, reading, sectors, caution);
}

std::optional<std::string> HistoryKeeper::WritePass() {
  if (!store_) return std::nullopt;
  return store_->pass.WritePass(store_->file);
}

std::vector<HistoryRow> HistoryKeeper::Rows(const HistoryDrive& drive, int64_t since) const {
  if (store_) return store_->file.Rows(drive, since);
  const HistoryStore reader(path_, HistoryStore::Mode::ReadOnly);
  return reader.Rows(drive, since);
}

std::string HistoryKeeper::Csv(const std::vector<HistoryRow>& rows) const {
  return HistoryCsv(rows);
}

}  // namespace dv
