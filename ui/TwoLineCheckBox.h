// A check box whose caption wraps onto a second line when its room is narrow; text() stays the
// whole caption and a click anywhere on the box toggles it.
#pragma once

#include <QCheckBox>

namespace dv {

class TwoLineCheckBox : public QCheckBox {
  Q_OBJECT
 public:
  using QCheckBox::QCheckBox;

 protected:
  void paintEvent(QPaintEvent* event) override;
  bool hitButton(const QPoint& pos) const override;
};

}  // namespace dv
