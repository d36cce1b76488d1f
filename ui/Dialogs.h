// The modal parts of the windows (message boxes, the save and colour dialogs, modal showing of a
// window) go through this seam, so tests can answer them without a person and without blocking.
#pragma once

#include <QColor>
#include <QString>
#include <optional>

class QColorDialog;
class QDialog;
class QFileDialog;
class QWidget;

namespace dv {

enum class MessageKind { Plain, Warning, Error };

class Dialogs {
 public:
  virtual ~Dialogs() = default;
  virtual void Message(QWidget* parent, const QString& caption, const QString& text,
                       MessageKind kind) = 0;
  // The chosen file, or nothing when the user cancels.
  virtual std::optional<QString> SaveFile(QFileDialog& dialog) = 0;
  // The chosen colour, or nothing when the user cancels; the dialog is preset already.
  virtual std::optional<QColor> ChooseColor(QColorDialog& dialog) = 0;
  virtual void ShowModal(QDialog& dialog) = 0;
};

// The real thing: the dialogs run their own event loops until the user answers.
class InteractiveDialogs final : public Dialogs {
 public:
  void Message(QWidget* parent, const QString& caption, const QString& text,
               MessageKind kind) override;
  std::optional<QString> SaveFile(QFileDialog& dialog) override;
  std::optional<QColor> ChooseColor(QColorDialog& dialog) override;
  void ShowModal(QDialog& dialog) override;
};

}  // namespace dv
