// The MBR window: its build, the colour squares and the bar frame as painted, the groups filled
// from their views, partitions painted over the bar, whole readings through the view model, and
// "Get MBR" from the main window.
#include <QComboBox>
#include <QGroupBox>
#include <QLabel>
#include <QtTest/QtTest>

#include "kit/QtTestMain.h"
#include "ui/MBRUnit.h"
#include "ui/WindowTestKit.h"

using namespace dv;
using namespace dv::testing;

namespace {

const QColor kBlack(0, 0, 0);
const QColor kWhite(255, 255, 255);
const QColor kRed(255, 0, 0);
const QColor kYellow(255, 255, 0);
const QColor kGreen(0, 128, 0);
const QColor kBlue(0, 0, 255);

QColor BarPixel(const TMBRForm& form, int x, int y) {
  return form.PartImage->Canvas().pixelColor(x, y);
}

QColor TextColor(const QLabel* label) {
  return label->palette().color(QPalette::Active, QPalette::WindowText);
}

// The bar's frame: pixels 0 and 407 across, 0 and 18 down, all black.
bool FrameIsBlack(const TMBRForm& form) {
  for (int x = 0; x <= 407; ++x) {
    if (BarPixel(form, x, 0) != kBlack || BarPixel(form, x, 18) != kBlack) return false;
  }
  for (int y = 0; y <= 18; ++y) {
    if (BarPixel(form, 0, y) != kBlack || BarPixel(form, 407, y) != kBlack) return false;
  }
  return true;
}

PartitionGroupView FullView() {
  PartitionGroupView view;
  view.active = true;
  view.dirty = true;
  view.fs = "NTFS 3.1";
  view.dosLabel = "C:";
  view.volumeLabel = "System";
  view.serial = "5A2C4E1F8B3D7A60";
  view.clusterSize = "4 K";
  view.start = "63";
  view.count = "976773105";
  view.volume = "465 GB";
  return view;
}

// The window texts come from core's view model; until it is in the tree its texts are empty.
bool ViewModelPresent() { return !DiskIdText(0xABCD).empty(); }

PartitionEntry Entry(const std::string& type, uint32_t start, uint32_t count) {
  PartitionEntry entry;
  entry.TypeName = type;
  entry.StartLBA = start;
  entry.SectorCount = count;
  entry.SizeGB = count >> 21;
  return entry;
}

// Two listed drives, numbers 0 and 1, at positions 1 and 2.
std::unique_ptr<SimulatedDriveSystem> TwoDrives() {
  return DrivesFromJson({DriveJson(0, "ST3500418AS"), DriveJson(1, "WDC WD10EARS-00Y5B1")});
}

}  // namespace

class MBRFormTest : public QObject {
  Q_OBJECT
 private slots:
  void windowIsBuiltAsDesigned();
  void squaresAndBarFrameArePaintedOnce();
  void groupShowsItsViewInTheRightLabels();
  void partitionsArePaintedOverWhatTheBarHolds();
  void readingShowsTheTextsOfEachKindOfEntry();
  void wholeDiskPartitionFillsTheBarInsideTheFrame();
  void getMbrShowsTheWindowOnlyAfterARead();
  void refusedSectorReadsOnTheDrivePathShowNothing();
  void closingHides();
};

void MBRFormTest::windowIsBuiltAsDesigned() {
  TMBRForm form;
  QCOMPARE(form.windowTitle(), QString("MBR"));
  QCOMPARE(form.size(), QSize(417, 332));
  QCOMPARE(form.minimumSize(), form.maximumSize());
  QVERIFY(!(form.windowFlags() & (Qt::WindowMinimizeButtonHint | Qt::WindowMaximizeButtonHint)));
  const int tops[] = {4, 68, 132, 196};
  for (int k = 1; k <= 4; ++k) {
    const PartitionGroupControls& c = form.Part[static_cast<size_t>(k - 1)];
    QCOMPARE(c.GB->title(), QString("Partition %1").arg(k));
    QCOMPARE(c.GB->geometry(), QRect(4, tops[k - 1], 409, 65));
    QCOMPARE(c.ColI->geometry(), QRect(4, 16, 10, 10));
    QCOMPARE(c.FSL->pos(), QPoint(112, 12));
    QCOMPARE(c.VolumeL->pos(), QPoint(364, 44));
    QVERIFY(!c.ActiveL->isEnabled() && !c.DirtyL->isEnabled());
    QCOMPARE(TextColor(c.ActiveL), kRed);
    QCOMPARE(TextColor(c.DirtyL), kRed);
    for (const QLabel* blue : {c.FSL, c.DosLabelL, c.VolumeLabelL, c.VolumeL}) {
      QCOMPARE(TextColor(blue), kBlue);
    }
    for (const QLabel* value : {c.FSL, c.DosLabelL, c.VolumeLabelL, c.SerialL, c.ClusterSizeL,
                                c.StartL, c.CountL, c.VolumeL}) {
      QCOMPARE(value->text(), QString("..."));
    }
  }
  QCOMPARE(form.PartImage->geometry(), QRect(4, 268, 409, 20));
  QCOMPARE(form.PartVolumeIDNL->text(), QString("Volume ID:"));
  QCOMPARE(form.PartVolumeIDL->pos(), QPoint(60, 296));
  QCOMPARE(form.PartSignatureNL->text(), QString("Signature:"));
  QCOMPARE(form.PartSignatureL->pos(), QPoint(60, 312));
}

