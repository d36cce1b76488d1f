// Test helper: S.M.A.R.T. data and threshold sectors written entry by entry, and the sectors of the
// real-drive fixtures.
#pragma once

#include <algorithm>
#include <array>
#include <cstdint>
#include <fstream>
#include <initializer_list>
#include <nlohmann/json.hpp>
#include <sstream>
#include <string>
#include <vector>

#include "core/AtaLayout.h"
#include "core/HexText.h"
#include "core/Ioctl.h"
#include "core/SmartData.h"

namespace dv::test {

struct AttributeEntry {
  uint8_t id = 0;
  uint16_t flags = 0;
  uint8_t value = 0;
  uint8_t worst = 0;
  std::array<uint8_t, 6> raw{};
  uint8_t threshold = 0;
};

inline void PutAttribute(std::array<uint8_t, kSectorSize>& data, size_t slot,
                         const AttributeEntry& entry) {
  const size_t at = kSmartTableOffset + slot * kSmartEntrySize;
  data[at + kSmartEntryId] = entry.id;
  data[at + kSmartEntryFlags] = static_cast<uint8_t>(entry.flags);
  data[at + kSmartEntryFlags + 1] = static_cast<uint8_t>(entry.flags >> 8);
  data[at + kSmartEntryValue] = entry.value;
  data[at + kSmartEntryWorst] = entry.worst;
  for (size_t i = 0; i < kSmartRawLength; ++i) data[at + kSmartEntryRaw + i] = entry.raw[i];
}

inline void PutThreshold(std::array<uint8_t, kSectorSize>& thresholds, size_t slot, uint8_t id,
                         uint8_t threshold) {
  const size_t at = kSmartTableOffset + slot * kSmartEntrySize;
  thresholds[at + kSmartEntryId] = id;
  thresholds[at + kSmartEntryThreshold] = threshold;
}

// Entries in the given order, each with its threshold in the same slot of the threshold sector.
inline SmartSectors MakeSectors(std::initializer_list<AttributeEntry> entries) {
  SmartSectors sectors;
  size_t slot = 0;
  for (const AttributeEntry& entry : entries) {
    PutAttribute(sectors.SMARTData, slot, entry);
    PutThreshold(sectors.SMARTThresholds, slot, entry.id, entry.threshold);
    ++slot;
  }
  return sectors;
}

inline std::array<uint8_t, kSectorSize> SectorFromHex(const std::string& hex) {
  std::array<uint8_t, kSectorSize> sector{};
  const std::vector<uint8_t> bytes = BytesFromHex(hex).value_or(std::vector<uint8_t>{});
  std::copy_n(bytes.begin(), std::min(bytes.size(), sector.size()), sector.begin());
  return sector;
}

inline std::string RealDrivePath(const std::string& name) {
  return std::string(DISKVIGIL_TEST_DATA_DIR) + "/real-drives/" + name + ".json";
}

inline nlohmann::json LoadRealDrive(const std::string& name) {
  std::ifstream in(RealDrivePath(name));
  std::stringstream text;
  text << in.rdbuf();
  return nlohmann::json::parse(text.str());
}

// The two sectors a real drive returned, as the fixture records them.
inline SmartSectors RealDriveSectors(const std::string& name) {
  const nlohmann::json drive = LoadRealDrive(name);
  SmartSectors sectors;
  sectors.SMARTData = SectorFromHex(drive.at("smartDataHex").get<std::string>());
  sectors.SMARTThresholds = SectorFromHex(drive.at("smartThresholdsHex").get<std::string>());
  return sectors;
}

}  // namespace dv::test
