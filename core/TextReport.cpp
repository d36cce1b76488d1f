#include "core/TextReport.h"

#include <cstdio>
#include <filesystem>
#include <memory>
#include <random>

namespace dv {
namespace {

constexpr std::string_view kLineEnd = "\r\n";
constexpr std::string_view kColumnLetters = "AWRTS";  // over Attr, Worst, Raw, Threshold, Flags

void AppendPadded(std::string& out, std::string_view cell, size_t width) {
  out += cell;
  if (cell.size() < width) out.append(width - cell.size(), ' ');
}

void AppendLine(std::string& out, std::string_view line) {
  out += line;
  out += kLineEnd;
}

std::string FormatTime(const std::tm& localTime, const char* format) {
  char text[128];
  const size_t length = std::strftime(text, sizeof text, format, &localTime);
  return std::string(text, length);
}

struct FileCloser {
  void operator()(std::FILE* file) const { std::fclose(file); }
};
using FilePtr = std::unique_ptr<std::FILE, FileCloser>;

// A name beside the target that no file has yet, opened exclusively so nothing is overwritten.
std::pair<std::filesystem::path, FilePtr> CreateTemporaryBeside(
    const std::filesystem::path& target) {
  std::random_device seed;
  std::mt19937 random(seed());
  for (int attempt = 0; attempt < 16; ++attempt) {
    std::filesystem::path candidate = target;
    candidate += ".tmp" + std::to_string(random() % 1000000);
    if (FilePtr file{std::fopen(candidate.string().c_str(), "wbx")}) {
      return {candidate, std::move(file)};
    }
  }
  return {std::filesystem::path(), FilePtr()};
}

bool WriteAndClose(FilePtr file, std::string_view text) {
  const bool written = std::fwrite(text.data(), 1, text.size(), file.get()) == text.size() &&
                       std::fflush(file.get()) == 0;
  // Closing can report the failure of a delayed write too.
  return std::fclose(file.release()) == 0 && written;
}

// Where the report really goes: through a link to the file it names (the link stays). An
// existing target must be a plain file that is not read-only; a device, a pipe, a folder or a
// protected file is refused, never swapped for a new regular file.
std::optional<std::filesystem::path> ReplaceableTarget(const std::filesystem::path& path) {
  namespace fs = std::filesystem;
  std::error_code error;
  fs::path target = path;
  if (fs::is_symlink(fs::symlink_status(path, error))) {
    target = fs::weakly_canonical(path, error);
    if (error) return std::nullopt;
  }
  const fs::file_status status = fs::status(target, error);
  if (status.type() == fs::file_type::not_found) return target;
  if (error || status.type() != fs::file_type::regular) return std::nullopt;
  constexpr fs::perms kAnyWrite =
      fs::perms::owner_write | fs::perms::group_write | fs::perms::others_write;
  if ((status.permissions() & kAnyWrite) == fs::perms::none) return std::nullopt;
  return target;
}

}  // namespace

std::tm ReportLocalTime(std::time_t when) {
  std::tm result{};
  if (const std::tm* local = std::localtime(&when)) result = *local;
  return result;
}

std::string ReportTimestamp(const std::tm& localTime) {
  const std::string date = FormatTime(localTime, "%x");
  const bool midnight = localTime.tm_hour == 0 && localTime.tm_min == 0 && localTime.tm_sec == 0;
  if (midnight) return date;
  return date + " " + FormatTime(localTime, "%X");
}

std::string BuildSMARTReport(const ReportIdentity& identity, std::span<const AttributeRow> rows,
                             const std::tm& localTime) {
  std::string out;
  AppendLine(out, "S.M.A.R.T. Report - " + ReportTimestamp(localTime));
  AppendLine(out, "");
  AppendLine(out, "Model Number: " + identity.ModelNumber);
  AppendLine(out, "Firmware Revision: " + identity.FirmwareRevision);
  AppendLine(out, "Serial Number: " + identity.SerialNumber);
  AppendLine(out, "");

  std::string heading(kReportNameWidth, ' ');
  for (char letter : kColumnLetters)
    AppendPadded(heading, std::string_view(&letter, 1), kReportCellWidth);
  AppendLine(out, heading);

  for (const AttributeRow& row : rows) {
    std::string line;
    AppendPadded(line, row[kColumnName], kReportNameWidth);
    for (size_t column = kColumnAttr; column <= kColumnFlags; ++column) {
      AppendPadded(line, row[column], kReportCellWidth);
    }
    AppendLine(out, line);
  }
  return out;
}

std::optional<std::string> WriteReportFile(const std::string& path, std::string_view text) {
  const std::string failure = "Unable to write to " + path;
  const auto target = ReplaceableTarget(path);
  if (!target) return failure;
  auto [temporary, file] = CreateTemporaryBeside(*target);
  if (!file) return failure;

  std::error_code error;
  if (!WriteAndClose(std::move(file), text)) {
    std::filesystem::remove(temporary, error);
    return failure;
  }
  std::filesystem::rename(temporary, *target, error);
  if (error) {
    std::filesystem::remove(temporary, error);
    return failure;
  }
  return std::nullopt;
}

}  // namespace dv
