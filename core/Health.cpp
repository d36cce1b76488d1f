#include "core/Health.h"

#include "core/Drive.h"
#include "core/SmartData.h"

namespace dv {

Health HealthOf(const Drive& drive, const ReadSmartResult& result) {
  if (!drive.SMARTEnabled) return Health::SmartOff;
  if (!result.verdictReached) return Health::Unknown;
  return result.statusOK ? Health::Passed : Health::Failed;
}

Health StoredHealth(const Drive& drive) {
  if (!drive.SMARTEnabled) return Health::SmartOff;
  return drive.SMARTStatusOK ? Health::Passed : Health::Failed;
}

Health WithCaution(Health health, bool countersRose) {
  return health == Health::Passed && countersRose ? Health::Caution : health;
}

std::string_view VerdictText(Health health) {
  switch (health) {
    case Health::Passed:
    case Health::Caution:
      return kVerdictOkText;
    case Health::Failed:
      return kVerdictErrorText;
    case Health::SmartOff:
    case Health::Unknown:
      break;
  }
  return kNoVerdictText;
}

bool HasVerdict(Health health) {
  return health == Health::Passed || health == Health::Caution || health == Health::Failed;
}

}  // namespace dv
