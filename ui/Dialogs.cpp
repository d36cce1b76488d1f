#include "ui/Dialogs.h"

#include <QColorDialog>
#include <QFileDialog>
#include <QMessageBox>

namespace dv {

void InteractiveDialogs::Message(QWidget* parent, const QString& caption, const QString& text,
                                 MessageKind kind) {
  const QMessageBox::Icon icon = kind == MessageKind::Warning ? QMessageBox::Warning
                                 : kind == MessageKind::Error ? QMessageBox::Critical
                                                              : QMessageBox::NoIcon;
  QMessageBox box(icon, caption, text, QMessageBox::Ok, parent);
  box.exec();
}

std::optional<QString> InteractiveDialogs::SaveFile(QFileDialog& dialog) {
  if (dialog.exec() != QDialog::Accepted || dialog.selectedFiles().isEmpty()) return std::nullopt;
  return dialog.selectedFiles().constFirst();
}

std::optional<QColor> InteractiveDialogs::ChooseColor(QColorDialog& dialog) {
  if (dialog.exec() != QDialog::Accepted) return std::nullopt;
  return dialog.selectedColor();
}

void InteractiveDialogs::ShowModal(QDialog& dialog) { dialog.exec(); }

}  // namespace dv
