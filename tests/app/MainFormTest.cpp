// The main window at work on simulated drives: hiding and exiting, the monitoring switch and the
// interval arrows, drive selection, the monitoring pass and its warnings, the Icons group, and
// suspend and resume.
#include <QCheckBox>
#include <QComboBox>
#include <QDesktopServices>
#include <QElapsedTimer>
#include <QGroupBox>
#include <QLabel>
#include <QLineEdit>
#include <QTimer>
#include <QtTest/QtTest>
#include <future>
#include <thread>

#include "app/DriveIcons.h"
#include "kit/FakeNotificationArea.h"
#include "kit/QtTestMain.h"
#include "ui/ColorSwatch.h"
#include "ui/SMARTFormUnit.h"
#include "ui/SMTPUnit.h"
#include "ui/StringGrid.h"
#include "ui/UpDown.h"
#include "ui/WindowTestKit.h"

using namespace dv;
using namespace dv::testing;

namespace {

// Takes the addresses the About links hand to the desktop.
class UrlCatcher : public QObject {
  Q_OBJECT
 public slots:
  void open(const QUrl& url) { opened.push_back(url); }

 public:
  std::vector<QUrl> opened;
};

constexpr uint32_t kBlue = 0x00FF0000;

int CommandsNamed(const SimulatedDriveSystem& drives, int driveNumber, const std::string& name) {
  int count = 0;
  for (const auto& command : drives.CommandLog()) {
    if (command.driveNumber == driveNumber && command.name == name) ++count;
  }
  return count;
}

// The demo drives' numbers, in list order.
std::vector<int> DemoDriveNumbers(const SimulatedDriveSystem& drives) {
  std::vector<int> numbers;
  for (const SimulatedDrive& drive : drives.Drives()) numbers.push_back(drive.driveNumber);
  return numbers;
}

}  // namespace

class MainFormTest : public QObject {
  Q_OBJECT
 private slots:
  void closeBoxHidesAndExitSaves();
  void sessionEndExitsWithoutSaving();
  void monitoringSwitchStartsAndStopsTheTimer();
  void intervalArrowsStayInRange();
  void pickingADriveShowsIt();
  void passReadsEveryDriveAndWarnsOncePerPass();
  void enumerationBalloonListsTheDrives();
  void lastVisibleIconCannotBeHidden();
  void colourChoiceChangesOnlyItsRowsIcon();
  void suspendStopsAndResumeRestartsTheTimers();
  void minimizingGoesToTheTrayThroughTheIcons();
  void donationPictureLinksToTheDonationPage();
};

void MainFormTest::closeBoxHidesAndExitSaves() {
  WindowTestKit kit(DemoDrives());
  auto form = kit.Start();
  kit.icons.onClick(2);  // any icon restores the window
  QVERIFY(form->isVisible());
  QVERIFY(!form->close());
  QTRY_VERIFY(!form->isVisible());
  QCOMPARE(kit.quits, 0);
  QVERIFY(!QFile::exists(kit.SettingsFile()));

  form->Restore1Click();
  QVERIFY(form->isVisible() && !form->isMinimized());
  form->SMARTForm()->show();
  form->hide();  // Exit comes from the tray menu, usually with the window hidden
  form->Exit1Click();
  QCOMPARE(kit.quits, 1);
  QVERIFY(QFile::exists(kit.SettingsFile()));
  QVERIFY(kit.ReadSettings().contains("HDD6 Temperature Icon=1"));
  QVERIFY(!form->SMARTT->isActive());
  QVERIFY(!form->SMARTForm()->isVisible());
  QVERIFY(kit.dialogs.messages.empty());
}

