// `diskvigil-cli log POS selftest|error`: the drive's own self-test log, newest first, or its
// summary error log with the drive's total count.
#include <cstdio>
#include <ostream>

#include "cli/Arguments.h"
#include "cli/Cli.h"
#include "cli/CliSupport.h"
#include "cli/SmartOutput.h"
#include "core/SelfTest.h"

namespace dv::cli {
namespace {

std::string Hex(uint8_t byte) {
  char text[4];
  std::snprintf(text, sizeof text, "%02X", byte);
  return text;
}

OrderedJson SelfTestJson(const SelfTestLogReading& reading) {
  OrderedJson entries = OrderedJson::array();
  for (const SelfTestRow& row : reading.rows) {
    entries.push_back(
        {{"type", row.Type},
         {"status", row.Status},
         {"remaining", row.RemainingPercent},
         {"lifetimeHours", row.LifetimeHours},
         {"firstErrorLba", row.FirstErrorLba ? OrderedJson(*row.FirstErrorLba) : OrderedJson()}});
  }
  return {{"entries", entries}};
}

std::string SelfTestText(const SelfTestLogReading& reading) {
  std::string text;
  if (reading.running) {
    text += "A self-test is running: " + std::to_string(reading.remainingPercent) + "% remaining\n";
  }
  if (reading.rows.empty()) return text + "No self-tests logged\n";
  std::vector<std::vector<std::string>> cells;
  int number = 0;
  for (const SelfTestRow& row : reading.rows) {
    cells.push_back({std::to_string(++number), row.Type, row.Status,
                     std::to_string(row.RemainingPercent) + "%", std::to_string(row.LifetimeHours),
                     row.FirstErrorLba ? std::to_string(*row.FirstErrorLba) : "-"});
  }
  return text + FormatTextTable({{"Num", true},
                                 {"Type"},
                                 {"Status"},
                                 {"Remaining", true},
                                 {"Lifetime hours", true},
                                 {"First error LBA", true}},
                                cells);
}

OrderedJson CommandJson(const AtaErrorCommand& c) {
  return {{"command", c.Command},
          {"features", c.Features},
          {"count", c.Count},
          {"lba", c.Lba()},
          {"device", c.Device},
          {"deviceControl", c.DeviceControl},
          {"timestampMs", c.TimestampMs}};
}

OrderedJson ErrorJson(const AtaErrorLog& log) {
  OrderedJson errors = OrderedJson::array();
  int number = log.Count;
  for (const AtaErrorRecord& e : log.Records) {
    OrderedJson commands = OrderedJson::array();
    for (const AtaErrorCommand& c : e.Commands) commands.push_back(CommandJson(c));
    errors.push_back({{"number", number--},
                      {"lifetimeHours", e.LifetimeHours},
                      {"error", e.Error},
                      {"status", e.Status},
                      {"count", e.Count},
                      {"lba", e.Lba()},
                      {"device", e.Device},
                      {"state", e.State},
                      {"commands", commands}});
  }
  return {{"count", log.Count}, {"errors", errors}};
}

std::string ErrorText(const AtaErrorLog& log) {
  std::string text = "Errors counted: " + std::to_string(log.Count) + "\n";
  int number = log.Count;
  for (const AtaErrorRecord& e : log.Records) {
    text += "Error " + std::to_string(number--) + " at " + std::to_string(e.LifetimeHours) +
            " hours: error " + Hex(e.Error) + "h, status " + Hex(e.Status) + "h, LBA " +
            std::to_string(e.Lba()) + "\n";
    for (const AtaErrorCommand& c : e.Commands) {
      text += "  command " + Hex(c.Command) + "h, features " + Hex(c.Features) + "h, count " +
              std::to_string(c.Count) + ", LBA " + std::to_string(c.Lba()) + ", at " +
              std::to_string(c.TimestampMs) + " ms\n";
    }
  }
  return text;
}

}  // namespace

int RunLog(CliContext& ctx) {
  std::optional<std::string> which;
  if (ctx.args.size() >= 2 && !ctx.args[0].starts_with("-")) {
    which = TakeChoiceAfterPosition(ctx, {"selftest", "error"});
    if (!which) return kExitUsage;
  }
  const auto words = ParseArguments(ctx, Position::Needed);
  if (!words) return kExitUsage;
  if (!which) {
    ctx.err << "One of selftest, error is needed after the position\n" << UsageText();
    return kExitUsage;
  }
  DriveTable table;
  const auto position = ProbeListedPosition(ctx, table, words->position);
  if (!position) return kExitFailure;
  const Drive& drive = table.At(*position);
  const std::string heading =
      (*which == "selftest" ? "Self-test log of drive " : "Error log of drive ") +
      std::to_string(*position) + ": " + PrintableText(drive.ModelNumber) + "\n";

  if (*which == "selftest") {
    const SelfTestLogReading reading = ReadSelfTestLog(ctx.system, drive);
    if (!reading.read) {
      ctx.err << "Drive " << *position << ": " << reading.reason << "\n";
      return kExitFailure;
    }
    ctx.out << (ctx.json ? DumpOrdered(SelfTestJson(reading), 2) : heading + SelfTestText(reading));
    return kExitOk;
  }
  const ErrorLogReading reading = ReadErrorLog(ctx.system, drive);
  if (!reading.read) {
    ctx.err << "Drive " << *position << ": " << reading.reason << "\n";
    return kExitFailure;
  }
  ctx.out << (ctx.json ? DumpOrdered(ErrorJson(reading.log), 2) : heading + ErrorText(reading.log));
  return kExitOk;
}

}  // namespace dv::cli
