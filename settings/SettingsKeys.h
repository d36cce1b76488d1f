// The settings file's key names, all in section "Settings", in the order start-up reads them.
#pragma once

#include <array>
#include <string>
#include <string_view>

namespace dv {

enum class SettingKind { Boolean, Integer, String };

struct SettingKey {
  std::string_view name;
  SettingKind kind;
};

inline constexpr std::string_view kSmartMonitoringKey = "S.M.A.R.T. Monitoring";
inline constexpr std::string_view kRefreshIntervalKey = "Refresh Interval";
inline constexpr std::string_view kRawValuesKey = "RAW Values";  // written by the save, never read
inline constexpr std::string_view kSmtpHostKey = "SMTP Host";
inline constexpr std::string_view kSmtpLoginKey = "SMTP Login";
inline constexpr std::string_view kSmtpFromKey = "SMTP From";
inline constexpr std::string_view kSmtpMailKey = "SMTP Mail";
inline constexpr std::string_view kSmtpPortKey = "SMTP Port";
inline constexpr std::string_view kSmtpPasswordKey = "SMTP Password";
inline constexpr std::string_view kSmtpAuthenticationKey = "SMTP Authentication";
inline constexpr std::string_view kSmtpReportsKey = "SMTP Reports";
inline constexpr std::string_view kSmtpWarningsKey = "SMTP Warnings";
inline constexpr std::string_view kSmtpDelayKey = "SMTP Delay";
inline constexpr std::string_view kSmtpSecurityKey = "SMTP Security";
inline constexpr std::string_view kAlertSoundKey = "Alert Sound";
inline constexpr std::string_view kBalloonHintsKey = "Balloon Hints";
inline constexpr std::string_view kSkipSleepingDrivesKey = "Skip Sleeping Drives";
inline constexpr std::string_view kCounterWarningsKey = "Counter Warnings";
inline constexpr std::string_view kKeepHistoryKey = "Keep History";
// A failed self-test in a drive's log or a rise of its error count warns like a failing verdict.
// Off unless the file sets it; `diskvigil-cli monitor` reads it at each pass.
inline constexpr std::string_view kSelfTestWarningsKey = "Self-Test Warnings";
// The window program's scheduled short self-tests: every N days on each drive, 0 for none. Both
// self-test keys are written only once set, so a file saved at their defaults stays as it was.
inline constexpr std::string_view kSelfTestEveryKey = "Self-Test Every";

// Per-position keys: "HDD" + k (1..6, no leading zeros) + one of these endings.
inline constexpr std::string_view kTrayIconKeyEnding = " Temperature Icon";
inline constexpr std::string_view kTrayFontColorKeyEnding = " Temperature Icon FColor";
inline constexpr std::string_view kTrayBackColorKeyEnding = " Temperature Icon BColor";

inline std::string PositionKey(int position, std::string_view ending) {
  return "HDD" + std::to_string(position) + std::string(ending);
}
inline std::string TrayIconKey(int position) { return PositionKey(position, kTrayIconKeyEnding); }
inline std::string TrayFontColorKey(int position) {
  return PositionKey(position, kTrayFontColorKeyEnding);
}
inline std::string TrayBackColorKey(int position) {
  return PositionKey(position, kTrayBackColorKeyEnding);
}

// The three per-position keys of one position, in the order they are read and written.
inline constexpr std::array<SettingKey, 3> kPositionKeyEndings{{
    {kTrayIconKeyEnding, SettingKind::Boolean},
    {kTrayFontColorKeyEnding, SettingKind::Integer},
    {kTrayBackColorKeyEnding, SettingKind::Integer},
}};

// The fixed keys in load order; the per-position keys come after "Refresh Interval" (for k = 1..6
// on loading, k = 1..DriveCount on saving, where "RAW Values" precedes them).
// Kept one key a line.
// clang-format off
inline constexpr std::array<SettingKey, 20> kFixedSettingKeys{{
    {kSmartMonitoringKey, SettingKind::Boolean},
    {kRefreshIntervalKey, SettingKind::Integer},
    {kRawValuesKey, SettingKind::Integer},
    {kSmtpHostKey, SettingKind::String},
    {kSmtpLoginKey, SettingKind::String},
    {kSmtpFromKey, SettingKind::String},
    {kSmtpMailKey, SettingKind::String},
    {kSmtpPortKey, SettingKind::String},
    {kSmtpPasswordKey, SettingKind::String},
    {kSmtpAuthenticationKey, SettingKind::Boolean},
    {kSmtpReportsKey, SettingKind::Boolean},
    {kSmtpWarningsKey, SettingKind::Boolean},
    {kSmtpDelayKey, SettingKind::Integer},
    {kAlertSoundKey, SettingKind::Boolean},
    {kBalloonHintsKey, SettingKind::Boolean},
    {kSkipSleepingDrivesKey, SettingKind::Boolean},
    {kCounterWarningsKey, SettingKind::Boolean},
    {kKeepHistoryKey, SettingKind::Boolean},
    {kSelfTestWarningsKey, SettingKind::Boolean},
    {kSelfTestEveryKey, SettingKind::Integer},
}};
// clang-format on

}  // namespace dv
