// SCSI/ATA translation for the Linux back end, as pure functions on bytes: the canonical
// pass-through request becomes an ATA PASS-THROUGH (16) command block, and what SG_IO hands back
// (transport status, SCSI status, sense data) becomes the returned ATA registers.
//
// Only two transfer shapes exist in the catalogue: non-data, and PIO data-in of one 512-byte
// block. Returned registers are asked for (CK_COND) only on the non-data commands whose answer
// lives in the registers; asking on a PIO data-in command makes some SATLs (QEMU's AHCI among
// them) report a bogus error.
//
// Reply rules, in order:
//  - the ioctl failed, the host or driver reported a transport error, or the SCSI status is
//    neither GOOD nor CHECK CONDITION: the call failed;
//  - sense data with an ATA status return (descriptor 0x09, or fixed format in either the SAT
//    layout or the layout kernels before 6.11 wrote): the call succeeded and the registers are
//    the drive's, so the ERR bit decides, whatever the sense key says; BSY, DRQ or DF in the
//    returned status mean the registers describe an unfinished or faulted command, which is a
//    failed call;
//  - CHECK CONDITION whose sense carries no registers, or the translation layer refused the
//    command block (ILLEGAL REQUEST, invalid field or opcode): the call failed;
//  - GOOD status without sense: for commands that did not ask for registers this is the normal
//    success and the registers read "status 0x50 (DRDY, DSC), no error"; a command that asked for
//    its registers and got none (a SATL that ignores CK_COND) has no answer: the call failed;
//  - a data command that moved fewer than 512 bytes failed.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <optional>
#include <span>

#include "core/Ioctl.h"

namespace dv {

inline constexpr size_t kSatCdbSize = 16;
inline constexpr uint8_t kSatOpcode16 = 0x85;
inline constexpr uint8_t kSatProtocolNonData = 3;
inline constexpr uint8_t kSatProtocolPioDataIn = 4;

// The registers a successful non-data command without CK_COND is taken to have returned.
inline constexpr uint8_t kAtaStatusReady = 0x50;

inline constexpr uint8_t kScsiStatusGood = 0x00;
inline constexpr uint8_t kScsiStatusCheckCondition = 0x02;

struct SatCommand {
  std::array<uint8_t, kSatCdbSize> cdb{};
  bool dataIn = false;           // one 512-byte block comes back
  bool registersWanted = false;  // CK_COND is set
  bool extend = false;           // a 48-bit command
};

// Whether a request is in the canonical shape: a header with Length 40 and DataBufferOffset 40, a
// data length of 0 or 512 that matches both the data-in flag and the buffer size (40 or 552),
// and a time-out of 1 to 60 seconds.
bool IsCanonicalRequest(std::span<const uint8_t> request);

// The ATA PASS-THROUGH (16) command for a canonical request; nullopt for anything else.
std::optional<SatCommand> BuildSatCommand(std::span<const uint8_t> request);

// What one SG_IO call reported.
struct SgIoReply {
  bool ioctlSucceeded = false;
  int ioctlError = 0;  // errno of a failed ioctl
  uint8_t hostStatus = 0;
  uint16_t driverStatus = 0;
  uint8_t scsiStatus = 0;
  int residue = 0;                 // bytes not transferred
  std::span<const uint8_t> sense;  // the sense bytes actually written
};

struct SatOutcome {
  bool callSucceeded = false;
  TaskFile current;   // Error in `features`, Status in `command`, as in the canonical header
  TaskFile previous;  // the high-order bytes of a 48-bit answer
};

// The ATA registers carried by sense data, or nullopt when it carries none.
struct SenseRegisters {
  TaskFile current;
  TaskFile previous;
};
std::optional<SenseRegisters> ReadSenseRegisters(std::span<const uint8_t> sense);

// Judges one reply by the rules above.
SatOutcome ReadSatReply(const SatCommand& command, const SgIoReply& reply);

}  // namespace dv
