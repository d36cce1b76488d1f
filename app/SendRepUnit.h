// The report mail worker `SendRep` and the window's side of it. A worker reads the mail settings on
// the window thread, waits for the mail lock, runs the exchange, releases the lock and shows the
// outcome on the window thread. It may outlive the window (Exit waits for it only so long), so it
// owns everything it uses and reaches the window only through a MailHome, which drops its calls
// once the window has gone.
#pragma once

#include <QObject>
#include <functional>
#include <future>
#include <memory>
#include <mutex>
#include <optional>

#include "mail/ReportMail.h"

namespace dv {

class MailHome {
 public:
  // `window` receives the calls; it must live on the window thread.
  explicit MailHome(QObject* window) : window_(window) {}

  // Called by the window as it is destroyed, before its QObject part goes: calls still queued
  // are dropped with it, and later ones are refused.
  void Leave();

  // Queues `call` to run on the window thread. False when the window has gone.
  bool Post(std::function<void()> call);

  // Runs `call` on the window thread and waits until it has run. Empty when the window went
  // before the call could run.
  template <typename T>
  std::optional<T> CallAndWait(std::function<T()> call) {
    auto promise = std::make_shared<std::promise<T>>();
    std::future<T> result = promise->get_future();
    // The queued call holds the only reference to the promise: a call dropped with the window
    // destroys it unfulfilled, which wakes the wait below with a broken promise.
    if (!Post([promise = std::move(promise), call = std::move(call)] {
          promise->set_value(call());
        })) {
      return std::nullopt;
    }
    try {
      return result.get();
    } catch (const std::future_error&) {
      return std::nullopt;
    }
  }

 private:
  std::mutex mutex_;
  QObject* window_;
};

// The window's hold on its MailHome: made with the window, it sends the home away as the window
// goes. Make it the window's last member, so it goes before anything the calls would touch.
class MailHomeLease {
 public:
  explicit MailHomeLease(QObject* window) : home_(std::make_shared<MailHome>(window)) {}
  ~MailHomeLease() { home_->Leave(); }
  MailHomeLease(const MailHomeLease&) = delete;
  MailHomeLease& operator=(const MailHomeLease&) = delete;

  const std::shared_ptr<MailHome>& Home() const { return home_; }

 private:
  std::shared_ptr<MailHome> home_;
};

// One send of a composed report.
using ReportSender = std::function<MailResult(const MailSettings&, const ReportText&)>;

struct SendRepJob {
  std::shared_ptr<MailHome> home;
  std::shared_ptr<std::timed_mutex> lock;  // the mail lock, kept alive by the worker
  ReportText report;                       // as composed for this send
  ReportSender send;                       // empty: SendReportMail
  // Both run on the window thread. The first shows the busy cursor and copies the settings
  // from the SMTP window; the second shows the outcome and restores the cursor.
  std::function<MailSettings()> readSettings;
  std::function<void(const MailResult&)> showOutcome;
};

// The worker's body on the calling thread; returns MailOutcome (0 sent, 1 failed during the
// exchange, 255 never connected or the window went before the settings could be read).
int RunSendRep(const SendRepJob& job);

// Starts the body on a thread of its own that ends and frees itself.
void StartSendRep(SendRepJob job);

}  // namespace dv
