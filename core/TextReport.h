// The text report of one drive: its identification and its attribute rows in fixed columns, CR LF
// line ends. Written to a temporary file beside the target and moved over it only when complete.
#pragma once

#include <ctime>
#include <optional>
#include <span>
#include <string>
#include <string_view>

#include "core/AttributeRows.h"

namespace dv {

struct ReportIdentity {
  std::string ModelNumber;
  std::string FirmwareRevision;
  std::string SerialNumber;
};

inline constexpr size_t kReportNameWidth = 40;
inline constexpr size_t kReportCellWidth = 7;

// Broken-down local time of `when` (the report's clock is an argument so its text can be tested).
std::tm ReportLocalTime(std::time_t when);
// The locale's short date and long time, one space apart; at exactly midnight the date alone.
std::string ReportTimestamp(const std::tm& localTime);

// The whole report. Rows are written with the Name, Attr, Worst, Raw, Threshold and Flags cells;
// a cell longer than its column is written whole and the columns after it shift.
std::string BuildSMARTReport(const ReportIdentity& identity, std::span<const AttributeRow> rows,
                             const std::tm& localTime);

// Writes `text` to `path`, replacing an earlier file only once the new one is complete. Returns
// "Unable to write to <path>" on failure, leaving any earlier file as it was. A link is followed
// and kept; an existing path that is not a writable regular file (a device, a pipe, a folder, a
// read-only file) is refused.
std::optional<std::string> WriteReportFile(const std::string& path, std::string_view text);

}  // namespace dv
