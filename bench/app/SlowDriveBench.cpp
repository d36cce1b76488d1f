// How long the window is held by six drives that take the whole time-out over every command. The
// monitoring pass runs on the window thread, so the window is blocked for as long as the pass; this
// measures that span as the event loop sees it (the longest gap between the ticks of a 10 ms
// probe timer), for a timer-driven pass and for picking another drive in the list, and counts what
// the pass set off, so a pile-up would show.
//   SlowDriveBench [LATENCY_MS] [DRIVES]      (defaults: 2000 and 6)
#include <QApplication>
#include <QCheckBox>
#include <QComboBox>
#include <QElapsedTimer>
#include <QTimer>
#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <string>

#include "ui/SMTPUnit.h"
#include "ui/WindowTestKit.h"

using namespace dv;
using namespace dv::testing;

namespace {

// Runs the event loop with a 10 ms probe until `done` holds; returns the longest time the loop was
// kept from running.
template <typename Done>
qint64 LongestBlock(Done done) {
  QElapsedTimer clock;
  clock.start();
  qint64 last = 0;
  qint64 longest = 0;
  QTimer probe;
  probe.setInterval(10);
  QObject::connect(&probe, &QTimer::timeout, &probe, [&] {
    longest = std::max(longest, clock.elapsed() - last);
    last = clock.elapsed();
  });
  probe.start();
  while (!done()) QCoreApplication::processEvents(QEventLoop::AllEvents, 10);
  return std::max(longest, clock.elapsed() - last);
}

}  // namespace

int main(int argc, char** argv) {
  qputenv("QT_QPA_PLATFORM", "offscreen");
  QApplication app(argc, argv);
  const int latencyMs = argc > 1 ? std::atoi(argv[1]) : 2000;
  const int driveCount = argc > 2 ? std::clamp(std::atoi(argv[2]), 2, 6) : 6;

  std::vector<std::string> drives;
  for (int n = 0; n < driveCount; ++n) {
    drives.push_back(DriveJson(n, "SLOW-" + std::to_string(n), n == 1 ? "error" : "ok", 30 + n));
  }
  WindowTestKit kit(DrivesFromJson(drives));
  int mailsSent = 0;
  MainFormContext context = kit.Context();
  context.sendReport = [&](const MailSettings&, const ReportText&) {
    ++mailsSent;
    return MailResult{0, "250 OK"};
  };
  // The window starts at full speed; from then on every command takes the whole latency.
  TMainForm form(context);
  if (form.FormCreate() != StartupResult::Running) return 1;
  form.AlertCB->setChecked(true);
  form.BallHCB->setChecked(true);
  form.SMTPForm()->SMTPWarningsCB->setChecked(true);
  for (int n = 0; n < driveCount; ++n) kit.drives->FindDrive(n)->latencyMs = latencyMs;
  kit.sound.plays = 0;
  kit.icons.balloons.clear();
  kit.drives->ClearLog();

  // One pass from the monitoring timer (a short interval, so the run does not wait long for it).
  int ticks = 0;
  QObject::connect(form.SMARTT, &QTimer::timeout, &form, [&] { ++ticks; });
  form.SMARTT->setInterval(1000);
  form.SMARTT->start();
  QElapsedTimer passClock;
  passClock.start();
  const qint64 passBlock = LongestBlock([&] { return ticks >= 1; });
  const auto commands = kit.drives->CommandLog().size();
  // Let the warning mail through and look for anything that came twice.
  LongestBlock([&] { return mailsSent >= 1 || passClock.elapsed() > passBlock + 5000; });
  form.SMARTT->stop();
  std::printf(
      "pass over %d drives at %d ms a command: %zu commands, window blocked %lld ms; "
      "sounds %d, error balloons %zu, warning mails %d, passes %d\n",
      driveCount, latencyMs, commands, static_cast<long long>(passBlock), kit.sound.plays,
      kit.icons.balloons.size(), mailsSent, ticks);

  // Another drive picked in the list: its features and S.M.A.R.T. read at once.
  kit.drives->ClearLog();
  bool picked = false;
  QTimer::singleShot(0, &form, [&] {
    form.HDDCB->setCurrentIndex(1);  // as the list's own choice does
    form.HDDCBChange();
    picked = true;
  });
  const qint64 pickBlock = LongestBlock([&] { return picked; });
  std::printf("another drive picked: %zu commands, window blocked %lld ms\n",
              kit.drives->CommandLog().size(), static_cast<long long>(pickBlock));
  kit.mailLock.WaitForMailIdle(std::chrono::seconds(5));
  return kit.sound.plays == 1 && mailsSent == 1 && ticks == 1 ? 0 : 2;
}