void MBRFormTest::squaresAndBarFrameArePaintedOnce() {
  TMBRForm form;
  const QColor colours[] = {kRed, kYellow, kGreen, kBlue};
  for (int k = 1; k <= 4; ++k) {
    const QImage& square = form.Part[static_cast<size_t>(k - 1)].ColI->Canvas();
    for (int i = 0; i <= 8; ++i) {
      QCOMPARE(square.pixelColor(i, 0), kBlack);
      QCOMPARE(square.pixelColor(i, 8), kBlack);
      QCOMPARE(square.pixelColor(0, i), kBlack);
      QCOMPARE(square.pixelColor(8, i), kBlack);
    }
    for (int y = 1; y <= 7; ++y) {
      for (int x = 1; x <= 7; ++x) QCOMPARE(square.pixelColor(x, y), colours[k - 1]);
    }
  }
  QVERIFY(FrameIsBlack(form));
  QCOMPARE(BarPixel(form, 1, 1), kWhite);
  QCOMPARE(BarPixel(form, 406, 17), kWhite);
  QCOMPARE(BarPixel(form, 200, 10), kWhite);
}

void MBRFormTest::groupShowsItsViewInTheRightLabels() {
  TMBRForm form;
  form.ShowGroup(3, FullView());
  const PartitionGroupControls& c = form.Part[2];
  QVERIFY(c.ActiveL->isEnabled() && c.DirtyL->isEnabled());
  QCOMPARE(c.FSL->text(), QString("NTFS 3.1"));
  QCOMPARE(c.DosLabelL->text(), QString("C:"));
  QCOMPARE(c.VolumeLabelL->text(), QString("System"));
  QCOMPARE(c.SerialL->text(), QString("5A2C4E1F8B3D7A60"));
  QCOMPARE(c.ClusterSizeL->text(), QString("4 K"));
  QCOMPARE(c.StartL->text(), QString("63"));
  QCOMPARE(c.CountL->text(), QString("976773105"));
  QCOMPARE(c.VolumeL->text(), QString("465 GB"));
  QCOMPARE(c.VolumeLabelL->x(), 128);  // a drive letter leaves the label where it was drawn
  QCOMPARE(form.Part[1].FSL->text(), QString("..."));  // the other groups are untouched

  // A mount point is wider than a letter: the volume label moves along instead of under it.
  PartitionGroupView mounted = FullView();
  mounted.active = false;
  mounted.dosLabel = "/srv/archive:";
  form.ShowGroup(3, mounted);
  QVERIFY(!c.ActiveL->isEnabled() && c.DirtyL->isEnabled());
  const int letterRight =
      c.DosLabelL->x() + c.DosLabelL->fontMetrics().horizontalAdvance(c.DosLabelL->text());
  QVERIFY(c.VolumeLabelL->x() > letterRight);

  form.ShowGroup(3, PartitionGroupView{});
  QVERIFY(!c.ActiveL->isEnabled() && !c.DirtyL->isEnabled());
  QVERIFY(c.DosLabelL->text().isEmpty());
  QCOMPARE(c.VolumeLabelL->x(), 128);
}

