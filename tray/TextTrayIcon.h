// TTextTrayIcon: a tray icon whose picture is a short text painted into a 16 x 16 square. The
// painting is a pure function of the appearance (PaintText, RenderTextIcon) so it can be checked
// pixel by pixel; the component repaints on every change and hands the picture to the tray.
#pragma once

#include <QFont>
#include <QImage>
#include <QString>
#include <cstdint>
#include <functional>

#include "tray/TrayIcon.h"

namespace dv {

// Colours are 0x00BBGGRR; a value with the high byte 0xFF names a system colour.
inline constexpr uint32_t kClNone = 0x1FFFFFFF;
inline constexpr uint32_t kClBtnFace = 0xFF00000F;
inline constexpr uint32_t kClWindowText = 0xFF000008;
inline constexpr uint32_t kClBlack = 0x00000000;
inline constexpr uint32_t kClYellow = 0x0000FFFF;
inline constexpr uint32_t kClLime = 0x0000FF00;
inline constexpr int kTextIconSize = 16;
// Centring in the 16-pixel square uses 15, not 16 (one pixel further up and left).
inline constexpr int kTextIconCentre = 15;

// The plain RGB value (0x00BBGGRR) of a colour, with system colours taken from the palette.
uint32_t ColorToRgb(uint32_t color);
QColor ToQColor(uint32_t color);

// The font the program's temperature icons use: crisp digits at 9 pixels on every machine.
QFont SmallIconFont();

struct TextIconLook {
  QString text;  // a carriage return starts a new line
  QFont font;
  uint32_t fontColor = kClWindowText;
  uint32_t color = kClBtnFace;  // kClNone: transparent background
  bool border = false;
  uint32_t borderColor = kClBlack;
  int offsetX = 0;
  int offsetY = 0;
  int lineDistance = 0;
  QImage backgroundIcon;  // optional picture under the text
};

struct PaintedText {
  QImage bitmap;      // 16 x 16, opaque
  uint32_t keyColor;  // the colour the square was filled with
};

// The text bitmap: the square filled with the key colour, the centred text, the frame.
PaintedText PaintText(const TextIconLook& look);

struct RenderedIcon {
  QImage textBitmap;  // what PaintText made
  QImage picture;     // 16 x 16 ARGB: what the tray shows
  uint32_t keyColor;  // kClNone when the square is opaque
};

// The whole picture, with the background icon under it or the transparent colour taken out.
RenderedIcon RenderTextIcon(const TextIconLook& look);

class TOffsetOptions {
 public:
  int OffsetX() const { return offsetX; }
  int OffsetY() const { return offsetY; }
  int LineDistance() const { return lineDistance; }
  void SetOffsetX(int value) { Change(offsetX, value); }
  void SetOffsetY(int value) { Change(offsetY, value); }
  void SetLineDistance(int value) { Change(lineDistance, value); }

  std::function<void()> OnChange;

 private:
  void Change(int& field, int value);
  int offsetX = 0;
  int offsetY = 0;
  int lineDistance = 0;
};

class TTextTrayIcon : public TTrayIcon {
 public:
  explicit TTextTrayIcon(NotificationArea& area, QWidget* owner = nullptr);

  const QString& Text() const { return look.text; }
  void SetText(const QString& value);
  const QFont& Font() const { return look.font; }
  void SetFont(const QFont& value);
  uint32_t FontColor() const { return look.fontColor; }
  void SetFontColor(uint32_t value);
  uint32_t Color() const { return look.color; }
  void SetColor(uint32_t value);
  bool Border() const { return look.border; }
  void SetBorder(bool value);
  uint32_t BorderColor() const { return look.borderColor; }
  void SetBorderColor(uint32_t value);
  const QImage& BackgroundIcon() const { return look.backgroundIcon; }
  void SetBackgroundIcon(const QImage& value);
  TOffsetOptions& Options() { return options; }

  const QImage& TextBitmap() const { return textBitmap; }
  uint32_t KeyColor() const { return keyColor; }
  // The picture last handed to the tray (16 x 16 ARGB).
  const QImage& Picture() const { return picture; }
  int RebuildCount() const { return rebuildCount; }

 private:
  void Rebuild();

  TextIconLook look;
  TOffsetOptions options;
  QImage textBitmap;
  QImage picture;
  uint32_t keyColor = kClNone;
  int rebuildCount = 0;
};

}  // namespace dv
