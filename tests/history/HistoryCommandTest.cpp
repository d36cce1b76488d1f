// The history verb and `monitor --history` wired to the store, on the demo drives.
#include <gtest/gtest.h>

#include <nlohmann/json.hpp>

#include "TestFolder.h"
#include "cli/CliTestKit.h"

namespace dv::cli {
namespace {

TEST(HistoryCommand, MonitorWritesWhatHistoryPrints) {
  const auto folder = test::MakeTestFolder("dv-history-cli");
  const clitest::StateHomeFor stateHome(folder);
  auto system = clitest::LoadSystem(clitest::kDemoDir);
  ASSERT_TRUE(system);
  EXPECT_EQ(clitest::RunOn(*system, {"monitor", "--count", "1", "--interval", "0"}).exitCode, 3);
  EXPECT_FALSE(std::filesystem::exists(folder / "diskvigil" / "history.sqlite"));
  const auto monitor =
      clitest::RunOn(*system, {"monitor", "--count", "1", "--interval", "0", "--history"});
  EXPECT_EQ(monitor.err, "");

  const auto json = clitest::RunOn(*system, {"--json", "history", "2", "--since", "1h"});
  ASSERT_EQ(json.exitCode, 0) << json.err;
  const auto rows = nlohmann::json::parse(json.out).at("rows");
  ASSERT_EQ(rows.size(), 1u);
  EXPECT_EQ(rows[0].at("verdict"), "failed");
  EXPECT_EQ(rows[0].at("caution"), true);
  EXPECT_EQ(rows[0].at("counters").at("5"), 1832);
  EXPECT_TRUE(rows[0].at("folded").is_null());

  const auto csv = clitest::RunOn(*system, {"history", "1", "--csv"});
  EXPECT_EQ(std::count(csv.out.begin(), csv.out.end(), '\n'), 2) << csv.out;
  // Nothing is kept of a drive with S.M.A.R.T. off.
  EXPECT_EQ(clitest::RunOn(*system, {"history", "4"}).out, "No history kept of drive 4\n");
  for (const auto& bad : {std::vector<std::string>{"history", "1", "--since", "7"},
                          {"--json", "history", "1", "--csv"},
                          {"history"}}) {
    EXPECT_EQ(clitest::RunOn(*system, bad).exitCode, kExitUsage);
  }
  std::filesystem::remove_all(folder);
}

}  // namespace
}  // namespace dv::cli
