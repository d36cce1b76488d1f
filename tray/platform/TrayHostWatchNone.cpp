// Platforms without a D-Bus session tray or X11: the tray is the platform's own business.
#include "tray/TrayHostWatch.h"

namespace dv {

std::unique_ptr<TrayHostWatch> CreateStatusNotifierWatch() { return nullptr; }
std::unique_ptr<TrayHostWatch> CreateXEmbedWatch() { return nullptr; }

}  // namespace dv
