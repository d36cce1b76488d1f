// The settings file and the autorun entry through the main window: what a first start reads, what
// a save writes (and leaves alone), the value encodings, and a folder that cannot be written.
#include <QCheckBox>
#include <QLineEdit>
#include <QRadioButton>
#include <QTimer>
#include <QtTest/QtTest>

#include "kit/QtTestMain.h"
#include "ui/ColorSwatch.h"
#include "ui/SMARTFormUnit.h"
#include "ui/SMTPUnit.h"
#include "ui/UpDown.h"
#include "ui/WindowTestKit.h"

using namespace dv;
using namespace dv::testing;

namespace {

std::unique_ptr<SimulatedDriveSystem> SeagateAndWd5000() {
  return DrivesFromJson({DriveJson(0, "ST3500418AS"), DriveJson(1, "WDC WD5000AAKS")});
}

}  // namespace

class SettingsTest : public QObject {
  Q_OBJECT
 private slots:
  void firstStartHasTheDefaultsAndWritesNothing();
  void saveWritesListedPositionsOnlyAndKeepsTheRest();
  void numbersAndBooleansReadAsStored();
  void autorunFollowsTheBoxWithOneEntry();
  void unwritableFolderStopsTheSaveAndTheExit();
  void passwordAndStringsRoundTrip();
  void lineBreaksPastedIntoMailFieldsAreDropped();
};

void SettingsTest::firstStartHasTheDefaultsAndWritesNothing() {
  WindowTestKit kit(SeagateAndWd5000());
  auto form = kit.Start();
  QVERIFY(form->SMARTMonCB->isChecked());
  QCOMPARE(form->HDDRefreshIntUD->Position(), 15);
  QCOMPARE(form->HDDRefreshIntE->text(), QString("15"));
  for (int position = 1; position <= 6; ++position) {
    const Drive& drive = form->Drives().At(position);
    QVERIFY(drive.TrayIconOn);
    QCOMPARE(drive.TrayFontColor, 0xFFFFu);
    QCOMPARE(drive.TrayBackColor, 0u);
    QCOMPARE(kit.icons.icons[position - 1].fontColor, 0xFFFFu);
  }
  TSMTPForm& smtp = *form->SMTPForm();
  QCOMPARE(smtp.SMTPPortE->text(), QString("25"));
  QCOMPARE(smtp.SMTPDelayUD->Position(), 20);
  QVERIFY(smtp.SMTPHostE->text().isEmpty());
  QVERIFY(!smtp.SMTPReportsCB->isChecked() && !smtp.SMTPWarningsCB->isChecked());
  QVERIFY(!form->AlertCB->isChecked() && !form->BallHCB->isChecked());
  QVERIFY(!form->AutoRunCB->isChecked());
  QVERIFY(!QFile::exists(kit.SettingsFile()));
}

void SettingsTest::saveWritesListedPositionsOnlyAndKeepsTheRest() {
  WindowTestKit kit(SeagateAndWd5000());
  kit.WriteSettings(
      "[Settings]\nHDD3 Temperature Icon=0\nHDD3 Temperature Icon FColor=255\n"
      "HDD5 Temperature Icon BColor=16711680\n[Other]\nkept=yes\n");
  auto form = kit.Start();
  form->AlertCB->setChecked(true);
  form->HDDRefreshIntUD->ClickUp();
  form->SMARTForm()->RAWValuesDec->setChecked(true);
  QVERIFY(form->SaveSettings());
  const QByteArray file = kit.ReadSettings();
  QCOMPARE(SettingValue(file, "HDD1 Temperature Icon"), QString("1"));
  QCOMPARE(SettingValue(file, "HDD2 Temperature Icon FColor"), QString("65535"));
  QCOMPARE(SettingValue(file, "HDD2 Temperature Icon BColor"), QString("0"));
  // Positions above DriveCount keep what an older run stored.
  QCOMPARE(SettingValue(file, "HDD3 Temperature Icon"), QString("0"));
  QCOMPARE(SettingValue(file, "HDD3 Temperature Icon FColor"), QString("255"));
  QCOMPARE(SettingValue(file, "HDD5 Temperature Icon BColor"), QString("16711680"));
  QVERIFY(SettingValue(file, "HDD4 Temperature Icon").isNull());
  QCOMPARE(SettingValue(file, "Refresh Interval"), QString("30"));
  QCOMPARE(SettingValue(file, "RAW Values"), QString("1"));
  QCOMPARE(SettingValue(file, "Alert Sound"), QString("1"));
  QCOMPARE(SettingValue(file, "SMTP Port"), QString("25"));
  QCOMPARE(SettingValue(file, "SMTP Delay"), QString("20"));
  QVERIFY(file.contains("[Other]\nkept=yes"));
  // The colours of hidden rows were loaded all the same, and a later start still sees them.
  QCOMPARE(form->Drives().At(3).TrayFontColor, 255u);
  QVERIFY(!form->Drives().At(3).TrayIconOn);
}

