#include "cli/CliSupport.h"

#include <algorithm>
#include <ostream>

#include "core/Enumerate.h"

namespace dv::cli {

bool ProbeOrComplain(CliContext& ctx, DriveTable& table, ProbeChanges changes) {
  if (ProbeDrives(ctx.system, table, changes)) return true;
  ctx.err << kNoDrivesMessage << "\n";
  if (const std::string problem = ctx.system.PrivilegeProblem(); !problem.empty()) {
    ctx.err << problem << "\n";
  }
  return false;
}

nlohmann::json DriveJson(const Drive& drive, int position) {
  nlohmann::json j;
  j["position"] = position;
  j["driveNumber"] = drive.DriveNumber;
  j["model"] = drive.ModelNumber;
  j["serial"] = drive.SerialNumber;
  j["firmware"] = drive.FirmwareRevision;
  j["vendorCode"] =
      drive.VendorCode != 0 ? nlohmann::json(std::string(1, drive.VendorCode)) : nlohmann::json();
  j["lba48"] = drive.LBA48;
  j["smartEnabled"] = drive.SMARTEnabled;
  j["userSectors"] = drive.UserSectors;
  j["capacityGB"] = drive.CapacityGB;
  j["hpaEnabled"] = drive.HPAEnabled;
  j["hpaSizeMB"] = drive.HPASizeMB;
  j["securityEnabled"] = drive.SecurityEnabled;
  if (drive.IsNvme()) {
    AddDriveKind(j, drive);
    j["pciVendorId"] = drive.PciVendorId;
    j["healthLogNeedsRoot"] = drive.NvmeHealthLogNeedsRoot;
  }
  return j;
}

bool TableHasNvme(const DriveTable& table) {
  for (int k = 1; k <= table.DriveCount; ++k) {
    if (table.At(k).IsNvme()) return true;
  }
  return false;
}

std::string DriveDevice(const DriveSystem& system, const Drive& drive) {
  return drive.DevicePath.empty() ? system.DescribeDrive(drive.DriveNumber) : drive.DevicePath;
}

nlohmann::json DriveListJson(const DriveTable& table) {
  nlohmann::json list = nlohmann::json::array();
  const bool mixed = TableHasNvme(table);
  for (int k = 1; k <= table.DriveCount; ++k) {
    nlohmann::json drive = DriveJson(table.At(k), k);
    if (mixed) AddDriveKind(drive, table.At(k));
    list.push_back(std::move(drive));
  }
  return list;
}

std::string DumpJson(const nlohmann::json& value) {
  return value.dump(2, ' ', false, nlohmann::json::error_handler_t::replace) + "\n";
}

std::string PrintableText(std::string_view text) {
  std::string out(text);
  for (char& c : out) {
    const auto byte = static_cast<unsigned char>(c);
    if (byte < 0x20 || byte > 0x7E) c = '?';
  }
  return out;
}

std::string PrintableLines(std::string_view text) {
  std::string out;
  out.reserve(text.size());
  for (size_t i = 0; i < text.size(); ++i) {
    const char c = text[i];
    const bool lineEnd = c == '\n' || (c == '\r' && i + 1 < text.size() && text[i + 1] == '\n');
    out += lineEnd ? c : PrintableText(std::string_view(&text[i], 1))[0];
  }
  return out;
}

std::string YesNo(bool value) { return value ? "yes" : "no"; }

std::string FormatTextTable(const std::vector<TextColumn>& columns,
                            const std::vector<std::vector<std::string>>& rows) {
  std::vector<size_t> widths;
  for (const auto& column : columns) widths.push_back(column.heading.size());
  for (const auto& row : rows) {
    for (size_t i = 0; i < columns.size() && i < row.size(); ++i) {
      widths[i] = std::max(widths[i], row[i].size());
    }
  }
  const auto formatLine = [&](auto cellAt) {
    std::string line;
    for (size_t i = 0; i < columns.size(); ++i) {
      const std::string cell = cellAt(i);
      const std::string padding(widths[i] - cell.size(), ' ');
      if (i > 0) line += "  ";
      line += columns[i].alignRight ? padding + cell : cell + padding;
    }
    line.erase(line.find_last_not_of(' ') + 1);
    return line + "\n";
  };
  std::string text = formatLine([&](size_t i) { return columns[i].heading; });
  for (const auto& row : rows) {
    text += formatLine([&](size_t i) { return i < row.size() ? row[i] : std::string(); });
  }
  return text;
}

bool IsPositionNumber(std::string_view text) {
  return !text.empty() &&
         std::all_of(text.begin(), text.end(), [](char c) { return c >= '0' && c <= '9'; });
}

bool RefuseNonNumericPosition(CliContext& ctx, std::string_view text) {
  if (IsPositionNumber(text)) return false;
  ctx.err << "Not a drive position: " << PrintableText(text) << "\n" << UsageText();
  return true;
}

std::optional<int> ParsePosition(std::string_view text) {
  if (text.size() != 1 || text[0] < '1' || text[0] > '0' + kMaxDrives) return std::nullopt;
  return text[0] - '0';
}

std::optional<int> ParseListedPosition(CliContext& ctx, const DriveTable& table,
                                       std::string_view text) {
  const std::optional<int> position = ParsePosition(text);
  if (!position || !table.IsListed(*position)) {
    ctx.err << "No drive at position " << PrintableText(text) << " (" << table.DriveCount
            << " listed)\n";
    return std::nullopt;
  }
  return position;
}

std::optional<int> ProbeListedPosition(CliContext& ctx, DriveTable& table, std::string_view text) {
  if (!ProbeOrComplain(ctx, table)) return std::nullopt;
  return ParseListedPosition(ctx, table, text);
}

}  // namespace dv::cli
