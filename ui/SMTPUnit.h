// The SMTP settings window, with what start-up and the settings need so far: the server, the
// addresses, the password, and the report and warning switches with the report delay.
#pragma once

#include <QDialog>
#include <functional>

class QCheckBox;
class QLineEdit;

namespace dv {

class UpDown;

class TSMTPForm : public QDialog {
  Q_OBJECT
 public:
  explicit TSMTPForm(QWidget* parent = nullptr);

  // Set by the main window: the report timer follows the "Reports" box.
  std::function<void(bool)> onReportsSwitched;
  std::function<bool()> isExiting;

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

 protected:
  void closeEvent(QCloseEvent* event) override;
};

}  // namespace dv
