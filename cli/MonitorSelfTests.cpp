#include "cli/MonitorSelfTests.h"

#include <ostream>

namespace dv::cli {

void MonitorSelfTests::Take(const PositionReading& reading, const SmartSectors& sectors) {
  if (!reading.monitored || reading.asleep || !reading.result.sectorsRead) return;
  if (!table_.IsListed(reading.position)) return;
  const Drive& drive = table_.At(reading.position);
  fresh_.push_back(
      {reading.position, PowerOnHoursOf(drive, sectors.SMARTData, sectors.NvmeHealthLog)});
}

std::map<int, std::vector<std::string>> MonitorSelfTests::AfterPass(std::ostream& err,
                                                                    MetricsTextfile* textfile,
                                                                    bool warnings) {
  std::map<int, std::vector<std::string>> warned;
  std::optional<std::pair<int, std::optional<uint64_t>>> firstDue;
  bool anyRunning = false;
  const std::vector<FreshDrive> fresh = std::move(fresh_);
  fresh_.clear();
  if (days_ == 0 && !warnings) return warned;
  for (const FreshDrive& drive : fresh) {
    const Drive& record = table_.At(drive.position);
    const SelfTestLogReading log = ReadSelfTestLog(system_, record);
    if (!log.read) continue;
    const auto age = LastSelfTestAgeHours(log, !record.IsNvme(), drive.powerOnHours);
    if (textfile && days_ > 0 && !log.rows.empty()) {
      textfile->TakeSelfTest(drive.position, log.rows.front().Code, age);
    }
    anyRunning = anyRunning || log.running;
    if (!firstDue && ScheduledSelfTestDue(log, age, days_)) firstDue.emplace(drive.position, age);
    if (warnings) {
      auto lines = Warnings(drive.position, log);
      if (!lines.empty()) warned[drive.position] = std::move(lines);
    }
  }
  if (firstDue) Schedule(err, anyRunning, firstDue->first, firstDue->second);
  return warned;
}

void MonitorSelfTests::Schedule(std::ostream& err, bool anyRunning, int position,
                                std::optional<uint64_t> age) {
  if (anyRunning) return;
  const SelfTestStart start = StartSelfTest(system_, table_.At(position), SelfTestKind::Short);
  err << "Drive " << position << ": ";
  if (start.outcome == SelfTestStart::Outcome::Started) {
    err << "scheduled short self-test started ("
        << (age ? "the last one ended " + std::to_string(*age) + " hours ago"
                : std::string("none logged"))
        << ")\n";
  } else {
    err << "scheduled self-test not started: " << start.reason << "\n";
  }
  err << std::flush;
}

std::vector<std::string> MonitorSelfTests::Warnings(int position, const SelfTestLogReading& log) {
  std::vector<std::string> lines;
  if (!log.rows.empty() && log.rows.front().Failed) {
    const SelfTestRow& row = log.rows.front();
    std::string line = "self-test failed: " + row.Type + " test, " + row.Status;
    if (row.FirstErrorLba) line += " at LBA " + std::to_string(*row.FirstErrorLba);
    line += ", " + std::to_string(row.LifetimeHours) + " power-on hours";
    if (warnedEntry_[position] != line) lines.push_back(line);
    warnedEntry_[position] = line;
  }
  const Drive& drive = table_.At(position);
  if (drive.IsNvme()) return lines;
  const ErrorLogReading errors = ReadErrorLog(system_, drive);
  if (!errors.read) return lines;
  const auto before = errorCount_.find(position);
  if (before != errorCount_.end() && errors.log.Count > before->second) {
    lines.push_back("error log count rose from " + std::to_string(before->second) + " to " +
                    std::to_string(errors.log.Count));
  }
  errorCount_[position] = errors.log.Count;
  return lines;
}

}  // namespace dv::cli
