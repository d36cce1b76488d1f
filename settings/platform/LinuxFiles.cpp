// Atomic file replacement on POSIX: a new file beside the target (never through a link), written,
// fsynced and renamed over it, in a folder that only this user or root can change. The home folder
// from the user database.
#include <dirent.h>
#include <fcntl.h>
#include <grp.h>
#include <pwd.h>
#include <sys/file.h>
#include <sys/random.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdlib>
#include <string>
#include <vector>

#include "core/platform/FileDescriptor.h"
#include "settings/IniFile.h"

namespace dv {

namespace {

bool WriteAll(int fd, std::string_view data) {
  while (!data.empty()) {
    const ssize_t written = ::write(fd, data.data(), data.size());
    if (written < 0) {
      if (errno == EINTR) continue;
      return false;
    }
    data.remove_prefix(static_cast<std::size_t>(written));
  }
  return true;
}

// mkstemp's six characters replace "XXXXXX" with letters and digits.
constexpr std::size_t kTemporarySuffixLength = 6;

bool IsTemporaryOf(std::string_view name, std::string_view base) {
  if (name.size() != base.size() + 1 + kTemporarySuffixLength) return false;
  if (name.substr(0, base.size()) != base || name[base.size()] != '.') return false;
  const std::string_view suffix = name.substr(base.size() + 1);
  return std::all_of(suffix.begin(), suffix.end(), [](char c) {
    return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9');
  });
}

// Every save holds a shared lock on its folder from before its temporary exists until after the
// rename, so a process that gets the lock exclusively knows that no save is under way there and
// that every temporary of ours it finds was left by a save that died (the system drops the locks
// of a killed process). A folder that cannot be locked (some network file systems) is not swept.
class FolderSaveLock {
 public:
  static constexpr int kSharedAttempts = 200;  // a millisecond apart

  explicit FolderSaveLock(const std::filesystem::path& folder)
      : fd_(::open(folder.empty() ? "." : folder.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC)) {}

  // Exclusive at once, or false (a save is running, or locks are not to be had here).
  bool TryExclusive() { return fd_.Get() >= 0 && Flock(LOCK_EX | LOCK_NB); }
  // Shared, waiting out a sweep (microseconds). Without locks, or when something else keeps the
  // folder locked, the save goes on all the same after a short wait rather than hang.
  void Shared() {
    if (fd_.Get() < 0) return;
    for (int attempt = 0; attempt < kSharedAttempts; ++attempt) {
      if (Flock(LOCK_SH | LOCK_NB) || errno != EWOULDBLOCK) return;
      ::usleep(1000);
    }
  }
  int Fd() const { return fd_.Get(); }

 private:
  bool Flock(int operation) {
    int result = 0;
    while ((result = ::flock(fd_.Get(), operation)) != 0 && errno == EINTR) {
    }
    return result == 0;
  }

