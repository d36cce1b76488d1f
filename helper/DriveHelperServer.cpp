#include "helper/DriveHelperServer.h"

#include <unistd.h>

#include <algorithm>
#include <array>
#include <cerrno>

#include "core/SatCdb.h"

namespace dv {
namespace {

HelperReply Refuse(HelperRefusal why) {
  HelperReply reply;
  reply.type = HelperReplyType::Refused;
  reply.refusal = why;
  return reply;
}

// Reads exactly `buffer.size()` bytes; the count read before the input ended otherwise.
size_t ReadFully(int fd, std::span<uint8_t> buffer) {
  size_t done = 0;
  while (done < buffer.size()) {
    const ssize_t n = read(fd, buffer.data() + done, buffer.size() - done);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) break;
    done += static_cast<size_t>(n);
  }
  return done;
}

bool WriteFully(int fd, std::span<const uint8_t> bytes) {
  size_t done = 0;
  while (done < bytes.size()) {
    const ssize_t n = write(fd, bytes.data() + done, bytes.size() - done);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) return false;
    done += static_cast<size_t>(n);
  }
  return true;
}

}  // namespace

std::vector<uint8_t> DriveHelperServer::Answer(std::span<const uint8_t> payload) {
  const auto request = DecodeHelperRequest(payload);
  if (!request) return EncodeHelperReply(Refuse(HelperRefusal::Malformed));
  switch (request->type) {
    case HelperRequestType::OpenAta:
    case HelperRequestType::OpenNvme:
      return EncodeHelperReply(Open(*request));
    case HelperRequestType::AtaCommand:
      return EncodeHelperReply(RunAta(*request));
    case HelperRequestType::NvmeCommand:
      return EncodeHelperReply(RunNvme(*request));
    case HelperRequestType::Close:
      return EncodeHelperReply(CloseHandle(*request));
  }
  return EncodeHelperReply(Refuse(HelperRefusal::Malformed));
}

HelperReply DriveHelperServer::Open(const HelperRequest& request) {
  if (!HasRoom()) return Refuse(HelperRefusal::TooManyHandles);
  const uint32_t id = nextHandle_++;
  if (request.type == HelperRequestType::OpenAta) {
    if (auto handle = OpenDrive(system_, request.number)) {
      ata_.emplace(id, std::move(handle));
    } else {
      return Refuse(system_.PrivilegeProblem().empty() ? HelperRefusal::OpenFailed
                                                       : HelperRefusal::OpenNotAllowed);
    }
  } else {
    NvmeHandlePtr handle =
        request.number <= kMaxNvmeController ? system_.OpenNvme(request.number) : nullptr;
    if (!handle) return Refuse(HelperRefusal::OpenFailed);
    nvme_.emplace(id, std::move(handle));
  }
  HelperReply reply;
  reply.type = HelperReplyType::Opened;
  reply.handle = id;
  return reply;
}

HelperReply DriveHelperServer::RunAta(const HelperRequest& request) {
  const auto found = ata_.find(request.handle);
  if (found == ata_.end()) return Refuse(HelperRefusal::NoSuchHandle);
  const auto header = ReadAtaRequestHeader(request.ata);
  if (!header || !IsCanonicalRequest(request.ata)) return Refuse(HelperRefusal::Malformed);
  if (!ClassifyAtaCommand(header->ataFlags, header->current, header->previous,
                          header->dataTransferLength)) {
    return Refuse(HelperRefusal::NotInCatalogue);
  }
  const ATACommandResult result = SendATACommand(*found->second, header->ataFlags, header->current,
                                                 header->dataTransferLength, header->previous);
  HelperReply reply;
  reply.type = HelperReplyType::AtaResult;
  reply.flags =
      static_cast<uint8_t>((result.callSucceeded ? kHelperCallSucceeded : 0) |
                           (system_.PrivilegeProblem().empty() ? 0 : kHelperPrivilegeFailure));
  reply.data = request.ata;
  WriteReturnedRegisters(reply.data, result.current, result.previous);
  if (reply.data.size() == kDataRequestSize) {
    std::copy(result.data.begin(), result.data.end(), reply.data.begin() + kRequestHeaderSize);
  }
  return reply;
}

HelperReply DriveHelperServer::RunNvme(const HelperRequest& request) {
  const auto found = nvme_.find(request.handle);
  if (found == nvme_.end()) return Refuse(HelperRefusal::NoSuchHandle);
  const NvmeCommandResult result = SendNvmeCommand(*found->second, request.nvme);
  if (result.refused) return Refuse(HelperRefusal::NotInCatalogue);
  HelperReply reply;
  reply.type = HelperReplyType::NvmeResult;
  reply.flags = static_cast<uint8_t>((result.success ? kHelperCallSucceeded : 0) |
                                     (result.privilegeFailure ? kHelperPrivilegeFailure : 0));
  reply.data = result.data;
  reply.data.resize(request.nvme.dataLength, 0);
  return reply;
}

HelperReply DriveHelperServer::CloseHandle(const HelperRequest& request) {
  if (ata_.erase(request.handle) == 0 && nvme_.erase(request.handle) == 0) {
    return Refuse(HelperRefusal::NoSuchHandle);
  }
  HelperReply reply;
  reply.type = HelperReplyType::Closed;
  return reply;
}

int ServeDriveHelper(DriveSystem& system, int in, int out) {
  DriveHelperServer server(system);
  std::array<uint8_t, kHelperMaxPayload> payload;
  for (;;) {
    std::array<uint8_t, kHelperFrameLengthSize> prefix;
    const size_t got = ReadFully(in, prefix);
    if (got == 0) return 0;
    if (got < prefix.size()) return 1;
    const auto length = HelperPayloadLength(prefix);
    if (!length) return 1;
    const std::span<uint8_t> body(payload.data(), *length);
    if (ReadFully(in, body) < body.size()) return 1;
    if (!WriteFully(out, server.Answer(body))) return 1;
  }
}

}  // namespace dv
