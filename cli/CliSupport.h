// Helpers the diskvigil-cli commands share: probing with the standard complaint, a drive as JSON,
// aligned text tables, and position arguments.
#pragma once

#include <nlohmann/json.hpp>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "cli/Cli.h"
#include "core/Drive.h"
#include "core/Enumerate.h"

namespace dv::cli {

inline constexpr std::string_view kNoDrivesMessage = "S.M.A.R.T. HDD(s) not found!";

// Runs the enumeration on ctx.system; when nothing answers, writes kNoDrivesMessage to ctx.err
// and returns false. Only the monitor, which watches like the window program, switches on the
// drives' conveniences; a one-shot command changes no drive setting.
bool ProbeOrComplain(CliContext& ctx, DriveTable& table, ProbeChanges changes = ProbeChanges::None);

// One Drive record with the keys of `list --json`: position, driveNumber, model, serial,
// firmware, vendorCode (one-letter string or null), lba48, smartEnabled, userSectors, capacityGB,
// hpaEnabled, hpaSizeMB (-1 when not determined), securityEnabled.
// An NVMe drive also carries "kind", "devicePath", "pciVendorId" and "healthLogNeedsRoot".
nlohmann::json DriveJson(const Drive& drive, int position);
// Whether any listed drive is an NVMe drive. Only then do the ATA drives of a JSON answer carry
// "kind" and "devicePath" too, so the answers on a machine with ATA drives alone stay as they
// were.
bool TableHasNvme(const DriveTable& table);
// Adds "kind" ("ata" or "nvme") and "devicePath" to a drive's JSON object.
template <typename JsonObject>
void AddDriveKind(JsonObject& j, const Drive& drive) {
  j["kind"] = drive.IsNvme() ? "nvme" : "ata";
  j["devicePath"] = drive.DevicePath;
}
// The drive's device as the system names it ("/dev/sda", "/dev/nvme0", "simulated drive 2").
std::string DriveDevice(const DriveSystem& system, const Drive& drive);
// The listed positions, in order.
nlohmann::json DriveListJson(const DriveTable& table);
// Pretty-printed with a final newline. Drive texts are raw bytes: invalid UTF-8 becomes U+FFFD
// instead of an exception.
std::string DumpJson(const nlohmann::json& value);

// Drive texts for a terminal: every byte outside printable ASCII becomes '?', so a drive cannot
// send control sequences to the user's screen.
std::string PrintableText(std::string_view text);
// A whole text for a terminal: PrintableText, except that line ends ("\n" and "\r\n") stay.
std::string PrintableLines(std::string_view text);
// "yes" / "no".
std::string YesNo(bool value);

struct TextColumn {
  std::string heading;
  bool alignRight = false;
};
// Columns padded to their widest cell, separated by two spaces, one line per row, no trailing
// blanks. Rows with fewer cells than columns are padded with empty cells.
std::string FormatTextTable(const std::vector<TextColumn>& columns,
                            const std::vector<std::vector<std::string>>& rows);

// Whether a position argument is written as a number at all (decimal digits only). A word that is
// not is a usage error; a number that names no listed drive is not.
bool IsPositionNumber(std::string_view text);
// The usage error for a position word that is not a number, on ctx.err; false when it is one.
bool RefuseNonNumericPosition(CliContext& ctx, std::string_view text);
// A position argument "1".."6" (decimal digits only); nullopt for anything else.
std::optional<int> ParsePosition(std::string_view text);
// The same, and the position must be listed in the table; otherwise an error line on ctx.err.
std::optional<int> ParseListedPosition(CliContext& ctx, const DriveTable& table,
                                       std::string_view text);
// Probes the drives into `table` (ProbeOrComplain), then reads the position as above: what every
// command on one drive starts with.
std::optional<int> ProbeListedPosition(CliContext& ctx, DriveTable& table, std::string_view text);

}  // namespace dv::cli
