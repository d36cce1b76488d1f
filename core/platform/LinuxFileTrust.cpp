#include <sys/auxv.h>
#include <sys/stat.h>
#include <unistd.h>

#include "core/FileTrust.h"

namespace dv {

std::string UntrustedFileReason(const std::filesystem::path& path) {
  const bool secure = getauxval(AT_SECURE) != 0;
  for (const std::filesystem::path& item : {path, path.parent_path()}) {
    struct stat info {};
    if (::stat(item.c_str(), &info) != 0) return item.string() + " cannot be read";
    if ((info.st_mode & (S_IWGRP | S_IWOTH)) != 0) {
      return item.string() + " is writable by other users";
    }
    if (info.st_uid != 0 && (secure || info.st_uid != ::getuid())) {
      return item.string() + " belongs to another user";
    }
  }
  return {};
}

}  // namespace dv
