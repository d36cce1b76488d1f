// Writes the picture the tray icon component paints for a text in the program's font, so a test
// can compare it with an icon photographed in a real tray.
// usage: tray_icon_picture TEXT FONT_COLOR BACK_COLOR BORDER_COLOR OUT.png|OUT.argb
//        (colours as 0x00BBGGRR, decimal or 0x-prefixed hexadecimal). OUT.argb holds the picture
//        as a D-Bus tray item sends it: width and height as 32-bit big-endian numbers, then every
//        pixel as non-premultiplied ARGB32 in big-endian byte order, row by row.
#include <QFile>
#include <QGuiApplication>
#include <QImage>
#include <cstdio>
#include <cstdlib>

#include "tray/TextTrayIcon.h"

namespace {

void PutBigEndian(QByteArray& out, uint32_t value) {
  for (int shift = 24; shift >= 0; shift -= 8)
    out.append(static_cast<char>((value >> shift) & 0xFF));
}

bool WriteArgb(const QImage& picture, const QString& path) {
  const QImage argb = picture.convertToFormat(QImage::Format_ARGB32);
  QByteArray out;
  PutBigEndian(out, static_cast<uint32_t>(argb.width()));
  PutBigEndian(out, static_cast<uint32_t>(argb.height()));
  for (int y = 0; y < argb.height(); ++y) {
    for (int x = 0; x < argb.width(); ++x) PutBigEndian(out, argb.pixel(x, y));
  }
  QFile file(path);
  return file.open(QIODevice::WriteOnly) && file.write(out) == out.size();
}

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
    std::fprintf(stderr, "usage: %s TEXT FONT_COLOR BACK_COLOR BORDER_COLOR OUT.png|OUT.argb\n",
                 argv[0]);
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
  const QImage picture = dv::RenderTextIcon(look).picture;
  const QString out = QString::fromLocal8Bit(argv[5]);
  const bool written =
      out.endsWith(QStringLiteral(".argb")) ? WriteArgb(picture, out) : picture.save(out, "PNG");
  if (!written) {
    std::fprintf(stderr, "%s: cannot write %s\n", argv[0], argv[5]);
    return 1;
  }
  return 0;
}
