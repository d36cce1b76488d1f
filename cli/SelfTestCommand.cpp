// `diskvigil-cli selftest POS short|extended|conveyance|abort`: starts or aborts a self-test that
// the drive runs in the background, after checking that the drive offers it.
#include <ostream>

#include "cli/Arguments.h"
#include "cli/Cli.h"
#include "cli/CliSupport.h"
#include "cli/SmartOutput.h"
#include "core/SelfTest.h"

namespace dv::cli {

int RunSelfTest(CliContext& ctx) {
  // The position comes first; a missing or bad one is the argument parser's complaint.
  std::optional<std::string> kindWord;
  if (ctx.args.size() >= 2 && !ctx.args[0].starts_with("-")) {
    kindWord = TakeChoiceAfterPosition(ctx, {"short", "extended", "conveyance", "abort"});
    if (!kindWord) return kExitUsage;
  }
  const auto words = ParseArguments(ctx, Position::Needed);
  if (!words) return kExitUsage;
  if (!kindWord) {
    ctx.err << "One of short, extended, conveyance, abort is needed after the position\n"
            << UsageText();
    return kExitUsage;
  }
  DriveTable table;
  const auto position = ProbeListedPosition(ctx, table, words->position);
  if (!position) return kExitFailure;

  const SelfTestKind kind = *SelfTestKindFromName(*kindWord);
  const SelfTestStart start = StartSelfTest(ctx.system, table.At(*position), kind);
  const bool started = start.outcome == SelfTestStart::Outcome::Started;
  if (ctx.json) {
    ctx.out << DumpOrdered(
        {{"position", *position},
         {"test", *kindWord},
         {"started", started},
         {"pollingMinutes", started ? OrderedJson(start.pollingMinutes) : OrderedJson()},
         {"reason", started ? OrderedJson() : OrderedJson(start.reason)}},
        2);
  } else if (started && kind == SelfTestKind::Abort) {
    ctx.out << "Self-test aborted on drive " << *position << "\n";
  } else if (started) {
    ctx.out << "The " << *kindWord << " self-test started on drive " << *position;
    if (start.pollingMinutes > 0)
      ctx.out << "; the drive expects it to take " << start.pollingMinutes << " minutes";
    ctx.out << "\n";
  }
  if (started) return kExitOk;
  ctx.err << "Drive " << *position << ": " << start.reason << "\n";
  return start.outcome == SelfTestStart::Outcome::NotSupported ? kExitNotOffered : kExitFailure;
}

}  // namespace dv::cli
