// diskvigil-cli: the command-line companion for scripts, servers and tests.
#pragma once

#include <iosfwd>
#include <memory>
#include <string>
#include <vector>

#include "core/DriveSystem.h"

namespace dv::cli {

inline constexpr int kExitOk = 0;
inline constexpr int kExitFailure = 1;  // nothing found, no such position, unwritable file
inline constexpr int kExitUsage = 2;    // bad arguments or a bad simulation file
inline constexpr int kExitUnhealthy = 3;

struct CliContext {
  DriveSystem& system;
  bool json = false;
  std::vector<std::string> args;  // the words after the command name
  std::ostream& out;
  std::ostream& err;
};

// Runs the whole command line (argv without the program name) and returns the exit status.
int RunCli(const std::vector<std::string>& argv, std::ostream& out, std::ostream& err);
// Same, on a drive system the caller provides (the simulation options are then ignored).
int RunCliOn(DriveSystem& system, const std::vector<std::string>& argv, std::ostream& out,
             std::ostream& err);

std::string UsageText();

int RunList(CliContext& ctx);
int RunSmart(CliContext& ctx);
int RunReport(CliContext& ctx);
int RunMonitor(CliContext& ctx);
int RunAam(CliContext& ctx);
int RunApm(CliContext& ctx);
int RunMbr(CliContext& ctx);

}  // namespace dv::cli
