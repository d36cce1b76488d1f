// Self-tests in the window program, on simulated drives whose clock the test moves: a test started
// from the Self-Tests window and its progress, both logs in it, "Self-Test Warnings" on and off,
// and "Self-Test Every" starting one test. The rules behind them are the watch's (core/).
#include <QCheckBox>
#include <QLabel>
#include <QPushButton>
#include <QStatusBar>
#include <QTimer>
#include <QToolButton>
#include <QTreeWidget>
#include <QtTest/QtTest>
#include <algorithm>

#include "app/MailingWindow.h"
#include "kit/QtTestMain.h"
#include "ui/SelfTestWindow.h"
#include "ui/WindowTestKit.h"

using namespace dv;
using namespace dv::testing;

namespace {

// A drive of the kit with a "selfTest" object.
std::string SelfTestDrive(int driveNumber, const std::string& model, const std::string& selfTest) {
  std::string json = DriveJson(driveNumber, model);
  json.pop_back();
  return json + ",\"selfTest\":" + selfTest + "}";
}

constexpr const char* kFailedTest =
    R"({"log": [{"type": "short", "status": 7, "lifetimeHours": 1200, "lba": 4242}],
        "errorCount": 4, "errors": [{"command": 37, "lba": 77, "lifetimeHours": 1100}]})";

// A window whose mails go to a recording sender.
struct SelfTestWindow : MailingWindow {
  SelfTestWindow(std::vector<std::string> drives, const QByteArray& settings)
      : MailingWindow(DrivesFromJson(drives), settings) {}
  size_t Balloons() const {
    return std::count_if(kit.icons.balloons.begin(), kit.icons.balloons.end(),
                         [](const auto& b) { return b.title == "Self-Test Warning"; });
  }
};

}  // namespace

class SelfTestWindowTest : public QObject {
  Q_OBJECT

 private slots:
  void buttonSitsInFreeRoomAndDefaultsChangeNothing();
  void testStartsAndItsProgressShowsOncePerMinute();
  void logWindowShowsBothLogs();
  void failedTestWarnsOnceWhenOnAndNotWhenOff();
  void scheduleStartsOneTestAtATime();
};

void SelfTestWindowTest::buttonSitsInFreeRoomAndDefaultsChangeNothing() {
  SelfTestWindow window({DriveJson(0, "ST3500418AS")}, "[Settings]\nAlert Sound=1\n");
  TMainForm& form = *window.form;
  QWidget* group = form.SelfTestSB->parentWidget();
  QVERIFY(group->contentsRect().contains(form.SelfTestSB->geometry()));
  for (QWidget* other : group->findChildren<QWidget*>(Qt::FindDirectChildrenOnly)) {
    if (other != form.SelfTestSB)
      QVERIFY(!other->geometry().intersects(form.SelfTestSB->geometry()));
  }
  QVERIFY(!form.SelfTestT->isActive());
  QVERIFY(form.SaveSettings());
  QVERIFY(!window.kit.ReadSettings().contains("Self-Test"));
}

void SelfTestWindowTest::testStartsAndItsProgressShowsOncePerMinute() {
  SelfTestWindow window({SelfTestDrive(0, "ST3500418AS", R"({"pollingMinutes": {"short": 2}})")},
                        "[Settings]\nSkip Sleeping Drives=1\n");
  TMainForm& form = *window.form;
  SimulatedDrive& drive = *window.kit.drives->FindDrive(0);
  form.SelfTestSBClick();
  TSelfTestForm& tests = form.SelfTestForm();
  tests.ShortB->click();
  QCOMPARE(tests.ProgressL->text(),
           QString("Short self-test started; the drive expects it to take 2 minutes"));
  QVERIFY(form.SelfTestT->isActive());
  QVERIFY(form.SelfTestT->interval() >= 60000);

  drive.selfTest->clockMinutes = 1;
  form.SelfTestTTimer();
  QCOMPARE(tests.ProgressL->text(), QString("Self-test running: 50% remaining"));

  // Asleep with "Skip Sleeping Drives" on: asked its power mode only, left asleep.
  drive.powerMode = SimulatedPowerMode::Standby;
  window.kit.drives->ClearLog();
  form.SelfTestTTimer();
  QCOMPARE(drive.powerMode, SimulatedPowerMode::Standby);
  for (const auto& logged : window.kit.drives->CommandLog())
    QCOMPARE(logged.name, std::string("CHECK_POWER_MODE"));

  drive.powerMode = SimulatedPowerMode::Active;
  drive.selfTest->clockMinutes = 3;
  form.SelfTestTTimer();
  QCOMPARE(tests.ProgressL->text(), QString("No self-test running"));
  QCOMPARE(tests.SelfTestLogT->topLevelItem(0)->text(2), QString("completed without error"));
  QVERIFY(!form.SelfTestT->isActive());  // nothing left to follow
}

