// Choosing the drive system: --simulate, --demo, DISKVIGIL_SIMULATE, else the machine's own.
#include <gtest/gtest.h>
#include <stdlib.h>

#include <filesystem>

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

}  // namespace
}  // namespace dv
