#include <gtest/gtest.h>

#include <memory>
#include <string>
#include <vector>

#include "core/PowerMode.h"
#include "core/SatCdb.h"
#include "core/SimulatedDrives.h"
#include "kit/SimulationText.h"

namespace dv {
namespace {

using namespace std::chrono_literals;

TEST(CheckPowerModeCommand, CatalogueShapeAndGuard) {
  const AtaCommandRequest even = MakeAtaCommand(AtaCommand::CheckPowerMode, 12);
  EXPECT_EQ(even.ataFlags, kAtaFlagsDrdyRequired);
  EXPECT_EQ(even.dataLength, 0u);
  EXPECT_EQ(even.current, (TaskFile{0, 0, 0, 0, 0, 0xA0, 0xE5, 0}));
  EXPECT_EQ(MakeAtaCommand(AtaCommand::CheckPowerMode, 3).current.device, 0xB0);
  EXPECT_EQ(ClassifyAtaCommand(even.ataFlags, even.current, even.previous, even.dataLength),
            AtaCommand::CheckPowerMode);
  EXPECT_EQ(AtaCommandFromName("CHECK_POWER_MODE"), AtaCommand::CheckPowerMode);

  // Anything but the exact non-data shape is refused: with data, other flags, a register set
  // (E5h with a Sector Count would be another command on some drives), LBA device head.
  auto refused = [](uint16_t flags, TaskFile tf, uint32_t length) {
    return !ClassifyAtaCommand(flags, tf, TaskFile{}, length).has_value();
  };
  EXPECT_TRUE(refused(kAtaFlagsDrdyRequired | kAtaFlagsDataIn, even.current, kSectorSize));
  EXPECT_TRUE(refused(kAtaFlagsDrdyRequired | kAtaFlags48BitCommand, even.current, 0));
  TaskFile withCount = even.current;
  withCount.sectorCount = 1;
  EXPECT_TRUE(refused(kAtaFlagsDrdyRequired, withCount, 0));
  TaskFile lbaHead = even.current;
  lbaHead.device = 0x40;
  EXPECT_TRUE(refused(kAtaFlagsDrdyRequired, lbaHead, 0));
  EXPECT_FALSE(
      ClassifyAtaCommand(even.ataFlags, even.current, TaskFile{0, 1, 0, 0, 0, 0, 0, 0}, 0));
}

// The power mode is in the returned Sector Count, so the Linux back end must ask for the
// registers (CK_COND) and read them from the sense data.
TEST(CheckPowerModeCommand, PassThroughAsksForAndReadsTheSectorCount) {
  const AtaCommandRequest r = MakeAtaCommand(AtaCommand::CheckPowerMode, 1);
  const auto request = BuildAtaRequest(r.ataFlags, r.current, r.dataLength);
  const auto sat = BuildSatCommand(request);
  ASSERT_TRUE(sat);
  EXPECT_TRUE(sat->registersWanted);
  EXPECT_EQ(sat->cdb, (std::array<uint8_t, kSatCdbSize>{0x85, 0x06, 0x20, 0, 0, 0, 0, 0, 0, 0, 0, 0,
                                                        0, 0xB0, 0xE5, 0}));

  for (const uint8_t count : {uint8_t{0x00}, uint8_t{0x80}, uint8_t{0xFF}}) {
    const std::vector<uint8_t> sense{0x72, 0x01, 0x00,  0x1D, 0, 0,    0, 0x0E, 0x09, 0x0C, 0x00,
                                     0x00, 0x00, count, 0,    0, 0x00, 0, 0x00, 0,    0xB0, 0x50};
    SgIoReply reply;
    reply.ioctlSucceeded = true;
    reply.driverStatus = 0x08;
    reply.scsiStatus = kScsiStatusCheckCondition;
    reply.sense = sense;
    const SatOutcome outcome = ReadSatReply(*sat, reply);
    EXPECT_TRUE(outcome.callSucceeded) << int{count};
    EXPECT_EQ(outcome.current.sectorCount, count);
  }

  // A translation layer that ignores CK_COND gives no answer: unknown, never "active".
  SgIoReply good;
  good.ioctlSucceeded = true;
  EXPECT_FALSE(ReadSatReply(*sat, good).callSucceeded);
}

TEST(PowerModeValues, SectorCountMapping) {
  EXPECT_EQ(PowerModeFromSectorCount(0x00), PowerMode::Standby);
  EXPECT_EQ(PowerModeFromSectorCount(0x01), PowerMode::Standby);
  EXPECT_EQ(PowerModeFromSectorCount(0x40), PowerMode::Standby);
  EXPECT_EQ(PowerModeFromSectorCount(0x80), PowerMode::Idle);
  EXPECT_EQ(PowerModeFromSectorCount(0x83), PowerMode::Idle);
  EXPECT_EQ(PowerModeFromSectorCount(0xFF), PowerMode::Active);
  EXPECT_EQ(PowerModeFromSectorCount(0x41), PowerMode::Active);
  EXPECT_EQ(PowerModeFromSectorCount(0x7F), PowerMode::Unknown);
  EXPECT_STREQ(PowerModeName(PowerMode::Unknown), "unknown");
  EXPECT_STREQ(PowerModeName(PowerMode::Idle), "idle");
}

TEST(PowerModeValues, AsleepTextGivesTheReadingsAge) {
  EXPECT_EQ(AsleepText(std::nullopt), "asleep, no reading yet");
  EXPECT_EQ(AsleepText(0s), "asleep, reading 0 s old");
  EXPECT_EQ(AsleepText(59s), "asleep, reading 59 s old");
  EXPECT_EQ(AsleepText(60s), "asleep, reading 1 min old");
  EXPECT_EQ(AsleepText(3599s), "asleep, reading 59 min old");
  EXPECT_EQ(AsleepText(3600s), "asleep, reading 1 h old");
  EXPECT_EQ(AsleepText(3600s + 125s), "asleep, reading 1 h 2 min old");
  EXPECT_EQ(AsleepText(-5s), "asleep, reading 0 s old");
}

using test::Simulate;

ATACommandResult Send(SimulatedDriveSystem& system, AtaCommand command) {
  auto handle = OpenDrive(system, 0);
  EXPECT_TRUE(handle);
  return SendATACommand(*handle, MakeAtaCommand(command, 0));
}

TEST(SimulatedPowerMode, FileFieldAndDefault) {
  EXPECT_EQ(Simulate(R"({"model": "m"})")->FindDrive(0)->powerMode, SimulatedPowerMode::Active);
  EXPECT_EQ(Simulate(R"({"model": "m", "powerMode": "idle"})")->FindDrive(0)->powerMode,
            SimulatedPowerMode::Idle);
  auto standby = Simulate(R"({"model": "m", "powerMode": "standby"})");
  EXPECT_EQ(ReadPowerMode(*standby, 0), PowerMode::Standby);
  EXPECT_EQ(ReadPowerMode(*standby, 7), PowerMode::Unknown) << "no such drive";

  for (const char* bad :
       {R"({"model": "m", "powerMode": "asleep"})", R"({"model": "m", "powerMode": 0})"}) {
    std::string error;
    EXPECT_FALSE(SimulatedDriveSystem::FromJsonText(bad, "", "test.json", error));
    EXPECT_NE(error.find("test.json: powerMode:"), std::string::npos) << error;
  }
}

TEST(SimulatedPowerMode, AskingNeverWakesMediaAccessDoes) {
  auto system = Simulate(R"({"model": "m", "smartEnabled": true, "powerMode": "standby"})");
  SimulatedDrive& drive = *system->FindDrive(0);
  for (int i = 0; i < 3; ++i) {
    const ATACommandResult r = Send(*system, AtaCommand::CheckPowerMode);
    ASSERT_TRUE(r.success);
    EXPECT_EQ(r.current.sectorCount, kPowerModeStandby);
  }
  EXPECT_EQ(drive.powerMode, SimulatedPowerMode::Standby);

  for (const AtaCommand wakes : {AtaCommand::Identify, AtaCommand::SmartReadData,
                                 AtaCommand::SmartReadThresholds, AtaCommand::SmartReturnStatus}) {
    drive.powerMode = SimulatedPowerMode::Standby;
    Send(*system, wakes);
    EXPECT_EQ(drive.powerMode, SimulatedPowerMode::Active) << AtaCommandName(wakes);
    EXPECT_EQ(Send(*system, AtaCommand::CheckPowerMode).current.sectorCount,
              kPowerModeActiveOrIdle);
  }
  drive.powerMode = SimulatedPowerMode::Standby;
  auto handle = OpenDrive(*system, 0);
  SendATACommand(*handle, MakeReadSector(0, 0, false));
  EXPECT_EQ(drive.powerMode, SimulatedPowerMode::Active) << "sector read";

  drive.powerMode = SimulatedPowerMode::Idle;
  EXPECT_EQ(Send(*system, AtaCommand::CheckPowerMode).current.sectorCount, kPowerModeIdle);
  EXPECT_EQ(ReadPowerMode(*system, 0), PowerMode::Idle);

  // A drive that does not know the command is not taken to be asleep.
  drive.powerMode = SimulatedPowerMode::Standby;
  drive.errorBitFailures = {AtaCommand::CheckPowerMode};
  EXPECT_EQ(ReadPowerMode(*system, 0), PowerMode::Unknown);
}

}  // namespace
}  // namespace dv
