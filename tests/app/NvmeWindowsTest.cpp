// NVMe drives in the windows, on simulated drives: the main window's information panel and
// feature groups, the S.M.A.R.T. window's health rows and its note for a drive read without
// privilege, and the tray icon and balloon of a drive that raises a critical warning.
#include <QAction>
#include <QCheckBox>
#include <QComboBox>
#include <QGroupBox>
#include <QLabel>
#include <QRadioButton>
#include <QToolButton>
#include <QtTest/QtTest>

#include "app/VendorLogos.h"
#include "core/Identify.h"
#include "core/Nvme.h"
#include "kit/QtTestMain.h"
#include "ui/SMARTFormUnit.h"
#include "ui/StringGrid.h"
#include "ui/WindowTestKit.h"

using namespace dv;
using namespace dv::testing;

namespace {

constexpr int kNvmeController = 2;  // its own number, apart from the ATA drive's 0

std::string NvmeJson(int criticalWarning, bool privileged = true) {
  return "{\"driveNumber\":" + std::to_string(kNvmeController) +
         ",\"model\":\"Samsung SSD 980 PRO 1TB\",\"serial\":\"S5GXNX0T512345A\","
         "\"firmware\":\"5B2QGXA7\",\"nvme\":{\"pciVendorId\":5197,\"blocks\":1953525168,"
         "\"blockSize\":512,\"privileged\":" +
         (privileged ? "true" : "false") +
         ",\"health\":{\"criticalWarning\":" + std::to_string(criticalWarning) +
         ",\"temperature\":41,\"availableSpare\":100,\"availableSpareThreshold\":10,"
         "\"percentageUsed\":2,\"powerOnHours\":4321,\"mediaErrors\":0,\"sensors\":[41,52]}}}";
}

// The grid row whose name cell is `name`; 0 when there is none.
int RowNamed(const StringGrid& grid, const QString& name) {
  for (int row = 1; row < grid.RowCount(); ++row) {
    if (grid.Cell(kColumnName, row) == name) return row;
  }
  return 0;
}

// Sets the simulated controller's critical-warning byte; the next read sees it.
void SetCriticalWarning(SimulatedDriveSystem& drives, uint8_t warning) {
  SimulatedDrive* drive = drives.FindDrive(kNvmeController);
  QVERIFY(drive != nullptr && drive->nvme.has_value());
  drive->nvme->healthLog[0] = warning;
}

}  // namespace

class NvmeWindowsTest : public QObject {
  Q_OBJECT
 private slots:
  void mainWindowShowsNoAtaFeaturesForAnNvmeDrive();
  void smartWindowShowsTheHealthRows();
  void unprivilegedDriveSaysTheLogNeedsRoot();
  void healthRowNamesFitTheNameColumn();
  void trayShowsTheTemperatureAndWarnsOnACriticalWarning();
  void compositeTemperatureOfZeroKelvinIsShownAsNotReported();
};

void NvmeWindowsTest::mainWindowShowsNoAtaFeaturesForAnNvmeDrive() {
  // An ATA drive with a host protected area: 2000 sectors hidden behind its last user sector.
  std::string ata = DriveJson(0, "ST3500418AS");
  ata.insert(1, "\"hpaEnabled\":true,\"nativeMaxAddress\":976775167,");
  WindowTestKit kit(DrivesFromJson({ata, NvmeJson(0)}));
  MainFormContext context = kit.Context();
  std::vector<int> featureReads;
  int featureSets = 0;
  context.readFeature = [&](DriveSystem&, int driveNumber, DriveFeature) {
    featureReads.push_back(driveNumber);
    return FeatureState{128, 254, true, true};
  };
  context.setFeature = [&](DriveSystem&, int, DriveFeature, uint8_t, bool) {
    ++featureSets;
    return true;
  };
  TMainForm form(context);
  QCOMPARE(form.FormCreate(), StartupResult::Running);
  QCOMPARE(form.HDDCB->count(), 2);
  QVERIFY(form.AAMGB->isEnabled());
  QVERIFY(form.HDDHPAUL->isEnabled());
  const QString hpaSize = form.HDDHPAUL->text();
  QVERIFY(hpaSize != "...");

  featureReads.clear();
  PickDrive(form, 1);
  QCOMPARE(form.HDDModelL->text(), QString("Samsung SSD 980 PRO 1TB"));
  QCOMPARE(form.HDDSNL->text(), QString("S5GXNX0T512345A"));
  QCOMPARE(form.HDDFirmwareL->text(), QString("5B2QGXA7"));
  // The namespace's 1953525168 blocks of 512 bytes, in the unit the ATA drives are shown in.
  QCOMPARE(form.HDDSizeL->text(), QString::number(CapacityGB(1953525168)));
  QVERIFY(CapacityGB(1953525168) > 900);
  for (QLabel* label : {form.HDDLBA48L, form.HDDHPAL, form.HDDSecML}) {
    QVERIFY(!label->isEnabled());
    QVERIFY(!label->toolTip().isEmpty());
  }
  QVERIFY(form.HDDSMARTL->isEnabled());
  QVERIFY(!form.AAMGB->isEnabled());
  QVERIFY(!form.APMGB->isEnabled());
  QVERIFY(!form.MBRReadSB->isEnabled());
  QCOMPARE(form.HDDHPAUL->text(), QString("..."));
  QCOMPARE(form.CurrentAAMLevelL->text(), QString("..."));
  // Nothing was asked of ATA drive 2 (which would be another drive), and Set sends nothing.
  QVERIFY(featureReads.empty());
  form.AAMSet->trigger();
  form.APMSet->trigger();
  QCOMPARE(featureSets, 0);
  QVERIFY(featureReads.empty());
  // The Samsung wordmark, by the PCI vendor id (144Dh), drawn when the label is first painted.
  form.HDDLogoI->grab();
  QCOMPARE(form.HDDLogoI->pixmap().toImage(), VendorLogo(2).convertToFormat(QImage::Format_RGB32));

  // Back on the ATA drive, all of it returns.
  PickDrive(form, 0);
  QVERIFY(form.AAMGB->isEnabled());
  QVERIFY(form.APMGB->isEnabled());
  QVERIFY(form.MBRReadSB->isEnabled());
  QCOMPARE(form.HDDHPAUL->text(), hpaSize);
  QVERIFY(form.HDDLBA48L->toolTip().isEmpty());
  QCOMPARE(featureReads, (std::vector<int>{0, 0}));
  QCOMPARE(form.CurrentAAMLevelL->text(), QString("128"));
}

