// Drives that take long over every command. The pass runs on the window thread and blocks it for
// its whole length; what must not happen is anything piling up behind it: timer ticks bunched
// after a pass, warnings repeated for one bad pass, or a pass started from inside another.
#include <QCheckBox>
#include <QElapsedTimer>
#include <QTimer>
#include <QtTest/QtTest>
#include <algorithm>
#include <atomic>
#include <limits>
#include <vector>

#include "kit/QtTestMain.h"
#include "ui/SMTPUnit.h"
#include "ui/WindowTestKit.h"

using namespace dv;
using namespace dv::testing;

namespace {

constexpr int kDrives = 6;

// Six drives; with `oneFails` the fourth reports a failing S.M.A.R.T. status, so every pass is a
// bad one.
std::unique_ptr<SimulatedDriveSystem> SixDrives(bool oneFails) {
  std::vector<std::string> drives;
  for (int n = 0; n < kDrives; ++n) {
    const bool fails = oneFails && n == 3;
    drives.push_back(DriveJson(n, "SLOW-" + std::to_string(n), fails ? "error" : "ok", 30 + n));
  }
  return DrivesFromJson(drives);
}

void SetLatency(SimulatedDriveSystem& system, int milliseconds) {
  for (int n = 0; n < kDrives; ++n) system.FindDrive(n)->latencyMs = milliseconds;
}

int PassesInLog(const SimulatedDriveSystem& system) {
  const auto& log = system.CommandLog();
  return static_cast<int>(std::count_if(log.begin(), log.end(), [](const auto& logged) {
    return logged.driveNumber == 0 && logged.name == "SMART_RETURN_STATUS";
  }));
}

// Times of the ticks of a timer, as the event loop delivers them.
struct TickLog {
  explicit TickLog(QTimer* timer, const QElapsedTimer& clock) {
    QObject::connect(timer, &QTimer::timeout, timer,
                     [this, &clock] { ticks.push_back(clock.elapsed()); });
  }
  qint64 ShortestGap() const {
    qint64 shortest = std::numeric_limits<qint64>::max();
    for (size_t i = 1; i < ticks.size(); ++i)
      shortest = std::min(shortest, ticks[i] - ticks[i - 1]);
    return shortest;
  }
  std::vector<qint64> ticks;
};

// An alert sound that lets the event loop run while it starts, as anything during a pass might.
class EventPumpingSound : public AlertSound {
 public:
  void Play() override {
    ++plays;
    QCoreApplication::processEvents();
  }
  int plays = 0;
};

}  // namespace

class SlowDrivesTest : public QObject {
  Q_OBJECT

 private slots:
  void longPassesNeitherBunchTicksNorRepeatWarnings();
  void reportDueDuringPassGoesOutOnce();
  void passAskedForDuringAPassIsDropped();
};

// The window over six slow drives, started at full speed; warning and report mails are counted,
// with the times they were composed at.
struct SlowWindow {
  explicit SlowWindow(bool oneFails) : kit(SixDrives(oneFails)) {
    clock.start();
    MainFormContext context = kit.Context();
    context.composeReport = [this](const std::vector<ReportDrive>& drives,
                                   std::chrono::system_clock::time_point now) {
      composed.push_back(clock.elapsed());
      return ComposeReport(drives, now);
    };
    context.sendReport = [this](const MailSettings&, const ReportText&) {
      ++mailsSent;
      return MailResult{0, "250 OK"};
    };
    form = std::make_unique<TMainForm>(context);
    started = form->FormCreate() == StartupResult::Running;
  }
  ~SlowWindow() {
    form->SMARTT->stop();
    form->SMTPReportsTimer->stop();
    kit.mailLock.WaitForMailIdle(std::chrono::seconds(5));
  }

  // One pass at `latencyMs` per command, timed.
  qint64 TimedPass(int latencyMs) {
    SetLatency(*kit.drives, latencyMs);
    QElapsedTimer single;
    single.start();
    form->CheckHDDs();
    return single.elapsed();
  }

  WindowTestKit kit;
  QElapsedTimer clock;
  std::vector<qint64> composed;
  std::atomic<int> mailsSent{0};
  std::unique_ptr<TMainForm> form;
  bool started = false;
};

