// The SMTP window: its look and layout, the tab order, the delay arrows, the connection security
// kept in the settings file, the test button and closing.
#include <QCheckBox>
#include <QComboBox>
#include <QGuiApplication>
#include <QLabel>
#include <QLineEdit>
#include <QScreen>
#include <QToolButton>
#include <QtTest/QtTest>

#include "kit/QtTestMain.h"
#include "ui/SMTPUnit.h"
#include "ui/UpDown.h"
#include "ui/WindowTestKit.h"

using namespace dv;
using namespace dv::testing;

namespace {

std::unique_ptr<SimulatedDriveSystem> OneDrive() {
  return DrivesFromJson({DriveJson(0, "ST3500418AS")});
}

QString Describe(const QWidget* widget) {
  const QRect r = widget->geometry();
  return QString("%1 at %2,%3 %4x%5")
      .arg(widget->metaObject()->className())
      .arg(r.x())
      .arg(r.y())
      .arg(r.width())
      .arg(r.height());
}

}  // namespace

class SMTPFormTest : public QObject {
  Q_OBJECT
 private slots:
  void windowAndControlsAsDesigned();
  void controlsSitInTheirColumnsAndRowsWithoutOverlap();
  void tabOrderRunsThroughTheSettings();
  void delayArrowsStepByFifteenWithinRange();
  void securityIsKeptInTheSettingsFile();
  void testButtonAndCloseBox();
};

void SMTPFormTest::windowAndControlsAsDesigned() {
  TSMTPForm form;
  QCOMPARE(form.windowTitle(), QString("SMTP Reports & Warnings"));
  QCOMPARE(form.size(), QSize(300, 131));
  QCOMPARE(form.minimumSize(), form.maximumSize());
  const Qt::WindowFlags flags = form.windowFlags();
  QVERIFY(flags & Qt::WindowCloseButtonHint);
  QVERIFY(!(flags & Qt::WindowMinimizeButtonHint) && !(flags & Qt::WindowMaximizeButtonHint));
  QVERIFY(!(flags & Qt::WindowContextHelpButtonHint));
  if (const QScreen* screen = QGuiApplication::primaryScreen()) {
    const QPoint off = form.frameGeometry().center() - screen->availableGeometry().center();
    QVERIFY2(off.manhattanLength() <= 2, "the window opens centred");
  }

  const std::vector<std::pair<QLabel*, QString>> labels{
      {form.SMTPPortNL, "Port:"},    {form.SMTPHostNL, "Host:"},   {form.SMTPLoginNL, "Login:"},
      {form.SMTPPswNL, "Password:"}, {form.SMTPMailNL, "E-Mail:"}, {form.SMTPFromNL, "From:"},
      {form.SMTPDelayNL, "min"}};
  for (const auto& [label, text] : labels) QCOMPARE(label->text(), text);
  QCOMPARE(form.SMTPReportsCB->text(), QString("Reports"));
  QCOMPARE(form.SMTPWarningsCB->text(), QString("Warnings"));
  QCOMPARE(form.AuthenticationCB->text(), QString("Authentication"));
  for (QCheckBox* box : {form.SMTPReportsCB, form.SMTPWarningsCB, form.AuthenticationCB}) {
    QVERIFY(!box->isChecked());
  }
  for (QLineEdit* edit :
       {form.SMTPHostE, form.SMTPLoginE, form.SMTPPswE, form.SMTPFromE, form.SMTPMailE}) {
    QVERIFY(edit->text().isEmpty());
  }
  QCOMPARE(form.SMTPPortE->text(), QString("25"));
  QCOMPARE(form.SMTPDelayE->text(), QString("20"));
  QCOMPARE(form.SendSMTPRepSB->toolTip(), QString("Send Test Report"));
  QVERIFY(!form.SendSMTPRepSB->icon().isNull());

  // The password is masked with "*".
  QCOMPARE(form.SMTPPswE->echoMode(), QLineEdit::Password);
  form.SMTPPswE->setText("abc");
  QCOMPARE(form.SMTPPswE->displayText(), QString("***"));

  // The security choice, beyond the server's own settings: none unless chosen.
  QCOMPARE(form.SMTPSecurityCB->count(), 3);
  QCOMPARE(form.SMTPSecurityCB->itemText(0), QString("None"));
  QCOMPARE(form.SMTPSecurityCB->itemText(1), QString("STARTTLS"));
  QCOMPARE(form.SMTPSecurityCB->itemText(2), QString("TLS"));
  QCOMPARE(form.Security(), 0);
  QCOMPARE(form.Settings().security, 0);
  QCOMPARE(form.Settings().port, std::string("25"));
}

