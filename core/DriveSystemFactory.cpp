// Placeholder until the simulated drives land: only the platform's own drives.
#include "core/DriveSystemFactory.h"

namespace dv {

std::optional<std::string> TakeDriveSystemOptions(std::vector<std::string>&, DriveSystemChoice&) {
  return std::nullopt;
}

std::string DemoDataPath() { return {}; }

std::unique_ptr<DriveSystem> CreateDriveSystem(const DriveSystemChoice&, std::string&) {
  return CreatePlatformDriveSystem();
}

}  // namespace dv
