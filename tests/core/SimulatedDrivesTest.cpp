// The simulated drives answer the command catalogue as real ATA drives do.
#include <gtest/gtest.h>

#include <chrono>
#include <filesystem>
#include <fstream>
#include <numeric>

#include "core/Ioctl.h"
#include "core/LittleEndian.h"
#include "core/SimulatedDrives.h"
#include "kit/SimulationText.h"

namespace dv {
namespace {

using test::Simulate;

ATACommandResult Send(SimulatedDriveSystem& system, int driveNumber,
                      const AtaCommandRequest& request) {
  auto handle = OpenDrive(system, driveNumber);
  if (!handle) return {};
  return SendATACommand(*handle, request);
}

ATACommandResult Send(SimulatedDriveSystem& system, int driveNumber, AtaCommand command) {
  return Send(system, driveNumber, MakeAtaCommand(command, driveNumber));
}

std::string SectorHex(uint8_t fill, uint8_t first) {
  static const char* kDigits = "0123456789abcdef";
  std::string hex;
  for (size_t i = 0; i < kSectorSize; ++i) {
    const uint8_t b = i == 0 ? first : fill;
    hex += kDigits[b >> 4];
    hex += kDigits[b & 15];
  }
  return hex;
}

int ByteSum(std::span<const uint8_t> sector) {
  return std::accumulate(sector.begin(), sector.end(), 0) % 256;
}

std::string Text(std::span<const uint8_t> id, size_t firstWord, size_t words) {
  std::string text;
  for (size_t w = firstWord; w < firstWord + words; ++w) {
    text += static_cast<char>(Word(id, w) >> 8);
    text += static_cast<char>(Word(id, w) & 0xFF);
  }
  return text;
}

TEST(SimulatedIdentify, TextFieldsInAtaByteOrderBlankPadded) {
  auto system = Simulate(R"({"model": "ST2000DM008-2FR102", "serial": "ZFL0A1B2",
                            "firmware": "0001", "driveNumber": 3})");
  const auto r = Send(*system, 3, AtaCommand::Identify);
  ASSERT_TRUE(r.success);
  EXPECT_EQ(Text(r.data, 27, 20), std::string("ST2000DM008-2FR102") + std::string(22, ' '));
  EXPECT_EQ(Text(r.data, 10, 10), "ZFL0A1B2" + std::string(12, ' '));
  EXPECT_EQ(Text(r.data, 23, 4), "0001    ");
  EXPECT_EQ(r.data[510], 0xA5);
  EXPECT_EQ(ByteSum(r.data), 0) << "integrity checksum";
}

TEST(SimulatedIdentify, SectorCountsIn28And48BitWords) {
  auto system = Simulate(R"({"drives": [
      {"model": "small", "sectors": 160086528},
      {"model": "edge", "sectors": 268435456},
      {"model": "huge", "sectors": 5860533168},
      {"model": "forced", "sectors": 1000, "lba48": true}]})");
  const auto small = Send(*system, 0, AtaCommand::Identify);
  EXPECT_EQ(Le32(small.data, 120), 160086528u);
  EXPECT_EQ(Word(small.data, 86) & 0x0400, 0) << "no 48-bit below 2^28 sectors";
  EXPECT_EQ(Le64(small.data, 200), 0u);

  const auto edge = Send(*system, 1, AtaCommand::Identify);
  EXPECT_EQ(Le32(edge.data, 120), 0x0FFFFFFFu);
  EXPECT_NE(Word(edge.data, 86) & 0x0400, 0);
  EXPECT_NE(Word(edge.data, 83) & 0x0400, 0);
  EXPECT_EQ(Le64(edge.data, 200), 268435456u);

  const auto huge = Send(*system, 2, AtaCommand::Identify);
  EXPECT_EQ(Word(huge.data, 100), 0xA3B0);
  EXPECT_EQ(Word(huge.data, 101), 0x5D50);
  EXPECT_EQ(Word(huge.data, 102), 0x0001);
  EXPECT_EQ(Word(huge.data, 103), 0x0000);

  const auto forced = Send(*system, 3, AtaCommand::Identify);
  EXPECT_EQ(Le32(forced.data, 120), 1000u);
  EXPECT_EQ(Le64(forced.data, 200), 1000u);
}

