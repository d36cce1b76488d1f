// Report and warning mails from the main window: what a report says of each drive, the workers
// queueing on the mail lock with their own texts, the outcome in the status bar and the cursor,
// the report timer and its delay arrows, warnings from the monitoring pass, the test button, and
// Exit during a send.
#include <QApplication>
#include <QCheckBox>
#include <QLineEdit>
#include <QStatusBar>
#include <QTimer>
#include <QToolButton>
#include <QtTest/QtTest>
#include <thread>

#include "app/MailTestKit.h"
#include "kit/QtTestMain.h"
#include "ui/SMTPUnit.h"
#include "ui/UpDown.h"
#include "ui/WindowTestKit.h"

using namespace dv;
using namespace dv::testing;
using namespace std::chrono_literals;

namespace {

// A main window whose mails go to a recording sender and composer.
struct MailWindow {
  explicit MailWindow(std::unique_ptr<SimulatedDriveSystem> drives,
                      std::chrono::milliseconds idleTimeout = 100ms)
      : kit(std::move(drives)) {
    MainFormContext context = kit.Context();
    context.sendReport = sender.Function();
    context.composeReport = composer.Function();
    context.mailIdleTimeout = idleTimeout;
    form = std::make_unique<TMainForm>(std::move(context));
    kit.startup = form->FormCreate();
    if (kit.startup == StartupResult::Running) form->CreateMBRForm();
    sender.DropToken();
  }

  // Every worker started must be gone before the test ends.
  ~MailWindow() {
    sender.Release();
    form.reset();
    QTRY_VERIFY(!sender.Alive());
    // Outcomes still queued went with the window, and with them their cursor restores.
    while (QApplication::overrideCursor() != nullptr) QApplication::restoreOverrideCursor();
  }

  QString Status() const { return form->StatusSB->currentMessage(); }
  static bool Busy() {
    return QApplication::overrideCursor() != nullptr &&
           QApplication::overrideCursor()->shape() == Qt::WaitCursor;
  }

  RecordingSender sender;
  RecordingComposer composer;
  WindowTestKit kit;
  std::unique_ptr<TMainForm> form;
};

std::unique_ptr<SimulatedDriveSystem> GoodDrives() {
  return DrivesFromJson({DriveJson(0, "ST3500418AS", "ok", 35), DriveJson(1, "WDC WD5000AAKS")});
}

}  // namespace

class MailSenderTest : public QObject {
  Q_OBJECT
 private slots:
  void reportCarriesEachDrivesOwnVerdict();
  void twoSendsQueueOnTheLockWithTheirOwnTexts();
  void outcomeIsShownAndTheCursorRestored();
  void settingsAreReadFromTheWindowAtEachSend();
  void delayArrowsRetimeTheReportTimer();
  void reportsBoxAndTimerTickStartReports();
  void warningsMailOnlyWhenTickedAndFailing();
  void testButtonSendsWhateverTheSwitchesSay();
  void exitDuringASendWaitsThenSaves();
  void workerOutlivingTheWindowTouchesNothingOfIt();
};

void MailSenderTest::reportCarriesEachDrivesOwnVerdict() {
  MailWindow mail(DemoDrives());
  // The S.M.A.R.T. window shows the healthy first drive; the mail must still call the second
  // drive's verdict bad.
  mail.form->ReadSMARTShown(1);
  mail.form->StartMailReport();
  QCOMPARE(mail.composer.calls.size(), size_t{1});
  const std::vector<ReportDrive>& drives = mail.composer.calls[0];
  QCOMPARE(int(drives.size()), mail.form->Drives().DriveCount);
  const std::vector<std::string> verdicts{"O.K.", "ERROR", "O.K.", "...", "O.K.", "O.K."};
  for (size_t i = 0; i < drives.size(); ++i) {
    const Drive& drive = mail.form->Drives().At(int(i) + 1);
    QCOMPARE(drives[i].model, drive.ModelNumber);
    QCOMPARE(drives[i].smartStatus, verdicts[i]);
    QCOMPARE(drives[i].temperature, int(drive.Temperature));
  }
  QCOMPARE(drives[0].model, std::string("ST2000DM008-2FR102"));  // trimmed
  QTRY_COMPARE(mail.sender.Finished(), size_t{1});
  QCOMPARE(mail.sender.SentMails()[0].report.subject, std::string("report 1"));
}

