#include "ui/MBRUnit.h"

#include <QGroupBox>
#include <QLabel>
#include <QPainter>
#include <QPalette>
#include <QStyle>
#include <algorithm>

#include "ui/Controls.h"

namespace dv {

namespace {

constexpr int kMbrClientWidth = 417;
constexpr int kMbrClientHeight = 332;
constexpr int kScreenLeft = 355;
constexpr int kScreenTop = 208;
constexpr int kGroupLeft = 4;
constexpr int kGroupTops[kPartitionGroups] = {4, 68, 132, 196};
constexpr int kGroupWidth = 409;
constexpr int kGroupHeight = 65;
constexpr int kSquareSize = 10;
constexpr int kBarLeft = 4;
constexpr int kBarTop = 268;
constexpr int kBarWidth = 409;
constexpr int kBarHeight = 20;
constexpr int kLabelHeight = 14;
// The volume label follows the drive letter; a longer volume name (a mount point) pushes it on.
constexpr int kVolumeLabelLeft = 128;

QLabel* MakeLabel(const QString& text, QWidget* parent, int left, int top, int width = 0) {
  auto* label = new QLabel(text, parent);
  label->move(left, top);
  if (width > 0) {
    label->resize(width, kLabelHeight);
  } else {
    label->adjustSize();
  }
  return label;
}

}  // namespace

CanvasImage::CanvasImage(int width, int height, QWidget* parent)
    : QWidget(parent), canvas_(width, height, QImage::Format_ARGB32) {
  setFixedSize(width, height);
  canvas_.fill(Qt::transparent);
}

void CanvasImage::paintEvent(QPaintEvent*) {
  QPainter painter(this);
  painter.drawImage(0, 0, canvas_);
}

QColor TMBRForm::PartitionColor(int partition) {
  switch (partition) {
    case 1:
      return QColor(255, 0, 0);
    case 2:
      return QColor(255, 255, 0);
    case 3:
      return QColor(0, 128, 0);
    default:
      return QColor(0, 0, 255);
  }
}

TMBRForm::TMBRForm(QWidget* parent) : TSecondaryForm(parent) {
  setWindowTitle("MBR");
  setWindowFlags(Qt::Dialog | Qt::CustomizeWindowHint | Qt::WindowTitleHint |
                 Qt::WindowSystemMenuHint | Qt::WindowCloseButtonHint);
  setWindowIcon(style()->standardIcon(QStyle::SP_DriveHDIcon));
  setFixedSize(kMbrClientWidth, kMbrClientHeight);
  move(kScreenLeft, kScreenTop);
  // The layout is drawn for a small 11-pixel face of a narrow font; a 10-pixel condensed face of
  // the usual wider ones keeps the name labels clear of their values.
  QFont small = font();
  small.setPixelSize(10);
  small.setStretch(QFont::SemiCondensed);
  setFont(small);

  for (int partition = 1; partition <= kPartitionGroups; ++partition) BuildGroup(partition);

  PartImage = new CanvasImage(kBarWidth, kBarHeight, this);
  PartImage->move(kBarLeft, kBarTop);
  PartVolumeIDNL = MakeLabel("Volume ID:", this, 4, 296);
  PartVolumeIDL = MakeLabel(kNoValue, this, 60, 296, 120);
  PartSignatureNL = MakeLabel("Signature:", this, 4, 312);
  PartSignatureL = MakeLabel(kNoValue, this, 60, 312, 120);
  FormCreate();
}

void TMBRForm::BuildGroup(int partition) {
  PartitionGroupControls& c = Part[static_cast<size_t>(partition - 1)];
  c.GB = new QGroupBox(QString("Partition %1").arg(partition), this);
  c.GB->setGeometry(kGroupLeft, kGroupTops[partition - 1], kGroupWidth, kGroupHeight);
  QWidget* g = c.GB;

  c.ColI = new CanvasImage(kSquareSize, kSquareSize, g);
  c.ColI->move(4, 16);
  c.ColI->setCursor(Qt::PointingHandCursor);
  c.ActiveL = MakeLabel("Active", g, 4, 28);
  c.DirtyL = MakeLabel("Dirty", g, 4, 44);
  for (QLabel* flag : {c.ActiveL, c.DirtyL}) {
    SetTextColor(flag, Qt::red);
    flag->setEnabled(false);
  }

  c.FSNL = MakeLabel("Filesystem:", g, 40, 12);
  c.FSL = MakeLabel(kNoValue, g, 112, 12, 106);
  c.VolumeLabelNL = MakeLabel("Volume Label:", g, 40, 28);
  c.DosLabelL = MakeLabel(kNoValue, g, 112, 28, 16);
  c.VolumeLabelL = MakeLabel(kNoValue, g, kVolumeLabelLeft, 28, 90);
  c.SerialNL = MakeLabel("Serial Number:", g, 40, 44);
  c.SerialL = MakeLabel(kNoValue, g, 112, 44, 106);
  c.ClusterSizeNL = MakeLabel("Cluster Size:", g, 220, 12);
  c.ClusterSizeL = MakeLabel(kNoValue, g, 292, 12, 112);
  c.StartNL = MakeLabel("Start LBA:", g, 220, 28);
  c.StartL = MakeLabel(kNoValue, g, 292, 28, 112);
  c.CountNL = MakeLabel("Sectors Count:", g, 220, 44);
  c.CountL = MakeLabel(kNoValue, g, 292, 44, 70);
  c.VolumeL = MakeLabel(kNoValue, g, 364, 44, 44);
  for (QLabel* value : {c.FSL, c.DosLabelL, c.VolumeLabelL, c.VolumeL}) {
    SetTextColor(value, Qt::blue);
  }
}

void TMBRForm::FormCreate() {
  // The colour squares: a 9 x 9 black frame (pixels 0 and 8) around a 7 x 7 coloured inside.
  for (int partition = 1; partition <= kPartitionGroups; ++partition) {
    QImage& square = Part[static_cast<size_t>(partition - 1)].ColI->Canvas();
    QPainter painter(&square);
    painter.setPen(Qt::black);
    painter.setBrush(Qt::white);
    painter.drawRect(0, 0, kSquareSize - 2, kSquareSize - 2);
    painter.fillRect(1, 1, kSquareSize - 3, kSquareSize - 3, PartitionColor(partition));
  }
  // The bar's frame on pixels 0 and width - 2 across, 0 and height - 2 down; the partitions
  // are painted inside it, from pixel 1 up to width - 2 and height - 2 (both outside).
  QImage& bar = PartImage->Canvas();
  bar.fill(Qt::white);
  QPainter painter(&bar);
  painter.setPen(Qt::black);
  painter.setBrush(Qt::white);
  painter.drawRect(0, 0, kBarWidth - 2, kBarHeight - 2);
}

void TMBRForm::ShowReading(const MbrReading& reading, uint64_t userSectors) {
  ShowIdentity(reading.diskId, reading.signature);
  for (int partition = 1; partition <= kPartitionGroups; ++partition) {
    ShowGroup(partition, ViewPartitionGroup(reading.entries[static_cast<size_t>(partition - 1)]));
  }
  for (int partition = 1; partition <= kPartitionGroups; ++partition) {
    const PartitionEntry& entry = reading.entries[static_cast<size_t>(partition - 1)];
    if (const auto rect = PartitionBarRect(entry, userSectors, kBarWidth, kBarHeight)) {
      PaintPartition(partition, *rect);
    }
  }
}

void TMBRForm::ShowIdentity(uint32_t diskId, uint16_t signature) {
  PartVolumeIDL->setText(QString::fromStdString(DiskIdText(diskId)));
  PartSignatureL->setText(QString::fromStdString(SignatureText(signature)));
}

void TMBRForm::ShowGroup(int partition, const PartitionGroupView& view) {
  if (partition < 1 || partition > kPartitionGroups) return;
  PartitionGroupControls& c = Part[static_cast<size_t>(partition - 1)];
  c.ActiveL->setEnabled(view.active);
  c.DirtyL->setEnabled(view.dirty);
  c.FSL->setText(QString::fromStdString(view.fs));
  c.DosLabelL->setText(QString::fromStdString(view.dosLabel));
  c.VolumeLabelL->setText(QString::fromStdString(view.volumeLabel));
  c.SerialL->setText(QString::fromStdString(view.serial));
  c.ClusterSizeL->setText(QString::fromStdString(view.clusterSize));
  c.StartL->setText(QString::fromStdString(view.start));
  c.CountL->setText(QString::fromStdString(view.count));
  c.VolumeL->setText(QString::fromStdString(view.volume));

  // A drive letter fits the design's 16 pixels; a mount point is wider and moves the volume
  // label along instead of running under it.
  const int letterWidth = c.DosLabelL->fontMetrics().horizontalAdvance(c.DosLabelL->text());
  const int letterRight = c.DosLabelL->x() + letterWidth;
  c.DosLabelL->resize(std::max(16, letterWidth), c.DosLabelL->height());
  c.VolumeLabelL->move(std::max(kVolumeLabelLeft, letterRight + 4), c.VolumeLabelL->y());
}

void TMBRForm::PaintPartition(int partition, const BarRect& rect) {
  const auto [left, top, right, bottom] = rect;
  if (right <= left || bottom <= top) return;
  QPainter painter(&PartImage->Canvas());
  painter.fillRect(QRect(left, top, right - left, bottom - top), PartitionColor(partition));
  PartImage->update();
}

}  // namespace dv
