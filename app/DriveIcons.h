// The six temperature icons HDD0I..HDD5I as text tray icons in the notification area, configured
// as the main window wants them: "0" in yellow on black in a lime frame, hidden until shown, each
// click and each minimize reported with the icon's index.
#pragma once

#include <array>
#include <memory>

#include "app/TemperatureIcons.h"
#include "tray/TextTrayIcon.h"

class QStatusBar;
class QWidget;

namespace dv {

class NotificationArea;

class DriveIcons final : public TemperatureIcons {
 public:
  explicit DriveIcons(NotificationArea& area, QWidget* owner = nullptr);
  ~DriveIcons() override;

  // The main window, once it exists: its minimizing becomes hiding.
  void SetOwner(QWidget* owner);

  void SetText(int index, const std::string& text) override;
  void SetFontColor(int index, uint32_t color) override;
  void SetBackColor(int index, uint32_t color) override;
  void SetBorderColor(int index, uint32_t color) override;
  void SetHint(int index, const std::string& hint) override;
  void SetVisible(int index, bool visible) override;
  void SetPopupMenu(QMenu* menu) override;
  bool ShowBalloon(int index, const std::string& title, const std::string& text, BalloonKind kind,
                   int seconds) override;

  // The icon of an index, or null outside 0..5.
  TTextTrayIcon* Icon(int index);

 private:
  std::array<std::unique_ptr<TTextTrayIcon>, kTemperatureIconCount> icons;
};

// With no notification area at all (on a real display) the icons cannot be shown and a hidden
// main window could never be reached: show it, keep minimizing from hiding it, and say why in the
// status bar. Returns whether that was needed.
bool KeepReachableWithoutTray(QWidget& mainWindow, QStatusBar& status);

inline constexpr char kNoTrayMessage[] = "No system tray found, so this window stays open";

}  // namespace dv
