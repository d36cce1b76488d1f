#include "core/MbrView.h"

#include <algorithm>
#include <cfenv>
#include <cmath>
#include <cstdio>

namespace dv {
namespace {

constexpr const char* kNoValue = "...";

bool ShowsVolumeDetails(const std::string& typeName) {
  return typeName == "NTFS" || typeName.starts_with("FAT");
}

// A drive letter gets its colon ("C:"); a mount point stands as it is.
std::string VolumeNameText(const std::string& name) {
  const bool letter = name.size() == 1 &&
                      ((name[0] >= 'A' && name[0] <= 'Z') || (name[0] >= 'a' && name[0] <= 'z'));
  return letter ? name + ":" : name;
}

// Nearest integer, ties to even, as a pixel position clipped to [0, limit].
int BarPosition(long double value, int limit) {
  const long double rounded = std::nearbyint(value);
  return static_cast<int>(std::clamp(rounded, 0.0L, static_cast<long double>(limit)));
}

}  // namespace

PartitionGroupView ViewPartitionGroup(const PartitionEntry& entry) {
  PartitionGroupView view;
  view.active = entry.Active;
  view.fs = entry.TypeName + entry.Version;
  if (entry.SectorCount != 0) {
    view.start = std::to_string(entry.StartLBA);
    view.count = std::to_string(entry.SectorCount);
    view.volume = std::to_string(entry.SizeGB) + " GB";
    view.dirty = entry.Dirty;
    view.dosLabel = VolumeNameText(entry.DriveLetter);
  } else {
    view.start = view.count = view.volume = view.dosLabel = kNoValue;
    view.dirty = false;
  }
  if (ShowsVolumeDetails(entry.TypeName)) {
    view.serial = entry.Serial;
    view.clusterSize = ClusterSizeText(entry.ClusterSectors);
    view.volumeLabel = entry.VolumeLabel;
  } else {
    view.serial = view.clusterSize = view.volumeLabel = kNoValue;
  }
  return view;
}

std::string DiskIdText(uint32_t diskId) {
  char text[16];
  std::snprintf(text, sizeof text, "%08X", static_cast<unsigned>(diskId));
  return text;
}

std::string SignatureText(uint16_t signature) {
  char text[16];
  std::snprintf(text, sizeof text, "%04Xh", static_cast<unsigned>(signature));
  return text;
}

// Counts of 512-byte sectors: two or more in whole K (rounded down), one sector as "512 B".
std::string ClusterSizeText(uint8_t clusterSectors) {
  if (clusterSectors == 0) return "0 B";
  if (clusterSectors == 1) return "512 B";
  return std::to_string(clusterSectors / 2) + " K";
}

std::optional<BarRect> PartitionBarRect(const PartitionEntry& entry, uint64_t userSectors,
                                        int width, int height) {
  // A drive without a capacity has no scale to draw on.
  if (userSectors == 0 || width < 2 || height < 2) return std::nullopt;
  // Ties go to the even neighbour in the default rounding mode; make sure it is the one in force.
  const int savedMode = std::fegetround();
  std::fesetround(FE_TONEAREST);
  const long double total = static_cast<long double>(userSectors);
  const long double inner = static_cast<long double>(width - 2);
  const uint32_t end = entry.StartLBA + entry.SectorCount;  // a 32-bit sum, wrapping as stored
  const int left = BarPosition(entry.StartLBA / total * inner, width) + 1;
  const int right = BarPosition(end / total * inner, width);
  std::fesetround(savedMode);
  const int top = 1;
  const int bottom = height - 2;
  if (right <= left || bottom <= top) return std::nullopt;
  return BarRect{left, top, right, bottom};
}

}  // namespace dv
