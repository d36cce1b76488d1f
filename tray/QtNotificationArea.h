// The notification area through Qt: one QSystemTrayIcon per icon. Qt's activation reasons become
// the plain mouse messages (a trigger is a press and a release; a double click is the double-click
// message and a release), balloons go through showMessage, and a tray host that appears after
// having been gone is reported as a re-created tray. On D-Bus tray desktops Qt never reports a
// double click and balloons become desktop notifications; a single click and the menu still work.
#pragma once

#include <QObject>
#include <QSystemTrayIcon>
#include <QTimer>
#include <map>

#include "tray/NotificationArea.h"

namespace dv {

class QtNotificationArea : public QObject, public NotificationArea {
 public:
  // trayPollMs: how often to look whether the tray host came back.
  explicit QtNotificationArea(int trayPollMs = 1000, QObject* parent = nullptr);
  ~QtNotificationArea() override;

  bool Send(TrayOperation operation, const NotifyIconData& data) override;
  void Attach(uintptr_t id, TrayMessageSink& sink) override;
  void Detach(uintptr_t id) override;
  std::optional<QPoint> CursorPosition() const override;
  uint32_t KeyboardShift() const override;
  int DoubleClickTime() const override;
  void PopupMenu(QMenu& menu, QPoint at) override;
  bool TrayAvailable() const override;

  // What an icon's activation becomes: the mouse messages a click of that kind would send.
  void Activated(uintptr_t id, QSystemTrayIcon::ActivationReason reason);

 private:
  struct Entry {
    TrayMessageSink* sink = nullptr;
    QSystemTrayIcon* icon = nullptr;  // present while the icon is in the tray
  };
  bool Add(const NotifyIconData& data);
  bool Modify(const NotifyIconData& data);
  bool Delete(const NotifyIconData& data);
  void Apply(QSystemTrayIcon& icon, const NotifyIconData& data);
  void Deliver(uintptr_t id, std::initializer_list<uint32_t> messages);
  void PollTray();

  std::map<uintptr_t, Entry> entries;
  QTimer trayPoll;
  bool trayWasAvailable;
};

}  // namespace dv
