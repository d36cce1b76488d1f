// What the start leaves for later: the sound library until the first alert, icon pictures until
// something draws them, the MBR window until it is used. Each must still behave as if made at
// start.
#include <dlfcn.h>

#include <QApplication>
#include <QComboBox>
#include <QImage>
#include <QLabel>
#include <QPainter>
#include <QStyle>
#include <QtTest/QtTest>
#include <chrono>
#include <thread>

#include "app/AlertSound.h"
#include "app/VendorLogos.h"
#include "kit/QtTestMain.h"
#include "ui/LazyIcon.h"
#include "ui/MBRUnit.h"
#include "ui/WindowTestKit.h"

using namespace dv;
using namespace dv::testing;
using namespace std::chrono_literals;

namespace {

bool PulseSimpleLoaded() {
  void* library = dlopen("libpulse-simple.so.0", RTLD_NOW | RTLD_NOLOAD);
  if (library == nullptr) return false;
  dlclose(library);  // only the reference RTLD_NOLOAD took
  return true;
}

bool PulseSimpleInstalled() {
  // Loading it here would spoil the check above; its presence is enough.
  for (const char* folder :
       {"/usr/lib/x86_64-linux-gnu", "/usr/lib/aarch64-linux-gnu", "/usr/lib64", "/usr/lib"}) {
    if (QFile::exists(QString("%1/libpulse-simple.so.0").arg(folder))) return true;
  }
  return false;
}

// A user's pick in the drive list: the entry becomes current, then the handler runs.
void PickThroughHandler(TMainForm& form, int index) {
  form.HDDCB->setCurrentIndex(index);
  form.HDDCBChange();
}

int TopLevelMBRForms() {
  int count = 0;
  for (QWidget* window : QApplication::topLevelWidgets()) {
    if (qobject_cast<TMBRForm*>(window) != nullptr) ++count;
  }
  return count;
}

}  // namespace

class DeferredStartTest : public QObject {
  Q_OBJECT
 private slots:
  void soundLibraryWaitsForTheFirstAlert();
  void lazyIconIsMadeOnceOnFirstUseAndDrawsTheSame();
  void mbrWindowIsBuiltOnFirstUse();
  void makersLogoIsDrawnWhenFirstPainted();
};

void DeferredStartTest::soundLibraryWaitsForTheFirstAlert() {
  // No server: the alert is silent, but the library is still opened to find that out.
  qputenv("PULSE_SERVER", "unix:/nonexistent/pulse");
  QVERIFY2(!PulseSimpleLoaded(), "the test program itself links the sound library");
  auto sound = CreateAlertSound();
  QVERIFY2(!PulseSimpleLoaded(), "the sound library is loaded before any alert");
  sound->Play();
  if (!PulseSimpleInstalled()) QSKIP("libpulse-simple.so.0 is not installed here");
  const auto end = std::chrono::steady_clock::now() + 5s;
  while (!PulseSimpleLoaded() && std::chrono::steady_clock::now() < end) {
    std::this_thread::sleep_for(10ms);
  }
  QVERIFY2(PulseSimpleLoaded(), "the first alert did not open the sound library");
  sound->Play();
  sound.reset();  // ends the worker while the library stays loaded
}

