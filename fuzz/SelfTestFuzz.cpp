// Any bytes as READ DATA, the ATA self-test log, the summary error log and the NVMe self-test log:
// the decoders and the rows made from them.
#include <cstddef>
#include <cstdint>
#include <span>

#include "core/SelfTest.h"
#include "fuzz/FuzzCheck.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  const std::span<const uint8_t> input(data, size);
  const dv::SelfTestCapability capability = dv::DecodeSelfTestCapability(input);
  DV_FUZZ_CHECK(capability.ExtendedMinutes >= 0 && capability.ExtendedMinutes <= 0xFFFF);
  if (const auto log = dv::DecodeSelfTestLog(input)) {
    DV_FUZZ_CHECK(log->Entries.size() <= dv::kSelfTestLogEntries);
    for (const dv::SelfTestRow& row : dv::SelfTestRows(*log)) {
      DV_FUZZ_CHECK(row.RemainingPercent >= 0 && row.RemainingPercent <= 150);
      DV_FUZZ_CHECK(!row.Type.empty() && !row.Status.empty());
      DV_FUZZ_CHECK(row.Failed || !row.FirstErrorLba);
    }
  }
  if (const auto log = dv::DecodeAtaErrorLog(input)) {
    DV_FUZZ_CHECK(log->Records.size() <= dv::kErrorLogRecords);
    DV_FUZZ_CHECK(log->Records.size() <= log->Count);
    for (const auto& record : log->Records) DV_FUZZ_CHECK(record.Commands.size() <= 5);
  }
  if (const auto log = dv::DecodeNvmeSelfTestLog(input)) {
    DV_FUZZ_CHECK(log->Results.size() <= dv::kNvmeSelfTestResultCount);
    for (const dv::SelfTestRow& row : dv::SelfTestRows(*log)) DV_FUZZ_CHECK(!row.Status.empty());
  }
  return 0;
}
