#include "app/platform/LogindPowerEvents.h"

namespace dv {

LogindPowerEvents::LogindPowerEvents(QDBusConnection bus, QObject* parent)
    : PowerEventSource(parent) {
  // No bus (no system D-Bus, a container): connecting fails at once and there are simply no events.
  if (!bus.isConnected()) return;
  subscribed_ = bus.connect(QStringLiteral("org.freedesktop.login1"),
                            QStringLiteral("/org/freedesktop/login1"),
                            QStringLiteral("org.freedesktop.login1.Manager"),
                            QStringLiteral("PrepareForSleep"), this, SLOT(OnPrepareForSleep(bool)));
}

void LogindPowerEvents::OnPrepareForSleep(bool start) {
  if (start)
    emit suspending();
  else
    emit resuming();
}

std::unique_ptr<PowerEventSource> CreatePlatformPowerEventSource(unsigned /*majorVersion*/) {
  return std::make_unique<LogindPowerEvents>();
}

}  // namespace dv
