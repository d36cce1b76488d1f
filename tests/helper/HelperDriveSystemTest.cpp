// The forwarding drive system against a helper process: the same answers as the drives reached
// directly, and a helper that is missing or keeps dying leaves no drive listed, a reason, and at
// most one start per restart spacing.
#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <fstream>
#include <functional>
#include <sstream>
#include <string>

#include "core/AamApm.h"
#include "core/Enumerate.h"
#include "core/HelperProtocol.h"
#include "core/PowerMode.h"
#include "core/SimulatedDrives.h"
#include "core/SmartData.h"
#include "core/platform/LinuxHelperDriveSystem.h"
#include "tests/TestFolder.h"

namespace dv {
namespace {

std::unique_ptr<DriveSystem> Simulated(const std::string& path) {
  std::string error;
  auto system = SimulatedDriveSystem::Load(path, error);
  EXPECT_TRUE(system) << error;
  return system;
}

// Everything an enumeration and one monitoring pass learn, as text.
std::string EnumerateAndRead(DriveSystem& system) {
  DriveTable table;
  std::ostringstream out;
  out << ProbeDrives(system, table) << " " << table.DriveCount << "\n";
  for (int position = 1; position <= table.DriveCount; ++position) {
    SmartSectors sectors;
    const ReadSmartResult result = ReadSMART(system, table, position, sectors);
    const Drive& d = table.At(position);
    out << d.ModelNumber << "|" << d.SerialNumber << "|" << d.FirmwareRevision << "|"
        << d.UserSectors << "|" << d.HPASizeMB << "|" << d.SecurityEnabled << "|" << d.Temperature
        << "|" << d.SMARTStatusOK << "|" << d.NvmeHealthLogRead << "|" << result.verdictReached
        << result.statusOK << result.sectorsRead << "|";
    for (uint8_t b : sectors.SMARTData) out << int(b) << ",";
    for (uint8_t b : sectors.SMARTThresholds) out << int(b) << ",";
    for (uint8_t b : sectors.NvmeHealthLog) out << int(b) << ",";
    out << "\n";
  }
  return out.str();
}

TEST(HelperDriveSystemTest, SameAnswersAsTheDrivesReachedDirectly) {
  for (const char* folder : {"demo", "demo-nvme"}) {
    const std::string path = std::string(DISKVIGIL_SOURCE_DIR) + "/data/" + folder;
    const auto direct = Simulated(path);
    const auto helper =
        CreateHelperDriveSystem({DISKVIGIL_SIMULATED_HELPER, {path}}, Simulated(path));
    const std::string expected = EnumerateAndRead(*direct);
    EXPECT_NE(expected.rfind("1 ", 0), std::string::npos) << folder;
    EXPECT_EQ(EnumerateAndRead(*helper), expected) << folder;
    EXPECT_EQ(helper->PrivilegeProblem(), "") << folder;
  }
}

// A drive that opened before is sent its commands without waiting for the open: a pass sends each
// command on a fresh open in one batch, other commands send their open ahead. When the helper then
// cannot open the drive (here: pulled out), the caller sees a drive that did not open, as it would
// have seen a refused open that was waited for: no verdict, no alarm.
TEST(HelperDriveSystemTest, RefusedOpenSentAheadCountsAsNoOpen) {
  const std::string demo = std::string(DISKVIGIL_SOURCE_DIR) + "/data/demo";
  const std::filesystem::path folder = test::MakeTestFolder("helper");
  const std::string unplugged = (folder / "unplugged").string();
  const auto system =
      CreateHelperDriveSystem({DISKVIGIL_SIMULATED_HELPER, {demo, unplugged}}, Simulated(demo));
  DriveTable table;
  ASSERT_TRUE(ProbeDrives(*system, table));
  const int drive = table.At(1).DriveNumber;
  std::ofstream(unplugged) << "";
  struct Row {
    const char* what;
    std::function<bool()> asWithoutOpen;
  };
  const std::vector<Row> rows{
      {"SMART read",
       [&] {
         SmartSectors sectors;
         const ReadSmartResult r = ReadSMART(*system, table, 1, sectors);
         return !r.verdictReached && !r.statusOK && !r.sectorsRead;
       }},
      {"power mode", [&] { return ReadPowerMode(*system, drive) == PowerMode::Unknown; }},
      {"set features",
       [&] {
         const ATACommandResult r =
             SetFeatureExchange(*system, drive, DriveFeature::AAM, 0x80, true);
         return !r.callSucceeded && r.current == TaskFile{};
       }},
  };
  for (const Row& row : rows) EXPECT_TRUE(row.asWithoutOpen()) << row.what;
  EXPECT_EQ(system->PrivilegeProblem(), "");
  std::filesystem::remove(unplugged);
  SmartSectors sectors;
  EXPECT_TRUE(ReadSMART(*system, table, 1, sectors).Passed());
  std::filesystem::remove_all(folder);
}

TEST(HelperDriveSystemTest, MissingOrDyingHelperListsNothingAndSaysWhy) {
  const std::string demo = std::string(DISKVIGIL_SOURCE_DIR) + "/data/demo";
  const auto missing = CreateHelperDriveSystem({}, Simulated(demo), "the helper was not found");
  DriveTable table;
  EXPECT_FALSE(ProbeDrives(*missing, table));
  EXPECT_NE(missing->PrivilegeProblem().find("the helper was not found"), std::string::npos);

  // A helper that ends at once, counting its starts in a file: one start per spacing.
  const auto folder = test::MakeTestFolder("helper");
  const std::string starts = (folder / "starts").string();
  const DriveHelperCommand dying{"/bin/sh", {"-c", "echo >> '" + starts + "'"}};
  auto countStarts = [&] {
    std::ifstream in(starts);
    return std::count(std::istreambuf_iterator<char>(in), {}, '\n');
  };
  const auto spaced = CreateHelperDriveSystem(dying, Simulated(demo), {}, std::chrono::hours(1));
  EXPECT_FALSE(ProbeDrives(*spaced, table));
  EXPECT_FALSE(ProbeDrives(*spaced, table));
  EXPECT_EQ(countStarts(), 1);
  EXPECT_NE(spaced->PrivilegeProblem().find("ended unexpectedly"), std::string::npos);

  const auto unspaced = CreateHelperDriveSystem(dying, Simulated(demo), {}, {});
  EXPECT_FALSE(ProbeDrives(*unspaced, table));
  EXPECT_GT(countStarts(), 2);
  std::filesystem::remove_all(folder);
}

#ifdef DISKVIGIL_DRIVE_HELPER
// The real helper under its system call filter: it starts, opens read-only and answers; a call the
// filter forbids would kill it and the system would say it ended.
TEST(HelperDriveSystemTest, RealHelperSurvivesItsFilter) {
  const auto system = CreateHelperDriveSystem(
      {DISKVIGIL_DRIVE_HELPER, {}}, Simulated(std::string(DISKVIGIL_SOURCE_DIR) + "/data/demo"));
  EXPECT_EQ(system->Open(250), nullptr);  // /dev/sdip: no such drive
  EXPECT_EQ(system->OpenNvme(15), nullptr);
  EXPECT_EQ(system->PrivilegeProblem(), "");
}
#endif

TEST(HelperDriveSystemTest, HelperIsFoundRelativeToTheProgramFirst) {
  const auto candidates = DriveHelperCandidates("/opt/dv/bin/diskvigil");
  ASSERT_GE(candidates.size(), 3u);
  EXPECT_EQ(candidates[0], "/opt/dv/libexec/diskvigil/diskvigil-drive-helper");
  EXPECT_EQ(candidates[1], "/opt/dv/bin/diskvigil-drive-helper");

  const auto folder = test::MakeTestFolder("helper");
  const auto helper = folder / kDriveHelperFile;
  std::ofstream(helper) << "#!/bin/sh\n";
  std::string reason;
  EXPECT_EQ(FindDriveHelper({folder / "absent", helper}, reason), helper);
  std::filesystem::permissions(helper, std::filesystem::perms::others_write,
                               std::filesystem::perm_options::add);
  EXPECT_FALSE(FindDriveHelper({helper}, reason));
  EXPECT_NE(reason.find("writable by other users"), std::string::npos);
  std::filesystem::remove_all(folder);
}

}  // namespace
}  // namespace dv
