// The About group's links, opened with the desktop's handler.
#pragma once

#include <QPixmap>
#include <QString>
#include <QUrl>

namespace dv {

inline constexpr const char* kSupportAddress = "support@diskvigil.invalid";
inline constexpr const char* kDonationPageAddress = "https://diskvigil.invalid/donate";
// What the donation picture says when the pointer rests on it.
inline constexpr const char* kDonationHint = "Like Diskvigil? Help keep it going with a donation";

// The installed README (share/doc/diskvigil/README.md beside the program's prefix), else the one in
// the source tree, as a file:// address.
QUrl HomePageUrl(const QString& applicationDir);
// "mailto:" + the support address + "?subject=Support".
QUrl SupportMailUrl();
// The donation page.
QUrl DonationPageUrl();
// The donation link's picture: a small red heart on a transparent ground, drawn here.
QPixmap DonationPicture();
// Hands the address to the desktop; false when no handler took it.
bool OpenAboutLink(const QUrl& url);

}  // namespace dv