TEST(SimulatedIdentify, FeatureFlagsInWords82And85) {
  auto system = Simulate(R"({"drives": [
      {"model": "plain"},
      {"model": "all", "smartEnabled": false, "securityEnabled": true, "hpaEnabled": true}]})");
  const auto plain = Send(*system, 0, AtaCommand::Identify);
  EXPECT_EQ(Word(plain.data, 85) & 0x0403, 0x0001);
  EXPECT_EQ(Word(plain.data, 82) & 0x0403, 0x0001);
  const auto all = Send(*system, 1, AtaCommand::Identify);
  EXPECT_EQ(Word(all.data, 85) & 0x0403, 0x0402);
  EXPECT_EQ(Word(all.data, 82) & 0x0403, 0x0403);
}

TEST(SimulatedSmart, EnableSucceedsButLeavesSmartOff) {
  auto system = Simulate(R"({"model": "off", "smartEnabled": false})");
  EXPECT_TRUE(Send(*system, 0, AtaCommand::SmartEnable).success);
  const auto id = Send(*system, 0, AtaCommand::Identify);
  EXPECT_EQ(Word(id.data, 85) & 1, 0);
  for (auto command :
       {AtaCommand::SmartReadData, AtaCommand::SmartReadThresholds, AtaCommand::SmartReturnStatus,
        AtaCommand::SmartAutoOffline, AtaCommand::SmartAutosave}) {
    const auto r = Send(*system, 0, command);
    EXPECT_TRUE(r.callSucceeded) << AtaCommandName(command);
    EXPECT_FALSE(r.success) << AtaCommandName(command) << " needs S.M.A.R.T. enabled";
    EXPECT_EQ(r.current.Status() & kStatusErr, kStatusErr);
  }
}

TEST(SimulatedSmart, ReturnStatusSignatures) {
  auto system = Simulate(R"({"model": "m", "driveNumber": 1})");
  auto r = Send(*system, 1, AtaCommand::SmartReturnStatus);
  ASSERT_TRUE(r.success);
  EXPECT_EQ(r.current.lbaMid, 0x4F);
  EXPECT_EQ(r.current.lbaHigh, 0xC2);

  system->FindDrive(1)->smartStatus = SimulatedSmartStatus::ThresholdExceeded;
  r = Send(*system, 1, AtaCommand::SmartReturnStatus);
  ASSERT_TRUE(r.success);
  EXPECT_EQ(r.current.lbaMid, 0xF4);
  EXPECT_EQ(r.current.lbaHigh, 0x2C);

  system->FindDrive(1)->smartStatus = SimulatedSmartStatus::Error;
  r = Send(*system, 1, AtaCommand::SmartReturnStatus);
  EXPECT_TRUE(r.callSucceeded);
  EXPECT_FALSE(r.success);
  EXPECT_EQ(r.current.features, 0x04) << "ABRT in the Error register";
}

TEST(SimulatedSmart, DataAndThresholdSectorsFromFields) {
  auto system = Simulate(R"({"model": "m", "smart": {"attributes": [
      {"id": 5, "flags": 51, "value": 100, "worst": 99, "raw": 7, "threshold": 36},
      {"id": 9, "flags": 50, "value": 90, "raw": "0x0123456789AB"},
      {"id": 194, "flags": 34, "value": 36, "worst": 45, "rawBytes": [36, 0, 20, 0, 45, 0]}]}})");
  const auto data = Send(*system, 0, AtaCommand::SmartReadData);
  ASSERT_TRUE(data.success);
  EXPECT_EQ(Le16(data.data, 0), 0x0010) << "revision";
  EXPECT_EQ(ByteSum(data.data), 0) << "checksum";
  EXPECT_EQ(data.data[2], 5);
  EXPECT_EQ(Le16(data.data, 3), 51);
  EXPECT_EQ(data.data[5], 100);
  EXPECT_EQ(data.data[6], 99);
  EXPECT_EQ(LeN(data.data, 7, 6), 7u);
  EXPECT_EQ(data.data[14], 9);
  EXPECT_EQ(data.data[18], 90) << "worst defaults to the value";
  EXPECT_EQ(LeN(data.data, 19, 6), 0x0123456789ABu);
  EXPECT_EQ(data.data[26], 194);
  EXPECT_EQ(data.data[31], 36);
  EXPECT_EQ(data.data[33], 20);
  EXPECT_EQ(data.data[35], 45);
  EXPECT_EQ(data.data[38], 0) << "the table ends";
  EXPECT_EQ(data.data[367] & 0x02, 0x02);
  EXPECT_EQ(data.data[368] & 0x02, 0x02);

  const auto thresholds = Send(*system, 0, AtaCommand::SmartReadThresholds);
  ASSERT_TRUE(thresholds.success);
  EXPECT_EQ(Le16(thresholds.data, 0), 0x0010);
  EXPECT_EQ(ByteSum(thresholds.data), 0);
  EXPECT_EQ(thresholds.data[2], 5);
  EXPECT_EQ(thresholds.data[3], 36);
  EXPECT_EQ(thresholds.data[14], 9);
  EXPECT_EQ(thresholds.data[15], 0);
}

