#include "app/Autorun.h"

namespace dv {

std::unique_ptr<AutorunStore> CreatePlatformAutorunStore() {
  return std::make_unique<DesktopEntryAutorunStore>(DefaultAutostartFolder());
}

}  // namespace dv