void NvmeWindowsTest::smartWindowShowsTheHealthRows() {
  // Spare below its threshold and the media read-only: the critical warning's bits 0 and 3.
  WindowTestKit kit(DrivesFromJson({NvmeJson(0x09)}));
  SimulatedDrive* simulated = kit.drives->FindDrive(kNvmeController);
  QVERIFY(simulated != nullptr && simulated->nvme.has_value());
  simulated->nvme->healthLog[3] = 4;  // available spare 4 % under the 10 % threshold
  auto form = kit.Start();
  QCOMPARE(kit.startup, StartupResult::Running);
  TSMARTForm& smart = *form->SMARTForm();
  const StringGrid& grid = *smart.SMARTSG;

  QCOMPARE(form->SMARTStatusL->text(), QString("ERROR"));
  QCOMPARE(smart.SMARTStatusL->text(), QString("ERROR"));
  QVERIFY(smart.SMARTStatusL->toolTip().contains("available spare below threshold"));
  QVERIFY(smart.SMARTStatusL->toolTip().contains("read-only"));
  QCOMPARE(form->HDDTempL->text(), QString("41"));
  for (QLabel* label : {form->HDDTempLoL, form->HDDTempHiL, form->HDDAirTempL}) {
    QCOMPARE(label->text(), QString("..."));
  }

  // The same rows as the report has, in the same grid under the same headings.
  QCOMPARE(grid.Cell(kColumnName, 0), QString("Name"));
  const std::optional<NvmeHealth> health = DecodeNvmeHealthLog(simulated->nvme->healthLog);
  QVERIFY(health.has_value());
  QCOMPARE(static_cast<size_t>(grid.RowCount() - 1),
           BuildNvmeHealthRows(*health, RawPresentation::Hex).size());
  const int spare = RowNamed(grid, "Available Spare (%)");
  QVERIFY(spare > 0);
  QCOMPARE(grid.Cell(kColumnThreshold, spare), QString("10"));
  QCOMPARE(grid.Cell(kColumnStatus, spare), QString::fromLatin1(kStatusFailed.data()));
  const int warning = RowNamed(grid, "Critical Warning");
  QVERIFY(warning > 0);
  QCOMPARE(grid.Cell(kColumnStatus, warning), QString::fromLatin1(kStatusFailed.data()));
  QVERIFY(smart.NoteL->isHidden());
  // Rows whose rule failed are drawn pink, the others on the plain background.
  const QImage drawn = smart.SMARTSG->viewport()->grab().toImage();
  const auto back = [&](int row) {
    return drawn.pixelColor(grid.CellRect(kColumnStatus, row).bottomRight() - QPoint(2, 2));
  };
  QCOMPARE(back(spare), QColor(255, 192, 203));
  QCOMPARE(back(warning), QColor(255, 192, 203));
  QCOMPARE(back(RowNamed(grid, "Power Cycles")), smart.palette().color(QPalette::Base));

  // DEC shows the counters in decimal.
  const int hours = RowNamed(grid, "Power On Hours");
  QVERIFY(hours > 0);
  QCOMPARE(grid.Cell(kColumnRaw, hours), QString("0000000010E1h"));
  smart.onReadRequested = [&] { form->ReadSMARTShown(1); };
  smart.RAWValuesDec->setChecked(true);
  QCOMPARE(grid.Cell(kColumnRaw, hours), QString("4321"));
}