void MailSenderTest::twoSendsQueueOnTheLockWithTheirOwnTexts() {
  MailWindow mail(GoodDrives());
  mail.sender.Hold();
  mail.form->StartMailReport();
  mail.form->StartMailReport();
  QTRY_COMPARE(mail.sender.Started(), size_t{1});
  // The second has read its settings and waits for the lock, not for the window.
  QTest::qWait(150);
  QCOMPARE(mail.sender.Started(), size_t{1});
  QVERIFY(!mail.kit.mailLock.WaitForMailIdle(0ms));
  QVERIFY(MailWindow::Busy());

  mail.sender.Release();
  QTRY_COMPARE(mail.sender.Finished(), size_t{2});
  QCOMPARE(mail.sender.MostAtOnce(), 1);
  std::vector<std::string> subjects;
  for (const auto& sent : mail.sender.SentMails()) {
    subjects.push_back(sent.report.subject);
    QCOMPARE(sent.report.body, "body " + sent.report.subject.substr(7) + "\r\n");
  }
  std::sort(subjects.begin(), subjects.end());
  QCOMPARE(subjects, (std::vector<std::string>{"report 1", "report 2"}));
  QTRY_VERIFY(QApplication::overrideCursor() == nullptr);
  QCOMPARE(mail.Status(), QString("Report sending O.K."));
  QVERIFY(mail.kit.mailLock.WaitForMailIdle(0ms));
}

void MailSenderTest::outcomeIsShownAndTheCursorRestored() {
  MailWindow mail(GoodDrives());
  QVERIFY(mail.Status().isEmpty());
  mail.sender.Hold();
  mail.form->StartMailReport();
  QTRY_COMPARE(mail.sender.Started(), size_t{1});
  QVERIFY(MailWindow::Busy());
  mail.sender.Release();
  QTRY_COMPARE(mail.Status(), QString("Report sending O.K."));
  QVERIFY(QApplication::overrideCursor() == nullptr);

  // A refused mail, one never connected, and a sender that breaks all read as failures.
  for (const MailResult& answer : {MailResult{1, "550 no such user"}, MailResult{255, "refused"}}) {
    mail.form->StatusSB->clearMessage();
    mail.sender.Answer(answer);
    mail.form->StartMailReport();
    QTRY_COMPARE(mail.Status(), QString("Report sending failed"));
    QVERIFY(QApplication::overrideCursor() == nullptr);
  }
  mail.form->StatusSB->clearMessage();
  mail.sender.Throw(true);
  mail.form->StartMailReport();
  QTRY_COMPARE(mail.Status(), QString("Report sending failed"));
  QVERIFY(QApplication::overrideCursor() == nullptr);
  QVERIFY(mail.kit.mailLock.WaitForMailIdle(0ms));
}

void MailSenderTest::settingsAreReadFromTheWindowAtEachSend() {
  MailWindow mail(GoodDrives());
  TSMTPForm& smtp = *mail.form->SMTPForm();
  smtp.SMTPHostE->setText("mail.example.org");
  smtp.SMTPPortE->setText("587");
  smtp.SMTPLoginE->setText("monitor");
  smtp.SMTPPswE->setText("s3cret");
  smtp.SMTPFromE->setText("Disks <disks@example.org>");
  smtp.SMTPMailE->setText("a@example.org, b@example.org");
  smtp.AuthenticationCB->setChecked(true);
  smtp.SetSecurity(1);
  mail.form->StartMailReport();
  QTRY_COMPARE(mail.sender.Finished(), size_t{1});
  smtp.SMTPPortE->setText("2x5");  // typed, never saved: the next send uses it
  smtp.SetSecurity(2);
  mail.form->StartMailReport();
  QTRY_COMPARE(mail.sender.Finished(), size_t{2});

  const auto sent = mail.sender.SentMails();
  const MailSettings& first = sent[0].settings;
  QCOMPARE(first.host, std::string("mail.example.org"));
  QCOMPARE(first.port, std::string("587"));
  QCOMPARE(first.login, std::string("monitor"));
  QCOMPARE(first.password, std::string("s3cret"));
  QCOMPARE(first.from, std::string("Disks <disks@example.org>"));
  QCOMPARE(first.mail, std::string("a@example.org, b@example.org"));
  QVERIFY(first.authentication);
  QCOMPARE(first.security, 1);
  QCOMPARE(sent[1].settings.port, std::string("2x5"));
  QCOMPARE(sent[1].settings.security, 2);
}

