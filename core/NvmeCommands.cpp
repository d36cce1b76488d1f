// The NVMe catalogue and its guard, apart from the decoders so that the drive helper carries
// only what sends commands.
#include "core/Nvme.h"

namespace dv {
namespace {

// Get Log Page: log id in CDW10 bits 7:0, the number of dwords minus one (lower half) in bits
// 31:16; the upper half of that count (CDW11 bits 15:0) stays 0 for a 512-byte log.
constexpr uint32_t kHealthLogCdw10 =
    kNvmeHealthLogId | (static_cast<uint32_t>(kNvmeHealthLogSize / 4 - 1) << 16);
constexpr uint32_t kSelfTestLogCdw10 =
    kNvmeSelfTestLogId | (static_cast<uint32_t>(kNvmeSelfTestLogSize / 4 - 1) << 16);
constexpr uint32_t kFirstNamespace = 1;

NvmeAdminRequest SelfTest(uint32_t code) {
  NvmeAdminRequest request;
  request.opcode = kNvmeOpcodeDeviceSelfTest;
  request.namespaceId = kNvmeAllNamespaces;
  request.cdw10 = code;
  return request;
}

}  // namespace

NvmeAdminRequest MakeNvmeAdminCommand(NvmeAdminCommand command) {
  NvmeAdminRequest request;
  switch (command) {
    case NvmeAdminCommand::IdentifyController:
      request.opcode = kNvmeOpcodeIdentify;
      request.cdw10 = kNvmeCnsController;
      request.dataLength = kNvmeIdentifySize;
      break;
    case NvmeAdminCommand::IdentifyNamespace:
      request.opcode = kNvmeOpcodeIdentify;
      request.namespaceId = kFirstNamespace;
      request.cdw10 = kNvmeCnsNamespace;
      request.dataLength = kNvmeIdentifySize;
      break;
    case NvmeAdminCommand::HealthLog:
      request.opcode = kNvmeOpcodeGetLogPage;
      request.namespaceId = kNvmeAllNamespaces;
      request.cdw10 = kHealthLogCdw10;
      request.dataLength = kNvmeHealthLogSize;
      break;
    case NvmeAdminCommand::SelfTestShort:
      request = SelfTest(kNvmeSelfTestShort);
      break;
    case NvmeAdminCommand::SelfTestExtended:
      request = SelfTest(kNvmeSelfTestExtended);
      break;
    case NvmeAdminCommand::SelfTestAbort:
      request = SelfTest(kNvmeSelfTestAbort);
      break;
    case NvmeAdminCommand::SelfTestLog:
      request.opcode = kNvmeOpcodeGetLogPage;
      request.namespaceId = kNvmeAllNamespaces;
      request.cdw10 = kSelfTestLogCdw10;
      request.dataLength = kNvmeSelfTestLogSize;
      break;
  }
  request.dataIn = true;
  return request;
}

std::optional<NvmeAdminCommand> ClassifyNvmeAdminCommand(const NvmeAdminRequest& request) {
  // Every field must match one catalogue command exactly: an opcode, CNS, log id, namespace,
  // length or direction that differs in any way is something the program never sends.
  for (int c = 0; c <= static_cast<int>(kLastNvmeAdminCommand); ++c) {
    const auto command = static_cast<NvmeAdminCommand>(c);
    const NvmeAdminRequest known = MakeNvmeAdminCommand(command);
    if (request.opcode == known.opcode && request.namespaceId == known.namespaceId &&
        request.cdw10 == known.cdw10 && request.cdw11 == known.cdw11 &&
        request.dataLength == known.dataLength && request.dataIn && known.dataIn) {
      return command;
    }
  }
  return std::nullopt;
}

const char* NvmeAdminCommandName(NvmeAdminCommand command) {
  switch (command) {
    case NvmeAdminCommand::IdentifyController:
      return "Identify Controller";
    case NvmeAdminCommand::IdentifyNamespace:
      return "Identify Namespace";
    case NvmeAdminCommand::HealthLog:
      return "SMART / Health Log";
    case NvmeAdminCommand::SelfTestShort:
      return "Device Self-test (short)";
    case NvmeAdminCommand::SelfTestExtended:
      return "Device Self-test (extended)";
    case NvmeAdminCommand::SelfTestAbort:
      return "Device Self-test (abort)";
    case NvmeAdminCommand::SelfTestLog:
      return "Self-test Log";
  }
  return "";
}

NvmeCommandResult SendNvmeCommand(NvmeHandle& handle, const NvmeAdminRequest& request) {
  NvmeCommandResult result;
  if (!ClassifyNvmeAdminCommand(request)) {
    result.refused = true;
    return result;
  }
  result.data.assign(request.dataLength, 0);
  result.success = handle.AdminCommand(request, result.data);
  if (!result.success) {
    result.privilegeFailure = handle.LastFailureWasPrivilege();
    result.data.clear();
  }
  return result;
}

NvmeCommandResult SendNvmeCommand(NvmeHandle& handle, NvmeAdminCommand command) {
  return SendNvmeCommand(handle, MakeNvmeAdminCommand(command));
}

}  // namespace dv
