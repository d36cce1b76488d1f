// The desktop's own notifications, for the balloons of icons on a D-Bus tray. Qt sends every
// balloon there as a new notification, so a balloon repeated at every monitoring pass would pile up
// in the desktop's notification list; here an icon's balloon replaces the one it showed before, as
// a tray balloon does.
#pragma once

#include <QString>
#include <cstdint>
#include <functional>
#include <memory>

#include "tray/NotificationArea.h"

namespace dv {

class DesktopNotifications {
 public:
  virtual ~DesktopNotifications() = default;
  // Shows icon `id`'s balloon in place of its previous one; `timeoutMs` 0 leaves the time to the
  // desktop.
  virtual void Show(uintptr_t id, const QString& title, const QString& text, TrayBalloonKind kind,
                    int timeoutMs) = 0;
  // Told the icon's id when the user clicks its balloon.
  std::function<void(uintptr_t id)> onClicked;
};

// The session's notification service, or null where balloons go through Qt alone.
std::unique_ptr<DesktopNotifications> CreateDesktopNotifications();

}  // namespace dv
