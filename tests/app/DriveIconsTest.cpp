// The six temperature icons behind the main window's seam: the design look, each write reaching
// its own icon only, balloons from the given icon, clicks and the shared menu.
#include <QMenu>
#include <QStatusBar>
#include <QtTest>

#include "app/DriveIcons.h"
#include "kit/FakeNotificationArea.h"
#include "kit/QtTestMain.h"

using namespace dv;

namespace {

QImage ShownPicture(const FakeNotificationArea& area, TTrayIcon& icon) {
  const NotifyIconData* shown = area.Shown(icon.Id());
  if (shown == nullptr) return {};
  return shown->icon.pixmap(16, 16).toImage().convertToFormat(QImage::Format_ARGB32);
}

}  // namespace

class DriveIconsTest : public QObject {
  Q_OBJECT
 private slots:
  void iconsStartHiddenWithTheDesignLook() {
    FakeNotificationArea area;
    DriveIcons icons(area);
    for (int index = 0; index < kTemperatureIconCount; ++index) {
      TTextTrayIcon* icon = icons.Icon(index);
      QVERIFY(icon != nullptr);
      QVERIFY(!area.IsShown(icon->Id()));
      QCOMPARE(icon->Text(), QString("0"));
      QCOMPARE(icon->FontColor(), kClYellow);
      QCOMPARE(icon->Color(), kClBlack);
      QVERIFY(icon->Border());
      QCOMPARE(icon->Picture().pixel(0, 0), qRgb(0, 255, 0));
      QCOMPARE(icon->Picture().pixel(1, 1), qRgb(0, 0, 0));
      QVERIFY(icon->MinimizeToTray());
    }
    QVERIFY(icons.Icon(6) == nullptr);
    QVERIFY(icons.Icon(-1) == nullptr);
  }

  void writesReachOnlyTheirIcon() {
    FakeNotificationArea area;
    DriveIcons icons(area);
    icons.SetVisible(2, true);
    icons.SetVisible(3, true);
    QVERIFY(area.IsShown(icons.Icon(2)->Id()));
    const QImage untouched = ShownPicture(area, *icons.Icon(3));

    icons.SetText(2, "45");
    icons.SetBorderColor(2, 0x000000FF);  // red: the drive failed
    icons.SetBackColor(2, 0x00800000);
    icons.SetFontColor(2, 0x00FFFFFF);
    icons.SetHint(2, "SAMSUNG HD501LJ");
    const QImage picture = ShownPicture(area, *icons.Icon(2));
    QCOMPARE(picture, icons.Icon(2)->Picture());
    QCOMPARE(picture.pixel(0, 0), qRgb(255, 0, 0));
    QCOMPARE(picture.pixel(1, 1), qRgb(0, 0, 128));
    QCOMPARE(area.Shown(icons.Icon(2)->Id())->tip, QString("SAMSUNG HD501LJ"));
    QCOMPARE(ShownPicture(area, *icons.Icon(3)), untouched);
    QCOMPARE(icons.Icon(3)->Text(), QString("0"));

    icons.SetVisible(2, false);
    QVERIFY(!area.IsShown(icons.Icon(2)->Id()));
    // Out-of-range indexes are ignored rather than trusted.
    icons.SetText(9, "x");
    QVERIFY(!icons.ShowBalloon(-1, "Error", "x", BalloonKind::Error, 10));
  }

  void balloonsComeFromTheGivenIconOnlyWhenItIsShown() {
    FakeNotificationArea area;
    DriveIcons icons(area);
    icons.SetVisible(0, true);
    QVERIFY(!icons.ShowBalloon(1, "Error", "S.M.A.R.T. failure detected!", BalloonKind::Error, 10));
    icons.SetVisible(1, true);
    QVERIFY(icons.ShowBalloon(1, "Error", "S.M.A.R.T. failure detected!", BalloonKind::Error, 10));
    QVERIFY(area.BalloonsFor(icons.Icon(0)->Id()).empty());
    const auto balloons = area.BalloonsFor(icons.Icon(1)->Id());
    QCOMPARE(balloons.size(), size_t{1});
    QCOMPARE(balloons[0].infoTitle, QString("Error"));
    QCOMPARE(balloons[0].info, QString("S.M.A.R.T. failure detected!"));
    QCOMPARE(balloons[0].infoFlags, 3u);
    QCOMPARE(balloons[0].timeoutOrVersion, 10000u);
    QVERIFY(icons.ShowBalloon(1, "HDDs", "WDC 250 GB\r", BalloonKind::Info, 10));
    QCOMPARE(area.BalloonsFor(icons.Icon(1)->Id()).back().infoFlags, 1u);
  }

