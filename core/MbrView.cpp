#include "core/MbrView.h"

namespace dv {

// Interim: the texts come with the partition work.
PartitionGroupView ViewPartitionGroup(const PartitionEntry&) { return {}; }
std::string DiskIdText(uint32_t) { return {}; }
std::string SignatureText(uint16_t) { return {}; }
std::string ClusterSizeText(uint8_t) { return {}; }
std::optional<BarRect> PartitionBarRect(const PartitionEntry&, uint64_t, int, int) {
  return std::nullopt;
}

}  // namespace dv
