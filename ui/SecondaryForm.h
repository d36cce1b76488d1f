// The base of the program's secondary windows: created once at start, they live to the end, and
// closing one only hides it (keeping what it shows) unless the program is exiting.
#pragma once

#include <QCloseEvent>
#include <QDialog>
#include <functional>

namespace dv {

class TSecondaryForm : public QDialog {
  Q_OBJECT
 public:
  using QDialog::QDialog;

  // Set by the main window: true once Exit (or the end of the session) has begun.
  std::function<bool()> isExiting;

 protected:
  void closeEvent(QCloseEvent* event) override {
    if (isExiting && isExiting()) {
      QDialog::closeEvent(event);
      return;
    }
    hide();
    event->ignore();
  }
};

}  // namespace dv
