// The Qt notification area: activations become the platform's mouse messages; without a tray host
// every request is refused rather than pretended, and nothing asks Qt about the tray (which would
// fix its tray kind for good) until the host watch has seen one; the kind then decides who shows
// the menu.
#include <QMenu>
#include <QtTest>

#include "kit/QtTestMain.h"
#include "tray/QtNotificationArea.h"
#include "tray/TrayIcon.h"

using namespace dv;

namespace {

// Tray hosts as a test sets them; change() tells the area like a real watch does.
struct FakeHosts : TrayHostWatch {
  bool StatusNotifierHost() const override { return statusNotifier; }
  bool XEmbedTray() const override { return xembed; }
  void Set(bool newStatusNotifier, bool newXEmbed) {
    statusNotifier = newStatusNotifier;
    xembed = newXEmbed;
    if (onChanged) onChanged();
  }
  bool statusNotifier = false;
  bool xembed = false;
};

// The desktop's notifications as a test sees them: every balloon shown, by icon.
struct FakeNotifications : DesktopNotifications {
  void Show(uintptr_t id, const QString& title, const QString&, TrayBalloonKind, int) override {
    shown.emplace_back(id, title);
  }
  std::vector<std::pair<uintptr_t, QString>> shown;
};

// An area over fake hosts and notifications, which it owns; both stay valid while the area lives.
struct AreaWithHosts {
  AreaWithHosts() {
    auto owned = std::make_unique<FakeHosts>();
    hosts = owned.get();
    auto ownedNotifications = std::make_unique<FakeNotifications>();
    notifications = ownedNotifications.get();
    area = std::make_unique<QtNotificationArea>(std::move(owned), nullptr,
                                                std::move(ownedNotifications));
    area->onTrayAvailabilityChanged = [this](bool available) { changes.push_back(available); };
  }
  FakeHosts* hosts;
  FakeNotifications* notifications;
  std::unique_ptr<QtNotificationArea> area;
  std::vector<bool> changes;
};

struct RecordingSink : TrayMessageSink {
  void TrayMessage(uint32_t message) override { messages.push_back(message); }
  void TrayCreated() override { ++created; }
  std::vector<uint32_t> messages;
  int created = 0;
};

}  // namespace

class QtNotificationAreaTest : public QObject {
  Q_OBJECT
 private slots:
  void activationsBecomeMouseMessages() {
    QtNotificationArea area(std::make_unique<FakeHosts>());
    RecordingSink sink;
    area.Attach(42, sink);
    area.Activated(42, QSystemTrayIcon::Trigger);
    area.Activated(42, QSystemTrayIcon::DoubleClick);
    area.Activated(42, QSystemTrayIcon::MiddleClick);
    area.Activated(42, QSystemTrayIcon::Context);
    area.Activated(42, QSystemTrayIcon::Unknown);
    area.Activated(7, QSystemTrayIcon::Trigger);  // no such icon: nobody hears it
    QCOMPARE(sink.messages,
             (std::vector<uint32_t>{kWmLButtonDown, kWmLButtonUp, kWmLButtonDblClk, kWmLButtonUp,
                                    kWmMButtonDown, kWmMButtonUp, kWmRButtonDown, kWmRButtonUp}));
    area.Detach(42);
    area.Activated(42, QSystemTrayIcon::Trigger);
    QCOMPARE(sink.messages.size(), size_t{8});
  }

  void aTriggerIsAClickForTheComponent() {
    QtNotificationArea area(std::make_unique<FakeHosts>());
    TTrayIcon icon(area);
    int clicks = 0;
    icon.OnClick = [&](TTrayIcon&) { ++clicks; };
    area.Activated(icon.Id(), QSystemTrayIcon::Trigger);
    QCOMPARE(clicks, 1);
  }

  void withoutATrayHostEveryRequestIsRefusedAndQtIsNotAsked() {
    AreaWithHosts fixture;
    QtNotificationArea& area = *fixture.area;
    TTrayIcon icon(area);
    QVERIFY(!area.TrayAvailable());
    QVERIFY(!icon.AddTrayIcon());
    QVERIFY(icon.IconVisible());  // still wanted: added when a tray appears
    QVERIFY(!icon.UpdateTrayIcon());
    QVERIFY(!icon.ShowBalloon("Error", "S.M.A.R.T. failure detected!", TrayBalloonKind::Error, 10));
    QCOMPARE(area.TrayIconOf(icon.Id()), nullptr);
    QCOMPARE(area.Kind(), TrayKind::Undecided);
    QVERIFY(!area.Polling());  // the watch tells; nothing is polled
    QVERIFY(!icon.DeleteTrayIcon());
  }

