#include "cli/ScheduledSelfTests.h"

#include <ostream>

#include "core/SelfTest.h"

namespace dv::cli {

void ScheduledSelfTests::Take(const PositionReading& reading, const SmartSectors& sectors) {
  if (!reading.monitored || reading.asleep || !reading.result.sectorsRead) return;
  if (!table_.IsListed(reading.position)) return;
  const Drive& drive = table_.At(reading.position);
  fresh_.push_back(
      {reading.position, PowerOnHoursOf(drive, sectors.SMARTData, sectors.NvmeHealthLog)});
}

void ScheduledSelfTests::AfterPass(std::ostream& err, MetricsTextfile* textfile) {
  struct Candidate {
    int position;
    std::optional<uint64_t> ageHours;
  };
  std::vector<Candidate> due;
  bool anyRunning = false;
  for (const FreshDrive& fresh : fresh_) {
    const Drive& drive = table_.At(fresh.position);
    const SelfTestLogReading log = ReadSelfTestLog(system_, drive);
    if (!log.read) continue;
    const auto age = LastSelfTestAgeHours(log, !drive.IsNvme(), fresh.powerOnHours);
    if (textfile && !log.rows.empty())
      textfile->TakeSelfTest(fresh.position, log.rows.front().Code, age);
    anyRunning = anyRunning || log.running;
    if (ScheduledSelfTestDue(log, age, days_)) due.push_back({fresh.position, age});
  }
  fresh_.clear();
  if (anyRunning || due.empty()) return;
  const Candidate& next = due.front();
  const SelfTestStart start = StartSelfTest(system_, table_.At(next.position), SelfTestKind::Short);
  err << "Drive " << next.position << ": ";
  if (start.outcome == SelfTestStart::Outcome::Started) {
    err << "scheduled short self-test started ("
        << (next.ageHours ? "the last one ended " + std::to_string(*next.ageHours) + " hours ago"
                          : std::string("none logged"))
        << ")\n";
  } else {
    err << "scheduled self-test not started: " << start.reason << "\n";
  }
  err << std::flush;
}

}  // namespace dv::cli
