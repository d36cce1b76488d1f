// The lock a report mail holds for its whole SMTP exchange, and the bounded wait for mail idle that
// Exit and suspend use.
#pragma once

#include <atomic>
#include <chrono>
#include <memory>
#include <mutex>

namespace dv {

// How long Exit and suspend wait for a running mail. A normal exchange takes a few seconds; a
// server that accepts the connection and then stays silent must not hold the program for ever.
inline constexpr std::chrono::milliseconds kMailIdleTimeout{30000};

class MailLock {
 public:
  // Held by a mail worker for its whole exchange.
  std::unique_lock<std::mutex> Hold() { return std::unique_lock<std::mutex>(*mutex_); }

  // Takes the lock and releases it at once. False when a mail still held it after `timeout`.
  bool WaitForMailIdle(std::chrono::milliseconds timeout = kMailIdleTimeout);

  // The lock itself, for a worker that may outlive this object: after Exit has given up waiting,
  // the program ends and destroys its MailLock while the worker still holds or waits for it.
  std::shared_ptr<std::mutex> Share() const { return mutex_; }

  // The mails whose settings the window thread has handed over and whose exchange has not ended.
  // Counted on the window thread as it reads the settings, so that a suspend or Exit coming right
  // after waits also for a worker that has its settings but not yet the lock.
  std::shared_ptr<std::atomic<int>> Starting() const { return starting_; }

 private:
  std::shared_ptr<std::mutex> mutex_ = std::make_shared<std::mutex>();
  std::shared_ptr<std::atomic<int>> starting_ = std::make_shared<std::atomic<int>>(0);
};

}  // namespace dv
