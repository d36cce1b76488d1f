// The notification area through the shell's icon API with the version-2 record (Windows builds).
#pragma once

#include <map>

#include "tray/NotificationArea.h"

namespace dv {

class WindowsNotificationArea : public NotificationArea {
 public:
  WindowsNotificationArea();
  ~WindowsNotificationArea() override;
  WindowsNotificationArea(const WindowsNotificationArea&) = delete;
  WindowsNotificationArea& operator=(const WindowsNotificationArea&) = delete;

  bool Send(TrayOperation operation, const NotifyIconData& data) override;
  void Attach(uintptr_t id, TrayMessageSink& sink) override { sinks[id] = &sink; }
  void Detach(uintptr_t id) override { sinks.erase(id); }
  std::optional<QPoint> CursorPosition() const override;
  uint32_t KeyboardShift() const override;
  int DoubleClickTime() const override;
  void PopupMenu(QMenu& menu, QPoint at) override;

  // The hidden window's message handling; public for the window procedure only.
  bool HandleMessage(unsigned message, uintptr_t wParam, intptr_t lParam);

 private:
  void* window = nullptr;  // HWND of the hidden message window
  unsigned taskbarCreated = 0;
  std::map<uintptr_t, TrayMessageSink*> sinks;
};

}  // namespace dv
