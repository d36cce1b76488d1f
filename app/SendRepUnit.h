// The report mail worker `SendRep` and the window's side of it. A worker reads the mail settings on
// the window thread, waits for the mail lock, runs the exchange, releases the lock and shows the
// outcome on the window thread. It may outlive the window (Exit waits for it only so long), so it
// owns everything it uses and reaches the window only through a MailHome, which drops its calls
// once the window has gone.
#pragma once

#include <QObject>
#include <atomic>
#include <functional>
#include <future>
#include <memory>
#include <mutex>
#include <optional>
#include <vector>

#include "mail/ReportMail.h"

namespace dv {

class MailHome {
 public:
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
  friend class MailHomeLease;
  friend class MailDoor;

  void Open(QObject* door);
  // The window is going: the calls not yet run are dropped, and later ones are refused.
  void Leave();
  // On the window thread: runs the calls queued so far.
  void RunPending();

  // Guards everything below. The calls cross between the threads only under it, never inside
  // the window system's own queue, so the hand-over is plain to see for the thread checkers too.
  std::mutex mutex_;
  QObject* door_ = nullptr;
  std::vector<std::function<void()>> pending_;
};

// The window thread's end of a MailHome: told of every queued call, it runs them.
class MailDoor : public QObject {
  Q_OBJECT
 public:
  explicit MailDoor(MailHome& home) : home_(home) {}

 public slots:
  void Knock() { home_.RunPending(); }

 private:
  MailHome& home_;
};

// The window's hold on its MailHome, made on the window thread with the window. As it goes it
// sends the home away, dropping the calls not yet run. Make it the window's last member, so it
// goes before anything those calls would touch.
class MailHomeLease {
 public:
  MailHomeLease();
  ~MailHomeLease();
  MailHomeLease(const MailHomeLease&) = delete;
  MailHomeLease& operator=(const MailHomeLease&) = delete;

  const std::shared_ptr<MailHome>& Home() const { return home_; }

 private:
  std::shared_ptr<MailHome> home_;
  std::unique_ptr<MailDoor> door_;
};

// One send of a composed report.
using ReportSender = std::function<MailResult(const MailSettings&, const ReportText&)>;

struct SendRepJob {
  std::shared_ptr<MailHome> home;
  std::shared_ptr<std::mutex> lock;  // the mail lock, kept alive by the worker
  // MailLock::Starting: raised by readSettings, lowered when the exchange has ended. May be empty.
  std::shared_ptr<std::atomic<int>> starting;
  ReportText report;  // as composed for this send
  ReportSender send;  // empty: SendReportMail
  // Both run on the window thread. The first shows the busy cursor and copies the settings
  // from the SMTP window; the second shows the outcome and restores the cursor.
  std::function<MailSettings()> readSettings;
  std::function<void(const MailResult&)> showOutcome;
};

// The worker's body on the calling thread; returns MailOutcome (0 sent, 1 failed during the
// exchange, 255 never connected or the window went before the settings could be read).
int RunSendRep(const SendRepJob& job);

// Starts the body on a thread of its own that ends and frees itself. False when no thread could
// be started; nothing of the job has run then.
bool StartSendRep(SendRepJob job);

}  // namespace dv
