// Picks the drive system every program of the project uses: `--simulate PATH`, `--demo`, the
// environment variable DISKVIGIL_SIMULATE=PATH, or else the machine's own drives.
#pragma once

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
};

// Takes `--simulate PATH`, `--simulate=PATH` and `--demo` out of args (args[0] is the program) and
// falls back on DISKVIGIL_SIMULATE. Returns an error text for a `--simulate` without a path.
std::optional<std::string> TakeDriveSystemOptions(std::vector<std::string>& args,
                                                  DriveSystemChoice& choice);

// The folder of the bundled demo drives: installed data first, then the source tree.
std::string DemoDataPath();

// Builds the chosen system; on a bad simulation file returns null and sets error to one clear
// message naming the file and the field.
std::unique_ptr<DriveSystem> CreateDriveSystem(const DriveSystemChoice& choice, std::string& error);

}  // namespace dv
