#include "app/AboutLinks.h"

#include <QDesktopServices>
#include <QDir>
#include <QFileInfo>

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

bool OpenAboutLink(const QUrl& url) { return QDesktopServices::openUrl(url); }

}  // namespace dv
