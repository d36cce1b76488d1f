#include "app/PowerEvents.h"

#include <QCoreApplication>

namespace dv {

PowerAction PowerActionFor(unsigned eventCode, unsigned majorVersion) {
  // Since Windows 6 a critical resume is always followed by an automatic one; before, the automatic
  // resume also needs the pending messages processed.
  const bool before6 = majorVersion <= 5;
  switch (eventCode) {
    case kPbtApmSuspend:
      return PowerAction::Suspend;
    case kPbtApmResumeCritical:
      return before6 ? PowerAction::Resume : PowerAction::None;
    case kPbtApmResumeAutomatic:
      return before6 ? PowerAction::ResumeAndProcessMessages : PowerAction::Resume;
    default:
      return PowerAction::None;
  }
}

bool HandlePowerMessage(PowerEventSource& source, unsigned message, uintptr_t wParam,
                        unsigned majorVersion) {
  if (message != kWmPowerBroadcast) return false;
  // Event codes are small numbers; anything wider is no code of the table.
  const unsigned eventCode = wParam <= 0xFFFFFFFFu ? static_cast<unsigned>(wParam) : 0u;
  switch (PowerActionFor(eventCode, majorVersion)) {
    case PowerAction::Suspend:
      emit source.suspending();
      break;
    case PowerAction::Resume:
      emit source.resuming();
      break;
    case PowerAction::ResumeAndProcessMessages:
      emit source.resuming();
      QCoreApplication::processEvents();
      break;
    case PowerAction::None:
      break;
  }
  return true;
}

}  // namespace dv
