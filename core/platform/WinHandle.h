// The one owner of a Windows kernel handle: closed when the owner goes, moved but never copied.
// Header-only, so the drive back ends and the settings library share it.
#pragma once

#include <windows.h>

#include <utility>

namespace dv {

class WinHandle {
 public:
  WinHandle() = default;
  explicit WinHandle(HANDLE handle) : handle_(handle) {}
  ~WinHandle() { Close(); }
  WinHandle(const WinHandle&) = delete;
  WinHandle& operator=(const WinHandle&) = delete;
  WinHandle(WinHandle&& other) noexcept
      : handle_(std::exchange(other.handle_, INVALID_HANDLE_VALUE)) {}
  WinHandle& operator=(WinHandle&& other) noexcept {
    if (this != &other) {
      Close();
      handle_ = std::exchange(other.handle_, INVALID_HANDLE_VALUE);
    }
    return *this;
  }

  HANDLE Get() const { return handle_; }
  // Failed opens give INVALID_HANDLE_VALUE (files, devices) or null (most other objects).
  bool Valid() const { return handle_ != INVALID_HANDLE_VALUE && handle_ != nullptr; }
  // Closes now; false when the system reports the close failed.
  bool Close() {
    if (!Valid()) return true;
    return CloseHandle(std::exchange(handle_, INVALID_HANDLE_VALUE)) != 0;
  }

 private:
  HANDLE handle_ = INVALID_HANDLE_VALUE;
};

}  // namespace dv
