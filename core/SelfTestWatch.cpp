#include "core/SelfTestWatch.h"

#include <algorithm>

namespace dv {

std::string ScheduledSelfTestText(const SelfTestLook::Scheduled& scheduled) {
  if (scheduled.start.outcome != SelfTestStart::Outcome::Started) {
    return "scheduled self-test not started: " + scheduled.start.reason;
  }
  return "scheduled short self-test started (" +
         (scheduled.ageHours
              ? "the last one ended " + std::to_string(*scheduled.ageHours) + " hours ago"
              : std::string("none logged")) +
         ")";
}

void SelfTestWatch::Take(const PositionReading& reading, const SmartSectors& sectors) {
  if (!reading.monitored || reading.asleep || !reading.result.sectorsRead) return;
  if (!table_.IsListed(reading.position)) return;
  const Drive& drive = table_.At(reading.position);
  std::erase_if(fresh_, [&](const FreshDrive& d) { return d.position == reading.position; });
  // The hours only date the last test for the schedule (and its metrics): without one they are
  // not looked up at every pass.
  fresh_.push_back(
      {reading.position,
       days_ > 0 ? PowerOnHoursOf(drive, sectors.SMARTData, sectors.NvmeHealthLog) : std::nullopt});
}

SelfTestLook SelfTestWatch::Look(bool warnings) {
  SelfTestLook look;
  std::optional<std::pair<int, std::optional<uint64_t>>> firstDue;
  const std::vector<FreshDrive> fresh = std::move(fresh_);
  fresh_.clear();
  if (days_ == 0 && !warnings) return look;
  for (const FreshDrive& drive : fresh) {
    if (!table_.IsListed(drive.position)) continue;  // the list changed since the pass
    const Drive& record = table_.At(drive.position);
    const SelfTestLogReading log = ReadSelfTestLog(system_, record);
    if (!log.read) continue;
    const auto age = LastSelfTestAgeHours(log, !record.IsNvme(), drive.powerOnHours);
    if (!log.rows.empty()) look.newest.push_back({drive.position, log.rows.front().Code, age});
    if (log.running) look.running.push_back(drive.position);
    if (!firstDue && ScheduledSelfTestDue(log, age, days_)) firstDue.emplace(drive.position, age);
    if (warnings) {
      auto lines = Warnings(drive.position, log);
      if (!lines.empty()) look.warnings[drive.position] = std::move(lines);
    }
  }
  if (firstDue && look.running.empty()) {
    look.scheduled = SelfTestLook::Scheduled{
        firstDue->first, firstDue->second,
        StartSelfTest(system_, table_.At(firstDue->first), SelfTestKind::Short)};
  }
  return look;
}

std::vector<std::string> SelfTestWatch::Warnings(int position, const SelfTestLogReading& log) {
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

}  // namespace dv
