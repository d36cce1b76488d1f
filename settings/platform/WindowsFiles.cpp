// Atomic file replacement on Windows: a temporary file beside the target, flushed, moved over it.
// Files under %APPDATA% inherit the profile's owner-only access list.
#include <windows.h>

#include <cstdlib>

#include "core/platform/WinHandle.h"
#include "settings/IniFile.h"

namespace dv {

bool WriteFileAtomically(const std::filesystem::path& path, std::string_view contents) {
  std::filesystem::path temporary = path;
  temporary += L".tmp";
  WinHandle file(CreateFileW(temporary.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS,
                             FILE_ATTRIBUTE_NORMAL, nullptr));
  if (!file.Valid()) return false;
  DWORD written = 0;
  const bool ok = WriteFile(file.Get(), contents.data(), static_cast<DWORD>(contents.size()),
                            &written, nullptr) &&
                  written == contents.size() && FlushFileBuffers(file.Get());
  if (!file.Close() || !ok ||
      !MoveFileExW(temporary.c_str(), path.c_str(),
                   MOVEFILE_REPLACE_EXISTING | MOVEFILE_WRITE_THROUGH)) {
    DeleteFileW(temporary.c_str());
    return false;
  }
  return true;
}

// Files have no mode bits here; the folder's access list decides who reads.
bool WriteCollectedFileAtomically(const std::filesystem::path& path, std::string_view contents) {
  return WriteFileAtomically(path, contents);
}

bool WriteFileThroughOwnLink(const std::filesystem::path& path, std::string_view contents) {
  return WriteFileAtomically(path, contents);
}

std::optional<std::string> UntrustedFolder(const std::filesystem::path&) { return std::nullopt; }

std::filesystem::path UserHomeFolder() {
  for (const char* name : {"HOME", "USERPROFILE"}) {
    if (const char* home = std::getenv(name); home && *home) return home;
  }
  return {};
}

}  // namespace dv
