#include "app/VendorLogos.h"

#include <QFont>
#include <QFontMetrics>
#include <QPainter>
#include <array>

namespace dv {

namespace {

// Indexed by the vendor table's logo image index.
constexpr std::array<const char*, kLogoCount> kMakerNames{"Seagate", "Western Digital", "Samsung",
                                                          "Hitachi", "Maxtor",          "Fujitsu",
                                                          "IBM",     "Toshiba",         "Quantum"};

constexpr int kLogoMargin = 3;

// The largest bold size at which the name fits the picture.
QFont FittingFont(const QString& name) {
  QFont font(QStringLiteral("DejaVu Sans"));
  font.setBold(true);
  for (int pixels = 22; pixels > 6; --pixels) {
    font.setPixelSize(pixels);
    const QFontMetrics metrics(font);
    if (metrics.horizontalAdvance(name) <= kLogoWidth - 2 * kLogoMargin &&
        metrics.height() <= kLogoHeight - 2 * kLogoMargin)
      return font;
  }
  return font;
}

}  // namespace

QString LogoMakerName(int index) {
  if (index < 0 || index >= kLogoCount) return {};
  return QString::fromLatin1(kMakerNames[static_cast<std::size_t>(index)]);
}

QImage VendorLogo(int index) {
  const QString name = LogoMakerName(index);
  if (name.isEmpty()) return {};
  QImage image(kLogoWidth, kLogoHeight, QImage::Format_RGB32);
  image.fill(Qt::white);
  QPainter painter(&image);
  painter.setPen(QColor(0x20, 0x20, 0x20));
  painter.setFont(FittingFont(name));
  painter.drawText(image.rect(), Qt::AlignCenter, name);
  return image;
}

std::vector<QImage> VendorLogos() {
  std::vector<QImage> logos;
  for (int index = 0; index < kLogoCount; ++index) logos.push_back(VendorLogo(index));
  return logos;
}

}  // namespace dv
