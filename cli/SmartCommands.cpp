#include <ostream>

#include "cli/Cli.h"

namespace dv::cli {

int RunSmart(CliContext& ctx) {
  ctx.err << "smart: not built yet\n";
  return kExitUsage;
}
int RunReport(CliContext& ctx) {
  ctx.err << "report: not built yet\n";
  return kExitUsage;
}
int RunMonitor(CliContext& ctx) {
  ctx.err << "monitor: not built yet\n";
  return kExitUsage;
}

}  // namespace dv::cli
