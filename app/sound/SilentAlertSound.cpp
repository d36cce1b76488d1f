// Built when no sound library was found: the alert stays silent.
#include "app/AlertSound.h"

namespace dv {

std::unique_ptr<AlertSound> CreateAlertSound() { return std::make_unique<SilentAlertSound>(); }

}  // namespace dv
