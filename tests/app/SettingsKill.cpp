// The settings file under the worst a session can do to it: a process killed at random moments
// while it saves, files that are corrupt, binary or far too big, and links or folders planted by
// another user.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <signal.h>
#include <sys/file.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <random>
#include <sstream>
#include <string>
#include <tuple>
#include <utility>
#include <vector>

#include "settings/IniFile.h"

namespace dv {
namespace {

namespace fs = std::filesystem;
using namespace std::string_literals;

class TempFolder {
 public:
  // A kill cannot undo what reached the page cache, so the disk's own speed is beside the point:
  // on a RAM file system where there is one, a thousand kills take seconds, not minutes.
  TempFolder() {
    std::error_code error;
    const fs::path base = fs::is_directory("/dev/shm", error) && ::access("/dev/shm", W_OK) == 0
                              ? fs::path("/dev/shm")
                              : fs::temp_directory_path();
    std::string pattern = (base / "dv-settings-XXXXXX").string();
    if (::mkdtemp(pattern.data()) == nullptr) throw std::runtime_error("mkdtemp failed");
    path_ = pattern;
  }
  ~TempFolder() {
    std::error_code error;
    fs::remove_all(path_, error);
  }
  TempFolder(const TempFolder&) = delete;
  TempFolder& operator=(const TempFolder&) = delete;
  const fs::path& Path() const { return path_; }