void SlowDrivesTest::longPassesNeitherBunchTicksNorRepeatWarnings() {
  SlowWindow window(true);
  QVERIFY(window.started);
  TMainForm& form = *window.form;
  WindowTestKit& kit = window.kit;
  form.AlertCB->setChecked(true);
  form.BallHCB->setChecked(true);
  form.SMTPForm()->SMTPWarningsCB->setChecked(true);

  // 18 commands of 15 ms: a pass blocks the window for about 0.3 s, far longer than the timer's
  // interval.
  constexpr int kPassCommands = 18;
  constexpr int kLatencyMs = 15;
  const qint64 passMs = window.TimedPass(kLatencyMs);
  QVERIFY2(passMs >= kPassCommands * kLatencyMs, qPrintable(QString::number(passMs)));
  QTRY_COMPARE(window.mailsSent.load(), 1);  // the first bad pass's warning mail
  kit.sound.plays = 0;
  kit.icons.balloons.clear();
  window.mailsSent = 0;
  kit.drives->ClearLog();

  constexpr int kIntervalMs = 50;
  form.SMARTT->setInterval(kIntervalMs);
  form.SMARTT->start();
  const QElapsedTimer& clock = window.clock;
  TickLog passTicks(form.SMARTT, clock);
  QTimer probe;
  probe.setInterval(5);
  qint64 lastProbe = clock.elapsed();
  qint64 longestBlock = 0;
  connect(&probe, &QTimer::timeout, &probe, [&] {
    longestBlock = std::max(longestBlock, clock.elapsed() - lastProbe);
    lastProbe = clock.elapsed();
  });
  probe.start();
  const qint64 runMs = 8 * (passMs + kIntervalMs);
  const qint64 end = clock.elapsed() + runMs;
  while (clock.elapsed() < end) QCoreApplication::processEvents(QEventLoop::AllEvents, 5);
  form.SMARTT->stop();
  probe.stop();

  const int passes = static_cast<int>(passTicks.ticks.size());
  QVERIFY2(passes >= 4, qPrintable(QString::number(passes)));
  QCOMPARE(PassesInLog(*kit.drives), passes);
  // Each pass's tick comes a whole interval after the previous pass ended, never at once. The log
  // is written after the window's own handler, so its times are those of the passes' ends: from
  // one to the next there is a whole interval (less the timer's 5% leeway) and a whole pass.
  QVERIFY2(passTicks.ShortestGap() >= kPassCommands * kLatencyMs + kIntervalMs * 9 / 10,
           qPrintable(
               QString("%1 ms between passes of %2 ms").arg(passTicks.ShortestGap()).arg(passMs)));
  // The event loop ran between the passes: it was blocked for about one pass at a time.
  QVERIFY2(longestBlock < 2 * passMs + 200,
           qPrintable(QString("blocked %1 ms, a pass takes %2 ms").arg(longestBlock).arg(passMs)));

  // One sound, one balloon and one warning mail per bad pass.
  QCOMPARE(kit.sound.plays, passes);
  const auto errors = std::count_if(kit.icons.balloons.begin(), kit.icons.balloons.end(),
                                    [](const auto& b) { return b.kind == BalloonKind::Error; });
  QCOMPARE(static_cast<int>(errors), passes);
  QTRY_COMPARE_WITH_TIMEOUT(window.mailsSent.load(), passes, 10000);
}

// A report falling due while a pass holds the window goes out once when the pass is over, however
// the report timer's tick and the monitoring tick meet.
void SlowDrivesTest::reportDueDuringPassGoesOutOnce() {
  SlowWindow window(false);
  QVERIFY(window.started);
  TMainForm& form = *window.form;
  const qint64 passMs = window.TimedPass(10);
  window.composed.clear();

  constexpr int kReportMs = 20;
  form.SMARTT->setInterval(50);
  form.SMARTT->start();
  form.SMTPReportsTimer->setInterval(kReportMs);
  form.SMTPReportsTimer->start();
  TickLog passEnds(form.SMARTT, window.clock);
  const qint64 end = window.clock.elapsed() + 12 * (passMs + 50);
  while (window.clock.elapsed() < end) QCoreApplication::processEvents(QEventLoop::AllEvents, 5);
  form.SMARTT->stop();
  form.SMTPReportsTimer->stop();

  // Right after each pass (its end is logged after the window's own handler) one report at most.
  // Later on the timer may tick closer than its interval: it keeps its schedule after any delay
  // of the event loop, the busy machine's included.
  const auto& composed = window.composed;
  QVERIFY2(composed.size() >= 8, qPrintable(QString::number(composed.size())));
  QVERIFY(passEnds.ticks.size() >= 4);
  for (const qint64 passEnd : passEnds.ticks) {
    const auto rightAfter = std::count_if(composed.begin(), composed.end(), [&](qint64 at) {
      return at >= passEnd - 2 && at < passEnd + kReportMs / 2;
    });
    QVERIFY2(
        rightAfter <= 1,
        qPrintable(
            QString("%1 reports as the pass ending at %2 ms ended").arg(rightAfter).arg(passEnd)));
  }
  QTRY_COMPARE_WITH_TIMEOUT(window.mailsSent.load(), static_cast<int>(composed.size()), 10000);
}

void SlowDrivesTest::passAskedForDuringAPassIsDropped() {
  WindowTestKit kit(SixDrives(true));
  EventPumpingSound sound;
  MainFormContext context = kit.Context();
  context.sound = &sound;
  TMainForm form(context);
  QCOMPARE(form.FormCreate(), StartupResult::Running);
  form.AlertCB->setChecked(true);
  SetLatency(*kit.drives, 2);
  kit.drives->ClearLog();
  sound.plays = 0;

  // A pass waiting in the queue when the bad pass's sound lets the loop run.
  QTimer::singleShot(0, &form, [&form] { form.CheckHDDs(); });
  form.CheckHDDs();
  QCOMPARE(PassesInLog(*kit.drives), 1);
  QCOMPARE(sound.plays, 1);
  QVERIFY(form.SMARTT->isActive());
  // Once the pass is over, passes run again.
  form.CheckHDDs();
  QCOMPARE(PassesInLog(*kit.drives), 2);
}

DISKVIGIL_QTEST_MAIN(SlowDrivesTest)
#include "SlowDrivesTest.moc"
