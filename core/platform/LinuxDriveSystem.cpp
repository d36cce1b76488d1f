// Placeholder until the SG_IO back end lands: no drive opens.
#include "core/DriveSystem.h"

namespace dv {
namespace {
class NoDrives : public DriveSystem {
 public:
  DriveHandlePtr Open(int) override { return nullptr; }
  std::optional<std::string> VolumeName(int, int) override { return std::nullopt; }
  std::string DescribeDrive(int driveNumber) const override {
    return "drive " + std::to_string(driveNumber);
  }
};
}  // namespace

std::unique_ptr<DriveSystem> CreatePlatformDriveSystem() { return std::make_unique<NoDrives>(); }

}  // namespace dv
