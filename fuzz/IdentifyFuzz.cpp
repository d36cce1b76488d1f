// Any bytes as an IDENTIFY DEVICE sector.
#include <cstddef>
#include <cstdint>
#include <span>

#include "core/Identify.h"
#include "core/LittleEndian.h"
#include "fuzz/FuzzCheck.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  const std::span<const uint8_t> sector(data, size);
  const dv::IdentifyInfo info = dv::DecodeIdentify(sector);
  DV_FUZZ_CHECK(info.ModelText.size() == 40 || size < 94);
  DV_FUZZ_CHECK(info.ModelNumber.size() <= info.ModelText.size());
  DV_FUZZ_CHECK(dv::CapacityGB(info.UserSectors) == info.CapacityGB);
  // The native maximum address comes from the drive too: any value against any capacity.
  const uint64_t nativeMax = dv::Le64(sector, 0) & 0xFFFFFFFFFFFFull;
  (void)dv::HPASizeMB(nativeMax, info.UserSectors);
  return 0;
}
