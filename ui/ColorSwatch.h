// A 10 x 10 colour sample: a black one-pixel frame over pixels 0..8 with the inside, pixels 1..7,
// filled with the colour it stands for. Clicking it emits clicked().
#pragma once

#include <QWidget>
#include <cstdint>

namespace dv {

// Colours travel as 0x00BBGGRR (red in the low byte) everywhere outside the widgets.
QColor ColorFromBgr(uint32_t bgr);
uint32_t BgrFromColor(const QColor& color);

class ColorSwatch : public QWidget {
  Q_OBJECT
 public:
  explicit ColorSwatch(QWidget* parent = nullptr);

  void Paint(uint32_t bgr);
  uint32_t Color() const { return color_; }
  // The picture as painted, for tests and screenshots.
  QImage Picture() const;

 signals:
  void clicked();

 protected:
  void paintEvent(QPaintEvent* event) override;
  void mouseReleaseEvent(QMouseEvent* event) override;

 private:
  uint32_t color_ = 0;
};

}  // namespace dv