void MainFormTest::sessionEndExitsWithoutSaving() {
  WindowTestKit kit(DemoDrives());
  MainFormContext context = kit.Context();
  context.mailIdleTimeout = std::chrono::seconds(5);
  TMainForm form(context);
  QCOMPARE(form.FormCreate(), StartupResult::Running);
  form.CreateMBRForm();
  form.AutoRunCB->setChecked(true);

  // A report mail is on its way when the session ends.
  std::promise<void> held;
  std::promise<void> release;
  std::thread mail([&, done = release.get_future()] {
    const auto lock = kit.mailLock.Hold();
    held.set_value();
    done.wait();
  });
  held.get_future().wait();

  form.show();
  form.QueryEndSession();
  QVERIFY(form.Exiting());
  QElapsedTimer clock;
  clock.start();
  QVERIFY(form.close());  // the session's close of a visible window
  const qint64 closeTook = clock.elapsed();
  release.set_value();
  mail.join();
  QVERIFY2(closeTook < 2000, "no wait for the mail");
  QVERIFY(!QFile::exists(kit.SettingsFile()));
  QVERIFY(!kit.autorun.command.has_value());
  QCOMPARE(kit.dialogs.messages.size(), size_t{0});
  // The secondary windows now really close instead of hiding.
  form.SMARTForm()->show();
  QVERIFY(form.SMARTForm()->close());
  QVERIFY(!QFile::exists(kit.SettingsFile()));

  // A session end that was called off leaves Exit as it was: it saves.
  form.Exit1Click();
  QCOMPARE(kit.quits, 1);
  QVERIFY(QFile::exists(kit.SettingsFile()));
  QCOMPARE(kit.autorun.command.value(), std::string("\"/opt/diskvigil/bin/diskvigil\""));
}

void MainFormTest::monitoringSwitchStartsAndStopsTheTimer() {
  WindowTestKit kit(DemoDrives());
  auto form = kit.Start();
  QVERIFY(form->SMARTT->isActive());
  form->SMARTMonCB->setChecked(false);
  QVERIFY(!form->SMARTT->isActive());
  // A refresh starts monitoring again although the box stays clear.
  form->HDDRefreshSBClick();
  QVERIFY(form->SMARTT->isActive());
  QVERIFY(!form->SMARTMonCB->isChecked());
  form->SMARTMonCB->setChecked(true);
  QVERIFY(form->SMARTT->isActive());

  // With no drive listed the box changes nothing.
  WindowTestKit empty(DrivesFromJson({}));
  auto none = empty.Start();
  none->SMARTMonCB->setChecked(false);
  none->SMARTMonCB->setChecked(true);
  QVERIFY(!none->SMARTT->isActive());
}

void MainFormTest::intervalArrowsStayInRange() {
  WindowTestKit kit(DrivesFromJson({DriveJson(0, "ST3500418AS")}));
  auto form = kit.Start();
  UpDown& arrows = *form->HDDRefreshIntUD;
  // A precise timer, so that its remaining time shows whether its period started anew.
  form->SMARTT->setTimerType(Qt::PreciseTimer);
  form->SMARTT->start();
  QTest::qWait(200);
  const int remaining = form->SMARTT->remainingTime();
  arrows.ClickDown();
  QCOMPARE(arrows.Position(), 15);
  QCOMPARE(form->SMARTT->interval(), 15000);
  // The interval did not change, so the running period goes on.
  QVERIFY(form->SMARTT->remainingTime() <= remaining);
  arrows.ClickUp();
  QCOMPARE(arrows.Position(), 30);
  QCOMPARE(form->HDDRefreshIntE->text(), QString("30"));
  QCOMPARE(form->SMARTT->interval(), 30000);
  QVERIFY(form->SMARTT->isActive());
  // Setting the position from code does not reach the handler.
  arrows.SetPosition(900);
  QCOMPARE(form->SMARTT->interval(), 30000);
  arrows.ClickUp();
  QCOMPARE(arrows.Position(), 900);
  QCOMPARE(form->SMARTT->interval(), 900000);
}