void MBRFormTest::partitionsArePaintedOverWhatTheBarHolds() {
  TMBRForm form;
  form.PaintPartition(1, {1, 1, 200, 18});
  form.PaintPartition(2, {150, 1, 300, 18});  // the later partition covers the earlier
  form.PaintPartition(3, {320, 1, 320, 18});  // right not beyond left: nothing
  QCOMPARE(BarPixel(form, 1, 1), kRed);
  QCOMPARE(BarPixel(form, 149, 17), kRed);
  QCOMPARE(BarPixel(form, 150, 1), kYellow);
  QCOMPARE(BarPixel(form, 299, 17), kYellow);
  QCOMPARE(BarPixel(form, 300, 10), kWhite);
  QCOMPARE(BarPixel(form, 320, 10), kWhite);
  QVERIFY(FrameIsBlack(form));

  // The next reading paints over the bar without clearing it.
  form.PaintPartition(4, {350, 1, 360, 18});
  QCOMPARE(BarPixel(form, 100, 10), kRed);
  QCOMPARE(BarPixel(form, 200, 10), kYellow);
  QCOMPARE(BarPixel(form, 350, 10), kBlue);
  QCOMPARE(BarPixel(form, 360, 10), kWhite);
}

void MBRFormTest::readingShowsTheTextsOfEachKindOfEntry() {
  if (!ViewModelPresent()) QSKIP("the partition view model is not in this tree yet");
  MbrReading reading;
  reading.read = true;
  reading.diskId = 0x0000ABCD;
  reading.signature = 0xAA55;
  PartitionEntry& ntfs = reading.entries[0] = Entry("NTFS", 63, 204800);
  ntfs.Active = true;
  ntfs.Version = " 3.1";
  ntfs.ClusterSectors = 8;
  ntfs.Serial = "5A2C4E1F8B3D7A60";
  ntfs.VolumeLabel = "System";
  ntfs.DriveLetter = "C";
  PartitionEntry& linuxEntry = reading.entries[1] = Entry("Linux", 204863, 4194304);
  linuxEntry.DriveLetter = "E";
  reading.entries[2] = Entry("Empty", 0, 0);
  reading.entries[3] = Entry("FAT32", 4399167, 2097152);
  reading.entries[3].Serial = "1A2B-3C4D";

  TMBRForm form;
  form.ShowReading(reading, 976773168);
  QCOMPARE(form.PartVolumeIDL->text(), QString("0000ABCD"));
  QCOMPARE(form.PartSignatureL->text(), QString("AA55h"));

  const PartitionGroupControls& p1 = form.Part[0];
  QCOMPARE(p1.FSL->text(), QString("NTFS 3.1"));
  QCOMPARE(p1.ClusterSizeL->text(), QString("4 K"));
  QCOMPARE(p1.DosLabelL->text(), QString("C:"));
  QCOMPARE(p1.VolumeLabelL->text(), QString("System"));
  QCOMPARE(p1.StartL->text(), QString("63"));
  QVERIFY(p1.ActiveL->isEnabled() && !p1.DirtyL->isEnabled());

  const PartitionGroupControls& p2 = form.Part[1];
  QCOMPARE(p2.FSL->text(), QString("Linux"));
  QCOMPARE(p2.StartL->text(), QString("204863"));
  QCOMPARE(p2.CountL->text(), QString("4194304"));
  QCOMPARE(p2.VolumeL->text(), QString("2 GB"));
  QCOMPARE(p2.DosLabelL->text(), QString("E:"));
  for (const QLabel* none : {p2.SerialL, p2.ClusterSizeL, p2.VolumeLabelL}) {
    QCOMPARE(none->text(), QString("..."));
  }

  const PartitionGroupControls& p3 = form.Part[2];
  QCOMPARE(p3.FSL->text(), QString("Empty"));
  for (const QLabel* none : {p3.StartL, p3.CountL, p3.VolumeL, p3.DosLabelL, p3.SerialL,
                             p3.ClusterSizeL, p3.VolumeLabelL}) {
    QCOMPARE(none->text(), QString("..."));
  }
  QVERIFY(!p3.ActiveL->isEnabled() && !p3.DirtyL->isEnabled());

  // No drive letter: no text at all, not "...".
  QVERIFY(form.Part[3].DosLabelL->text().isEmpty());
  QCOMPARE(form.Part[3].SerialL->text(), QString("1A2B-3C4D"));
}

