// The notification area through Qt: one QSystemTrayIcon per icon. Qt's activation reasons become
// the plain mouse messages (a trigger is a press and a release; a double click is the double-click
// message and a release), balloons go through showMessage, and a tray host that appears after
// having been gone is reported as a re-created tray.
//
// Qt picks the tray kind once per process, at the first tray question: the D-Bus tray
// (StatusNotifierItem) when a StatusNotifierWatcher with a registered host is on the session bus,
// else XEmbed. So nothing here asks Qt before the host watch has seen a tray host; a panel that
// starts after the program then still gets the icons of the right kind. On the D-Bus kind each
// icon gets the menu through Qt, which exports it for the host to show (the host shows nothing
// else, and Qt never reports a double click there); on XEmbed the program pops the menu itself,
// as Qt would otherwise pop it up a second time. Balloons on the D-Bus kind go to the desktop's
// notifications through DesktopNotifications, each replacing its icon's previous one (Qt would add
// a new notification every time); on XEmbed Qt shows its own balloon, which replaces the last.
#pragma once

#include <QMenu>
#include <QObject>
#include <QPointer>
#include <QSystemTrayIcon>
#include <QTimer>
#include <map>
#include <memory>

#include "tray/DesktopNotifications.h"
#include "tray/NotificationArea.h"
#include "tray/TrayHostWatch.h"

namespace dv {

enum class TrayKind {
  Undecided,       // no icon has been made yet
  StatusNotifier,  // Qt exports the icons over D-Bus
  XEmbed,          // Qt embeds the icons into an X11 tray
  Platform,        // no host watch: whatever the platform's tray is
};

class QtNotificationArea : public QObject, public NotificationArea {
 public:
  // How often to ask Qt whether the tray came back where no host watch tells.
  static constexpr int kFallbackPollMs = 5000;

  // hosts: the tray hosts to go by, by default this desktop's; null asks Qt instead, slowly
  // polling. notifications: where the D-Bus kind's balloons go; null leaves them to Qt.
  explicit QtNotificationArea(
      std::unique_ptr<TrayHostWatch> hosts = CreateTrayHostWatch(), QObject* parent = nullptr,
      std::unique_ptr<DesktopNotifications> notifications = CreateDesktopNotifications());
  ~QtNotificationArea() override;

  bool Send(TrayOperation operation, const NotifyIconData& data) override;
  void Attach(uintptr_t id, TrayMessageSink& sink) override;
  void Detach(uintptr_t id) override;
  void SetMenu(uintptr_t id, QMenu* menu) override;
  std::optional<QPoint> CursorPosition() const override;
  uint32_t KeyboardShift() const override;
  int DoubleClickTime() const override;
  void PopupMenu(QMenu& menu, QPoint at) override;
  bool TrayAvailable() const override;

  // What an icon's activation becomes: the mouse messages a click of that kind would send.
  void Activated(uintptr_t id, QSystemTrayIcon::ActivationReason reason);

  TrayKind Kind() const { return kind; }
  // The Qt icon of an id while it is in the tray, else null.
  QSystemTrayIcon* TrayIconOf(uintptr_t id) const;
  bool Polling() const { return trayPoll.isActive(); }

 private:
  struct Entry {
    TrayMessageSink* sink = nullptr;
    QSystemTrayIcon* icon = nullptr;  // present while the icon is in the tray
    QPointer<QMenu> menu;
  };
  bool Add(const NotifyIconData& data);
  bool Modify(const NotifyIconData& data);
  bool Delete(const NotifyIconData& data);
  void Apply(QSystemTrayIcon& icon, const NotifyIconData& data);
  void GiveMenu(Entry& entry);
  void Deliver(uintptr_t id, std::initializer_list<uint32_t> messages);
  void HostsChanged();

  void ShowBalloon(QSystemTrayIcon& icon, const NotifyIconData& data);

  std::unique_ptr<TrayHostWatch> hosts;
  std::unique_ptr<DesktopNotifications> notifications;
  std::map<uintptr_t, Entry> entries;
  QTimer trayPoll;
  TrayKind kind;
  bool trayWasAvailable;
};

}  // namespace dv
