// Mail workers against a window that goes away under them, built with ThreadSanitizer and with
// AddressSanitizer from the worker's own sources. The window here is a small stand-in shaped like
// the main window: the settings come from an edit, the outcome goes to a status bar, and the
// worker's home is its last member. The senders answer only after the window and the mail lock's
// owner are destroyed; nothing of either may be touched after that. A plain program rather than a
// Qt Test one: Qt Test's watchdog thread lives in the uninstrumented library and trips
// ThreadSanitizer by itself.
#include <QApplication>
#include <QLineEdit>
#include <QStatusBar>
#include <QWidget>
#include <cstdio>
#include <functional>
#include <memory>
#include <thread>

#include "app/MailLock.h"
#include "app/MailTestKit.h"
#include "app/SendRepUnit.h"

using namespace dv;
using namespace dv::testing;
using namespace std::chrono_literals;

namespace {

class StandInWindow : public QWidget {
 public:
  StandInWindow(MailLock& lock, ReportSender send) : lock_(lock), send_(std::move(send)) {
    host = new QLineEdit("mail.example.org", this);
    status = new QStatusBar(this);
  }

  void StartMailReport(const std::string& subject) {
    SendRepJob job;
    job.home = home_.Home();
    job.lock = lock_.Share();
    job.report = {subject, "body\r\n"};
    job.send = send_;
    job.readSettings = [this] {
      QApplication::setOverrideCursor(Qt::WaitCursor);
      MailSettings settings;
      settings.host = host->text().toStdString();
      return settings;
    };
    job.showOutcome = [this](const MailResult& result) {
      status->showMessage(result.Ok() ? kMailSentText : kMailFailedText);
      QApplication::restoreOverrideCursor();
    };
    StartSendRep(std::move(job));
  }

  QLineEdit* host;
  QStatusBar* status;

 private:
  MailLock& lock_;
  ReportSender send_;
  MailHomeLease home_;
};

int failures = 0;

void Check(bool condition, const char* what) {
  if (condition) return;
  std::fprintf(stderr, "FAIL: %s\n", what);
  ++failures;
}

// Runs the window thread's events until `done` holds or five seconds have passed.
bool WaitFor(const std::function<bool()>& done) {
  const auto end = std::chrono::steady_clock::now() + 5s;
  while (!done()) {
    if (std::chrono::steady_clock::now() > end) return false;
    QApplication::processEvents(QEventLoop::AllEvents, 10);
    std::this_thread::sleep_for(1ms);
  }
  return true;
}

void Pause(std::chrono::milliseconds time) {
  const auto end = std::chrono::steady_clock::now() + time;
  WaitFor([end] { return std::chrono::steady_clock::now() > end; });
}

void SendsWhileTheWindowLives() {
  RecordingSender sender;
  {
    MailLock lock;
    StandInWindow window(lock, sender.Function());
    sender.DropToken();
    sender.Hold();
    for (const char* subject : {"one", "two", "three"}) window.StartMailReport(subject);
    Check(WaitFor([&] { return sender.Started() == 1; }), "the first send starts");
    window.host->setText("changed.example.org");  // read by the later ones, maybe
    sender.Release();
    Check(WaitFor([&] { return sender.Finished() == 3; }), "all three are sent");
    Check(WaitFor([&] { return window.status->currentMessage() == kMailSentText; }),
          "the outcome is shown");
    Check(WaitFor([] { return QApplication::overrideCursor() == nullptr; }),
          "the cursor is restored");
    Check(sender.MostAtOnce() == 1, "one exchange at a time");
  }
  Check(WaitFor([&] { return !sender.Alive(); }), "every worker ends");
}

void WorkersOutliveTheWindowAndTheLock() {
  RecordingSender sender;
  {
    auto lock = std::make_unique<MailLock>();
    auto window = std::make_unique<StandInWindow>(*lock, sender.Function());
    sender.DropToken();
    sender.Hold();
    window->StartMailReport("in the exchange");
    Check(WaitFor([&] { return sender.Started() == 1; }), "the first send starts");
    window->StartMailReport("waiting for the lock");
    Pause(100ms);  // its settings are read; now it waits for the lock
    window->StartMailReport("waiting for its settings");
    Check(!lock->WaitForMailIdle(50ms), "Exit gives up waiting");
    window.reset();
    lock.reset();
  }
  // The server answers now.
  sender.Release();
  Check(WaitFor([&] { return !sender.Alive(); }), "every worker ends");
  Check(sender.Finished() == 2, "the two that had their settings are sent");
  QApplication::processEvents();
  while (QApplication::overrideCursor() != nullptr) QApplication::restoreOverrideCursor();
}

}  // namespace

int main(int argc, char** argv) {
  QApplication app(argc, argv);
  SendsWhileTheWindowLives();
  WorkersOutliveTheWindowAndTheLock();
  std::fprintf(stderr, "%s\n", failures == 0 ? "PASS" : "FAILED");
  return failures == 0 ? 0 : 1;
}
