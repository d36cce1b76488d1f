#include "app/AboutLinks.h"

#include <QDesktopServices>
#include <QDir>
#include <QFileInfo>
#include <QPainter>
#include <QPainterPath>

namespace dv {

QUrl HomePageUrl(const QString& applicationDir) {
  // Installed: <prefix>/bin/diskvigil and <prefix>/share/doc/diskvigil/README.md.
  const QString installed =
      QDir(applicationDir).absoluteFilePath(QStringLiteral("../share/doc/diskvigil/README.md"));
  if (QFileInfo::exists(installed)) return QUrl::fromLocalFile(QDir::cleanPath(installed));
  return QUrl::fromLocalFile(QStringLiteral(DISKVIGIL_SOURCE_DIR "/README.md"));
}

QUrl SupportMailUrl() {
  return QUrl(QStringLiteral("mailto:") + QString::fromLatin1(kSupportAddress) +
              QStringLiteral("?subject=Support"));
}

QUrl DonationPageUrl() { return QUrl(QString::fromLatin1(kDonationPageAddress)); }

QPixmap DonationPicture() {
  QPixmap picture(20, 18);
  picture.fill(Qt::transparent);
  QPainter painter(&picture);
  painter.setRenderHint(QPainter::Antialiasing);
  // Two round lobes meeting in a point at the bottom.
  QPainterPath heart;
  heart.moveTo(10, 16);
  heart.cubicTo(1, 10, 0, 5, 3, 2.5);
  heart.cubicTo(6, 0, 9, 1.5, 10, 4.5);
  heart.cubicTo(11, 1.5, 14, 0, 17, 2.5);
  heart.cubicTo(20, 5, 19, 10, 10, 16);
  painter.setPen(QPen(QColor(150, 0, 20), 1));
  painter.setBrush(QColor(220, 30, 50));
  painter.drawPath(heart);
  return picture;
}

bool OpenAboutLink(const QUrl& url) { return QDesktopServices::openUrl(url); }

}  // namespace dv
