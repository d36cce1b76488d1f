// The six per-drive temperature icons `HDD0I`..`HDD5I` as the main window sees them. Icon index
// 0..5 belongs to drive list position 1..6. The tray components implement this; the main window
// only ever talks to the icons through it, so tests hand in a recording fake.
#pragma once

#include <cstdint>
#include <functional>
#include <string>

class QMenu;
class QWidget;

namespace dv {

inline constexpr int kTemperatureIconCount = 6;

enum class BalloonKind { None, Info, Warning, Error };

class TemperatureIcons {
 public:
  virtual ~TemperatureIcons() = default;

  // Each setter takes effect in the notification area at once. Colours are 0x00BBGGRR.
  virtual void SetText(int index, const std::string& text) = 0;
  virtual void SetFontColor(int index, uint32_t color) = 0;
  virtual void SetBackColor(int index, uint32_t color) = 0;
  virtual void SetBorderColor(int index, uint32_t color) = 0;
  virtual void SetHint(int index, const std::string& hint) = 0;
  virtual void SetVisible(int index, bool visible) = 0;
  // The one menu shared by all six icons; the caller keeps it alive.
  virtual void SetPopupMenu(QMenu* menu) = 0;
  // The main window (null: none). The icons watch it and turn its minimizing into
  // onMinimizeToTray and hiding; the window itself does nothing of the kind.
  virtual void SetOwner(QWidget* owner) = 0;
  // False when the platform refuses the balloon (for example while the icon is hidden).
  virtual bool ShowBalloon(int index, const std::string& title, const std::string& text,
                           BalloonKind kind, int seconds) = 0;

  // Called with the icon index on a click on the icon.
  std::function<void(int)> onClick;
  // Called when the application is minimized and the icons turn that into hiding the window.
  std::function<void(int)> onMinimizeToTray;
};

// For runs without a notification area: accepts everything, shows nothing.
class NullTemperatureIcons final : public TemperatureIcons {
 public:
  void SetText(int, const std::string&) override {}
  void SetFontColor(int, uint32_t) override {}
  void SetBackColor(int, uint32_t) override {}
  void SetBorderColor(int, uint32_t) override {}
  void SetHint(int, const std::string&) override {}
  void SetVisible(int, bool) override {}
  void SetPopupMenu(QMenu*) override {}
  void SetOwner(QWidget*) override {}
  bool ShowBalloon(int, const std::string&, const std::string&, BalloonKind, int) override {
    return false;
  }
};

}  // namespace dv
