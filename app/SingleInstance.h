// The single-instance rule: the first process to take the named lock "SMARTMutex" runs; later ones
// end silently. Windows: a named mutex; Linux: flock on a per-user file named after it.
#pragma once

#include <filesystem>
#include <memory>
#include <string_view>

namespace dv {

inline constexpr std::string_view kSingleInstanceName = "SMARTMutex";

class InstanceLock {
 public:
  virtual ~InstanceLock() = default;
  // False when another instance holds the lock. Held until the object is destroyed.
  virtual bool Acquired() const = 0;
};

// Takes the platform's lock named `name`. When the lock cannot even be set up (no writable folder),
// the result counts as acquired: an instance is refused only when another one is known to run.
std::unique_ptr<InstanceLock> AcquireInstanceLock(std::string_view name = kSingleInstanceName);

// Linux: $XDG_RUNTIME_DIR/<name>.lock, else <name>.lock in the user's own folder
// /tmp/diskvigil-<uid>. Empty when that folder is not safely the user's (see UsePrivateFolder):
// the lock is then not set up, and the program runs.
std::filesystem::path InstanceLockPath(std::string_view name);

// Linux: makes `folder` (mode 0700) unless it exists, and accepts it only when it is a real folder,
// not a link, owned by `owner` and closed to group and others. Another user who makes the folder
// first can then neither hold the lock nor keep the program from starting.
bool UsePrivateFolder(const std::filesystem::path& folder, unsigned owner);

}  // namespace dv