 private:
  fs::path path_;
};

std::string ReadAll(const fs::path& path) {
  std::ifstream in(path, std::ios::binary);
  std::stringstream text;
  text << in.rdbuf();
  return text.str();
}

int KillCount() {
  if (const char* text = std::getenv("DISKVIGIL_SETTINGS_KILLS")) {
    const int count = std::atoi(text);
    if (count > 0) return count;
  }
  return 1000;
}

// A settings file of the size the program writes: about sixty keys.
std::string SettingsText(char fill) {
  std::string text = "[Settings]\n";
  for (int i = 0; i < 60; ++i) {
    text += "Key " + std::to_string(i) + "=" + std::string(20, fill) + "\n";
  }
  return text;
}

// Runs `save` in a child over and over and kills it after a random delay of up to `window`;
// `check` judges the file after each kill. Returns how many kills found the file changed since
// the previous one, so the caller can tell the kills landed while saves were going on.
template <typename Save, typename Check>
int KillWhileSaving(int kills, std::chrono::microseconds window, std::string before, Save save,
                    Check check) {
  std::mt19937 random(20261207);
  std::uniform_int_distribution<long> delay(0, window.count());
  int changed = 0;
  for (int i = 0; i < kills; ++i) {
    const pid_t child = ::fork();
    if (child == 0) {
      for (;;) save();
    }
    if (child < 0) {
      ADD_FAILURE() << "fork failed";
      return changed;
    }
    ::usleep(static_cast<useconds_t>(delay(random)));
    ::kill(child, SIGKILL);
    int status = 0;
    ::waitpid(child, &status, 0);
    EXPECT_TRUE(WIFSIGNALED(status));
    const std::string after = check(i);
    if (after != before) ++changed;
    before = after;
    if (::testing::Test::HasFailure()) return changed;
  }
  return changed;
}

// How long to wait before a kill at most: about three saves, so the kills spread over a few of
// them, with room for the child to start, and never so long that a loaded machine makes a thousand
// kills take minutes.
template <typename Save>
std::chrono::microseconds KillWindow(Save save) {
  const auto start = std::chrono::steady_clock::now();
  for (int i = 0; i < 10; ++i) save();
  const auto oneSave = std::chrono::duration_cast<std::chrono::microseconds>(
                           std::chrono::steady_clock::now() - start) /
                       10;
  return std::min(3 * oneSave + std::chrono::microseconds(500), std::chrono::microseconds(4000));
}

// The temporaries a save may leave beside the file: `<name>.` and six letters or digits.
std::vector<std::string> Temporaries(const fs::path& file) {
  std::vector<std::string> found;
  const std::string prefix = file.filename().string() + ".";
  for (const auto& entry : fs::directory_iterator(file.parent_path())) {
    const std::string name = entry.path().filename().string();
    if (name.size() == prefix.size() + 6 && name.compare(0, prefix.size(), prefix) == 0) {
      found.push_back(name);
    }
  }
  return found;
}

TEST(SettingsKill, WholeFileIsAlwaysTheOldOrTheNewOne) {
  TempFolder folder;
  const fs::path path = folder.Path() / "Diskvigil.ini";
  const std::string oldText = SettingsText('o');
  const std::string newText = SettingsText('n');
  ASSERT_TRUE(WriteFileAtomically(path, oldText));
  bool flip = false;
  auto save = [&] {
    flip = !flip;
    WriteFileAtomically(path, flip ? newText : oldText);
  };
  const auto window = KillWindow(save);
  // A temporary left behind is a kill that landed inside a save, before its rename. The next save
  // clears it away, so they never pile up: one at most is there after any kill.
  std::vector<std::string> leftovers;
  const int changed = KillWhileSaving(KillCount(), window, ReadAll(path), save, [&](int kill) {
    const std::string text = ReadAll(path);
    EXPECT_TRUE(text == oldText || text == newText)
        << "kill " << kill << " left " << text.size() << " bytes";
    const auto temporaries = Temporaries(path);
    EXPECT_LE(temporaries.size(), 1u) << "kill " << kill << ": temporaries pile up";
    for (const auto& name : temporaries) {
      if (std::find(leftovers.begin(), leftovers.end(), name) == leftovers.end()) {
        leftovers.push_back(name);
      }
    }
    return text;
  });
  EXPECT_GT(changed, 0) << "no kill landed after a save";
  EXPECT_GT(leftovers.size(), 0u) << "no kill landed inside a save";
  ASSERT_TRUE(WriteFileAtomically(path, newText));
  EXPECT_TRUE(Temporaries(path).empty());
  EXPECT_EQ(std::distance(fs::directory_iterator(folder.Path()), fs::directory_iterator()), 1);
  std::cout << "kills: " << KillCount() << ", file changed between kills: " << changed
            << ", kills inside a save (temporaries left, each cleared by the next save): "
            << leftovers.size() << ", window " << window.count() << " us\n";
}

// Only the temporaries of the file being saved go, and only when no save is running in their
// folder: a save in another process holds a shared lock on the folder until its rename.
TEST(SettingsKill, SaveClearsOnlyItsOwnLeftTemporaries) {
  TempFolder folder;
  const fs::path path = folder.Path() / "Diskvigil.ini";
  auto make = [&](const std::string& name) {
    std::ofstream(folder.Path() / name) << "left";
    return folder.Path() / name;
  };
  const fs::path stale = make("Diskvigil.ini.a1B2c3");
  const std::vector<fs::path> others = {
      make("Diskvigil.ini.a1B2c"),  make("Diskvigil.ini.a1B2c3d"), make("Diskvigil.ini.a1-2c3"),
      make("Diskvigil.ini.bak"),    make("Other.ini.a1B2c3"),      make("diskvigil.ini.a1B2c3"),
      make("Diskvigil.inia.1B2c3"),
  };
  const fs::path linked = make("linked");
  fs::create_symlink(linked, folder.Path() / "Diskvigil.ini.Link01");
  fs::create_directory(folder.Path() / "Diskvigil.ini.Fold01");

  {
    // A save under way elsewhere: its temporary must survive this save.
    const int lockFd = ::open(folder.Path().c_str(), O_RDONLY | O_DIRECTORY);
    ASSERT_GE(lockFd, 0);
    ASSERT_EQ(::flock(lockFd, LOCK_SH), 0);
    ASSERT_TRUE(WriteFileAtomically(path, "[Settings]\n"));
    EXPECT_TRUE(fs::exists(stale));
    ::close(lockFd);
  }
  ASSERT_TRUE(WriteFileAtomically(path, "[Settings]\nA=1\n"));
  EXPECT_FALSE(fs::exists(stale));
  for (const auto& other : others) EXPECT_TRUE(fs::exists(other)) << other;
  EXPECT_TRUE(fs::is_symlink(folder.Path() / "Diskvigil.ini.Link01"));
  EXPECT_TRUE(fs::exists(linked));
  EXPECT_TRUE(fs::is_directory(folder.Path() / "Diskvigil.ini.Fold01"));
  EXPECT_EQ(ReadAll(path), "[Settings]\nA=1\n");
}

TEST(FolderTrust, OnlyTheUserOrRootAndNobodyElseMayChangeIt) {
  const unsigned me = 1000;
  const std::vector<std::tuple<unsigned, unsigned, bool, const char*>> cases{
      {me, 040700, false, nullptr},
      {0, 040755, false, nullptr},
      {0, 041777, false, nullptr},  // /tmp: the sticky bit keeps others' hands off our names
      {me, 040775, true, nullptr},  // umask 002 with a group of the user's own
      {4321, 040700, false, "belongs to another user"},
      {4321, 040775, true, "belongs to another user"},
      {me, 040770, false, "can be changed by other users"},
      {me, 040757, true, "can be changed by other users"},
  };
  for (const auto& [owner, mode, privateGroup, problem] : cases) {
    const auto found = FolderTrustProblem(owner, mode, me, privateGroup);
    EXPECT_EQ(found.value_or("none"), problem ? problem : "none")
        << owner << " " << std::oct << mode;
  }
}

// A link at the file's place is replaced, never written through, unless it is the writer's own
// and the writer follows such links (the settings file).
TEST(FolderTrust, LinksAreReplacedUnlessTheyAreTheWritersOwn) {
  TempFolder folder;
  const fs::path target = folder.Path() / "target";
  const fs::path link = folder.Path() / "Diskvigil.ini";
  const bool root = ::geteuid() == 0;
  struct Case {
    bool (*write)(const fs::path&, std::string_view);
    bool othersLink;
    bool throughLink;
  };
  const std::vector<Case> cases{{WriteFileAtomically, false, false},
                                {WriteFileThroughOwnLink, false, true},
                                {WriteFileThroughOwnLink, true, false}};
  for (const Case& c : cases) {
    if (c.othersLink && !root) continue;  // a link of another user needs root to make
    std::ofstream(target) << "before";
    fs::remove(link);
    fs::create_symlink(target, link);
    if (c.othersLink) {
      ASSERT_EQ(::lchown(link.c_str(), 4321, 4321), 0);
    }
    ASSERT_TRUE(c.write(link, "after"));
    EXPECT_EQ(ReadAll(target), c.throughLink ? "after" : "before");
    EXPECT_EQ(fs::is_symlink(link), c.throughLink);
    EXPECT_EQ(ReadAll(link), "after");
  }
  // A folder others may change is not written in.
  ::chmod(folder.Path().c_str(), 0777);
  EXPECT_FALSE(WriteFileAtomically(link, "refused"));
  EXPECT_EQ(UntrustedFolder(folder.Path()), "can be changed by other users");
  ::chmod(folder.Path().c_str(), 0700);
}

// Something else holding the folder locked for good neither hangs a save nor stops it.
TEST(SettingsKill, SaveGoesOnWhenTheFolderStaysLocked) {
  TempFolder folder;
  const fs::path path = folder.Path() / "Diskvigil.ini";
  const int lockFd = ::open(folder.Path().c_str(), O_RDONLY | O_DIRECTORY);
  ASSERT_GE(lockFd, 0);
  ASSERT_EQ(::flock(lockFd, LOCK_EX), 0);
  const auto start = std::chrono::steady_clock::now();
  EXPECT_TRUE(WriteFileAtomically(path, "[Settings]\nA=1\n"));
  EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::seconds(2));
  EXPECT_EQ(ReadAll(path), "[Settings]\nA=1\n");
  ::close(lockFd);
}

// The program's own save: one key after the other, each through IniFile. After any kill the file
// holds a whole number of finished writes: the first keys have this round's value, the rest the
// round before's.
TEST(SettingsKill, KeyByKeySaveAlwaysLeavesFinishedWrites) {
  TempFolder folder;
  const fs::path path = folder.Path() / "Diskvigil.ini";
  constexpr int kKeys = 8;
  {
    IniFile ini(path);
    for (int k = 0; k < kKeys; ++k) ASSERT_TRUE(ini.WriteInteger("Key " + std::to_string(k), 0));
  }
  // Each round writes its number into every key, so the numbers never go back.
  int round = 0;
  pid_t roundOwner = 0;
  auto save = [&] {
    IniFile ini(path);
    if (roundOwner != ::getpid()) {  // a new child first finishes the round it found begun
      roundOwner = ::getpid();
      round = ini.ReadInteger("Key 0", 0) - 1;
    }
    ++round;
    for (int k = 0; k < kKeys; ++k) ini.WriteInteger("Key " + std::to_string(k), round);
  };
  const auto window = KillWindow(save);
  int previousNewest = round;
  const int changed = KillWhileSaving(KillCount(), window, ReadAll(path), save, [&](int kill) {
    const std::string text = ReadAll(path);
    const IniFile ini(path);
    std::vector<int> values;
    for (int k = 0; k < kKeys; ++k) {
      values.push_back(ini.ReadInteger("Key " + std::to_string(k), -1));
    }
    // The first keys may be one round ahead of the others, never anything else.
    const int older = values.back();
    const auto firstOlder = std::find(values.begin(), values.end(), older);
    EXPECT_TRUE(std::all_of(values.begin(), firstOlder, [&](int v) { return v == older + 1; }) &&
                std::all_of(firstOlder, values.end(), [&](int v) { return v == older; }))
        << "kill " << kill << " left:\n"
        << text;
    EXPECT_GE(values.front(), previousNewest) << "kill " << kill;
    EXPECT_LE(Temporaries(path).size(), 1u) << "kill " << kill << ": temporaries pile up";
    previousNewest = values.front();
    return text;
  });
  EXPECT_GT(changed, 0);
  // Every kill leaves the file fit to write again.
  EXPECT_TRUE(IniFile(path).WriteInteger("Key 0", 7));
  EXPECT_EQ(IniFile(path).ReadInteger("Key 0", -1), 7);
}

long PeakResidentKiB() {
  rusage usage{};
  ::getrusage(RUSAGE_SELF, &usage);
  return usage.ru_maxrss;
}

// Writes `size` bytes made by `chunk` without holding them in memory.
void WriteLarge(const fs::path& path, const std::string& head, std::uintmax_t size,
                const std::string& chunk) {
  std::ofstream out(path, std::ios::binary);
  out << head;
  std::uintmax_t written = head.size();
  while (written < size) {
    const auto part = std::min<std::uintmax_t>(chunk.size(), size - written);
    out.write(chunk.data(), static_cast<std::streamsize>(part));
    written += part;
  }
}

// Start-up reads some sixty keys, each a read of the whole file.
void ReadLikeStartUp(const IniFile& ini) {
  for (int i = 0; i < 60; ++i) {
    EXPECT_EQ(ini.ReadInteger("Refresh Interval", 300), 300);
    EXPECT_EQ(ini.ReadString("SMTP Host", "none"), "none");
  }
}

TEST(OversizeSettingsFile, HundredMegabytesReadAsDefaultsQuicklyAndInLittleMemory) {
  TempFolder folder;
  const fs::path path = folder.Path() / "Diskvigil.ini";
  std::string junk(1 << 16, '\0');
  std::mt19937 random(7);
  for (char& c : junk) c = static_cast<char>(random());
  for (const auto& [head, chunk] :
       {std::pair<std::string, std::string>{"", junk},
        {"[Settings]\nRefresh Interval=5\nSMTP Host=x\n", std::string("Pad=1\n", 6)}}) {
    WriteLarge(path, head, 100u << 20, chunk);
    const long peakBefore = PeakResidentKiB();
    const auto start = std::chrono::steady_clock::now();
    ReadLikeStartUp(IniFile(path));
    const auto elapsed = std::chrono::steady_clock::now() - start;
    EXPECT_LT(elapsed, std::chrono::seconds(5));
    EXPECT_LT(PeakResidentKiB() - peakBefore, 16 * 1024) << "KiB more at peak";
    std::cout << "120 reads of a 100 MB file: "
              << std::chrono::duration_cast<std::chrono::milliseconds>(elapsed).count() << " ms, "
              << PeakResidentKiB() - peakBefore << " KiB more at peak\n";
  }
}

TEST(OversizeSettingsFile, CapIsOneMegabyteAndTheNextSaveStartsAfresh) {
  TempFolder folder;
  const fs::path path = folder.Path() / "Diskvigil.ini";
  const std::string head = "[Settings]\nRefresh Interval=77\n";
  const std::string comment = "; padding\n";
  WriteLarge(path, head, kMaxSettingsFileSize, comment);
  ASSERT_EQ(fs::file_size(path), kMaxSettingsFileSize);
  EXPECT_EQ(IniFile(path).ReadInteger("Refresh Interval", 300), 77) << "at the cap: read";

  WriteLarge(path, head, kMaxSettingsFileSize + 1, comment);
  EXPECT_EQ(IniFile(path).ReadInteger("Refresh Interval", 300), 300) << "over it: defaults";
  IniFile ini(path);
  ASSERT_TRUE(ini.WriteInteger("SMTP Port", 25));
  EXPECT_EQ(ReadAll(path), "[Settings]\nSMTP Port=25\n");
}

TEST(CorruptSettingsFile, BinaryAroundValidLinesKeepsTheValidKeys) {
  TempFolder folder;
  const fs::path path = folder.Path() / "Diskvigil.ini";
  std::string text = "\xFF\xFE\0\x01garbage\n[Settings]\r\n"s;
  text += "Refresh Interval=0x3C\r\n";
  text += "\0\0\0=\xC3\x28\n"s;
  text += "SMTP Host= mail.example.org \rtrailing\n";
  text += "[Settings\nSMTP Port=2x5\n";
  text += std::string(3000, '\x80') + "\n";
  std::ofstream(path, std::ios::binary) << text;
  const IniFile ini(path);
  EXPECT_EQ(ini.ReadInteger("Refresh Interval", 300), 60);
  EXPECT_EQ(ini.ReadString("SMTP Host", ""), "mail.example.org \rtrailing");
  EXPECT_EQ(ini.ReadInteger("SMTP Port", 25), 25);
  EXPECT_EQ(ini.ReadBool("S.M.A.R.T. Monitoring", true), true);
}

// Runs `work` in a child; true when it ended with status 0 within `limit`.
template <typename Work>
bool EndsWithin(std::chrono::milliseconds limit, Work work) {
  const pid_t child = ::fork();
  if (child == 0) ::_exit(work() ? 0 : 1);
  const auto deadline = std::chrono::steady_clock::now() + limit;
  int status = 0;
  while (::waitpid(child, &status, WNOHANG) == 0) {
    if (std::chrono::steady_clock::now() > deadline) {
      ::kill(child, SIGKILL);
      ::waitpid(child, &status, 0);
      return false;
    }
    ::usleep(1000);
  }
  return WIFEXITED(status) && WEXITSTATUS(status) == 0;
}

TEST(CorruptSettingsFile, PipeOrFolderInItsPlaceReadsAsDefaultsWithoutWaiting) {
  TempFolder folder;
  const fs::path pipe = folder.Path() / "pipe.ini";
  ASSERT_EQ(::mkfifo(pipe.c_str(), 0600), 0);
  // Nobody writes to the pipe: opening it to read would wait for ever.
  EXPECT_TRUE(EndsWithin(std::chrono::seconds(5), [&] {
    const IniFile ini(pipe);
    return ini.ReadInteger("Refresh Interval", 300) == 300 &&
           ini.ReadString("SMTP Host", "none") == "none";
  }));
  const fs::path folderInItsPlace = folder.Path() / "folder.ini";
  fs::create_directory(folderInItsPlace);
  EXPECT_EQ(IniFile(folderInItsPlace).ReadInteger("Refresh Interval", 300), 300);
  EXPECT_FALSE(IniFile(folderInItsPlace).WriteInteger("Refresh Interval", 60));
  EXPECT_TRUE(fs::is_directory(folderInItsPlace));
}

}  // namespace
}  // namespace dv