void SMTPFormTest::controlsSitInTheirColumnsAndRowsWithoutOverlap() {
  TSMTPForm form;
  // Left column: labels at 4, fields at 44; right column: labels at 172, fields at 224.
  for (QWidget* label : std::initializer_list<QWidget*>{form.SMTPHostNL, form.SMTPLoginNL,
                                                        form.SMTPFromNL, form.SMTPMailNL}) {
    QCOMPARE(label->x(), 4);
  }
  for (QWidget* field : std::initializer_list<QWidget*>{form.SMTPHostE, form.SMTPLoginE,
                                                        form.SMTPFromE, form.SMTPMailE}) {
    QCOMPARE(field->x(), 44);
  }
  for (QWidget* label :
       std::initializer_list<QWidget*>{form.SMTPPortNL, form.SMTPPswNL, form.AuthenticationCB}) {
    QCOMPARE(label->x(), 172);
  }
  QCOMPARE(form.SMTPPortE->x(), 224);
  QCOMPARE(form.SMTPPswE->x(), 224);
  QCOMPARE(form.SMTPHostE->width(), 121);
  QCOMPARE(form.SMTPPortE->width(), 35);
  QCOMPARE(form.SMTPPswE->width(), 65);
  QCOMPARE(form.SMTPReportsCB->x(), 4);
  QCOMPARE(form.SMTPWarningsCB->x(), 4);

  // Rows top to bottom: host and port; login and password; sender and "Authentication";
  // recipients; "Reports" with the delay, "min" and the test button; "Warnings".
  const auto row = [](QWidget* widget) { return widget->geometry().center().y(); };
  const std::vector<std::vector<QWidget*>> rows{
      {form.SMTPHostNL, form.SMTPHostE, form.SMTPPortNL, form.SMTPPortE},
      {form.SMTPLoginNL, form.SMTPLoginE, form.SMTPPswNL, form.SMTPPswE},
      {form.SMTPFromNL, form.SMTPFromE, form.AuthenticationCB},
      {form.SMTPMailNL, form.SMTPMailE},
      {form.SMTPReportsCB, form.SMTPDelayE, form.SMTPDelayUD, form.SMTPDelayNL, form.SendSMTPRepSB},
      {form.SMTPWarningsCB}};
  for (size_t r = 0; r < rows.size(); ++r) {
    for (QWidget* widget : rows[r]) {
      QVERIFY2(std::abs(row(widget) - row(rows[r][0])) <= 3, qPrintable(widget->objectName()));
      if (r > 0) QVERIFY(row(widget) > row(rows[r - 1][0]) + 8);
    }
  }
  // In the row's order from left to right: check box, delay field, arrows, "min", test button.
  const std::vector<QWidget*>& fifth = rows[4];
  for (size_t i = 1; i < fifth.size(); ++i) QVERIFY(fifth[i]->x() > fifth[i - 1]->x());

  // Every control inside the client area, and none over another.
  QList<QWidget*> controls = form.findChildren<QWidget*>(QString(), Qt::FindDirectChildrenOnly);
  for (QWidget* control : controls) {
    QVERIFY(form.rect().contains(control->geometry()));
    for (QWidget* other : controls) {
      if (other == control) continue;
      QVERIFY2(!control->geometry().intersects(other->geometry()),
               qPrintable(Describe(control) + " over " + Describe(other)));
    }
  }
}

