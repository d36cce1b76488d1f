#include "core/Monitor.h"

#include <array>

namespace dv {

std::string_view ActivityMark(int phase) {
  static constexpr std::array<std::string_view, 4> kMarks{"|", "/", "-", "\\"};
  const int index = ((phase % 4) + 4) % 4;
  return kMarks[static_cast<size_t>(index)];
}

PassOutcome Monitor::CheckHDDs(int selectedPosition, const Observer& observer) {
  PassOutcome outcome;
  for (int position = 1; position <= drives_.DriveCount; ++position) {
    PositionReading reading;
    reading.position = position;
    reading.monitored = drives_.At(position).SMARTEnabled;
    reading.shown = position == selectedPosition;
    if (reading.monitored) {
      reading.result = ReadSMART(system_, drives_, position, sectors_);
      if (!reading.result.Passed()) outcome.good = false;
    }
    if (observer) observer(reading, sectors_);
  }
  outcome.activityMark = ActivityMark(activityPhase_);
  activityPhase_ = (activityPhase_ + 1) % kActivityPhaseCount;
  return outcome;
}

}  // namespace dv
