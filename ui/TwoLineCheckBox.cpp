#include "ui/TwoLineCheckBox.h"

#include <QStyleOptionButton>
#include <QStylePainter>

namespace dv {

namespace {

constexpr int kCaptionGap = 3;  // between the indicator and the caption

}  // namespace

void TwoLineCheckBox::paintEvent(QPaintEvent*) {
  QStylePainter painter(this);
  QStyleOptionButton option;
  initStyleOption(&option);
  const QString caption = option.text;
  option.text.clear();  // the style draws the indicator alone; the caption is wrapped here
  const QRect indicator = style()->subElementRect(QStyle::SE_CheckBoxIndicator, &option, this);
  painter.drawControl(QStyle::CE_CheckBox, option);
  const QRect captionRect = rect().adjusted(indicator.right() + 1 + kCaptionGap, 0, 0, 0);
  painter.setPen(
      palette().color(isEnabled() ? QPalette::Active : QPalette::Disabled, QPalette::WindowText));
  painter.drawText(captionRect, Qt::AlignLeft | Qt::AlignVCenter | Qt::TextWordWrap, caption);
}

bool TwoLineCheckBox::hitButton(const QPoint& pos) const { return rect().contains(pos); }

}  // namespace dv
