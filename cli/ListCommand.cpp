// `diskvigil-cli list`: the drives the enumeration lists, as a table or as JSON.
#include <ostream>

#include "cli/Cli.h"
#include "cli/CliSupport.h"

namespace dv::cli {
namespace {

std::string HpaSizeText(const Drive& drive) {
  return drive.HPASizeMB < 0 ? "..." : std::to_string(drive.HPASizeMB);
}

std::string DriveTableText(const DriveSystem& system, const DriveTable& table) {
  const std::vector<TextColumn> columns{
      {"Pos", true}, {"Device"},       {"Model"},         {"Serial"}, {"Firmware"},
      {"Vendor"},    {"GB", true},     {"Sectors", true}, {"LBA48"},  {"S.M.A.R.T."},
      {"HPA"},       {"HPA MB", true}, {"Security"},
  };
  std::vector<std::vector<std::string>> rows;
  for (int k = 1; k <= table.DriveCount; ++k) {
    const Drive& d = table.At(k);
    rows.push_back(
        {std::to_string(k), PrintableText(DriveDevice(system, d)), PrintableText(d.ModelNumber),
         PrintableText(d.SerialNumber), PrintableText(d.FirmwareRevision),
         d.VendorCode != 0 ? std::string(1, d.VendorCode) : "-", std::to_string(d.CapacityGB),
         std::to_string(d.UserSectors), YesNo(d.LBA48), YesNo(d.SMARTEnabled), YesNo(d.HPAEnabled),
         HpaSizeText(d), YesNo(d.SecurityEnabled)});
  }
  return FormatTextTable(columns, rows);
}

}  // namespace

int RunList(CliContext& ctx) {
  if (!ctx.args.empty()) {
    ctx.err << "list takes no arguments\n" << UsageText();
    return kExitUsage;
  }
  DriveTable table;
  if (!ProbeOrComplain(ctx, table)) return kExitFailure;
  ctx.out << (ctx.json ? DumpJson(DriveListJson(table)) : DriveTableText(ctx.system, table));
  return kExitOk;
}

}  // namespace dv::cli
