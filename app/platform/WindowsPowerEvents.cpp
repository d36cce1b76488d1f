// Suspend and resume on Windows: WM_POWERBROADCAST seen through a native event filter. The message
// always goes on to the default handling, so the program never refuses a suspend.
#include <windows.h>

#include <QAbstractNativeEventFilter>
#include <QCoreApplication>

#include "app/PowerEvents.h"

namespace dv {

namespace {

class WindowsPowerEvents : public PowerEventSource, public QAbstractNativeEventFilter {
 public:
  explicit WindowsPowerEvents(unsigned majorVersion) : majorVersion_(majorVersion) {
    QCoreApplication::instance()->installNativeEventFilter(this);
  }
  ~WindowsPowerEvents() override {
    if (QCoreApplication::instance()) QCoreApplication::instance()->removeNativeEventFilter(this);
  }

  bool nativeEventFilter(const QByteArray& eventType, void* message, qintptr* /*result*/) override {
    if (eventType != "windows_generic_MSG") return false;
    const auto* msg = static_cast<const MSG*>(message);
    if (msg->message != WM_POWERBROADCAST) return false;
    switch (PowerActionFor(static_cast<unsigned>(msg->wParam), majorVersion_)) {
      case PowerAction::Suspend:
        emit suspending();
        break;
      case PowerAction::Resume:
        emit resuming();
        break;
      case PowerAction::ResumeAndProcessMessages:
        emit resuming();
        QCoreApplication::processEvents();
        break;
      case PowerAction::None:
        break;
    }
    return false;
  }

 private:
  unsigned majorVersion_;
};

}  // namespace

std::unique_ptr<PowerEventSource> CreatePlatformPowerEventSource(unsigned majorVersion) {
  return std::make_unique<WindowsPowerEvents>(majorVersion);
}

}  // namespace dv
