// Choosing the drive system: --simulate, --demo, DISKVIGIL_SIMULATE, else the machine's own.
#include <gtest/gtest.h>
#include <stdlib.h>
#include <unistd.h>

#include <filesystem>
#include <fstream>

#include "TestFolder.h"
#include "core/DriveSystemFactory.h"
#include "core/Ioctl.h"
#include "core/SimulatedDrives.h"

namespace dv {
namespace {

namespace fs = std::filesystem;

// Each test starts without DISKVIGIL_SIMULATE and leaves it as it found it.
class DriveSystemOptions : public ::testing::Test {
 protected:
  void SetUp() override {
    if (const char* v = getenv("DISKVIGIL_SIMULATE")) saved_ = v;
    unsetenv("DISKVIGIL_SIMULATE");
  }
  void TearDown() override {
    if (saved_) {
      setenv("DISKVIGIL_SIMULATE", saved_->c_str(), 1);
    } else {
      unsetenv("DISKVIGIL_SIMULATE");
    }
  }

  std::optional<std::string> saved_;
};

TEST_F(DriveSystemOptions, SimulateTakesItsPathOutOfTheArguments) {
  for (const std::vector<std::string>& given :
       {std::vector<std::string>{"prog", "--simulate", "drives.json", "--json", "list"},
        std::vector<std::string>{"prog", "--json", "--simulate=drives.json", "list"}}) {
    auto args = given;
    DriveSystemChoice choice;
    EXPECT_EQ(TakeDriveSystemOptions(args, choice), std::nullopt);
    EXPECT_EQ(choice.kind, DriveSystemChoice::Kind::Simulated);
    EXPECT_EQ(choice.path, "drives.json");
    EXPECT_FALSE(choice.demo);
    EXPECT_EQ(args.size(), 3u);
    EXPECT_EQ(args.front(), "prog");
    EXPECT_EQ(args.back(), "list");
  }
}

TEST_F(DriveSystemOptions, DemoAndThePlatformDefault) {
  std::vector<std::string> args{"prog", "--demo", "list"};
  DriveSystemChoice choice;
  EXPECT_EQ(TakeDriveSystemOptions(args, choice), std::nullopt);
  EXPECT_EQ(choice.kind, DriveSystemChoice::Kind::Simulated);
  EXPECT_TRUE(choice.demo);
  EXPECT_EQ(args, (std::vector<std::string>{"prog", "list"}));

  args = {"prog", "list"};
  EXPECT_EQ(TakeDriveSystemOptions(args, choice), std::nullopt);
  EXPECT_EQ(choice.kind, DriveSystemChoice::Kind::Platform);
  EXPECT_FALSE(choice.demo);
}

TEST_F(DriveSystemOptions, EnvironmentVariableUnlessTheCommandLineSaysOtherwise) {
  setenv("DISKVIGIL_SIMULATE", "/from/environment", 1);
  std::vector<std::string> args{"prog", "list"};
  DriveSystemChoice choice;
  EXPECT_EQ(TakeDriveSystemOptions(args, choice), std::nullopt);
  EXPECT_EQ(choice.kind, DriveSystemChoice::Kind::Simulated);
  EXPECT_EQ(choice.path, "/from/environment");

  args = {"prog", "--simulate", "given.json", "list"};
  EXPECT_EQ(TakeDriveSystemOptions(args, choice), std::nullopt);
  EXPECT_EQ(choice.path, "given.json");

  args = {"prog", "--demo"};
  EXPECT_EQ(TakeDriveSystemOptions(args, choice), std::nullopt);
  EXPECT_TRUE(choice.demo);
  EXPECT_EQ(choice.path, "");
}

TEST_F(DriveSystemOptions, BadOptionsAreErrors) {
  for (const std::vector<std::string>& given :
       {std::vector<std::string>{"prog", "list", "--simulate"},
        std::vector<std::string>{"prog", "--simulate=", "list"},
        std::vector<std::string>{"prog", "--simulate", "a.json", "--demo", "list"},
        std::vector<std::string>{"prog", "--simulate", "a.json", "--simulate=b.json"}}) {
    auto args = given;
    DriveSystemChoice choice;
    const auto problem = TakeDriveSystemOptions(args, choice);
    ASSERT_TRUE(problem.has_value()) << given.back();
    EXPECT_NE(problem->find("--simulate"), std::string::npos) << *problem;
  }
}

TEST_F(DriveSystemOptions, DemoDrivesLoad) {
  const fs::path demo = DemoDataPath();
  ASSERT_TRUE(fs::is_directory(demo)) << demo;
  DriveSystemChoice choice;
  choice.kind = DriveSystemChoice::Kind::Simulated;
  choice.demo = true;
  std::string error;
  auto system = CreateDriveSystem(choice, error);
  ASSERT_TRUE(system) << error;
  auto* simulated = dynamic_cast<SimulatedDriveSystem*>(system.get());
  ASSERT_NE(simulated, nullptr);
  EXPECT_GE(simulated->Drives().size(), 4u);
  for (const auto& drive : simulated->Drives()) {
    auto handle = OpenDrive(*system, drive.driveNumber);
    ASSERT_TRUE(handle);
    EXPECT_TRUE(SendATACommand(*handle, MakeAtaCommand(AtaCommand::SmartEnable, drive.driveNumber))
                    .success);
    EXPECT_TRUE(
        SendATACommand(*handle, MakeAtaCommand(AtaCommand::Identify, drive.driveNumber)).success);
    // Every demo drive carries a partition table.
    const auto mbr = SendATACommand(*handle, MakeReadSector(drive.driveNumber, 0, false));
    EXPECT_EQ(mbr.data[510], 0x55);
    EXPECT_EQ(mbr.data[511], 0xAA);
  }
}

TEST_F(DriveSystemOptions, BadSimulationFileGivesNoSystem) {
  DriveSystemChoice choice;
  choice.kind = DriveSystemChoice::Kind::Simulated;
  choice.path = std::string(DISKVIGIL_TEST_DATA_DIR) + "/no-such-drives.json";
  std::string error;
  EXPECT_EQ(CreateDriveSystem(choice, error), nullptr);
  EXPECT_NE(error.find("no-such-drives.json"), std::string::npos) << error;
}

// The demo drives are looked for relative to the program first, so that an installed tree works
// wherever it is unpacked or copied to, and only then at the paths this build knows.
class DemoDataLookup : public ::testing::Test {
 protected:
  void SetUp() override {
    root_ = dv::test::MakeTestFolder("dv-demo-lookup");
    fs::create_directories(root_ / "bin");
  }
  void TearDown() override { fs::remove_all(root_); }

