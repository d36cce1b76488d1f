#include <system_error>

#include "core/RunningProgram.h"

namespace dv {

std::filesystem::path RunningProgramFile() {
  std::error_code ec;
  std::filesystem::path program = std::filesystem::read_symlink("/proc/self/exe", ec);
  if (ec) return {};
  return program;
}

}  // namespace dv
