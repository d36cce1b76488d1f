#include <gtest/gtest.h>

#include <set>
#include <vector>

#include "core/Ioctl.h"

namespace dv {
namespace {

// Records every request it is given and answers with preset registers and data.
class RecordingHandle : public DriveHandle {
 public:
  bool PassThrough(std::span<uint8_t> request) override {
    requests.emplace_back(request.begin(), request.end());
    WriteReturnedRegisters(request, answer, answerPrevious);
    if (request.size() == kDataRequestSize) {
      for (size_t i = 0; i < kSectorSize; ++i) request[kRequestHeaderSize + i] = uint8_t(i * 7);
    }
    return callResult;
  }
  std::vector<std::vector<uint8_t>> requests;
  TaskFile answer{0, 0, 0, 0x4F, 0xC2, 0xA0, 0x50, 0};
  TaskFile answerPrevious;
  bool callResult = true;
};

TEST(AtaRequestTest, NonDataCommandIsFortyBytesWithFixedHeader) {
  RecordingHandle handle;
  SendATACommand(handle, MakeAtaCommand(AtaCommand::SmartReturnStatus, 3));
  ASSERT_EQ(handle.requests.size(), 1u);
  const std::vector<uint8_t> expected{
      40,   0,    1,    0,
      0,    0,    0,    0,  // Length, AtaFlags (DRDY), PathId, TargetId, Lun
      0,    0,    0,    0,  // DataTransferLength
      2,    0,    0,    0,  // TimeOutValue
      0,    0,    0,    0,  // reserved
      40,   0,    0,    0,  // DataBufferOffset
      0,    0,    0,    0,
      0,    0,    0,    0,  // PreviousTaskFile
      0xDA, 0x01, 0x01, 0x4F,
      0xC2, 0xB0, 0xB0, 0};  // CurrentTaskFile, odd drive: 0xB0
  EXPECT_EQ(handle.requests[0], expected);
}

TEST(AtaRequestTest, DataCommandIs552BytesAndSectorComesFromOffset40) {
  RecordingHandle handle;
  const auto result = SendATACommand(handle, MakeAtaCommand(AtaCommand::Identify, 12));
  ASSERT_EQ(handle.requests[0].size(), 552u);
  EXPECT_EQ(handle.requests[0][2], 2);  // data in
  EXPECT_EQ(handle.requests[0][8], 0x00);
  EXPECT_EQ(handle.requests[0][9], 0x02);       // 512
  EXPECT_EQ(handle.requests[0][32 + 5], 0xA0);  // even drive number
  EXPECT_EQ(handle.requests[0][32 + 6], 0xEC);
  EXPECT_TRUE(result.success);
  EXPECT_EQ(result.data[0], 0);
  EXPECT_EQ(result.data[1], 7);
  EXPECT_EQ(result.data[511], uint8_t(511 * 7));
}

TEST(AtaRequestTest, SuccessNeedsTheCallAndAClearErrBit) {
  RecordingHandle handle;
  handle.answer.command = 0x51;  // ERR set
  auto r = SendATACommand(handle, MakeAtaCommand(AtaCommand::SmartReturnStatus, 0));
  EXPECT_FALSE(r.success);
  EXPECT_TRUE(r.callSucceeded);
  EXPECT_EQ(r.current.lbaMid, 0x4F);

  handle.answer.command = 0x50;
  handle.callResult = false;
  r = SendATACommand(handle, MakeAtaCommand(AtaCommand::SmartReturnStatus, 0));
  EXPECT_FALSE(r.success);
  EXPECT_FALSE(r.callSucceeded);
}

TEST(AtaRequestTest, ReturnedPreviousRegistersAreKept) {
  RecordingHandle handle;
  handle.answer = TaskFile{0, 0, 0xAF, 0x6D, 0x70, 0x40, 0x50, 0};
  handle.answerPrevious = TaskFile{0, 0, 0xE8, 0x00, 0x00, 0, 0, 0};
  const auto r = SendATACommand(handle, MakeAtaCommand(AtaCommand::ReadNativeMaxExt, 5));
  EXPECT_EQ(handle.requests[0][2], 9);          // DRDY | 48-bit
  EXPECT_EQ(handle.requests[0][32 + 5], 0x50);  // 0x40 with the odd-drive bit
  EXPECT_EQ(r.current.lbaLow, 0xAF);
  EXPECT_EQ(r.previous.lbaLow, 0xE8);
}

TEST(CatalogueTest, EveryCatalogueCommandPassesTheGuard) {
  for (int drive : {0, 1, 12, 15}) {
    for (auto c :
         {AtaCommand::SmartEnable, AtaCommand::Identify, AtaCommand::ReadNativeMaxExt,
          AtaCommand::SmartReadData, AtaCommand::SmartAutoOffline, AtaCommand::SmartAutosave,
          AtaCommand::SmartReturnStatus, AtaCommand::SmartReadThresholds}) {
      const auto r = MakeAtaCommand(c, drive);
      EXPECT_EQ(ClassifyAtaCommand(r.ataFlags, r.current, r.previous, r.dataLength), c)
          << AtaCommandName(c) << " drive " << drive;
    }
    for (uint8_t sub : {0x42, 0xC2, 0x05, 0x85}) {
      const auto r = MakeSetFeatures(drive, sub, 0x80);
      EXPECT_EQ(ClassifyAtaCommand(r.ataFlags, r.current, r.previous, r.dataLength),
                AtaCommand::SetFeatures);
    }
    for (uint64_t lba : {0ull, 63ull, 0x0FFFFFFFull}) {
      const auto r = MakeReadSector(drive, lba, false);
      EXPECT_EQ(ClassifyAtaCommand(r.ataFlags, r.current, r.previous, r.dataLength),
                AtaCommand::ReadSectors);
    }
    for (uint8_t routine : {0x01, 0x02, 0x03, 0x7F}) {
      const auto r = MakeSmartSelfTest(drive, routine);
      EXPECT_EQ(ClassifyAtaCommand(r.ataFlags, r.current, r.previous, r.dataLength),
                AtaCommand::SmartExecuteOffline);
    }
    for (uint8_t log : {0x00, 0x01, 0x06}) {
      const auto r = MakeSmartReadLog(drive, log);
      EXPECT_EQ(ClassifyAtaCommand(r.ataFlags, r.current, r.previous, r.dataLength),
                AtaCommand::SmartReadLog);
    }
    const auto ext = MakeReadSector(drive, 0x123456789ABull, true);
    EXPECT_EQ(ext.previous.lbaLow, 0x45);
    EXPECT_EQ(ext.previous.lbaMid, 0x23);
    EXPECT_EQ(ext.previous.lbaHigh, 0x01);
    EXPECT_EQ(ext.current.lbaLow, 0xAB);
    EXPECT_EQ(ClassifyAtaCommand(ext.ataFlags, ext.current, ext.previous, ext.dataLength),
              AtaCommand::ReadSectorsExt);
  }
}

TEST(CatalogueTest, TheSmartTaskFilesAreTheOnesDrivesExpect) {
  auto r = MakeAtaCommand(AtaCommand::SmartAutoOffline, 0);
  EXPECT_EQ(r.current, (TaskFile{0xDB, 0xF8, 1, 0x4F, 0xC2, 0xA0, 0xB0, 0}));
  EXPECT_EQ(r.ataFlags, 1);
  r = MakeAtaCommand(AtaCommand::SmartAutosave, 1);
  EXPECT_EQ(r.current, (TaskFile{0xD2, 0xF1, 1, 0x4F, 0xC2, 0xB0, 0xB0, 0}));
  r = MakeAtaCommand(AtaCommand::SmartReadThresholds, 2);
  EXPECT_EQ(r.current, (TaskFile{0xD1, 1, 1, 0x4F, 0xC2, 0xA0, 0xB0, 0}));
  EXPECT_EQ(r.ataFlags, 3);
  EXPECT_EQ(r.dataLength, 512u);
  // The routine and the log address go in LBA Low; a log is read one sector at a time.
  r = MakeSmartSelfTest(1, 0x02);
  EXPECT_EQ(r.current, (TaskFile{0xD4, 0, 0x02, 0x4F, 0xC2, 0xB0, 0xB0, 0}));
  EXPECT_EQ(r.dataLength, 0u);
  r = MakeSmartReadLog(0, 0x06);
  EXPECT_EQ(r.current, (TaskFile{0xD5, 1, 0x06, 0x4F, 0xC2, 0xA0, 0xB0, 0}));
  EXPECT_EQ(r.ataFlags, 3);
  EXPECT_EQ(r.dataLength, 512u);
}

// Every LBA Low under EXECUTE OFF-LINE IMMEDIATE and READ LOG: only the off-line routines 01h-03h,
// their abort and logs 00h, 01h, 06h pass; the captive routines 81h-84h, off-line collection (00h),
// selective tests and every other log do not, nor a log of more than one sector.
TEST(CatalogueGuardTest, SelfTestRoutinesAndLogsOnlyFromTheirLists) {
  const std::set<int> routines{0x01, 0x02, 0x03, 0x7F};
  const std::set<int> logs{0x00, 0x01, 0x06};
  for (int lbaLow = 0; lbaLow < 256; ++lbaLow) {
    auto run = MakeSmartSelfTest(0, static_cast<uint8_t>(lbaLow));
    EXPECT_EQ(
        ClassifyAtaCommand(run.ataFlags, run.current, run.previous, run.dataLength).has_value(),
        routines.count(lbaLow) == 1)
        << "routine " << lbaLow;
    auto log = MakeSmartReadLog(0, static_cast<uint8_t>(lbaLow));
    EXPECT_EQ(
        ClassifyAtaCommand(log.ataFlags, log.current, log.previous, log.dataLength).has_value(),
        logs.count(lbaLow) == 1)
        << "log " << lbaLow;
    log.current.sectorCount = 2;
    EXPECT_FALSE(ClassifyAtaCommand(log.ataFlags, log.current, log.previous, log.dataLength));
  }
  auto withData = MakeSmartSelfTest(0, 0x01);
  withData.ataFlags |= kAtaFlagsDataIn;
  withData.dataLength = 512;
  EXPECT_FALSE(ClassifyAtaCommand(withData.ataFlags, withData.current, withData.previous,
                                  withData.dataLength));
}

// Nothing that could change a sector, or anything else outside the catalogue, reaches a drive.
TEST(CatalogueGuardTest, RefusesEverythingOutsideTheCatalogue) {
  struct Case {
    const char* what;
    AtaCommandRequest request;
  };
  auto write = MakeReadSector(0, 10, false);
  write.current.command = 0x30;  // WRITE SECTOR(S)
  auto writeExt = MakeReadSector(0, 10, true);
  writeExt.current.command = 0x34;  // WRITE SECTOR(S) EXT
  auto writeDma = MakeReadSector(0, 10, true);
  writeDma.current.command = 0x35;
  auto smartWriteLog = MakeAtaCommand(AtaCommand::SmartReadData, 0);
  smartWriteLog.current.features = 0xD6;  // SMART WRITE LOG
  auto smartDisable = MakeAtaCommand(AtaCommand::SmartEnable, 0);
  smartDisable.current.features = 0xD9;
  auto offlineImmediate = MakeAtaCommand(AtaCommand::SmartEnable, 0);
  offlineImmediate.current.features = 0xD4;
  auto setMax = MakeAtaCommand(AtaCommand::ReadNativeMaxExt, 0);
  setMax.current.command = 0x37;                  // SET MAX ADDRESS EXT
  auto writeCache = MakeSetFeatures(0, 0x02, 0);  // enable write cache: not ours
  auto securityErase = MakeAtaCommand(AtaCommand::Identify, 0);
  securityErase.current.command = 0xF4;
  auto downloadMicrocode = MakeAtaCommand(AtaCommand::Identify, 0);
  downloadMicrocode.current.command = 0x92;
  auto identifyWithoutData = MakeAtaCommand(AtaCommand::Identify, 0);
  identifyWithoutData.dataLength = 0;
  auto readTwoSectors = MakeReadSector(0, 0, false);
  readTwoSectors.current.sectorCount = 2;
  auto smartWrongSignature = MakeAtaCommand(AtaCommand::SmartReturnStatus, 0);
  smartWrongSignature.current.lbaMid = 0;
  auto readDataOut = MakeAtaCommand(AtaCommand::SmartReadData, 0);
  readDataOut.ataFlags = kAtaFlagsDrdyRequired | 0x04;  // data out
  auto trim = MakeAtaCommand(AtaCommand::Identify, 0);
  trim.current.command = 0x06;  // DATA SET MANAGEMENT

  const std::vector<Case> cases{
      {"write sectors", write},
      {"write sectors ext", writeExt},
      {"write dma ext", writeDma},
      {"smart write log", smartWriteLog},
      {"smart disable", smartDisable},
      {"smart offline immediate", offlineImmediate},
      {"set max address", setMax},
      {"set features write cache", writeCache},
      {"security erase", securityErase},
      {"download microcode", downloadMicrocode},
      {"identify without data", identifyWithoutData},
      {"two sectors", readTwoSectors},
      {"smart without signature", smartWrongSignature},
      {"data out flag", readDataOut},
      {"trim", trim},
  };
  for (const auto& c : cases) {
    RecordingHandle handle;
    const auto result = SendATACommand(handle, c.request);
    EXPECT_FALSE(result.success) << c.what;
    EXPECT_TRUE(handle.requests.empty()) << c.what << " reached the drive";
  }
}

TEST(DrivePathTest, NamesFollowTheDriveNumber) {
  EXPECT_EQ(WindowsDrivePath(12), "\\\\.\\PhysicalDrive12");
  EXPECT_EQ(WindowsDrivePath(0), "\\\\.\\PhysicalDrive0");
  EXPECT_EQ(LinuxDrivePath(0), "/dev/sda");
  EXPECT_EQ(LinuxDrivePath(15), "/dev/sdp");
  EXPECT_EQ(LinuxDrivePath(25), "/dev/sdz");
  EXPECT_EQ(LinuxDrivePath(26), "/dev/sdaa");
}

TEST(CommandNameTest, NamesRoundTrip) {
  for (int i = 0; i <= static_cast<int>(kLastAtaCommand); ++i) {
    const auto c = static_cast<AtaCommand>(i);
    EXPECT_EQ(AtaCommandFromName(AtaCommandName(c)), c);
  }
  EXPECT_FALSE(AtaCommandFromName("WRITE_SECTORS"));
}

}  // namespace
}  // namespace dv
