// The simple timer's start, stop and suspend rules, observed through real ticks.
#include <QtTest>

#include "kit/QtTestMain.h"
#include "tray/SimpleTimer.h"

using namespace dv;

class SimpleTimerTest : public QObject {
  Q_OBJECT
 private slots:
  void startIsRefusedAtPeriodZero() {
    int ticks = 0;
    TSimpleTimer timer(0, [&](TSimpleTimer&) { ++ticks; });
    QVERIFY(!timer.Start());
    QVERIFY(!timer.Running());
    timer.SetPeriod(10);
    QVERIFY(!timer.Running());  // a stopped timer stays stopped when its period changes
    QVERIFY(timer.Start());
    QTRY_VERIFY_WITH_TIMEOUT(ticks >= 2, 1000);
    timer.Stop(true);
    const int stopped = ticks;
    QTest::qWait(50);
    QCOMPARE(ticks, stopped);
  }

  void periodZeroSuspendsAndALaterPeriodResumes() {
    int ticks = 0;
    TSimpleTimer timer(10, [&](TSimpleTimer&) { ++ticks; });
    QVERIFY(timer.Start());
    timer.SetPeriod(0);
    QVERIFY(timer.Running());
    QVERIFY(!timer.Active());
    const int suspended = ticks;
    QTest::qWait(50);
    QCOMPARE(ticks, suspended);
    timer.SetPeriod(10);
    QVERIFY(timer.Active());
    QTRY_VERIFY_WITH_TIMEOUT(ticks > suspended, 1000);
  }

  void stopWithoutClearingAndAnEmptyHandlerSuspend() {
    int ticks = 0;
    TSimpleTimer timer(10, [&](TSimpleTimer&) { ++ticks; });
    timer.SetRunning(true);
    timer.Stop(false);
    QVERIFY(timer.Running());
    QVERIFY(!timer.Active());
    timer.Start();
    timer.SetHandler({});
    QVERIFY(timer.Running());
    QVERIFY(!timer.Active());
    timer.SetRunning(false);
    QVERIFY(!timer.Running());
  }

  void timersTickIndependently() {
    int fast = 0;
    int slow = 0;
    auto first = std::make_unique<TSimpleTimer>(5, [&](TSimpleTimer&) { ++fast; });
    TSimpleTimer second(10000, [&](TSimpleTimer&) { ++slow; });
    first->Start();
    second.Start();
    QTRY_VERIFY_WITH_TIMEOUT(fast >= 3, 1000);
    first.reset();  // the shared handler lives on for the other timer
    TSimpleTimer third(5, [&](TSimpleTimer&) { ++fast; });
    const int before = fast;
    third.Start();
    QTRY_VERIFY_WITH_TIMEOUT(fast > before, 1000);
    QCOMPARE(slow, 0);
  }
};

DISKVIGIL_QTEST_MAIN(SimpleTimerTest)
#include "SimpleTimerTest.moc"
