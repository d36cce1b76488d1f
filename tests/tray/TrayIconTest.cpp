// The tray icon component through the recording notification area: click discrimination, the
// record's cuts, balloons, Enabled, cycling, the re-add after a tray restart, minimize to tray.

#include <QMenu>
#include <QPixmap>
#include <QWidget>
#include <QtTest>

#include "kit/FakeNotificationArea.h"
#include "kit/QtTestMain.h"
#include "tray/TrayIcon.h"

using namespace dv;

namespace {

QIcon SolidIcon(Qt::GlobalColor color) {
  QPixmap pixmap(16, 16);
  pixmap.fill(color);
  return QIcon(pixmap);
}

// The window's state as the platform reports it (a window manager's doing, not the program's):
// the offscreen platform passes a native state change back as the platform's own event.
void ReportFromPlatform(QWidget& window, Qt::WindowStates states) {
  window.windowHandle()->setWindowStates(states);
  QCoreApplication::processEvents();
}

void Click(FakeNotificationArea& area, const TTrayIcon& icon) {
  area.Deliver(icon.Id(), kWmLButtonDown);
  area.Deliver(icon.Id(), kWmLButtonUp);
}

}  // namespace

class TrayIconTest : public QObject {
  Q_OBJECT
 private slots:
  void recordHasTheFixedValues() {
    FakeNotificationArea area;
    TTrayIcon icon(area);
    QVERIFY(icon.AddTrayIcon());
    const NotifyIconData* shown = area.Shown(icon.Id());
    QVERIFY(shown != nullptr);
    QCOMPARE(shown->size, 488u);
    QCOMPARE(shown->callbackMessage, 0x0800u);
    QCOMPARE(shown->flags, 7u);
    QVERIFY(icon.IconVisible());
    QVERIFY(icon.DeleteTrayIcon());
    QVERIFY(!icon.IconVisible());
    QVERIFY(!icon.UpdateTrayIcon());  // not in the tray: refused, nothing else happens
  }

  void clickWithoutDoubleClickHandlerFiresAtButtonUp() {
    FakeNotificationArea area;
    TTrayIcon icon(area);
    int clicks = 0;
    std::vector<uint32_t> downShift;
    icon.OnClick = [&](TTrayIcon&) { ++clicks; };
    icon.OnMouseDown = [&](TTrayIcon&, TrayMouseButton button, uint32_t shift, int x, int y) {
      QCOMPARE(button, TrayMouseButton::Left);
      QCOMPARE(QPoint(x, y), QPoint(100, 200));
      downShift.push_back(shift);
    };
    area.shift = kShiftCtrl;
    area.Deliver(icon.Id(), kWmLButtonDown);
    QCOMPARE(clicks, 0);
    area.Deliver(icon.Id(), kWmLButtonUp);
    QCOMPARE(clicks, 1);
    QCOMPARE(downShift, std::vector<uint32_t>{kShiftCtrl | kShiftLeft});
    QVERIFY(!icon.SingleClickTimer().Running());
    QTest::qWait(30);
    QCOMPARE(clicks, 1);
  }

  void doubleClickHandlerDelaysTheClickAndSwallowsItOnDoubleClick() {
    FakeNotificationArea area;
    area.doubleClickTime = 60;
    TTrayIcon icon(area);
    int clicks = 0;
    int doubles = 0;
    icon.OnClick = [&](TTrayIcon&) { ++clicks; };
    icon.OnDblClick = [&](TTrayIcon&) { ++doubles; };

    // The sequence the platform sends for a double click: down, up, double click, up.
    Click(area, icon);
    area.Deliver(icon.Id(), kWmLButtonDblClk);
    area.Deliver(icon.Id(), kWmLButtonUp);
    QCOMPARE(doubles, 1);
    QTest::qWait(150);
    QCOMPARE(clicks, 0);
    QCOMPARE(doubles, 1);

    // A lone click is reported one double-click time later.
    Click(area, icon);
    QCOMPARE(clicks, 0);
    QTRY_COMPARE_WITH_TIMEOUT(clicks, 1, 1000);
    QCOMPARE(doubles, 1);
  }

