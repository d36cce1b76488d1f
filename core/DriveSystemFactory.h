// Picks the drive system every program of the project uses: `--simulate PATH`, `--demo`, the
// environment variable DISKVIGIL_SIMULATE=PATH, or else the machine's own drives.
#pragma once

#include <filesystem>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "core/DriveSystem.h"

namespace dv {

struct DriveSystemChoice {
  enum class Kind { Platform, Simulated };
  Kind kind = Kind::Platform;
  std::string path;  // the simulation file or folder, for Simulated
  bool demo = false;
  bool nvmeDemo = false;  // `--demo=nvme`: the demo set with NVMe drives (data/demo-nvme)
};

// Takes `--simulate PATH`, `--simulate=PATH`, `--demo` and `--demo=nvme` out of args (args[0] is
// the program) and falls back on DISKVIGIL_SIMULATE. Returns an error text for a `--simulate`
// without a path.
std::optional<std::string> TakeDriveSystemOptions(std::vector<std::string>& args,
                                                  DriveSystemChoice& choice);

// The folders that may hold the bundled demo drives, in the order they are tried, for the program
// file `program` (empty when unknown): "../share/diskvigil/demo" from the program's folder, so
// that an installed tree works wherever it is unpacked or copied to; "demo" beside the program,
// for a bundle kept in one folder; the installed data folder; the source tree.
std::vector<std::filesystem::path> DemoDataCandidates(const std::filesystem::path& program);

// The first of DemoDataCandidates(program) that is a folder; the source tree's folder when none
// is, so that the error names a path.
std::filesystem::path FindDemoData(const std::filesystem::path& program);

// FindDemoData for the running program (its file as the kernel names it, links resolved).
std::string DemoDataPath();

// Builds the chosen system; on a bad simulation file returns null and sets error to one clear
// message naming the file and the field.
std::unique_ptr<DriveSystem> CreateDriveSystem(const DriveSystemChoice& choice, std::string& error);

}  // namespace dv
