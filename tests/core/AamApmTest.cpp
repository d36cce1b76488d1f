// AAM and APM through IDENTIFY DEVICE and SET FEATURES on the simulated drives.
#include <gtest/gtest.h>

#include "core/AamApm.h"
#include "kit/InterceptingDrives.h"
#include "kit/SimulationText.h"

namespace dv {
namespace {

using test::InterceptingDriveSystem;
using Fault = InterceptingDriveSystem::Fault;

using test::Simulate;

constexpr const char* kFeatureDrives = R"({"drives": [
    {"model": "quiet", "driveNumber": 1,
     "aam": {"supported": true, "enabled": true, "current": 254, "recommended": 128},
     "apm": {"supported": true, "enabled": false, "current": 0, "recommended": 200}},
    {"model": "plain", "driveNumber": 2}]})";

TEST(ReadFeatureTest, FlagsAndLevelsFromIdentify) {
  auto sim = Simulate(kFeatureDrives);
  InterceptingDriveSystem system(*sim);
  EXPECT_EQ(ReadAAM(system, 1), (FeatureState{254, 128, true, true}));
  EXPECT_EQ(ReadAPM(system, 1), (FeatureState{0, 200, false, true}));
  const FeatureState none = ReadAAM(system, 2);
  EXPECT_FALSE(none.Supported);
  EXPECT_FALSE(none.Enabled);
  ASSERT_EQ(system.requests.size(), 3u);
  EXPECT_EQ(system.requests[0].current, (TaskFile{0, 0, 0, 0, 0, 0xB0, 0xEC, 0}));
  EXPECT_EQ(system.requests[0].ataFlags, 2);
  EXPECT_EQ(system.requests[2].current.device, 0xA0);
  EXPECT_EQ(system.Opens(), 3) << "one open per command";
  EXPECT_EQ(sim->OpenHandleCount(), 0);
}

TEST(ReadFeatureTest, FailuresGiveTheDefaultsAndStatusIsNotJudged) {
  for (Fault fault : {Fault::Open, Fault::Call}) {
    auto sim = Simulate(kFeatureDrives);
    InterceptingDriveSystem system(*sim);
    system.FailAt(fault, 1);
    EXPECT_EQ(ReadAAM(system, 1), FeatureState{});
    EXPECT_EQ(FeatureState{}.CurrentLevel, 255);
    EXPECT_EQ(FeatureState{}.RecommendedLevel, 255);
    EXPECT_EQ(sim->OpenHandleCount(), 0);
  }
  EXPECT_EQ(ReadAPM(*Simulate(kFeatureDrives), 7), FeatureState{}) << "no such drive";

  // With ERR set the data still counts: only the platform call decides.
  auto sim = Simulate(kFeatureDrives);
  InterceptingDriveSystem system(*sim);
  system.FailAt(Fault::ErrBit, 1);
  EXPECT_EQ(ReadAAM(system, 1), (FeatureState{254, 128, true, true}));
}

TEST(SetFeatureTest, RegistersAndTheDriveAfterwards) {
  auto sim = Simulate(kFeatureDrives);
  InterceptingDriveSystem system(*sim);
  EXPECT_TRUE(SetAPM(system, 1, 128, true));
  EXPECT_EQ(system.requests.back().current, (TaskFile{0x05, 128, 0, 0, 0, 0xB0, 0xEF, 0}));
  EXPECT_EQ(system.requests.back().ataFlags, 0);
  EXPECT_EQ(system.requests.back().dataTransferLength, 0u);
  EXPECT_EQ(ReadAPM(system, 1), (FeatureState{128, 200, true, true}));

  EXPECT_TRUE(SetAPM(system, 1, 0, false));
  EXPECT_EQ(system.requests.back().current.features, 0x85);
  EXPECT_FALSE(ReadAPM(system, 1).Enabled);

  EXPECT_TRUE(SetAAM(system, 1, 200, true));
  EXPECT_EQ(system.requests.back().current.features, 0x42);
  EXPECT_EQ(ReadAAM(system, 1).CurrentLevel, 200);
  EXPECT_TRUE(SetAAM(system, 1, 0, false));
  EXPECT_EQ(system.requests.back().current.features, 0xC2);
  EXPECT_EQ(ReadAAM(system, 1), (FeatureState{200, 128, false, true}));
  EXPECT_EQ(sim->OpenHandleCount(), 0);
}

TEST(SetFeatureTest, OnlyThePlatformCallDecides) {
  auto sim = Simulate(kFeatureDrives);
  InterceptingDriveSystem system(*sim);
  EXPECT_TRUE(SetAAM(system, 2, 128, true)) << "the drive aborts, the platform accepted it";
  EXPECT_FALSE(ReadAAM(system, 2).Enabled);
  system.FailAt(Fault::Call, system.Calls() + 1);
  EXPECT_FALSE(SetAPM(system, 1, 128, true));
  system.FailAt(Fault::Open, system.Opens() + 1);
  EXPECT_FALSE(SetAPM(system, 1, 128, true));
  EXPECT_FALSE(SetAAM(system, 9, 128, true));
  EXPECT_EQ(sim->OpenHandleCount(), 0);
}

TEST(FeatureLevelShownTest, HiddenLevels) {
  EXPECT_FALSE(FeatureLevelShown(DriveFeature::AAM, 255));
  EXPECT_TRUE(FeatureLevelShown(DriveFeature::AAM, 0));
  EXPECT_FALSE(FeatureLevelShown(DriveFeature::APM, 255));
  EXPECT_FALSE(FeatureLevelShown(DriveFeature::APM, 0));
  EXPECT_TRUE(FeatureLevelShown(DriveFeature::APM, 1));
}

}  // namespace
}  // namespace dv
