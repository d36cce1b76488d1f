// The S.M.A.R.T. window: cell colours as drawn, the sizes after a read, the raw presentation
// switch, the report through the window, the clipboard picture and closing.
#include <QClipboard>
#include <QGuiApplication>
#include <QLabel>
#include <QRadioButton>
#include <QtTest/QtTest>

#include "kit/QtTestMain.h"
#include "ui/SMARTFormUnit.h"
#include "ui/SMTPUnit.h"
#include "ui/StringGrid.h"
#include "ui/WindowTestKit.h"

using namespace dv;
using namespace dv::testing;

namespace {

AttributeRow Row(const std::string& name, const std::string& attr, const std::string& threshold,
                 const std::string& flags) {
  return {name, attr, attr, "000000000000h", threshold, flags, "O.K."};
}

// A pixel of cell (column, row) where no text is drawn: left of the text's start.
QColor CellBackground(TSMARTForm& form, int column, int row) {
  const QImage picture = form.SMARTSG->viewport()->grab().toImage();
  const QRect cell = form.SMARTSG->CellRect(column, row);
  return picture.pixelColor(cell.left() + 1, cell.top() + 1);
}

QStringList ReportLines(const QString& path) {
  QFile file(path);
  if (!file.open(QIODevice::ReadOnly)) return {};
  QStringList lines = QString::fromLatin1(file.readAll()).split("\r\n");
  if (!lines.isEmpty() && lines.last().isEmpty()) lines.removeLast();
  return lines;
}

}  // namespace

class SMARTFormTest : public QObject {
  Q_OBJECT
 private slots:
  void rowsAreColouredByPreFailureJudgement();
  void gridAndWindowGrowWithTheRows();
  void aFullTableOpensCentredAndOnScreen();
  void rawSwitchRereadsAndLaterPassesKeepDecimal();
  void reportGoesToTheChosenFile();
  void captureAndClose();
};

void SMARTFormTest::rowsAreColouredByPreFailureJudgement() {
  TSMARTForm form;
  form.WriteHeadings();
  form.ShowRows({Row("(05h) Reallocated Sectors Count", "90", "97", "SC-POF"),
                 Row("(05h) Reallocated Sectors Count", "100", "97", "SC-POF"),
                 Row("(09h) Power-On Hours Count", "90", "97", "SC-PO-"),
                 Row("(C2h) Temperature", "36", "", "S---OF")});
  form.SMARTSG->Select(1, 2);
  const QColor pink(255, 192, 203);
  const QColor green(144, 238, 144);
  for (int column = 0; column < 7; ++column) QCOMPARE(CellBackground(form, column, 1), pink);
  QCOMPARE(CellBackground(form, 0, 2), green);
  QCOMPARE(CellBackground(form, 1, 2), QColor(135, 206, 250));  // the selected cell
  QCOMPARE(CellBackground(form, 6, 2), green);
  QCOMPARE(CellBackground(form, 0, 3), form.palette().color(QPalette::Base));
  QCOMPARE(CellBackground(form, 0, 4), form.palette().color(QPalette::Base));  // no threshold
  QCOMPARE(CellBackground(form, 0, 0), form.palette().color(QPalette::Button));
  form.SMARTSG->Select(0, 1);
  QCOMPARE(CellBackground(form, 0, 1), QColor(135, 206, 250));
}

void SMARTFormTest::aFullTableOpensCentredAndOnScreen() {
  TSMARTForm form;
  form.WriteHeadings();
  // The most a drive's data sector can hold: 30 attributes.
  form.ShowRows(std::vector<AttributeRow>(30, Row("(01h) Raw Read Error Rate", "100", "6", "-")));
  form.show();
  QVERIFY(QTest::qWaitForWindowExposed(&form));
  const QRect screen = QGuiApplication::primaryScreen()->availableGeometry();
  QVERIFY(screen.contains(form.frameGeometry()));
  QVERIFY((form.frameGeometry().center() - screen.center()).manhattanLength() <= 2);
}

