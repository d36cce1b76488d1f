// The single-instance lock on Linux: flock on a per-user file, held while the object lives. The
// kernel drops the lock when the process ends, however it ends.
#include <fcntl.h>
#include <sys/file.h>
#include <unistd.h>

#include <cstdlib>
#include <string>

#include "app/SingleInstance.h"

namespace dv {

namespace {

class FlockInstanceLock : public InstanceLock {
 public:
  explicit FlockInstanceLock(const std::filesystem::path& path)
      : fd_(::open(path.c_str(), O_RDWR | O_CREAT | O_CLOEXEC | O_NOFOLLOW, 0600)) {
    // A lock file we cannot open proves nothing about another instance: run.
    acquired_ = fd_ < 0 || ::flock(fd_, LOCK_EX | LOCK_NB) == 0;
  }
  ~FlockInstanceLock() override {
    if (fd_ >= 0) ::close(fd_);
  }
  FlockInstanceLock(const FlockInstanceLock&) = delete;
  FlockInstanceLock& operator=(const FlockInstanceLock&) = delete;

  bool Acquired() const override { return acquired_; }

 private:
  int fd_;
  bool acquired_ = false;
};

}  // namespace

std::filesystem::path InstanceLockPath(std::string_view name) {
  if (const char* runtime = std::getenv("XDG_RUNTIME_DIR"); runtime && *runtime)
    return std::filesystem::path(runtime) / (std::string(name) + ".lock");
  return std::filesystem::path("/tmp") /
         (std::string(name) + "-" + std::to_string(::getuid()) + ".lock");
}

std::unique_ptr<InstanceLock> AcquireInstanceLock(std::string_view name) {
  return std::make_unique<FlockInstanceLock>(InstanceLockPath(name));
}

}  // namespace dv
