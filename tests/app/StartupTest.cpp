// The start-up sequence on simulated drives: the refusals, and what a good start leaves running.
#include <QCheckBox>
#include <QComboBox>
#include <QLabel>
#include <QMenu>
#include <QTimer>
#include <QtTest/QtTest>

#include "kit/QtTestMain.h"
#include "ui/SMARTFormUnit.h"
#include "ui/SMTPUnit.h"
#include "ui/StringGrid.h"
#include "ui/WindowTestKit.h"

using namespace dv;
using namespace dv::testing;

class StartupTest : public QObject {
  Q_OBJECT
 private slots:
  void noDriveShowsTheWarningAndEnds();
  void secondInstanceEndsSilentlyBeforeLoadingAnything();
  void timersTakeTheirIntervalsFromTheSettings();
  void goodStartStaysHiddenAndMonitors();
  void everyIconSwitchedOffStillShowsTheFirst();
};

void StartupTest::noDriveShowsTheWarningAndEnds() {
  WindowTestKit kit(DrivesFromJson({}));
  auto form = kit.Start();
  QCOMPARE(kit.startup, StartupResult::NoDrive);
  QCOMPARE(kit.dialogs.messages.size(), size_t{1});
  QCOMPARE(kit.dialogs.messages[0].caption, QString("Warning"));
  QCOMPARE(kit.dialogs.messages[0].text, QString("S.M.A.R.T. HDD(s) not found!"));
  QVERIFY(!form->isVisible());
  QVERIFY(!form->SMARTT->isActive());
  // Nothing is saved on this way out.
  QVERIFY(!QFile::exists(kit.SettingsFile()));
}

void StartupTest::secondInstanceEndsSilentlyBeforeLoadingAnything() {
  WindowTestKit kit(DrivesFromJson({DriveJson(0, "ST3500418AS")}));
  kit.anotherInstanceRuns = true;
  auto form = kit.Start();
  QCOMPARE(kit.startup, StartupResult::SecondInstance);
  QVERIFY(kit.dialogs.messages.empty());
  QCOMPARE(form->SMARTForm(), nullptr);  // the other windows were never made
  QCOMPARE(kit.drives->TotalOpens(), 0);
  QVERIFY(!kit.icons.icons[0].visible);
}

void StartupTest::timersTakeTheirIntervalsFromTheSettings() {
  WindowTestKit kit(DrivesFromJson({DriveJson(0, "ST3500418AS")}));
  kit.WriteSettings("[Settings]\nRefresh Interval=60\nSMTP Delay=45\nSMTP Reports=1\n");
  auto form = kit.Start();
  QCOMPARE(kit.startup, StartupResult::Running);
  QCOMPARE(form->SMARTT->interval(), 60000);
  QVERIFY(form->SMARTT->isActive());
  QCOMPARE(form->SMTPReportsTimer->interval(), 45 * 60000);
  QVERIFY(form->SMTPReportsTimer->isActive());

  // Stored values outside the arrows' range are brought into it before they set the timers.
  WindowTestKit outOfRange(DrivesFromJson({DriveJson(0, "ST3500418AS")}));
  outOfRange.WriteSettings("[Settings]\nRefresh Interval=5000\nSMTP Delay=-3\n");
  auto second = outOfRange.Start();
  QCOMPARE(second->SMARTT->interval(), 900000);
  QCOMPARE(second->SMTPReportsTimer->interval(), 10 * 60000);
  QVERIFY(!second->SMTPReportsTimer->isActive());
}

void StartupTest::goodStartStaysHiddenAndMonitors() {
  WindowTestKit kit(DemoDrives());
  auto form = kit.Start();
  QCOMPARE(kit.startup, StartupResult::Running);
  QVERIFY(!form->isVisible());
  QCOMPARE(form->VersionL->text(), QString("1.2.3"));
  QCOMPARE(form->OSL->text(), QString("6.1.0 Test Linux"));
  QCOMPARE(form->HDDCB->count(), 6);
  QCOMPARE(form->HDDCB->currentIndex(), 0);
  QCOMPARE(form->SMARTForm()->SMARTSG->Cell(0, 0), QString("Name"));
  QCOMPARE(form->SMARTForm()->SMARTSG->Cell(6, 0), QString("Status"));
  // The first pass ran at the end of the enumeration: the first drive is shown, every icon set.
  QVERIFY(form->SMARTStatusL->text() != "...");
  QVERIFY(form->SMARTForm()->SMARTSG->RowCount() > 1);
  QCOMPARE(form->SMARTRunL->text(), QString("|"));
  for (int index = 0; index < 6; ++index) {
    QVERIFY(kit.icons.icons[index].visible);
    QCOMPARE(kit.icons.icons[index].textWrites, 1);
    QVERIFY(form->HDDTempTrayCB[index]->isEnabled());
  }
  QCOMPARE(kit.icons.popupMenu, form->PopupMenu);
  QVERIFY(kit.icons.owner == form.get());  // the icons watch the window's minimizing
  const QStringList menu = [&] {
    QStringList texts;
    for (QAction* action : form->PopupMenu->actions()) {
      texts << (action->isSeparator() ? "-" : action->text());
    }
    return texts;
  }();
  QCOMPARE(menu, QStringList({"Restore", "-", "Minimize", "-", "Exit"}));
}

void StartupTest::everyIconSwitchedOffStillShowsTheFirst() {
  WindowTestKit kit(DrivesFromJson({DriveJson(0, "ST3500418AS"), DriveJson(1, "WDC WD5000")}));
  kit.WriteSettings("[Settings]\nHDD1 Temperature Icon=0\nHDD2 Temperature Icon=0\n");
  auto form = kit.Start();
  QVERIFY(kit.icons.icons[0].visible);
  QVERIFY(!kit.icons.icons[1].visible);
  QVERIFY(form->HDDTempTrayCB[0]->isChecked());
  QVERIFY(!form->HDDTempTrayCB[1]->isChecked());
  QVERIFY(form->Drives().At(1).TrayIconOn);
  // It shows the first pass's reading at once, not its design "0".
  QCOMPARE(kit.icons.icons[0].text, std::string("38"));
  QCOMPARE(kit.icons.icons[1].text, std::string("0"));
}

DISKVIGIL_QTEST_MAIN(StartupTest)
#include "StartupTest.moc"
