// diskvigil-cli: the command-line companion for scripts, servers and tests.
#pragma once

#include <filesystem>
#include <iosfwd>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "core/Drive.h"
#include "core/DriveSystem.h"
#include "core/SmartData.h"
#include "mail/ReportMail.h"

namespace dv::cli {

// The exit statuses; UsageText and both manual pages list them in one table.
inline constexpr int kExitOk = 0;
// Nothing found, no such position, a command that does not apply to the drive or that the drive
// refused or aborted, a file or mail not written.
inline constexpr int kExitFailure = 1;
inline constexpr int kExitUsage = 2;      // bad arguments or a bad simulation file
inline constexpr int kExitUnhealthy = 3;  // a drive failed its check or did not answer it
inline constexpr int kExitAsleep = 4;     // smart --no-wake: the drive is in standby, nothing read
inline constexpr int kExitSmartOff = 5;   // smart, report: S.M.A.R.T. is off, nothing checked
// selftest: the drive's capability bits do not offer the test; nothing was sent.
inline constexpr int kExitNotOffered = 3;

struct CliContext {
  DriveSystem& system;
  bool json = false;
  std::vector<std::string> args;  // the words after the command name
  std::ostream& out;
  std::ostream& err;
  SmtpLimits mailLimits = {};  // tests shorten the reply limits
  bool outIsTerminal = false;  // `out` is a terminal: drive texts lose their control bytes
};

// Runs the whole command line (argv without the program name) and returns the exit status.
// outIsTerminal: `out` is shown on a terminal (main passes isatty of standard output).
int RunCli(const std::vector<std::string>& argv, std::ostream& out, std::ostream& err,
           bool outIsTerminal = false);
// Same, on a drive system the caller provides (the simulation options are then ignored).
int RunCliOn(DriveSystem& system, const std::vector<std::string>& argv, std::ostream& out,
             std::ostream& err, bool outIsTerminal = false);

std::string UsageText();
// "diskvigil-cli " and the version, one line.
std::string VersionText();

int RunList(CliContext& ctx);
int RunSmart(CliContext& ctx);
int RunReport(CliContext& ctx);
int RunMonitor(CliContext& ctx);
int RunAam(CliContext& ctx);
int RunApm(CliContext& ctx);
int RunMbr(CliContext& ctx);
int RunMailReport(CliContext& ctx);
int RunSelfTest(CliContext& ctx);
int RunLog(CliContext& ctx);
int RunHistory(CliContext& ctx);

// Mail helpers shared by mail-report and monitor.
// The verdict text the main window's report mail gives the drive: "O.K.", "ERROR", or "..." when
// S.M.A.R.T. is off or the drive gave no verdict.
std::string MailVerdictText(const Drive& drive, const ReadSmartResult& result);
ReportDrive MailReportDrive(const Drive& drive, const ReadSmartResult& result);
// Composes the report of `drives` now and sends it with the mail keys of the settings file.
MailResult SendReport(CliContext& ctx, const std::filesystem::path& settingsPath,
                      const std::vector<ReportDrive>& drives);
// "SMTP Warnings" of the settings file.
bool WarningMailsOn(const std::filesystem::path& settingsPath);
// "Report sending O.K." or "Report sending failed: " + the reason.
std::string MailOutcomeLine(const MailResult& result);

}  // namespace dv::cli
