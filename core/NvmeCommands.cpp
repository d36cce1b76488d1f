// The NVMe catalogue and its guard, apart from the decoders so that the drive helper carries
// only what sends commands.
#include <array>

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

// The catalogue, one row per command in the enumeration's order: opcode, namespace, CDW10 and
// the bytes read (CDW11 stays 0, data always flows from the controller).
struct CatalogueRow {
  uint8_t opcode;
  uint32_t namespaceId;
  uint32_t cdw10;
  uint32_t dataLength;
};
constexpr std::array<CatalogueRow, static_cast<size_t>(kLastNvmeAdminCommand) + 1> kCatalogue{{
    {kNvmeOpcodeIdentify, 0, kNvmeCnsController, kNvmeIdentifySize},
    {kNvmeOpcodeIdentify, kFirstNamespace, kNvmeCnsNamespace, kNvmeIdentifySize},
    {kNvmeOpcodeGetLogPage, kNvmeAllNamespaces, kHealthLogCdw10, kNvmeHealthLogSize},
    {kNvmeOpcodeDeviceSelfTest, kNvmeAllNamespaces, kNvmeSelfTestShort, 0},
    {kNvmeOpcodeDeviceSelfTest, kNvmeAllNamespaces, kNvmeSelfTestExtended, 0},
    {kNvmeOpcodeDeviceSelfTest, kNvmeAllNamespaces, kNvmeSelfTestAbort, 0},
    {kNvmeOpcodeGetLogPage, kNvmeAllNamespaces, kSelfTestLogCdw10, kNvmeSelfTestLogSize},
}};

}  // namespace

NvmeAdminRequest MakeNvmeAdminCommand(NvmeAdminCommand command) {
  const CatalogueRow& row = kCatalogue.at(static_cast<size_t>(command));
  NvmeAdminRequest request;
  request.opcode = row.opcode;
  request.namespaceId = row.namespaceId;
  request.cdw10 = row.cdw10;
  request.dataLength = row.dataLength;
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
