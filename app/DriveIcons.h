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
  void SetOwner(QWidget* owner) override;

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

// Keeps the main window within reach while there is no tray to show the icons in: the window is
// shown, minimizing it keeps it on the task bar instead of hiding it, and the status bar says why.
// When a tray appears later (a panel that starts after the program) that is undone: the message
// goes, the window hides as at a normal start and minimizing sends it to the tray again. When the
// tray goes away it is applied again.
class TrayFallback {
 public:
  // Watches the area's availability from now on.
  TrayFallback(QWidget& mainWindow, QStatusBar& status, NotificationArea& area);
  ~TrayFallback();
  TrayFallback(const TrayFallback&) = delete;
  TrayFallback& operator=(const TrayFallback&) = delete;

  // The decision at start: applies the fallback when there is no tray. Returns whether it did.
  bool Start();
  void TrayAvailabilityChanged(bool available);
  bool Active() const { return filter_ != nullptr; }

 private:
  void Apply();
  void Undo();

  QWidget& mainWindow_;
  QStatusBar& status_;
  NotificationArea& area_;
  QObject* filter_ = nullptr;  // owned by the main window while installed
};

inline constexpr char kNoTrayMessage[] = "No system tray found, so this window stays open";

}  // namespace dv
