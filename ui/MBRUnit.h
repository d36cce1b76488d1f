// The MBR window: what one reading of sector 0 and the partitions' first sectors found, in four
// partition groups, a to-scale bar of the partitions over the whole disk, the disk identifier and
// the boot signature. It is created at start and lives to the end; closing it only hides it.
#pragma once

#include <QImage>
#include <QWidget>
#include <array>
#include <cstdint>

#include "core/MbrView.h"
#include "ui/SecondaryForm.h"

class QGroupBox;
class QLabel;

namespace dv {

// A picture the window paints into once and keeps: what is drawn stays until drawn over.
class CanvasImage : public QWidget {
 public:
  CanvasImage(int width, int height, QWidget* parent);
  QImage& Canvas() { return canvas_; }
  const QImage& Canvas() const { return canvas_; }

 protected:
  void paintEvent(QPaintEvent* event) override;

 private:
  QImage canvas_;
};

// The controls of one partition group; group k is Part[k - 1] (Part1GB, Part1FSL, ...).
struct PartitionGroupControls {
  QGroupBox* GB = nullptr;
  CanvasImage* ColI = nullptr;
  QLabel* ActiveL = nullptr;
  QLabel* DirtyL = nullptr;
  QLabel* FSNL = nullptr;
  QLabel* FSL = nullptr;
  QLabel* VolumeLabelNL = nullptr;
  QLabel* DosLabelL = nullptr;
  QLabel* VolumeLabelL = nullptr;
  QLabel* SerialNL = nullptr;
  QLabel* SerialL = nullptr;
  QLabel* ClusterSizeNL = nullptr;
  QLabel* ClusterSizeL = nullptr;
  QLabel* StartNL = nullptr;
  QLabel* StartL = nullptr;
  QLabel* CountNL = nullptr;
  QLabel* CountL = nullptr;
  QLabel* VolumeL = nullptr;
};

inline constexpr int kPartitionGroups = 4;

class TMBRForm : public TSecondaryForm {
  Q_OBJECT
 public:
  explicit TMBRForm(QWidget* parent = nullptr);

  // Fills the window from one reading of a disk of `userSectors` sectors: the identifier and
  // signature, the four groups, then the four partitions painted over the bar.
  void ShowReading(const MbrReading& reading, uint64_t userSectors);

  // The steps of a filling, one at a time.
  void ShowIdentity(uint32_t diskId, uint16_t signature);
  void ShowGroup(int partition, const PartitionGroupView& view);
  // Fills a rectangle {left, top, right, bottom} (right and bottom outside) of the bar in the
  // partition's colour, over what the bar holds.
  void PaintPartition(int partition, const BarRect& rect);

  // The colour of partition k (1..4), in the squares and on the bar.
  static QColor PartitionColor(int partition);

  std::array<PartitionGroupControls, kPartitionGroups> Part{};
  CanvasImage* PartImage = nullptr;
  QLabel* PartVolumeIDNL = nullptr;
  QLabel* PartVolumeIDL = nullptr;
  QLabel* PartSignatureNL = nullptr;
  QLabel* PartSignatureL = nullptr;

 private:
  void FormCreate();
  void BuildGroup(int partition);
};

}  // namespace dv
