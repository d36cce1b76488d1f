#include "ui/SMTPUnit.h"

#include <QCheckBox>
#include <QCloseEvent>
#include <QFormLayout>
#include <QHBoxLayout>
#include <QLineEdit>

#include "ui/UpDown.h"

namespace dv {

namespace {
constexpr int kDelayMinimum = 10;
constexpr int kDelayMaximum = 180;
constexpr int kDelayDefault = 20;
}  // namespace

TSMTPForm::TSMTPForm(QWidget* parent) : TSecondaryForm(parent) {
  setWindowTitle("SMTP Reports & Warnings");
  SMTPHostE = new QLineEdit(this);
  SMTPPortE = new QLineEdit("25", this);
  SMTPLoginE = new QLineEdit(this);
  SMTPPswE = new QLineEdit(this);
  SMTPPswE->setEchoMode(QLineEdit::Password);
  SMTPFromE = new QLineEdit(this);
  SMTPMailE = new QLineEdit(this);
  AuthenticationCB = new QCheckBox("Authentication", this);
  SMTPReportsCB = new QCheckBox("Reports", this);
  SMTPWarningsCB = new QCheckBox("Warnings", this);
  SMTPDelayE = new QLineEdit(this);
  SMTPDelayE->setReadOnly(true);
  SMTPDelayE->setMaximumWidth(48);
  SMTPDelayUD = new UpDown(kDelayMinimum, kDelayMaximum, 1, kDelayDefault, this);
  SMTPDelayUD->setFixedSize(16, 22);
  SMTPDelayUD->SetAssociate(SMTPDelayE);

  auto* delay = new QHBoxLayout;
  delay->setSpacing(0);
  delay->addWidget(SMTPDelayE);
  delay->addWidget(SMTPDelayUD);
  delay->addStretch();
  auto* form = new QFormLayout(this);
  form->addRow("SMTP Host:", SMTPHostE);
  form->addRow("Port:", SMTPPortE);
  form->addRow(QString(), AuthenticationCB);
  form->addRow("Login:", SMTPLoginE);
  form->addRow("Password:", SMTPPswE);
  form->addRow("From:", SMTPFromE);
  form->addRow("Mail to:", SMTPMailE);
  form->addRow(QString(), SMTPReportsCB);
  form->addRow(QString(), SMTPWarningsCB);
  form->addRow("Delay, min:", delay);

  // toggled() fires only on a real change, from a click or from code alike.
  connect(SMTPReportsCB, &QCheckBox::toggled, this, [this] { SMTPReportsCBClick(); });
}

void TSMTPForm::SMTPReportsCBClick() {
  if (onReportsSwitched) onReportsSwitched(SMTPReportsCB->isChecked());
}

}  // namespace dv