TEST(SimulatedSmart, ConveniencesFollowTheCapabilityBits) {
  auto system = Simulate(R"({"drives": [
      {"model": "both"},
      {"model": "none", "smart": {"offlineCollection": false, "attributeAutosave": false}}]})");
  EXPECT_TRUE(Send(*system, 0, AtaCommand::SmartAutoOffline).success);
  EXPECT_TRUE(Send(*system, 0, AtaCommand::SmartAutosave).success);
  const auto data = Send(*system, 1, AtaCommand::SmartReadData);
  EXPECT_EQ(data.data[367] & 0x02, 0);
  EXPECT_EQ(data.data[368] & 0x02, 0);
  EXPECT_FALSE(Send(*system, 1, AtaCommand::SmartAutoOffline).success);
  EXPECT_FALSE(Send(*system, 1, AtaCommand::SmartAutosave).success);
}

TEST(SimulatedNativeMax, AnswersInCurrentAndPreviousRegisters) {
  auto system = Simulate(R"({"drives": [
      {"model": "hpa", "sectors": 974676016, "nativeMaxAddress": 20015998343868},
      {"model": "default", "sectors": 976773168},
      {"model": "old", "sectors": 1000000, "driveNumber": 3}]})");
  auto r = Send(*system, 0, AtaCommand::ReadNativeMaxExt);
  ASSERT_TRUE(r.success);
  EXPECT_EQ(r.current.lbaLow, 0xBC);  // 20015998343868 = 0x123456789ABC
  EXPECT_EQ(r.current.lbaMid, 0x9A);
  EXPECT_EQ(r.current.lbaHigh, 0x78);
  EXPECT_EQ(r.previous.lbaLow, 0x56);
  EXPECT_EQ(r.previous.lbaMid, 0x34);
  EXPECT_EQ(r.previous.lbaHigh, 0x12);

  r = Send(*system, 1, AtaCommand::ReadNativeMaxExt);
  ASSERT_TRUE(r.success);
  const uint64_t max = r.current.lbaLow | (uint64_t{r.current.lbaMid} << 8) |
                       (uint64_t{r.current.lbaHigh} << 16) | (uint64_t{r.previous.lbaLow} << 24) |
                       (uint64_t{r.previous.lbaMid} << 32) | (uint64_t{r.previous.lbaHigh} << 40);
  EXPECT_EQ(max, 976773167u) << "sectors - 1 by default";

  EXPECT_FALSE(Send(*system, 3, AtaCommand::ReadNativeMaxExt).success)
      << "a drive without 48-bit addressing aborts the EXT command";
}

