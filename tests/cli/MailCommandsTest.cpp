#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <nlohmann/json.hpp>
#include <sstream>

#include "cli/Cli.h"
#include "cli/CliTestKit.h"
#include "core/SimulatedDrives.h"
#include "mail/MailSink.h"

namespace dv::cli {
namespace {

using namespace dv::cli::clitest;

namespace fs = std::filesystem;
using nlohmann::json;

const std::string kHealthyDrive =
    std::string(DISKVIGIL_TEST_DATA_DIR) + "/real-drives/SAMSUNG_HD501LJ--CR100-12.json";

// A settings file of its own for every test.
class MailCommand : public ::testing::Test {
 protected:
  void SetUp() override {
    settings_ = fs::temp_directory_path() /
                ("dv-cli-mail-" + std::to_string(getpid()) + "-" +
                 ::testing::UnitTest::GetInstance()->current_test_info()->name() + ".ini");
  }
  void TearDown() override { fs::remove(settings_); }

  void WriteSettings(int port, bool warnings) {
    std::ofstream(settings_) << "[Settings]\nSMTP Host=127.0.0.1\nSMTP Port=" << port
                             << "\nSMTP From=dv@test.local\nSMTP Mail=ops@test.local\n"
                             << "SMTP Warnings=" << (warnings ? 1 : 0) << "\n";
  }
  std::string Settings() const { return settings_.string(); }

  static bool SinkAvailable() { return test::MailSinkAvailable(); }

  fs::path settings_;
};

TEST_F(MailCommand, ReportWithEachDrivesOwnVerdict) {
  if (!SinkAvailable()) GTEST_SKIP() << "/usr/bin/python3 with aiosmtpd is not installed";
  test::MailSink sink;
  ASSERT_TRUE(sink.Running());
  WriteSettings(sink.Port(), false);
  const CliRun run = RunOn(kDemoDir, {"mail-report", "--settings", Settings()});
  EXPECT_EQ(run.exitCode, kExitOk) << run.err;
  EXPECT_EQ(run.out, "Report sending O.K.\n");
  const auto mails = sink.Mails();
  ASSERT_EQ(mails.size(), 1u);
  const std::string& raw = mails[0].raw;
  EXPECT_NE(raw.find("\r\nS.M.A.R.T.: O.K.\r\n"), std::string::npos);
  EXPECT_NE(raw.find("\r\nS.M.A.R.T.: ERROR\r\n"), std::string::npos);
  EXPECT_NE(raw.find(" \xB0"
                     "C\r\n"),
            std::string::npos);
}

TEST_F(MailCommand, FailureSaysWhyInTextAndJson) {
  WriteSettings(1, false);  // nothing listens on port 1
  CliRun run = RunOn(kHealthyDrive, {"mail-report", "--settings", Settings()});
  EXPECT_EQ(run.exitCode, kExitFailure);
  EXPECT_EQ(run.out, "");
  EXPECT_EQ(run.err.rfind("Report sending failed: ", 0), 0u) << run.err;

  run = RunOn(kHealthyDrive, {"mail-report", "--json", "--settings", Settings()});
  EXPECT_EQ(run.exitCode, kExitFailure);
  const json j = json::parse(run.out);
  EXPECT_EQ(j["sent"], false);
  EXPECT_EQ(j["outcome"], 255);
  EXPECT_NE(j["reason"].get<std::string>().find("connection refused"), std::string::npos);
}

TEST_F(MailCommand, NoDrivesNothingSentAndBadArguments) {
  WriteSettings(1, false);
  SimulatedDriveSystem empty({});
  const CliRun none = RunOn(empty, {"mail-report", "--settings", Settings()});
  EXPECT_EQ(none.exitCode, kExitFailure);
  EXPECT_EQ(none.err, "S.M.A.R.T. HDD(s) not found!\n");
  EXPECT_EQ(RunOn(kDemoDir, {"mail-report", "extra"}).exitCode, kExitUsage);
}

TEST_F(MailCommand, MonitorWarnsByMailAfterABadPassOnly) {
  if (!SinkAvailable()) GTEST_SKIP() << "/usr/bin/python3 with aiosmtpd is not installed";
  test::MailSink sink;
  ASSERT_TRUE(sink.Running());

  WriteSettings(sink.Port(), true);
  CliRun run = RunOn(kDemoDir, {"monitor", "--count", "1", "--settings", Settings()});
  EXPECT_EQ(run.exitCode, kExitUnhealthy);
  EXPECT_EQ(run.err, "Report sending O.K.\n");
  ASSERT_EQ(sink.Mails().size(), 1u);
  EXPECT_NE(sink.Mails()[0].raw.find("\r\nS.M.A.R.T.: ERROR\r\n"), std::string::npos);

  // A good pass sends nothing, and neither does a bad one with warnings off.
  run = RunOn(kHealthyDrive, {"monitor", "--count", "1", "--settings", Settings()});
  EXPECT_EQ(run.exitCode, kExitOk);
  WriteSettings(sink.Port(), false);
  run = RunOn(kDemoDir, {"monitor", "--count", "1", "--settings", Settings()});
  EXPECT_EQ(run.exitCode, kExitUnhealthy);
  EXPECT_EQ(run.err, "");
  EXPECT_EQ(sink.Mails().size(), 1u);
}

TEST_F(MailCommand, MonitorMailFailureKeepsThePassStatus) {
  WriteSettings(1, true);
  const CliRun run = RunOn(kDemoDir, {"monitor", "--count", "1", "--settings", Settings()});
  EXPECT_EQ(run.exitCode, kExitUnhealthy);
  EXPECT_EQ(run.err.rfind("Report sending failed: ", 0), 0u) << run.err;
}

}  // namespace
}  // namespace dv::cli

namespace dv::cli {
namespace {

// The report mail says what the main window's mail says: a drive that gave no verdict is "...",
// not "ERROR".
TEST(MailVerdict, NoVerdictIsNotAFailure) {
  Drive drive;
  drive.SMARTEnabled = true;
  EXPECT_EQ(MailVerdictText(drive, ReadSmartResult{}), "...");
  EXPECT_EQ(MailVerdictText(drive, ReadSmartResult{true, false, true}), "ERROR");
}

}  // namespace
}  // namespace dv::cli
