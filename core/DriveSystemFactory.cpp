#include "core/DriveSystemFactory.h"

#include <cstdlib>
#include <filesystem>
#include <string_view>

#include "core/SimulatedDrives.h"

namespace dv {
namespace {

namespace fs = std::filesystem;

constexpr std::string_view kSimulateOption = "--simulate";
constexpr std::string_view kSimulatePrefix = "--simulate=";
constexpr std::string_view kDemoOption = "--demo";
constexpr const char* kSimulateVariable = "DISKVIGIL_SIMULATE";

bool IsFolder(const fs::path& path) {
  std::error_code ec;
  return fs::is_directory(path, ec);
}

// "../share/diskvigil/demo" beside the running program, for an installation moved elsewhere.
fs::path DemoBesideProgram() {
  std::error_code ec;
  const fs::path program = fs::read_symlink("/proc/self/exe", ec);
  if (ec || program.empty()) return {};
  return program.parent_path().parent_path() / "share" / "diskvigil" / "demo";
}

}  // namespace

std::optional<std::string> TakeDriveSystemOptions(std::vector<std::string>& args,
                                                  DriveSystemChoice& choice) {
  std::optional<std::string> simulatePath;
  bool demo = false;
  std::vector<std::string> rest;
  for (size_t i = 0; i < args.size(); ++i) {
    const std::string& arg = args[i];
    if (i == 0) {
      rest.push_back(arg);  // the program
    } else if (arg == kSimulateOption) {
      if (i + 1 >= args.size() || args[i + 1].empty()) return "--simulate needs a PATH";
      if (simulatePath) return "--simulate is given twice";
      simulatePath = args[++i];
    } else if (arg.rfind(kSimulatePrefix, 0) == 0) {
      if (arg.size() == kSimulatePrefix.size()) return "--simulate needs a PATH";
      if (simulatePath) return "--simulate is given twice";
      simulatePath = arg.substr(kSimulatePrefix.size());
    } else if (arg == kDemoOption) {
      demo = true;
    } else {
      rest.push_back(arg);
    }
  }
  if (demo && simulatePath) return "--simulate and --demo cannot be used together";
  args = std::move(rest);

  choice = DriveSystemChoice{};
  if (demo) {
    choice.kind = DriveSystemChoice::Kind::Simulated;
    choice.demo = true;
  } else if (simulatePath) {
    choice.kind = DriveSystemChoice::Kind::Simulated;
    choice.path = *simulatePath;
  } else if (const char* fromEnvironment = std::getenv(kSimulateVariable);
             fromEnvironment != nullptr && *fromEnvironment != '\0') {
    choice.kind = DriveSystemChoice::Kind::Simulated;
    choice.path = fromEnvironment;
  }
  return std::nullopt;
}

std::string DemoDataPath() {
  const fs::path installed = fs::path(DISKVIGIL_INSTALLED_DATA_DIR) / "demo";
  if (IsFolder(installed)) return installed.string();
  const fs::path beside = DemoBesideProgram();
  if (!beside.empty() && IsFolder(beside)) return beside.lexically_normal().string();
  return (fs::path(DISKVIGIL_SOURCE_DATA_DIR) / "demo").string();
}

std::unique_ptr<DriveSystem> CreateDriveSystem(const DriveSystemChoice& choice,
                                               std::string& error) {
  error.clear();
  if (choice.kind == DriveSystemChoice::Kind::Platform) return CreatePlatformDriveSystem();
  const std::string path = choice.demo && choice.path.empty() ? DemoDataPath() : choice.path;
  return SimulatedDriveSystem::Load(path, error);
}

}  // namespace dv
