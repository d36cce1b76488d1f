// diskvigil-cli mbr on the demo drives and on simulated drives built here.
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

// Keys in the order printed.
std::vector<std::string> Keys(const nlohmann::ordered_json& object) {
  std::vector<std::string> keys;
  for (const auto& item : object.items()) keys.push_back(item.key());
  return keys;
}

TEST(MbrCommand, JsonOfTheDemoDiskWithFourKindsOfPartition) {
  auto system = LoadSystem(kDemoDir);
  const CliRun run = RunOn(*system, {"--json", "mbr", "1"});
  ASSERT_EQ(run.exitCode, kExitOk) << run.err;
  const json j = json::parse(run.out);
  const auto ordered = nlohmann::ordered_json::parse(run.out);
  EXPECT_EQ(Keys(ordered), (std::vector<std::string>{"read", "diskId", "signature", "partitions",
                                                     "labels", "bar"}));
  EXPECT_EQ(j["read"], true);
  EXPECT_EQ(j["diskId"], "1B2C3D4E");
  EXPECT_EQ(j["signature"], "AA55h");
  ASSERT_EQ(j["partitions"].size(), 4u);
  ASSERT_EQ(j["labels"].size(), 4u);
  ASSERT_EQ(j["bar"].size(), 4u);
  EXPECT_EQ(Keys(ordered["partitions"][0]),
            (std::vector<std::string>{"active", "typeName", "startLBA", "sectorCount", "sizeGB",
                                      "serial", "clusterSectors", "volumeLabel", "version", "dirty",
                                      "driveLetter"}));
  EXPECT_EQ(Keys(ordered["labels"][0]),
            (std::vector<std::string>{"active", "dirty", "fs", "dosLabel", "volumeLabel", "serial",
                                      "clusterSize", "start", "count", "volume"}));

  const json& ntfs = j["partitions"][0];
  EXPECT_EQ(ntfs["typeName"], "NTFS");
  EXPECT_EQ(ntfs["version"], " 3.1");
  EXPECT_EQ(ntfs["volumeLabel"], "System");
  EXPECT_EQ(ntfs["driveLetter"], "C");
  EXPECT_EQ(ntfs["sizeGB"], 500);
  EXPECT_EQ(j["partitions"][1]["typeName"], "FAT32 LBA");
  EXPECT_EQ(j["partitions"][2]["typeName"], "FAT16 CHS <32M");
  EXPECT_EQ(j["partitions"][3]["typeName"], "Extended LBA");
  EXPECT_TRUE(j["partitions"][3]["driveLetter"].is_null());

  EXPECT_EQ(j["labels"][0]["fs"], "NTFS 3.1");
  EXPECT_EQ(j["labels"][0]["dosLabel"], "C:");
  EXPECT_EQ(j["labels"][0]["active"], true);
  EXPECT_EQ(j["labels"][2]["clusterSize"], "2 K");
  EXPECT_EQ(j["labels"][3]["serial"], "...");
  EXPECT_EQ(j["labels"][3]["dosLabel"], "");

  EXPECT_EQ(j["bar"][0], json::parse("[1, 1, 109, 18]"));
  EXPECT_TRUE(j["bar"][2].is_null()) << "32 MB of 2 TB rounds to nothing";
}

TEST(MbrCommand, TextFormShowsTheSame) {
  auto system = LoadSystem(kDemoDir);
  const CliRun run = RunOn(*system, {"mbr", "1"});
  ASSERT_EQ(run.exitCode, kExitOk) << run.err;
  for (const char* text :
       {"Volume ID: 1B2C3D4E\n", "Signature: AA55h\n", "Partition 1  Active\n",
        "  Filesystem:     NTFS 3.1\n", "  Volume Label:   C: System\n", "  Cluster Size:   32 K\n",
        "  Bar:            x 1..108, y 1..17\n", "  Bar:            nothing\n"}) {
    EXPECT_NE(run.out.find(text), std::string::npos) << text << "\n" << run.out;
  }
}

TEST(MbrCommand, SectorZeroUnreadableExitsOne) {
  auto system = Simulate(R"({"model": "m", "failures": {"ioctl": ["READ_SECTORS_EXT"]}})");
  CliRun run = RunOn(*system, {"--json", "mbr", "1"});
  EXPECT_EQ(run.exitCode, kExitFailure);
  EXPECT_EQ(json::parse(run.out)["read"], false);
  EXPECT_NE(run.err.find("could not be read"), std::string::npos);
  run = RunOn(*system, {"mbr", "1"});
  EXPECT_EQ(run.exitCode, kExitFailure);
  EXPECT_TRUE(run.out.empty());
  EXPECT_EQ(system->OpenHandleCount(), 0);
}

TEST(MbrCommand, LabelBytesThatAreNotUtf8StillGiveValidJson) {
  std::string mbr(1024, '0');
  mbr.replace(2 * 0x1BE + 8, 2, "0c");         // FAT32 LBA
  mbr.replace(2 * 0x1BE + 16, 8, "01000000");  // at LBA 1
  mbr.replace(2 * 0x1BE + 24, 8, "00100000");  // 4096 sectors
  std::string boot(1024, '0');
  boot.replace(2 * 0x47, 22, "ff41e9202020202020c320");
  auto system =
      Simulate(R"({"model": "m", "sectorsHex": {"0": ")" + mbr + R"(", "1": ")" + boot + R"("}})");
  const CliRun run = RunOn(*system, {"--json", "mbr", "1"});
  ASSERT_EQ(run.exitCode, kExitOk) << run.err;
  const json j = json::parse(run.out);
  EXPECT_EQ(j["partitions"][0]["volumeLabel"],
            "\xEF\xBF\xBD"
            "A\xEF\xBF\xBD      \xEF\xBF\xBD");
}

TEST(MbrCommand, UsageErrors) {
  auto system = LoadSystem(kDemoDir);
  EXPECT_EQ(RunOn(*system, {"mbr"}).exitCode, kExitUsage);
  EXPECT_EQ(RunOn(*system, {"mbr", "1", "2"}).exitCode, kExitUsage);
  EXPECT_EQ(RunOn(*system, {"mbr", "--dec", "1"}).exitCode, kExitUsage);
  EXPECT_EQ(RunOn(*system, {"mbr", "7"}).exitCode, kExitFailure);
}

}  // namespace
}  // namespace dv::cli
