// The per-user autorun entry: the quoted full program path run at log-on. The store is the seam
// (the Run value "Diskvigil" on Windows, an XDG autostart entry on Linux, memory in tests); the
// rules are the same on every platform.
#pragma once

#include <filesystem>
#include <memory>
#include <optional>
#include <string>
#include <string_view>

namespace dv {

inline constexpr std::string_view kAutorunEntryName = "Diskvigil";

class AutorunStore {
 public:
  virtual ~AutorunStore() = default;
  // The entry's command; nothing when there is no entry or it cannot be read.
  virtual std::optional<std::string> ReadCommand() const = 0;
  // Creates or replaces the one entry. False when the place cannot be written.
  virtual bool WriteCommand(std::string_view command) = 0;
  // Removes the entry; true when there is none afterwards.
  virtual bool Remove() = 0;
};

// "\"" + programPath + "\"": the command the entry holds.
std::string QuotedProgramPath(std::string_view programPath);

// The entry counts as present when its command contains the quoted program path (case-sensitive).
bool AutorunPresent(const AutorunStore& store, std::string_view programPath);

// Ticked: write the quoted path unless the entry already holds it. Clear: remove the entry. A store
// that cannot be written is skipped silently.
void SaveAutorun(AutorunStore& store, std::string_view programPath, bool ticked);

// The platform's store: HKCU Run value "Diskvigil" on Windows; on Linux the entry
// Diskvigil.desktop in DefaultAutostartFolder().
std::unique_ptr<AutorunStore> CreatePlatformAutorunStore();

// $XDG_CONFIG_HOME/autostart, or ~/.config/autostart.
std::filesystem::path DefaultAutostartFolder();

// An XDG autostart entry "Diskvigil.desktop" in the given folder (created when a command is
// written).
class DesktopEntryAutorunStore : public AutorunStore {
 public:
  explicit DesktopEntryAutorunStore(std::filesystem::path folder);
  std::optional<std::string> ReadCommand() const override;
  bool WriteCommand(std::string_view command) override;
  bool Remove() override;
  std::filesystem::path EntryPath() const;

 private:
  std::filesystem::path folder_;
};

// Desktop-entry Exec encoding of a command (reserved characters inside quotes, "%", backslashes)
// and its inverse.
std::string EncodeDesktopExec(std::string_view command);
std::string DecodeDesktopExec(std::string_view exec);

}  // namespace dv
