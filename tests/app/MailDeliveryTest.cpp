// The tray program's mails reaching a real SMTP server on loopback: the test button's report and
// the monitoring pass's warning, through the window's own worker, the real client and Debian's
// aiosmtpd, with each drive's own verdict in the body.
#include <QCheckBox>
#include <QLineEdit>
#include <QStatusBar>
#include <QToolButton>
#include <QtTest/QtTest>
#include <regex>

#include "kit/QtTestMain.h"
#include "mail/MailSink.h"
#include "ui/SMTPUnit.h"
#include "ui/WindowTestKit.h"

using namespace dv;
using namespace dv::testing;
using namespace std::chrono_literals;

namespace {

constexpr int kDeliveryTimeoutMs = 15000;

struct DeliveryWindow {
  DeliveryWindow() : kit(DemoDrives()) {
    MainFormContext context = kit.Context();
    context.mailIdleTimeout = 10s;
    form = std::make_unique<TMainForm>(std::move(context));
    kit.startup = form->FormCreate();
    form->CreateMBRForm();
  }

  // No worker may outlive the test: wait for the last one to let go of the lock.
  ~DeliveryWindow() {
    if (!kit.mailLock.WaitForMailIdle(10s)) qWarning("a mail worker was still sending");
    form.reset();
  }

  void PointAt(const test::MailSink& sink) {
    TSMTPForm& smtp = *form->SMTPForm();
    smtp.SMTPHostE->setText("127.0.0.1");
    smtp.SMTPPortE->setText(QString::number(sink.Port()));
    smtp.SMTPFromE->setText("Disk Watch <watch@example.org>");
    smtp.SMTPMailE->setText("ops@example.org, \"Night, Shift\" <night@example.org>");
  }

  QString Status() const { return form->StatusSB->currentMessage(); }

  WindowTestKit kit;
  std::unique_ptr<TMainForm> form;
};

std::vector<std::string> HeaderNames(const std::string& raw) {
  std::vector<std::string> names;
  const std::string head = raw.substr(0, raw.find("\r\n\r\n"));
  std::istringstream lines(head);
  for (std::string line; std::getline(lines, line);) {
    if (!line.empty() && line[0] != ' ') names.push_back(line.substr(0, line.find(':')));
  }
  return names;
}

}  // namespace

class MailDeliveryTest : public QObject {
  Q_OBJECT
 private slots:
  void init() {
    if (!test::MailSinkAvailable()) QSKIP("needs /usr/bin/python3 with aiosmtpd");
  }
  void testButtonReportArrivesWithEachDrivesVerdict();
  void warningFromThePassArrivesAuthenticated();
  void refusedConnectionShowsTheFailure();
};

void MailDeliveryTest::testButtonReportArrivesWithEachDrivesVerdict() {
  test::MailSink sink;
  QVERIFY(sink.Running());
  DeliveryWindow window;
  QCOMPARE(window.kit.startup, StartupResult::Running);
  window.PointAt(sink);
  // The S.M.A.R.T. window shows the healthy first drive; the failing second one must still say so.
  window.form->ReadSMARTShown(1);
  window.form->SMTPForm()->SendSMTPRepSB->click();
  QTRY_COMPARE_WITH_TIMEOUT(window.Status(), QString("Report sending O.K."), kDeliveryTimeoutMs);

  const auto mails = sink.Mails();
  QCOMPARE(mails.size(), size_t{1});
  const std::string& raw = mails[0].raw;
  QCOMPARE(mails[0].envelope["mail_from"].get<std::string>(), std::string("watch@example.org"));
  QCOMPARE(mails[0].envelope["rcpt_tos"].size(), size_t{2});
  QCOMPARE(HeaderNames(raw), (std::vector<std::string>{"From", "Subject", "To", "Date",
                                                       "X-Priority", "X-Library", "X-Mailer"}));
  QVERIFY(raw.find("From: \"Disk Watch\" <watch@example.org>\r\n") != std::string::npos);
  QVERIFY(raw.find("To: ops@example.org, \"Night, Shift\" <night@example.org>\r\n") !=
          std::string::npos);
  QVERIFY(raw.find("X-Mailer: Diskvigil\r\n") != std::string::npos);
  QVERIFY(std::regex_search(raw, std::regex("Date: [A-Z][a-z]{2}, \\d{1,2} [A-Z][a-z]{2} \\d{4} "
                                            "\\d\\d:\\d\\d:\\d\\d [+-]\\d{4}\r\n")));
  const std::string body = raw.substr(raw.find("\r\n\r\n") + 4);
  QVERIFY(body.rfind("Diskvigil Report - ", 0) == 0);
  QVERIFY(body.find("ST2000DM008-2FR102:\r\n\r\nS.M.A.R.T.: O.K.\r\n") != std::string::npos);
  QVERIFY(body.find("WDC WD10EZEX-08WN4A0:\r\n\r\nS.M.A.R.T.: ERROR\r\nTemperature: 40 \xB0"
                    "C\r\n\r\n\r\n") != std::string::npos);
}

void MailDeliveryTest::warningFromThePassArrivesAuthenticated() {
  test::MailSink sink({"--auth", "watch:secret"});
  QVERIFY(sink.Running());
  DeliveryWindow window;
  window.PointAt(sink);
  TSMTPForm& smtp = *window.form->SMTPForm();
  smtp.AuthenticationCB->setChecked(true);
  smtp.SMTPLoginE->setText("watch");
  smtp.SMTPPswE->setText("secret");

  window.form->CheckHDDs();  // warnings off: the failing drive sends nothing
  QTest::qWait(300);
  QVERIFY(sink.Mails().empty());

  smtp.SMTPWarningsCB->setChecked(true);
  window.form->CheckHDDs();
  QTRY_COMPARE_WITH_TIMEOUT(window.Status(), QString("Report sending O.K."), kDeliveryTimeoutMs);
  const auto mails = sink.Mails();
  QCOMPARE(mails.size(), size_t{1});
  QCOMPARE(mails[0].envelope["login"].get<std::string>(), std::string("watch"));
  QVERIFY(mails[0].raw.find("S.M.A.R.T.: ERROR") != std::string::npos);
}

void MailDeliveryTest::refusedConnectionShowsTheFailure() {
  int port = 0;
  {
    test::MailSink gone;  // a port that was just free and now has nobody listening
    port = gone.Port();
  }
  DeliveryWindow window;
  TSMTPForm& smtp = *window.form->SMTPForm();
  smtp.SMTPHostE->setText("127.0.0.1");
  smtp.SMTPPortE->setText(QString::number(port));
  smtp.SMTPMailE->setText("ops@example.org");
  window.form->StartMailReport();
  QTRY_COMPARE_WITH_TIMEOUT(window.Status(), QString("Report sending failed"), kDeliveryTimeoutMs);
  QTRY_VERIFY(QApplication::overrideCursor() == nullptr);
}

DISKVIGIL_QTEST_MAIN(MailDeliveryTest)
#include "MailDeliveryTest.moc"
