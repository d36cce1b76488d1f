// `diskvigil-cli monitor`: every drive checked on a timer, one line per pass, the warning mail
// after a bad pass and the metrics file after every pass, until a signal or the pass count ends it.
#include <algorithm>
#include <charconv>
#include <chrono>
#include <csignal>
#include <ctime>
#include <filesystem>
#include <map>
#include <memory>
#include <optional>
#include <ostream>
#include <thread>

#include "cli/Arguments.h"
#include "cli/Cli.h"
#include "cli/CliSupport.h"
#include "cli/Metrics.h"
#include "cli/MonitorHistory.h"
#include "cli/MonitorSelfTests.h"
#include "cli/SmartOutput.h"
#include "core/Counters.h"
#include "core/Monitor.h"
#include "core/PowerMode.h"
#include "mail/MailPlatform.h"
#include "settings/IniFile.h"
#include "settings/SettingsKeys.h"

namespace dv::cli {
namespace {

constexpr double kDefaultIntervalSeconds = 15;
constexpr double kMaxIntervalSeconds = 24 * 60 * 60;
constexpr auto kWaitSlice = std::chrono::milliseconds(50);

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
  std::filesystem::path settingsPath;
  double intervalSeconds = kDefaultIntervalSeconds;
  std::optional<long> count;
  std::optional<std::string> textfile;
  bool noWake = false;
  int selfTestDays = 0;  // 0: no scheduled self-tests
  bool history = false;
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
  const auto words =
      ParseArguments(ctx, Position::None,
                     {ValueOption("--interval", true), ValueOption("--count", true),
                      ValueOption("--textfile"), Flag("--no-wake", true), Flag("--history", true),
                      ValueOption(kSettingsOption), ValueOption("--self-test-days")});
  if (!words) return std::nullopt;
  MonitorArguments parsed;
  parsed.settingsPath = SettingsPathOf(*words);
  if (const auto text = words->Value("--interval")) {
    const auto seconds = ParseSeconds(*text);
    if (!seconds) {
      ctx.err << "--interval needs a number of seconds from 0 to " << kMaxIntervalSeconds << "\n";
      return std::nullopt;
    }
    parsed.intervalSeconds = *seconds;
  }
  if (const auto text = words->Value("--count")) {
    parsed.count = ParseCount(*text);
    if (!parsed.count) {
      ctx.err << "--count needs a whole number of passes, 1 or more\n";
      return std::nullopt;
    }
  }
  parsed.textfile = words->Value("--textfile");
  parsed.noWake = words->Has("--no-wake");
  parsed.history = words->Has("--history");
  if (const auto text = words->Value("--self-test-days")) {
    const auto days = ParseCount(*text);
    if (!days || *days > kMaxSelfTestDays) {
      ctx.err << "--self-test-days needs a whole number of days from 1 to " << kMaxSelfTestDays
              << "\n";
      return std::nullopt;
    }
    parsed.selfTestDays = static_cast<int>(*days);
  }
  return parsed;
}

// The pass line's time, formatted once a second: at a short interval many passes share it.
// ToLocalTime reads the time zone once per run, where std::localtime looks at the zone file again
// at every call, a file system lookup at every pass.
class PassClock {
 public:
  const std::string& NowText() {
    const std::time_t now = std::time(nullptr);
    if (now != shown_) {
      const std::tm local = ToLocalTime(now).fields;
      char text[32];
      text_.assign(text, std::strftime(text, sizeof text, "%Y-%m-%d %H:%M:%S", &local));
      shown_ = now;
    }
    return text_;
  }

 private:
  std::time_t shown_ = -1;
  std::string text_;
};

// When the pass lines are written out. Passes back to back (interval 0) write their lines out
// together once a second (a write for each line was a tenth of such a pass's cost); with any wait
// between passes, after a bad pass and at the end each line goes out at once.
class LineFlush {
 public:
  explicit LineFlush(double intervalSeconds) : everyPass_(intervalSeconds > 0) {}

  bool Due(bool good) {
    const auto now = std::chrono::steady_clock::now();
    if (!everyPass_ && good && now - flushedAt_ < kAtMost) return false;
    flushedAt_ = now;
    return true;
  }