void MainFormTest::pickingADriveShowsIt() {
  WindowTestKit kit(DemoDrives());
  auto form = kit.Start();
  QCOMPARE(form->HDDModelL->text(), QString("ST2000DM008-2FR102"));
  QCOMPARE(form->SMARTStatusL->text(), QString("O.K."));

  // Selecting from code is not a pick: nothing is shown.
  form->HDDCB->setCurrentIndex(1);
  QCOMPARE(form->HDDModelL->text(), QString("ST2000DM008-2FR102"));
  form->HDDCB->setCurrentIndex(0);

  PickDrive(*form, 1);
  QCOMPARE(form->HDDModelL->text(), QString("WDC WD10EZEX-08WN4A0"));
  QCOMPARE(form->HDDSNL->text(), QString("WD-WCC6Y3KR7N1Z"));
  QCOMPARE(form->SMARTStatusL->text(), QString("ERROR"));
  QCOMPARE(form->SMARTForm()->SMARTStatusL->text(), QString("ERROR"));
  QVERIFY(form->HDDTempL->isEnabled());
  // The grid now holds the picked drive's rows.
  QCOMPARE(form->SMARTForm()->SMARTSG->Cell(0, 1), QString("(01h) Raw Read Error Rate"));
  QCOMPARE(form->SMARTForm()->SMARTSG->Cell(1, 1), QString("200"));
  // A maker's logo is drawn on white.
  const QImage logo = form->HDDLogoI->pixmap().toImage();
  QCOMPARE(logo.size(), QSize(121, 33));
  QCOMPARE(logo.pixelColor(0, 0), QColor(Qt::white));

  // The drive without S.M.A.R.T.: its temperature labels grey, its status untouched by the read.
  PickDrive(*form, 3);
  QCOMPARE(form->HDDModelL->text(), QString("HITACHI HTS545050B9A300"));
  QVERIFY(!form->HDDTempL->isEnabled());
  QVERIFY(!form->HDDSMARTL->isEnabled());
  QCOMPARE(form->SMARTStatusL->text(), QString("ERROR"));

  // The S.M.A.R.T. button reads the selected drive, then opens the window.
  PickDrive(*form, 0);
  kit.drives->ClearLog();
  form->SMARTReadSBClick();
  QCOMPARE(kit.dialogs.modalShows, 1);
  QCOMPARE(kit.dialogs.lastModal, static_cast<QDialog*>(form->SMARTForm()));
  QCOMPARE(CommandsNamed(*kit.drives, DemoDriveNumbers(*kit.drives)[0], "SMART_RETURN_STATUS"), 1);
}

void MainFormTest::passReadsEveryDriveAndWarnsOncePerPass() {
  WindowTestKit kit(DemoDrives());
  auto form = kit.Start();
  const std::vector<int> numbers = DemoDriveNumbers(*kit.drives);
  QCOMPARE(form->SMARTRunL->text(), QString("|"));
  // The start-up pass found the failing drive with every warning switched off.
  QCOMPARE(kit.sound.plays, 0);
  QVERIFY(kit.icons.balloons.empty());

  form->AlertCB->setChecked(true);
  form->BallHCB->setChecked(true);
  form->SMTPForm()->SMTPWarningsCB->setChecked(true);
  const QStringList marks{"/", "-", "\\", "|", "/"};
  for (int pass = 0; pass < marks.size(); ++pass) {
    kit.drives->ClearLog();
    form->SMARTTTimer();
    QCOMPARE(form->SMARTRunL->text(), marks[pass]);
    // Every drive with S.M.A.R.T. on is read in every pass, also after the failing one.
    for (int position = 1; position <= 6; ++position) {
      const int expected = position == 4 ? 0 : 1;
      QCOMPARE(CommandsNamed(*kit.drives, numbers[position - 1], "SMART_RETURN_STATUS"), expected);
      QCOMPARE(CommandsNamed(*kit.drives, numbers[position - 1], "SMART_READ_THRESHOLDS"),
               expected);
    }
  }
  QCOMPARE(kit.sound.plays, 5);
  QCOMPARE(kit.icons.balloons.size(), size_t{5});
  const auto& balloon = kit.icons.balloons.back();
  QCOMPARE(balloon.index, 5);
  QCOMPARE(balloon.title, std::string("Error"));
  QCOMPARE(balloon.text, std::string("S.M.A.R.T. failure detected!"));
  QCOMPARE(balloon.kind, BalloonKind::Error);
  QCOMPARE(balloon.seconds, 10);
  QVERIFY(form->SMARTT->isActive());

  QCOMPARE(kit.icons.icons[0].borderColor, kIconGreen);
  QCOMPARE(kit.icons.icons[1].borderColor, kIconRed);
  QCOMPARE(kit.icons.icons[3].text, std::string("---"));
  QCOMPARE(kit.icons.icons[3].borderColor, kBlue);
  QCOMPARE(kit.icons.icons[0].text, std::to_string(form->Drives().At(1).Temperature));

  // A hidden icon is not rewritten; it keeps its old text.
  form->HDDTempTrayCB[0]->setChecked(false);
  const int writes = kit.icons.icons[0].textWrites;
  form->CheckHDDs();
  QCOMPARE(kit.icons.icons[0].textWrites, writes);
  QCOMPARE(kit.icons.icons[2].textWrites, writes + 1);
  QCOMPARE(kit.sound.plays, 6);

  // With the warnings off a bad pass stays quiet.
  form->AlertCB->setChecked(false);
  form->CheckHDDs();
  QCOMPARE(kit.sound.plays, 6);
}

