// Builds without SQLite keep no history.
#include <ostream>

#include "cli/MonitorHistory.h"

namespace dv::cli {

namespace {
constexpr const char* kNoHistory = "History is not kept by this build of diskvigil-cli\n";
}

std::unique_ptr<MonitorHistory> OpenMonitorHistory(CliContext& ctx) {
  ctx.err << kNoHistory;
  return nullptr;
}

int RunHistory(CliContext& ctx) {
  ctx.err << kNoHistory;
  return kExitFailure;
}

}  // namespace dv::cli