void SMTPFormTest::tabOrderRunsThroughTheSettings() {
  TSMTPForm form;
  const std::vector<QWidget*> expected{
      form.SMTPHostE,      form.SMTPPortE,        form.SMTPMailE,  form.SMTPPswE,
      form.SMTPFromE,      form.SMTPReportsCB,    form.SMTPDelayE, form.SMTPDelayUD,
      form.SMTPWarningsCB, form.AuthenticationCB, form.SMTPLoginE, form.SMTPSecurityCB};
  QWidget* widget = expected.front();
  for (size_t i = 1; i < expected.size(); ++i) {
    // Skip what takes no focus from the tab key (labels, the arrows' own buttons).
    do {
      widget = widget->nextInFocusChain();
    } while (!(widget->focusPolicy() & Qt::TabFocus) || widget->parentWidget() != &form);
    QCOMPARE(widget, expected[i]);
  }
}

void SMTPFormTest::delayArrowsStepByFifteenWithinRange() {
  TSMTPForm form;
  int clicks = 0;
  form.onDelayClicked = [&](int) { ++clicks; };
  UpDown& delay = *form.SMTPDelayUD;
  QCOMPARE(delay.Minimum(), 10);
  QCOMPARE(delay.Maximum(), 180);
  QStringList shown;
  for (int i = 0; i < 12; ++i) {
    delay.ClickUp();
    shown << form.SMTPDelayE->text();
  }
  QCOMPARE(shown.join(' '), QString("35 50 65 80 95 110 125 140 155 170 180 180"));
  QCOMPARE(clicks, 12);
  delay.SetPosition(20);
  QCOMPARE(clicks, 12);  // from code: quiet
  delay.ClickDown();
  QCOMPARE(delay.Position(), 10);
  delay.ClickDown();
  QCOMPARE(form.SMTPDelayE->text(), QString("10"));
  QVERIFY(form.SMTPDelayE->isReadOnly());
}

void SMTPFormTest::securityIsKeptInTheSettingsFile() {
  WindowTestKit kit(OneDrive());
  {
    auto form = kit.Start();
    form->SMTPSB->click();  // the main window shows the SMTP window modally
    QCOMPARE(kit.dialogs.lastModal, static_cast<QDialog*>(form->SMTPForm()));
    QCOMPARE(form->SMTPForm()->Security(), 0);
    form->SMTPForm()->SetSecurity(2);
    QVERIFY(form->SaveSettings());
  }
  QVERIFY(kit.ReadSettings().contains("SMTP Security=2"));
  QCOMPARE(kit.Start()->SMTPForm()->Security(), 2);

  // Anything but 0, 1 and 2 reads as none.
  for (const QByteArray stored : {"1", "3", "-1", "abc", "2x", ""}) {
    kit.WriteSettings("[Settings]\nSMTP Security=" + stored + "\n");
    const int expected = stored == "1" ? 1 : 0;
    QCOMPARE(kit.Start()->SMTPForm()->Security(), expected);
  }
  kit.WriteSettings("[Settings]\nSMTP Host=mail.example.org\n");
  QCOMPARE(kit.Start()->SMTPForm()->Security(), 0);
}

void SMTPFormTest::testButtonAndCloseBox() {
  TSMTPForm form;
  int sends = 0;
  form.onSendTestReport = [&] { ++sends; };
  form.SendSMTPRepSB->click();
  QCOMPARE(sends, 1);

  // Closing hides and keeps every value; while exiting it really closes.
  form.show();
  form.SMTPHostE->setText("mail.example.org");
  form.SMTPReportsCB->setChecked(true);
  QVERIFY(!form.close());
  QVERIFY(!form.isVisible());
  form.show();
  QCOMPARE(form.SMTPHostE->text(), QString("mail.example.org"));
  QVERIFY(form.SMTPReportsCB->isChecked());
  bool exiting = true;
  form.isExiting = [&] { return exiting; };
  QVERIFY(form.close());
}

DISKVIGIL_QTEST_MAIN(SMTPFormTest)
#include "SMTPFormTest.moc"
