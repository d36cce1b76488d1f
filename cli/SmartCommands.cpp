// `diskvigil-cli smart` and `report`: the S.M.A.R.T. read of one drive and its text report.
#include <chrono>
#include <clocale>
#include <ctime>
#include <ostream>
#include <set>

#include "cli/Arguments.h"
#include "cli/Cli.h"
#include "cli/CliSupport.h"
#include "cli/SmartOutput.h"
#include "core/AttributeRows.h"
#include "core/Counters.h"
#include "core/Health.h"
#include "core/Monitor.h"
#include "core/Nvme.h"
#include "core/PowerMode.h"
#include "core/SelfTest.h"
#include "core/SmartData.h"
#include "core/Temperatures.h"
#include "core/TextReport.h"
#include "settings/IniFile.h"

namespace dv::cli {
namespace {

// Said where an NVMe drive was read without privilege. The packaged service runs without the
// capability the log needs, so root is the one way to it.
std::string NvmeNeedsRootText(std::string_view command, int position) {
  return "The full NVMe health log needs root (sudo diskvigil-cli " + std::string(command) + " " +
         std::to_string(position) + ")";
}

// Arguments of smart and report: POS, --dec, and for report -o FILE.
struct DriveArguments {
  std::string position;
  RawPresentation presentation = RawPresentation::Hex;
  std::optional<std::string> outputPath;
  bool noWake = false;  // smart only
};

std::optional<DriveArguments> ParseDriveArguments(CliContext& ctx, bool allowOutput) {
  std::vector<OptionRule> options{Flag("--dec", true)};
  options.push_back(allowOutput ? ValueOption("-o") : Flag("--no-wake", true));
  const auto words = ParseArguments(ctx, Position::Needed, options);
  if (!words) return std::nullopt;
  DriveArguments parsed;
  parsed.position = words->position;
  if (words->Has("--dec")) parsed.presentation = RawPresentation::Dec;
  parsed.outputPath = words->Value("-o");
  parsed.noWake = words->Has("--no-wake");
  return parsed;
}

// The enumeration, then the S.M.A.R.T. read of one listed position.
struct DriveReading {
  DriveTable table;
  int position = 0;
  SmartSectors sectors;
  ReadSmartResult result;
};

// The drive numbers in standby. Asked before the enumeration, whose IDENTIFY may spin a drive up.
std::set<int> DrivesInStandby(DriveSystem& system) {
  std::set<int> asleep;
  for (int driveNumber = 0; driveNumber <= kMaxDriveNumber; ++driveNumber) {
    if (ReadPowerMode(system, driveNumber) == PowerMode::Standby) asleep.insert(driveNumber);
  }
  return asleep;
}

// Exit status when the drive cannot be read at all (no drives, no such position, or with
// `noWake` a drive that was in standby), else nothing.
std::optional<int> ReadDriveAt(CliContext& ctx, const std::string& positionText,
                               DriveReading& reading, bool noWake = false) {
  const std::set<int> asleep = noWake ? DrivesInStandby(ctx.system) : std::set<int>{};
  const auto position = ProbeListedPosition(ctx, reading.table, positionText);
  if (!position) return kExitFailure;
  reading.position = *position;
  const Drive& drive = reading.table.At(*position);
  // The standby question is an ATA one: NVMe drive numbers are another numbering.
  if (!drive.IsNvme() && asleep.count(drive.DriveNumber) != 0) {
    ctx.err << "Drive " << *position << " is asleep (standby): nothing read\n";
    return kExitAsleep;
  }
  reading.result = ReadSMART(ctx.system, reading.table, *position, reading.sectors);
  return std::nullopt;
}

std::vector<AttributeRow> FreshRows(const DriveReading& reading, RawPresentation presentation) {
  if (!reading.result.sectorsRead) return {};
  return BuildAttributeRows(reading.sectors, presentation);
}

Temperatures FreshTemperatures(const DriveReading& reading) {
  if (!reading.result.sectorsRead || reading.table.At(reading.position).IsNvme()) return {};
  return GetTemperatures(reading.sectors.SMARTData);
}

// An NVMe drive's composite temperature, the only one shown for it (low, high and airflow stay
// 0); nothing when the drive or its sensor gave none.
std::optional<int> FreshNvmeTemperature(const DriveReading& reading) {
  if (!reading.result.sectorsRead) return std::nullopt;
  return reading.table.At(reading.position).ReportedTemperature();
}

// What an NVMe drive adds to the smart output: its critical warnings and whether the full log
// could be read.
std::string NvmeSmartText(const Drive& drive, const ReadSmartResult& result, int position) {
  if (!drive.IsNvme() || !result.verdictReached) return {};
  std::string text;
  if (drive.NvmeCriticalWarning != 0) {
    text += "Critical warning:";
    for (const std::string& name : NvmeCriticalWarningNames(drive.NvmeCriticalWarning)) {
      text += " [" + name + "]";
    }
    text += "\n";
  }
  if (drive.NvmeHealthLogNeedsRoot) {
    text += NvmeNeedsRootText("smart", position) +
            "; shown here is the kernel's temperature sensor and alarm.\n";
  }
  return text;
}

// "..." for a temperature the drive does not report, as the main window shows it.
std::string TemperatureText(uint8_t celsius) {
  return celsius == 0 ? "..." : std::to_string(celsius) + " C";
}

// The rows as numbers: an ATA drive's attributes, an NVMe drive's health-log fields.
OrderedJson AttributeJson(const AttributeFacts& a) {
  return {{"id", a.id},
          {"name", a.name},
          {"value", a.value},
          {"worst", a.worst},
          {"threshold", a.threshold},
          {"raw", a.raw},
          {"flags", a.flags},
          {"flagsText", FlagsText(a.flags)},
          {"prefailure", a.PreFailure()},
          {"failingNow", a.FailingNow()},
          {"failedBefore", a.FailedBefore()}};
}

// A counter beyond 64 bits, which a JSON reader's number would round, is given in decimal text.
OrderedJson CounterJson(const NvmeCounter& counter) {
  return counter.High == 0 ? OrderedJson(counter.Low) : OrderedJson(counter.Decimal());
}

OrderedJson NvmeFieldJson(const NvmeHealthField& field) {
  OrderedJson j{{"name", field.name}};
  if (field.count) {
    j["value"] = CounterJson(*field.count);
  } else {
    j["value"] = OptionalJson(field.celsius);
  }
  if (field.threshold) j["threshold"] = *field.threshold;
  if (field.failing) j["failingNow"] = *field.failing;
  return j;
}

OrderedJson TypedAttributesJson(const DriveReading& reading) {
  OrderedJson list = OrderedJson::array();
  if (!reading.result.sectorsRead) return list;
  const SmartSectors& sectors = reading.sectors;
  if (reading.table.At(reading.position).IsNvme()) {
    const auto health =
        sectors.NvmeLogHeld ? DecodeNvmeHealthLog(sectors.NvmeHealthLog) : std::nullopt;
    if (!health) return list;
    for (const NvmeHealthField& field : NvmeHealthFields(*health)) {
      list.push_back(NvmeFieldJson(field));
    }
    return list;
  }
  for (const AttributeFacts& facts :
       BuildAttributeFacts(sectors.SMARTData, sectors.SMARTThresholds)) {
    list.push_back(AttributeJson(facts));
  }
  return list;
}

// READ DATA's self-test status byte: the last test's result, or the running one's progress. Null
// where READ DATA was not read (and on NVMe, whose health log does not carry it).
OrderedJson SelfTestJson(const DriveReading& reading) {
  const Drive& drive = reading.table.At(reading.position);
  if (drive.IsNvme() || !reading.result.sectorsRead) return nullptr;
  const SelfTestStatus s =
      DecodeSelfTestStatus(reading.sectors.SMARTData[kSmartSelfTestStatusByte]);
  return {{"status", SelfTestStatusText(s.Code)}, {"remaining", s.RemainingPercent}};
}

OrderedJson SmartJson(const DriveReading& reading, const std::vector<AttributeRow>& rows,
                      const std::vector<CounterRise>& caution) {
  const Temperatures t = FreshTemperatures(reading);
  const Drive& drive = reading.table.At(reading.position);
  const OrderedJson current =
      drive.IsNvme() ? OptionalJson(FreshNvmeTemperature(reading)) : OrderedJson(t.Current);
  OrderedJson rowsJson = OrderedJson::array();
  for (const AttributeRow& row : rows) rowsJson.push_back(row);
  OrderedJson j{{"position", reading.position},
                {"statusOK", reading.result.statusOK},
                {"readOK", reading.result.sectorsRead},
                {"temperatures",
                 {{"current", current}, {"low", t.Low}, {"high", t.High}, {"airflow", t.Airflow}}},
                {"rows", rowsJson},
                {"attributes", TypedAttributesJson(reading)},
                {"caution", CautionJson(caution)},
                {"selfTest", SelfTestJson(reading)}};
  if (TableHasNvme(reading.table)) AddDriveKind(j, drive);
  if (drive.IsNvme()) {
    j["criticalWarning"] = drive.NvmeCriticalWarning;
    j["criticalWarnings"] = NvmeCriticalWarningNames(drive.NvmeCriticalWarning);
    j["healthLogRead"] = drive.NvmeHealthLogRead;
    j["healthLogNeedsRoot"] = drive.NvmeHealthLogNeedsRoot;
  }
  return j;
}

std::string SmartText(const DriveReading& reading, const std::vector<AttributeRow>& rows,
                      const std::vector<CounterRise>& caution) {
  const Drive& drive = reading.table.At(reading.position);
  const Temperatures t = FreshTemperatures(reading);
  std::string text =
      "Drive " + std::to_string(reading.position) + ": " + PrintableText(drive.ModelNumber) + "\n";
  text += "S.M.A.R.T.: " + (drive.SMARTEnabled ? VerdictText(drive, reading.result) : "off") + "\n";
  for (const CounterRise& rise : caution) text += "Caution: " + DescribeRise(rise) + "\n";
  if (!reading.result.sectorsRead) return text;
  if (drive.IsNvme()) {
    text += "Temperature: " + CelsiusText(FreshNvmeTemperature(reading)) + "\n" +
            NvmeSmartText(drive, reading.result, reading.position);
    if (rows.empty()) return text;
  } else {
    text += "Temperature: " + std::to_string(t.Current) + " C (low " + TemperatureText(t.Low) +
            ", high " + TemperatureText(t.High) + ", airflow " + TemperatureText(t.Airflow) + ")\n";
  }

  std::vector<TextColumn> columns;
  for (const std::string& heading : AttributeRowHeadings()) {
    columns.push_back({heading, heading != "Name" && heading != "Flags" && heading != "Status"});
  }
  std::vector<std::vector<std::string>> cells;
  for (const AttributeRow& row : rows) cells.emplace_back(row.begin(), row.end());
  return text + "\n" + FormatTextTable(columns, cells);
}

}  // namespace

OrderedJson OptionalJson(std::optional<int> value) {
  return value ? OrderedJson(*value) : OrderedJson();
}

std::string CelsiusText(std::optional<int> celsius) {
  return celsius ? std::to_string(*celsius) + " C" : "...";
}

std::string VerdictText(const Drive& drive, const ReadSmartResult& result) {
  const Health health = HealthOf(drive, result);
  if (health == Health::SmartOff) return "S.M.A.R.T. off";
  if (health == Health::Unknown) return "no answer";
  std::string text(dv::VerdictText(health));
  if (!result.sectorsRead) text += " (attributes not read)";
  return text;
}

CounterWatch OpenCounterWatch(CliContext& ctx) {
  CounterWatch watch(
      {CounterStateFilePath(), ThisMachineIdentity(), WriteFileAtomically, UntrustedFolder});
  if (const auto note = watch.Load()) ctx.err << *note << "\n";
  return watch;
}

std::string DumpOrdered(const OrderedJson& value, int indent) {
  return value.dump(indent, ' ', false, OrderedJson::error_handler_t::replace) + "\n";
}

OrderedJson CautionJson(const std::vector<CounterRise>& caution) {
  OrderedJson list = OrderedJson::array();
  for (const CounterRise& rise : caution) {
    list.push_back({{"id", rise.id}, {"name", rise.name}, {"from", rise.from}, {"to", rise.to}});
  }
  return list;
}

std::string CautionText(const std::vector<CounterRise>& caution) {
  std::string text;
  for (const CounterRise& rise : caution) text += (text.empty() ? "" : "; ") + DescribeRise(rise);
  return text;
}

int RunSmart(CliContext& ctx) {
  const auto arguments = ParseDriveArguments(ctx, false);
  if (!arguments) return kExitUsage;
  DriveReading reading;
  if (const auto exitCode = ReadDriveAt(ctx, arguments->position, reading, arguments->noWake)) {
    return *exitCode;
  }

  const auto rows = FreshRows(reading, arguments->presentation);
  // Against the stored values, without storing: a look from here does not use up a warning.
  std::vector<CounterRise> caution;
  const Drive& drive = reading.table.At(reading.position);
  if (drive.SMARTEnabled) {
    const CounterWatch watch = OpenCounterWatch(ctx);
    caution = reading.result.sectorsRead
                  ? watch.Peek(reading.table, reading.position, reading.sectors.SMARTData).caution
                  : watch.Caution(reading.table, reading.position);
    if (const auto twin = TwinOf(reading.table, reading.position)) {
      ctx.err << "Drive " << *twin << " gives the same model and serial: the counters of drive "
              << reading.position << " are not watched\n";
    }
  }
  ctx.out << (ctx.json ? DumpOrdered(SmartJson(reading, rows, caution), 2)
                       : SmartText(reading, rows, caution));
  // A drive with S.M.A.R.T. off was not checked, so it did not fail a check either.
  if (!drive.SMARTEnabled) return kExitSmartOff;
  return reading.result.Passed() ? kExitOk : kExitUnhealthy;
}

int RunReport(CliContext& ctx) {
  const auto arguments = ParseDriveArguments(ctx, true);
  if (!arguments) return kExitUsage;
  DriveReading reading;
  if (const auto exitCode = ReadDriveAt(ctx, arguments->position, reading)) return *exitCode;
  const Drive& drive = reading.table.At(reading.position);
  if (!drive.SMARTEnabled) {
    ctx.err << "S.M.A.R.T. is off on drive " << reading.position << ": nothing to report\n";
    return kExitSmartOff;
  }
  if (reading.result.sectorsRead && drive.IsNvme() && !drive.NvmeHealthLogRead) {
    // The report holds the identification alone, as the window's saved report does then.
    ctx.err << "Drive " << reading.position << ": " << NvmeNeedsRootText("report", reading.position)
            << "; the report holds its identification only.\n";
  }
  if (!reading.result.sectorsRead) {
    // An empty table would pass for a drive without attributes; say so and write nothing.
    ctx.err << "The S.M.A.R.T. attributes of drive " << reading.position << " could not be read\n";
    return kExitUnhealthy;
  }

  // The date and time follow the user's locale, as they do in the desktop program.
  std::setlocale(LC_TIME, "");
  const std::string text = BuildSMARTReport(
      {drive.ModelNumber, drive.FirmwareRevision, drive.SerialNumber},
      FreshRows(reading, arguments->presentation), ReportLocalTime(std::time(nullptr)));
  if (!arguments->outputPath) {
    // A terminal gets no control bytes from a drive's texts; a file or pipe gets the report as is.
    ctx.out << (ctx.outIsTerminal ? PrintableLines(text) : text);
    return kExitOk;
  }
  if (const auto error = WriteReportFile(*arguments->outputPath, text)) {
    ctx.err << *error << "\n";
    return kExitFailure;
  }
  return kExitOk;
}

}  // namespace dv::cli