TEST(SimulatedSetFeatures, UpdatesAamAndApmWords) {
  auto system = Simulate(R"({"model": "m", "driveNumber": 1,
      "aam": {"supported": true, "enabled": false, "current": 0, "recommended": 254},
      "apm": {"supported": true, "enabled": true, "current": 128, "recommended": 128}})");
  auto id = Send(*system, 1, AtaCommand::Identify);
  EXPECT_NE(Word(id.data, 83) & 0x0208, 0);
  EXPECT_EQ(Word(id.data, 86) & 0x0208, 0x0008);
  EXPECT_EQ(Word(id.data, 94), 0xFE00);
  EXPECT_EQ(Word(id.data, 91), 0x8080);

  EXPECT_TRUE(Send(*system, 1, MakeSetFeatures(1, 0x42, 0x80)).success);
  EXPECT_TRUE(Send(*system, 1, MakeSetFeatures(1, 0x85, 0)).success);
  id = Send(*system, 1, AtaCommand::Identify);
  EXPECT_EQ(Word(id.data, 86) & 0x0208, 0x0200) << "AAM on, APM off";
  EXPECT_EQ(Word(id.data, 94), 0xFE80) << "level in the low byte, recommended kept";
  EXPECT_EQ(ByteSum(id.data), 0) << "checksum follows the change";

  EXPECT_TRUE(Send(*system, 1, MakeSetFeatures(1, 0x05, 0xFE)).success);
  EXPECT_TRUE(Send(*system, 1, MakeSetFeatures(1, 0xC2, 0)).success);
  id = Send(*system, 1, AtaCommand::Identify);
  EXPECT_EQ(Word(id.data, 86) & 0x0208, 0x0008) << "AAM off, APM on";
  EXPECT_EQ(Word(id.data, 91), 0x80FE);
}

TEST(SimulatedSetFeatures, RefusesUnsupportedFeaturesAndReservedLevels) {
  auto system = Simulate(R"({"drives": [{"model": "none"},
      {"model": "both", "aam": {}, "apm": {}}]})");
  for (uint8_t sub : {0x42, 0xC2, 0x05, 0x85}) {
    const auto r = Send(*system, 0, MakeSetFeatures(0, sub, 0x80));
    EXPECT_TRUE(r.callSucceeded) << "the AAM/APM path sees only the call";
    EXPECT_FALSE(r.success) << "subcommand " << int(sub);
  }
  EXPECT_FALSE(Send(*system, 1, MakeSetFeatures(1, 0x05, 0)).success) << "APM level 0 reserved";
  EXPECT_FALSE(Send(*system, 1, MakeSetFeatures(1, 0x42, 0xFF)).success);
  const auto id = Send(*system, 1, AtaCommand::Identify);
  EXPECT_EQ(Word(id.data, 94), 0x8080) << "refused commands change nothing";
  EXPECT_EQ(Word(id.data, 91), 0x8080);
}

class SimulatedSectorReads : public ::testing::Test {
 protected:
  void SetUp() override {
    imagePath_ =
        std::filesystem::temp_directory_path() /
        ("dv-sim-image-" +
         std::to_string(std::chrono::steady_clock::now().time_since_epoch().count()) + ".img");
    std::ofstream image(imagePath_, std::ios::binary);
    for (int lba = 0; lba < 4; ++lba) {
      std::string sector(kSectorSize, static_cast<char>(0x10 + lba));
      image.write(sector.data(), static_cast<std::streamsize>(sector.size()));
    }
  }
  void TearDown() override { std::filesystem::remove(imagePath_); }

  std::filesystem::path imagePath_;
};

TEST_F(SimulatedSectorReads, ImageOverridesAndZeros) {
  std::string error;
  const std::string json = R"({"model": "m", "image": ")" + imagePath_.filename().string() +
                           R"(", "sectorsHex": {"2": ")" + SectorHex(0xEE, 0x55) + R"("}})";
  auto system = SimulatedDriveSystem::FromJsonText(json, imagePath_.parent_path().string(),
                                                   "image.json", error);
  ASSERT_TRUE(system) << error;
  for (bool ext : {false, true}) {
    auto r = Send(*system, 0, MakeReadSector(0, 1, ext));
    ASSERT_TRUE(r.success);
    EXPECT_EQ(r.data[0], 0x11);
    EXPECT_EQ(r.data[511], 0x11);
    r = Send(*system, 0, MakeReadSector(0, 2, ext));
    EXPECT_EQ(r.data[0], 0x55) << "sectorsHex wins over the image";
    EXPECT_EQ(r.data[1], 0xEE);
    r = Send(*system, 0, MakeReadSector(0, 100, ext));
    ASSERT_TRUE(r.success);
    EXPECT_EQ(ByteSum(r.data), 0);
    EXPECT_EQ(r.data[0], 0) << "beyond the image: zeros";
  }
}

