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
  std::array<PositionReading, kMaxDrives> readings{};
  for (int position = 1; position <= drives_.DriveCount; ++position) {
    PositionReading& reading = readings[static_cast<size_t>(position - 1)];
    reading.position = position;
    reading.monitored = drives_.At(position).SMARTEnabled;
    reading.shown = position == selectedPosition;
  }
  // Every drive is asked before any is read, and the awake ATA drives are then read in one batch:
  // through the drive helper a pass is two round trips, whatever the number of drives.
  if (skipSleeping_) AskPowerModes(readings);
  ListReads(readings);
  SendATACommands(system_, commands_, answers_);
  const std::vector<std::optional<ATACommandResult>>& reads = answers_;
  size_t nextRead = 0;
  for (int position = 1; position <= drives_.DriveCount; ++position) {
    PositionReading& reading = readings[static_cast<size_t>(position - 1)];
    if (reading.asleep) {
      if (const LastReading* last = LastReadingOf(position)) {
        reading.readingAge = std::chrono::duration_cast<std::chrono::seconds>(Now() - last->at);
        if (!last->passed) outcome.good = false;
      }
    } else if (reading.monitored) {
      Drive& drive = drives_.At(position);
      if (drive.IsNvme()) {
        reading.result = ReadSMART(system_, drives_, position, sectors_);
      } else {
        reading.result =
            TakeSmartReads(drive,
                           std::span<const std::optional<ATACommandResult>, kSmartReadCount>(
                               reads.data() + nextRead, kSmartReadCount),
                           sectors_);
        nextRead += kSmartReadCount;
      }
      if (!reading.result.Passed()) outcome.good = false;
      // Field by field: the serial number's room is used again.
      auto& last = lastReadings_[static_cast<size_t>(position - 1)];
      if (!last) last = LastReading{};
      last->driveNumber = drive.DriveNumber;
      last->serialNumber = drive.SerialNumber;
      last->at = Now();
      last->passed = reading.result.Passed();
    }
    if (observer) observer(reading, sectors_);
  }
  outcome.activityMark = ActivityMark(activityPhase_);
  activityPhase_ = (activityPhase_ + 1) % kActivityPhaseCount;
  return outcome;
}

// The standby question is an ATA command; an NVMe drive keeps its own power states.
void Monitor::AskPowerModes(std::span<PositionReading> readings) {
  commands_.clear();
  std::array<PositionReading*, kMaxDrives> asked{};
  size_t askedCount = 0;
  for (PositionReading& reading : readings.first(static_cast<size_t>(drives_.DriveCount))) {
    const Drive& drive = drives_.At(reading.position);
    if (!reading.monitored || drive.IsNvme()) continue;
    commands_.push_back(PowerModeCommand(drive.DriveNumber));
    asked[askedCount++] = &reading;
  }
  SendATACommands(system_, commands_, answers_);
  for (size_t i = 0; i < askedCount; ++i) {
    asked[i]->powerMode = PowerModeFromAnswer(answers_[i]);
    asked[i]->asleep = asked[i]->powerMode == PowerMode::Standby;
  }
}

void Monitor::ListReads(std::span<const PositionReading> readings) {
  commands_.clear();
  for (const PositionReading& reading : readings.first(static_cast<size_t>(drives_.DriveCount))) {
    const Drive& drive = drives_.At(reading.position);
    if (!reading.monitored || reading.asleep || drive.IsNvme()) continue;
    const auto each = SmartReadCommands(drive.DriveNumber);
    commands_.insert(commands_.end(), each.begin(), each.end());
  }
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
