#include "helper/DriveHelperServer.h"

#include <unistd.h>

#include <algorithm>
#include <array>
#include <cerrno>
#include <optional>

#include "core/SatCdb.h"

namespace dv {
namespace {

HelperReply Refuse(HelperRefusal why) {
  HelperReply reply;
  reply.type = HelperReplyType::Refused;
  reply.refusal = why;
  return reply;
}

// What one read brings; 0 at the end of the input or on an error.
ssize_t ReadSome(int fd, std::span<uint8_t> buffer) {
  for (;;) {
    const ssize_t n = read(fd, buffer.data(), buffer.size());
    if (n < 0 && errno == EINTR) continue;
    return n < 0 ? 0 : n;
  }
}

// Why an ATA request may not reach a drive, if it may not: a malformed request or one outside the
// catalogue.
std::optional<HelperRefusal> AtaRefusal(std::span<const uint8_t> ata) {
  const auto header = ReadAtaRequestHeader(ata);
  if (!header || !IsCanonicalRequest(ata)) return HelperRefusal::Malformed;
  if (!ClassifyAtaCommand(header->ataFlags, header->current, header->previous,
                          header->dataTransferLength)) {
    return HelperRefusal::NotInCatalogue;
  }
  return std::nullopt;
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
    case HelperRequestType::AtaOnFreshOpen:
      return EncodeHelperReply(RunAtaOnFreshOpen(*request));
  }
  return EncodeHelperReply(Refuse(HelperRefusal::Malformed));
}

HelperReply DriveHelperServer::Open(const HelperRequest& request) {
  // Every open takes the next number, opened or not, so a caller can name the handle in a command
  // it sends before the reply to the open has come.
  const uint32_t id = nextHandle_++;
  if (!HasRoom()) return Refuse(HelperRefusal::TooManyHandles);
  if (request.type == HelperRequestType::OpenAta) {
    if (auto handle = OpenDrive(system_, request.number)) {
      ata_.emplace(id, std::move(handle));
    } else {
      return Refuse(OpenRefusal());
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

HelperRefusal DriveHelperServer::OpenRefusal() const {
  return system_.PrivilegeProblem().empty() ? HelperRefusal::OpenFailed
                                            : HelperRefusal::OpenNotAllowed;
}

HelperReply DriveHelperServer::RunAta(const HelperRequest& request) {
  const auto found = ata_.find(request.handle);
  if (found == ata_.end()) return Refuse(HelperRefusal::NoSuchHandle);
  if (const auto refusal = AtaRefusal(request.ata)) return Refuse(*refusal);
  return SendAta(*found->second, request.ata);
}

// The guard answers before the drive is opened: a refused command opens nothing.
HelperReply DriveHelperServer::RunAtaOnFreshOpen(const HelperRequest& request) {
  if (const auto refusal = AtaRefusal(request.ata)) return Refuse(*refusal);
  const DriveHandlePtr handle = OpenDrive(system_, request.number);
  if (!handle) return Refuse(OpenRefusal());
  return SendAta(*handle, request.ata);
}

// A request the guard has let through.
HelperReply DriveHelperServer::SendAta(DriveHandle& handle, const std::vector<uint8_t>& ata) {
  const auto header = ReadAtaRequestHeader(ata);
  const ATACommandResult result = SendATACommand(handle, header->ataFlags, header->current,
                                                 header->dataTransferLength, header->previous);
  HelperReply reply;
  reply.type = HelperReplyType::AtaResult;
  reply.flags =
      static_cast<uint8_t>((result.callSucceeded ? kHelperCallSucceeded : 0) |
                           (system_.PrivilegeProblem().empty() ? 0 : kHelperPrivilegeFailure));
  reply.data = ata;
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
  // A caller sends several frames in one write (closes and opens ahead of a command), so the input
  // is read in blocks and the replies to every frame already here go back in one write.
  std::vector<uint8_t> input(kHelperInputBuffer);
  size_t start = 0;
  size_t end = 0;
  std::vector<uint8_t> replies;
  for (;;) {
    const std::span<const uint8_t> held(input.data() + start, end - start);
    if (held.size() >= kHelperFrameLengthSize) {
      const auto length = HelperPayloadLength(held.first<kHelperFrameLengthSize>());
      if (!length) return 1;
      if (held.size() >= kHelperFrameLengthSize + *length) {
        const auto frame = server.Answer(held.subspan(kHelperFrameLengthSize, *length));
        replies.insert(replies.end(), frame.begin(), frame.end());
        start += kHelperFrameLengthSize + *length;
        continue;
      }
    }
    if (!replies.empty()) {
      if (!WriteFully(out, replies)) return 1;
      replies.clear();
    }
    // Keep the partial frame at the front, then read more behind it.
    std::copy(input.begin() + static_cast<ptrdiff_t>(start),
              input.begin() + static_cast<ptrdiff_t>(end), input.begin());
    end -= start;
    start = 0;
    const ssize_t n = ReadSome(in, std::span<uint8_t>(input).subspan(end));
    if (n <= 0) return end == 0 ? 0 : 1;
    end += static_cast<size_t>(n);
  }
}

}  // namespace dv
