// Systems whose tray shows balloons itself: Qt alone sends them.
#include "tray/DesktopNotifications.h"

namespace dv {

std::unique_ptr<DesktopNotifications> CreateDesktopNotifications() { return nullptr; }

}  // namespace dv
