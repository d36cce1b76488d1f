// The single-instance lock on Linux: flock on a per-user file, held while the object lives. The
// kernel drops the lock when the process ends, however it ends.
#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <string>

#include "app/SingleInstance.h"
#include "core/platform/FileDescriptor.h"

namespace dv {

namespace {

class FlockInstanceLock : public InstanceLock {
 public:
  explicit FlockInstanceLock(const std::filesystem::path& path)
      : fd_(::open(path.c_str(), O_RDWR | O_CREAT | O_CLOEXEC | O_NOFOLLOW, 0600)) {
    // A lock file we cannot open, or one that is not ours, proves nothing about another instance
    // of ours: run.
    struct stat status {};
    const bool ours =
        fd_.Valid() && ::fstat(fd_.Get(), &status) == 0 && status.st_uid == ::getuid();
    acquired_ = !ours || ::flock(fd_.Get(), LOCK_EX | LOCK_NB) == 0;
  }

  bool Acquired() const override { return acquired_; }

 private:
  FileDescriptor fd_;
  bool acquired_ = false;
};

}  // namespace

bool UsePrivateFolder(const std::filesystem::path& folder, unsigned owner) {
  if (::mkdir(folder.c_str(), S_IRWXU) != 0 && errno != EEXIST) return false;
  struct stat status {};
  if (::lstat(folder.c_str(), &status) != 0) return false;
  return S_ISDIR(status.st_mode) && status.st_uid == owner &&
         (status.st_mode & (S_IRWXG | S_IRWXO)) == 0;
}

std::filesystem::path InstanceLockPath(std::string_view name) {
  const std::string file = std::string(name) + ".lock";
  if (const char* runtime = std::getenv("XDG_RUNTIME_DIR"); runtime && *runtime)
    return std::filesystem::path(runtime) / file;
  const uid_t uid = ::getuid();
  const std::filesystem::path folder =
      std::filesystem::path("/tmp") / ("diskvigil-" + std::to_string(uid));
  if (!UsePrivateFolder(folder, uid)) return {};
  return folder / file;
}

std::unique_ptr<InstanceLock> AcquireInstanceLock(std::string_view name) {
  return std::make_unique<FlockInstanceLock>(InstanceLockPath(name));
}

}  // namespace dv
