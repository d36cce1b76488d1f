#include "app/Autorun.h"

#include <cstdlib>
#include <fstream>
#include <iterator>

#include "app/IniFile.h"

namespace dv {

namespace {

constexpr std::string_view kDesktopEntryFile = "Diskvigil.desktop";
constexpr std::string_view kExecPrefix = "Exec=";
// Characters that need a backslash inside a quoted Exec argument.
constexpr std::string_view kQuotedReserved = "\"`$\\";

}  // namespace

std::string QuotedProgramPath(std::string_view programPath) {
  return "\"" + std::string(programPath) + "\"";
}

bool AutorunPresent(const AutorunStore& store, std::string_view programPath) {
  const auto command = store.ReadCommand();
  return command && command->find(QuotedProgramPath(programPath)) != std::string::npos;
}

void SaveAutorun(AutorunStore& store, std::string_view programPath, bool ticked) {
  // Failures are skipped silently: the autorun entry never stops a save.
  if (!ticked) {
    store.Remove();
    return;
  }
  if (!AutorunPresent(store, programPath)) store.WriteCommand(QuotedProgramPath(programPath));
}

std::filesystem::path DefaultAutostartFolder() {
  if (const char* config = std::getenv("XDG_CONFIG_HOME"); config && *config)
    return std::filesystem::path(config) / "autostart";
  const char* home = std::getenv("HOME");
  return std::filesystem::path(home ? home : "") / ".config" / "autostart";
}

// Exec values go through two layers: the entry's string escapes (a backslash doubled) and, inside a
// quoted argument, a backslash before " ` $ and \. A literal % is written %%.
std::string EncodeDesktopExec(std::string_view command) {
  std::string exec;
  bool quoted = false;
  for (std::size_t i = 0; i < command.size(); ++i) {
    const char c = command[i];
    if (c == '"') {
      // A quote opens an argument, or closes it when no further quote follows.
      const bool closing = quoted && command.find('"', i + 1) == std::string_view::npos;
      if (!quoted || closing) {
        quoted = !quoted;
        exec += c;
        continue;
      }
    }
    if (c == '%') {
      exec += "%%";
    } else if (quoted && kQuotedReserved.find(c) != std::string_view::npos) {
      exec += "\\\\";  // the quoting backslash, itself escaped for the string layer
      exec += c == '\\' ? std::string("\\\\") : std::string(1, c);
    } else if (c == '\\') {
      exec += "\\\\";
    } else {
      exec += c;
    }
  }
  return exec;
}

std::string DecodeDesktopExec(std::string_view exec) {
  // String layer first.
  std::string value;
  for (std::size_t i = 0; i < exec.size(); ++i) {
    if (exec[i] == '\\' && i + 1 < exec.size()) {
      const char next = exec[++i];
      value += next == 's'   ? ' '
               : next == 'n' ? '\n'
               : next == 't' ? '\t'
               : next == 'r' ? '\r'
                             : next;
    } else {
      value += exec[i];
    }
  }
  // Then the quoting backslashes and the doubled percent signs.
  std::string command;
  for (std::size_t i = 0; i < value.size(); ++i) {
    const char c = value[i];
    if (c == '\\' && i + 1 < value.size() &&
        kQuotedReserved.find(value[i + 1]) != std::string::npos) {
      command += value[++i];
    } else if (c == '%' && i + 1 < value.size() && value[i + 1] == '%') {
      command += '%';
      ++i;
    } else {
      command += c;
    }
  }
  return command;
}

DesktopEntryAutorunStore::DesktopEntryAutorunStore(std::filesystem::path folder)
    : folder_(std::move(folder)) {}

std::filesystem::path DesktopEntryAutorunStore::EntryPath() const {
  return folder_ / kDesktopEntryFile;
}

std::optional<std::string> DesktopEntryAutorunStore::ReadCommand() const {
  std::ifstream in(EntryPath(), std::ios::binary);
  if (!in) return std::nullopt;
  std::string line;
  while (std::getline(in, line)) {
    if (!line.empty() && line.back() == '\r') line.pop_back();
    if (line.starts_with(kExecPrefix)) return DecodeDesktopExec(line.substr(kExecPrefix.size()));
  }
  return std::nullopt;
}

bool DesktopEntryAutorunStore::WriteCommand(std::string_view command) {
  if (command.find_first_of("\r\n") != std::string_view::npos) return false;
  std::error_code error;
  std::filesystem::create_directories(folder_, error);
  if (error) return false;
  const std::string entry =
      "[Desktop Entry]\nType=Application\nName=" + std::string(kAutorunEntryName) +
      "\nExec=" + EncodeDesktopExec(command) + "\nTerminal=false\nX-GNOME-Autostart-enabled=true\n";
  return WriteFileAtomically(EntryPath(), entry);
}

bool DesktopEntryAutorunStore::Remove() {
  std::error_code error;
  std::filesystem::remove(EntryPath(), error);
  return !error;
}

}  // namespace dv
