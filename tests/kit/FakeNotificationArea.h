// A recording notification area for tests: it keeps every request, knows which icons are in the
// tray, and lets a test deliver mouse and balloon messages, the cursor and the modifier keys.
#pragma once

#include <map>
#include <vector>

#include "tray/NotificationArea.h"

namespace dv {

class FakeNotificationArea : public NotificationArea {
 public:
  struct Request {
    TrayOperation operation;
    NotifyIconData data;
    bool result;
  };
  struct Popup {
    QMenu* menu;
    QPoint at;
  };

  bool Send(TrayOperation operation, const NotifyIconData& data) override;
  void Attach(uintptr_t id, TrayMessageSink& sink) override;
  void Detach(uintptr_t id) override;
  std::optional<QPoint> CursorPosition() const override { return cursor; }
  uint32_t KeyboardShift() const override { return shift; }
  int DoubleClickTime() const override { return doubleClickTime; }
  void PopupMenu(QMenu& menu, QPoint at) override { popups.push_back({&menu, at}); }
  void SetMenu(uintptr_t id, QMenu* menu) override { menus[id] = menu; }
  bool TrayAvailable() const override { return available; }

  // Delivers a message as the platform would; false when no icon has that id.
  bool Deliver(uintptr_t id, uint32_t message);
  // The tray host restarted: every attached icon hears of it, and the tray is empty again.
  void RestartTray();
  // A tray host appears (the icons hear of it as of a restart) or goes away (its icons with it);
  // onTrayAvailabilityChanged is told either way.
  void SetAvailable(bool value);

  bool IsShown(uintptr_t id) const { return shown.contains(id); }
  const NotifyIconData* Shown(uintptr_t id) const;
  std::vector<Request> RequestsFor(uintptr_t id) const;
  // Balloons the platform would have shown (a modify with the info flag and a non-empty text).
  std::vector<NotifyIconData> BalloonsFor(uintptr_t id) const;

  std::vector<Request> requests;
  std::vector<Popup> popups;
  std::map<uintptr_t, QMenu*> menus;  // what each icon last handed over as its menu
  std::map<uintptr_t, NotifyIconData> shown;
  std::map<uintptr_t, TrayMessageSink*> sinks;
  std::optional<QPoint> cursor = QPoint(100, 200);
  uint32_t shift = 0;
  int doubleClickTime = 400;
  bool available = true;  // false: a machine without a tray refuses every request
};

}  // namespace dv
