// The Windows back end: drive N is \\.\PhysicalDriveN and each request goes through
// IOCTL_ATA_PASS_THROUGH. The canonical request is the 32-bit ATA_PASS_THROUGH_EX layout; the
// native structure is 48 bytes on 64-bit Windows (DataBufferOffset widens and moves), so the fields
// are copied into the native structure and the returned registers copied back, never cast.
// Built only on Windows. Opening a physical drive for reading and writing needs an administrator.
// windows.h must come first: the other two rely on its types.
#include <windows.h>
// clang-format off
#include <winioctl.h>
#include <ntddscsi.h>
// clang-format on

#include <algorithm>
#include <array>
#include <cstddef>
#include <string>

#include "core/DriveSystem.h"
#include "core/Ioctl.h"
#include "core/SatCdb.h"
#include "core/platform/WinHandle.h"
#include "core/platform/WindowsNvme.h"

namespace dv {
namespace {

constexpr DWORD kMountDevQueryDeviceName = 0x004D0008;  // IOCTL_MOUNTDEV_QUERY_DEVICE_NAME
constexpr DWORD kMountDevReplySize = 520;
constexpr DWORD kMountDevOutputLength = 256;
constexpr size_t kMaxDeviceNameChars = 129;
constexpr DWORD kDosTargetSize = 260;

static_assert(kIoctlAtaPassThrough == IOCTL_ATA_PASS_THROUGH);

// The native request: header, then the data area right behind it.
struct NativeRequest {
  ATA_PASS_THROUGH_EX header;
  UCHAR data[kSectorSize];
};

void CopyTaskFile(const TaskFile& from, UCHAR (&to)[8]) {
  const auto bytes = from.Bytes();
  std::copy(bytes.begin(), bytes.end(), to);
}

TaskFile ToTaskFile(const UCHAR (&from)[8]) {
  std::array<uint8_t, 8> bytes{};
  std::copy(std::begin(from), std::end(from), bytes.begin());
  return TaskFile::FromBytes(bytes);
}

class WindowsDriveHandle : public DriveHandle {
 public:
  explicit WindowsDriveHandle(HANDLE h) : handle_(h) {}

  bool PassThrough(std::span<uint8_t> request) override {
    const auto header = ReadAtaRequestHeader(request);
    if (!header || !IsCanonicalRequest(request) ||
        !ClassifyAtaCommand(header->ataFlags, header->current, header->previous,
                            header->dataTransferLength)) {
      return false;
    }
    NativeRequest native{};
    native.header.Length = sizeof(ATA_PASS_THROUGH_EX);
    native.header.AtaFlags = header->ataFlags;
    native.header.DataTransferLength = header->dataTransferLength;
    native.header.TimeOutValue = header->timeOutValue;
    native.header.DataBufferOffset = offsetof(NativeRequest, data);
    CopyTaskFile(header->previous, native.header.PreviousTaskFile);
    CopyTaskFile(header->current, native.header.CurrentTaskFile);

    const DWORD size = static_cast<DWORD>(
        header->dataTransferLength == 0 ? sizeof(ATA_PASS_THROUGH_EX) : sizeof(NativeRequest));
    DWORD returned = 0;
    const bool ok = DeviceIoControl(handle_.Get(), IOCTL_ATA_PASS_THROUGH, &native, size, &native,
                                    size, &returned, nullptr) != FALSE;

    WriteReturnedRegisters(request, ToTaskFile(native.header.CurrentTaskFile),
                           ToTaskFile(native.header.PreviousTaskFile));
    if (header->dataTransferLength != 0) {
      std::copy(std::begin(native.data), std::end(native.data),
                request.begin() + kRequestHeaderSize);
    }
    return ok;
  }

 private:
  WinHandle handle_;
};

// The kernel device name of partition k of drive N ("\Device\HarddiskVolume3"), or empty.
std::string PartitionDeviceName(int driveNumber, int partition) {
  const std::string path = "\\\\?\\GLOBALROOT\\Device\\Harddisk" + std::to_string(driveNumber) +
                           "\\Partition" + std::to_string(partition);
  WinHandle h(CreateFileA(path.c_str(), 0, FILE_SHARE_WRITE, nullptr, OPEN_EXISTING, 0, nullptr));
  if (!h.Valid()) return {};
  std::array<uint8_t, kMountDevReplySize> reply{};
  DWORD returned = 0;
  if (!DeviceIoControl(h.Get(), kMountDevQueryDeviceName, nullptr, 0, reply.data(),
                       kMountDevOutputLength, &returned, nullptr)) {
    return {};
  }
  // MOUNTDEV_NAME: a length word, then UTF-16 text; read it up to its NUL.
  std::wstring name;
  for (size_t at = 2; at + 1 < reply.size() && name.size() < kMaxDeviceNameChars; at += 2) {
    const wchar_t c = static_cast<wchar_t>(reply[at] | (reply[at + 1] << 8));
    if (c == 0) break;
    name.push_back(c);
  }
  if (name.empty()) return {};
  const int bytes = WideCharToMultiByte(CP_ACP, 0, name.c_str(), static_cast<int>(name.size()),
                                        nullptr, 0, nullptr, nullptr);
  std::string ansi(static_cast<size_t>(std::max(bytes, 0)), '\0');
  WideCharToMultiByte(CP_ACP, 0, name.c_str(), static_cast<int>(name.size()), ansi.data(), bytes,
                      nullptr, nullptr);
  return ansi;
}

class WindowsDriveSystem : public DriveSystem {
 public:
  DriveHandlePtr Open(int driveNumber) override {
    HANDLE h = CreateFileA(WindowsDrivePath(driveNumber).c_str(), GENERIC_READ | GENERIC_WRITE,
                           FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr, OPEN_EXISTING, 0, nullptr);
    if (h == INVALID_HANDLE_VALUE) return nullptr;
    return std::make_unique<WindowsDriveHandle>(h);
  }

  // The drive letter whose DOS device points at the partition; the last matching letter wins.
  std::optional<std::string> VolumeName(int driveNumber, int partition) override {
    const std::string device = PartitionDeviceName(driveNumber, partition);
    if (device.empty()) return std::nullopt;
    std::optional<std::string> letter;
    for (char c = 'A'; c <= 'Z'; ++c) {
      const char name[3] = {c, ':', '\0'};
      std::array<char, kDosTargetSize> target{};
      if (QueryDosDeviceA(name, target.data(), kMountDevOutputLength) != 0 &&
          device == target.data()) {
        letter = std::string(1, c);
      }
    }
    return letter;
  }

  std::string DescribeDrive(int driveNumber) const override {
    return WindowsDrivePath(driveNumber);
  }

  // An NVMe drive is a physical drive too; the ATA probe passes it by, this one takes it.
  NvmeHandlePtr OpenNvme(int controller) override {
    return OpenWindowsNvme(WindowsDrivePath(controller));
  }
  std::string NvmeDevicePath(int controller) const override { return WindowsDrivePath(controller); }
};

}  // namespace

std::unique_ptr<DriveSystem> CreatePlatformDriveSystem() {
  return std::make_unique<WindowsDriveSystem>();
}

}  // namespace dv