void DeferredStartTest::lazyIconIsMadeOnceOnFirstUseAndDrawsTheSame() {
  int made = 0;
  const QIcon real = QApplication::style()->standardIcon(QStyle::SP_DialogSaveButton);
  QIcon lazy = LazyIcon([&] {
    ++made;
    return real;
  });
  const QIcon copy = lazy;  // a button keeps its own copy
  QCOMPARE(made, 0);
  QVERIFY(!lazy.isNull());
  QCOMPARE(made, 0);

  QCOMPARE(lazy.actualSize(QSize(16, 16)), real.actualSize(QSize(16, 16)));
  QCOMPARE(lazy.availableSizes(), real.availableSizes());
  QCOMPARE(lazy.pixmap(16, 16).toImage(), real.pixmap(16, 16).toImage());
  QCOMPARE(copy.pixmap(QSize(32, 32), QIcon::Disabled).toImage(),
           real.pixmap(QSize(32, 32), QIcon::Disabled).toImage());
  QCOMPARE(made, 1);

  // Painted, as a button paints its icon.
  QImage drawnLazy(24, 24, QImage::Format_ARGB32_Premultiplied);
  QImage drawnReal(24, 24, QImage::Format_ARGB32_Premultiplied);
  drawnLazy.fill(Qt::white);
  drawnReal.fill(Qt::white);
  {
    QPainter painter(&drawnLazy);
    lazy.paint(&painter, QRect(4, 4, 16, 16));
  }
  {
    QPainter painter(&drawnReal);
    real.paint(&painter, QRect(4, 4, 16, 16));
  }
  QCOMPARE(drawnLazy, drawnReal);
  QCOMPARE(made, 1);

  // An icon that was never used costs nothing, also when it goes.
  int unused = 0;
  {
    const QIcon never = LazyIcon([&] {
      ++unused;
      return QIcon();
    });
  }
  QCOMPARE(unused, 0);
}

void DeferredStartTest::mbrWindowIsBuiltOnFirstUse() {
  WindowTestKit kit(DemoDrives());
  const int before = TopLevelMBRForms();
  auto form = kit.Start();
  QCOMPARE(kit.startup, StartupResult::Running);
  QCOMPARE(TopLevelMBRForms(), before);  // started, the window is not built yet

  // "Get MBR" builds it, fills it and shows it; later uses find the same window.
  form->MBRReadSBClick();
  QCOMPARE(TopLevelMBRForms(), before + 1);
  QCOMPARE(kit.dialogs.modalShows, 1);
  TMBRForm* window = form->MBRForm();
  QCOMPARE(kit.dialogs.lastModal, window);
  QVERIFY(window->PartVolumeIDL->text() != QString("..."));
  form->MBRReadSBClick();
  QCOMPARE(form->MBRForm(), window);
  QCOMPARE(TopLevelMBRForms(), before + 1);

  // Exit with a window never built closes nothing that is not there.
  WindowTestKit other(DemoDrives());
  auto unused = other.Start();
  unused->Exit1Click();
  QCOMPARE(other.quits, 1);
  QCOMPARE(TopLevelMBRForms(), before + 1);
}

void DeferredStartTest::makersLogoIsDrawnWhenFirstPainted() {
  WindowTestKit kit(DemoDrives());
  auto form = kit.Start();
  // The first demo drive is a Seagate: the hidden window holds a white picture of the logo's size.
  const QImage before = form->HDDLogoI->pixmap().toImage().convertToFormat(QImage::Format_RGB32);
  QCOMPARE(before.size(), QSize(121, 33));
  QImage white(before.size(), QImage::Format_RGB32);
  white.fill(Qt::white);
  QCOMPARE(before, white);

  // Painted (here into a picture, as the documentation's pictures are): the maker's name is drawn.
  QCOMPARE(LogoMakerName(0), QString("Seagate"));
  const QImage expected = VendorLogo(0).convertToFormat(QImage::Format_RGB32);
  const QImage picture = form->HDDLogoI->grab().toImage().convertToFormat(QImage::Format_RGB32);
  QCOMPARE(form->HDDLogoI->pixmap().toImage().convertToFormat(QImage::Format_RGB32), expected);
  QCOMPARE(picture, expected);

  // A drive without a known maker keeps the white picture, also once painted.
  PickThroughHandler(*form, 2);
  form->HDDLogoI->grab();
  const QImage kingston = form->HDDLogoI->pixmap().toImage().convertToFormat(QImage::Format_RGB32);
  QCOMPARE(kingston, white);
}

DISKVIGIL_QTEST_MAIN(DeferredStartTest)
#include "DeferredStartTest.moc"
