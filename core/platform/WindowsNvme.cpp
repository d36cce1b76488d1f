// NVMe drives on Windows. The storage stack does not pass admin commands through; it answers
// Identify and Get Log Page itself when asked for the protocol-specific property of the device.
// Each catalogue command is translated into that query and the returned data copied out.
// Built only on Windows.
// windows.h must come first: the other one relies on its types.
#include <windows.h>
// clang-format off
#include <winioctl.h>
// clang-format on

#include <algorithm>
#include <cstddef>
#include <cstring>
#include <vector>

#include "core/Nvme.h"
#include "core/platform/WinHandle.h"
#include "core/platform/WindowsNvme.h"

namespace dv {
namespace {

// The query: the property id and type, then the protocol-specific block, then the data area.
constexpr size_t kQueryHeaderSize = offsetof(STORAGE_PROPERTY_QUERY, AdditionalParameters);
constexpr size_t kProtocolBlockSize = sizeof(STORAGE_PROTOCOL_SPECIFIC_DATA);
// The reply: version and size, then the same protocol-specific block, then the data.
constexpr size_t kReplyHeaderSize =
    offsetof(STORAGE_PROTOCOL_DATA_DESCRIPTOR, ProtocolSpecificData);

// False for the commands this query cannot carry: the device self-tests are no property reads.
bool Describe(NvmeAdminCommand command, STORAGE_PROTOCOL_SPECIFIC_DATA& protocol) {
  protocol.ProtocolType = ProtocolTypeNvme;
  switch (command) {
    case NvmeAdminCommand::IdentifyController:
      protocol.DataType = NVMeDataTypeIdentify;
      protocol.ProtocolDataRequestValue = 1;     // CNS 01h
      protocol.ProtocolDataRequestSubValue = 0;  // no namespace
      break;
    case NvmeAdminCommand::IdentifyNamespace:
      protocol.DataType = NVMeDataTypeIdentify;
      protocol.ProtocolDataRequestValue = 0;     // CNS 00h
      protocol.ProtocolDataRequestSubValue = 1;  // namespace 1
      break;
    case NvmeAdminCommand::HealthLog:
      protocol.DataType = NVMeDataTypeLogPage;
      protocol.ProtocolDataRequestValue = kNvmeHealthLogId;
      protocol.ProtocolDataRequestSubValue = 0;  // from offset 0, for the whole controller
      break;
    case NvmeAdminCommand::SelfTestLog:
      protocol.DataType = NVMeDataTypeLogPage;
      protocol.ProtocolDataRequestValue = kNvmeSelfTestLogId;
      protocol.ProtocolDataRequestSubValue = 0;
      break;
    case NvmeAdminCommand::SelfTestShort:
    case NvmeAdminCommand::SelfTestExtended:
    case NvmeAdminCommand::SelfTestAbort:
      return false;
  }
  return true;
}

class WindowsNvmeHandle : public NvmeHandle {
 public:
  explicit WindowsNvmeHandle(HANDLE h) : handle_(h) {}

  bool AdminCommand(const NvmeAdminRequest& request, std::span<uint8_t> data) override {
    lastPrivilegeFailure_ = false;
    const auto command = ClassifyNvmeAdminCommand(request);
    if (!command || data.size() != request.dataLength) return false;

    std::vector<uint8_t> buffer(kQueryHeaderSize + kProtocolBlockSize + data.size(), 0);
    STORAGE_PROPERTY_QUERY query{};
    // The controller's identify is the adapter's; the namespace and its log are the device's.
    query.PropertyId = command == NvmeAdminCommand::IdentifyController
                           ? StorageAdapterProtocolSpecificProperty
                           : StorageDeviceProtocolSpecificProperty;
    query.QueryType = PropertyStandardQuery;
    std::memcpy(buffer.data(), &query, kQueryHeaderSize);
    STORAGE_PROTOCOL_SPECIFIC_DATA protocol{};
    if (!Describe(*command, protocol)) return false;
    protocol.ProtocolDataOffset = static_cast<DWORD>(kProtocolBlockSize);
    protocol.ProtocolDataLength = static_cast<DWORD>(data.size());
    std::memcpy(buffer.data() + kQueryHeaderSize, &protocol, kProtocolBlockSize);

    DWORD returned = 0;
    const BOOL ok = DeviceIoControl(handle_.Get(), IOCTL_STORAGE_QUERY_PROPERTY, buffer.data(),
                                    static_cast<DWORD>(buffer.size()), buffer.data(),
                                    static_cast<DWORD>(buffer.size()), &returned, nullptr);
    if (!ok) {
      lastPrivilegeFailure_ = GetLastError() == ERROR_ACCESS_DENIED;
      return false;
    }
    // The reply names where its data sits; anything that does not fit the buffer is refused.
    STORAGE_PROTOCOL_SPECIFIC_DATA answer{};
    if (returned < kReplyHeaderSize + kProtocolBlockSize) return false;
    std::memcpy(&answer, buffer.data() + kReplyHeaderSize, kProtocolBlockSize);
    const size_t offset = kReplyHeaderSize + static_cast<size_t>(answer.ProtocolDataOffset);
    if (answer.ProtocolDataLength < data.size() || offset > buffer.size() ||
        buffer.size() - offset < data.size()) {
      return false;
    }
    std::copy_n(buffer.begin() + static_cast<std::ptrdiff_t>(offset), data.size(), data.begin());
    return true;
  }

  bool LastFailureWasPrivilege() const override { return lastPrivilegeFailure_; }

 private:
  WinHandle handle_;
  bool lastPrivilegeFailure_ = false;
};

}  // namespace

NvmeHandlePtr OpenWindowsNvme(const std::string& path) {
  HANDLE h = CreateFileA(path.c_str(), GENERIC_READ | GENERIC_WRITE,
                         FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr, OPEN_EXISTING, 0, nullptr);
  if (h == INVALID_HANDLE_VALUE) return nullptr;
  return std::make_unique<WindowsNvmeHandle>(h);
}

}  // namespace dv
