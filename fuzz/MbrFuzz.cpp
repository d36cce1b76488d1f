// Any bytes as sector 0, a partition's boot sector and an NTFS volume record (512 bytes each, the
// input cut or padded with zeros), then the window's texts and bar: nothing may read outside a
// sector, and every text keeps its shape.
#include <algorithm>
#include <array>
#include <cstddef>
#include <cstdint>
#include <span>
#include <string>

#include "core/LittleEndian.h"
#include "core/Mbr.h"
#include "core/MbrView.h"
#include "fuzz/FuzzCheck.h"

namespace {

dv::Sector SectorAt(std::span<const uint8_t> input, size_t index) {
  dv::Sector sector{};
  const size_t from = index * dv::kSectorSize;
  if (from < input.size()) {
    const size_t count = std::min(dv::kSectorSize, input.size() - from);
    std::copy_n(input.begin() + static_cast<std::ptrdiff_t>(from), count, sector.begin());
  }
  return sector;
}

bool IsUpperHex(const std::string& text) {
  return std::all_of(text.begin(), text.end(),
                     [](char c) { return (c >= '0' && c <= '9') || (c >= 'A' && c <= 'F'); });
}

// Well-formed UTF-8 (the NTFS label is converted from UTF-16 and must always be).
bool IsUtf8(const std::string& text) {
  for (size_t i = 0; i < text.size();) {
    const auto c = static_cast<uint8_t>(text[i]);
    size_t extra = 0;
    if (c >= 0x80) {
      if ((c & 0xE0) == 0xC0) {
        extra = 1;
      } else if ((c & 0xF0) == 0xE0) {
        extra = 2;
      } else if ((c & 0xF8) == 0xF0) {
        extra = 3;
      } else {
        return false;
      }
    }
    if (i + extra >= text.size() && extra != 0) return false;
    for (size_t k = 1; k <= extra; ++k) {
      if ((static_cast<uint8_t>(text[i + k]) & 0xC0) != 0x80) return false;
    }
    i += extra + 1;
  }
  return true;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  const std::span<const uint8_t> input(data, size);
  const dv::Sector sector0 = SectorAt(input, 0);
  const dv::Sector boot = SectorAt(input, 1);
  const dv::Sector record = SectorAt(input, 2);
  const uint64_t userSectors = dv::Le64(input, 3 * dv::kSectorSize);
  const int width = 2 + static_cast<int>(dv::Byte(input, 3 * dv::kSectorSize + 8)) * 2;

  dv::MbrReading reading = dv::DecodeMbr(sector0);
  DV_FUZZ_CHECK(dv::DiskIdText(reading.diskId).size() == 8);
  DV_FUZZ_CHECK(dv::SignatureText(reading.signature).size() == 5);
  for (dv::PartitionEntry& entry : reading.entries) {
    DV_FUZZ_CHECK(!entry.TypeName.empty());
    dv::DecodeBootSector(boot, entry);
    if (entry.TypeName == "NTFS") {
      DV_FUZZ_CHECK(entry.Serial.size() == 16);
      (void)dv::NtfsVolumeRecordLba(entry);
      dv::DecodeNtfsVolumeRecord(record, entry);
      DV_FUZZ_CHECK(IsUtf8(entry.VolumeLabel));
      DV_FUZZ_CHECK(entry.VolumeLabel.size() <= 3 * dv::kSectorSize / 2);
    } else if (entry.TypeName.starts_with("FAT")) {
      DV_FUZZ_CHECK(entry.Serial.size() == 8);
      DV_FUZZ_CHECK(entry.VolumeLabel.size() <= 11);
    } else {
      DV_FUZZ_CHECK(entry.Serial.empty());
    }
    DV_FUZZ_CHECK(IsUpperHex(entry.Serial));

    const dv::PartitionGroupView view = dv::ViewPartitionGroup(entry);
    DV_FUZZ_CHECK(view.clusterSize.ends_with(" K") || view.clusterSize.ends_with(" B") ||
                  view.clusterSize == "...");
    DV_FUZZ_CHECK(entry.SectorCount != 0 || view.start == "...");
    for (int w : {409, width}) {
      if (const auto rect = dv::PartitionBarRect(entry, userSectors, w, 20)) {
        const dv::BarRect& r = *rect;
        DV_FUZZ_CHECK(r[0] >= 1 && r[0] < r[2] && r[2] <= w);
        DV_FUZZ_CHECK(r[1] == 1 && r[3] == 18);
      }
    }
  }
  return 0;
}
