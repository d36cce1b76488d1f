#include "app/HealthColors.h"

namespace dv {

uint32_t HealthColor(Health health) {
  switch (health) {
    case Health::Passed:
      return 0x0000FF00;
    case Health::Caution:
      return 0x0000FFFF;
    case Health::SmartOff:
      return 0x00FF0000;
    case Health::Failed:
    case Health::Unknown:
      break;
  }
  return 0x000000FF;
}

}  // namespace dv
