// Writes the seed corpora of the fuzz targets from simulated-drive JSON files:
//   FuzzSeeds OUTDIR FILE.json...
// OUTDIR/identify gets the IDENTIFY sectors, OUTDIR/smart the data and threshold sectors one
// after the other, OUTDIR/simulation the files themselves, OUTDIR/mbr the first three sectors of
// "sectorsHex" (sector 0, then the others by number) one after the other.
#include <filesystem>
#include <fstream>
#include <iostream>
#include <map>
#include <nlohmann/json.hpp>
#include <sstream>
#include <string>
#include <vector>

#include "core/HexText.h"

namespace {

namespace fs = std::filesystem;

std::string ReadText(const fs::path& path) {
  std::ifstream in(path, std::ios::binary);
  std::stringstream text;
  text << in.rdbuf();
  return text.str();
}

std::vector<char> FromHex(const std::string& hex) {
  const std::vector<uint8_t> bytes = dv::BytesFromHex(hex).value_or(std::vector<uint8_t>{});
  return std::vector<char>(bytes.begin(), bytes.end());
}

void Write(const fs::path& path, const std::vector<char>& bytes) {
  std::ofstream(path, std::ios::binary)
      .write(bytes.data(), static_cast<std::streamsize>(bytes.size()));
}

}  // namespace

int main(int argc, char** argv) {
  if (argc < 3) {
    std::cerr << "Usage: FuzzSeeds OUTDIR FILE.json...\n";
    return 2;
  }
  const fs::path out = argv[1];
  for (const char* folder : {"identify", "smart", "simulation", "mbr"})
    fs::create_directories(out / folder);
  for (int i = 2; i < argc; ++i) {
    const fs::path source = argv[i];
    const std::string name = source.stem().string();
    const std::string text = ReadText(source);
    fs::copy_file(source, out / "simulation" / source.filename(),
                  fs::copy_options::overwrite_existing);
    const auto drive = nlohmann::json::parse(text, nullptr, false);
    if (!drive.is_object()) continue;
    if (drive.contains("identifyHex")) {
      Write(out / "identify" / name, FromHex(drive["identifyHex"].get<std::string>()));
    }
    if (drive.contains("smartDataHex") && drive.contains("smartThresholdsHex")) {
      std::vector<char> pair = FromHex(drive["smartDataHex"].get<std::string>());
      const std::vector<char> thresholds = FromHex(drive["smartThresholdsHex"].get<std::string>());
      pair.insert(pair.end(), thresholds.begin(), thresholds.end());
      Write(out / "smart" / name, pair);
    }
    if (drive.contains("sectorsHex") && drive["sectorsHex"].is_object()) {
      std::map<unsigned long long, std::string> byNumber;
      for (const auto& [key, hex] : drive["sectorsHex"].items()) {
        if (hex.is_string()) byNumber[std::stoull(key)] = hex.get<std::string>();
      }
      std::vector<char> sectors;
      size_t taken = 0;
      for (const auto& [lba, hex] : byNumber) {
        if (taken++ == 3) break;
        const std::vector<char> bytes = FromHex(hex);
        sectors.insert(sectors.end(), bytes.begin(), bytes.end());
      }
      Write(out / "mbr" / name, sectors);
    }
  }
  return 0;
}
