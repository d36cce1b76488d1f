#include <ostream>

#include "cli/Cli.h"

namespace dv::cli {

int RunList(CliContext& ctx) {
  ctx.err << "list: not built yet\n";
  return kExitUsage;
}

}  // namespace dv::cli