 private:
  static constexpr std::chrono::seconds kAtMost{1};
  bool everyPass_;
  std::chrono::steady_clock::time_point flushedAt_;
};

// While the monitor runs, anything written to the error stream first flushes the lines before it,
// so the two keep their order in a shared log.
class ErrorsAfterLines {
 public:
  ErrorsAfterLines(std::ostream& out, std::ostream& err) : err_(err), before_(err.tie(&out)) {}
  ~ErrorsAfterLines() { err_.tie(before_); }
  ErrorsAfterLines(const ErrorsAfterLines&) = delete;
  ErrorsAfterLines& operator=(const ErrorsAfterLines&) = delete;

 private:
  std::ostream& err_;
  std::ostream* before_;
};

// One output line per pass, as text or as one JSON object.
class PassPrinter {
 public:
  PassPrinter(const DriveTable& table, bool noWake) : table_(table), noWake_(noWake) {}

  Monitor::Observer Observer() {
    return [this](const PositionReading& reading, const SmartSectors&) {
      readings_.push_back(reading);
    };
  }
  // The rises standing for a position in this pass; an empty caution is not kept.
  void NoteCaution(int position, std::vector<CounterRise> caution) {
    if (!caution.empty()) cautions_[position] = std::move(caution);
  }

  std::string Line(bool json, bool good) { return json ? JsonLine(good) : TextLine(good); }
  void Clear() {
    readings_.clear();
    cautions_.clear();
  }
  const std::vector<PositionReading>& Readings() const { return readings_; }

 private:
  std::string JsonLine(bool good) {
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
    return DumpOrdered({{"time", clock_.NowText()}, {"good", good}, {"drives", drives}}, -1);
  }

  // Appended piece by piece into one string: it is written at every pass.
  std::string TextLine(bool good) {
    std::string line;
    line.reserve(kLineReserve);
    line.append(clock_.NowText());
    for (const PositionReading& r : readings_) {
      const Drive& drive = table_.At(r.position);
      line.append("  [").append(std::to_string(r.position)).append("] ");
      line.append(PrintableText(drive.ModelNumber)).append(": ");
      if (r.asleep) {
        line.append(AsleepText(r.readingAge));
      } else {
        line.append(VerdictText(drive, r.result));
        if (r.result.sectorsRead) {
          line.append(" ").append(CelsiusText(drive.ReportedTemperature()));
        }
      }
      if (const auto* caution = CautionOf(r.position)) {
        line.append(", caution: ").append(CautionText(*caution));
      }
    }
    return line.append(good ? "  pass: good\n" : "  pass: BAD\n");
  }
  static constexpr size_t kLineReserve = 512;

  const std::vector<CounterRise>* CautionOf(int position) const {
    const auto found = cautions_.find(position);
    return found == cautions_.end() || found->second.empty() ? nullptr : &found->second;
  }

  const DriveTable& table_;
  bool noWake_;
  PassClock clock_;
  std::vector<PositionReading> readings_;
  std::map<int, std::vector<CounterRise>> cautions_;
};

// The warning mail after a bad pass: every listed drive with its verdict from this pass.
void SendWarningMail(CliContext& ctx, const std::filesystem::path& settingsPath,
                     const DriveTable& table, const std::vector<PositionReading>& readings,
                     const std::map<int, std::vector<std::string>>& notes) {
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
    if (const auto found = notes.find(position); found != notes.end()) {
      drives.back().notes = found->second;
    }
  }
  ctx.err << MailOutcomeLine(SendReport(ctx, settingsPath, drives)) << "\n" << std::flush;
}

// A switch of the settings file ("SMTP Warnings": whether a bad pass sends the warning mail). The
// file is read again only when it has changed, so that a run of bad passes does not read it at each
// one while the switch still follows the user's settings during a long run. Its time stamp is
// looked at once a second at most: at a short interval that lookup was a tenth of a pass's cost.
class WarningMailSwitch {
 public:
  explicit WarningMailSwitch(std::filesystem::path settingsPath,
                             std::string_view key = kSmtpWarningsKey)
      : path_(std::move(settingsPath)), key_(key) {}

  bool On() {
    const auto now = std::chrono::steady_clock::now();
    if (known_ && now - lookedAt_ < kLookEvery) return on_;
    lookedAt_ = now;
    std::error_code error;
    const auto stamp = std::filesystem::last_write_time(path_, error);
    const auto version = error ? std::nullopt : std::optional(stamp);
    if (!known_ || version != version_) {
      on_ = IniFile(path_).ReadBool(key_, false);
      version_ = version;
      known_ = true;
    }
    return on_;
  }

