// Any bytes as the controller's identify data and health log: the first 4096 bytes (or fewer) as
// Identify Controller and Identify Namespace, the rest as the health log.
#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <span>

#include "core/Nvme.h"
#include "fuzz/FuzzCheck.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  const std::span<const uint8_t> all(data, size);
  const std::span<const uint8_t> identify = all.first(std::min(size, dv::kNvmeIdentifySize));
  const std::span<const uint8_t> log = all.subspan(identify.size());

  if (const auto identity = dv::DecodeNvmeIdentifyController(identify)) {
    DV_FUZZ_CHECK(identity->ModelNumber.size() <= 40);
    DV_FUZZ_CHECK(identity->SerialNumber.size() <= 20);
    DV_FUZZ_CHECK(identity->FirmwareRevision.size() <= 8);
    for (char c : identity->ModelNumber + identity->SerialNumber + identity->FirmwareRevision) {
      DV_FUZZ_CHECK(c >= 0x20 && c <= 0x7E);
    }
  }
  if (const auto ns = dv::DecodeNvmeIdentifyNamespace(identify)) {
    DV_FUZZ_CHECK(ns->BlockSize >= 512);
    DV_FUZZ_CHECK((ns->BlockSize & (ns->BlockSize - 1)) == 0);
    DV_FUZZ_CHECK(ns->Bytes() >= ns->Blocks || ns->Blocks == 0);
  }
  // The health log from both places, so short and long inputs reach it.
  for (const std::span<const uint8_t> bytes : {log, identify}) {
    const auto health = dv::DecodeNvmeHealthLog(bytes);
    if (!health) {
      DV_FUZZ_CHECK(bytes.size() < dv::kNvmeHealthLogSize);
      continue;
    }
    DV_FUZZ_CHECK(health->Passed() == (bytes[0] == 0));
    for (const auto presentation : {dv::RawPresentation::Hex, dv::RawPresentation::Dec}) {
      const auto rows = dv::BuildNvmeHealthRows(*health, presentation);
      DV_FUZZ_CHECK(rows.size() >= 17 && rows.size() <= 25);
      for (const auto& row : rows) {
        DV_FUZZ_CHECK(!row[dv::kColumnName].empty() && !row[dv::kColumnRaw].empty());
        DV_FUZZ_CHECK(row[dv::kColumnStatus].empty() || row[dv::kColumnStatus] == "O.K." ||
                      row[dv::kColumnStatus] == "!!!");
      }
    }
    DV_FUZZ_CHECK(dv::NvmeCriticalWarningNames(health->CriticalWarning).size() <= 6);
    (void)health->PowerOnHours.Decimal();
  }
  return 0;
}
