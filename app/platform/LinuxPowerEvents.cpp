#include "app/PowerEvents.h"

namespace dv {

std::unique_ptr<PowerEventSource> CreatePlatformPowerEventSource(unsigned /*majorVersion*/) {
  return std::make_unique<LogindPowerEvents>();
}

}  // namespace dv
