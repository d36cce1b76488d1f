// A recording stand-in for the temperature icons, for tests: keeps each icon's last state and
// every balloon asked for.
#pragma once

#include <QEvent>
#include <QTimer>
#include <QWidget>
#include <array>
#include <vector>

#include "app/TemperatureIcons.h"

namespace dv {

// The icons' colours as the program keeps them (0x00BBGGRR).
constexpr uint32_t kIconGreen = 0x0000FF00;
constexpr uint32_t kIconRed = 0x000000FF;

class FakeTemperatureIcons final : public TemperatureIcons {
 public:
  struct Icon {
    std::string text = "0";
    uint32_t fontColor = 0x0000FFFF;
    uint32_t backColor = 0;
    uint32_t borderColor = kIconGreen;
    std::string hint;
    bool visible = false;
    int textWrites = 0;
  };
  struct Balloon {
    int index = 0;
    std::string title;
    std::string text;
    BalloonKind kind = BalloonKind::None;
    int seconds = 0;
  };

  void SetText(int index, const std::string& text) override {
    icons.at(static_cast<size_t>(index)).text = text;
    ++icons.at(static_cast<size_t>(index)).textWrites;
  }
  void SetFontColor(int index, uint32_t color) override {
    icons.at(static_cast<size_t>(index)).fontColor = color;
  }
  void SetBackColor(int index, uint32_t color) override {
    icons.at(static_cast<size_t>(index)).backColor = color;
  }
  void SetBorderColor(int index, uint32_t color) override {
    icons.at(static_cast<size_t>(index)).borderColor = color;
  }
  void SetHint(int index, const std::string& hint) override {
    icons.at(static_cast<size_t>(index)).hint = hint;
  }
  void SetVisible(int index, bool visible) override {
    icons.at(static_cast<size_t>(index)).visible = visible;
  }
  void SetPopupMenu(QMenu* menu) override { popupMenu = menu; }
  // The owner hook, reduced to what the window relies on: its minimizing is reported as the
  // icon created last would report it (index 5), once the state change is through; the window
  // itself only reacts to the report.
  void SetOwner(QWidget* window) override {
    if (owner != nullptr) owner->removeEventFilter(&watch_);
    owner = window;
    if (owner != nullptr) owner->installEventFilter(&watch_);
  }
  bool ShowBalloon(int index, const std::string& title, const std::string& text, BalloonKind kind,
                   int seconds) override {
    balloons.push_back({index, title, text, kind, seconds});
    return icons.at(static_cast<size_t>(index)).visible;
  }

  std::array<Icon, kTemperatureIconCount> icons{};
  std::vector<Balloon> balloons;
  QMenu* popupMenu = nullptr;
  QWidget* owner = nullptr;
  int minimizeReports = 0;

 private:
  class OwnerWatch : public QObject {
   public:
    explicit OwnerWatch(FakeTemperatureIcons& icons) : icons_(icons) {}

   protected:
    bool eventFilter(QObject* watched, QEvent* event) override {
      if (watched != icons_.owner || event->type() != QEvent::WindowStateChange ||
          !icons_.owner->isMinimized())
        return false;
      QTimer::singleShot(0, this, [this] {
        if (icons_.owner == nullptr || !icons_.owner->isMinimized()) return;
        ++icons_.minimizeReports;
        if (icons_.onMinimizeToTray) icons_.onMinimizeToTray(kTemperatureIconCount - 1);
      });
      return true;
    }

   private:
    FakeTemperatureIcons& icons_;
  };
  OwnerWatch watch_{*this};
};

}  // namespace dv
