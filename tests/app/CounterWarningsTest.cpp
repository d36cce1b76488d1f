// The "Counter Warnings" box: where it sits and how it is stored; with it on, a rising counter
// frames the icon yellow and is told once per rise by balloon and warning mail, across restarts;
// the S.M.A.R.T. window frames the rows that caused it. With it off nothing of this happens.
#include <QCheckBox>
#include <QComboBox>
#include <QGroupBox>
#include <QStatusBar>
#include <QtTest/QtTest>
#include <fstream>

#include "app/DriveIcons.h"
#include "app/MailingWindow.h"
#include "core/LittleEndian.h"
#include "kit/FakeNotificationArea.h"
#include "kit/QtTestMain.h"
#include "ui/SMARTFormUnit.h"
#include "ui/SMTPUnit.h"
#include "ui/StringGrid.h"
#include "ui/WindowTestKit.h"

using namespace dv;
using namespace dv::testing;

namespace {

constexpr uint32_t kYellow = 0x0000FFFF;
constexpr uint32_t kLime = 0x0000FF00;

// Reallocated and pending sectors and CRC errors all 0 to begin with.
std::string CounterDrive(int driveNumber, const std::string& model, const std::string& status) {
  return "{\"driveNumber\":" + std::to_string(driveNumber) + ",\"model\":\"" + model +
         "\",\"serial\":\"SN" + std::to_string(driveNumber) + "\",\"smart\":{\"status\":\"" +
         status +
         "\",\"attributes\":["
         "{\"id\":5,\"flags\":51,\"value\":100,\"threshold\":36,\"raw\":0},"
         "{\"id\":194,\"flags\":34,\"value\":100,\"raw\":35},"
         "{\"id\":197,\"flags\":18,\"value\":100,\"raw\":0},"
         "{\"id\":199,\"flags\":62,\"value\":200,\"raw\":0}]}}";
}

std::unique_ptr<SimulatedDriveSystem> CounterDrives() {
  return DrivesFromJson(
      {CounterDrive(0, "ST3500418AS", "ok"), CounterDrive(1, "WDC WD5000AAKS", "ok")});
}

// Sets the raw value of attribute `id` in the drive's READ DATA sector.
void SetRaw(SimulatedDrive& drive, uint8_t id, uint64_t raw) {
  for (size_t at = 2; at + 12 <= 362; at += 12) {
    if (drive.smartData[at] != id) continue;
    for (size_t i = 0; i < 6; ++i)
      drive.smartData[at + 5 + i] = static_cast<uint8_t>(raw >> (8 * i));
  }
  SetSectorChecksum(drive.smartData);
}

std::vector<std::string> CautionBalloons(const FakeTemperatureIcons& icons) {
  std::vector<std::string> texts;
  for (const auto& balloon : icons.balloons) {
    if (balloon.title != "Counter Warning") continue;
    texts.push_back(balloon.kind == BalloonKind::Warning ? balloon.text : "not a warning balloon");
  }
  return texts;
}

std::filesystem::path StatePathIn(const WindowTestKit& kit) {
  return std::filesystem::path(kit.folder.path().toStdString()) / "state" / "counters.json";
}

// A window with the state file in the kit's folder and mails going to a recording sender.
struct CounterWindow : MailingWindow {
  CounterWindow(std::unique_ptr<SimulatedDriveSystem> drives, const QByteArray& settings)
      : MailingWindow(std::move(drives), settings,
                      [](MainFormContext& context, const WindowTestKit& kit) {
                        context.counterStatePath = StatePathIn(kit);
                      }) {}
  std::filesystem::path StatePath() const { return StatePathIn(kit); }
};

const QByteArray kOn = "[Settings]\nCounter Warnings=1\nBalloon Hints=1\nSMTP Warnings=1\n";
const QByteArray kOff = "[Settings]\nBalloon Hints=1\nSMTP Warnings=1\n";

}  // namespace

class CounterWarningsTest : public QObject {
  Q_OBJECT

 private slots:
  void boxSitsInFreeRoomOfTheSettingsGroup();
  void settingIsLoadedAndSaved();
  void oneYellowFrameAndOneWarningPerRise();
  void failingVerdictStaysRed();
  void restartKeepsTheCautionWithoutTellingAgain();
  void offChangesNothing();
  void smartWindowFramesTheRowsThatCausedIt();
  void trayIconFrameIsYellow();
  void drivesWithOneSerialAreNotWatched();
};