TEST(SimulatedSectors, LbaFromDeviceRegisterAndPreviousTaskFile) {
  const uint64_t lba28 = 0x0ABCDEF1;       // bits 27..24 in the device register
  const uint64_t lba48 = 0x123456789AULL;  // bits 24..47 in the previous task file
  const std::string json = R"({"model": "m", "sectors": 100000000000, "sectorsHex": {")" +
                           std::to_string(lba28) + R"(": ")" + SectorHex(0, 0x28) + R"(", ")" +
                           std::to_string(lba48) + R"(": ")" + SectorHex(0, 0x48) + R"("}})";
  auto system = Simulate(json);
  const auto request28 = MakeReadSector(0, lba28, false);
  EXPECT_EQ(request28.current.device, 0x4A);
  EXPECT_EQ(Send(*system, 0, request28).data[0], 0x28);
  EXPECT_EQ(Send(*system, 0, MakeReadSector(0, lba28, true)).data[0], 0x28);
  EXPECT_EQ(Send(*system, 0, MakeReadSector(0, lba48, true)).data[0], 0x48);
  EXPECT_EQ(Send(*system, 0, MakeReadSector(0, lba48 & 0x0FFFFFFF, false)).data[0], 0)
      << "a 28-bit read cannot reach the high bits";
}

TEST(SimulatedSectors, ReadsOutsideTheDiskOrWithoutLba48Abort) {
  auto system = Simulate(R"({"model": "m", "sectors": 1000})");
  auto r = Send(*system, 0, MakeReadSector(0, 999, false));
  EXPECT_TRUE(r.success);
  r = Send(*system, 0, MakeReadSector(0, 1000, false));
  EXPECT_TRUE(r.callSucceeded);
  EXPECT_FALSE(r.success);
  EXPECT_EQ(r.current.features, 0x10) << "IDNF";
  EXPECT_FALSE(Send(*system, 0, MakeReadSector(0, 1, true)).success);
}

TEST(SimulatedFailures, OpenIoctlAndErrorBit) {
  auto system = Simulate(R"({"drives": [
      {"model": "closed", "failures": {"open": true}},
      {"model": "flaky", "failures": {"ioctl": ["IDENTIFY"], "errorBit": ["SMART_READ_DATA"]}}]})");
  EXPECT_EQ(OpenDrive(*system, 0), nullptr);
  EXPECT_EQ(OpenDrive(*system, 2), nullptr) << "no drive with that number";
  EXPECT_EQ(OpenDrive(*system, 16), nullptr);
  EXPECT_EQ(system->TotalOpens(), 0);

  auto r = Send(*system, 1, AtaCommand::Identify);
  EXPECT_FALSE(r.callSucceeded);
  EXPECT_FALSE(r.success);
  r = Send(*system, 1, AtaCommand::SmartReadData);
  EXPECT_TRUE(r.callSucceeded);
  EXPECT_FALSE(r.success);
  EXPECT_EQ(r.current.Status() & kStatusErr, kStatusErr);
  EXPECT_TRUE(Send(*system, 1, AtaCommand::SmartReadThresholds).success);

  system->FindDrive(1)->ioctlFailures.clear();
  system->FindDrive(0)->failOpen = false;
  EXPECT_TRUE(Send(*system, 1, AtaCommand::Identify).success);
  EXPECT_NE(OpenDrive(*system, 0), nullptr);
}

