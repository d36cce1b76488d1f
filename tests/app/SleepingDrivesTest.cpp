// The "Skip Sleeping Drives" box: where it sits, how it is stored, and what a pass does with it.
#include <QCheckBox>
#include <QGroupBox>
#include <QLabel>
#include <QStatusBar>
#include <QtTest/QtTest>

#include "kit/QtTestMain.h"
#include "ui/WindowTestKit.h"

using namespace dv;
using namespace dv::testing;

namespace {

std::unique_ptr<SimulatedDriveSystem> WarmSeagateAndWd5000() {
  return DrivesFromJson({DriveJson(0, "ST3500418AS", "ok", 35), DriveJson(1, "WDC WD5000AAKS")});
}

}  // namespace

class SleepingDrivesTest : public QObject {
  Q_OBJECT

 private slots:
  void boxSitsInFreeRoomOfTheSettingsGroup();
  void settingIsLoadedAndSaved();
  void passOnLeavesAStandbyDriveAsleepAndSaysSo();
  void passOffWakesIt();
};

void SleepingDrivesTest::boxSitsInFreeRoomOfTheSettingsGroup() {
  WindowTestKit kit(WarmSeagateAndWd5000());
  auto form = kit.Start();
  QCheckBox* box = form->SkipSleepCB;
  QCOMPARE(box->text(), QString("Skip Sleeping Drives"));
  QVERIFY(!box->isChecked());
  QCOMPARE(box->parentWidget(), form->SettingsGB);
  QVERIFY(form->SettingsGB->contentsRect().contains(box->geometry()));
  // The group's own controls keep their places and none is covered.
  QCOMPARE(form->AutoRunCB->geometry(), QRect(8, 104, 100, 18));
  QCOMPARE(form->SettingsGB->geometry(), QRect(308, 30, 179, 146));
  for (QWidget* other : form->SettingsGB->findChildren<QWidget*>(Qt::FindDirectChildrenOnly)) {
    if (other == box) continue;
    QVERIFY2(!other->geometry().intersects(box->geometry()), qPrintable(other->objectName()));
  }
}

void SleepingDrivesTest::settingIsLoadedAndSaved() {
  {
    WindowTestKit kit(WarmSeagateAndWd5000());
    kit.WriteSettings("[Settings]\nSkip Sleeping Drives=1\n");
    auto form = kit.Start();
    QVERIFY(form->SkipSleepCB->isChecked());
    form->SkipSleepCB->setChecked(false);
    QVERIFY(form->SaveSettings());
    QCOMPARE(SettingValue(kit.ReadSettings(), "Skip Sleeping Drives"), QString("0"));
  }
  WindowTestKit kit(WarmSeagateAndWd5000());
  auto form = kit.Start();
  form->SkipSleepCB->setChecked(true);
  QVERIFY(form->SaveSettings());
  QCOMPARE(SettingValue(kit.ReadSettings(), "Skip Sleeping Drives"), QString("1"));
}

void SleepingDrivesTest::passOnLeavesAStandbyDriveAsleepAndSaysSo() {
  WindowTestKit kit(WarmSeagateAndWd5000());
  auto form = kit.Start();  // the enumeration and its pass read both drives
  form->SkipSleepCB->setChecked(true);
  SimulatedDrive& first = *kit.drives->FindDrive(0);
  first.powerMode = SimulatedPowerMode::Standby;
  first.smartData.fill(0);  // a read would show up as a changed temperature
  kit.icons.icons[0].text.clear();

  form->CheckHDDs();
  QCOMPARE(first.powerMode, SimulatedPowerMode::Standby);
  QCOMPARE(kit.icons.icons[0].text, std::string("35"));  // the last reading stands
  QCOMPARE(kit.icons.icons[0].borderColor, 0x0000FF00u);
  QVERIFY(
      QString::fromStdString(kit.icons.icons[0].hint).startsWith("ST3500418AS - asleep, reading "));
  QCOMPARE(kit.icons.icons[1].hint, std::string("WDC WD5000AAKS"));
  QVERIFY2(form->StatusSB->currentMessage().startsWith("HDD1: asleep, reading "),
           qPrintable(form->StatusSB->currentMessage()));
  QCOMPARE(form->HDDTempL->text(), QString("35"));

  // Awake again: read, and the hint and status bar are the usual ones.
  first.powerMode = SimulatedPowerMode::Active;
  form->CheckHDDs();
  QCOMPARE(kit.icons.icons[0].hint, std::string("ST3500418AS"));
  QVERIFY(form->StatusSB->currentMessage().isEmpty());
}

void SleepingDrivesTest::passOffWakesIt() {
  WindowTestKit kit(WarmSeagateAndWd5000());
  auto form = kit.Start();
  QVERIFY(!form->SkipSleepCB->isChecked());
  kit.drives->FindDrive(0)->powerMode = SimulatedPowerMode::Standby;
  kit.drives->ClearLog();
  form->CheckHDDs();
  QCOMPARE(kit.drives->FindDrive(0)->powerMode, SimulatedPowerMode::Active);
  for (const auto& logged : kit.drives->CommandLog()) QVERIFY(logged.name != "CHECK_POWER_MODE");
  QCOMPARE(kit.icons.icons[0].hint, std::string("ST3500418AS"));
}

DISKVIGIL_QTEST_MAIN(SleepingDrivesTest)
#include "SleepingDrivesTest.moc"
