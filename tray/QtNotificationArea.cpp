#include "tray/QtNotificationArea.h"

#include <QCursor>
#include <QGuiApplication>
#include <QMenu>
#include <QStyleHints>
#include <utility>
#include <vector>

namespace dv {

namespace {

QSystemTrayIcon::MessageIcon MessageIconOf(uint32_t infoFlags) {
  switch (static_cast<TrayBalloonKind>(infoFlags & 0x3)) {
    case TrayBalloonKind::Info:
      return QSystemTrayIcon::Information;
    case TrayBalloonKind::Warning:
      return QSystemTrayIcon::Warning;
    case TrayBalloonKind::Error:
      return QSystemTrayIcon::Critical;
    case TrayBalloonKind::None:
      break;
  }
  return QSystemTrayIcon::NoIcon;
}

}  // namespace

QtNotificationArea::QtNotificationArea(std::unique_ptr<TrayHostWatch> hosts, QObject* parent,
                                       std::unique_ptr<DesktopNotifications> notifications)
    : QObject(parent),
      hosts(std::move(hosts)),
      notifications(std::move(notifications)),
      kind(this->hosts != nullptr ? TrayKind::Undecided : TrayKind::Platform),
      trayWasAvailable(TrayAvailable()) {
  if (this->notifications != nullptr) {
    this->notifications->onClicked = [this](uintptr_t id) { Deliver(id, {kNinBalloonUserClick}); };
  }
  if (this->hosts != nullptr) {
    this->hosts->onChanged = [this] { HostsChanged(); };
  } else {
    connect(&trayPoll, &QTimer::timeout, this, &QtNotificationArea::HostsChanged);
    trayPoll.start(kFallbackPollMs);
  }
}

QtNotificationArea::~QtNotificationArea() {
  if (hosts != nullptr) hosts->onChanged = nullptr;
  for (auto& [id, entry] : entries) delete entry.icon;
}

bool QtNotificationArea::Send(TrayOperation operation, const NotifyIconData& data) {
  switch (operation) {
    case TrayOperation::Add:
      return Add(data);
    case TrayOperation::Modify:
      return Modify(data);
    case TrayOperation::Delete:
      return Delete(data);
    case TrayOperation::SetVersion:
      return true;
  }
  return false;
}

bool QtNotificationArea::Add(const NotifyIconData& data) {
  if (!TrayAvailable()) return false;
  Entry& entry = entries[data.id];
  if (entry.icon == nullptr) {
    // The first icon is Qt's first tray question: it settles the kind for the process, by the
    // same rule the host watch reports.
    if (kind == TrayKind::Undecided) {
      kind = hosts->StatusNotifierHost() ? TrayKind::StatusNotifier : TrayKind::XEmbed;
    }
    entry.icon = new QSystemTrayIcon(this);
    const uintptr_t id = data.id;
    connect(entry.icon, &QSystemTrayIcon::activated, this,
            [this, id](QSystemTrayIcon::ActivationReason reason) { Activated(id, reason); });
    connect(entry.icon, &QSystemTrayIcon::messageClicked, this,
            [this, id] { Deliver(id, {kNinBalloonUserClick}); });
  }
  GiveMenu(entry);
  Apply(*entry.icon, data);
  // Qt embeds a shown icon again by itself when the tray host comes back.
  entry.icon->show();
  return true;
}

bool QtNotificationArea::Modify(const NotifyIconData& data) {
  auto it = entries.find(data.id);
  if (it == entries.end() || it->second.icon == nullptr) return false;
  QSystemTrayIcon& icon = *it->second.icon;
  Apply(icon, data);
  if ((data.flags & kNifInfo) != 0 && !data.info.isEmpty()) ShowBalloon(icon, data);
  return true;
}

void QtNotificationArea::ShowBalloon(QSystemTrayIcon& icon, const NotifyIconData& data) {
  // The record separates lines with carriage returns; Qt's pop-ups and notifications want line
  // feeds.
  QString text = data.info;
  text.replace(QStringLiteral("\r\n"), QStringLiteral("\n")).replace(QChar('\r'), QChar('\n'));
  const int timeoutMs = static_cast<int>(data.timeoutOrVersion);
  const uintptr_t id = data.id;
  if (kind == TrayKind::StatusNotifier && notifications != nullptr) {
    notifications->Show(id, data.infoTitle, text,
                        static_cast<TrayBalloonKind>(data.infoFlags & 0x3), timeoutMs);
  } else {
    icon.showMessage(data.infoTitle, text, MessageIconOf(data.infoFlags), timeoutMs);
  }
  QTimer::singleShot(0, this, [this, id] { Deliver(id, {kNinBalloonShow}); });
}

bool QtNotificationArea::Delete(const NotifyIconData& data) {
  auto it = entries.find(data.id);
  if (it == entries.end() || it->second.icon == nullptr) return false;
  it->second.icon->hide();
  it->second.icon->deleteLater();
  it->second.icon = nullptr;
  return true;
}

void QtNotificationArea::Apply(QSystemTrayIcon& icon, const NotifyIconData& data) {
  if ((data.flags & kNifIcon) != 0) icon.setIcon(data.icon);
  if ((data.flags & kNifTip) != 0) icon.setToolTip(data.tip);
}

void QtNotificationArea::Attach(uintptr_t id, TrayMessageSink& sink) { entries[id].sink = &sink; }

void QtNotificationArea::SetMenu(uintptr_t id, QMenu* menu) {
  Entry& entry = entries[id];
  entry.menu = menu;
  GiveMenu(entry);
}

void QtNotificationArea::GiveMenu(Entry& entry) {
  // Only the D-Bus host needs the menu from Qt; on XEmbed Qt would pop it up beside ours.
  if (kind != TrayKind::StatusNotifier || entry.icon == nullptr) return;
  if (entry.icon->contextMenu() != entry.menu.data()) entry.icon->setContextMenu(entry.menu.data());
}

QSystemTrayIcon* QtNotificationArea::TrayIconOf(uintptr_t id) const {
  auto it = entries.find(id);
  return it != entries.end() ? it->second.icon : nullptr;
}

void QtNotificationArea::Detach(uintptr_t id) {
  auto it = entries.find(id);
  if (it == entries.end()) return;
  // Later: the component may go away from inside one of its icon's own signals.
  if (it->second.icon != nullptr) it->second.icon->deleteLater();
  entries.erase(it);
}

std::optional<QPoint> QtNotificationArea::CursorPosition() const { return QCursor::pos(); }

uint32_t QtNotificationArea::KeyboardShift() const {
  const Qt::KeyboardModifiers modifiers = QGuiApplication::queryKeyboardModifiers();
  uint32_t shift = 0;
  if (modifiers & Qt::ShiftModifier) shift |= kShiftShift;
  if (modifiers & Qt::AltModifier) shift |= kShiftAlt;
  if (modifiers & Qt::ControlModifier) shift |= kShiftCtrl;
  return shift;
}

int QtNotificationArea::DoubleClickTime() const {
  return QGuiApplication::styleHints()->mouseDoubleClickInterval();
}

void QtNotificationArea::PopupMenu(QMenu& menu, QPoint at) {
  // The D-Bus host shows the menu Qt exported for the icon; one placed by us might never appear
  // and cannot be placed at all on Wayland.
  if (kind == TrayKind::StatusNotifier) return;
  menu.popup(at);
}

void QtNotificationArea::Deliver(uintptr_t id, std::initializer_list<uint32_t> messages) {
  for (uint32_t message : messages) {
    // Look the icon up for every message: a handler may delete it.
    auto it = entries.find(id);
    if (it == entries.end() || it->second.sink == nullptr) return;
    it->second.sink->TrayMessage(message);
  }
}

void QtNotificationArea::Activated(uintptr_t id, QSystemTrayIcon::ActivationReason reason) {
  switch (reason) {
    case QSystemTrayIcon::Trigger:
      Deliver(id, {kWmLButtonDown, kWmLButtonUp});
      break;
    case QSystemTrayIcon::DoubleClick:
      Deliver(id, {kWmLButtonDblClk, kWmLButtonUp});
      break;
    case QSystemTrayIcon::MiddleClick:
      Deliver(id, {kWmMButtonDown, kWmMButtonUp});
      break;
    case QSystemTrayIcon::Context:
      Deliver(id, {kWmRButtonDown, kWmRButtonUp});
      break;
    case QSystemTrayIcon::Unknown:
      break;
  }
}

bool QtNotificationArea::TrayAvailable() const {
  switch (kind) {
    case TrayKind::Undecided:
      return hosts->StatusNotifierHost() || hosts->XEmbedTray();
    case TrayKind::StatusNotifier:
      return hosts->StatusNotifierHost();
    case TrayKind::XEmbed:
      return hosts->XEmbedTray();
    case TrayKind::Platform:
      break;
  }
  return QSystemTrayIcon::isSystemTrayAvailable();
}

void QtNotificationArea::HostsChanged() {
  const bool available = TrayAvailable();
  if (available == trayWasAvailable) return;
  trayWasAvailable = available;
  if (available) {
    std::vector<TrayMessageSink*> sinks;
    for (const auto& [id, entry] : entries) {
      if (entry.sink != nullptr) sinks.push_back(entry.sink);
    }
    for (TrayMessageSink* sink : sinks) sink->TrayCreated();
  }
  if (onTrayAvailabilityChanged) onTrayAvailabilityChanged(available);
}

}  // namespace dv
