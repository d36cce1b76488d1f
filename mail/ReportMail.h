// Report and warning mails without any window: the texts composed from the drives, and one send
// with the settings the SMTP window (or the settings file) holds. The program's worker and
// diskvigil-cli both use this.
#pragma once

#include <chrono>
#include <optional>
#include <string>
#include <vector>

#include "mail/MailSettings.h"

namespace dv {

// What the report says of one listed drive.
struct ReportDrive {
  std::string model;                    // trimmed model name
  std::string smartStatus;              // the drive's own verdict text ("O.K.", "ERROR", ...)
  std::optional<int> temperature = 0;   // degrees Celsius; none for a drive that gave none
  std::vector<std::string> notes = {};  // lines after the temperature (the monitor's warnings)
};

struct ReportText {
  std::string subject;
  std::string body;  // CR LF line ends, the degree sign as the byte 0xB0
};

// Subject and body for a send started at `now` (local time, the system's date and time formats).
ReportText ComposeReport(const std::vector<ReportDrive>& drives,
                         std::chrono::system_clock::time_point now);

// Reply time limits; the defaults are RFC 5321's. Tests shorten them.
struct SmtpLimits {
  std::chrono::milliseconds connect{1000};
  std::chrono::milliseconds command{std::chrono::minutes(5)};
  std::chrono::milliseconds dataStart{std::chrono::minutes(2)};
  std::chrono::milliseconds dataEnd{std::chrono::minutes(10)};
};

// The outcome of one send; `outcome` is MailOutcome: 0 accepted, 1 failed during the exchange,
// 255 the connection was never made.
struct MailResult {
  int outcome = 255;
  std::string reason;  // empty on success
  bool Ok() const { return outcome == 0; }
};

inline constexpr const char* kMailSentText = "Report sending O.K.";
inline constexpr const char* kMailFailedText = "Report sending failed";

// One whole exchange (connect, optional AUTH LOGIN, the message, QUIT). Never throws.
MailResult SendReportMail(const MailSettings& settings, const ReportText& report,
                          const SmtpLimits& limits = {});

}  // namespace dv
