#include "tray/TextTrayIcon.h"

#include <QFontMetrics>
#include <QGuiApplication>
#include <QPainter>
#include <QPalette>
#include <QPixmap>

namespace dv {

namespace {

constexpr uint32_t kSystemColorTag = 0xFF000000;
constexpr uint32_t kRgbMask = 0x00FFFFFF;

QPalette::ColorRole SystemColorRole(uint32_t index) {
  switch (index) {
    case 5:  // window background
      return QPalette::Base;
    case 8:  // window text
      return QPalette::WindowText;
    case 15:  // button face
      return QPalette::Button;
    default:
      return QPalette::Window;
  }
}

uint32_t BgrFromQColor(const QColor& color) {
  return static_cast<uint32_t>(color.red()) | (static_cast<uint32_t>(color.green()) << 8) |
         (static_cast<uint32_t>(color.blue()) << 16);
}

// The fill under the text: the background colour, unless the text would vanish in it (same colour)
// or there is no background; then the font colour inverted, which never equals the text.
uint32_t FillColor(const TextIconLook& look) {
  if (look.color == kClNone || look.color == look.fontColor) {
    return ColorToRgb(look.fontColor) ^ kRgbMask;
  }
  return look.color;
}

// A copy in ARGB with every pixel of the transparent colour made fully transparent.
QImage WithTransparentColor(const QImage& image, uint32_t transparent) {
  QImage out = image.convertToFormat(QImage::Format_ARGB32);
  if (transparent == kClNone) return out;
  const QRgb key = ToQColor(transparent).rgb() & 0x00FFFFFF;
  for (int y = 0; y < out.height(); ++y) {
    auto* line = reinterpret_cast<QRgb*>(out.scanLine(y));
    for (int x = 0; x < out.width(); ++x) {
      if ((line[x] & 0x00FFFFFF) == key) line[x] = 0;
    }
  }
  return out;
}

void DrawFrame(QPainter& painter, uint32_t color) {
  const QColor frame = ToQColor(color);
  painter.fillRect(0, 0, kTextIconSize, 1, frame);
  painter.fillRect(0, kTextIconSize - 1, kTextIconSize, 1, frame);
  painter.fillRect(0, 0, 1, kTextIconSize, frame);
  painter.fillRect(kTextIconSize - 1, 0, 1, kTextIconSize, frame);
}

// Draws one line with its cell's top-left corner at (x, top), as a text-out call places it.
void DrawLine(QPainter& painter, const QFontMetrics& metrics, int x, int top, const QString& line) {
  painter.drawText(x, top + metrics.ascent(), line);
}

void DrawText(QPainter& painter, const TextIconLook& look) {
  const QFontMetrics metrics = painter.fontMetrics();
  const int crAt = look.text.indexOf(QChar('\r'));
  if (crAt < 0) {
    const int left = (kTextIconCentre - metrics.horizontalAdvance(look.text)) / 2 + look.offsetX;
    const int top = (kTextIconCentre - metrics.height()) / 2 + look.offsetY;
    DrawLine(painter, metrics, left, top, look.text);
    return;
  }
  const QStringList lines = look.text.split(QChar('\r'));
  // The step is the height of the text from the first return on; every non-empty text measures
  // the font's full cell height.
  const int step = metrics.height() + look.lineDistance;
  const int count = static_cast<int>(lines.size());
  const int firstTop = (kTextIconCentre - count * step) / 2 + look.offsetY;
  for (int i = 0; i < count; ++i) {
    const int left = (kTextIconCentre - metrics.horizontalAdvance(lines[i])) / 2 + look.offsetX;
    DrawLine(painter, metrics, left, firstTop + i * step, lines[i]);
  }
}

}  // namespace

uint32_t ColorToRgb(uint32_t color) {
  if ((color & kSystemColorTag) == kSystemColorTag) {
    return BgrFromQColor(QGuiApplication::palette().color(SystemColorRole(color & 0xFF)));
  }
  return color & kRgbMask;
}

QColor ToQColor(uint32_t color) {
  const uint32_t rgb = ColorToRgb(color);
  return QColor(static_cast<int>(rgb & 0xFF), static_cast<int>((rgb >> 8) & 0xFF),
                static_cast<int>((rgb >> 16) & 0xFF));
}

QFont SmallIconFont() {
  QFont font(QStringLiteral("DejaVu Sans"));
  font.setPixelSize(9);
  font.setStyleStrategy(QFont::NoAntialias);
  return font;
}

PaintedText PaintText(const TextIconLook& look) {
  PaintedText out{QImage(kTextIconSize, kTextIconSize, QImage::Format_RGB32), FillColor(look)};
  out.bitmap.fill(ToQColor(out.keyColor));
  QPainter painter(&out.bitmap);
  painter.setRenderHint(QPainter::TextAntialiasing, false);
  painter.setFont(look.font);
  painter.setPen(ToQColor(look.fontColor));
  DrawText(painter, look);
  if (look.border) DrawFrame(painter, look.borderColor);
  return out;
}

RenderedIcon RenderTextIcon(const TextIconLook& look) {
  PaintedText painted = PaintText(look);
  if (!look.backgroundIcon.isNull()) {
    const uint32_t mask = FillColor(look);
    QImage work(kTextIconSize, kTextIconSize, QImage::Format_ARGB32);
    work.fill(ToQColor(mask));
    QPainter painter(&work);
    painter.drawImage(QRect(0, 0, kTextIconSize, kTextIconSize), look.backgroundIcon);
    // Only the text and the frame cover the background.
    painter.drawImage(0, 0, WithTransparentColor(painted.bitmap, painted.keyColor));
    painter.end();
    return {painted.bitmap, WithTransparentColor(work, mask), painted.keyColor};
  }
  // Without a background the square is opaque unless it has no colour of its own.
  const uint32_t key = look.color == kClNone ? painted.keyColor : kClNone;
  return {painted.bitmap, WithTransparentColor(painted.bitmap, key), key};
}

void TOffsetOptions::Change(int& field, int value) {
  if (field == value) return;
  field = value;
  if (OnChange) OnChange();
}

TTextTrayIcon::TTextTrayIcon(NotificationArea& area, QWidget* owner) : TTrayIcon(area, owner) {
  look.font = QGuiApplication::font();
  options.OnChange = [this] {
    look.offsetX = options.OffsetX();
    look.offsetY = options.OffsetY();
    look.lineDistance = options.LineDistance();
    Rebuild();
  };
}

void TTextTrayIcon::SetText(const QString& value) {
  look.text = value;
  Rebuild();
}

void TTextTrayIcon::SetFont(const QFont& value) {
  look.font = value;
  Rebuild();
}

void TTextTrayIcon::SetFontColor(uint32_t value) {
  look.fontColor = value;
  Rebuild();
}

void TTextTrayIcon::SetColor(uint32_t value) {
  look.color = value;
  Rebuild();
}

void TTextTrayIcon::SetBorder(bool value) {
  look.border = value;
  Rebuild();
}

void TTextTrayIcon::SetBorderColor(uint32_t value) {
  look.borderColor = value;
  Rebuild();
}

void TTextTrayIcon::SetBackgroundIcon(const QImage& value) {
  look.backgroundIcon = value;
  Rebuild();
}

void TTextTrayIcon::Rebuild() {
  SetCycleIcons(false);
  RenderedIcon rendered = RenderTextIcon(look);
  textBitmap = std::move(rendered.textBitmap);
  picture = std::move(rendered.picture);
  keyColor = rendered.keyColor;
  ++rebuildCount;
  SetIcon(QIcon(QPixmap::fromImage(picture)));
}

}  // namespace dv
