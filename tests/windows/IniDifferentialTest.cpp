// Our private-profile functions against the system's (GetPrivateProfileString,
// GetPrivateProfileInt, WritePrivateProfileString) on the same INI texts. Every difference is
// printed; the test fails on any that is not one the program chose on purpose (kChosen below).
#include <gtest/gtest.h>
#include <windows.h>

#include <filesystem>
#include <fstream>
#include <iostream>
#include <iterator>
#include <sstream>
#include <string>
#include <vector>

#include "settings/IniFile.h"

namespace dv {
namespace {

namespace fs = std::filesystem;

struct IniCase {
  const char* name;
  std::string text;
  const char* section;
  const char* key;
};

const std::vector<IniCase>& Corpus() {
  static const std::vector<IniCase> cases{
      {"plain", "[Settings]\nRefresh Interval=30\n", "Settings", "Refresh Interval"},
      {"crlf", "[Settings]\r\nRefresh Interval=30\r\n", "Settings", "Refresh Interval"},
      {"no final line break", "[Settings]\nRefresh Interval=45", "Settings", "Refresh Interval"},
      {"spaces around", "  [ Settings ]  \n   Refresh Interval   =   60   \n", "Settings",
       "Refresh Interval"},
      {"tabs around", "[Settings]\n\tKey\t=\tvalue\t\n", "Settings", "Key"},
      {"case of names", "[settings]\nrefresh interval=75\n", "SETTINGS", "Refresh Interval"},
      {"duplicate key", "[Settings]\nKey=first\nKey=second\n", "Settings", "Key"},
      {"duplicate section", "[Settings]\nA=1\n[Other]\nKey=x\n[Settings]\nKey=later\n", "Settings",
       "Key"},
      {"missing section", "[Other]\nKey=1\n", "Settings", "Key"},
      {"missing key", "[Settings]\nOther=1\n", "Settings", "Key"},
      {"empty file", "", "Settings", "Key"},
      {"semicolon comment", "[Settings]\n;Key=commented\nKey=real\n", "Settings", "Key"},
      {"comment after value", "[Settings]\nKey=value ; note\n", "Settings", "Key"},
      {"empty value", "[Settings]\nKey=\n", "Settings", "Key"},
      {"equals in value", "[Settings]\nKey=a=b\n", "Settings", "Key"},
      {"quoted value", "[Settings]\nKey=\"quoted\"\n", "Settings", "Key"},
      {"single-quoted value", "[Settings]\nKey='quoted'\n", "Settings", "Key"},
      {"quote at one end", "[Settings]\nKey=\"half\n", "Settings", "Key"},
      {"long value", "[Settings]\nKey=" + std::string(3000, 'v') + "\n", "Settings", "Key"},
      {"decimal", "[Settings]\nKey=1234\n", "Settings", "Key"},
      {"negative", "[Settings]\nKey=-42\n", "Settings", "Key"},
      {"plus sign", "[Settings]\nKey=+42\n", "Settings", "Key"},
      {"hex 0x", "[Settings]\nKey=0xFF\n", "Settings", "Key"},
      {"hex dollar", "[Settings]\nKey=$FF\n", "Settings", "Key"},
      {"trailing text", "[Settings]\nKey=12abc\n", "Settings", "Key"},
      {"not a number", "[Settings]\nKey=yes\n", "Settings", "Key"},
      {"too large", "[Settings]\nKey=4294967296\n", "Settings", "Key"},
      {"line without equals", "[Settings]\nKey\nKey=after\n", "Settings", "Key"},
  };
  return cases;
}

// The file's layout without line ends, blanks around lines and empty lines.
std::string Layout(const std::string& text) {
  std::istringstream in(text);
  std::string line, out;
  while (std::getline(in, line)) {
    const auto first = line.find_first_not_of(" \t\r");
    if (first == std::string::npos) continue;
    const auto last = line.find_last_not_of(" \t\r");
    std::string kept = line.substr(first, last - first + 1);
    std::erase(kept, ' ');
    out += kept + "\n";
  }
  return out;
}

// Why the program differs from the system on purpose, or empty.
std::string Chosen(const std::string& label, const std::string& ours, const std::string& system) {
  if (label.ends_with("/integer")) {
    return "integers are read in the settings' own format (decimal, or hexadecimal after $, x or "
           "0x; anything else is the default), not by GetPrivateProfileInt's leading digits";
  }
  if (label == "long value/string") return "values are cut to 2047 characters";
  if (label.ends_with("quoted value/string")) {
    return "a value is read as stored: the system drops the quotes around it, so a value that "
           "begins and ends with one (a mail subject in quotes) would not come back as saved";
  }
  if (label.find("/write") != std::string::npos && Layout(ours) == Layout(system)) {
    return "same keys and values; the file keeps its own line ends, spacing and blank lines, and "
           "the value is stored as given (blanks around it are dropped when read, as the system "
           "does)";
  }
  return {};
}

fs::path Folder() {
  static const fs::path folder = [] {
    fs::path f = fs::temp_directory_path() / ("dv-ini-" + std::to_string(GetCurrentProcessId()));
    fs::remove_all(f);
    fs::create_directories(f);
    return f;
  }();
  return folder;
}

fs::path WriteCase(const std::string& tag, const std::string& text) {
  static int serial = 0;
  const fs::path path = Folder() / (std::to_string(++serial) + "-" + tag + ".ini");
  std::ofstream(path, std::ios::binary) << text;
  return path;
}

std::string ReadBytes(const fs::path& path) {
  std::ifstream in(path, std::ios::binary);
  return std::string(std::istreambuf_iterator<char>(in), {});
}

std::string Shown(const std::string& text) {
  std::string out;
  for (char c : text.substr(0, 60)) {
    if (c == '\r')
      out += "\\r";
    else if (c == '\n')
      out += "\\n";
    else
      out += c;
  }
  return text.size() > 60 ? out + "...(" + std::to_string(text.size()) + " bytes)" : out;
}

int Compare(const std::string& label, const std::string& ours, const std::string& system) {
  if (ours == system) return 0;
  const std::string shown = label + ": ours [" + Shown(ours) + "], system [" + Shown(system) + "]";
  if (const std::string why = Chosen(label, ours, system); !why.empty()) {
    std::cout << "chosen  " << shown << "\n        " << why << "\n";
    return 0;
  }
  std::cout << "DIFFERS " << shown << "\n";
  return 1;
}

TEST(IniDifferential, ReadsAgreeWithTheSystem) {
  int unexplained = 0;
  for (const IniCase& c : Corpus()) {
    const fs::path ours = WriteCase("ours", c.text);
    const fs::path system = WriteCase("system", c.text);
    std::string buffer(4096, '\0');
    const DWORD length =
        GetPrivateProfileStringA(c.section, c.key, "(default)", buffer.data(),
                                 static_cast<DWORD>(buffer.size()), system.string().c_str());
    buffer.resize(length);
    unexplained += Compare(std::string(c.name) + "/string",
                           IniFile(ours, c.section).ReadString(c.key, "(default)"), buffer);
    const UINT number = GetPrivateProfileIntA(c.section, c.key, 7, system.string().c_str());
    unexplained += Compare(std::string(c.name) + "/integer",
                           std::to_string(IniFile(ours, c.section).ReadInteger(c.key, 7)),
                           std::to_string(static_cast<int32_t>(number)));
  }
  EXPECT_EQ(unexplained, 0);
}

TEST(IniDifferential, WritesLeaveTheSameFile) {
  int unexplained = 0;
  for (const IniCase& c : Corpus()) {
    for (const char* value : {"new value", "", "  padded  "}) {
      const fs::path ours = WriteCase("ours", c.text);
      const fs::path system = WriteCase("system", c.text);
      const bool oursOk = IniFile(ours, c.section).WriteString(c.key, value);
      const bool systemOk =
          WritePrivateProfileStringA(c.section, c.key, value, system.string().c_str()) != FALSE;
      WritePrivateProfileStringA(nullptr, nullptr, nullptr, system.string().c_str());  // flush
      const std::string label = std::string(c.name) + "/write \"" + value + "\"";
      unexplained +=
          Compare(label + " result", oursOk ? "ok" : "refused", systemOk ? "ok" : "refused");
      unexplained += Compare(label, ReadBytes(ours), ReadBytes(system));
    }
  }
  // A line break in a value: the system writes it into the file and so breaks the line apart;
  // we refuse it and leave the file as it was.
  const fs::path ours = WriteCase("ours", "[Settings]\nKey=old\n");
  EXPECT_FALSE(IniFile(ours, "Settings").WriteString("Key", "two\nlines"));
  EXPECT_EQ(ReadBytes(ours), "[Settings]\nKey=old\n");
  EXPECT_EQ(unexplained, 0);
}

}  // namespace
}  // namespace dv