void SettingsTest::numbersAndBooleansReadAsStored() {
  WindowTestKit kit(SeagateAndWd5000());
  kit.WriteSettings(
      "[settings]\n"
      "s.m.a.r.t. monitoring=yes\n"          // not a number: the default (on)
      "HDD1 Temperature Icon FColor=0xFF\n"  // hex forms read as red
      "HDD2 Temperature Icon FColor=$FF\n"
      "HDD3 Temperature Icon FColor=red\n"  // not a number: yellow
      "HDD4 Temperature Icon FColor= -1\n"
      "HDD1 Temperature Icon BColor=X10\n"
      "Alert Sound=2\n"  // any number but 0 is true
      "Balloon Hints=0\n"
      "SMTP Delay=abc\n");
  auto form = kit.Start();
  QVERIFY(form->SMARTMonCB->isChecked());
  QCOMPARE(form->Drives().At(1).TrayFontColor, 255u);
  QCOMPARE(form->Drives().At(2).TrayFontColor, 255u);
  QCOMPARE(form->Drives().At(3).TrayFontColor, 0xFFFFu);
  QCOMPARE(form->Drives().At(4).TrayFontColor, 0xFFFFFFFFu);
  QCOMPARE(form->Drives().At(1).TrayBackColor, 16u);
  QCOMPARE(kit.icons.icons[0].fontColor, 255u);
  QCOMPARE(form->HDDTempTrayFI[1]->Color(), 255u);
  QVERIFY(form->AlertCB->isChecked());
  QVERIFY(!form->BallHCB->isChecked());
  QCOMPARE(form->SMTPForm()->SMTPDelayUD->Position(), 20);
}

void SettingsTest::autorunFollowsTheBoxWithOneEntry() {
  WindowTestKit kit(SeagateAndWd5000());
  const std::string quoted = "\"/opt/diskvigil/bin/diskvigil\"";
  // Present with arguments after the quoted path: ticked, and not rewritten by a save.
  kit.autorun.command = quoted + " --demo";
  auto form = kit.Start();
  QVERIFY(form->AutoRunCB->isChecked());
  QVERIFY(form->SaveSettings());
  QVERIFY(form->SaveSettings());
  QCOMPARE(kit.autorun.writes, 0);
  QCOMPARE(*kit.autorun.command, quoted + " --demo");

  form->AutoRunCB->setChecked(false);
  QVERIFY(form->SaveSettings());
  QVERIFY(!kit.autorun.command.has_value());

  // An entry for a program that moved: clear at start; a ticked save writes the new path once.
  WindowTestKit moved(SeagateAndWd5000());
  moved.autorun.command = "\"/old/place/diskvigil\"";
  auto second = moved.Start();
  QVERIFY(!second->AutoRunCB->isChecked());
  second->AutoRunCB->setChecked(true);
  QVERIFY(second->SaveSettings());
  QVERIFY(second->SaveSettings());
  QCOMPARE(*moved.autorun.command, quoted);
  QCOMPARE(moved.autorun.writes, 1);
}

