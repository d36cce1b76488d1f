// The operating-system label of the About group, and the facts start-up needs about the system.
#pragma once

#include <string>
#include <string_view>

namespace dv {

inline constexpr unsigned kVerNtWorkstation = 1;  // productType of a workstation edition

// The name appended to the Windows version numbers, beginning with a space; empty when unknown.
std::string WindowsVersionName(unsigned major, unsigned minor, unsigned productType);
// "5.1.2600 Windows XP", "6.3.9600".
std::string WindowsOsLabel(unsigned major, unsigned minor, unsigned build, unsigned productType);

// PRETTY_NAME of an os-release text (quotes and shell escapes removed); empty when absent.
std::string PrettyNameFromOsRelease(std::string_view osReleaseText);
// The leading dotted numbers of a kernel release: "6.1.0-18-amd64" -> "6.1.0".
std::string KernelReleaseNumbers(std::string_view release);
// "6.1.0 Debian GNU/Linux 12 (bookworm)"; either part may be missing.
std::string LinuxOsLabel(std::string_view kernelRelease, std::string_view osReleaseText);

struct OsInfo {
  std::string label;          // empty: unknown, the label keeps "..."
  bool ntBased = true;        // false only on a Windows that is not NT-based
  unsigned majorVersion = 0;  // Windows major version, 0 when unknown or not Windows
};

// The running system, asked through the platform.
OsInfo QueryOsInfo();

}  // namespace dv
