// The state behind the main window's "Counter Warnings" box: while it is on, the watch over the
// counters that predict failure and the rises standing for each list position. No widgets: the
// window asks it and shows the answers.
#pragma once

#include <array>
#include <cstdint>
#include <filesystem>
#include <memory>
#include <optional>
#include <set>
#include <string>
#include <vector>

#include "core/Counters.h"
#include "core/Drive.h"

namespace dv {

struct PositionReading;
struct SmartSectors;

class CounterWarnings {
 public:
  // `statePath`: the counters' state file; empty keeps their last values in memory only.
  explicit CounterWarnings(std::filesystem::path statePath);
  ~CounterWarnings();

  bool On() const { return watch_ != nullptr; }
  // Turns the warnings on (loading the state file; what it holds for the listed drives stands at
  // once) or off (nothing stands). The notes for the status bar joined by "; ", empty for none.
  std::string Switch(bool on, const DriveTable& drives);
  // After a position's reading in a pass: what stands for it now. Rises this reading found are
  // added to `told` as "HDD<k> <model>: <rise>", each once.
  void Watch(const PositionReading& reading, const SmartSectors& sectors, const DriveTable& drives,
             std::vector<std::string>& told);
  // Writes the state when on and changed; the error text when it cannot be written.
  std::optional<std::string> Save();

  const std::vector<CounterRise>& CautionOf(int position) const;
  bool Caution(int position) const { return !CautionOf(position).empty(); }
  // The attribute IDs of the rises standing for a position.
  std::set<uint8_t> CautionIds(int position) const;

 private:
  std::vector<CounterRise>& Standing(int position);

  std::filesystem::path statePath_;
  std::unique_ptr<CounterWatch> watch_;  // while on
  std::array<std::vector<CounterRise>, kMaxDrives> caution_{};
};

}  // namespace dv
