#include "ui/MBRUnit.h"

#include <QCloseEvent>

namespace dv {

TMBRForm::TMBRForm(QWidget* parent) : QDialog(parent) { setWindowTitle("MBR"); }

void TMBRForm::closeEvent(QCloseEvent* event) {
  if (isExiting && isExiting()) {
    QDialog::closeEvent(event);
    return;
  }
  hide();
  event->ignore();
}

}  // namespace dv
