#include "app/OsVersion.h"

#include <cctype>

namespace dv {

namespace {

struct WindowsName {
  unsigned major;
  int minor;        // -1: any
  int productType;  // -1: any; kVerNtWorkstation or "other" (-2)
  const char* name;
};

constexpr int kAny = -1;
constexpr int kServer = -2;  // any product type but workstation

constexpr WindowsName kWindowsNames[] = {
    {3, kAny, kAny, " Windows NT 3.51"},
    {4, kAny, kAny, " Windows NT 4.0"},
    {5, 0, kAny, " Windows 2000"},
    {5, 1, kAny, " Windows XP"},
    {5, 2, kAny, " Windows 2003"},
    {6, 0, kVerNtWorkstation, " Windows Vista"},
    {6, 0, kServer, " Windows Server 2008"},
    {6, 1, kVerNtWorkstation, " Windows 7"},
    {6, 1, kServer, " Windows Server 2008 R2"},
    {6, 2, kVerNtWorkstation, " Windows 8"},
    {6, 2, kServer, " Windows Server 8"},
};

bool ProductTypeMatches(int wanted, unsigned productType) {
  if (wanted == kAny) return true;
  if (wanted == kServer) return productType != kVerNtWorkstation;
  return productType == static_cast<unsigned>(wanted);
}

// One os-release value: double or single quotes removed, backslash escapes resolved.
std::string UnquoteShellValue(std::string_view value) {
  if (value.size() >= 2 && (value.front() == '"' || value.front() == '\'') &&
      value.back() == value.front()) {
    const char quote = value.front();
    value = value.substr(1, value.size() - 2);
    if (quote == '\'') return std::string(value);
  }
  std::string result;
  for (std::size_t i = 0; i < value.size(); ++i) {
    if (value[i] == '\\' && i + 1 < value.size()) ++i;
    result += value[i];
  }
  return result;
}

}  // namespace

std::string WindowsVersionName(unsigned major, unsigned minor, unsigned productType) {
  for (const auto& entry : kWindowsNames) {
    if (entry.major == major &&
        (entry.minor == kAny || static_cast<unsigned>(entry.minor) == minor) &&
        ProductTypeMatches(entry.productType, productType))
      return entry.name;
  }
  return {};
}

std::string WindowsOsLabel(unsigned major, unsigned minor, unsigned build, unsigned productType) {
  return std::to_string(major) + "." + std::to_string(minor) + "." + std::to_string(build) +
         WindowsVersionName(major, minor, productType);
}

std::string PrettyNameFromOsRelease(std::string_view text) {
  constexpr std::string_view kKey = "PRETTY_NAME=";
  std::size_t start = 0;
  while (start <= text.size()) {
    auto end = text.find('\n', start);
    if (end == std::string_view::npos) end = text.size();
    auto line = text.substr(start, end - start);
    while (!line.empty() && (line.back() == '\r' || line.back() == ' ')) line.remove_suffix(1);
    while (!line.empty() && line.front() == ' ') line.remove_prefix(1);
    if (line.starts_with(kKey)) return UnquoteShellValue(line.substr(kKey.size()));
    start = end + 1;
  }
  return {};
}

std::string KernelReleaseNumbers(std::string_view release) {
  std::size_t length = 0;
  while (length < release.size() &&
         (std::isdigit(static_cast<unsigned char>(release[length])) || release[length] == '.'))
    ++length;
  auto numbers = release.substr(0, length);
  while (!numbers.empty() && numbers.back() == '.') numbers.remove_suffix(1);
  return std::string(numbers);
}

std::string LinuxOsLabel(std::string_view kernelRelease, std::string_view osReleaseText) {
  const auto numbers = KernelReleaseNumbers(kernelRelease);
  const auto name = PrettyNameFromOsRelease(osReleaseText);
  if (numbers.empty()) return name;
  if (name.empty()) return numbers;
  return numbers + " " + name;
}

}  // namespace dv