  void aLateDBusHostGetsTheIconsWithTheMenuExported() {
    AreaWithHosts fixture;
    QtNotificationArea& area = *fixture.area;
    QMenu menu;
    menu.addAction("Exit");
    TTrayIcon shown(area);
    TTrayIcon hidden(area);
    shown.SetPopupMenu(&menu);  // before any icon exists
    hidden.SetPopupMenu(&menu);
    shown.SetIconVisible(true);
    QCOMPARE(area.TrayIconOf(shown.Id()), nullptr);

    fixture.hosts->Set(true, false);
    QCOMPARE(fixture.changes, std::vector<bool>{true});
    QCOMPARE(area.Kind(), TrayKind::StatusNotifier);
    QSystemTrayIcon* icon = area.TrayIconOf(shown.Id());
    QVERIFY(icon != nullptr);  // added again when the host came
    QCOMPARE(icon->contextMenu(), &menu);
    QCOMPARE(area.TrayIconOf(hidden.Id()), nullptr);

    // The host shows the exported menu itself: a context click pops nothing of ours.
    area.Activated(shown.Id(), QSystemTrayIcon::Context);
    QVERIFY(!menu.isVisible());

    // A menu given later reaches the icon too, and one that goes away is taken back.
    auto later = std::make_unique<QMenu>();
    shown.SetPopupMenu(later.get());
    QCOMPARE(icon->contextMenu(), later.get());
    later.reset();
    QVERIFY(shown.UpdateTrayIcon());
    QCOMPARE(icon->contextMenu(), nullptr);
  }

  void onXEmbedTheProgramPopsTheMenuItselfAndOnlyOnce() {
    AreaWithHosts fixture;
    QtNotificationArea& area = *fixture.area;
    QMenu menu;
    menu.addAction("Exit");
    TTrayIcon icon(area);
    icon.SetPopupMenu(&menu);
    fixture.hosts->Set(false, true);
    QVERIFY(icon.AddTrayIcon());
    QCOMPARE(area.Kind(), TrayKind::XEmbed);
    QCOMPARE(area.TrayIconOf(icon.Id())->contextMenu(), nullptr);
    area.PopupMenu(menu, QPoint(10, 10));
    QVERIFY(menu.isVisible());
    menu.hide();
  }

  void onTheDBusTrayBalloonsGoToTheDesktopNotifications() {
    // Only there: an XEmbed tray has no notification server, and Qt shows its own balloon.
    for (const bool dbusTray : {true, false}) {
      AreaWithHosts fixture;
      RecordingSink sink;
      TTrayIcon icon(*fixture.area);
      fixture.hosts->Set(dbusTray, !dbusTray);
      QVERIFY(icon.AddTrayIcon());
      QVERIFY(icon.ShowBalloon("Error", "failure", TrayBalloonKind::Error, 10));
      using Shown = std::vector<std::pair<uintptr_t, QString>>;
      const Shown expected = dbusTray ? Shown{{icon.Id(), "Error"}} : Shown{};
      QCOMPARE(fixture.notifications->shown, expected);
      if (!dbusTray) continue;
      int clicks = 0;
      icon.OnBalloonHintClick = [&](TTrayIcon&) { ++clicks; };
      fixture.notifications->onClicked(icon.Id());
      QCOMPARE(clicks, 1);
    }
  }

  void theKindOnceSettledDecidesWhatCountsAsATray() {
    AreaWithHosts fixture;
    QtNotificationArea& area = *fixture.area;
    RecordingSink sink;
    area.Attach(1, sink);
    NotifyIconData data;
    data.id = 1;
    fixture.hosts->Set(true, true);
    QVERIFY(area.Send(TrayOperation::Add, data));
    QCOMPARE(area.Kind(), TrayKind::StatusNotifier);  // the D-Bus host wins, as in Qt
    QCOMPARE(sink.created, 1);

    // Qt's icons cannot move to the XEmbed tray: without the D-Bus host there is no tray.
    fixture.hosts->Set(false, true);
    QVERIFY(!area.TrayAvailable());
    fixture.hosts->Set(false, false);  // no change for the icons: no second report
    fixture.hosts->Set(true, false);
    QCOMPARE(fixture.changes, (std::vector<bool>{true, false, true}));
    QCOMPARE(sink.created, 2);
    area.Detach(1);
  }

  void withoutAHostWatchQtIsAskedSlowly() {
    QtNotificationArea area(nullptr);
    QCOMPARE(area.Kind(), TrayKind::Platform);
    QVERIFY(area.Polling());
    QCOMPARE(area.TrayAvailable(), QSystemTrayIcon::isSystemTrayAvailable());
  }
};

DISKVIGIL_QTEST_MAIN(QtNotificationAreaTest)
#include "QtNotificationAreaTest.moc"