void NvmeWindowsTest::unprivilegedDriveSaysTheLogNeedsRoot() {
  WindowTestKit kit(DrivesFromJson({NvmeJson(0, false)}));
  auto form = kit.Start();
  QCOMPARE(kit.startup, StartupResult::Running);
  TSMARTForm& smart = *form->SMARTForm();
  QCOMPARE(form->HDDModelL->text(), QString("Samsung SSD 980 PRO 1TB"));
  QCOMPARE(form->HDDTempL->text(), QString("41"));
  QCOMPARE(form->SMARTStatusL->text(), QString("O.K."));
  // No rows, and a line that says where the full log comes from.
  QCOMPARE(smart.SMARTSG->RowCount(), 1);
  QVERIFY(!smart.NoteL->isHidden());
  QVERIFY(smart.NoteL->text().contains("root"));
  QVERIFY(smart.NoteL->text().contains("sudo diskvigil-cli smart"));
  // The note fits in the window, below the grid.
  QVERIFY(smart.NoteL->geometry().top() >= smart.SMARTSG->geometry().bottom());
  QVERIFY(smart.NoteL->geometry().bottom() <= smart.height());
}

// Every row name must be readable in the grid's fixed Name column.
void NvmeWindowsTest::healthRowNamesFitTheNameColumn() {
  TSMARTForm smart;
  const QFontMetrics metrics(smart.SMARTSG->font());
  NvmeHealth health;
  health.SensorTemperatureK.fill(300);  // every sensor row present
  QStringList tooWide;
  for (const AttributeRow& row : BuildNvmeHealthRows(health, RawPresentation::Hex)) {
    const QString name = QString::fromStdString(row[kColumnName]);
    // The cell's text starts two pixels in.
    if (metrics.horizontalAdvance(name) + 2 > smart.SMARTSG->ColumnWidth(kColumnName)) {
      tooWide << name;
    }
  }
  QVERIFY2(tooWide.isEmpty(), qPrintable(tooWide.join(", ")));
}

void NvmeWindowsTest::compositeTemperatureOfZeroKelvinIsShownAsNotReported() {
  std::string silent = NvmeJson(0);
  silent.replace(silent.find("\"temperature\":41"), 16, "\"temperature\":-273");
  WindowTestKit kit(DrivesFromJson({silent}));
  auto form = kit.Start();
  form->CheckHDDs();
  QCOMPARE(form->HDDTempL->text(), QString("..."));
  QCOMPARE(kit.icons.icons[0].text, std::string("..."));
}

void NvmeWindowsTest::trayShowsTheTemperatureAndWarnsOnACriticalWarning() {
  WindowTestKit kit(DrivesFromJson({DriveJson(0, "ST3500418AS"), NvmeJson(0)}));
  auto form = kit.Start();
  form->BallHCB->setChecked(true);
  form->AlertCB->setChecked(true);
  form->CheckHDDs();
  QCOMPARE(kit.icons.icons[1].text, std::string("41"));
  QCOMPARE(kit.icons.icons[1].borderColor, kIconGreen);
  QCOMPARE(kit.icons.icons[1].hint, std::string("Samsung SSD 980 PRO 1TB"));
  QVERIFY(kit.icons.balloons.empty());
  QCOMPARE(kit.sound.plays, 0);

  // The controller raises its temperature warning: red frame, the balloon, the sound.
  SetCriticalWarning(*kit.drives, kNvmeWarningTemperature);
  form->CheckHDDs();
  QCOMPARE(kit.icons.icons[1].borderColor, kIconRed);
  QCOMPARE(kit.icons.icons[0].borderColor, kIconGreen);
  QCOMPARE(kit.icons.balloons.size(), size_t{1});
  QCOMPARE(kit.icons.balloons[0].index, 1);
  QCOMPARE(kit.icons.balloons[0].text, std::string("S.M.A.R.T. failure detected!"));
  QCOMPARE(kit.icons.balloons[0].kind, BalloonKind::Error);
  QCOMPARE(kit.sound.plays, 1);

  // Cleared again: green, and no further warning.
  SetCriticalWarning(*kit.drives, 0);
  form->CheckHDDs();
  QCOMPARE(kit.icons.icons[1].borderColor, kIconGreen);
  QCOMPARE(kit.icons.balloons.size(), size_t{1});
}

DISKVIGIL_QTEST_MAIN(NvmeWindowsTest)
#include "NvmeWindowsTest.moc"