TEST(SimulatedRequests, NonCatalogueRequestsAreAbortedAndLogged) {
  auto system =
      Simulate(R"({"model": "m", "sectorsHex": {"0": ")" + SectorHex(0x77, 0x77) + R"("}})");
  auto handle = OpenDrive(*system, 0);
  ASSERT_TRUE(handle);
  // WRITE SECTOR(S) to LBA 0, built by hand past the guard.
  TaskFile write{0, 1, 0, 0, 0, 0x40, 0x30, 0};
  auto request = BuildAtaRequest(kAtaFlagsDrdyRequired, write, kSectorSize);
  EXPECT_TRUE(handle->PassThrough(request));
  const auto header = ReadAtaRequestHeader(request);
  EXPECT_EQ(header->current.Status() & kStatusErr, kStatusErr);
  EXPECT_EQ(header->current.features, 0x04);

  std::vector<uint8_t> tooShort(20, 0);
  EXPECT_FALSE(handle->PassThrough(tooShort));

  // A catalogue command in a buffer smaller than its header announces.
  const auto identify = MakeAtaCommand(AtaCommand::Identify, 0);
  auto truncated = BuildAtaRequest(identify.ataFlags, identify.current, identify.dataLength);
  truncated.resize(kRequestHeaderSize);
  EXPECT_FALSE(handle->PassThrough(truncated));

  ASSERT_GE(system->CommandLog().size(), 1u);
  const auto& entry = system->CommandLog().front();
  EXPECT_EQ(entry.driveNumber, 0);
  EXPECT_EQ(entry.name, "0x30");
  EXPECT_TRUE(entry.refused);
  EXPECT_EQ(Send(*system, 0, MakeReadSector(0, 0, false)).data[0], 0x77) << "nothing written";
}

TEST(SimulatedRequests, LogNamesEveryCommand) {
  auto system = Simulate(R"({"drives": [{"model": "a"}, {"model": "b"}]})");
  Send(*system, 0, AtaCommand::SmartEnable);
  Send(*system, 1, AtaCommand::Identify);
  Send(*system, 1, MakeSetFeatures(1, 0x42, 0x80));
  ASSERT_EQ(system->CommandLog().size(), 3u);
  EXPECT_EQ(system->CommandLog()[0].name, "SMART_ENABLE");
  EXPECT_EQ(system->CommandLog()[1].name, "IDENTIFY");
  EXPECT_EQ(system->CommandLog()[1].driveNumber, 1);
  EXPECT_EQ(system->CommandLog()[2].name, "SET_FEATURES");
  EXPECT_FALSE(system->CommandLog()[2].refused);
  system->ClearLog();
  EXPECT_TRUE(system->CommandLog().empty());
}

TEST(SimulatedRequests, LogKeepsTheRecentCommandsWithinItsLimit) {
  // A tray program on simulated drives runs for weeks; its log must not grow with every pass.
  auto system = Simulate(R"({"model": "a"})");
  const size_t sent = 2 * SimulatedDriveSystem::kCommandLogLimit + 3;
  auto handle = OpenDrive(*system, 0);
  for (size_t i = 0; i + 1 < sent; ++i) {
    SendATACommand(*handle, MakeAtaCommand(AtaCommand::SmartReturnStatus, 0));
  }
  SendATACommand(*handle, MakeAtaCommand(AtaCommand::Identify, 0));
  const auto& log = system->CommandLog();
  EXPECT_LE(log.size(), SimulatedDriveSystem::kCommandLogLimit);
  EXPECT_GE(log.size(), SimulatedDriveSystem::kCommandLogLimit / 2);
  EXPECT_EQ(log.back().name, "IDENTIFY");
}

TEST(SimulatedHandles, CountedWhileOpen) {
  auto system = Simulate(R"({"drives": [{"model": "a"}, {"model": "b"}]})");
  {
    auto first = OpenDrive(*system, 0);
    auto second = OpenDrive(*system, 1);
    auto again = OpenDrive(*system, 0);
    EXPECT_EQ(system->OpenHandleCount(), 3);
    second.reset();
    EXPECT_EQ(system->OpenHandleCount(), 2);
  }
  EXPECT_EQ(system->OpenHandleCount(), 0);
  EXPECT_EQ(system->TotalOpens(), 3);
}

TEST(SimulatedDriveSystemTest, VolumesAndLatency) {
  auto system = Simulate(R"({"model": "m", "volumes": {"1": "C", "3": "/home"}, "latencyMs": 20})");
  EXPECT_EQ(system->VolumeName(0, 1), "C");
  EXPECT_EQ(system->VolumeName(0, 3), "/home");
  EXPECT_EQ(system->VolumeName(0, 2), std::nullopt);
  EXPECT_EQ(system->VolumeName(5, 1), std::nullopt);

  const auto start = std::chrono::steady_clock::now();
  Send(*system, 0, AtaCommand::Identify);
  EXPECT_GE(std::chrono::steady_clock::now() - start, std::chrono::milliseconds(20));
}

}  // namespace
}  // namespace dv
