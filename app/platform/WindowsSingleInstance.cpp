// The single-instance rule on Windows: the named mutex "SMARTMutex", never waited on; its existence
// is what counts.
#include <windows.h>

#include <string>

#include "app/SingleInstance.h"
#include "core/platform/WinHandle.h"

namespace dv {

namespace {

class MutexInstanceLock : public InstanceLock {
 public:
  explicit MutexInstanceLock(std::string_view name) {
    SetLastError(0);
    HANDLE mutex = CreateMutexA(nullptr, TRUE, std::string(name).c_str());
    acquired_ = GetLastError() != ERROR_ALREADY_EXISTS;
    mutex_ = WinHandle(mutex);
  }
  bool Acquired() const override { return acquired_; }

 private:
  WinHandle mutex_;
  bool acquired_ = true;
};

}  // namespace

std::filesystem::path InstanceLockPath(std::string_view /*name*/) { return {}; }

std::unique_ptr<InstanceLock> AcquireInstanceLock(std::string_view name) {
  return std::make_unique<MutexInstanceLock>(name);
}

}  // namespace dv
