// `diskvigil-cli mail-report` and the warning mail of `monitor`: the same report mail as the tray
// program sends, with the mail keys of the same settings file.
#include <chrono>
#include <ostream>

#include "cli/Arguments.h"
#include "cli/Cli.h"
#include "cli/CliSupport.h"
#include "core/Health.h"
#include "core/SmartData.h"
#include "settings/IniFile.h"
#include "settings/SettingsKeys.h"

namespace dv::cli {
namespace {

using OrderedJson = nlohmann::ordered_json;

}  // namespace

std::filesystem::path SettingsPathOf(const ParsedArguments& words) {
  const auto path = words.Value(kSettingsOption);
  return path ? std::filesystem::path(*path) : SettingsFilePath();
}

std::string MailVerdictText(const Drive& drive, const ReadSmartResult& result) {
  return std::string(VerdictText(HealthOf(drive, result)));
}

ReportDrive MailReportDrive(const Drive& drive, const ReadSmartResult& result) {
  return {drive.ModelNumber, MailVerdictText(drive, result), drive.ReportedTemperature()};
}

MailResult SendReport(CliContext& ctx, const std::filesystem::path& settingsPath,
                      const std::vector<ReportDrive>& drives) {
  const MailSettings settings = ReadMailSettings(IniFile(settingsPath));
  return SendReportMail(settings, ComposeReport(drives, std::chrono::system_clock::now()),
                        ctx.mailLimits);
}

bool WarningMailsOn(const std::filesystem::path& settingsPath) {
  return IniFile(settingsPath).ReadBool(kSmtpWarningsKey, false);
}

std::string MailOutcomeLine(const MailResult& result) {
  return result.Ok() ? std::string(kMailSentText)
                     : std::string(kMailFailedText) + ": " + PrintableText(result.reason);
}

int RunMailReport(CliContext& ctx) {
  const auto words = ParseArguments(ctx, Position::None, {ValueOption(kSettingsOption)});
  if (!words) return kExitUsage;
  const auto settingsPath = SettingsPathOf(*words);
  DriveTable table;
  if (!ProbeOrComplain(ctx, table)) return kExitFailure;

  // Every listed drive read now, each with its own verdict.
  SmartSectors sectors;
  std::vector<ReportDrive> drives;
  for (int position = 1; position <= table.DriveCount; ++position) {
    const ReadSmartResult result = ReadSMART(ctx.system, table, position, sectors);
    drives.push_back(MailReportDrive(table.At(position), result));
  }

  const MailResult result = SendReport(ctx, settingsPath, drives);
  if (ctx.json) {
    const OrderedJson j{
        {"sent", result.Ok()}, {"outcome", result.outcome}, {"reason", result.reason}};
    ctx.out << j.dump(2, ' ', false, OrderedJson::error_handler_t::replace) << "\n";
  } else if (result.Ok()) {
    ctx.out << kMailSentText << "\n";
  } else {
    ctx.err << MailOutcomeLine(result) << "\n";
  }
  return result.Ok() ? kExitOk : kExitFailure;
}

}  // namespace dv::cli
