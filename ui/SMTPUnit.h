// The SMTP settings window, with what start-up and the settings need so far: the server, the
// addresses, the password, and the report and warning switches with the report delay.
#pragma once

#include <functional>

#include "ui/SecondaryForm.h"

class QCheckBox;
class QLineEdit;

namespace dv {

class UpDown;

class TSMTPForm : public TSecondaryForm {
  Q_OBJECT
 public:
  explicit TSMTPForm(QWidget* parent = nullptr);

  // Set by the main window: the report timer follows the "Reports" box.
  std::function<void(bool)> onReportsSwitched;

  void SMTPReportsCBClick();

  QLineEdit* SMTPHostE;
  QLineEdit* SMTPPortE;
  QLineEdit* SMTPLoginE;
  QLineEdit* SMTPPswE;
  QLineEdit* SMTPFromE;
  QLineEdit* SMTPMailE;
  QCheckBox* AuthenticationCB;
  QCheckBox* SMTPReportsCB;
  QCheckBox* SMTPWarningsCB;
  QLineEdit* SMTPDelayE;
  UpDown* SMTPDelayUD;
};

}  // namespace dv