  void doubleClickTriggersTheMenusDefaultItem() {
    FakeNotificationArea area;
    TTrayIcon icon(area);
    QMenu menu;
    int restored = 0;
    menu.addAction("Other");
    QAction* restore = menu.addAction("Restore", [&] { ++restored; });
    menu.setDefaultAction(restore);
    icon.SetPopupMenu(&menu);
    area.Deliver(icon.Id(), kWmLButtonDblClk);
    QCOMPARE(restored, 1);
    icon.SetLeftPopup(true);
    area.Deliver(icon.Id(), kWmLButtonDblClk);
    QCOMPARE(restored, 1);
  }

  void rightButtonOpensTheMenuAtTheCursorReadWhenHandled() {
    FakeNotificationArea area;
    TTrayIcon icon(area);
    QMenu menu;
    icon.SetPopupMenu(&menu);
    area.cursor = QPoint(7, 9);
    area.Deliver(icon.Id(), kWmRButtonDown);
    QCOMPARE(area.popups.size(), size_t{1});
    QCOMPARE(area.popups[0].menu, &menu);
    QCOMPARE(area.popups[0].at, QPoint(7, 9));
    area.cursor.reset();  // the position cannot be read: no menu
    area.Deliver(icon.Id(), kWmRButtonDown);
    QCOMPARE(area.popups.size(), size_t{1});
  }

  void destroyedMenuIsForgotten() {
    FakeNotificationArea area;
    TTrayIcon icon(area);
    auto* menu = new QMenu;
    icon.SetPopupMenu(menu);
    QCOMPARE(area.menus[icon.Id()], menu);  // a tray that shows menus itself gets it too
    delete menu;
    QVERIFY(icon.PopupMenu() == nullptr);
    area.Deliver(icon.Id(), kWmRButtonDown);
    QVERIFY(area.popups.empty());
  }

  void disabledIconIgnoresTheMouseButNotBalloons() {
    FakeNotificationArea area;
    TTrayIcon icon(area);
    QMenu menu;
    icon.SetPopupMenu(&menu);
    icon.SetLeftPopup(true);
    int events = 0;
    int balloonClicks = 0;
    int balloonShows = 0;
    icon.OnClick = [&](TTrayIcon&) { ++events; };
    icon.OnMouseDown = [&](TTrayIcon&, TrayMouseButton, uint32_t, int, int) { ++events; };
    icon.OnMouseMove = [&](TTrayIcon&, uint32_t, int, int) { ++events; };
    icon.OnBalloonHintClick = [&](TTrayIcon&) { ++balloonClicks; };
    icon.OnBalloonHintShow = [&](TTrayIcon&) { ++balloonShows; };
    icon.SetEnabled(false);
    for (uint32_t message : {kWmMouseMove, kWmLButtonDown, kWmLButtonUp, kWmLButtonDblClk,
                             kWmRButtonDown, kWmRButtonUp, kWmMButtonDown, kWmMButtonUp}) {
      area.Deliver(icon.Id(), message);
    }
    QCOMPARE(events, 0);
    QVERIFY(area.popups.empty());
    area.Deliver(icon.Id(), kNinBalloonShow);
    area.Deliver(icon.Id(), kNinBalloonUserClick);
    QCOMPARE(balloonShows, 1);
    QCOMPARE(balloonClicks, 1);
  }

  void hintIsCutTo127AndHiddenWithoutShowHint() {
    FakeNotificationArea area;
    TTrayIcon icon(area);
    icon.AddTrayIcon();
    icon.SetHint(QString(200, QChar('h')));
    QCOMPARE(area.Shown(icon.Id())->tip, QString(127, QChar('h')));
    // A character outside the basic plane is never cut in half.
    icon.SetHint(QString(126, QChar('a')) + QString::fromUtf8("\xF0\x9F\x92\xBE") + "tail");
    QCOMPARE(area.Shown(icon.Id())->tip, QString(126, QChar('a')));
    icon.SetShowHint(false);
    QVERIFY(area.Shown(icon.Id())->tip.isEmpty());
    QCOMPARE(icon.Hint().size(), 126 + 2 + 4);
    icon.SetShowHint(true);
    icon.SetHint("WDC WD2500JS-75NCB3");
    QCOMPARE(area.Shown(icon.Id())->tip, QString("WDC WD2500JS-75NCB3"));
  }

