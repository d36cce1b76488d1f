// The SMTP settings window: the mail server, the addresses and the password, the report and
// warning switches with the report delay, the connection security and the test button. Its
// controls are the live mail settings; the main window reads them at every send.
#pragma once

#include <functional>

#include "mail/ReportMail.h"
#include "ui/SecondaryForm.h"

class QCheckBox;
class QComboBox;
class QLabel;
class QLineEdit;
class QToolButton;

namespace dv {

class UpDown;

// The report delay's range in minutes, its arrow step and its initial value.
inline constexpr int kReportDelayMinimum = 10;
inline constexpr int kReportDelayMaximum = 180;
inline constexpr int kReportDelayStep = 15;
inline constexpr int kReportDelayDefault = 20;

class TSMTPForm : public TSecondaryForm {
  Q_OBJECT
 public:
  explicit TSMTPForm(QWidget* parent = nullptr);

  // Set by the main window: the report timer follows the "Reports" box and the delay arrows, and
  // the test button starts a report.
  std::function<void(bool)> onReportsSwitched;
  std::function<void(int)> onDelayClicked;
  std::function<void()> onSendTestReport;

  void SMTPReportsCBClick();
  void SMTPDelayUDClick();
  void SendSMTPRepSBClick();

  // The mail settings as the controls hold them now.
  MailSettings Settings() const;
  // The connection security, 0 none, 1 STARTTLS, 2 TLS; anything else selects none.
  int Security() const;
  void SetSecurity(int security);

  QToolButton* SendSMTPRepSB;
  QLabel* SMTPPortNL;
  QLabel* SMTPHostNL;
  QLabel* SMTPLoginNL;
  QLabel* SMTPPswNL;
  QLabel* SMTPMailNL;
  QLabel* SMTPFromNL;
  QLabel* SMTPDelayNL;
  QLineEdit* SMTPHostE;
  QLineEdit* SMTPPortE;
  QLineEdit* SMTPMailE;
  QLineEdit* SMTPPswE;
  QLineEdit* SMTPFromE;
  QCheckBox* SMTPReportsCB;
  QLineEdit* SMTPDelayE;
  UpDown* SMTPDelayUD;
  QCheckBox* SMTPWarningsCB;
  QCheckBox* AuthenticationCB;
  QLineEdit* SMTPLoginE;
  QLabel* SMTPSecurityNL;
  QComboBox* SMTPSecurityCB;
};

}  // namespace dv
