// The windows on a real Wayland compositor (run by sni-run.py --wayland under a headless one): the
// main window and the S.M.A.R.T. window are mapped and taken down again, and copying the
// S.M.A.R.T. window, whose frame no client may read there, puts the client area drawn by the window
// itself on the clipboard instead.
#include <QGuiApplication>
#include <QWindow>
#include <QtTest>

#include "ui/SMARTFormUnit.h"
#include "ui/StringGrid.h"
#include "ui/WindowTestKit.h"

using namespace dv;
using namespace dv::testing;

class WaylandWindows : public QObject {
  Q_OBJECT
 private slots:
  void initTestCase() {
    if (QGuiApplication::platformName() != QStringLiteral("wayland")) {
      QSKIP("not on Wayland");
    }
  }

  void mainAndSmartWindowsOpenAndClose() {
    WindowTestKit kit(DemoDrives());
    auto form = kit.Start();
    QCOMPARE(kit.startup, StartupResult::Running);
    form->Restore1Click();
    QVERIFY(QTest::qWaitForWindowExposed(form.get()));

    form->SMARTReadSBClick();
    QCOMPARE(kit.dialogs.lastModal, static_cast<QDialog*>(form->SMARTForm()));
    TSMARTForm& smart = *form->SMARTForm();
    smart.show();  // what the modal showing does, without its own loop
    QVERIFY(QTest::qWaitForWindowExposed(&smart));
    QVERIFY(smart.SMARTSG->RowCount() > 1);

    const QImage client = smart.grab().toImage();
    QCOMPARE(smart.WindowPicture(), client);
    QVERIFY(smart.CaptureWindow());

    QVERIFY(!smart.close());  // only hidden
    QTRY_VERIFY(!smart.windowHandle()->isExposed() || !smart.isVisible());
    QVERIFY(!smart.isVisible());
    form->hide();
    QVERIFY(!form->isVisible());
  }
};

QTEST_MAIN(WaylandWindows)
#include "WaylandWindows.moc"