void MBRFormTest::wholeDiskPartitionFillsTheBarInsideTheFrame() {
  if (!ViewModelPresent()) QSKIP("the partition view model is not in this tree yet");
  constexpr uint64_t kSectors = 976773168;
  MbrReading reading;
  reading.read = true;
  reading.entries[0] = Entry("NTFS", 63, static_cast<uint32_t>(kSectors - 63));
  TMBRForm form;
  form.ShowReading(reading, kSectors);
  for (int y = 1; y <= 17; ++y) {
    QCOMPARE(BarPixel(form, 1, y), kRed);
    QCOMPARE(BarPixel(form, 406, y), kRed);
  }
  QCOMPARE(BarPixel(form, 200, 9), kRed);
  QVERIFY(FrameIsBlack(form));

  // A disk without a known size paints nothing and keeps the last picture.
  MbrReading other;
  other.read = true;
  other.entries[1] = Entry("Linux", 0, 1000);
  form.ShowReading(other, 0);
  QCOMPARE(BarPixel(form, 200, 9), kRed);
}

void MBRFormTest::getMbrShowsTheWindowOnlyAfterARead() {
  WindowTestKit kit(TwoDrives());
  MainFormContext context = kit.Context();
  std::vector<int> readDrives;
  MbrReading answer;
  answer.read = true;
  answer.diskId = 0x12345678;
  answer.entries[0] = Entry("FAT32", 2048, 1048576);
  context.readMbr = [&](DriveSystem&, const Drive& drive) {
    readDrives.push_back(drive.DriveNumber);
    return answer;
  };
  TMainForm form(std::move(context));
  QCOMPARE(form.FormCreate(), StartupResult::Running);
  form.CreateMBRForm();
  TMBRForm& window = *form.MBRForm();

  form.HDDCB->setCurrentIndex(1);
  form.MBRReadSBClick();
  QCOMPARE(readDrives, std::vector<int>{1});
  QCOMPARE(kit.dialogs.modalShows, 1);
  QCOMPARE(kit.dialogs.lastModal, &window);
  const PartitionGroupView shown = ViewPartitionGroup(answer.entries[0]);
  QCOMPARE(window.Part[0].StartL->text(), QString::fromStdString(shown.start));
  QCOMPARE(window.PartVolumeIDL->text(), QString::fromStdString(DiskIdText(0x12345678)));

  // Sector 0 unreadable: no window, and it keeps what it showed.
  window.PartVolumeIDL->setText("kept");
  answer.read = false;
  answer.diskId = 0;
  form.MBRReadSBClick();
  QCOMPARE(readDrives.size(), size_t{2});
  QCOMPARE(kit.dialogs.modalShows, 1);
  QCOMPARE(window.PartVolumeIDL->text(), QString("kept"));

  // No drive selected: nothing is read.
  form.HDDCB->setCurrentIndex(-1);
  form.MBRReadSBClick();
  QCOMPARE(readDrives.size(), size_t{2});
  QCOMPARE(kit.dialogs.modalShows, 1);
}

void MBRFormTest::refusedSectorReadsOnTheDrivePathShowNothing() {
  // The whole way down to the drive, with nothing faked but the drive itself.
  WindowTestKit kit(TwoDrives());
  auto form = kit.Start();
  SimulatedDrive& drive = *kit.drives->FindDrive(0);
  drive.ioctlFailures = {AtaCommand::ReadSectors, AtaCommand::ReadSectorsExt};
  form->MBRForm()->PartVolumeIDL->setText("kept");
  form->MBRReadSBClick();
  QCOMPARE(kit.dialogs.modalShows, 0);
  QCOMPARE(form->MBRForm()->PartVolumeIDL->text(), QString("kept"));
  QCOMPARE(kit.drives->OpenHandleCount(), 0);

  drive.failOpen = true;
  form->MBRReadSBClick();
  QCOMPARE(kit.dialogs.modalShows, 0);
  QCOMPARE(kit.drives->OpenHandleCount(), 0);
}

void MBRFormTest::closingHides() {
  WindowTestKit kit(TwoDrives());
  auto form = kit.Start();
  TMBRForm* window = form->MBRForm();
  window->show();
  window->Part[0].FSL->setText("FAT16");
  QVERIFY(!window->close());
  QVERIFY(!window->isVisible());
  QCOMPARE(form->MBRForm(), window);
  QCOMPARE(window->Part[0].FSL->text(), QString("FAT16"));
}

DISKVIGIL_QTEST_MAIN(MBRFormTest)
#include "MBRFormTest.moc"