 private:
  std::filesystem::path path_;
  std::string_view key_;
  static constexpr std::chrono::seconds kLookEvery{1};
  std::optional<std::filesystem::file_time_type> version_;  // none: no file
  std::chrono::steady_clock::time_point lookedAt_;
  bool known_ = false;
  bool on_ = false;
};

// The counters of one monitored position checked (a fresh reading) or looked up (a drive left
// asleep); nothing for a position not monitored or not read.
std::optional<std::vector<CounterRise>> WatchCounters(CounterWatch& counters,
                                                      const DriveTable& table,
                                                      const PositionReading& reading,
                                                      const SmartSectors& sectors) {
  if (!reading.monitored || !table.IsListed(reading.position)) return std::nullopt;
  if (reading.asleep) return counters.Caution(table, reading.position);
  if (!reading.result.sectorsRead) return std::nullopt;
  return counters.Take(table, reading.position, sectors.SMARTData).caution;
}

}  // namespace

int RunMonitor(CliContext& ctx) {
  const auto arguments = ParseMonitorArguments(ctx);
  if (!arguments) return kExitUsage;
  const std::filesystem::path& settingsPath = arguments->settingsPath;
  // Before the first drive command, so a signal at any moment ends the monitor cleanly.
  const StopSignals stop;
  DriveTable table;
  if (!ProbeOrComplain(ctx, table, ProbeChanges::SwitchOnConveniences)) return kExitFailure;

  SmartSectors sectors;
  Monitor monitor(ctx.system, table, sectors);
  monitor.SetSkipSleepingDrives(arguments->noWake);
  PassPrinter printer(table, arguments->noWake);
  std::optional<MetricsTextfile> textfile;
  if (arguments->textfile) textfile.emplace(ctx.system, table, *arguments->textfile);
  MonitorSelfTests selfTests(ctx.system, table, arguments->selfTestDays);
  WarningMailSwitch selfTestWarnings(settingsPath, kSelfTestWarningsKey);
  CounterWatch counters = OpenCounterWatch(ctx);
  for (const std::string& note : TwinNotes(table)) ctx.err << note << "\n";
  std::optional<std::string> lastStateError;
  const std::unique_ptr<MonitorHistory> history =
      arguments->history ? OpenMonitorHistory(ctx) : nullptr;
  std::optional<std::string> lastHistoryError;
  WarningMailSwitch warningMails(settingsPath);
  LineFlush lineFlush(arguments->intervalSeconds);
  const ErrorsAfterLines errorsAfterLines(ctx.out, ctx.err);
  bool lastGood = true;
  // Made once: it holds more than a std::function keeps without an allocation.
  const auto print = printer.Observer();
  const Monitor::Observer observer = [&](const PositionReading& reading,
                                         const SmartSectors& sectors) {
    print(reading, sectors);
    selfTests.Take(reading, sectors);
    const auto caution = WatchCounters(counters, table, reading, sectors);
    if (caution) printer.NoteCaution(reading.position, *caution);
    const auto rose = caution ? std::optional<bool>(!caution->empty()) : std::nullopt;
    if (textfile) textfile->Take(reading, sectors, rose);
    if (history) history->Take(table, reading, sectors, rose);
  };
  for (long pass = 1;; ++pass) {
    printer.Clear();
    lastGood = monitor.CheckHDDs(0, observer).good;
    // A failed self-test or a rise of the error count warns like a failing verdict.
    const auto notes =
        selfTests.AfterPass(ctx.err, textfile ? &*textfile : nullptr, selfTestWarnings.On());
    for (const auto& [position, lines] : notes) {
      for (const std::string& line : lines) ctx.err << "Drive " << position << ": " << line << "\n";
    }
    lastGood = lastGood && notes.empty();
    // Before the pass line: a pass that was printed is in the history.
    const auto historyError = history ? history->WritePass() : std::nullopt;
    if (historyError && historyError != lastHistoryError) {
      ctx.err << *historyError << "\n" << std::flush;
    }
    lastHistoryError = historyError;
    ctx.out << printer.Line(ctx.json, lastGood);
    if (lineFlush.Due(lastGood)) ctx.out << std::flush;
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
    if (!lastGood && warningMails.On()) {
      SendWarningMail(ctx, settingsPath, table, printer.Readings(), notes);
    }
    const bool last = arguments->count && pass >= *arguments->count;
    if (last || stop.Requested() || !stop.Wait(arguments->intervalSeconds)) break;
  }
  ctx.out << std::flush;
  return lastGood ? kExitOk : kExitUnhealthy;
}

}  // namespace dv::cli
