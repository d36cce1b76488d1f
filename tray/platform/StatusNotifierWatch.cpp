// The D-Bus tray host as seen from the session bus: org.kde.StatusNotifierWatcher owning its name
// and answering true for IsStatusNotifierHostRegistered, which is what Qt itself asks before it
// exports its icons there. The name's owner changes and the watcher's host signals say when to ask
// again; all of it goes over the process's one shared session-bus connection.
#include <QDBusConnection>
#include <QDBusConnectionInterface>
#include <QDBusMessage>
#include <QDBusServiceWatcher>
#include <QDBusVariant>
#include <QObject>
#include <utility>

#include "tray/TrayHostWatch.h"

namespace dv {

namespace {

const QString kWatcherService = QStringLiteral("org.kde.StatusNotifierWatcher");
const QString kWatcherPath = QStringLiteral("/StatusNotifierWatcher");
// A watcher that hangs must not hold the window thread for long.
constexpr int kHostQueryTimeoutMs = 1000;

class StatusNotifierWatch : public QObject, public TrayHostWatch {
  Q_OBJECT

 public:
  explicit StatusNotifierWatch(QDBusConnection bus) : bus_(std::move(bus)) {
    auto* names = new QDBusServiceWatcher(kWatcherService, bus_,
                                          QDBusServiceWatcher::WatchForOwnerChange, this);
    connect(names, &QDBusServiceWatcher::serviceOwnerChanged, this, [this] { Recheck(); });
    for (const char* signal : {"StatusNotifierHostRegistered", "StatusNotifierHostUnregistered"}) {
      bus_.connect(kWatcherService, kWatcherPath, kWatcherService, QString::fromLatin1(signal),
                   this, SLOT(HostSignal()));
    }
    hostThere_ = Query();
  }

  bool StatusNotifierHost() const override { return hostThere_; }
  bool XEmbedTray() const override { return false; }

 private slots:
  void HostSignal() { Recheck(); }

 private:
  bool Query() const {
    const QDBusConnectionInterface* daemon = bus_.interface();
    if (daemon == nullptr || !daemon->isServiceRegistered(kWatcherService).value()) return false;
    QDBusMessage get = QDBusMessage::createMethodCall(
        kWatcherService, kWatcherPath, QStringLiteral("org.freedesktop.DBus.Properties"),
        QStringLiteral("Get"));
    get << kWatcherService << QStringLiteral("IsStatusNotifierHostRegistered");
    const QDBusMessage reply = bus_.call(get, QDBus::Block, kHostQueryTimeoutMs);
    if (reply.type() != QDBusMessage::ReplyMessage || reply.arguments().isEmpty()) return false;
    return qvariant_cast<QDBusVariant>(reply.arguments().constFirst()).variant().toBool();
  }

  void Recheck() {
    const bool now = Query();
    if (now == hostThere_) return;
    hostThere_ = now;
    if (onChanged) onChanged();
  }

  QDBusConnection bus_;
  bool hostThere_ = false;
};

}  // namespace

std::unique_ptr<TrayHostWatch> CreateStatusNotifierWatch() {
  QDBusConnection bus = QDBusConnection::sessionBus();
  if (!bus.isConnected()) return nullptr;
  return std::make_unique<StatusNotifierWatch>(std::move(bus));
}

}  // namespace dv

#include "StatusNotifierWatch.moc"
