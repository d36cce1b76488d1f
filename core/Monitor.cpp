#include "core/Monitor.h"

#include <array>

#include "core/PowerMode.h"

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
    // The standby question is an ATA command; an NVMe drive keeps its own power states.
    if (reading.monitored && skipSleeping_ && !drives_.At(position).IsNvme()) {
      const Drive& drive = drives_.At(position);
      reading.powerMode = ReadPowerMode(system_, drive.DriveNumber);
      reading.asleep = reading.powerMode == PowerMode::Standby;
    }
    if (reading.asleep) {
      if (const LastReading* last = LastReadingOf(position)) {
        reading.readingAge = std::chrono::duration_cast<std::chrono::seconds>(Now() - last->at);
        if (!last->passed) outcome.good = false;
      }
    } else if (reading.monitored) {
      reading.result = ReadSMART(system_, drives_, position, sectors_);
      if (!reading.result.Passed()) outcome.good = false;
      const Drive& drive = drives_.At(position);
      lastReadings_[static_cast<size_t>(position - 1)] =
          LastReading{drive.DriveNumber, drive.SerialNumber, Now(), reading.result.Passed()};
    }
    if (observer) observer(reading, sectors_);
  }
  outcome.activityMark = ActivityMark(activityPhase_);
  activityPhase_ = (activityPhase_ + 1) % kActivityPhaseCount;
  return outcome;
}

std::chrono::steady_clock::time_point Monitor::Now() const {
  return clock_ ? clock_() : std::chrono::steady_clock::now();
}

const Monitor::LastReading* Monitor::LastReadingOf(int position) const {
  const auto& last = lastReadings_[static_cast<size_t>(position - 1)];
  const Drive& drive = drives_.At(position);
  if (!last || last->driveNumber != drive.DriveNumber || last->serialNumber != drive.SerialNumber) {
    return nullptr;
  }
  return &*last;
}

}  // namespace dv