  void clicksReportTheirIndexAndTheMenuIsShared() {
    FakeNotificationArea area;
    DriveIcons icons(area);
    std::vector<int> clicked;
    icons.onClick = [&](int index) { clicked.push_back(index); };
    QMenu menu;
    icons.SetPopupMenu(&menu);
    for (int index : {4, 0}) {
      area.Deliver(icons.Icon(index)->Id(), kWmLButtonDown);
      area.Deliver(icons.Icon(index)->Id(), kWmLButtonUp);
    }
    QCOMPARE(clicked, (std::vector<int>{4, 0}));
    area.Deliver(icons.Icon(5)->Id(), kWmRButtonDown);
    QCOMPARE(area.popups.size(), size_t{1});
    QCOMPARE(area.popups[0].menu, &menu);
  }

  void minimizingTheOwnerIsReportedOnceAndHidesIt() {
    QWidget owner;
    owner.show();
    FakeNotificationArea area;
    DriveIcons icons(area);
    icons.SetOwner(&owner);
    std::vector<int> minimized;
    icons.onMinimizeToTray = [&](int index) { minimized.push_back(index); };
    owner.setWindowState(Qt::WindowMinimized);
    QTRY_VERIFY(!owner.isVisible());
    QCOMPARE(minimized, std::vector<int>{5});  // the icon created last takes it
  }

  // At log-in the program may start before the panel: the window stays in reach until a tray
  // appears, then everything is as at a normal start; when the tray goes, the fallback is back.
  void aTrayThatComesLaterUndoesTheFallback() {
    QWidget window;
    QStatusBar status(&window);
    FakeNotificationArea area;
    area.available = false;
    DriveIcons icons(area);
    icons.SetOwner(&window);
    std::vector<int> minimized;
    icons.onMinimizeToTray = [&](int index) { minimized.push_back(index); };
    icons.SetVisible(0, true);
    QVERIFY(!area.IsShown(icons.Icon(0)->Id()));

    TrayFallback fallback(window, status, area);
    QVERIFY(fallback.Start());
    const auto minimizeKeepsTheWindow = [&] {
      window.setWindowState(Qt::WindowMinimized);
      QTest::qWait(20);
      QVERIFY(window.isVisible());
      QVERIFY(minimized.empty());
      window.setWindowState(Qt::WindowNoState);
    };
    QVERIFY(window.isVisible());
    QCOMPARE(status.currentMessage(), QString(kNoTrayMessage));
    minimizeKeepsTheWindow();

    area.SetAvailable(true);
    QVERIFY(!fallback.Active());
    QVERIFY(area.IsShown(icons.Icon(0)->Id()));
    QVERIFY(!window.isVisible());
    QVERIFY(status.currentMessage().isEmpty());
    window.show();
    window.setWindowState(Qt::WindowMinimized);
    QTRY_VERIFY(!window.isVisible());
    QTest::qWait(20);
    QCOMPARE(minimized, std::vector<int>{5});

    minimized.clear();
    area.SetAvailable(false);
    QVERIFY(fallback.Active());
    QVERIFY(window.isVisible());
    QCOMPARE(status.currentMessage(), QString(kNoTrayMessage));
    minimizeKeepsTheWindow();

    // Told twice, still one filter: a single appearance undoes it all.
    fallback.TrayAvailabilityChanged(false);
    area.SetAvailable(true);
    QVERIFY(!window.isVisible());
    window.show();
    window.setWindowState(Qt::WindowMinimized);
    QTRY_VERIFY(!window.isVisible());
  }

  void aTrayThereAtStartNeedsNoFallback() {
    QWidget window;
    QStatusBar status(&window);
    FakeNotificationArea area;
    TrayFallback fallback(window, status, area);
    QVERIFY(!fallback.Start());
    QVERIFY(!window.isVisible());
    QVERIFY(status.currentMessage().isEmpty());
  }
};

DISKVIGIL_QTEST_MAIN(DriveIconsTest)
#include "DriveIconsTest.moc"
