// Writes the picture the tray icon component paints for a text in the program's font, so a test
// can compare it with an icon photographed in a real tray.
// usage: tray_icon_picture TEXT FONT_COLOR BACK_COLOR BORDER_COLOR OUT.png
//        (colours as 0x00BBGGRR, decimal or 0x-prefixed hexadecimal)
#include <QGuiApplication>
#include <cstdio>
#include <cstdlib>

#include "tray/TextTrayIcon.h"

namespace {

bool ParseColor(const char* text, uint32_t& color) {
  char* end = nullptr;
  const unsigned long value = std::strtoul(text, &end, 0);
  if (end == text || *end != '\0' || value > 0xFFFFFFFFul) return false;
  color = static_cast<uint32_t>(value);
  return true;
}

}  // namespace

int main(int argc, char** argv) {
  if (argc != 6) {
    std::fprintf(stderr, "usage: %s TEXT FONT_COLOR BACK_COLOR BORDER_COLOR OUT.png\n", argv[0]);
    return 2;
  }
  dv::TextIconLook look;
  look.text = QString::fromUtf8(argv[1]);
  look.border = true;
  if (!ParseColor(argv[2], look.fontColor) || !ParseColor(argv[3], look.color) ||
      !ParseColor(argv[4], look.borderColor)) {
    std::fprintf(stderr, "%s: colours are numbers such as 0x0000FFFF\n", argv[0]);
    return 2;
  }
  QGuiApplication app(argc, argv);
  look.font = dv::SmallIconFont();
  if (!dv::RenderTextIcon(look).picture.save(QString::fromLocal8Bit(argv[5]), "PNG")) {
    std::fprintf(stderr, "%s: cannot write %s\n", argv[0], argv[5]);
    return 1;
  }
  return 0;
}
