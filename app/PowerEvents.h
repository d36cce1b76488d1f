// System suspend and resume as Qt signals. A plain PowerEventSource never emits on its own: it is
// the source for tests (emit its signals by hand) and for systems without power notifications.
#pragma once

#include <QObject>
#include <cstdint>
#include <memory>

namespace dv {

class PowerEventSource : public QObject {
  Q_OBJECT
 public:
  explicit PowerEventSource(QObject* parent = nullptr) : QObject(parent) {}

 signals:
  void suspending();
  void resuming();
};

// What the main window does for one WM_POWERBROADCAST event code, by Windows major version.
enum class PowerAction { None, Suspend, Resume, ResumeAndProcessMessages };
inline constexpr unsigned kPbtApmSuspend = 4;
inline constexpr unsigned kPbtApmResumeCritical = 6;
inline constexpr unsigned kPbtApmResumeAutomatic = 18;
PowerAction PowerActionFor(unsigned eventCode, unsigned majorVersion);

// One window message as the program's own power window receives it: for WM_POWERBROADCAST the
// action of its event code is carried out on `source` (suspending() or resuming(), the latter
// followed by processing the pending events where the table says so); any other message is left
// alone. Returns whether the message was WM_POWERBROADCAST. It always goes on to the default
// handling, so the program never refuses a suspend.
inline constexpr unsigned kWmPowerBroadcast = 0x0218;
bool HandlePowerMessage(PowerEventSource& source, unsigned message, uintptr_t wParam,
                        unsigned majorVersion);

// The platform's source: logind on Linux, WM_POWERBROADCAST on Windows (majorVersion picks the
// column of the power table there).
std::unique_ptr<PowerEventSource> CreatePlatformPowerEventSource(unsigned majorVersion);

}  // namespace dv
