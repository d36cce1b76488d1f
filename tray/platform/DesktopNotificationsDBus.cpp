// Balloons as org.freedesktop.Notifications notifications on the session bus, each icon's Notify
// naming the id the server gave its previous one (replaces_id), so that the server updates that
// notification instead of adding one. Calls are asynchronous: a server that hangs never holds the
// window thread, and a balloon asked for while the previous call is still out waits for its id.
#include <QCoreApplication>
#include <QDBusConnection>
#include <QDBusMessage>
#include <QDBusPendingCallWatcher>
#include <QDBusPendingReply>
#include <QGuiApplication>
#include <QObject>
#include <QStringList>
#include <QVariantMap>
#include <map>
#include <optional>
#include <utility>

#include "tray/DesktopNotifications.h"

namespace dv {

namespace {

const QString kService = QStringLiteral("org.freedesktop.Notifications");
const QString kPath = QStringLiteral("/org/freedesktop/Notifications");
const QString kDefaultAction = QStringLiteral("default");
constexpr int kNotifyTimeoutMs = 5000;

QString IconNameOf(TrayBalloonKind kind) {
  switch (kind) {
    case TrayBalloonKind::Info:
      return QStringLiteral("dialog-information");
    case TrayBalloonKind::Warning:
      return QStringLiteral("dialog-warning");
    case TrayBalloonKind::Error:
      return QStringLiteral("dialog-error");
    case TrayBalloonKind::None:
      break;
  }
  return {};
}

// The urgency levels 0 low, 1 normal, 2 critical, as Qt gives its balloons.
uchar UrgencyOf(TrayBalloonKind kind) {
  switch (kind) {
    case TrayBalloonKind::Info:
      return 0;
    case TrayBalloonKind::Error:
      return 2;
    case TrayBalloonKind::Warning:
    case TrayBalloonKind::None:
      break;
  }
  return 1;
}

class FreedesktopNotifications : public QObject, public DesktopNotifications {
  Q_OBJECT

 public:
  explicit FreedesktopNotifications(QDBusConnection bus) : bus_(std::move(bus)) {
    bus_.connect(kService, kPath, kService, QStringLiteral("ActionInvoked"), this,
                 SLOT(ActionInvoked(uint, QString)));
  }

  void Show(uintptr_t id, const QString& title, const QString& text, TrayBalloonKind kind,
            int timeoutMs) override {
    Icon& icon = icons_[id];
    icon.next = Balloon{title, text, kind, timeoutMs};
    if (!icon.waiting) Send(id);
  }

 private slots:
  void ActionInvoked(uint serverId, const QString& action) {
    if (action != kDefaultAction) return;
    for (const auto& [id, icon] : icons_) {
      if (icon.serverId == serverId && serverId != 0) {
        if (onClicked) onClicked(id);
        return;
      }
    }
  }

 private:
  struct Balloon {
    QString title;
    QString text;
    TrayBalloonKind kind;
    int timeoutMs;
  };
  struct Icon {
    uint serverId = 0;  // the id of the icon's last notification; 0 before the first
    bool waiting = false;
    std::optional<Balloon> next;
  };

  void Send(uintptr_t id) {
    Icon& icon = icons_[id];
    const Balloon balloon = *std::exchange(icon.next, std::nullopt);
    QVariantMap hints;
    hints.insert(QStringLiteral("urgency"), QVariant::fromValue(UrgencyOf(balloon.kind)));
    const QString desktopFile = QGuiApplication::desktopFileName();
    if (!desktopFile.isEmpty()) hints.insert(QStringLiteral("desktop-entry"), desktopFile);
    QDBusMessage notify =
        QDBusMessage::createMethodCall(kService, kPath, kService, QStringLiteral("Notify"));
    notify << QCoreApplication::applicationName() << icon.serverId << IconNameOf(balloon.kind)
           << balloon.title << balloon.text << QStringList{kDefaultAction, balloon.title} << hints
           << qint32(balloon.timeoutMs);
    icon.waiting = true;
    auto* watcher = new QDBusPendingCallWatcher(bus_.asyncCall(notify, kNotifyTimeoutMs), this);
    connect(watcher, &QDBusPendingCallWatcher::finished, this,
            [this, id](QDBusPendingCallWatcher* call) {
              call->deleteLater();
              const QDBusPendingReply<uint> reply = *call;
              Icon& icon = icons_[id];
              icon.waiting = false;
              if (!reply.isError()) icon.serverId = reply.value();
              if (icon.next) Send(id);
            });
  }

  QDBusConnection bus_;
  std::map<uintptr_t, Icon> icons_;
};

}  // namespace

std::unique_ptr<DesktopNotifications> CreateDesktopNotifications() {
  QDBusConnection bus = QDBusConnection::sessionBus();
  if (!bus.isConnected()) return nullptr;
  return std::make_unique<FreedesktopNotifications>(std::move(bus));
}

}  // namespace dv

#include "DesktopNotificationsDBus.moc"