  fs::path Program() const { return root_ / "bin" / "diskvigil-cli"; }

  fs::path root_;
};

TEST_F(DemoDataLookup, OrderIsShareTreeThenBesideThenInstalledThenSource) {
  const auto candidates = DemoDataCandidates("/opt/dv/bin/diskvigil-cli");
  ASSERT_EQ(candidates.size(), 4u);
  EXPECT_EQ(candidates[0], fs::path("/opt/dv/share/diskvigil/demo"));
  EXPECT_EQ(candidates[1], fs::path("/opt/dv/bin/demo"));
  EXPECT_EQ(candidates[3], fs::path(DISKVIGIL_SOURCE_DIR) / "data" / "demo");

  // Without a known program file only the build's own paths remain.
  const auto unknown = DemoDataCandidates({});
  ASSERT_EQ(unknown.size(), 2u);
  EXPECT_EQ(unknown.back(), candidates.back());
}

TEST_F(DemoDataLookup, FirstExistingFolderWins) {
  const fs::path share = root_ / "share" / "diskvigil" / "demo";
  const fs::path beside = root_ / "bin" / "demo";
  fs::create_directories(share);
  fs::create_directories(beside);
  EXPECT_EQ(FindDemoData(Program()), share);

  fs::remove_all(root_ / "share");
  EXPECT_EQ(FindDemoData(Program()), beside);

  // A plain file of that name is not a folder of drives.
  fs::remove_all(beside);
  std::ofstream(beside) << "not a folder";
  const fs::path fallback = FindDemoData(Program());
  EXPECT_NE(fallback.string().rfind(root_.string(), 0), 0u) << fallback;
  EXPECT_TRUE(fs::is_directory(fallback)) << fallback;
}

TEST_F(DemoDataLookup, CopiedTreeLoadsItsOwnDrives) {
  // A copy holding only one of the demo drives proves the copy is read, not the source tree.
  const fs::path share = root_ / "share" / "diskvigil" / "demo";
  fs::create_directories(share);
  const fs::path source = fs::path(DISKVIGIL_SOURCE_DIR) / "data" / "demo";
  fs::path first;
  for (const auto& entry : fs::directory_iterator(source)) {
    if (entry.path().extension() == ".json" && (first.empty() || entry.path() < first)) {
      first = entry.path();
    }
  }
  ASSERT_FALSE(first.empty());
  fs::copy_file(first, share / first.filename());

  std::string error;
  auto system = SimulatedDriveSystem::Load(FindDemoData(Program()).string(), error);
  ASSERT_TRUE(system) << error;
  EXPECT_EQ(system->Drives().size(), 1u);
}

}  // namespace
}  // namespace dv
