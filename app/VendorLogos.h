// The makers' logos shown beside the selected drive: plain wordmarks we draw, black on white.
#pragma once

#include <QImage>
#include <QString>
#include <vector>

namespace dv {

inline constexpr int kLogoWidth = 121;
inline constexpr int kLogoHeight = 33;
inline constexpr int kLogoCount = 9;

// The maker's name for a logo image index 0..8 (the vendor table's order S, W, M, H, A, F, I, T,
// Q); empty for any other index.
QString LogoMakerName(int index);
// A 121 x 33 wordmark on white; a null image for an index without a logo. Needs a QGuiApplication.
QImage VendorLogo(int index);
// All nine, in index order.
std::vector<QImage> VendorLogos();

}  // namespace dv
