// Which tray hosts the desktop has, watched rather than polled: a StatusNotifierWatcher with a
// registered host on the session bus (the D-Bus tray of KDE, GNOME with AppIndicator, XFCE, LXQt
// and the Wayland panels) and an XEmbed tray on X11 (the owner of the _NET_SYSTEM_TRAY_Sn
// selection). Qt settles on one tray kind for the whole process the first time anything asks it
// about the tray, so the notification area asks these watches first and Qt only once a host is
// there.
#pragma once

#include <functional>
#include <memory>

namespace dv {

class TrayHostWatch {
 public:
  virtual ~TrayHostWatch() = default;
  // A StatusNotifierWatcher is on the session bus and says a host is registered.
  virtual bool StatusNotifierHost() const = 0;
  // An XEmbed tray manager owns the tray selection of the display's screen.
  virtual bool XEmbedTray() const = 0;

  // Called (on the window thread) whenever either answer may have changed.
  std::function<void()> onChanged;
};

// The session bus side alone: watches org.kde.StatusNotifierWatcher on the process's one shared
// session-bus connection. Never reports an XEmbed tray.
std::unique_ptr<TrayHostWatch> CreateStatusNotifierWatch();

// The X11 side alone (the MANAGER message and the manager window's end), or null when the program
// does not run on X11.
std::unique_ptr<TrayHostWatch> CreateXEmbedWatch();

// Both, as this desktop offers them; null on a platform where neither kind exists (Qt's own answer
// is then the one to use).
std::unique_ptr<TrayHostWatch> CreateTrayHostWatch();

}  // namespace dv
