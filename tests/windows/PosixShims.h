// The few POSIX calls the unit tests use that the Windows C runtime spells differently. The cross
// build hands this header to every unit test with -include; it is never part of the program.
#pragma once

#include <process.h>  // getpid

#include <cerrno>
#include <cstdlib>

inline int setenv(const char* name, const char* value, int overwrite) {
  if (!overwrite && std::getenv(name) != nullptr) return 0;
  return _putenv_s(name, value) == 0 ? 0 : -1;
}

// Windows has no empty variables: "NAME=" removes it, which is what the tests mean by unsetting.
inline int unsetenv(const char* name) { return _putenv_s(name, "") == 0 ? 0 : -1; }

// No named pipes in the file system: the tests that need one are left out of the Windows run.
template <typename Name>
inline int mkfifo(const Name*, int) {
  errno = ENOSYS;
  return -1;
}

// Ownership: the tests that change it are POSIX-only and left out of the Windows run; these let
// them compile. Nobody is root, and no owner can be changed.
inline int geteuid() { return -1; }
template <typename Name>
inline int chown(const Name*, int, int) {
  errno = ENOSYS;
  return -1;
}