void MailSenderTest::delayArrowsRetimeTheReportTimer() {
  MailWindow mail(GoodDrives());
  TMainForm& form = *mail.form;
  UpDown& delay = *form.SMTPForm()->SMTPDelayUD;
  QCOMPARE(form.SMTPReportsTimer->interval(), 20 * 60000);
  delay.ClickUp();
  QCOMPARE(form.SMTPForm()->SMTPDelayE->text(), QString("35"));
  QCOMPARE(form.SMTPReportsTimer->interval(), 35 * 60000);
  delay.ClickUp();
  QCOMPARE(form.SMTPReportsTimer->interval(), 50 * 60000);
  for (int i = 0; i < 20; ++i) delay.ClickUp();
  QCOMPARE(delay.Position(), 180);
  QCOMPARE(form.SMTPReportsTimer->interval(), 180 * 60000);
  delay.SetPosition(20);  // from code, as loading does: the timer keeps its interval
  QCOMPARE(form.SMTPReportsTimer->interval(), 180 * 60000);
  delay.ClickDown();
  QCOMPARE(delay.Position(), 10);
  QCOMPARE(form.SMTPReportsTimer->interval(), 10 * 60000);
  delay.ClickDown();
  QCOMPARE(delay.Position(), 10);

  // A click that leaves the delay as it was does not put the next report off.
  form.SMTPForm()->SMTPReportsCB->setChecked(true);
  QTest::qWait(50);
  const int remaining = form.SMTPReportsTimer->remainingTime();
  delay.ClickDown();
  QVERIFY(form.SMTPReportsTimer->remainingTime() <= remaining);
}

void MailSenderTest::reportsBoxAndTimerTickStartReports() {
  MailWindow mail(GoodDrives());
  TMainForm& form = *mail.form;
  QVERIFY(!form.SMTPReportsTimer->isActive());
  form.SMTPForm()->SMTPReportsCB->setChecked(true);
  QVERIFY(form.SMTPReportsTimer->isActive());
  QVERIFY(form.SMTPReportsTimer->remainingTime() > 20 * 60000 - 5000);  // a full interval
  form.SMTPForm()->SMTPReportsCB->setChecked(false);
  QVERIFY(!form.SMTPReportsTimer->isActive());

  form.SMTPReportsTimer->setInterval(1);
  form.SMTPReportsTimer->start();
  QTRY_VERIFY(!mail.composer.calls.empty());
  form.SMTPReportsTimer->stop();
  QTRY_COMPARE(mail.Status(), QString("Report sending O.K."));

  // A stored "SMTP Reports" starts the timer at start-up, with the stored delay.
  MailWindow stored(GoodDrives());
  stored.form.reset();
  stored.kit.WriteSettings("[Settings]\nSMTP Reports=1\nSMTP Delay=50\n");
  auto again = stored.kit.Start();
  QVERIFY(again->SMTPReportsTimer->isActive());
  QCOMPARE(again->SMTPReportsTimer->interval(), 50 * 60000);
}

void MailSenderTest::warningsMailOnlyWhenTickedAndFailing() {
  MailWindow failing(DemoDrives());
  // The start-up pass found the failing drive with "Warnings" off.
  QCOMPARE(failing.composer.calls.size(), size_t{0});
  failing.form->SMARTTTimer();
  QCOMPARE(failing.composer.calls.size(), size_t{0});
  failing.form->SMTPForm()->SMTPWarningsCB->setChecked(true);
  failing.form->SMARTTTimer();
  failing.form->SMARTTTimer();
  QCOMPARE(failing.composer.calls.size(), size_t{2});  // every failing pass mails again
  QCOMPARE(failing.composer.calls[0][1].smartStatus, std::string("ERROR"));
  QTRY_COMPARE(failing.sender.Finished(), size_t{2});

  MailWindow healthy(GoodDrives());
  healthy.form->SMTPForm()->SMTPWarningsCB->setChecked(true);
  healthy.form->SMARTTTimer();
  QCOMPARE(healthy.composer.calls.size(), size_t{0});
}