void CounterWarningsTest::boxSitsInFreeRoomOfTheSettingsGroup() {
  WindowTestKit kit(CounterDrives());
  auto form = kit.Start();
  QCheckBox* box = form->CounterWarnCB;
  QCOMPARE(box->text(), QString("Counter Warnings"));
  QVERIFY(!box->isChecked());
  QCOMPARE(box->parentWidget(), form->SettingsGB);
  QVERIFY(form->SettingsGB->contentsRect().contains(box->geometry()));
  for (QWidget* other : form->SettingsGB->findChildren<QWidget*>(Qt::FindDirectChildrenOnly)) {
    if (other == box) continue;
    QVERIFY2(!other->geometry().intersects(box->geometry()), qPrintable(other->objectName()));
  }
  // The captions beside it still have their room, and its own two lines fit.
  for (QCheckBox* other : {form->AlertCB, form->BallHCB}) {
    QVERIFY(other->geometry().width() >= other->sizeHint().width());
  }
  const QFontMetrics metrics(box->font());
  QVERIFY(metrics.horizontalAdvance("Warnings") + 17 <= box->width());  // indicator and gap
  QVERIFY(2 * metrics.height() <= box->height());
  // A click on the caption toggles the box.
  QTest::mouseClick(box, Qt::LeftButton, {}, QPoint(box->width() - 4, box->height() / 2));
  QVERIFY(box->isChecked());
}

void CounterWarningsTest::settingIsLoadedAndSaved() {
  {
    WindowTestKit kit(CounterDrives());
    kit.WriteSettings("[Settings]\nCounter Warnings=1\n");
    auto form = kit.Start();
    QVERIFY(form->CounterWarnCB->isChecked());
    form->CounterWarnCB->setChecked(false);
    QVERIFY(form->SaveSettings());
    QCOMPARE(SettingValue(kit.ReadSettings(), "Counter Warnings"), QString("0"));
  }
  WindowTestKit kit(CounterDrives());
  auto form = kit.Start();
  form->CounterWarnCB->setChecked(true);
  QVERIFY(form->SaveSettings());
  QCOMPARE(SettingValue(kit.ReadSettings(), "Counter Warnings"), QString("1"));
}

void CounterWarningsTest::oneYellowFrameAndOneWarningPerRise() {
  CounterWindow window(CounterDrives(), kOn);
  FakeTemperatureIcons& icons = window.kit.icons;
  SimulatedDrive& first = *window.kit.drives->FindDrive(0);
  QCOMPARE(icons.icons[0].borderColor, kLime);

  SetRaw(first, 197, 3);
  window.form->CheckHDDs();
  window.form->CheckHDDs();
  window.form->CheckHDDs();
  QCOMPARE(icons.icons[0].borderColor, kYellow);
  QCOMPARE(icons.icons[1].borderColor, kLime);
  QCOMPARE(CautionBalloons(icons),
           std::vector<std::string>{
               "HDD1 ST3500418AS: Current Pending Sector Count (197) rose from 0 to 3"});
  QCOMPARE(window.composer.calls.size(), size_t{1});
  QTRY_COMPARE(window.sender.Finished(), size_t{1});
  const std::string body = window.sender.SentMails().at(0).report.body;
  QVERIFY2(body.find("HDD1 ST3500418AS: Current Pending Sector Count (197) rose from 0 to 3\r\n") !=
               std::string::npos,
           body.c_str());
  QCOMPARE(window.form->CautionOf(1).size(), size_t{1});

  // A second rise of the same counter and one of another drive: each told once, together.
  SetRaw(first, 197, 4);
  SetRaw(*window.kit.drives->FindDrive(1), 199, 2);
  window.form->CheckHDDs();
  window.form->CheckHDDs();
  QCOMPARE(CautionBalloons(icons).size(), size_t{2});
  QCOMPARE(CautionBalloons(icons).back(),
           std::string("HDD1 ST3500418AS: Current Pending Sector Count (197) rose from 3 to 4\n"
                       "HDD2 WDC WD5000AAKS: UltraDMA CRC Error Count (199) rose from 0 to 2"));
  QCOMPARE(icons.icons[1].borderColor, kYellow);
  QCOMPARE(window.composer.calls.size(), size_t{2});
  QTRY_COMPARE(window.sender.Finished(), size_t{2});
}

