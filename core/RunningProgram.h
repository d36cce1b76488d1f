// Where the running program's own file is, as the system names it.
#pragma once

#include <filesystem>

namespace dv {

// The running executable, links resolved; empty where the system does not say. Implemented per
// platform.
std::filesystem::path RunningProgramFile();

}  // namespace dv