void MainFormTest::enumerationBalloonListsTheDrives() {
  WindowTestKit kit(DrivesFromJson({DriveJson(0, "ST3500418AS"), DriveJson(3, "WDC WD5000AAKS")}));
  kit.WriteSettings("[Settings]\nBalloon Hints=1\n");
  auto form = kit.Start();
  QCOMPARE(kit.icons.balloons.size(), size_t{1});
  QCOMPARE(kit.icons.balloons[0].index, 1);
  QCOMPARE(kit.icons.balloons[0].title, std::string("HDDs"));
  QCOMPARE(kit.icons.balloons[0].kind, BalloonKind::Info);
  QCOMPARE(kit.icons.balloons[0].text, std::string("ST3500418AS 466 GB\rWDC WD5000AAKS 466 GB\r"));
  QCOMPARE(kit.icons.icons[1].hint, std::string("WDC WD5000AAKS"));
}

void MainFormTest::lastVisibleIconCannotBeHidden() {
  WindowTestKit kit(DrivesFromJson({DriveJson(0, "ST3500418AS"), DriveJson(1, "WDC WD5000AAKS")}));
  auto form = kit.Start();
  QVERIFY(!form->HDDTempTrayCB[2]->isEnabled());
  form->HDDTempTrayCB[0]->setChecked(false);
  QVERIFY(!kit.icons.icons[0].visible);
  QVERIFY(!form->Drives().At(1).TrayIconOn);
  form->HDDTempTrayCB[1]->setChecked(false);
  QVERIFY(form->HDDTempTrayCB[1]->isChecked());
  QVERIFY(kit.icons.icons[1].visible);
  QVERIFY(form->Drives().At(2).TrayIconOn);

  WindowTestKit single(DrivesFromJson({DriveJson(0, "ST3500418AS")}));
  auto one = single.Start();
  one->HDDTempTrayCB[0]->setChecked(false);
  QVERIFY(one->HDDTempTrayCB[0]->isChecked());
  QVERIFY(single.icons.icons[0].visible);
}

void MainFormTest::colourChoiceChangesOnlyItsRowsIcon() {
  WindowTestKit kit(DrivesFromJson({DriveJson(0, "ST3500418AS"), DriveJson(1, "WDC WD5000AAKS")}));
  auto form = kit.Start();
  kit.dialogs.colorAnswer = QColor(0x12, 0x34, 0x56);
  form->TempTrayBIClick(2);
  QCOMPARE(kit.dialogs.presetColors.back(), QColor(Qt::black));
  QCOMPARE(kit.icons.icons[1].backColor, 0x00563412u);
  QCOMPARE(form->HDDTempTrayBI[1]->Color(), 0x00563412u);
  QCOMPARE(kit.icons.icons[0].backColor, 0u);
  QCOMPARE(kit.icons.icons[1].fontColor, 0xFFFFu);

  kit.dialogs.colorAnswer.reset();  // cancelled: the colour stays
  form->TempTrayFIClick(3);
  QCOMPARE(kit.dialogs.presetColors.back(), QColor(Qt::yellow));
  QCOMPARE(form->Drives().At(3).TrayFontColor, 0xFFFFu);

  // A row without a drive still takes a colour, but the save does not write it.
  kit.dialogs.colorAnswer = QColor(Qt::red);
  form->TempTrayFIClick(3);
  QCOMPARE(kit.icons.icons[2].fontColor, 0xFFu);
  QVERIFY(form->SaveSettings());
  QVERIFY(!kit.ReadSettings().contains("HDD3"));

  // The swatch: black frame on pixels 0..8, the colour on 1..7.
  const QImage swatch = form->HDDTempTrayBI[1]->Picture();
  QCOMPARE(swatch.pixelColor(0, 0), QColor(Qt::black));
  QCOMPARE(swatch.pixelColor(8, 4), QColor(Qt::black));
  QCOMPARE(swatch.pixelColor(1, 1), QColor(0x12, 0x34, 0x56));
  QCOMPARE(swatch.pixelColor(7, 7), QColor(0x12, 0x34, 0x56));
  QCOMPARE(swatch.pixelColor(9, 9).alpha(), 0);
}

