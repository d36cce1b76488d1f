// The state behind the main window's report mails: the report timer and the last verdict each
// listed drive gave, which is what a report says of it. No widgets: the window starts the mails.
#pragma once

#include <QTimer>
#include <array>
#include <cstdint>
#include <string>
#include <vector>

#include "core/Drive.h"
#include "core/Health.h"
#include "mail/ReportMail.h"

namespace dv {

struct ReadSmartResult;

class MailReports {
 public:
  MailReports() = default;

  // Fires when a report is due; its interval is the delay between reports.
  QTimer& Timer() { return timer_; }
  // A changed delay restarts a running timer's period; the same delay leaves it running on.
  void SetDelayMinutes(int minutes);
  // True once for a report that fell due while a pass held the window; the timer then counts its
  // interval from now.
  bool TakeReportDueDuringPass();

  // Keeps the verdict of a read of `position`; a read without one keeps the last.
  void NoteVerdict(const DriveTable& drives, int position, const ReadSmartResult& result);
  // What a report says of the listed drives, in list order.
  std::vector<ReportDrive> Listed(const DriveTable& drives) const;

 private:
  struct VerdictNote {
    uint8_t driveNumber = 0;
    std::string serial;
    Health health = Health::Unknown;
  };
  std::string VerdictTextOf(const DriveTable& drives, int position) const;

  QTimer timer_;
  std::array<VerdictNote, kMaxDrives> verdicts_{};
};

}  // namespace dv