void SettingsTest::unwritableFolderStopsTheSaveAndTheExit() {
  WindowTestKit kit(SeagateAndWd5000());
  auto form = kit.Start();
  QFile blocker(kit.folder.filePath("blocker"));
  QVERIFY(blocker.open(QIODevice::WriteOnly));
  blocker.close();
  const QString unwritable = kit.folder.filePath("blocker/Diskvigil.ini");
  WindowTestKit other(SeagateAndWd5000());
  MainFormContext context = other.Context();
  context.settingsPath = unwritable.toStdString();
  TMainForm blocked(context);
  QCOMPARE(blocked.FormCreate(), StartupResult::Running);
  blocked.CreateMBRForm();
  blocked.SMTPForm()->SMTPReportsCB->setChecked(true);
  QVERIFY(blocked.SMTPReportsTimer->isActive());
  blocked.AutoRunCB->setChecked(true);

  blocked.SaveSettingsSBClick();
  QCOMPARE(other.dialogs.messages.size(), size_t{1});
  QCOMPARE(other.dialogs.messages[0].text, "Unable to write to " + unwritable);
  QVERIFY(!other.autorun.command.has_value());  // the autorun part is not reached

  blocked.Exit1Click();
  QCOMPARE(other.dialogs.messages.size(), size_t{2});
  QCOMPARE(other.quits, 0);
  QVERIFY(!blocked.Exiting());
  QVERIFY(!blocked.SMTPReportsTimer->isActive());  // stopped before the save
  QVERIFY(blocked.SMARTT->isActive());             // the program goes on
}

void SettingsTest::passwordAndStringsRoundTrip() {
  WindowTestKit kit(SeagateAndWd5000());
  {
    auto form = kit.Start();
    TSMTPForm& smtp = *form->SMTPForm();
    smtp.SMTPHostE->setText("mail.example.org");
    smtp.SMTPPswE->setText("s3cret; =x");
    smtp.SMTPDelayUD->ClickUp();
    smtp.AuthenticationCB->setChecked(true);
    QVERIFY(form->SaveSettings());
  }
  QCOMPARE(QFile(kit.SettingsFile()).permissions() &
               (QFile::ReadGroup | QFile::ReadOther | QFile::WriteGroup | QFile::WriteOther),
           QFile::Permissions());
  auto again = kit.Start();
  QCOMPARE(again->SMTPForm()->SMTPHostE->text(), QString("mail.example.org"));
  QCOMPARE(again->SMTPForm()->SMTPPswE->text(), QString("s3cret; =x"));
  QCOMPARE(again->SMTPForm()->SMTPDelayUD->Position(), 35);
  QCOMPARE(again->SMTPReportsTimer->interval(), 35 * 60000);
  QVERIFY(again->SMTPForm()->AuthenticationCB->isChecked());
}

// A settings value is one line: a pasted line break is left out of what is saved, instead of
// making every save (and so Exit) fail.
void SettingsTest::lineBreaksPastedIntoMailFieldsAreDropped() {
  WindowTestKit kit(SeagateAndWd5000());
  {
    auto form = kit.Start();
    TSMTPForm& smtp = *form->SMTPForm();
    smtp.SMTPHostE->setText("mail.example.org\r\n");
    smtp.SMTPLoginE->setText("\nuser");
    smtp.SMTPFromE->setText("from@\rexample.org");
    smtp.SMTPMailE->setText("a@example.org,\nb@example.org");
    smtp.SMTPPortE->setText("25\n");
    smtp.SMTPPswE->setText("pass\r\nword");
    form->Exit1Click();
    QCOMPARE(kit.dialogs.messages.size(), size_t{0});
    QCOMPARE(kit.quits, 1);
  }
  auto again = kit.Start();
  const TSMTPForm& smtp = *again->SMTPForm();
  QCOMPARE(smtp.SMTPHostE->text(), QString("mail.example.org"));
  QCOMPARE(smtp.SMTPLoginE->text(), QString("user"));
  QCOMPARE(smtp.SMTPFromE->text(), QString("from@example.org"));
  QCOMPARE(smtp.SMTPMailE->text(), QString("a@example.org,b@example.org"));
  QCOMPARE(smtp.SMTPPortE->text(), QString("25"));
  QCOMPARE(smtp.SMTPPswE->text(), QString("password"));
}

DISKVIGIL_QTEST_MAIN(SettingsTest)
#include "SettingsTest.moc"
