// The drive helper's server side: answers the frames of core/HelperProtocol.h from a DriveSystem.
// The program wires the Linux drives; tests hand in their own system and watch what reaches it.
#pragma once

#include <cstdint>
#include <map>
#include <span>
#include <vector>

#include "core/DriveSystem.h"
#include "core/HelperProtocol.h"

namespace dv {

class DriveHelperServer {
 public:
  explicit DriveHelperServer(DriveSystem& system) : system_(system) {}

  // The reply frame to one request payload. Nothing outside the catalogue, and nothing from a
  // malformed payload, reaches the drive system.
  std::vector<uint8_t> Answer(std::span<const uint8_t> payload);

 private:
  HelperReply Open(const HelperRequest& request);
  HelperRefusal OpenRefusal() const;
  HelperReply RunAta(const HelperRequest& request);
  HelperReply RunAtaOnFreshOpen(const HelperRequest& request);
  HelperReply SendAta(DriveHandle& handle, const std::vector<uint8_t>& ata);
  HelperReply RunNvme(const HelperRequest& request);
  HelperReply CloseHandle(const HelperRequest& request);
  bool HasRoom() const { return ata_.size() + nvme_.size() < kHelperMaxHandles; }

  DriveSystem& system_;
  uint32_t nextHandle_ = 1;
  std::map<uint32_t, DriveHandlePtr> ata_;
  std::map<uint32_t, NvmeHandlePtr> nvme_;
};

// Reads request frames from `in` and writes the replies to `out` until the input ends. Returns 0
// when it ended between frames, 1 when a frame was cut short, announced an impossible length or a
// reply could not be written: the stream is then out of step and the helper stops.
int ServeDriveHelper(DriveSystem& system, int in, int out);

}  // namespace dv