void CounterWarningsTest::failingVerdictStaysRed() {
  CounterWindow window(DrivesFromJson({CounterDrive(0, "ST3500418AS", "threshold-exceeded")}), kOn);
  SetRaw(*window.kit.drives->FindDrive(0), 5, 8);
  window.form->CheckHDDs();
  QCOMPARE(window.kit.icons.icons[0].borderColor, kIconRed);
  QVERIFY(!window.form->CautionOf(1).empty());
  // The failure's own warning carries the rise; no second mail for it.
  const size_t mails = window.composer.calls.size();
  QTRY_COMPARE(window.sender.Finished(), mails);
  // Sends run on their own workers and may finish in any order, so the mails are counted, not
  // taken by their place.
  const auto mailsTellingTheRise = [&] {
    size_t count = 0;
    for (const auto& mail : window.sender.SentMails()) {
      const std::string& body = mail.report.body;
      if (body.find("Reallocated Sector Count (5) rose from 0 to 8") != std::string::npos) ++count;
    }
    return count;
  };
  QCOMPARE(mailsTellingTheRise(), size_t{1});
  window.form->CheckHDDs();
  QCOMPARE(window.composer.calls.size(), mails + 1);  // the failure mails again, the rise not
  QTRY_COMPARE(window.sender.Finished(), mails + 1);
  QCOMPARE(mailsTellingTheRise(), size_t{1});
}

void CounterWarningsTest::restartKeepsTheCautionWithoutTellingAgain() {
  std::filesystem::path state;
  QTemporaryDir keep;
  {
    CounterWindow window(CounterDrives(), kOn);
    SetRaw(*window.kit.drives->FindDrive(0), 5, 2);
    window.form->CheckHDDs();
    QCOMPARE(CautionBalloons(window.kit.icons).size(), size_t{1});
    QVERIFY(std::filesystem::exists(window.StatePath()));
    state = std::filesystem::path(keep.path().toStdString()) / "counters.json";
    std::filesystem::copy_file(window.StatePath(), state);
  }
  // A new start on the same drives, the stored file in place: yellow at once, nothing told.
  auto drives = CounterDrives();
  SetRaw(*drives->FindDrive(0), 5, 2);
  WindowTestKit kit(std::move(drives));
  std::filesystem::create_directories(std::filesystem::path(kit.folder.path().toStdString()) /
                                      "state");
  std::filesystem::copy_file(
      state, std::filesystem::path(kit.folder.path().toStdString()) / "state" / "counters.json");
  kit.WriteSettings("[Settings]\nCounter Warnings=1\nBalloon Hints=1\n");
  MainFormContext context = kit.Context();
  context.counterStatePath =
      std::filesystem::path(kit.folder.path().toStdString()) / "state" / "counters.json";
  TMainForm form(std::move(context));
  QCOMPARE(form.FormCreate(), StartupResult::Running);
  form.CreateMBRForm();
  QCOMPARE(kit.icons.icons[0].borderColor, kYellow);
  QVERIFY(CautionBalloons(kit.icons).empty());

  // A state file from elsewhere is set aside with a note in the status bar.
  std::ofstream(std::filesystem::path(kit.folder.path().toStdString()) / "state" / "counters.json")
      << "{\"format\": \"diskvigil counter state\", \"version\": 1, \"machine\": \"x\", "
         "\"drives\": []}";
  form.CounterWarnCB->setChecked(false);
  form.CounterWarnCB->setChecked(true);
  QVERIFY2(form.StatusSB->currentMessage().contains("written on another machine"),
           qPrintable(form.StatusSB->currentMessage()));
  QCOMPARE(kit.icons.icons[0].borderColor, kLime);  // nothing stored: the next pass decides
  form.CheckHDDs();
  QCOMPARE(kit.icons.icons[0].borderColor, kYellow);  // 5 above 0 at first sight
  QCOMPARE(CautionBalloons(kit.icons).size(), size_t{1});
}