void SelfTestWindowTest::logWindowShowsBothLogs() {
  SelfTestWindow window({SelfTestDrive(0, "ST3500418AS", kFailedTest)}, "[Settings]\n");
  TSelfTestForm& tests = window.form->SelfTestForm();
  QCOMPARE(tests.DriveL->text(), QString("HDD1: ST3500418AS"));
  QCOMPARE(tests.SelfTestLogT->topLevelItemCount(), 1);
  const QTreeWidgetItem* entry = tests.SelfTestLogT->topLevelItem(0);
  QCOMPARE(entry->text(2), QString("read failure"));
  QCOMPARE(entry->text(4), QString("1200"));
  QCOMPARE(entry->text(5), QString("4242"));
  QCOMPARE(tests.ErrorCountL->text(), QString("Error log: 4 errors counted"));
  QCOMPARE(tests.ErrorLogT->topLevelItem(0)->text(2), QString("25h"));
  QCOMPARE(tests.ErrorLogT->topLevelItem(0)->text(5), QString("77"));
}

void SelfTestWindowTest::failedTestWarnsOnceWhenOnAndNotWhenOff() {
  const QByteArray common = "Alert Sound=1\nBalloon Hints=1\nSMTP Warnings=1\n";
  for (const bool on : {true, false}) {
    SelfTestWindow window({SelfTestDrive(0, "ST3500418AS", kFailedTest)},
                          "[Settings]\n" + common + (on ? "Self-Test Warnings=1\n" : ""));
    TMainForm& form = *window.form;
    QCOMPARE(form.SelfTestT->isActive(), on);
    form.SelfTestTTimer();
    form.CheckHDDs();
    form.SelfTestTTimer();  // the same entry: told once
    QCOMPARE(window.Balloons(), size_t{on});
    QCOMPARE(window.kit.sound.plays, on ? 1 : 0);
    QCOMPARE(window.composer.calls.size(), size_t{on});
    if (!on) continue;
    QTRY_COMPARE(window.sender.Finished(), size_t{1});
    const std::string body = window.sender.SentMails().at(0).report.body;
    QVERIFY2(body.find("HDD1 ST3500418AS: self-test failed: short test, read failure at LBA "
                       "4242, 1200 power-on hours") != std::string::npos,
             body.c_str());
  }
}

void SelfTestWindowTest::scheduleStartsOneTestAtATime() {
  SelfTestWindow window(
      {SelfTestDrive(0, "ST3500418AS", "{}"), SelfTestDrive(1, "WDC WD5000AAKS", "{}")},
      "[Settings]\nSelf-Test Every=7\n");
  TMainForm& form = *window.form;
  QCOMPARE(form.SelfTestEvery(), 7);
  form.SelfTestTTimer();
  QCOMPARE(form.StatusSB->currentMessage(),
           QString("HDD1: scheduled short self-test started (none logged)"));
  form.CheckHDDs();
  form.SelfTestTTimer();
  QVERIFY(window.kit.drives->FindDrive(0)->selfTest->running.has_value());
  QVERIFY(!window.kit.drives->FindDrive(1)->selfTest->running.has_value());
}

DISKVIGIL_QTEST_MAIN(SelfTestWindowTest)
#include "SelfTestWindowTest.moc"
