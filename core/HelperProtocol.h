// The drive helper's wire format. The calling program and the helper exchange frames on a stream:
// a 4-byte little-endian payload length, then the payload, whose first byte is its type. Requests
// open ATA drive N or NVMe controller N, carry one canonical ATA request or one NVMe admin request
// to an open handle, or close one; every request gets exactly one reply, in order. The n-th open
// request of a stream names handle n, whether it opens or not, so a caller may send a command
// right behind its open. A command on a fresh open is answered with its result or a refusal.
// Encoders and decoders are pure: the helper and its caller share them, and the decoders accept
// only the exact lengths below.
#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <span>
#include <vector>

#include "core/Ioctl.h"
#include "core/Nvme.h"

namespace dv {

inline constexpr size_t kHelperFrameLengthSize = 4;
// The longest payload either side sends (an NVMe reply with 4096 bytes of identify data).
inline constexpr size_t kHelperMaxPayload = 8 + kNvmeIdentifySize;
// Enough for the longest frame and several short ones ahead of it: the size both sides read in.
inline constexpr size_t kHelperInputBuffer = 4 * (kHelperFrameLengthSize + kHelperMaxPayload);
// Handles the helper keeps open at once; a caller holding more is refused.
inline constexpr size_t kHelperMaxHandles = 64;

enum class HelperRequestType : uint8_t {
  OpenAta = 0x01,      // + drive number (1 byte)
  OpenNvme = 0x02,     // + controller number (1 byte)
  AtaCommand = 0x03,   // + handle (4) + the canonical request (40 or 552 bytes)
  NvmeCommand = 0x04,  // + handle (4) + opcode (1), nsid, cdw10, cdw11, length (4 each), in (1)
  Close = 0x05,        // + handle (4)
  // + drive number (1) + the canonical request: open, this one command, close. A monitoring
  // pass sends each of its commands so; no handle number is taken.
  AtaOnFreshOpen = 0x06,
};

enum class HelperReplyType : uint8_t {
  Opened = 0x81,      // + handle (4)
  AtaResult = 0x82,   // + flags (1) + the request with the returned registers and data
  NvmeResult = 0x83,  // + flags (1) + the bytes read (the request's length)
  Closed = 0x84,
  Refused = 0xFF,  // + reason (1)
};

// Why the helper sent no command to a device.
enum class HelperRefusal : uint8_t {
  Malformed = 1,       // unknown type, wrong length, a request that is not canonical
  NotInCatalogue = 2,  // the guard refused the command
  NoSuchHandle = 3,    // the handle was never opened, is closed or is of the other kind
  OpenFailed = 4,      // no such drive, or it could not be opened
  OpenNotAllowed = 5,  // the system refused the open for lack of permission
  TooManyHandles = 6,
};

// Flags of AtaResult and NvmeResult.
inline constexpr uint8_t kHelperCallSucceeded = 0x01;
inline constexpr uint8_t kHelperPrivilegeFailure = 0x02;  // the kernel said EPERM or EACCES

struct HelperRequest {
  HelperRequestType type = HelperRequestType::Close;
  uint8_t number = 0;        // OpenAta, OpenNvme, AtaOnFreshOpen
  uint32_t handle = 0;       // AtaCommand, NvmeCommand, Close
  std::vector<uint8_t> ata;  // AtaCommand, AtaOnFreshOpen: the canonical request
  NvmeAdminRequest nvme;     // NvmeCommand
};

struct HelperReply {
  HelperReplyType type = HelperReplyType::Refused;
  uint32_t handle = 0;                               // Opened
  uint8_t flags = 0;                                 // AtaResult, NvmeResult
  std::vector<uint8_t> data;                         // AtaResult: the request; NvmeResult: data
  HelperRefusal refusal = HelperRefusal::Malformed;  // Refused
};

// A whole frame (length prefix and payload).
std::vector<uint8_t> EncodeHelperRequest(const HelperRequest& request);
std::vector<uint8_t> EncodeHelperReply(const HelperReply& reply);

// Payload decoders (without the length prefix); nullopt for anything malformed.
std::optional<HelperRequest> DecodeHelperRequest(std::span<const uint8_t> payload);
std::optional<HelperReply> DecodeHelperReply(std::span<const uint8_t> payload);

// The payload length announced by a frame's prefix; nullopt when it is 0 or above
// kHelperMaxPayload, which ends the stream (no reader can find the next frame after it).
std::optional<size_t> HelperPayloadLength(std::span<const uint8_t, kHelperFrameLengthSize> prefix);

}  // namespace dv