  void balloonIsCutAndNotRepeatedByTheNextUpdate() {
    FakeNotificationArea area;
    TTrayIcon icon(area);
    QVERIFY(!icon.ShowBalloon("Error", "hidden icon", TrayBalloonKind::Error, 10));
    icon.AddTrayIcon();
    QVERIFY(icon.ShowBalloon(QString(100, 'T'), QString(300, 'x'), TrayBalloonKind::Error, 10));
    auto balloons = area.BalloonsFor(icon.Id());
    QCOMPARE(balloons.size(), size_t{1});
    QCOMPARE(balloons[0].infoTitle, QString(63, 'T'));
    QCOMPARE(balloons[0].info, QString(255, 'x'));
    QCOMPARE(balloons[0].infoFlags, 3u);
    QCOMPARE(balloons[0].timeoutOrVersion, 10000u);
    QCOMPARE(icon.TrayIconData().flags, 7u);
    icon.SetHint("after");
    icon.UpdateTrayIcon();
    QCOMPARE(area.BalloonsFor(icon.Id()).size(), size_t{1});
    // Out-of-range time-outs are held to 0..255 seconds.
    icon.ShowBalloon("HDDs", "text", TrayBalloonKind::Info, 100000);
    QCOMPARE(area.BalloonsFor(icon.Id()).back().timeoutOrVersion, 255000u);
  }

  void iconIndexIsClampedAndZeroWithoutList() {
    FakeNotificationArea area;
    TTrayIcon icon(area);
    icon.SetIconIndex(5);
    QCOMPARE(icon.IconIndex(), 0);
    icon.SetIconList({SolidIcon(Qt::red), SolidIcon(Qt::green), SolidIcon(Qt::blue)});
    icon.SetIconIndex(7);
    QCOMPARE(icon.IconIndex(), 2);
    QCOMPARE(icon.Icon().pixmap(16, 16).toImage().pixelColor(4, 4), QColor(Qt::blue));
    icon.SetIconIndex(-3);
    QCOMPARE(icon.IconIndex(), 0);
    icon.SetIconList({});
    QCOMPARE(icon.IconIndex(), 0);
  }

  void cyclingNeverRunsAtIntervalZero() {
    FakeNotificationArea area;
    TTrayIcon icon(area);
    std::vector<int> steps;
    icon.OnCycle = [&](TTrayIcon&, int next) { steps.push_back(next); };
    icon.SetIconList({SolidIcon(Qt::red), SolidIcon(Qt::green), SolidIcon(Qt::blue)});
    icon.SetCycleInterval(0);
    icon.SetCycleIcons(true);
    QTest::qWait(100);
    QVERIFY(steps.empty());

    icon.SetCycleInterval(10);
    QTRY_VERIFY_WITH_TIMEOUT(steps.size() >= 4, 2000);
    QCOMPARE((std::vector<int>(steps.begin(), steps.begin() + 4)), (std::vector<int>{1, 2, 0, 1}));
    icon.SetCycleIcons(false);
    const size_t stopped = steps.size();
    QTest::qWait(60);
    QCOMPARE(steps.size(), stopped);
  }

  void trayRestartAddsVisibleIconsOnly() {
    FakeNotificationArea area;
    TTrayIcon shown(area);
    TTrayIcon hidden(area);
    shown.SetIconVisible(true);
    hidden.SetIconVisible(false);
    area.RestartTray();
    QVERIFY(area.IsShown(shown.Id()));
    QVERIFY(!area.IsShown(hidden.Id()));
  }

  void enterAndExitThroughTheLeaveTimer() {
    FakeNotificationArea area;
    TTrayIcon icon(area);
    int enters = 0;
    int exits = 0;
    icon.OnMouseEnter = [&](TTrayIcon&) { ++enters; };
    icon.OnMouseExit = [&](TTrayIcon&) { ++exits; };
    icon.SetWantEnterExitEvents(true);
    area.Deliver(icon.Id(), kWmMouseMove);
    area.Deliver(icon.Id(), kWmMouseMove);
    QCOMPARE(enters, 1);
    QTest::qWait(60);
    QCOMPARE(exits, 0);  // the cursor has not moved away
    area.cursor = QPoint(300, 300);
    QTRY_COMPARE_WITH_TIMEOUT(exits, 1, 1000);
    QCOMPARE(enters, 1);
  }

