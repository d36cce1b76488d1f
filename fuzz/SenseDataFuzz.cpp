// Any bytes as the sense data and status fields one SG_IO call hands back, judged for each command
// shape of the catalogue. The first bytes pick the reply's fields; the rest is the sense buffer.
#include <algorithm>
#include <array>
#include <cstddef>
#include <cstdint>
#include <span>
#include <vector>

#include "core/Ioctl.h"
#include "core/SatCdb.h"
#include "fuzz/FuzzCheck.h"

namespace {

constexpr size_t kControlBytes = 4;
// SG_IO's sense length is one byte, so no back end hands over more than 255 sense bytes.
constexpr size_t kMaxSense = 255;

dv::AtaCommandRequest RequestFor(uint8_t selector) {
  constexpr std::array kCommands = {
      dv::AtaCommand::SmartEnable,       dv::AtaCommand::Identify,
      dv::AtaCommand::ReadNativeMaxExt,  dv::AtaCommand::SmartReadData,
      dv::AtaCommand::SmartReturnStatus, dv::AtaCommand::SmartReadThresholds,
  };
  const int drive = (selector >> 4) & 0x0F;
  const size_t pick = selector & 0x0F;
  if (pick < kCommands.size()) return dv::MakeAtaCommand(kCommands[pick], drive);
  if (pick < 10) return dv::MakeSetFeatures(drive, pick == 6 ? 0x42 : 0x05, 0x80);
  return dv::MakeReadSector(drive, selector * 4099u, pick >= 13);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  const std::span<const uint8_t> input(data, size);
  const std::span<const uint8_t> sense =
      input.size() > kControlBytes ? input.subspan(kControlBytes) : std::span<const uint8_t>();

  // The sense reader alone, on every length.
  (void)dv::ReadSenseRegisters(sense.first(std::min(sense.size(), kMaxSense)));
  if (size < kControlBytes) return 0;

  const dv::AtaCommandRequest request = RequestFor(data[0]);
  const std::vector<uint8_t> bytes =
      dv::BuildAtaRequest(request.ataFlags, request.current, request.dataLength, request.previous);
  const auto command = dv::BuildSatCommand(bytes);
  DV_FUZZ_CHECK(command.has_value());

  dv::SgIoReply reply;
  const uint8_t flags = data[1];
  reply.ioctlSucceeded = (flags & 0x01) == 0;
  reply.hostStatus = (flags & 0x02) != 0 ? data[3] : 0;
  reply.driverStatus = (flags & 0x04) != 0 ? static_cast<uint16_t>(data[3] & 0x1F) : 0;
  reply.scsiStatus = (flags & 0x08) != 0 ? data[2] : ((flags & 0x10) ? 0x02 : 0x00);
  reply.residue = (flags & 0x20) != 0 ? data[3] : 0;
  reply.sense = sense.first(std::min(sense.size(), kMaxSense));

  const dv::SatOutcome outcome = dv::ReadSatReply(*command, reply);
  if (outcome.callSucceeded) {
    // A success never comes from a failed transport, a short transfer or an unfinished command.
    DV_FUZZ_CHECK(reply.ioctlSucceeded && reply.hostStatus == 0);
    DV_FUZZ_CHECK(reply.scsiStatus == 0x00 || reply.scsiStatus == 0x02);
    DV_FUZZ_CHECK(!command->dataIn || reply.residue == 0);
    DV_FUZZ_CHECK((outcome.current.Status() & 0xA8) == 0);
    // A command that needs its answer from the registers has it from the sense data.
    if (command->registersWanted) DV_FUZZ_CHECK(dv::ReadSenseRegisters(reply.sense).has_value());
  }
  return 0;
}
