#include "ui/ColorSwatch.h"

#include <QImage>
#include <QMouseEvent>
#include <QPainter>

namespace dv {

namespace {
constexpr int kSwatchSize = 10;
}

QColor ColorFromBgr(uint32_t bgr) {
  return QColor(static_cast<int>(bgr & 0xFF), static_cast<int>((bgr >> 8) & 0xFF),
                static_cast<int>((bgr >> 16) & 0xFF));
}

uint32_t BgrFromColor(const QColor& color) {
  return static_cast<uint32_t>(color.red()) | (static_cast<uint32_t>(color.green()) << 8) |
         (static_cast<uint32_t>(color.blue()) << 16);
}

ColorSwatch::ColorSwatch(QWidget* parent) : QWidget(parent) {
  setFixedSize(kSwatchSize, kSwatchSize);
  setCursor(Qt::PointingHandCursor);
}

void ColorSwatch::Paint(uint32_t bgr) {
  color_ = bgr;
  update();
}

QImage ColorSwatch::Picture() const {
  QImage image(kSwatchSize, kSwatchSize, QImage::Format_ARGB32);
  image.fill(Qt::transparent);
  QPainter painter(&image);
  painter.setPen(Qt::black);
  painter.drawRect(0, 0, 8, 8);  // outline on pixels 0 and 8
  painter.fillRect(1, 1, 7, 7, ColorFromBgr(color_));
  return image;
}

void ColorSwatch::paintEvent(QPaintEvent*) {
  QPainter painter(this);
  painter.drawImage(0, 0, Picture());
}

void ColorSwatch::mouseReleaseEvent(QMouseEvent* event) {
  if (event->button() == Qt::LeftButton && rect().contains(event->position().toPoint())) {
    emit clicked();
  }
}

}  // namespace dv
