// The Qt notification area: activations become the platform's mouse messages, and without a tray
// (the offscreen platform has none) every request is refused rather than pretended.
#include <QtTest>

#include "tray/QtNotificationArea.h"
#include "tray/TrayIcon.h"

using namespace dv;

namespace {

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
    QtNotificationArea area(0);
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
    QtNotificationArea area(0);
    TTrayIcon icon(area);
    int clicks = 0;
    icon.OnClick = [&](TTrayIcon&) { ++clicks; };
    area.Activated(icon.Id(), QSystemTrayIcon::Trigger);
    QCOMPARE(clicks, 1);
  }

  void withoutATrayEveryRequestIsRefused() {
    if (QSystemTrayIcon::isSystemTrayAvailable()) QSKIP("this platform has a tray");
    QtNotificationArea area(0);
    TTrayIcon icon(area);
    QVERIFY(!icon.AddTrayIcon());
    QVERIFY(icon.IconVisible());  // still wanted: added when a tray appears
    QVERIFY(!icon.UpdateTrayIcon());
    QVERIFY(!icon.ShowBalloon("Error", "S.M.A.R.T. failure detected!", TrayBalloonKind::Error, 10));
    QVERIFY(!icon.DeleteTrayIcon());
  }
};

QTEST_MAIN(QtNotificationAreaTest)
#include "QtNotificationAreaTest.moc"