void CounterWarningsTest::offChangesNothing() {
  CounterWindow window(CounterDrives(), kOff);
  QVERIFY(!window.form->CounterWarnCB->isChecked());
  SetRaw(*window.kit.drives->FindDrive(0), 5, 9);
  window.form->CheckHDDs();
  SetRaw(*window.kit.drives->FindDrive(0), 5, 10);
  window.form->CheckHDDs();
  QCOMPARE(window.kit.icons.icons[0].borderColor, kLime);
  QVERIFY(window.kit.icons.balloons.size() <= 1);  // the drive list at start-up only
  QVERIFY(CautionBalloons(window.kit.icons).empty());
  QCOMPARE(window.composer.calls.size(), size_t{0});
  QVERIFY(!std::filesystem::exists(window.StatePath()));
  QVERIFY(window.form->SMARTForm()->CautionRows().empty());

  // Switched on, then off again: the frame goes back to lime at once.
  window.form->CounterWarnCB->setChecked(true);
  window.form->CheckHDDs();
  QCOMPARE(window.kit.icons.icons[0].borderColor, kYellow);
  window.form->CounterWarnCB->setChecked(false);
  QCOMPARE(window.kit.icons.icons[0].borderColor, kLime);
  QVERIFY(window.form->SMARTForm()->CautionRows().empty());
}

void CounterWarningsTest::smartWindowFramesTheRowsThatCausedIt() {
  CounterWindow window(CounterDrives(), kOn);
  SetRaw(*window.kit.drives->FindDrive(0), 197, 1);
  window.form->CheckHDDs();
  TSMARTForm& smart = *window.form->SMARTForm();
  QCOMPARE(smart.CautionRows(), std::set<uint8_t>{197});
  smart.show();
  StringGrid& grid = *smart.SMARTSG;
  int pendingRow = -1;
  int otherRow = -1;
  for (int row = 1; row < grid.RowCount(); ++row) {
    if (grid.Cell(0, row).startsWith("(C5h)")) pendingRow = row;
    if (grid.Cell(0, row).startsWith("(05h)")) otherRow = row;
  }
  QVERIFY(pendingRow > 0 && otherRow > 0);
  const QImage picture = grid.viewport()->grab().toImage();
  const QRect marked = grid.CellRect(0, pendingRow);
  const QRect plain = grid.CellRect(0, otherRow);
  QCOMPARE(QColor(picture.pixel(marked.topLeft())), QColor(255, 255, 0));
  QCOMPARE(QColor(picture.pixel(marked.left(), marked.center().y())), QColor(255, 255, 0));
  QVERIFY(QColor(picture.pixel(plain.topLeft())) != QColor(255, 255, 0));

  // Selecting the other drive, whose counters stand still, clears the marks.
  window.form->HDDCB->setCurrentIndex(1);
  window.form->HDDCBChange();
  QVERIFY(smart.CautionRows().empty());
}

void CounterWarningsTest::trayIconFrameIsYellow() {
  FakeNotificationArea area;
  DriveIcons icons(area);
  icons.SetVisible(0, true);
  icons.SetBorderColor(0, kYellow);
  const QImage picture = icons.Icon(0)->Picture();
  QCOMPARE(picture.pixel(0, 0), qRgb(255, 255, 0));
  QCOMPARE(picture.pixel(picture.width() - 1, picture.height() / 2), qRgb(255, 255, 0));
  QCOMPARE(picture.pixel(1, 1), qRgb(0, 0, 0));  // the background inside the frame
}

// Two drives giving one model and serial: the rise of one is nobody's, at no pass, and the status
// bar says why.
void CounterWarningsTest::drivesWithOneSerialAreNotWatched() {
  std::string twin = CounterDrive(1, "ST3500418AS", "ok");
  twin.replace(twin.find("SN1"), 3, "SN0");
  CounterWindow window(DrivesFromJson({CounterDrive(0, "ST3500418AS", "ok"), twin}), kOn);
  window.form->CounterWarnCB->setChecked(false);
  window.form->CounterWarnCB->setChecked(true);
  const QString note = window.form->StatusSB->currentMessage();
  SetRaw(*window.kit.drives->FindDrive(1), 197, 3);
  for (int pass = 0; pass < 4; ++pass) window.form->CheckHDDs();
  QCOMPARE(window.kit.icons.icons[0].borderColor, kLime);
  QCOMPARE(window.kit.icons.icons[1].borderColor, kLime);
  QVERIFY(CautionBalloons(window.kit.icons).empty());
  QCOMPARE(note, "Drives 1 and 2 give the same model and serial: their counters are not watched");
}

DISKVIGIL_QTEST_MAIN(CounterWarningsTest)
#include "CounterWarningsTest.moc"
