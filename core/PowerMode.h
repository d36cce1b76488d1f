// The drive's power state as CHECK POWER MODE reports it, asked without spinning the drive up, and
// the short text a drive that was left asleep is shown with.
#pragma once

#include <chrono>
#include <cstdint>
#include <optional>
#include <string>

#include "core/DriveSystem.h"
#include "core/Ioctl.h"

namespace dv {

enum class PowerMode {
  Unknown,  // no answer: the drive does not know the command, or it could not be opened
  Standby,  // spun down
  Idle,
  Active,  // active or idle
};

// The returned Sector Count of CHECK POWER MODE: 00h (and the standby and NV-cache spun-down
// variants 01h, 40h) standby, 80h to 83h idle, FFh active or idle; anything else is Unknown.
PowerMode PowerModeFromSectorCount(uint8_t sectorCount);

// "unknown", "standby", "idle", "active".
const char* PowerModeName(PowerMode mode);

// Opens drive N, sends CHECK POWER MODE and closes it.
PowerMode ReadPowerMode(DriveSystem& system, int driveNumber);
// The same question as one command of a batch (SendATACommands), and what its answer says.
FreshOpenCommand PowerModeCommand(int driveNumber);
PowerMode PowerModeFromAnswer(const std::optional<ATACommandResult>& answer);

// "asleep, reading 5 min old"; "asleep, no reading yet" when the drive was never read.
std::string AsleepText(std::optional<std::chrono::seconds> readingAge);

}  // namespace dv