  void minimizingTheOwnerHidesItThroughTheLastIcon() {
    QWidget owner;
    owner.show();
    FakeNotificationArea area;
    TTrayIcon first(area, &owner);
    TTrayIcon last(area, &owner);
    std::vector<const TTrayIcon*> handled;
    for (TTrayIcon* icon : {&first, &last}) {
      icon->SetMinimizeToTray(true);
      icon->OnMinimizeToTray = [&](TTrayIcon& sender) { handled.push_back(&sender); };
    }
    owner.setWindowState(Qt::WindowMinimized);
    QTRY_VERIFY(!owner.isVisible());
    // Hidden, it stays minimized (leaving that state natively would map it again on X11); the
    // platform telling so once more is no second minimize.
    QTest::qWait(30);
    QCOMPARE(handled, std::vector<const TTrayIcon*>{&last});
    // Shown again, it comes back in its normal state, twice over.
    for (int round = 0; round < 2; ++round) {
      owner.show();
      QVERIFY(!owner.isMinimized());
      owner.setWindowState(Qt::WindowMinimized);
      QTRY_VERIFY(!owner.isVisible());
    }
    QCOMPARE(handled.size(), size_t{3});
  }

  void aWindowMappedMinimizedAfterARestoreIsRestoredNotSentBack() {
    QWidget owner;
    owner.show();
    FakeNotificationArea area;
    TTrayIcon icon(area, &owner);
    int handled = 0;
    icon.SetMinimizeToTray(true);
    icon.OnMinimizeToTray = [&](TTrayIcon&) { ++handled; };
    owner.setWindowState(Qt::WindowMinimized);
    QTRY_VERIFY(!owner.isVisible());
    // Hidden, the window is reported restored (the window manager lets it go) ...
    ReportFromPlatform(owner, owner.windowState() & ~Qt::WindowMinimized);
    owner.show();
    // ... and shown again, reported minimized: mapped with the iconic hint its native window
    // kept. The user did not minimize it; it is restored and stays on the screen.
    ReportFromPlatform(owner, owner.windowState() | Qt::WindowMinimized);
    QTRY_VERIFY(!owner.isMinimized());
    QTest::qWait(30);
    QVERIFY(owner.isVisible());
    QCOMPARE(handled, 1);
  }

  void minimizeWithoutHandlerStillHidesAndWithoutOptionMinimizes() {
    QWidget owner;
    owner.show();
    FakeNotificationArea area;
    TTrayIcon icon(area, &owner);
    icon.SetMinimizeToTray(true);
    owner.setWindowState(Qt::WindowMinimized);
    QTRY_VERIFY(!owner.isVisible());

    owner.showNormal();
    icon.SetMinimizeToTray(false);
    owner.setWindowState(Qt::WindowMinimized);
    QTest::qWait(30);
    QVERIFY(owner.isVisible());
    QVERIFY(owner.isMinimized());
  }

  void loadedAsksStartupAndSendsTheVersion() {
    QWidget owner;
    owner.show();
    FakeNotificationArea area;
    TTrayIcon icon(area, &owner);
    icon.OnStartup = [](TTrayIcon&, bool& showMainForm) { showMainForm = false; };
    icon.SetIconVisible(false);
    icon.Loaded();
    QVERIFY(!owner.isVisible());
    QCOMPARE(area.requests.back().operation, TrayOperation::SetVersion);
    QCOMPARE(area.requests.back().data.timeoutOrVersion, 0u);
  }

  void destructionRemovesTheIcon() {
    FakeNotificationArea area;
    uintptr_t id = 0;
    {
      TTrayIcon icon(area);
      icon.SetIconVisible(true);
      id = icon.Id();
      QVERIFY(area.IsShown(id));
    }
    QVERIFY(!area.IsShown(id));
    QVERIFY(!area.Deliver(id, kWmLButtonUp));
  }
};

DISKVIGIL_QTEST_MAIN(TrayIconTest)
#include "TrayIconTest.moc"
