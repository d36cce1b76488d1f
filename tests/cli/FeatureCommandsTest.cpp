// diskvigil-cli aam / apm on simulated drives.
#include <gtest/gtest.h>

#include <nlohmann/json.hpp>
#include <sstream>

#include "cli/Cli.h"
#include "cli/CliTestKit.h"
#include "core/SimulatedDrives.h"

namespace dv::cli {
namespace {

using namespace dv::cli::clitest;

using nlohmann::json;

constexpr const char* kFeatureDrives = R"({"drives": [
    {"model": "Both features", "driveNumber": 0,
     "aam": {"supported": true, "enabled": true, "current": 128, "recommended": 254},
     "apm": {"supported": true, "enabled": false, "current": 0, "recommended": 128}},
    {"model": "No features", "driveNumber": 1},
    {"model": "Refuses", "driveNumber": 2, "apm": {}, "failures": {"ioctl": ["SET_FEATURES"]}}]})";

TEST(FeatureCommand, JsonStateWithExactlyTheFourKeys) {
  auto system = Simulate(kFeatureDrives);
  CliRun run = RunOn(*system, {"--json", "aam", "1"});
  ASSERT_EQ(run.exitCode, kExitOk) << run.err;
  EXPECT_EQ(json::parse(run.out),
            json::parse(R"({"supported": true, "enabled": true, "current": 128,
                            "recommended": 254})"));
  run = RunOn(*system, {"apm", "2", "--json"});
  ASSERT_EQ(run.exitCode, kExitOk);
  EXPECT_EQ(json::parse(run.out)["supported"], false);
}

TEST(FeatureCommand, SetAndDisableThenReadBack) {
  auto system = Simulate(kFeatureDrives);
  CliRun run = RunOn(*system, {"--json", "apm", "1", "--set", "200"});
  ASSERT_EQ(run.exitCode, kExitOk) << run.err;
  EXPECT_EQ(json::parse(run.out)["current"], 200);
  EXPECT_EQ(json::parse(run.out)["applied"], true);
  EXPECT_EQ(json::parse(run.out)["enabled"], true);
  run = RunOn(*system, {"--json", "apm", "--disable", "1"});
  ASSERT_EQ(run.exitCode, kExitOk) << run.err;
  EXPECT_EQ(json::parse(run.out)["enabled"], false);
  run = RunOn(*system, {"aam", "1", "--set", "0"});
  ASSERT_EQ(run.exitCode, kExitOk) << run.err;
  EXPECT_NE(run.out.find("Current level:      0\n"), std::string::npos) << run.out;
}

TEST(FeatureCommand, TextFormHidesWhatTheWindowHides) {
  auto system = Simulate(kFeatureDrives);
  const CliRun run = RunOn(*system, {"apm", "1"});
  ASSERT_EQ(run.exitCode, kExitOk);
  EXPECT_EQ(run.out,
            "APM of drive 1: Both features\n"
            "  Supported:          yes\n"
            "  Enabled:            no\n"
            "  Current level:      ...\n"
            "  Recommended level:  128\n");
}

TEST(FeatureCommand, RefusedAndAbortedSetFeatures) {
  auto system = Simulate(kFeatureDrives);
  CliRun run = RunOn(*system, {"apm", "3", "--set", "128"});
  EXPECT_EQ(run.exitCode, kExitFailure);
  EXPECT_NE(run.err.find("refused"), std::string::npos) << run.err;
  // The drive aborts a feature it lacks, but the platform accepted the request.
  run = RunOn(*system, {"--json", "apm", "2", "--set", "128"});
  EXPECT_EQ(run.exitCode, kExitFailure);
  EXPECT_NE(run.err.find("aborted"), std::string::npos) << run.err;
  EXPECT_EQ(json::parse(run.out)["enabled"], false);
  EXPECT_EQ(json::parse(run.out)["applied"], false);
  EXPECT_EQ(system->OpenHandleCount(), 0);
}

TEST(FeatureCommand, UsageAndPositionErrors) {
  auto system = Simulate(kFeatureDrives);
  for (const std::vector<std::string>& args :
       std::vector<std::vector<std::string>>{{"aam", "1", "--set", "255"},
                                             {"aam", "1", "--set", "256"},
                                             {"aam", "1", "--set", "-1"},
                                             {"aam", "1", "--set", "+5"},
                                             {"aam", "1", "--set", "12x"},
                                             {"aam", "1", "--set", ""},
                                             {"apm", "1", "--set"},
                                             {"apm", "1", "--set", "5", "--disable"},
                                             {"apm", "1", "2"},
                                             {"apm"}}) {
    const CliRun run = RunOn(*system, args);
    EXPECT_EQ(run.exitCode, kExitUsage) << testing::PrintToString(args);
    EXPECT_TRUE(run.out.empty());
  }
  const CliRun run = RunOn(*system, {"aam", "4"});
  EXPECT_EQ(run.exitCode, kExitFailure);
  EXPECT_NE(run.err.find("No drive at position 4"), std::string::npos);
  // Nothing reached a drive for a usage error.
  for (const auto& logged : system->CommandLog()) EXPECT_NE(logged.name, "SET_FEATURES");
}

}  // namespace
}  // namespace dv::cli
