#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>

#include "mail/ReportMail.h"
#include "settings/IniFile.h"

namespace dv {
namespace {

using std::chrono::system_clock;

// The C locale and UTC, so the date and time texts are known.
class ComposeInC : public ::testing::Test {
 protected:
  void SetUp() override {
    setenv("LC_ALL", "C", 1);
    setenv("TZ", "UTC0", 1);
    tzset();
  }
  void TearDown() override {
    unsetenv("LC_ALL");
    unsetenv("TZ");
    tzset();
  }
};

const system_clock::time_point kAfternoon = system_clock::from_time_t(1796648709);  // 13:05:09
const system_clock::time_point kMidnight = system_clock::from_time_t(1796601600);   // 00:00:00

TEST_F(ComposeInC, EachDriveWithItsOwnVerdict) {
  const ReportText report =
      ComposeReport({{"WDC WD10EZEX", "O.K.", 34}, {"ST2000DM008", "ERROR", 51}}, kAfternoon);
  EXPECT_EQ(report.subject, "Diskvigil Report - 12/07/26 13:05:09");
  EXPECT_EQ(report.body,
            "Diskvigil Report - 12/07/26 13:05:09\r\n\r\n"
            "WDC WD10EZEX:\r\n\r\n"
            "S.M.A.R.T.: O.K.\r\n"
            "Temperature: 34 \xB0"
            "C\r\n\r\n\r\n"
            "ST2000DM008:\r\n\r\n"
            "S.M.A.R.T.: ERROR\r\n"
            "Temperature: 51 \xB0"
            "C\r\n\r\n\r\n");
}

TEST_F(ComposeInC, MidnightLeavesTheTimeOutAndNoDrivesLeaveOneLine) {
  const ReportText report = ComposeReport({}, kMidnight);
  EXPECT_EQ(report.subject, "Diskvigil Report - 12/07/26");
  EXPECT_EQ(report.body, "Diskvigil Report - 12/07/26\r\n\r\n");
}

TEST_F(ComposeInC, MissingLocaleFallsBackToC) {
  setenv("LC_ALL", "xx_NOWHERE.UTF-8", 1);
  EXPECT_EQ(ComposeReport({}, kAfternoon).subject, "Diskvigil Report - 12/07/26 13:05:09");
}

TEST(ReadMailSettings, KeysAndDesignDefaults) {
  const auto path = std::filesystem::temp_directory_path() /
                    ("dv-mail-settings-" + std::to_string(getpid()) + ".ini");
  {
    const MailSettings settings = ReadMailSettings(IniFile(path));
    EXPECT_EQ(settings.port, "25");
    EXPECT_EQ(settings.host, "");
    EXPECT_FALSE(settings.authentication);
    EXPECT_EQ(settings.security, 0);
  }
  std::ofstream(path) << "[Settings]\nSMTP Host=mail.example.org\nSMTP Port=587\n"
                         "SMTP Login=me\nSMTP Password=pw\nSMTP From=Me <me@example.org>\n"
                         "SMTP Mail=a@example.org, b@example.org\nSMTP Authentication=1\n"
                         "SMTP Security=1\n";
  const MailSettings settings = ReadMailSettings(IniFile(path));
  EXPECT_EQ(settings.host, "mail.example.org");
  EXPECT_EQ(settings.port, "587");
  EXPECT_EQ(settings.login, "me");
  EXPECT_EQ(settings.password, "pw");
  EXPECT_EQ(settings.from, "Me <me@example.org>");
  EXPECT_EQ(settings.mail, "a@example.org, b@example.org");
  EXPECT_TRUE(settings.authentication);
  EXPECT_EQ(settings.security, 1);
  std::filesystem::remove(path);
}

}  // namespace
}  // namespace dv
