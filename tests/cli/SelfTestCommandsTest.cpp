// diskvigil-cli selftest and log: the words they take, their exit statuses, and that their output
// carries the drive's answer.
#include <gtest/gtest.h>

#include "cli/Cli.h"
#include "cli/CliTestKit.h"

namespace dv::cli {
namespace {

constexpr const char* kDrives = R"({"drives": [
  {"model": "TESTED", "selfTest": {"pollingMinutes": {"short": 3},
    "log": [{"type": "short", "status": 7, "lifetimeHours": 70, "lba": 4242}],
    "errorCount": 4, "errors": [{"command": 37, "lba": 77, "lifetimeHours": 60}]}},
  {"model": "PLAIN"},
  {"model": "NVME", "nvme": {}}
]})";

TEST(SelfTestCommandsTest, WordsExitStatusesAndOutput) {
  struct Case {
    std::vector<std::string> args;
    int exitCode;
    const char* inOutput;  // in standard output, or standard error when the exit is not 0
  };
  const std::vector<Case> cases{
      {{"selftest", "1", "short"}, kExitOk, "3 minutes"},
      {{"--json", "selftest", "1", "extended"}, kExitOk, "\"started\": true"},
      {{"selftest", "1", "conveyance"}, kExitNotOffered, "does not offer a conveyance"},
      {{"selftest", "2", "short"}, kExitFailure, "aborted"},
      {{"selftest", "3", "short"}, kExitNotOffered, "does not offer device self-tests"},
      {{"selftest", "9", "short"}, kExitFailure, "No drive at position 9"},
      {{"selftest", "1"}, kExitUsage, "is needed"},
      {{"selftest", "1", "captive"}, kExitUsage, "Unexpected argument: captive"},
      {{"selftest", "short", "1"}, kExitUsage, "Unexpected argument: 1"},
      {{"log", "1", "selftest"}, kExitOk, "read failure"},
      {{"--json", "log", "1", "selftest"}, kExitOk, "\"firstErrorLba\": 4242"},
      {{"--json", "log", "1", "error"}, kExitOk, "\"count\": 4"},
      {{"log", "1", "error"}, kExitOk, "Error 4 at 60 hours"},
      {{"log", "2", "selftest"}, kExitFailure, "READ LOG"},
      {{"log", "3", "error"}, kExitFailure, "NVMe"},
      {{"log", "1", "all"}, kExitUsage, "one of selftest, error"},
      {{"--json", "smart", "1"}, kExitOk, "\"status\": \"read failure\""},
  };
  for (const Case& c : cases) {
    auto system = clitest::Simulate(kDrives);
    const clitest::CliRun run = clitest::RunOn(*system, c.args);
    EXPECT_EQ(run.exitCode, c.exitCode) << c.args[1] << " " << c.args.back() << run.err;
    const std::string& text = c.exitCode == kExitOk ? run.out : run.err;
    EXPECT_NE(text.find(c.inOutput), std::string::npos) << text;
  }
}

}  // namespace
}  // namespace dv::cli
