#include "core/SatCdb.h"

#include <algorithm>

#include "core/AtaLayout.h"
#include "core/LittleEndian.h"

namespace dv {
namespace {

// ATA PASS-THROUGH (16) byte 2 bits.
constexpr uint8_t kCkCond = 0x20;
constexpr uint8_t kTDirFromDevice = 0x08;
constexpr uint8_t kBytBlok = 0x04;
constexpr uint8_t kTLengthInSectorCount = 0x02;

constexpr uint32_t kMaxTimeOutSeconds = 60;

// Sense data (SPC): response codes, the ATA Status Return descriptor (SAT), sense keys.
// Deferred sense (0x71, 0x73) reports on an earlier command, so it never describes this one.
constexpr uint8_t kSenseFixedCurrent = 0x70;
constexpr uint8_t kSenseDescriptorCurrent = 0x72;
constexpr uint8_t kSenseValidBit = 0x80;
constexpr size_t kDescriptorSenseHeader = 8;
constexpr uint8_t kAtaStatusReturnDescriptor = 0x09;
constexpr uint8_t kAtaStatusReturnLength = 0x0C;
constexpr uint8_t kSenseKeyIllegalRequest = 0x05;
constexpr uint8_t kAscInvalidOpcode = 0x20;
constexpr uint8_t kAscInvalidFieldInCdb = 0x24;

// The non-data commands whose answer is in the returned registers.
bool AnswerIsInRegisters(const TaskFile& tf) {
  return (tf.command == kCmdSmart && tf.features == kSmartReturnStatus) ||
         tf.command == kCmdReadNativeMaxExt || tf.command == kCmdCheckPowerMode;
}

bool IsDescriptorSense(uint8_t responseCode) { return responseCode == kSenseDescriptorCurrent; }

bool IsFixedSense(uint8_t responseCode) { return responseCode == kSenseFixedCurrent; }

// Fixed format has no room for the (15:8) register bytes; a flag says whether they were zero.
constexpr uint8_t kFixedUpperBytesNonZero = 0x60;

// The ATA Status Return descriptor: extend flag, error, then each register's (15:8) byte before
// its (7:0) byte, device, status.
SenseRegisters FromStatusReturnDescriptor(std::span<const uint8_t> d) {
  SenseRegisters r;
  r.current = TaskFile{d[3], d[5], d[7], d[9], d[11], d[12], d[13], 0};
  if ((d[2] & 0x01) != 0) {
    r.previous = TaskFile{0, d[4], d[6], d[8], d[10], 0, 0, 0};
  }
  return r;
}

std::optional<SenseRegisters> FromDescriptorSense(std::span<const uint8_t> sense) {
  if (sense.size() < kDescriptorSenseHeader) return std::nullopt;
  const size_t end = std::min(sense.size(), kDescriptorSenseHeader + sense[7]);
  size_t at = kDescriptorSenseHeader;
  while (at + 2 <= end) {
    const size_t length = 2 + size_t{sense[at + 1]};
    if (at + length > end) break;
    if (sense[at] == kAtaStatusReturnDescriptor && sense[at + 1] >= kAtaStatusReturnLength) {
      return FromStatusReturnDescriptor(sense.subspan(at, length));
    }
    at += length;
  }
  return std::nullopt;
}

// Fixed format as SAT defines it: error, status, device, count in the INFORMATION field (bytes
// 3-6), extend flags at byte 8, LBA (7:0), (15:8), (23:16) at bytes 9-11. The upper bytes of a
// 48-bit answer do not fit: when byte 8 says they are not zero, the answer is incomplete.
std::optional<SenseRegisters> FromSatFixedSense(std::span<const uint8_t> s) {
  if ((Byte(s, 8) & kFixedUpperBytesNonZero) != 0) return std::nullopt;
  return SenseRegisters{TaskFile{Byte(s, 3), Byte(s, 6), Byte(s, 9), Byte(s, 10), Byte(s, 11),
                                 Byte(s, 5), Byte(s, 4), 0},
                        TaskFile{}};
}

// Fixed format as Linux wrote it before 6.11: error, status, device, count at bytes 8-11, LBA at
// bytes 17-19 (cut off when only 18 sense bytes came back), the extend flags at byte 16.
std::optional<SenseRegisters> FromOldLinuxFixedSense(std::span<const uint8_t> s) {
  if ((Byte(s, 16) & kFixedUpperBytesNonZero) != 0) return std::nullopt;
  return SenseRegisters{TaskFile{Byte(s, 8), Byte(s, 11), Byte(s, 17), Byte(s, 18), Byte(s, 19),
                                 Byte(s, 10), Byte(s, 9), 0},
                        TaskFile{}};
}

std::optional<SenseRegisters> FromFixedSense(std::span<const uint8_t> sense) {
  if (sense.size() < 12) return std::nullopt;
  // The VALID bit marks the SAT layout. Without it, a status byte where SAT puts it still means
  // the SAT layout; otherwise a status byte at offset 9 is the old Linux one. A Status register
  // that reads zero (not even DRDY) is no answer at all.
  const bool valid = (sense[0] & kSenseValidBit) != 0;
  if (valid || sense[4] != 0) return FromSatFixedSense(sense);
  if (sense[9] != 0) return FromOldLinuxFixedSense(sense);
  return std::nullopt;
}

// The translation layer refused the command block itself; no drive saw it.
bool CdbRefused(std::span<const uint8_t> sense) {
  if (sense.empty()) return false;
  const uint8_t code = sense[0] & 0x7F;
  uint8_t key = 0;
  uint8_t asc = 0;
  if (IsDescriptorSense(code)) {
    key = Byte(sense, 1) & 0x0F;
    asc = Byte(sense, 2);
  } else if (IsFixedSense(code)) {
    key = Byte(sense, 2) & 0x0F;
    asc = Byte(sense, 12);
  }
  return key == kSenseKeyIllegalRequest &&
         (asc == kAscInvalidOpcode || asc == kAscInvalidFieldInCdb);
}

bool TransportFailed(const SgIoReply& reply) {
  const uint16_t driver = reply.driverStatus & 0x0F;
  constexpr uint16_t kDriverSense = 0x08;
  return !reply.ioctlSucceeded || reply.hostStatus != 0 || (driver != 0 && driver != kDriverSense);
}

bool CommandUnfinished(uint8_t status) {
  return (status & (kStatusBusy | kStatusDeviceFault | kStatusDataRequest)) != 0;
}

}  // namespace

bool IsCanonicalRequest(std::span<const uint8_t> request) {
  const auto header = ReadAtaRequestHeader(request);
  if (!header) return false;
  const bool dataIn = (header->ataFlags & kAtaFlagsDataIn) != 0;
  const uint32_t length = header->dataTransferLength;
  return header->length == kRequestHeaderSize && header->dataBufferOffset == kRequestHeaderSize &&
         (length == 0 || length == kSectorSize) && dataIn == (length == kSectorSize) &&
         request.size() == kRequestHeaderSize + length && header->timeOutValue >= 1 &&
         header->timeOutValue <= kMaxTimeOutSeconds;
}

std::optional<SatCommand> BuildSatCommand(std::span<const uint8_t> request) {
  if (!IsCanonicalRequest(request)) return std::nullopt;
  const AtaRequestHeader header = *ReadAtaRequestHeader(request);
  const TaskFile& cur = header.current;
  const TaskFile& prev = header.previous;

  SatCommand sat;
  sat.dataIn = header.dataTransferLength == kSectorSize;
  sat.extend = (header.ataFlags & kAtaFlags48BitCommand) != 0;
  sat.registersWanted = !sat.dataIn && AnswerIsInRegisters(cur);

  auto& c = sat.cdb;
  c[0] = kSatOpcode16;
  const uint8_t protocol = sat.dataIn ? kSatProtocolPioDataIn : kSatProtocolNonData;
  c[1] = static_cast<uint8_t>((protocol << 1) | (sat.extend ? 1 : 0));
  if (sat.dataIn) {
    // One block, counted in 512-byte blocks through the Sector Count register.
    c[2] = kTDirFromDevice | kBytBlok | kTLengthInSectorCount;
  } else {
    c[2] = sat.registersWanted ? kCkCond : 0;
  }
  // The (15:8) "previous" bytes count only with the extend bit; leave them zero otherwise.
  if (sat.extend) {
    c[3] = prev.features;
    c[5] = prev.sectorCount;
    c[7] = prev.lbaLow;
    c[9] = prev.lbaMid;
    c[11] = prev.lbaHigh;
  }
  c[4] = cur.features;
  c[6] = cur.sectorCount;
  c[8] = cur.lbaLow;
  c[10] = cur.lbaMid;
  c[12] = cur.lbaHigh;
  c[13] = cur.device;
  c[14] = cur.command;
  c[15] = 0;
  return sat;
}

std::optional<SenseRegisters> ReadSenseRegisters(std::span<const uint8_t> sense) {
  if (sense.empty()) return std::nullopt;
  const uint8_t code = sense[0] & 0x7F;
  if (IsDescriptorSense(code)) return FromDescriptorSense(sense);
  if (IsFixedSense(code)) return FromFixedSense(sense);
  return std::nullopt;
}

SatOutcome ReadSatReply(const SatCommand& command, const SgIoReply& reply) {
  SatOutcome failed;
  if (TransportFailed(reply)) return failed;
  if (reply.scsiStatus != kScsiStatusGood && reply.scsiStatus != kScsiStatusCheckCondition) {
    return failed;
  }
  if (command.dataIn && reply.residue != 0) return failed;

  if (CdbRefused(reply.sense)) return failed;
  if (const auto registers = ReadSenseRegisters(reply.sense)) {
    SatOutcome outcome{true, registers->current, registers->previous};
    outcome.callSucceeded = !CommandUnfinished(outcome.current.Status());
    return outcome;
  }
  if (reply.scsiStatus != kScsiStatusGood || command.registersWanted) return failed;

  SatOutcome ok;
  ok.callSucceeded = true;
  ok.current.command = kAtaStatusReady;
  return ok;
}

}  // namespace dv
