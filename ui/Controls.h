// What the windows share in making and dressing their controls: the text of a value not known
// yet, the small flat tool buttons and the coloured label texts.
#pragma once

#include <QColor>
#include <QRect>
#include <QString>
#include <QStyle>

class QLabel;
class QToolButton;
class QWidget;

namespace dv {

// Shown in a value's label until the value is read, and when it cannot be.
inline const QString kNoValue = QStringLiteral("...");

// A flat tool button with one of the style's standard pictures, made when first drawn.
QToolButton* MakeSpeedButton(QWidget* parent, QStyle::StandardPixmap pixmap, const QString& hint,
                             const QRect& place);

// Through the palette, not a style sheet: a disabled label must still turn grey.
void SetTextColor(QLabel* label, const QColor& color);

}  // namespace dv
