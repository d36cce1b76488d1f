// The About group's links, opened with the desktop's handler.
#pragma once

#include <QString>
#include <QUrl>

namespace dv {

inline constexpr const char* kSupportAddress = "support@diskvigil.invalid";

// The installed README (share/doc/diskvigil/README.md beside the program's prefix), else the one in
// the source tree, as a file:// address.
QUrl HomePageUrl(const QString& applicationDir);
// "mailto:" + the support address + "?subject=Support".
QUrl SupportMailUrl();
// Hands the address to the desktop; false when no handler took it.
bool OpenAboutLink(const QUrl& url);

}  // namespace dv
