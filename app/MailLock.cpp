#include "app/MailLock.h"

#include <thread>

namespace dv {

namespace {
constexpr std::chrono::milliseconds kIdlePoll{2};
}

bool MailLock::WaitForMailIdle(std::chrono::milliseconds timeout) {
  // Polled rather than a timed lock: the wait is rare and a few milliseconds late at most, and a
  // plain try_lock is a lock the thread checkers see, where this library's timed locks are not.
  const auto deadline = std::chrono::steady_clock::now() + timeout;
  while (*starting_ > 0 || !mutex_->try_lock()) {
    if (std::chrono::steady_clock::now() >= deadline) return false;
    std::this_thread::sleep_for(kIdlePoll);
  }
  mutex_->unlock();
  return true;
}

}  // namespace dv
