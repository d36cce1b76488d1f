#include "core/AamApm.h"

#include "core/AtaLayout.h"
#include "core/Ioctl.h"
#include "core/LittleEndian.h"

namespace dv {
namespace {

struct FeatureCodes {
  uint16_t bit;        // in words 83 (supported) and 86 (enabled)
  size_t levelWord;    // current level in bits 7..0, recommended in bits 15..8
  uint8_t enableCode;  // SET FEATURES subcommand, the level in Sector Count
  uint8_t disableCode;
};

constexpr FeatureCodes kAam{kIdBitAam, kIdWordAamLevel, kSetFeaturesEnableAam,
                            kSetFeaturesDisableAam};
constexpr FeatureCodes kApm{kIdBitApm, kIdWordApmLevel, kSetFeaturesEnableApm,
                            kSetFeaturesDisableApm};

const FeatureCodes& CodesFor(DriveFeature feature) {
  return feature == DriveFeature::AAM ? kAam : kApm;
}

}  // namespace

FeatureState ReadFeature(DriveSystem& system, int driveNumber, DriveFeature feature) {
  FeatureState state;
  DriveHandlePtr handle = OpenDrive(system, driveNumber);
  if (!handle) return state;
  const ATACommandResult result =
      SendATACommand(*handle, MakeAtaCommand(AtaCommand::Identify, driveNumber));
  // Only the platform call decides; the returned status is not looked at.
  if (!result.callSucceeded) return state;
  const FeatureCodes& codes = CodesFor(feature);
  const std::span<const uint8_t> identify(result.data);
  state.Supported = (Word(identify, kIdWordFeaturesSupported2) & codes.bit) != 0;
  state.Enabled = (Word(identify, kIdWordFeaturesEnabled2) & codes.bit) != 0;
  const uint16_t level = Word(identify, codes.levelWord);
  state.CurrentLevel = static_cast<uint8_t>(level & 0xFF);
  state.RecommendedLevel = static_cast<uint8_t>(level >> 8);
  return state;
}

FeatureState ReadAAM(DriveSystem& system, int n) {
  return ReadFeature(system, n, DriveFeature::AAM);
}

FeatureState ReadAPM(DriveSystem& system, int n) {
  return ReadFeature(system, n, DriveFeature::APM);
}

ATACommandResult SetFeatureExchange(DriveSystem& system, int driveNumber, DriveFeature feature,
                                    uint8_t level, bool enable) {
  DriveHandlePtr handle = OpenDrive(system, driveNumber);
  if (!handle) return {};
  const FeatureCodes& codes = CodesFor(feature);
  const uint8_t subcommand = enable ? codes.enableCode : codes.disableCode;
  const ATACommandResult result =
      SendATACommand(*handle, MakeSetFeatures(driveNumber, subcommand, level));
  return handle->OpenFailed() ? ATACommandResult{} : result;
}

// The returned status is not judged: a drive that aborts still counts as accepted.
bool SetFeature(DriveSystem& system, int driveNumber, DriveFeature feature, uint8_t level,
                bool enable) {
  return SetFeatureExchange(system, driveNumber, feature, level, enable).callSucceeded;
}

bool SetAAM(DriveSystem& s, int n, uint8_t l, bool e) {
  return SetFeature(s, n, DriveFeature::AAM, l, e);
}

bool SetAPM(DriveSystem& s, int n, uint8_t l, bool e) {
  return SetFeature(s, n, DriveFeature::APM, l, e);
}

bool FeatureLevelShown(DriveFeature feature, uint8_t level) {
  return level != 255 && !(feature == DriveFeature::APM && level == 0);
}

}  // namespace dv
