// What the MBR window shows of a reading, as text: one model for the window and the command line.
#pragma once

#include <array>
#include <cstdint>
#include <optional>
#include <string>

#include "core/Mbr.h"

namespace dv {

// The texts and states of one partition group ("..." where the window shows no value).
struct PartitionGroupView {
  bool active = false;  // the "Active" label enabled
  bool dirty = false;   // the "Dirty" label enabled
  std::string fs;
  std::string dosLabel;
  std::string volumeLabel;
  std::string serial;
  std::string clusterSize;
  std::string start;
  std::string count;
  std::string volume;

  bool operator==(const PartitionGroupView&) const = default;
};

PartitionGroupView ViewPartitionGroup(const PartitionEntry& entry);

std::string DiskIdText(uint32_t diskId);              // "0000ABCD"
std::string SignatureText(uint16_t signature);        // "AA55h"
std::string ClusterSizeText(uint8_t clusterSectors);  // "4 K", "0 B"

// The filled rectangle of partition k on a bar of width x height pixels, as
// {left, top, right, bottom} with right and bottom outside; nullopt when it paints nothing.
using BarRect = std::array<int, 4>;
std::optional<BarRect> PartitionBarRect(const PartitionEntry& entry, uint64_t userSectors,
                                        int width, int height);

}  // namespace dv
