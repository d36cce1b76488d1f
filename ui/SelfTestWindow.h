// The Self-Tests window: starts a short or extended self-test on the selected drive (or aborts
// one), shows its progress as the main window polls it, and lists the drive's own self-test log and
// error log. Below them the two self-test settings of all drives, "Self-Test Warnings" and
// "Self-Test Every" N days. The main window fills it; made on first use.
#pragma once

#include <QString>
#include <functional>

#include "core/SelfTestWatch.h"
#include "ui/SecondaryForm.h"

class QCheckBox;
class QLabel;
class QPushButton;
class QSpinBox;
class QTreeWidget;

namespace dv {

class TSelfTestForm : public TSecondaryForm {
  Q_OBJECT
 public:
  explicit TSelfTestForm(QWidget* parent = nullptr);

  void ShowDrive(const QString& title);
  void ShowProgress(const QString& text);
  void ShowSelfTestLog(const SelfTestLogReading& reading);
  void ShowErrorLog(const ErrorLogReading& reading);

  // Set by the main window: a click on one of the test buttons.
  std::function<void(SelfTestKind)> onStart;

  QLabel* DriveL;
  QPushButton* ShortB;
  QPushButton* ExtendedB;
  QPushButton* AbortB;
  QLabel* ProgressL;
  QTreeWidget* SelfTestLogT;
  QLabel* ErrorCountL;
  QTreeWidget* ErrorLogT;
  QCheckBox* SelfTestWarningsCB;  // "Self-Test Warnings"
  QSpinBox* SelfTestEveryE;       // "Self-Test Every" N days, 0 off
};

}  // namespace dv
