#include "core/PowerMode.h"

#include <algorithm>

#include "core/AtaLayout.h"
#include "core/Ioctl.h"

namespace dv {

PowerMode PowerModeFromSectorCount(uint8_t sectorCount) {
  switch (sectorCount) {
    case kPowerModeStandby:
    case kPowerModeStandbyFromPowerUp:
    case kPowerModeNvCacheSpunDown:
      return PowerMode::Standby;
    case kPowerModeIdle:
    case kPowerModeIdleA:
    case kPowerModeIdleB:
    case kPowerModeIdleC:
      return PowerMode::Idle;
    case kPowerModeNvCacheSpunUp:
    case kPowerModeActiveOrIdle:
      return PowerMode::Active;
    default:
      return PowerMode::Unknown;
  }
}

const char* PowerModeName(PowerMode mode) {
  switch (mode) {
    case PowerMode::Standby:
      return "standby";
    case PowerMode::Idle:
      return "idle";
    case PowerMode::Active:
      return "active";
    case PowerMode::Unknown:
      break;
  }
  return "unknown";
}

FreshOpenCommand PowerModeCommand(int driveNumber) {
  return {driveNumber, MakeAtaCommand(AtaCommand::CheckPowerMode, driveNumber),
          SendCondition::Always};
}

PowerMode PowerModeFromAnswer(const std::optional<ATACommandResult>& answer) {
  if (!answer || !answer->success) return PowerMode::Unknown;
  return PowerModeFromSectorCount(answer->current.sectorCount);
}

PowerMode ReadPowerMode(DriveSystem& system, int driveNumber) {
  const FreshOpenCommand command = PowerModeCommand(driveNumber);
  return PowerModeFromAnswer(SendATACommands(system, std::span(&command, 1)).front());
}

std::string AsleepText(std::optional<std::chrono::seconds> readingAge) {
  if (!readingAge) return "asleep, no reading yet";
  const long long seconds = std::max<long long>(0, readingAge->count());
  std::string age;
  if (seconds < 60) {
    age = std::to_string(seconds) + " s";
  } else if (seconds < 3600) {
    age = std::to_string(seconds / 60) + " min";
  } else {
    age = std::to_string(seconds / 3600) + " h";
    if (seconds % 3600 >= 60) age += " " + std::to_string(seconds % 3600 / 60) + " min";
  }
  return "asleep, reading " + age + " old";
}

}  // namespace dv
