// The drive side of the monitoring pass: read every listed drive with S.M.A.R.T. on, judge the
// pass, turn the activity mark. What a bad pass sets off (sound, balloon, mail) and how each
// position is shown is the caller's, through the observer.
#pragma once

#include <functional>
#include <string_view>

#include "core/Drive.h"
#include "core/DriveSystem.h"
#include "core/SmartData.h"

namespace dv {

// What the pass learned about one listed position, handed to the observer right after its read,
// while the sectors still hold that drive's data.
struct PositionReading {
  int position = 0;
  bool monitored = false;  // S.M.A.R.T. on: it was read and counts for the pass
  bool shown = false;      // the selected position: its labels and rows are to be rewritten
  ReadSmartResult result;
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

  Monitor(DriveSystem& system, DriveTable& drives, SmartSectors& sectors)
      : system_(system), drives_(drives), sectors_(sectors) {}

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
};

}  // namespace dv
