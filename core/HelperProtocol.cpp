#include "core/HelperProtocol.h"

#include "core/LittleEndian.h"

namespace dv {
namespace {

constexpr size_t kTypeSize = 1;
constexpr size_t kHandleSize = 4;
constexpr size_t kNvmeFieldsSize = 1 + 4 * 4 + 1;

void AppendLe32(std::vector<uint8_t>& out, uint32_t value) {
  for (int shift = 0; shift < 32; shift += 8) out.push_back(static_cast<uint8_t>(value >> shift));
}

// A frame is built in place: room for the length, the type, then the payload's fields.
std::vector<uint8_t> StartFrame(uint8_t type, size_t payloadSize) {
  std::vector<uint8_t> frame;
  frame.reserve(kHelperFrameLengthSize + payloadSize);
  frame.resize(kHelperFrameLengthSize);
  frame.push_back(type);
  return frame;
}

std::vector<uint8_t> EndFrame(std::vector<uint8_t> frame) {
  const auto length = static_cast<uint32_t>(frame.size() - kHelperFrameLengthSize);
  for (size_t i = 0; i < kHelperFrameLengthSize; ++i) {
    frame[i] = static_cast<uint8_t>(length >> (8 * i));
  }
  return frame;
}

bool IsAtaRequestSize(size_t size) {
  return size == kRequestHeaderSize || size == kDataRequestSize;
}

// The self-tests move no data.
bool IsNvmeDataSize(size_t size) {
  return size == 0 || size == kNvmeHealthLogSize || size == kNvmeSelfTestLogSize ||
         size == kNvmeIdentifySize;
}

}  // namespace

std::vector<uint8_t> EncodeHelperRequest(const HelperRequest& request) {
  std::vector<uint8_t> payload =
      StartFrame(static_cast<uint8_t>(request.type), kTypeSize + kHandleSize + request.ata.size());
  switch (request.type) {
    case HelperRequestType::OpenAta:
    case HelperRequestType::OpenNvme:
      payload.push_back(request.number);
      break;
    case HelperRequestType::AtaCommand:
      AppendLe32(payload, request.handle);
      payload.insert(payload.end(), request.ata.begin(), request.ata.end());
      break;
    case HelperRequestType::NvmeCommand:
      AppendLe32(payload, request.handle);
      payload.push_back(request.nvme.opcode);
      AppendLe32(payload, request.nvme.namespaceId);
      AppendLe32(payload, request.nvme.cdw10);
      AppendLe32(payload, request.nvme.cdw11);
      AppendLe32(payload, request.nvme.dataLength);
      payload.push_back(request.nvme.dataIn ? 1 : 0);
      break;
    case HelperRequestType::Close:
      AppendLe32(payload, request.handle);
      break;
    case HelperRequestType::AtaOnFreshOpen:
      payload.push_back(request.number);
      payload.insert(payload.end(), request.ata.begin(), request.ata.end());
      break;
  }
  return EndFrame(std::move(payload));
}

std::vector<uint8_t> EncodeHelperReply(const HelperReply& reply) {
  std::vector<uint8_t> payload =
      StartFrame(static_cast<uint8_t>(reply.type), kTypeSize + kHandleSize + reply.data.size());
  switch (reply.type) {
    case HelperReplyType::Opened:
      AppendLe32(payload, reply.handle);
      break;
    case HelperReplyType::AtaResult:
    case HelperReplyType::NvmeResult:
      payload.push_back(reply.flags);
      payload.insert(payload.end(), reply.data.begin(), reply.data.end());
      break;
    case HelperReplyType::Closed:
      break;
    case HelperReplyType::Refused:
      payload.push_back(static_cast<uint8_t>(reply.refusal));
      break;
  }
  return EndFrame(std::move(payload));
}

std::optional<HelperRequest> DecodeHelperRequest(std::span<const uint8_t> payload) {
  if (payload.empty()) return std::nullopt;
  HelperRequest request;
  request.type = static_cast<HelperRequestType>(payload[0]);
  const std::span<const uint8_t> body = payload.subspan(kTypeSize);
  switch (request.type) {
    case HelperRequestType::OpenAta:
    case HelperRequestType::OpenNvme:
      if (body.size() != 1) return std::nullopt;
      request.number = body[0];
      return request;
    case HelperRequestType::AtaCommand:
      if (body.size() < kHandleSize || !IsAtaRequestSize(body.size() - kHandleSize)) {
        return std::nullopt;
      }
      request.handle = Le32(body, 0);
      request.ata.assign(body.begin() + kHandleSize, body.end());
      return request;
    case HelperRequestType::NvmeCommand:
      if (body.size() != kHandleSize + kNvmeFieldsSize || body.back() > 1) return std::nullopt;
      request.handle = Le32(body, 0);
      request.nvme.opcode = body[4];
      request.nvme.namespaceId = Le32(body, 5);
      request.nvme.cdw10 = Le32(body, 9);
      request.nvme.cdw11 = Le32(body, 13);
      request.nvme.dataLength = Le32(body, 17);
      request.nvme.dataIn = body[21] == 1;
      return request;
    case HelperRequestType::Close:
      if (body.size() != kHandleSize) return std::nullopt;
      request.handle = Le32(body, 0);
      return request;
    case HelperRequestType::AtaOnFreshOpen:
      if (body.empty() || !IsAtaRequestSize(body.size() - 1)) return std::nullopt;
      request.number = body[0];
      request.ata.assign(body.begin() + 1, body.end());
      return request;
  }
  return std::nullopt;
}

std::optional<HelperReply> DecodeHelperReply(std::span<const uint8_t> payload) {
  if (payload.empty()) return std::nullopt;
  HelperReply reply;
  reply.type = static_cast<HelperReplyType>(payload[0]);
  const std::span<const uint8_t> body = payload.subspan(kTypeSize);
  switch (reply.type) {
    case HelperReplyType::Opened:
      if (body.size() != kHandleSize) return std::nullopt;
      reply.handle = Le32(body, 0);
      return reply;
    case HelperReplyType::AtaResult:
    case HelperReplyType::NvmeResult: {
      if (body.empty()) return std::nullopt;
      const size_t dataSize = body.size() - 1;
      const bool ata = reply.type == HelperReplyType::AtaResult;
      if (ata ? !IsAtaRequestSize(dataSize) : !IsNvmeDataSize(dataSize)) return std::nullopt;
      reply.flags = body[0];
      reply.data.assign(body.begin() + 1, body.end());
      return reply;
    }
    case HelperReplyType::Closed:
      if (!body.empty()) return std::nullopt;
      return reply;
    case HelperReplyType::Refused:
      if (body.size() != 1 || body[0] < static_cast<uint8_t>(HelperRefusal::Malformed) ||
          body[0] > static_cast<uint8_t>(HelperRefusal::TooManyHandles)) {
        return std::nullopt;
      }
      reply.refusal = static_cast<HelperRefusal>(body[0]);
      return reply;
  }
  return std::nullopt;
}

std::optional<size_t> HelperPayloadLength(std::span<const uint8_t, kHelperFrameLengthSize> prefix) {
  const uint32_t length = Le32(prefix, 0);
  if (length == 0 || length > kHelperMaxPayload) return std::nullopt;
  return length;
}

}  // namespace dv
