#include <windows.h>

#include <string>

#include "core/RunningProgram.h"

namespace dv {

std::filesystem::path RunningProgramFile() {
  // GetModuleFileNameW cuts the name to the buffer without saying so other than by filling it:
  // grow until the name fits (the long-path limit is 32767 characters).
  std::wstring name(MAX_PATH, L'\0');
  while (name.size() <= 32768) {
    const DWORD length = GetModuleFileNameW(nullptr, name.data(), static_cast<DWORD>(name.size()));
    if (length == 0) return {};
    if (length < name.size()) {
      name.resize(length);
      return std::filesystem::path(name);
    }
    name.resize(name.size() * 2);
  }
  return {};
}

}  // namespace dv
