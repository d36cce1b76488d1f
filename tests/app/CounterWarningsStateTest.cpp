// The counter warnings without a window: a rise is told once and stands, a drive that is not
// monitored has none standing, the state outlives a restart, and off holds nothing.
#include <QTemporaryDir>
#include <QtTest/QtTest>

#include "app/CounterWarnings.h"
#include "core/Monitor.h"
#include "kit/QtTestMain.h"
#include "kit/SmartSectorBuilder.h"

using namespace dv;

namespace {

SmartSectors Reallocated(uint8_t raw) {
  return test::MakeSectors({{5, 0x0033, 100, 100, {raw}, 10}});
}

DriveTable TwoDriveTable() {
  DriveTable drives;
  drives.DriveCount = 2;
  for (int position : {1, 2}) {
    Drive& drive = drives.At(position);
    drive.DriveNumber = static_cast<uint8_t>(position - 1);
    drive.SMARTEnabled = true;
    drive.ModelNumber = "MODEL " + std::to_string(position);
    drive.SerialNumber = "SN" + std::to_string(position);
  }
  return drives;
}

PositionReading ReadingAt(int position, bool monitored = true, bool asleep = false) {
  PositionReading reading;
  reading.position = position;
  reading.monitored = monitored;
  reading.asleep = asleep;
  reading.result = {true, true, !asleep};
  return reading;
}

}  // namespace

class CounterWarningsStateTest : public QObject {
  Q_OBJECT

 private slots:
  void riseIsToldOnceAndStandsAcrossARestart();
};

void CounterWarningsStateTest::riseIsToldOnceAndStandsAcrossARestart() {
  QTemporaryDir folder;
  const std::filesystem::path state = folder.path().toStdString() + "/counters.json";
  const DriveTable drives = TwoDriveTable();
  std::vector<std::string> told;
  {
    CounterWarnings warnings(state);
    QCOMPARE(warnings.Switch(true, drives), std::string());
    warnings.Watch(ReadingAt(1), Reallocated(0), drives, told);
    warnings.Watch(ReadingAt(1), Reallocated(3), drives, told);
    warnings.Watch(ReadingAt(1), Reallocated(3), drives, told);
    warnings.Watch(ReadingAt(2), Reallocated(0), drives, told);
    QCOMPARE(told, std::vector<std::string>{
                       "HDD1 MODEL 1: Reallocated Sector Count (5) rose from 0 to 3"});
    QCOMPARE(warnings.CautionIds(1), std::set<uint8_t>{5});
    QVERIFY(!warnings.Caution(2));
    // Asleep, it keeps what stands; no longer monitored, nothing stands for it.
    warnings.Watch(ReadingAt(1, true, true), SmartSectors{}, drives, told);
    QVERIFY(warnings.Caution(1));
    warnings.Watch(ReadingAt(1, false), SmartSectors{}, drives, told);
    QVERIFY(!warnings.Caution(1));
    QCOMPARE(warnings.Save(), std::optional<std::string>());
  }
  CounterWarnings restarted(state);
  QVERIFY(!restarted.On());
  restarted.Switch(true, drives);
  QVERIFY(restarted.Caution(1));  // at once, before any reading
  QCOMPARE(told.size(), size_t{1});

  restarted.Switch(false, drives);
  restarted.Watch(ReadingAt(1), Reallocated(9), drives, told);
  QVERIFY(!restarted.Caution(1));
  QCOMPARE(told.size(), size_t{1});
  QCOMPARE(restarted.Save(), std::optional<std::string>());
}

DISKVIGIL_QTEST_APPLESS_MAIN(CounterWarningsStateTest)
#include "CounterWarningsStateTest.moc"
