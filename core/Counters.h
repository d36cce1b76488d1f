// The counters that rise before most drive failures, watched from pass to pass and across
// restarts: a raw value that grows, or one of the sector counters found above zero the first time
// a drive is seen, puts the drive in caution long before its own verdict turns.
//
// The last values of each drive (keyed by model and serial, the drive's own bytes) live in a small
// JSON state file that is replaced in one step. A file that cannot be trusted (unreadable JSON,
// another format, another machine, too large) is moved to "<name>.bad" with a note and the watch
// starts afresh; a record that cannot be read costs that drive alone. Neither stops the program.
#pragma once

#include <array>
#include <cstdint>
#include <filesystem>
#include <functional>
#include <map>
#include <optional>
#include <set>
#include <span>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "core/Drive.h"

namespace dv {

// 5 reallocated sectors, 187 reported uncorrectable, 188 command time-out, 197 pending sectors,
// 198 offline uncorrectable, 199 UDMA CRC errors (a cable rather than the disk).
inline constexpr std::array<uint8_t, 6> kWatchedCounterIds{5, 187, 188, 197, 198, 199};

// Whether a value above zero at a drive's first sighting already counts as a rise.
bool CountsAtFirstSight(uint8_t id);

// "Reallocated Sector Count", ...; empty for an ID that is not watched.
std::string_view CounterName(uint8_t id);

struct CounterRise {
  uint8_t id = 0;
  std::string name;
  uint64_t from = 0;
  uint64_t to = 0;

  bool operator==(const CounterRise&) const = default;
};

// "Reallocated Sector Count (5) rose from 0 to 3".
std::string DescribeRise(const CounterRise& rise);

using CounterValues = std::map<uint8_t, uint64_t>;

// The raw values of the watched counters a READ DATA sector holds. Entries a drive lists with
// everything zero are taken as not kept and left out.
CounterValues ReadWatchedCounters(std::span<const uint8_t> smartData);

// What is remembered of one drive.
struct CounterRecord {
  CounterValues values;              // last raw value of each watched counter seen
  std::vector<CounterRise> caution;  // the rises standing, the latest per counter, by ID
};

struct CounterCheck {
  std::vector<CounterRise> caution;   // every rise standing for the drive
  std::vector<CounterRise> newRises;  // the ones this reading found: each is told once
  std::optional<int> twin;  // not watched: this listed drive gives the same model and serial
  bool Caution() const { return !caution.empty(); }
};

// Identical drives, or a bridge that gives every drive behind it one serial, cannot be told apart
// from pass to pass, so their counters are not watched: one would be put in caution for the
// other's counter, and a "rise" told at every pass. The first other listed drive with the same
// model and serial as the one at `position`, or nothing.
std::optional<int> TwinOf(const DriveTable& table, int position);
// "Drives 1 and 3 give the same model and serial: their counters are not watched", one per group
// of such drives.
std::vector<std::string> TwinNotes(const DriveTable& table);

// The rule, on its own: `stored` is null for a drive never seen. `record` becomes what is to be
// remembered after this reading. A value that went down (a drive that reset it) is taken as the
// new base without a rise; a counter the drive no longer reports keeps its last value.
CounterCheck CompareCounters(const CounterRecord* stored, const CounterValues& now,
                             CounterRecord& record);

// Where the state lives and how it is replaced. `writeAtomically` must leave either the old file
// or the new one, never a part, and replace a link rather than write through it; the folder is
// made when missing. `folderProblem` says why a folder is not to be trusted with the state (another
// user's, open to others), nothing when it is; the file's folder and the one holding it are
// checked, and a refused folder leaves the watch in memory only.
struct CounterStateFile {
  using FolderCheck = std::function<std::optional<std::string>(const std::filesystem::path&)>;

  std::filesystem::path path;  // empty: nothing is read or written, the state stays in memory
  std::string machine;         // this machine; a file written on another one is not used
  std::function<bool(const std::filesystem::path&, std::string_view)> writeAtomically;
  FolderCheck folderProblem = nullptr;  // none: every folder is used
};

inline constexpr std::uintmax_t kMaxCounterStateFileSize = 256 * 1024;
inline constexpr size_t kMaxCounterStateDrives = 256;

// An identity for this machine: /etc/machine-id where there is one, else the computer's name from
// the environment, else empty.
std::string ThisMachineIdentity();

class CounterWatch {
 public:
  explicit CounterWatch(CounterStateFile file = {});

  // Reads the state file. Nothing when it was used or is not there yet; otherwise a note saying
  // why it was set aside (the watch then starts from nothing), which records were left out, or why
  // its folder is not used.
  std::optional<std::string> Load();

  // Checks one reading against what is remembered of the drive and remembers it.
  CounterCheck Take(const std::string& model, const std::string& serial,
                    std::span<const uint8_t> smartData);
  // The same check without remembering anything: a one-off look does not use up a warning.
  CounterCheck Peek(const std::string& model, const std::string& serial,
                    std::span<const uint8_t> smartData) const;
  // The rises standing for a drive, empty for one not seen.
  std::vector<CounterRise> Caution(const std::string& model, const std::string& serial) const;

  // The same for the drive at `position` of `table`; nothing is checked, stored or standing for a
  // drive that has a twin listed (CounterCheck::twin names it).
  CounterCheck Take(const DriveTable& table, int position, std::span<const uint8_t> smartData);
  CounterCheck Peek(const DriveTable& table, int position,
                    std::span<const uint8_t> smartData) const;
  std::vector<CounterRise> Caution(const DriveTable& table, int position) const;

  // Writes the state when anything changed since the last write; drives another process wrote in
  // the meantime are kept. The error text when the file cannot be written.
  std::optional<std::string> Save();

  // The file as it would be written.
  std::string Serialize() const;

 private:
  using Key = std::pair<std::string, std::string>;  // model, serial
  using KeyView = std::pair<std::string_view, std::string_view>;
  // Keys ordered as their texts, so a pass looks a drive up without copying its names.
  struct KeyOrder {
    using is_transparent = void;
    template <typename A, typename B>
    bool operator()(const A& a, const B& b) const {
      return KeyView(a.first, a.second) < KeyView(b.first, b.second);
    }
  };
  static Key MakeKey(const std::string& model, const std::string& serial);
  static KeyView ViewKey(const std::string& model, const std::string& serial);

  std::optional<std::string> RefusedFolder() const;
  std::optional<std::string> SetAside(const std::string& why);

  CounterStateFile file_;
  bool memoryOnly_ = false;  // the file is not to be written: a refused folder, a file not moved
  std::map<Key, CounterRecord, KeyOrder> records_;
  std::set<Key> changed_;  // written by this process since the last save
};

// The state text parsed; a note instead when it is not to be used. A drive record that cannot be
// read (a wrong type, an odd key, a drive listed twice) is left out and counted.
struct ParsedCounterState {
  std::map<std::pair<std::string, std::string>, CounterRecord> records;
  std::optional<std::string> note;
  size_t skipped = 0;
};
ParsedCounterState ParseCounterState(std::string_view text, std::string_view machine);

}  // namespace dv