void MainFormTest::suspendStopsAndResumeRestartsTheTimers() {
  WindowTestKit kit(DemoDrives());
  auto form = kit.Start();
  form->SMTPForm()->SMTPReportsCB->setChecked(true);
  QVERIFY(form->SMTPReportsTimer->isActive());
  emit kit.power.suspending();
  QVERIFY(!form->SMARTT->isActive());
  QVERIFY(!form->SMTPReportsTimer->isActive());
  form->SMARTMonCB->setChecked(false);
  emit kit.power.resuming();
  QVERIFY(form->SMARTT->isActive());  // whatever the monitoring box says
  QVERIFY(form->SMTPReportsTimer->isActive());

  form->SMTPForm()->SMTPReportsCB->setChecked(false);
  emit kit.power.suspending();
  emit kit.power.resuming();
  QVERIFY(!form->SMTPReportsTimer->isActive());

  // A mail that never ends holds suspend only for the bounded wait.
  auto held = kit.mailLock.Hold();
  QElapsedTimer clock;
  clock.start();
  emit kit.power.suspending();
  QVERIFY(clock.elapsed() < 5000);
  QVERIFY(!form->SMARTT->isActive());
}

// Minimizing is turned into hiding by the tray icons alone (the window hands itself to them), with
// the real icons: hidden, no longer minimized, and an icon click brings it back as it was.
void MainFormTest::minimizingGoesToTheTrayThroughTheIcons() {
  WindowTestKit kit(DemoDrives());
  FakeNotificationArea area;
  DriveIcons icons(area);
  MainFormContext context = kit.Context();
  context.icons = &icons;
  TMainForm form(context);
  QCOMPARE(form.FormCreate(), StartupResult::Running);
  form.CreateMBRForm();
  QVERIFY(icons.Icon(0)->Owner() == &form);
  QVERIFY(area.IsShown(icons.Icon(0)->Id()));

  form.Restore1Click();
  QVERIFY(form.isVisible());
  form.Minimize1Click();
  QTRY_VERIFY(!form.isVisible());

  form.show();  // back in its normal state
  QVERIFY(!form.isMinimized());
  form.setWindowState(Qt::WindowMinimized);  // the title bar's button
  QTRY_VERIFY(!form.isVisible());

  // A click on an icon: down, up, and the double-click time without a second click.
  area.Deliver(icons.Icon(1)->Id(), kWmLButtonDown);
  area.Deliver(icons.Icon(1)->Id(), kWmLButtonUp);
  QTRY_VERIFY(form.isVisible());
  QVERIFY(!form.isMinimized());
  QVERIFY(kit.icons.owner == nullptr);  // the kit's fake was not used here
}

void MainFormTest::donationPictureLinksToTheDonationPage() {
  WindowTestKit kit(DemoDrives());
  auto form = kit.Start();
  QLabel* donate = form->DonateI;
  QVERIFY(donate != nullptr);
  QCOMPARE(donate->parentWidget(), form->AboutGB);
  QVERIFY(!donate->pixmap().isNull());
  QVERIFY(donate->pixmap().toImage().hasAlphaChannel());
  QVERIFY(!donate->toolTip().isEmpty());
  QCOMPARE(donate->cursor().shape(), Qt::PointingHandCursor);
  // The group's own controls keep their places, and the picture covers none of them.
  QCOMPARE(form->HomeL->pos(), QPoint(10, 42));
  QCOMPARE(form->MailL->pos(), QPoint(190, 42));
  QCOMPARE(form->AboutGB->geometry(), QRect(4, 298, 483, 70));
  for (QLabel* label : {form->ProgNameL, form->VersionL, form->OSL, form->HomeL, form->MailL}) {
    QVERIFY2(!label->geometry().intersects(donate->geometry()), qPrintable(label->text()));
  }
  QVERIFY(form->AboutGB->contentsRect().contains(donate->geometry()));

  UrlCatcher catcher;
  QDesktopServices::setUrlHandler(QStringLiteral("https"), &catcher, "open");
  form->show();
  QTest::mouseClick(donate, Qt::LeftButton);
  QDesktopServices::unsetUrlHandler(QStringLiteral("https"));
  QCOMPARE(catcher.opened.size(), size_t{1});
  QCOMPARE(catcher.opened[0], QUrl(QStringLiteral("https://diskvigil.invalid/donate")));
}

DISKVIGIL_QTEST_MAIN(MainFormTest)
#include "MainFormTest.moc"
