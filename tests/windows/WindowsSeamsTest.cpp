// The Windows services behind the program's seams, run under Wine: the named mutex that keeps one
// instance, the Run value for autorun, the settings file under %APPDATA% with its replace-by-move
// save, and the drive handles a probe of the system's own drives opens.
#include <gtest/gtest.h>
#include <windows.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>

#include "app/Autorun.h"
#include "app/SingleInstance.h"
#include "core/DriveSystemFactory.h"
#include "core/Enumerate.h"
#include "settings/IniFile.h"

namespace dv {
namespace {

namespace fs = std::filesystem;

std::string Unique(const char* stem) {
  return std::string(stem) + "-" + std::to_string(GetCurrentProcessId());
}

TEST(NamedMutex, OneHolderAtATimeAndFreedWithItsOwner) {
  const std::string name = Unique("DiskvigilTestMutex");
  {
    const auto first = AcquireInstanceLock(name);
    EXPECT_TRUE(first->Acquired());
    EXPECT_FALSE(AcquireInstanceLock(name)->Acquired());
  }
  EXPECT_TRUE(AcquireInstanceLock(name)->Acquired());
}

// The value as the system itself reads it from the current user's Run key.
std::wstring RunValue() {
  wchar_t data[1024] = {};
  DWORD bytes = sizeof(data);
  if (RegGetValueW(HKEY_CURRENT_USER, L"Software\\Microsoft\\Windows\\CurrentVersion\\Run",
                   L"Diskvigil", RRF_RT_REG_SZ, nullptr, data, &bytes) != ERROR_SUCCESS) {
    return L"(none)";
  }
  return data;
}

TEST(RunKey, TickWritesTheQuotedPathOnceAndClearRemovesIt) {
  const auto store = CreatePlatformAutorunStore();
  const std::string program = "C:\\Program Files\\Diskvigil\\diskvigil.exe";
  ASSERT_TRUE(store->Remove());
  EXPECT_FALSE(store->ReadCommand());
  SaveAutorun(*store, program, true);
  EXPECT_EQ(RunValue(), L"\"C:\\Program Files\\Diskvigil\\diskvigil.exe\"");
  EXPECT_TRUE(AutorunPresent(*store, program));
  // An entry with arguments after the path counts and is left as it is.
  ASSERT_TRUE(store->WriteCommand(QuotedProgramPath(program) + " /min"));
  SaveAutorun(*store, program, true);
  EXPECT_EQ(RunValue(), L"\"C:\\Program Files\\Diskvigil\\diskvigil.exe\" /min");
  SaveAutorun(*store, program, false);
  EXPECT_EQ(RunValue(), L"(none)");
  EXPECT_TRUE(store->Remove());  // nothing to remove is fine
}

std::string ReadBytes(const fs::path& path) {
  std::ifstream in(path, std::ios::binary);
  return std::string(std::istreambuf_iterator<char>(in), {});
}

TEST(SettingsFile, LivesUnderAppDataAndASaveTakesOverALeftTemporary) {
  const char* appData = std::getenv("APPDATA");
  ASSERT_NE(appData, nullptr);
  const fs::path path = SettingsFilePath();
  EXPECT_EQ(path, fs::path(appData) / "Diskvigil.ini");

  // A save that died before its move leaves "<file>.tmp"; the next save writes it afresh and
  // moves it into place, so none stays and nothing of the old one shows.
  fs::path leftover = path;
  leftover += ".tmp";
  std::ofstream(leftover, std::ios::binary) << "half a save from before";
  std::error_code ignored;
  fs::remove(path, ignored);
  IniFile settings(path);
  ASSERT_TRUE(settings.WriteInteger("Refresh Interval", 45));
  EXPECT_FALSE(fs::exists(leftover));
  EXPECT_EQ(ReadBytes(path), "[Settings]\nRefresh Interval=45\n");
  EXPECT_EQ(IniFile(path).ReadInteger("Refresh Interval", 15), 45);
  fs::remove(path, ignored);
}

// The handle value the system gives next. Wine hands out the lowest free slot (and reports no
// handle count), so a handle left open by the code under test moves it.
HANDLE NextFreeHandle() {
  HANDLE probe = CreateEventA(nullptr, FALSE, FALSE, nullptr);
  CloseHandle(probe);
  return probe;
}

TEST(DriveHandles, AProbeOfTheSystemsDrivesClosesEveryHandleItOpens) {
  // The measure sees a drive handle held open (\\.\PhysicalDrive0 opens under Wine) ...
  const HANDLE free = NextFreeHandle();
  HANDLE drive = CreateFileA("\\\\.\\PhysicalDrive0", 0, FILE_SHARE_READ | FILE_SHARE_WRITE,
                             nullptr, OPEN_EXISTING, 0, nullptr);
  ASSERT_NE(drive, INVALID_HANDLE_VALUE);
  EXPECT_NE(NextFreeHandle(), free);
  CloseHandle(drive);
  ASSERT_EQ(NextFreeHandle(), free);
  // ... and finds none left after probes whose pass-through requests all fail.
  DriveSystemChoice choice;
  std::string error;
  const auto system = CreateDriveSystem(choice, error);
  ASSERT_NE(system, nullptr) << error;
  for (int probe = 0; probe < 3; ++probe) {
    DriveTable table;
    EXPECT_FALSE(ProbeDrives(*system, table));
    EXPECT_EQ(NextFreeHandle(), free) << "after probe " << probe + 1;
  }
}

}  // namespace
}  // namespace dv
