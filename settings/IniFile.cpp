#include "settings/IniFile.h"

#include <array>
#include <cctype>
#include <cstdlib>
#include <fstream>
#include <iterator>
#include <limits>
#include <sstream>
#include <vector>

namespace dv {

namespace {

bool IsBlank(char c) { return c == ' ' || c == '\t'; }

std::string_view TrimBlanks(std::string_view text) {
  while (!text.empty() && (IsBlank(text.front()) || text.front() == '\r')) text.remove_prefix(1);
  while (!text.empty() && (IsBlank(text.back()) || text.back() == '\r')) text.remove_suffix(1);
  return text;
}

bool EqualIgnoringCase(std::string_view a, std::string_view b) {
  if (a.size() != b.size()) return false;
  for (std::size_t i = 0; i < a.size(); ++i) {
    if (std::tolower(static_cast<unsigned char>(a[i])) !=
        std::tolower(static_cast<unsigned char>(b[i])))
      return false;
  }
  return true;
}

// "[name]" (blanks allowed around it): the name; anything else is not a section header.
std::optional<std::string_view> SectionName(std::string_view line) {
  line = TrimBlanks(line);
  if (line.size() < 2 || line.front() != '[') return std::nullopt;
  const auto close = line.find(']');
  if (close == std::string_view::npos) return std::nullopt;
  return TrimBlanks(line.substr(1, close - 1));
}

struct KeyLine {
  std::string_view key;
  std::optional<std::string_view> value;  // none for a line without "="
};

// "key=value", or a line without "=": a key without a value, which reads as the default but is
// the line a write replaces (as with Windows). A blank line or a "; comment" is neither.
std::optional<KeyLine> SplitKeyLine(std::string_view line) {
  const auto equals = line.find('=');
  if (equals == std::string_view::npos) {
    const std::string_view key = TrimBlanks(line);
    if (key.empty() || key.front() == ';') return std::nullopt;
    return KeyLine{key, std::nullopt};
  }
  return KeyLine{TrimBlanks(line.substr(0, equals)), TrimBlanks(line.substr(equals + 1))};
}

// The file's text, or nothing when it cannot be read. A missing file reads as empty, and so does
// one over kMaxSettingsFileSize; reading stops at the cap even when the file grows meanwhile. A
// path that is not a regular file (a folder, a pipe that would block, a device) cannot be read.
std::optional<std::string> ReadWholeFile(const std::filesystem::path& path) {
  std::error_code error;
  if (!std::filesystem::exists(path, error)) return std::string();
  if (!std::filesystem::is_regular_file(path, error)) return std::nullopt;
  if (std::filesystem::file_size(path, error) > kMaxSettingsFileSize && !error)
    return std::string();
  std::ifstream in(path, std::ios::binary);
  if (!in) return std::nullopt;
  std::string text;
  std::array<char, 64 * 1024> chunk;
  while (in) {
    in.read(chunk.data(), static_cast<std::streamsize>(chunk.size()));
    text.append(chunk.data(), static_cast<std::size_t>(in.gcount()));
    if (text.size() > kMaxSettingsFileSize) return std::string();
  }
  if (in.bad()) return std::nullopt;
  return text;
}

std::vector<std::string> SplitLines(const std::string& text) {
  std::vector<std::string> lines;
  std::size_t start = 0;
  while (start < text.size()) {
    auto end = text.find('\n', start);
    if (end == std::string::npos) end = text.size();
    std::string line = text.substr(start, end - start);
    if (!line.empty() && line.back() == '\r') line.pop_back();
    lines.push_back(std::move(line));
    start = end + 1;
  }
  return lines;
}

bool StorableInLine(std::string_view text) {
  return text.find_first_of(std::string_view("\r\n\0", 3)) == std::string_view::npos;
}

bool StorableKey(std::string_view key) {
  const auto trimmed = TrimBlanks(key);
  return !trimmed.empty() && trimmed == key && StorableInLine(key) &&
         key.find('=') == std::string_view::npos && key.front() != '[' && key.front() != ';';
}

int HexDigit(char c) {
  if (c >= '0' && c <= '9') return c - '0';
  if (c >= 'a' && c <= 'f') return c - 'a' + 10;
  if (c >= 'A' && c <= 'F') return c - 'A' + 10;
  return -1;
}

}  // namespace

std::filesystem::path SettingsFilePath() {
  if (const char* appData = std::getenv("APPDATA"); appData && *appData)
    return std::filesystem::path(appData) / kSettingsFileName;
  if (const char* config = std::getenv("XDG_CONFIG_HOME"); config && *config)
    return std::filesystem::path(config) / kSettingsFileName;
  return UserHomeFolder() / ".config" / kSettingsFileName;
}

std::filesystem::path CounterStateFilePath() {
  if (const char* appData = std::getenv("APPDATA"); appData && *appData)
    return std::filesystem::path(appData) / "Diskvigil-counters.json";
  const std::filesystem::path folder = [] {
    if (const char* state = std::getenv("XDG_STATE_HOME"); state && *state)
      return std::filesystem::path(state);
    return UserHomeFolder() / ".local" / "state";
  }();
  return folder / "diskvigil" / "counters.json";
}

std::optional<std::string> FolderTrustProblem(unsigned owner, unsigned mode, unsigned effectiveUser,
                                              bool ownersPrivateGroup) {
  constexpr unsigned kGroupWrite = 0020;
  constexpr unsigned kOthersWrite = 0002;
  constexpr unsigned kSticky = 01000;
  if (owner != effectiveUser && owner != 0) return "belongs to another user";
  const unsigned othersIn = kOthersWrite | (ownersPrivateGroup ? 0 : kGroupWrite);
  if ((mode & othersIn) != 0 && (mode & kSticky) == 0) return "can be changed by other users";
  return std::nullopt;
}

std::optional<int32_t> ParseProfileInteger(std::string_view text) {
  while (!text.empty() && IsBlank(text.front())) text.remove_prefix(1);
  bool negative = false;
  if (!text.empty() && (text.front() == '+' || text.front() == '-')) {
    negative = text.front() == '-';
    text.remove_prefix(1);
  }
  int base = 10;
  if (text.starts_with("0x") || text.starts_with("0X")) {
    base = 16;
    text.remove_prefix(2);
  } else if (!text.empty() && (text.front() == '$' || text.front() == 'x' || text.front() == 'X')) {
    base = 16;
    text.remove_prefix(1);
  }
  if (text.empty()) return std::nullopt;
  // Hexadecimal covers the whole 32-bit pattern (colours are 0x00BBGGRR); decimal the signed range.
  const uint64_t limit =
      base == 16 ? 0xFFFFFFFFull
                 : static_cast<uint64_t>(std::numeric_limits<int32_t>::max()) + (negative ? 1 : 0);
  uint64_t value = 0;
  for (char c : text) {
    const int digit = HexDigit(c);
    if (digit < 0 || digit >= base) return std::nullopt;
    value = value * static_cast<uint64_t>(base) + static_cast<uint64_t>(digit);
    if (value > limit) return std::nullopt;
  }
  const auto pattern = static_cast<uint32_t>(negative ? (~value + 1) : value);
  return static_cast<int32_t>(pattern);
}

IniFile::IniFile(std::filesystem::path path, std::string section)
    : path_(std::move(path)), section_(std::move(section)) {}

std::optional<std::string> FindProfileValue(std::string_view text, std::string_view section,
                                            std::string_view key) {
  bool inSection = false;
  while (!text.empty()) {
    const auto end = text.find('\n');
    std::string_view line = text.substr(0, end);
    text.remove_prefix(end == std::string_view::npos ? text.size() : end + 1);
    if (const auto name = SectionName(line)) {
      // Only the first section of the name counts, as with Windows and as written below.
      if (inSection) return std::nullopt;
      inSection = EqualIgnoringCase(*name, section);
      continue;
    }
    if (!inSection) continue;
    const auto keyLine = SplitKeyLine(line);
    if (!keyLine || !EqualIgnoringCase(keyLine->key, key)) continue;
    if (!keyLine->value) return std::nullopt;
    return std::string(*keyLine->value);
  }
  return std::nullopt;
}

std::optional<std::string> IniFile::FindValue(std::string_view key) const {
  const auto text = ReadWholeFile(path_);
  if (!text) return std::nullopt;
  return FindProfileValue(*text, section_, key);
}

std::string IniFile::ReadString(std::string_view key, std::string_view defaultValue) const {
  auto value = FindValue(key);
  if (!value) return std::string(defaultValue.substr(0, kMaxProfileStringLength));
  if (value->size() > kMaxProfileStringLength) value->resize(kMaxProfileStringLength);
  return *value;
}

int32_t IniFile::ReadInteger(std::string_view key, int32_t defaultValue) const {
  const auto value = FindValue(key);
  if (!value) return defaultValue;
  return ParseProfileInteger(*value).value_or(defaultValue);
}

bool IniFile::ReadBool(std::string_view key, bool defaultValue) const {
  const auto value = FindValue(key);
  if (!value) return defaultValue;
  const auto number = ParseProfileInteger(*value);
  return number ? *number != 0 : defaultValue;
}

bool IniFile::WriteString(std::string_view key, std::string_view value) {
  if (!StorableKey(key) || !StorableInLine(value) || !StorableInLine(section_)) return false;
  const auto text = ReadWholeFile(path_);
  if (!text) return false;
  // Keep the file's own line ending when it has one.
  const std::string eol = text->find("\r\n") != std::string::npos ? "\r\n" : "\n";
  auto lines = SplitLines(*text);
  const std::string newLine = std::string(key) + "=" + std::string(value);

  bool inSection = false;
  bool sectionFound = false;
  std::size_t insertAt = lines.size();
  bool written = false;
  for (std::size_t i = 0; i < lines.size() && !written; ++i) {
    if (const auto name = SectionName(lines[i])) {
      if (inSection) break;  // the end of our section: add the key there
      inSection = EqualIgnoringCase(*name, section_);
      if (inSection) {
        sectionFound = true;
        insertAt = i + 1;
      }
      continue;
    }
    if (!inSection) continue;
    if (!TrimBlanks(lines[i]).empty()) insertAt = i + 1;
    const auto keyLine = SplitKeyLine(lines[i]);
    if (keyLine && EqualIgnoringCase(keyLine->key, key)) {
      // Keep the key's spelling as the file has it.
      lines[i] = std::string(keyLine->key) + "=" + std::string(value);
      written = true;
    }
  }
  if (!written) {
    if (!sectionFound) {
      if (!lines.empty() && !TrimBlanks(lines.back()).empty()) lines.emplace_back();
      lines.push_back("[" + section_ + "]");
      insertAt = lines.size();
    }
    lines.insert(lines.begin() + static_cast<std::ptrdiff_t>(insertAt), newLine);
  }

  std::string out;
  for (const auto& line : lines) out += line + eol;
  return WriteFileThroughOwnLink(path_, out);
}

bool IniFile::WriteInteger(std::string_view key, int32_t value) {
  return WriteString(key, std::to_string(value));
}

bool IniFile::WriteBool(std::string_view key, bool value) {
  return WriteString(key, value ? "1" : "0");
}

}  // namespace dv
