#include "ui/UpDown.h"

#include <QLineEdit>
#include <QToolButton>
#include <QVBoxLayout>
#include <algorithm>

namespace dv {

UpDown::UpDown(int minimum, int maximum, int step, int position, QWidget* parent)
    : QWidget(parent),
      minimum_(minimum),
      maximum_(maximum),
      step_(step),
      position_(std::clamp(position, minimum, maximum)),
      up_(new QToolButton(this)),
      down_(new QToolButton(this)) {
  up_->setArrowType(Qt::UpArrow);
  down_->setArrowType(Qt::DownArrow);
  for (QToolButton* button : {up_, down_}) {
    button->setAutoRepeat(true);
    button->setFocusPolicy(Qt::NoFocus);
    button->setSizePolicy(QSizePolicy::Expanding, QSizePolicy::Expanding);
  }
  auto* layout = new QVBoxLayout(this);
  layout->setContentsMargins(0, 0, 0, 0);
  layout->setSpacing(0);
  layout->addWidget(up_);
  layout->addWidget(down_);
  connect(up_, &QToolButton::clicked, this, [this] { Step(+1); });
  connect(down_, &QToolButton::clicked, this, [this] { Step(-1); });
}

void UpDown::SetAssociate(QLineEdit* edit) {
  associate_ = edit;
  ShowPosition();
}

void UpDown::SetPosition(int position) {
  position_ = std::clamp(position, minimum_, maximum_);
  ShowPosition();
}

void UpDown::Step(int direction) {
  // A click at a limit keeps the position but still counts as a click.
  position_ = std::clamp(position_ + direction * step_, minimum_, maximum_);
  ShowPosition();
  emit clicked();
}

void UpDown::ShowPosition() {
  if (associate_ != nullptr) associate_->setText(QString::number(position_));
}

}  // namespace dv
