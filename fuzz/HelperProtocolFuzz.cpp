// Any bytes as the stream a caller sends the drive helper: split into frames as the helper's loop
// does and answered by its server over drives that stop the fuzzer when a request outside the
// catalogue, or not in its canonical shape, reaches them. Every payload is also read as a reply,
// which must encode back to the same frame.
#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <span>

#include "core/HelperProtocol.h"
#include "core/SatCdb.h"
#include "fuzz/FuzzCheck.h"
#include "helper/DriveHelperServer.h"

namespace {

class GuardedDrive : public dv::DriveHandle {
 public:
  bool PassThrough(std::span<uint8_t> request) override {
    const auto header = dv::ReadAtaRequestHeader(request);
    DV_FUZZ_CHECK(header && dv::IsCanonicalRequest(request));
    DV_FUZZ_CHECK(dv::ClassifyAtaCommand(header->ataFlags, header->current, header->previous,
                                         header->dataTransferLength));
    return true;
  }
};

class GuardedController : public dv::NvmeHandle {
 public:
  bool AdminCommand(const dv::NvmeAdminRequest& request, std::span<uint8_t> data) override {
    DV_FUZZ_CHECK(dv::ClassifyNvmeAdminCommand(request));
    DV_FUZZ_CHECK(data.size() == request.dataLength);
    return true;
  }
};

class GuardedSystem : public dv::DriveSystem {
 public:
  dv::DriveHandlePtr Open(int n) override {
    return n % 2 == 0 ? std::make_unique<GuardedDrive>() : nullptr;
  }
  dv::NvmeHandlePtr OpenNvme(int) override { return std::make_unique<GuardedController>(); }
  std::optional<std::string> VolumeName(int, int) override { return std::nullopt; }
  std::string DescribeDrive(int) const override { return {}; }
};

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  std::span<const uint8_t> stream(data, size);
  GuardedSystem system;
  dv::DriveHelperServer server(system);
  while (stream.size() >= dv::kHelperFrameLengthSize) {
    const auto length = dv::HelperPayloadLength(stream.first<dv::kHelperFrameLengthSize>());
    if (!length || stream.size() - dv::kHelperFrameLengthSize < *length) break;
    const auto payload = stream.subspan(dv::kHelperFrameLengthSize, *length);
    stream = stream.subspan(dv::kHelperFrameLengthSize + *length);

    const auto reply = server.Answer(payload);
    DV_FUZZ_CHECK(dv::DecodeHelperReply(std::span(reply).subspan(dv::kHelperFrameLengthSize)));
    if (const auto request = dv::DecodeHelperRequest(payload)) {
      const auto again = dv::EncodeHelperRequest(*request);
      DV_FUZZ_CHECK(std::equal(again.begin() + dv::kHelperFrameLengthSize, again.end(),
                               payload.begin(), payload.end()));
    }
    if (const auto asReply = dv::DecodeHelperReply(payload)) {
      const auto again = dv::EncodeHelperReply(*asReply);
      DV_FUZZ_CHECK(std::equal(again.begin() + dv::kHelperFrameLengthSize, again.end(),
                               payload.begin(), payload.end()));
    }
  }
  return 0;
}
