// The drive side of the monitoring pass: read every listed drive with S.M.A.R.T. on, judge the
// pass, turn the activity mark. What a bad pass sets off (sound, balloon, mail) and how each
// position is shown is the caller's, through the observer.
#pragma once

#include <array>
#include <chrono>
#include <functional>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "core/Drive.h"
#include "core/DriveSystem.h"
#include "core/PowerMode.h"
#include "core/SmartData.h"

namespace dv {

// What the pass learned about one listed position, handed to the observer right after its reading
// is taken, while the sectors still hold that drive's data.
struct PositionReading {
  int position = 0;
  bool monitored = false;  // S.M.A.R.T. on: it was read and counts for the pass
  bool shown = false;      // the selected position: its labels and rows are to be rewritten
  ReadSmartResult result;
  // In standby and left asleep (only when sleeping drives are skipped): nothing was read, the
  // sectors do not hold this drive's data and the Drive record keeps its last reading.
  bool asleep = false;
  PowerMode powerMode = PowerMode::Unknown;        // asked only when sleeping drives are skipped
  std::optional<std::chrono::seconds> readingAge;  // of the last reading, when asleep
};

struct PassOutcome {
  bool good = true;
  std::string_view activityMark;  // the mark for this pass
};

inline constexpr int kActivityPhaseCount = 8;

// "|", "/", "-", "\" for phases 0..3 and again for 4..7.
std::string_view ActivityMark(int phase);

class Monitor {
 public:
  using Observer = std::function<void(const PositionReading&, const SmartSectors&)>;
  using Clock = std::function<std::chrono::steady_clock::time_point()>;

  Monitor(DriveSystem& system, DriveTable& drives, SmartSectors& sectors, Clock clock = {})
      : system_(system), drives_(drives), sectors_(sectors), clock_(std::move(clock)) {}

  // Off by default. When on, each monitored drive is first asked for its power mode, and one in
  // standby is not read: it keeps its last reading, whose verdict still counts for the pass. A
  // drive that does not answer the question is read as before.
  void SetSkipSleepingDrives(bool on) { skipSleeping_ = on; }
  bool SkipSleepingDrives() const { return skipSleeping_; }

  // One pass over positions 1..DriveCount in order. `selectedPosition` is 0 when nothing is
  // selected. Every monitored position is read whatever the ones before it gave; the pass is bad
  // when any of those reads does not pass.
  PassOutcome CheckHDDs(int selectedPosition, const Observer& observer = {});

  int ActivityPhase() const { return activityPhase_; }

 private:
  DriveSystem& system_;
  DriveTable& drives_;
  SmartSectors& sectors_;
  int activityPhase_ = 0;  // kept across passes and enumerations
  Clock clock_;
  bool skipSleeping_ = false;

  // The last reading of each position, tied to the drive that gave it, so a new enumeration that
  // puts another drive at the position does not lend it an old reading.
  struct LastReading {
    int driveNumber = -1;
    std::string serialNumber;
    std::chrono::steady_clock::time_point at;
    bool passed = true;
  };
  std::array<std::optional<LastReading>, kMaxDrives> lastReadings_{};
  // Kept from pass to pass so that their room serves again.
  std::vector<FreshOpenCommand> commands_;
  std::vector<std::optional<ATACommandResult>> answers_;

  std::chrono::steady_clock::time_point Now() const;
  void AskPowerModes(std::span<PositionReading> readings);
  void ListReads(std::span<const PositionReading> readings);
  const LastReading* LastReadingOf(int position) const;
};

}  // namespace dv
