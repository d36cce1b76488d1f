// `diskvigil-cli smart`, `report` and `monitor`: the S.M.A.R.T. read of one drive, its text report,
// and the headless monitoring pass on a timer.
#include <algorithm>
#include <atomic>
#include <charconv>
#include <chrono>
#include <clocale>
#include <csignal>
#include <ctime>
#include <map>
#include <ostream>
#include <set>
#include <thread>

#include "settings/IniFile.h"
#include "cli/Cli.h"
#include "cli/CliSupport.h"
#include "cli/Metrics.h"
#include "core/AttributeRows.h"
#include "core/Counters.h"
#include "core/Monitor.h"
#include "core/Nvme.h"
#include "core/PowerMode.h"
#include "core/SmartData.h"
#include "core/Temperatures.h"
#include "core/TextReport.h"

namespace dv::cli {
namespace {

constexpr double kDefaultIntervalSeconds = 15;
constexpr double kMaxIntervalSeconds = 24 * 60 * 60;
constexpr auto kWaitSlice = std::chrono::milliseconds(50);

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
  DriveArguments parsed;
  bool havePosition = false;
  for (size_t i = 0; i < ctx.args.size(); ++i) {
    const std::string& arg = ctx.args[i];
    if (arg == "--dec") {
      parsed.presentation = RawPresentation::Dec;
    } else if (allowOutput && arg == "-o" && i + 1 < ctx.args.size() && !parsed.outputPath) {
      parsed.outputPath = ctx.args[++i];
    } else if (!allowOutput && arg == "--no-wake") {
      parsed.noWake = true;
    } else if (!havePosition && !arg.starts_with("-")) {
      parsed.position = arg;
      havePosition = true;
    } else {
      ctx.err << "Unexpected argument: " << PrintableText(arg) << "\n" << UsageText();
      return std::nullopt;
    }
  }
  if (!havePosition) {
    ctx.err << "A drive position is needed\n" << UsageText();
    return std::nullopt;
  }
  if (RefuseNonNumericPosition(ctx, parsed.position)) return std::nullopt;
  return parsed;
}

// Keys in the order the documentation lists them.
using OrderedJson = nlohmann::ordered_json;

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
  if (!ProbeOrComplain(ctx, reading.table)) return kExitFailure;
  const auto position = ParseListedPosition(ctx, reading.table, positionText);
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

// "41 C", or "..." for a temperature the drive did not give.
std::string CelsiusText(std::optional<int> celsius) {
  return celsius ? std::to_string(*celsius) + " C" : "...";
}

OrderedJson OptionalJson(std::optional<int> value) {
  return value ? OrderedJson(*value) : OrderedJson();
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

std::string VerdictText(const Drive& drive, const ReadSmartResult& result) {
  if (!drive.SMARTEnabled) return "S.M.A.R.T. off";
  if (!result.verdictReached) return "no answer";
  std::string text = result.statusOK ? "O.K." : "ERROR";
  if (!result.sectorsRead) text += " (attributes not read)";
  return text;
}

// "..." for a temperature the drive does not report, as the main window shows it.
std::string TemperatureText(uint8_t celsius) {
  return celsius == 0 ? "..." : std::to_string(celsius) + " C";
}

// The watch over the counters that predict failure, on the state file the desktop program keeps
// too. A file set aside is named on standard error.
CounterWatch OpenCounterWatch(CliContext& ctx) {
  CounterWatch watch(
      {CounterStateFilePath(), ThisMachineIdentity(), WriteFileAtomically, UntrustedFolder});
  if (const auto note = watch.Load()) ctx.err << *note << "\n";
  return watch;
}

std::string DumpOrdered(const OrderedJson& value, int indent) {
  return value.dump(indent, ' ', false, OrderedJson::error_handler_t::replace) + "\n";
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
                {"caution", CautionJson(caution)}};
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

// SIGINT and SIGTERM ask a running monitor to stop after its pass; the flag is the one thing a
// signal handler may safely touch.
volatile std::sig_atomic_t stopRequested = 0;

extern "C" void RequestStop(int) { stopRequested = 1; }

// Installs the stop handlers for the monitor's lifetime and puts the earlier ones back.
class StopSignals {
 public:
  StopSignals() {
    stopRequested = 0;
    previousInt_ = std::signal(SIGINT, RequestStop);
    previousTerm_ = std::signal(SIGTERM, RequestStop);
  }
  ~StopSignals() {
    std::signal(SIGINT, previousInt_);
    std::signal(SIGTERM, previousTerm_);
  }
  StopSignals(const StopSignals&) = delete;
  StopSignals& operator=(const StopSignals&) = delete;

  bool Requested() const { return stopRequested != 0; }

  // Sleeps up to `seconds`, waking early when a stop is asked for. Returns whether to go on.
  bool Wait(double seconds) const {
    const auto until = std::chrono::steady_clock::now() + std::chrono::duration<double>(seconds);
    while (!Requested()) {
      const auto now = std::chrono::steady_clock::now();
      if (now >= until) return true;
      std::this_thread::sleep_for(std::min<std::chrono::steady_clock::duration>(
          kWaitSlice,
          std::chrono::duration_cast<std::chrono::steady_clock::duration>(until - now)));
    }
    return false;
  }

 private:
  using Handler = void (*)(int);
  Handler previousInt_;
  Handler previousTerm_;
};

struct MonitorArguments {
  double intervalSeconds = kDefaultIntervalSeconds;
  std::optional<long> count;
  std::optional<std::string> textfile;
  bool noWake = false;
};

std::optional<double> ParseSeconds(const std::string& text) {
  double value = 0;
  const auto [end, error] = std::from_chars(text.data(), text.data() + text.size(), value);
  if (error != std::errc() || end != text.data() + text.size()) return std::nullopt;
  if (!(value >= 0 && value <= kMaxIntervalSeconds)) return std::nullopt;
  return value;
}

std::optional<long> ParseCount(const std::string& text) {
  long value = 0;
  const auto [end, error] = std::from_chars(text.data(), text.data() + text.size(), value);
  if (error != std::errc() || end != text.data() + text.size() || value < 1) return std::nullopt;
  return value;
}

std::optional<MonitorArguments> ParseMonitorArguments(CliContext& ctx) {
  MonitorArguments parsed;
  for (size_t i = 0; i < ctx.args.size(); ++i) {
    const std::string& arg = ctx.args[i];
    const bool hasValue = i + 1 < ctx.args.size();
    if (arg == "--interval" && hasValue) {
      const auto seconds = ParseSeconds(ctx.args[++i]);
      if (!seconds) {
        ctx.err << "--interval needs a number of seconds from 0 to " << kMaxIntervalSeconds << "\n";
        return std::nullopt;
      }
      parsed.intervalSeconds = *seconds;
    } else if (arg == "--no-wake") {
      parsed.noWake = true;
    } else if (arg == "--count" && hasValue) {
      parsed.count = ParseCount(ctx.args[++i]);
      if (!parsed.count) {
        ctx.err << "--count needs a whole number of passes, 1 or more\n";
        return std::nullopt;
      }
    } else if (arg == "--textfile" && hasValue && !parsed.textfile) {
      parsed.textfile = ctx.args[++i];
    } else {
      ctx.err << "Unexpected argument: " << PrintableText(arg) << "\n" << UsageText();
      return std::nullopt;
    }
  }
  return parsed;
}

std::string NowText() {
  const std::tm local = ReportLocalTime(std::time(nullptr));
  char text[32];
  const size_t length = std::strftime(text, sizeof text, "%Y-%m-%d %H:%M:%S", &local);
  return std::string(text, length);
}

// One output line per pass, as text or as one JSON object.
class PassPrinter {
 public:
  PassPrinter(const DriveTable& table, bool noWake) : table_(table), noWake_(noWake) {}

  Monitor::Observer Observer() {
    return [this](const PositionReading& reading, const SmartSectors&) {
      readings_.push_back(reading);
    };
  }
  // The rises standing for a position in this pass.
  void NoteCaution(int position, std::vector<CounterRise> caution) {
    cautions_[position] = std::move(caution);
  }

  std::string Line(bool json, bool good) const { return json ? JsonLine(good) : TextLine(good); }
  void Clear() {
    readings_.clear();
    cautions_.clear();
  }
  const std::vector<PositionReading>& Readings() const { return readings_; }

 private:
  std::string JsonLine(bool good) const {
    OrderedJson drives = OrderedJson::array();
    for (const PositionReading& r : readings_) {
      const Drive& drive = table_.At(r.position);
      OrderedJson entry{
          {"position", r.position},
          {"model", drive.ModelNumber},
          {"statusOK", r.result.statusOK},
          {"readOK", r.result.sectorsRead},
          {"temperature",
           r.result.sectorsRead ? OptionalJson(drive.ReportedTemperature()) : OrderedJson(0)}};
      if (TableHasNvme(table_)) AddDriveKind(entry, drive);
      if (drive.IsNvme()) entry["criticalWarning"] = drive.NvmeCriticalWarning;
      if (noWake_ && r.monitored) entry["powerMode"] = PowerModeName(r.powerMode);
      if (r.asleep) {
        // The last reading stands: its verdict and temperature, and how old it is.
        entry["asleep"] = true;
        entry["statusOK"] = drive.SMARTStatusOK;
        entry["temperature"] = drive.Temperature;
        entry["readingAge"] = r.readingAge ? OrderedJson(r.readingAge->count()) : OrderedJson();
      }
      if (const auto* caution = CautionOf(r.position)) entry["caution"] = CautionJson(*caution);
      drives.push_back(entry);
    }
    return DumpOrdered({{"time", NowText()}, {"good", good}, {"drives", drives}}, -1);
  }

  std::string TextLine(bool good) const {
    std::string line = NowText();
    for (const PositionReading& r : readings_) {
      const Drive& drive = table_.At(r.position);
      line += "  [" + std::to_string(r.position) + "] " + PrintableText(drive.ModelNumber) + ": ";
      if (r.asleep) {
        line += AsleepText(r.readingAge);
      } else {
        line += VerdictText(drive, r.result);
        if (r.result.sectorsRead) line += " " + CelsiusText(drive.ReportedTemperature());
      }
      if (const auto* caution = CautionOf(r.position))
        line += ", caution: " + CautionText(*caution);
    }
    return line + (good ? "  pass: good\n" : "  pass: BAD\n");
  }

  const std::vector<CounterRise>* CautionOf(int position) const {
    const auto found = cautions_.find(position);
    return found == cautions_.end() || found->second.empty() ? nullptr : &found->second;
  }

  const DriveTable& table_;
  bool noWake_;
  std::vector<PositionReading> readings_;
  std::map<int, std::vector<CounterRise>> cautions_;
};

}  // namespace

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

// The warning mail after a bad pass: every listed drive with its verdict from this pass.
static void SendWarningMail(CliContext& ctx, const std::filesystem::path& settingsPath,
                            const DriveTable& table, const std::vector<PositionReading>& readings) {
  std::vector<ReportDrive> drives;
  for (int position = 1; position <= table.DriveCount; ++position) {
    ReadSmartResult result;
    for (const PositionReading& reading : readings) {
      if (reading.position != position) continue;
      result = reading.result;
      if (reading.asleep && reading.readingAge) {
        // Left asleep: the mail gives the last reading, as the pass line does.
        result = {true, table.At(position).SMARTStatusOK, true};
      }
    }
    drives.push_back(MailReportDrive(table.At(position), result));
  }
  ctx.err << MailOutcomeLine(SendReport(ctx, settingsPath, drives)) << "\n" << std::flush;
}

// The counters of one monitored position checked (a fresh reading) or looked up (a drive left
// asleep); nothing for a position not monitored or not read.
static std::optional<std::vector<CounterRise>> WatchCounters(CounterWatch& counters,
                                                             const DriveTable& table,
                                                             const PositionReading& reading,
                                                             const SmartSectors& sectors) {
  if (!reading.monitored || !table.IsListed(reading.position)) return std::nullopt;
  if (reading.asleep) return counters.Caution(table, reading.position);
  if (!reading.result.sectorsRead) return std::nullopt;
  return counters.Take(table, reading.position, sectors.SMARTData).caution;
}

int RunMonitor(CliContext& ctx) {
  const auto settingsPath = TakeSettingsOption(ctx).value_or(SettingsFilePath());
  const auto arguments = ParseMonitorArguments(ctx);
  if (!arguments) return kExitUsage;
  // Before the first drive command, so a signal at any moment ends the monitor cleanly.
  const StopSignals stop;
  DriveTable table;
  if (!ProbeOrComplain(ctx, table)) return kExitFailure;

  SmartSectors sectors;
  Monitor monitor(ctx.system, table, sectors);
  monitor.SetSkipSleepingDrives(arguments->noWake);
  PassPrinter printer(table, arguments->noWake);
  std::optional<MetricsTextfile> textfile;
  if (arguments->textfile) textfile.emplace(ctx.system, table, *arguments->textfile);
  CounterWatch counters = OpenCounterWatch(ctx);
  for (const std::string& note : TwinNotes(table)) ctx.err << note << "\n";
  std::optional<std::string> lastStateError;
  bool lastGood = true;
  for (long pass = 1;; ++pass) {
    printer.Clear();
    const auto print = printer.Observer();
    lastGood =
        monitor
            .CheckHDDs(0,
                       [&](const PositionReading& reading, const SmartSectors& sectors) {
                         print(reading, sectors);
                         const auto caution = WatchCounters(counters, table, reading, sectors);
                         if (caution) printer.NoteCaution(reading.position, *caution);
                         if (textfile) {
                           textfile->Take(
                               reading, sectors,
                               caution ? std::optional<bool>(!caution->empty()) : std::nullopt);
                         }
                       })
            .good;
    ctx.out << printer.Line(ctx.json, lastGood) << std::flush;
    // A state file that cannot be written is told once, not at every pass.
    const auto stateError = counters.Save();
    if (stateError && stateError != lastStateError) ctx.err << *stateError << "\n" << std::flush;
    lastStateError = stateError;
    // A file that cannot be written at the first pass is a mistake in the command; later it may
    // be passing trouble, so the monitor says so and goes on.
    if (const auto error = textfile ? textfile->WritePass(std::time(nullptr)) : std::nullopt) {
      ctx.err << *error << "\n" << std::flush;
      if (pass == 1) return kExitFailure;
    }
    if (!lastGood && WarningMailsOn(settingsPath)) {
      SendWarningMail(ctx, settingsPath, table, printer.Readings());
    }
    const bool last = arguments->count && pass >= *arguments->count;
    if (last || stop.Requested() || !stop.Wait(arguments->intervalSeconds)) break;
  }
  return lastGood ? kExitOk : kExitUnhealthy;
}

}  // namespace dv::cli
