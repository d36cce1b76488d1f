// Suspend and resume on Linux: logind's PrepareForSleep signal on the system bus.
#pragma once

#include <QtDBus/QDBusConnection>

#include "app/PowerEvents.h"

namespace dv {

// logind's PrepareForSleep(bool) on the given bus: true -> suspending(), false -> resuming().
// Without a bus nothing is subscribed and nothing blocks; Subscribed() tells.
class LogindPowerEvents : public PowerEventSource {
  Q_OBJECT
 public:
  explicit LogindPowerEvents(QDBusConnection bus = QDBusConnection::systemBus(),
                             QObject* parent = nullptr);
  bool Subscribed() const { return subscribed_; }

 private slots:
  void OnPrepareForSleep(bool start);

 private:
  bool subscribed_ = false;
};

}  // namespace dv
