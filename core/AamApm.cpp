#include "core/AamApm.h"

namespace dv {

// Interim: the reads and writes come with the drive-feature work.
FeatureState ReadFeature(DriveSystem&, int, DriveFeature) { return {}; }
FeatureState ReadAAM(DriveSystem& system, int n) {
  return ReadFeature(system, n, DriveFeature::AAM);
}
FeatureState ReadAPM(DriveSystem& system, int n) {
  return ReadFeature(system, n, DriveFeature::APM);
}
bool SetFeature(DriveSystem&, int, DriveFeature, uint8_t, bool) { return false; }
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