  FileDescriptor fd_;
};

// Removes the temporaries `<base>.XXXXXX` that earlier saves left in the folder when they were
// killed between creating and renaming them: regular files of this user, nothing else.
void RemoveLeftTemporaries(int folderFd, std::string_view base) {
  const int listFd = ::dup(folderFd);
  if (listFd < 0) return;
  DIR* folder = ::fdopendir(listFd);
  if (folder == nullptr) {
    ::close(listFd);
    return;
  }
  std::vector<std::string> stale;
  while (const dirent* entry = ::readdir(folder)) {
    const std::string_view name = entry->d_name;
    if (!IsTemporaryOf(name, base)) continue;
    struct stat info {};
    if (::fstatat(folderFd, entry->d_name, &info, AT_SYMLINK_NOFOLLOW) != 0) continue;
    if (S_ISREG(info.st_mode) && info.st_uid == ::geteuid()) stale.emplace_back(name);
  }
  ::closedir(folder);
  for (const std::string& name : stale) ::unlinkat(folderFd, name.c_str(), 0);
}

// A temporary `<base>.XXXXXX` made in the folder itself: never a link followed, never a file
// that was there. -1 when none could be made.
int CreateTemporary(int folderFd, const std::string& base, std::string& name) {
  static constexpr std::string_view kLetters =
      "abcdefghijklmnopqrstuvwxyzABCDEFGHIJKLMNOPQRSTUVWXYZ0123456789";
  for (int attempt = 0; attempt < 100; ++attempt) {
    unsigned char random[kTemporarySuffixLength];
    if (::getrandom(random, sizeof random, 0) != static_cast<ssize_t>(sizeof random)) return -1;
    name = base + ".";
    for (const unsigned char r : random) name += kLetters[r % kLetters.size()];
    const int fd =
        ::openat(folderFd, name.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC,
                 S_IRUSR | S_IWUSR);
    if (fd >= 0 || errno != EEXIST) return fd;
  }
  return -1;
}

// Runs a getpwuid_r/getgrgid_r style lookup with a buffer that grows until the entry fits.
template <typename Entry, typename Lookup>
bool LookUp(Lookup lookup, Entry& entry, std::vector<char>& buffer) {
  buffer.resize(4096);
  Entry* found = nullptr;
  int error = 0;
  while ((error = lookup(&entry, buffer.data(), buffer.size(), &found)) == ERANGE &&
         buffer.size() < (1u << 20)) {
    buffer.resize(buffer.size() * 2);
  }
  return error == 0 && found != nullptr;
}

// A user private group (Debian and others give such users umask 002, so their folders are group
// writable): the owner's primary group, named as the owner, with no other members listed.
bool IsPrivateGroupOf(gid_t group, uid_t owner) {
  passwd user{};
  std::vector<char> userBuffer;
  ::group entry{};
  std::vector<char> groupBuffer;
  if (!LookUp([owner](passwd* e, char* b, size_t n,
                      passwd** f) { return ::getpwuid_r(owner, e, b, n, f); },
              user, userBuffer) ||
      !LookUp([group](::group* e, char* b, size_t n,
                      ::group** f) { return ::getgrgid_r(group, e, b, n, f); },
              entry, groupBuffer))
    return false;
  const bool othersListed =
      entry.gr_mem != nullptr && entry.gr_mem[0] != nullptr &&
      (entry.gr_mem[1] != nullptr || std::string_view(entry.gr_mem[0]) != user.pw_name);
  return user.pw_gid == group && std::string_view(entry.gr_name) == user.pw_name && !othersListed;
}

std::optional<std::string> StatProblem(const struct stat& info) {
  return FolderTrustProblem(
      info.st_uid, info.st_mode, ::geteuid(),
      (info.st_mode & S_IWGRP) != 0 && IsPrivateGroupOf(info.st_gid, info.st_uid));
}

std::optional<std::string> OpenFolderProblem(int folderFd) {
  struct stat info {};
  if (::fstat(folderFd, &info) != 0) return "cannot be examined";
  return StatProblem(info);
}

// What sets a file for another program apart from one of ours.
struct ReplaceRules {
  bool readableByAll = false;
  bool trustedFolderOnly = true;
};

// Replaces `target`, a name in a folder (links in the folder's own path are followed), with a new
// file: a link of that name is replaced, not written through.
bool ReplaceFile(const std::filesystem::path& target, std::string_view contents,
                 const ReplaceRules& rules) {
  FolderSaveLock folderLock(target.parent_path());
  const int folderFd = folderLock.Fd();
  if (folderFd < 0 || (rules.trustedFolderOnly && OpenFolderProblem(folderFd))) return false;
  const std::string base = target.filename().string();
  // A file its owner made read-only stays unwritten, as a direct write would.
  struct stat info {};
  if (::fstatat(folderFd, base.c_str(), &info, AT_SYMLINK_NOFOLLOW) == 0 && S_ISREG(info.st_mode) &&
      ::faccessat(folderFd, base.c_str(), W_OK, AT_EACCESS) != 0)
    return false;

  if (folderLock.TryExclusive()) RemoveLeftTemporaries(folderFd, base);
  // Converting the lock may let another save sweep in between, which finds no temporary of ours
  // yet; from here to the rename ours is safe.
  folderLock.Shared();

  std::string temporary;
  FileDescriptor fd(CreateTemporary(folderFd, base, temporary));
  if (fd.Get() < 0) return false;
  const mode_t mode = S_IRUSR | S_IWUSR | (rules.readableByAll ? S_IRGRP | S_IROTH : 0);
  const bool written =
      ::fchmod(fd.Get(), mode) == 0 && WriteAll(fd.Get(), contents) && ::fsync(fd.Get()) == 0;
  if (!fd.Close() || !written ||
      ::renameat(folderFd, temporary.c_str(), folderFd, base.c_str()) != 0) {
    ::unlinkat(folderFd, temporary.c_str(), 0);
    return false;
  }
  ::fsync(folderFd);  // the rename itself outlasts a power cut
  return true;
}

}  // namespace

std::optional<std::string> UntrustedFolder(const std::filesystem::path& folder) {
  struct stat info {};
  if (::stat(folder.c_str(), &info) != 0) return std::nullopt;
  return StatProblem(info);
}

bool WriteFileAtomically(const std::filesystem::path& path, std::string_view contents) {
  return ReplaceFile(path, contents, {});
}

bool WriteCollectedFileAtomically(const std::filesystem::path& path, std::string_view contents) {
  return ReplaceFile(path, contents, {.readableByAll = true, .trustedFolderOnly = false});
}

bool WriteFileThroughOwnLink(const std::filesystem::path& path, std::string_view contents) {
  // A settings file kept elsewhere (a folder of dotfiles under version control) is linked from its
  // usual place; the link's owner writes through it. Anyone else, root run with that user's
  // environment above all, replaces the link instead of writing where it points.
  struct stat link {};
  if (::lstat(path.c_str(), &link) != 0 || !S_ISLNK(link.st_mode) || link.st_uid != ::geteuid())
    return ReplaceFile(path, contents, {});
  std::error_code error;
  const std::filesystem::path target = std::filesystem::canonical(path, error);
  return !error && ReplaceFile(target, contents, {});
}

std::filesystem::path UserHomeFolder() {
  if (const char* home = std::getenv("HOME"); home && *home) return home;
  // Started without HOME (some service managers and `env -i`): the account's own entry.
  long size = ::sysconf(_SC_GETPW_R_SIZE_MAX);
  std::vector<char> buffer(size > 0 ? static_cast<std::size_t>(size) : 4096);
  passwd entry{};
  passwd* found = nullptr;
  int error = 0;
  while ((error = ::getpwuid_r(::getuid(), &entry, buffer.data(), buffer.size(), &found)) ==
             ERANGE &&
         buffer.size() < (1u << 20)) {
    buffer.resize(buffer.size() * 2);
  }
  if (error != 0 || found == nullptr || found->pw_dir == nullptr || *found->pw_dir == '\0')
    return {};
  return found->pw_dir;
}

}  // namespace dv
