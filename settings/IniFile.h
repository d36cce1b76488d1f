// Our own private-profile (INI) functions: one value per call, no cache, every write straight to
// disk.
#pragma once

#include <cstddef>
#include <cstdint>
#include <filesystem>
#include <optional>
#include <string>
#include <string_view>

namespace dv {

inline constexpr std::string_view kSettingsSection = "Settings";
inline constexpr std::string_view kSettingsFileName = "Diskvigil.ini";
// The longest string value handed back by ReadString.
inline constexpr std::size_t kMaxProfileStringLength = 2047;

// A settings file larger than this is not one the program wrote: it reads as a missing file (every
// key gives its default) and the next write starts it afresh. This keeps a corrupt or foreign
// file from costing time and memory on every one of the many single-value reads.
inline constexpr std::uintmax_t kMaxSettingsFileSize = 1024 * 1024;

// APPDATA + "/Diskvigil.ini" when APPDATA is set, else $XDG_CONFIG_HOME (or ~/.config) +
// "/Diskvigil.ini".
std::filesystem::path SettingsFilePath();

// Where the watched counters' last values are kept: beside the settings file as
// "Diskvigil-counters.json" when APPDATA is set, else $XDG_STATE_HOME (or ~/.local/state) +
// "/diskvigil/counters.json".
std::filesystem::path CounterStateFilePath();

// The user's home folder: $HOME when set, else the account's home from the system's user database
// (Linux) or %USERPROFILE% (Windows). Empty when none is known.
std::filesystem::path UserHomeFolder();

// Integer text as the settings file stores it: optional leading blanks, an optional sign, then
// decimal digits, or hexadecimal digits after "$", "x", "X", "0x" or "0X". Anything else: no value.
std::optional<int32_t> ParseProfileInteger(std::string_view text);

// The value of `key` in `section` of INI text, as IniFile finds it in its file (the first such key
// line of any section so named; blanks around the value removed, not yet cut to length).
std::optional<std::string> FindProfileValue(std::string_view text, std::string_view section,
                                            std::string_view key);

// Replaces the file's contents as one step: a temporary file beside it, flushed, renamed over it.
// The temporary is fsynced, and the folder after the rename. The result is readable and writable
// by its owner only (0600). A link at `path` is replaced by the file, never written through, and a
// folder FolderTrustProblem refuses is not written in. False when anything fails; the old file is
// then untouched. Implemented per platform.
bool WriteFileAtomically(const std::filesystem::path& path, std::string_view contents);
// The same for a file another program collects, such as the metrics file: readable by all (0644),
// and written in the folder that program's set-up chose, whoever owns it.
bool WriteCollectedFileAtomically(const std::filesystem::path& path, std::string_view contents);
// The same, but a link at `path` that belongs to this (effective) user is written through: the
// settings file may live in a folder of dotfiles. The settings file is written so.
bool WriteFileThroughOwnLink(const std::filesystem::path& path, std::string_view contents);

// Why a folder with this owner and mode is not to be written in by this user, or nothing: it
// belongs to someone other than the user and root, or others may change it (world writable, or
// group writable with a group that is not the owner's own private one, all without the sticky
// bit). Root run with a user's environment so keeps out of that user's folders, where the user
// could swap files under it.
std::optional<std::string> FolderTrustProblem(unsigned owner, unsigned mode, unsigned effectiveUser,
                                              bool ownersPrivateGroup);
// The same for a folder on disk, links followed; nothing for one that is not there, and always
// nothing on Windows, where the profile's access list guards the folder.
std::optional<std::string> UntrustedFolder(const std::filesystem::path& folder);

// One section of one INI file. Section and key names are compared without regard to (ASCII) case;
// lines and sections the program does not know are kept as they are.
class IniFile {
 public:
  explicit IniFile(std::filesystem::path path, std::string section = std::string(kSettingsSection));

  const std::filesystem::path& Path() const { return path_; }

  // Missing file, section or key: the default. Values are cut to kMaxProfileStringLength
  // characters.
  std::string ReadString(std::string_view key, std::string_view defaultValue) const;
  // Not an integer (see ParseProfileInteger): the default.
  int32_t ReadInteger(std::string_view key, int32_t defaultValue) const;
  // An integer other than 0 is true; not an integer: the default.
  bool ReadBool(std::string_view key, bool defaultValue) const;

  // False when the file cannot be written, or when the key or value cannot be stored in an INI line
  // (line breaks, NUL, a key with "=" or beginning with "[").
  bool WriteString(std::string_view key, std::string_view value);
  bool WriteInteger(std::string_view key, int32_t value);
  bool WriteBool(std::string_view key, bool value);

 private:
  std::optional<std::string> FindValue(std::string_view key) const;

  std::filesystem::path path_;
  std::string section_;
};

}  // namespace dv
