#include "app/MailLock.h"

namespace dv {

bool MailLock::WaitForMailIdle(std::chrono::milliseconds timeout) {
  std::unique_lock<std::timed_mutex> idle(*mutex_, std::defer_lock);
  return idle.try_lock_for(timeout);
}

}  // namespace dv
