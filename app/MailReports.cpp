#include "app/MailReports.h"

#include "core/SmartData.h"

namespace dv {

namespace {
constexpr int kMillisecondsPerMinute = 60000;
}  // namespace

void MailReports::SetDelayMinutes(int minutes) {
  // setInterval restarts a running timer's period, which only a changed delay should do.
  const int interval = minutes * kMillisecondsPerMinute;
  if (interval != timer_.interval()) timer_.setInterval(interval);
}

bool MailReports::TakeReportDueDuringPass() {
  // Left to the event loop, a report tick due in the same round of timers as the tick that ran
  // the pass is delivered twice, back to back, and so would be the mail.
  if (!timer_.isActive() || timer_.remainingTime() != 0) return false;
  timer_.start();
  return true;
}

void MailReports::NoteVerdict(const DriveTable& drives, int position,
                              const ReadSmartResult& result) {
  if (!drives.IsListed(position)) return;
  const Drive& drive = drives.At(position);
  const Health health = HealthOf(drive, result);
  if (!HasVerdict(health)) return;
  verdicts_.at(static_cast<size_t>(position - 1)) = {drive.DriveNumber, drive.SerialNumber, health};
}

std::string MailReports::VerdictTextOf(const DriveTable& drives, int position) const {
  const Drive& drive = drives.At(position);
  const VerdictNote& note = verdicts_.at(static_cast<size_t>(position - 1));
  // A verdict noted for another drive at this position (before a new enumeration) is not this
  // drive's.
  const bool same = note.driveNumber == drive.DriveNumber && note.serial == drive.SerialNumber;
  return std::string(VerdictText(same ? note.health : Health::Unknown));
}

std::vector<ReportDrive> MailReports::Listed(const DriveTable& drives) const {
  std::vector<ReportDrive> listed;
  for (int position = 1; position <= drives.DriveCount; ++position) {
    const Drive& drive = drives.At(position);
    listed.push_back(
        {drive.ModelNumber, VerdictTextOf(drives, position), drive.ReportedTemperature()});
  }
  return listed;
}

}  // namespace dv
