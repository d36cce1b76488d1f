#include "cli/Cli.h"

#include <algorithm>
#include <functional>
#include <map>
#include <ostream>

#include "core/DriveSystemFactory.h"

namespace dv::cli {
namespace {

using CommandFn = std::function<int(CliContext&)>;

const std::map<std::string, CommandFn>& Commands() {
  static const std::map<std::string, CommandFn> commands{
      {"list", RunList},         {"smart", RunSmart},
      {"report", RunReport},     {"monitor", RunMonitor},
      {"aam", RunAam},           {"apm", RunApm},
      {"mbr", RunMbr},           {"mail-report", RunMailReport},
      {"selftest", RunSelfTest}, {"log", RunLog},
      {"history", RunHistory},
  };
  return commands;
}

// Takes every `--json` out of args; it may stand before or after the command.
bool TakeJsonFlag(std::vector<std::string>& args) {
  const auto before = args.size();
  std::erase(args, std::string("--json"));
  return args.size() != before;
}

int Dispatch(DriveSystem& system, std::vector<std::string> args, bool json, std::ostream& out,
             std::ostream& err, bool outIsTerminal) {
  if (args.empty()) {
    err << UsageText();
    return kExitUsage;
  }
  const auto it = Commands().find(args.front());
  if (it == Commands().end()) {
    err << "Unknown command: " << args.front() << "\n" << UsageText();
    return kExitUsage;
  }
  CliContext ctx{system, json, std::vector<std::string>(args.begin() + 1, args.end()), out, err};
  ctx.outIsTerminal = outIsTerminal;
  return it->second(ctx);
}

}  // namespace

std::string UsageText() {
  return "Usage: diskvigil-cli [--simulate PATH | --demo | --demo=nvme] [--json] COMMAND [ARGS]\n"
         "       diskvigil-cli --help | --version\n"
         "Commands:\n"
         "  list                          the drives found\n"
         "  smart POS [--dec] [--no-wake] verdict, temperatures and attributes of drive POS\n"
         "  report POS [--dec] [-o FILE]  the text report of drive POS\n"
         "  monitor [--interval SECONDS] [--count N] [--settings PATH]\n"
         "          [--textfile PATH] [--no-wake] [--self-test-days N]\n"
         "          [--history]\n"
         "                                check every drive on a timer; after a bad pass\n"
         "                                the warning mail when \"SMTP Warnings\" is on;\n"
         "                                with --textfile, metrics for Prometheus after\n"
         "                                every pass; --no-wake leaves a drive in standby\n"
         "                                unread (smart: exit status 4); --self-test-days\n"
         "                                starts a short self-test on a drive whose last\n"
         "                                one is N days old, one drive at a time; --history\n"
         "                                keeps each drive's readings in the history file\n"
         "  mail-report [--settings PATH]\n"
         "                                send one report mail now\n"
         "  aam POS [--set LEVEL | --disable]\n"
         "  apm POS [--set LEVEL | --disable]\n"
         "                                the acoustic or power management level of drive POS\n"
         "                                (LEVEL 0 to 254), after the optional change\n"
         "  mbr POS                       sector 0 of drive POS: partitions and boot sectors\n"
         "  selftest POS short|extended|conveyance|abort\n"
         "                                start a self-test that drive POS runs by itself\n"
         "                                (it reads the medium, writes no data), or abort it\n"
         "  log POS selftest|error        the drive's self-test log, newest first, or its\n"
         "                                error log\n"
         "  history POS [--since 7d|24h|90m|...] [--csv]\n"
         "                                the readings kept of drive POS, oldest first\n"
         "                                ($XDG_STATE_HOME/diskvigil/history.sqlite)\n"
         "Without --simulate or --demo the machine's own drives are used (ATA\n"
         "pass-through needs root or cap_sys_rawio: on Linux a program without them hands\n"
         "its commands to diskvigil-drive-helper, which holds the capability; the NVMe\n"
         "health log needs CAP_SYS_ADMIN); DISKVIGIL_SIMULATE=PATH does the same\n"
         "as --simulate PATH. The mail settings are the tray program's (Diskvigil.ini in\n"
         "$APPDATA, else $XDG_CONFIG_HOME or ~/.config) unless --settings names a file.\n"
         "Exit status:\n"
         "  0  done; smart and monitor (its last pass): every drive checked is good\n"
         "  1  nothing found, no such position, a command that does not apply to the drive\n"
         "     (aam, apm, mbr on NVMe), SET FEATURES refused or aborted by the drive\n"
         "     (aam/apm --set; JSON \"applied\": false), sector 0 not read, a file not\n"
         "     written or a mail not sent; selftest refused by the drive, a log not read\n"
         "  2  bad arguments or a bad simulation file\n"
         "  3  a drive failed its check or did not answer it (smart, the last pass of\n"
         "     monitor; report when the attributes could not be read); selftest: the\n"
         "     drive does not offer that test\n"
         "  4  smart --no-wake: the drive is in standby, nothing read\n"
         "  5  smart, report: S.M.A.R.T. is off on the drive, nothing checked\n";
}

std::string VersionText() { return "diskvigil-cli " DISKVIGIL_VERSION "\n"; }

int RunCli(const std::vector<std::string>& argv, std::ostream& out, std::ostream& err,
           bool outIsTerminal) {
  std::vector<std::string> args{"diskvigil-cli"};
  args.insert(args.end(), argv.begin(), argv.end());
  if (std::find(args.begin(), args.end(), "--help") != args.end() ||
      std::find(args.begin(), args.end(), "-h") != args.end()) {
    out << UsageText();
    return kExitOk;
  }
  if (std::find(args.begin(), args.end(), "--version") != args.end()) {
    out << VersionText();
    return kExitOk;
  }
  DriveSystemChoice choice;
  if (auto problem = TakeDriveSystemOptions(args, choice)) {
    err << *problem << "\n" << UsageText();
    return kExitUsage;
  }
  std::string error;
  auto system = CreateDriveSystem(choice, error);
  if (!system) {
    err << error << "\n";
    return kExitUsage;
  }
  args.erase(args.begin());
  const bool json = TakeJsonFlag(args);
  return Dispatch(*system, std::move(args), json, out, err, outIsTerminal);
}

int RunCliOn(DriveSystem& system, const std::vector<std::string>& argv, std::ostream& out,
             std::ostream& err, bool outIsTerminal) {
  std::vector<std::string> args = argv;
  const bool json = TakeJsonFlag(args);
  return Dispatch(system, std::move(args), json, out, err, outIsTerminal);
}

}  // namespace dv::cli
