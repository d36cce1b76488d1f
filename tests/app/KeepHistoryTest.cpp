// "Keep History" and the History window, wired to the main window: off writes nothing, on writes
// each pass, the window shows the selected drive's rows and its box is the setting.
#include <QCheckBox>
#include <QGroupBox>
#include <QLabel>
#include <QToolButton>
#include <QtTest/QtTest>

#include "app/HistoryKeeper.h"
#include "kit/QtTestMain.h"
#include "ui/HistoryWindow.h"
#include "ui/WindowTestKit.h"

using namespace dv;
using namespace dv::testing;

class KeepHistoryTest : public QObject {
  Q_OBJECT

 private slots:
  void offWritesNothingAndTheButtonTakesFreeRoom();
  void onWritesPassesThatTheWindowShows();
};

namespace {

std::unique_ptr<TMainForm> StartWithHistory(WindowTestKit& kit, const std::filesystem::path& file) {
  MainFormContext context = kit.Context();
  context.historyPath = file;
  auto form = std::make_unique<TMainForm>(context);
  kit.startup = form->FormCreate();
  return form;
}

std::filesystem::path HistoryFile(const WindowTestKit& kit) {
  return kit.folder.filePath("history.sqlite").toStdString();
}

}  // namespace

void KeepHistoryTest::offWritesNothingAndTheButtonTakesFreeRoom() {
  WindowTestKit kit(DemoDrives());
  auto form = StartWithHistory(kit, HistoryFile(kit));
  form->CheckHDDs();
  QVERIFY(!std::filesystem::exists(HistoryFile(kit)));
  QCOMPARE(form->HistorySB->parentWidget(), form->HDDGB);
  QCOMPARE(form->SMARTReadSB->geometry(), QRect(272, 4, 23, 22));
  for (QWidget* other : form->HDDGB->findChildren<QWidget*>(Qt::FindDirectChildrenOnly)) {
    if (other == form->HistorySB) continue;
    QVERIFY(!other->geometry().intersects(form->HistorySB->geometry()));
  }
}

void KeepHistoryTest::onWritesPassesThatTheWindowShows() {
  WindowTestKit kit(DemoDrives());
  kit.WriteSettings("[Settings]\nKeep History=1\n");
  auto form = StartWithHistory(kit, HistoryFile(kit));
  form->CheckHDDs();
  QVERIFY(std::filesystem::exists(HistoryFile(kit)));

  form->HistorySB->click();
  auto* window = form->findChild<THistoryForm*>();
  QVERIFY(window != nullptr);
  QVERIFY(window->KeepHistoryCB->isChecked());
  QVERIFY(!window->Graph->Rows().empty());
  QCOMPARE(window->Graph->Rows().back().values.temperature, std::optional<int>(36));

  window->KeepHistoryCB->setChecked(false);
  QVERIFY(form->SaveSettings());
  QCOMPARE(SettingValue(kit.ReadSettings(), "Keep History"), QString("0"));
}

DISKVIGIL_QTEST_MAIN(KeepHistoryTest)
#include "KeepHistoryTest.moc"
