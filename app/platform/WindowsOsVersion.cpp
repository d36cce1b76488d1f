// The Windows version through GetVersionExA, looked up at run time: a system without it keeps the
// label's "..." and is taken to be NT-based.
#include <windows.h>

#include "app/OsVersion.h"

namespace dv {

OsInfo QueryOsInfo() {
  OsInfo info;
  HMODULE kernel = LoadLibraryA("kernel32.dll");
  if (!kernel) return info;
  using GetVersionExFunction = BOOL(WINAPI*)(OSVERSIONINFOEXA*);
  const auto getVersion =
      // Through void*: FARPROC and the real signature are unrelated function types.
      reinterpret_cast<GetVersionExFunction>(
          reinterpret_cast<void*>(GetProcAddress(kernel, "GetVersionExA")));
  OSVERSIONINFOEXA version{};
  version.dwOSVersionInfoSize = sizeof(version);  // 156
  if (getVersion && getVersion(&version)) {
    info.label = WindowsOsLabel(version.dwMajorVersion, version.dwMinorVersion,
                                version.dwBuildNumber, version.wProductType);
    info.ntBased = version.dwPlatformId == VER_PLATFORM_WIN32_NT;
    info.majorVersion = version.dwMajorVersion;
  }
  FreeLibrary(kernel);
  return info;
}

}  // namespace dv
