// Automatic Acoustic Management and Advanced Power Management: reading the two feature levels
// from IDENTIFY DEVICE and setting them with SET FEATURES. One open and close per command.
#pragma once

#include <cstdint>

#include "core/Ioctl.h"

namespace dv {

class DriveSystem;

enum class DriveFeature { AAM, APM };

// The result of one read. Levels read 255 when the read did not succeed.
struct FeatureState {
  uint8_t CurrentLevel = 255;
  uint8_t RecommendedLevel = 255;
  bool Enabled = false;
  bool Supported = false;

  bool operator==(const FeatureState&) const = default;
};

// Never fails outward: a drive that cannot be opened or refuses IDENTIFY gives the defaults.
FeatureState ReadFeature(DriveSystem& system, int driveNumber, DriveFeature feature);
FeatureState ReadAAM(DriveSystem& system, int driveNumber);
FeatureState ReadAPM(DriveSystem& system, int driveNumber);

// True exactly when the platform accepted the SET FEATURES request; the returned status is not
// judged. `enable` picks the enable subcommand (with `level`) or the disable one.
bool SetFeature(DriveSystem& system, int driveNumber, DriveFeature feature, uint8_t level,
                bool enable);
bool SetAAM(DriveSystem& system, int driveNumber, uint8_t level, bool enable);
// The same exchange with everything that came back, for callers that also want to know whether
// the drive itself aborted the command (ERR). A drive that cannot be opened gives a result whose
// callSucceeded is false.
ATACommandResult SetFeatureExchange(DriveSystem& system, int driveNumber, DriveFeature feature,
                                    uint8_t level, bool enable);
bool SetAPM(DriveSystem& system, int driveNumber, uint8_t level, bool enable);

// Whether a level is shown as a number: AAM hides 255, APM hides 255 and 0 ("...").
bool FeatureLevelShown(DriveFeature feature, uint8_t level);

}  // namespace dv
