#include "app/Autorun.h"

#include <cstdlib>
#include <fstream>
#include <iterator>

#include "settings/IniFile.h"

namespace dv {

namespace {

constexpr std::string_view kDesktopEntryFile = "Diskvigil.desktop";
constexpr std::string_view kMainGroup = "[Desktop Entry]";
// Characters that need a backslash inside a quoted Exec argument.
constexpr std::string_view kQuotedReserved = "\"`$\\";

std::string_view TrimBlanks(std::string_view text) {
  const auto blank = [](char c) { return c == ' ' || c == '\t' || c == '\r'; };
  while (!text.empty() && blank(text.front())) text.remove_prefix(1);
  while (!text.empty() && blank(text.back())) text.remove_suffix(1);
  return text;
}

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
  return UserHomeFolder() / ".config" / "autostart";
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
  // Only the main group counts. Desktop settings switch an entry off with Hidden=true or
  // X-GNOME-Autostart-enabled=false; such an entry runs nothing, so it holds no command.
  std::optional<std::string> command;
  bool switchedOff = false;
  bool inMainGroup = false;
  std::string line;
  while (std::getline(in, line)) {
    const std::string_view text = TrimBlanks(line);
    if (text.starts_with('[')) {
      inMainGroup = text == kMainGroup;
      continue;
    }
    const auto equals = text.find('=');
    if (!inMainGroup || equals == std::string_view::npos) continue;
    const std::string_view key = TrimBlanks(text.substr(0, equals));
    const std::string_view value = TrimBlanks(text.substr(equals + 1));
    if (key == "Exec" && !command) command = DecodeDesktopExec(value);
    if ((key == "Hidden" && value == "true") ||
        (key == "X-GNOME-Autostart-enabled" && value == "false"))
      switchedOff = true;
  }
  if (switchedOff) return std::nullopt;
  return command;
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
