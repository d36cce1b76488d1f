#include <sys/utsname.h>

#include <fstream>
#include <iterator>

#include "app/OsVersion.h"

namespace dv {

namespace {

std::string ReadSmallFile(const char* path) {
  std::ifstream in(path, std::ios::binary);
  if (!in) return {};
  std::string text;
  // os-release is a few hundred bytes; never read more than a little of whatever is there.
  text.resize(64 * 1024);
  in.read(text.data(), static_cast<std::streamsize>(text.size()));
  text.resize(static_cast<std::size_t>(in.gcount()));
  return text;
}

}  // namespace

OsInfo QueryOsInfo() {
  OsInfo info;
  utsname names{};
  const std::string release = ::uname(&names) == 0 ? names.release : "";
  std::string osRelease = ReadSmallFile("/etc/os-release");
  if (osRelease.empty()) osRelease = ReadSmallFile("/usr/lib/os-release");
  info.label = LinuxOsLabel(release, osRelease);
  return info;
}

}  // namespace dv