void MailSenderTest::testButtonSendsWhateverTheSwitchesSay() {
  MailWindow mail(GoodDrives());
  TSMTPForm& smtp = *mail.form->SMTPForm();
  QVERIFY(!smtp.SMTPReportsCB->isChecked() && !smtp.SMTPWarningsCB->isChecked());
  smtp.SendSMTPRepSB->click();
  QCOMPARE(mail.composer.calls.size(), size_t{1});
  QTRY_COMPARE(mail.Status(), QString("Report sending O.K."));

  // Through the real send: a port text with a letter fails, and the cursor comes back.
  WindowTestKit kit(GoodDrives());
  auto form = kit.Start();
  form->SMTPForm()->SMTPHostE->setText("127.0.0.1");
  form->SMTPForm()->SMTPPortE->setText("2x5");
  form->SMTPForm()->SendSMTPRepSB->click();
  QTRY_COMPARE(form->StatusSB->currentMessage(), QString("Report sending failed"));
  QVERIFY(QApplication::overrideCursor() == nullptr);
  QVERIFY(kit.mailLock.WaitForMailIdle(2000ms));
}

void MailSenderTest::exitDuringASendWaitsThenSaves() {
  MailWindow mail(GoodDrives(), 10000ms);
  const QString settings = mail.kit.SettingsFile();
  std::atomic<bool> savedBeforeTheSendEnded = false;
  mail.sender.onFinish = [&] { savedBeforeTheSendEnded = QFile::exists(settings); };
  mail.sender.Delay(300ms);
  mail.form->SMTPForm()->SMTPReportsCB->setChecked(true);
  mail.form->StartMailReport();
  QTRY_COMPARE(mail.sender.Started(), size_t{1});
  mail.form->Exit1Click();
  QCOMPARE(mail.sender.Finished(), size_t{1});
  QVERIFY(!savedBeforeTheSendEnded);
  QCOMPARE(mail.kit.quits, 1);
  QVERIFY(QFile::exists(settings));
  QVERIFY(!mail.form->SMTPReportsTimer->isActive());

  // A send that outlasts the bounded wait holds Exit only that long; the settings are saved.
  MailWindow stuck(GoodDrives(), 150ms);
  stuck.sender.Hold();
  stuck.form->StartMailReport();
  QTRY_COMPARE(stuck.sender.Started(), size_t{1});
  QElapsedTimer clock;
  clock.start();
  stuck.form->Exit1Click();
  QVERIFY(clock.elapsed() < 5000);
  QCOMPARE(stuck.kit.quits, 1);
  QVERIFY(QFile::exists(stuck.kit.SettingsFile()));
  QCOMPARE(stuck.sender.Finished(), size_t{0});
}

void MailSenderTest::workerOutlivingTheWindowTouchesNothingOfIt() {
  RecordingSender sender;
  {
    auto kit = std::make_unique<WindowTestKit>(GoodDrives());
    MainFormContext context = kit->Context();
    context.sendReport = sender.Function();
    sender.DropToken();
    auto form = std::make_unique<TMainForm>(std::move(context));
    QCOMPARE(form->FormCreate(), StartupResult::Running);
    sender.Hold();
    form->StartMailReport();  // in the exchange when the window goes
    QTRY_COMPARE(sender.Started(), size_t{1});
    form->StartMailReport();  // has its settings and waits for the lock
    QTest::qWait(100);
    form->StartMailReport();  // still waits for its settings
    form->Exit1Click();       // gives up waiting after the bound
    QCOMPARE(kit->quits, 1);
    form.reset();
    kit.reset();  // the mail lock's owner
  }
  sender.Release();
  QTRY_VERIFY(!sender.Alive());
  QCOMPARE(sender.Finished(), size_t{2});
  QApplication::processEvents();
  QVERIFY(QApplication::overrideCursor() != nullptr);  // nobody was left to restore it
  while (QApplication::overrideCursor() != nullptr) QApplication::restoreOverrideCursor();
}

DISKVIGIL_QTEST_MAIN(MailSenderTest)
#include "MailSenderTest.moc"
