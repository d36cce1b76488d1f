// Whether a program file found beside the running program may be run or loaded. The mail module
// and the drive helper are looked for in folders relative to the program, so a copy that another
// user could have put there or changed must not be used.
#pragma once

#include <filesystem>
#include <string>

namespace dv {

// Why code in `path` must not be run, or empty when it may: the file and its folder must belong to
// root or to the user running the program (only root when the program runs in the kernel's secure
// mode, holding a capability), and neither may be writable by the group or others.
std::string UntrustedFileReason(const std::filesystem::path& path);

}  // namespace dv
