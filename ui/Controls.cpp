#include "ui/Controls.h"

#include <QApplication>
#include <QLabel>
#include <QPalette>
#include <QToolButton>

#include "ui/LazyIcon.h"

namespace dv {

QToolButton* MakeSpeedButton(QWidget* parent, QStyle::StandardPixmap pixmap, const QString& hint,
                             const QRect& place) {
  auto* button = new QToolButton(parent);
  button->setIcon(LazyIcon([pixmap] { return QApplication::style()->standardIcon(pixmap); }));
  if (!hint.isEmpty()) button->setToolTip(hint);
  button->setAutoRaise(true);
  button->setGeometry(place);
  return button;
}

void SetTextColor(QLabel* label, const QColor& color) {
  QPalette palette = label->palette();
  for (auto group : {QPalette::Active, QPalette::Inactive}) {
    palette.setColor(group, QPalette::WindowText, color);
  }
  label->setPalette(palette);
}

}  // namespace dv
