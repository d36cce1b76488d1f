#include "core/DriveSystemFactory.h"

#include <cstdlib>
#include <filesystem>
#include <string_view>

#include "core/RunningProgram.h"
#include "core/SimulatedDrives.h"

namespace dv {
namespace {

namespace fs = std::filesystem;

constexpr std::string_view kSimulateOption = "--simulate";
constexpr std::string_view kSimulatePrefix = "--simulate=";
constexpr std::string_view kDemoOption = "--demo";
constexpr std::string_view kNvmeDemoOption = "--demo=nvme";
constexpr const char* kNvmeDemoFolder = "demo-nvme";
constexpr const char* kSimulateVariable = "DISKVIGIL_SIMULATE";

bool IsFolder(const fs::path& path) {
  std::error_code ec;
  return fs::is_directory(path, ec);
}

}  // namespace

std::optional<std::string> TakeDriveSystemOptions(std::vector<std::string>& args,
                                                  DriveSystemChoice& choice) {
  std::optional<std::string> simulatePath;
  bool demo = false;
  bool nvmeDemo = false;
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
    } else if (arg == kNvmeDemoOption) {
      demo = true;
      nvmeDemo = true;
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
    choice.nvmeDemo = nvmeDemo;
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

std::vector<fs::path> DemoDataCandidates(const fs::path& program) {
  std::vector<fs::path> candidates;
  if (!program.empty() && program.has_parent_path()) {
    const fs::path folder = program.parent_path();
    candidates.push_back((folder / ".." / "share" / "diskvigil" / "demo").lexically_normal());
    candidates.push_back((folder / "demo").lexically_normal());
  }
  candidates.push_back(fs::path(DISKVIGIL_INSTALLED_DATA_DIR) / "demo");
  candidates.push_back(fs::path(DISKVIGIL_SOURCE_DATA_DIR) / "demo");
  return candidates;
}

fs::path FindDemoData(const fs::path& program) {
  const std::vector<fs::path> candidates = DemoDataCandidates(program);
  for (const fs::path& folder : candidates) {
    if (IsFolder(folder)) return folder;
  }
  return candidates.back();
}

std::string DemoDataPath() { return FindDemoData(RunningProgramFile()).string(); }

std::unique_ptr<DriveSystem> CreateDriveSystem(const DriveSystemChoice& choice,
                                               std::string& error) {
  error.clear();
  if (choice.kind == DriveSystemChoice::Kind::Platform) return CreatePlatformDriveSystem();
  std::string path = choice.path;
  if (choice.demo && path.empty()) {
    // The NVMe demo set sits beside the ATA one, wherever that was found.
    path = choice.nvmeDemo ? (fs::path(DemoDataPath()).parent_path() / kNvmeDemoFolder).string()
                           : DemoDataPath();
  }
  return SimulatedDriveSystem::Load(path, error);
}

}  // namespace dv