void SMARTFormTest::gridAndWindowGrowWithTheRows() {
  TSMARTForm form;
  form.WriteHeadings();
  std::vector<AttributeRow> rows(19, Row("(01h) Raw Read Error Rate", "100", "6", "SC-POF"));
  form.ShowRows(rows);
  QCOMPARE(form.SMARTSG->RowCount(), 20);
  QCOMPARE(form.SMARTSG->height(), 324);
  QCOMPARE(form.height(), 400);
  QCOMPARE(form.SMARTSG->FullHeight(), 324);
  form.ShowRows({});
  QCOMPARE(form.SMARTSG->RowCount(), 1);
  QCOMPARE(form.SMARTSG->height(), 20);
  QCOMPARE(form.height(), 96);
}

void SMARTFormTest::rawSwitchRereadsAndLaterPassesKeepDecimal() {
  WindowTestKit kit(DemoDrives());
  auto form = kit.Start();
  TSMARTForm& window = *form->SMARTForm();
  QVERIFY(window.RAWValuesHex->isChecked());
  QVERIFY(window.SMARTSG->Cell(3, 1).endsWith("h"));
  QCOMPARE(window.SMARTSG->Cell(3, 1).size(), 13);

  kit.drives->ClearLog();
  window.RAWValuesDec->setChecked(true);
  QCOMPARE(kit.drives->CommandLog().size(), size_t{3});  // status, data, thresholds
  QVERIFY(!window.SMARTSG->Cell(3, 1).endsWith("h"));
  bool decimal = false;
  window.SMARTSG->Cell(3, 1).toULongLong(&decimal);
  QVERIFY(decimal);

  form->CheckHDDs();
  QVERIFY(!window.SMARTSG->Cell(3, 1).endsWith("h"));
  // "RAW Values" is saved but every start begins with HEX.
  QVERIFY(form->SaveSettings());
  auto again = kit.Start();
  QVERIFY(again->SMARTForm()->RAWValuesHex->isChecked());
}

void SMARTFormTest::reportGoesToTheChosenFile() {
  WindowTestKit kit(DemoDrives());
  auto form = kit.Start();
  TSMARTForm& window = *form->SMARTForm();
  const QString path = kit.folder.filePath("first.log");

  window.SaveSMARTSBClick();  // cancelled
  QCOMPARE(kit.dialogs.saveDialogs, 1);
  QCOMPARE(kit.dialogs.saveDialogLook,
           QStringList({"Save Log", "log", "Log files (*.log)", "All files (*)"}));
  QVERIFY(QDir(kit.folder.path()).entryList({"*.log"}).isEmpty());

  kit.dialogs.saveAnswer = path;
  window.SaveSMARTSBClick();
  const QStringList lines = ReportLines(path);
  QCOMPARE(lines.size(), 7 + window.SMARTSG->RowCount() - 1);
  QVERIFY(lines[0].startsWith("S.M.A.R.T. Report - "));
  QCOMPARE(lines[2], QString("Model Number: ST2000DM008-2FR102"));
  QCOMPARE(lines[3], "Firmware Revision: " + form->HDDFirmwareL->text());
  QCOMPARE(lines[4], "Serial Number: " + form->HDDSNL->text());
  QCOMPARE(lines[6].size(), 75);
  QVERIFY(lines[7].startsWith(window.SMARTSG->Cell(0, 1).leftJustified(40)));
  QVERIFY(kit.dialogs.messages.empty());

  kit.dialogs.saveAnswer = kit.folder.filePath("missing/folder/report.log");
  window.SaveSMARTSBClick();
  QCOMPARE(kit.dialogs.messages.size(), size_t{1});
  QCOMPARE(kit.dialogs.messages[0].text, "Unable to write to " + *kit.dialogs.saveAnswer);
}

void SMARTFormTest::captureAndClose() {
  WindowTestKit kit(DemoDrives());
  auto form = kit.Start();
  TSMARTForm& window = *form->SMARTForm();
  window.show();
  QGuiApplication::clipboard()->clear();
  QVERIFY(window.CaptureWindow());
  const QImage picture = QGuiApplication::clipboard()->image();
  QVERIFY(picture.width() >= window.width() && picture.height() >= window.height());

  QVERIFY(!window.close());  // only hidden
  QVERIFY(!window.isVisible());
  QVERIFY(window.SMARTSG->RowCount() > 1);
}

DISKVIGIL_QTEST_MAIN(SMARTFormTest)
#include "SMARTFormTest.moc"
