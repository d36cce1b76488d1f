// The self-test and error-log decoders on hand-made sectors: the ring order, the empty slots, the
// bytes that are out of range.
#include <gtest/gtest.h>

#include <array>
#include <vector>

#include "core/LittleEndian.h"
#include "core/SelfTest.h"

namespace dv {
namespace {

using Sector = std::array<uint8_t, kSectorSize>;

void PutSelfTest(Sector& s, size_t slot, uint8_t routine, uint8_t status, uint16_t hours,
                 uint32_t lba) {
  const size_t at = kSelfTestLogFirst + slot * kSelfTestLogEntrySize;
  s[at + kSelfTestEntryRoutine] = routine;
  s[at + kSelfTestEntryStatus] = status;
  PutLe16(s, at + kSelfTestEntryHours, hours);
  PutLe32(s, at + kSelfTestEntryLba, lba);
}

TEST(SelfTestStatusTest, NibblesAndNames) {
  struct Case {
    uint8_t byte;
    uint8_t code;
    int remaining;
    bool running;
    bool failed;
    const char* text;
  };
  for (const Case& c : std::vector<Case>{{0x00, 0, 0, false, false, "completed without error"},
                                         {0xF9, 15, 90, true, false, "in progress"},
                                         {0x73, 7, 30, false, true, "read failure"},
                                         {0x30, 3, 0, false, true, "fatal error"},
                                         {0x80, 8, 0, false, true, "handling damage"},
                                         {0x90, 9, 0, false, false, "status 9"},
                                         {0x10, 1, 0, false, false, "aborted by the host"}}) {
    const SelfTestStatus s = DecodeSelfTestStatus(c.byte);
    EXPECT_EQ(s.Code, c.code) << int(c.byte);
    EXPECT_EQ(s.RemainingPercent, c.remaining) << int(c.byte);
    EXPECT_EQ(s.Running(), c.running) << int(c.byte);
    EXPECT_EQ(s.Failed(), c.failed) << int(c.byte);
    EXPECT_EQ(SelfTestStatusText(s.Code), c.text);
  }
}

TEST(SelfTestCapabilityTest, BitsAndPollingMinutes) {
  Sector data{};
  data[kSmartOfflineCapabilityByte] = 0x19;  // as the emulated disk: no conveyance
  data[kSmartErrorLoggingByte] = 0x01;
  data[kSmartShortTestMinutesByte] = 2;
  data[kSmartExtendedTestMinutesByte] = 54;
  auto c = DecodeSelfTestCapability(data);
  EXPECT_TRUE(c.Offers(kSelfTestShort) && c.Offers(kSelfTestExtended) && c.Offers(kSelfTestAbort));
  EXPECT_FALSE(c.Offers(kSelfTestConveyance));
  EXPECT_FALSE(c.Offers(0x81));
  EXPECT_TRUE(c.ErrorLogging);
  EXPECT_EQ(c.PollingMinutes(kSelfTestExtended), 54);
  // FFh in byte 373 sends the reader to the 16-bit figure at 375.
  data[kSmartExtendedTestMinutesByte] = 0xFF;
  PutLe16(data, kSmartExtendedMinutesOffset, 1234);
  data[kSmartOfflineCapabilityByte] = 0x30;  // tests, but no EXECUTE OFF-LINE IMMEDIATE
  c = DecodeSelfTestCapability(data);
  EXPECT_EQ(c.ExtendedMinutes, 1234);
  EXPECT_FALSE(c.Offers(kSelfTestShort));
}

TEST(SelfTestLogTest, NewestFirstAcrossTheRingSkippingEmptySlots) {
  Sector s{};
  s[kSelfTestLogRevision] = 1;
  PutSelfTest(s, 20, kSelfTestShort, 0x00, 100, 0);            // older
  PutSelfTest(s, 0, kSelfTestExtended, 0x75, 101, 0x0123456);  // read failure, 50 % left
  PutSelfTest(s, 1, 0x81, 0x10, 102, 0xFFFFFFFF);              // newest: captive, aborted
  s[kSelfTestLogIndexByte] = 2;
  const auto log = DecodeSelfTestLog(s);
  ASSERT_TRUE(log);
  ASSERT_EQ(log->Entries.size(), 3u);
  const auto rows = SelfTestRows(*log);
  EXPECT_EQ(rows[0].Type, "short (captive)");
  EXPECT_EQ(rows[0].Status, "aborted by the host");
  EXPECT_FALSE(rows[0].FirstErrorLba);
  EXPECT_EQ(rows[1].Type, "extended");
  EXPECT_TRUE(rows[1].Failed);
  EXPECT_EQ(rows[1].RemainingPercent, 50);
  EXPECT_EQ(rows[1].FirstErrorLba, 0x0123456u);
  EXPECT_EQ(rows[2].LifetimeHours, 100u);

  // A failed test whose LBA is all ones names none.
  PutSelfTest(s, 1, kSelfTestShort, 0x70, 102, 0xFFFFFFFF);
  EXPECT_FALSE(SelfTestRows(*DecodeSelfTestLog(s))[0].FirstErrorLba);
}

TEST(SelfTestLogTest, IndexAndSizeOutOfRange) {
  Sector s{};
  PutSelfTest(s, 0, kSelfTestShort, 0, 1, 0);
  EXPECT_TRUE(DecodeSelfTestLog(s)->Entries.empty());  // index 0: nothing logged yet
  s[kSelfTestLogIndexByte] = 22;
  EXPECT_FALSE(DecodeSelfTestLog(s));
  s[kSelfTestLogIndexByte] = 1;
  EXPECT_FALSE(DecodeSelfTestLog(std::span<const uint8_t>(s).first(511)));
}

TEST(AtaErrorLogTest, CountRecordsAndRegisters) {
  Sector s{};
  s[kErrorLogVersion] = 1;
  PutLe16(s, kErrorLogCountOffset, 7);
  // Every slot filled; the newest in slot 0 (index 1), so the order is 0, 4, 3, 2, 1.
  for (size_t slot = 0; slot < kErrorLogRecords; ++slot) {
    const size_t at = kErrorLogFirst + slot * kErrorLogRecordSize;
    const size_t failing = at + (kErrorLogCommands - 1) * kErrorLogCommandSize;
    s[failing + kErrorCommandRegisters + 6] = 0x25;  // READ DMA EXT
    PutLe32(s, failing + kErrorCommandTimestamp, 1000 + slot);
    s[at + kErrorLogDataOffset + kErrorDataRegisters] = kErrorUncorrectable;
    s[at + kErrorLogDataOffset + kErrorDataRegisters + 6] = 0x51;
    PutLe16(s, at + kErrorLogDataOffset + kErrorDataHours, static_cast<uint16_t>(500 + slot));
  }
  s[kErrorLogIndexByte] = 1;
  const auto log = DecodeAtaErrorLog(s);
  ASSERT_TRUE(log);
  EXPECT_EQ(log->Count, 7);
  ASSERT_EQ(log->Records.size(), 5u);
  std::vector<int> hours;
  for (const auto& r : log->Records) hours.push_back(r.LifetimeHours);
  EXPECT_EQ(hours, (std::vector<int>{500, 504, 503, 502, 501}));
  ASSERT_EQ(log->Records[0].Commands.size(), 1u);
  EXPECT_EQ(log->Records[0].Commands[0].Command, 0x25);
  EXPECT_EQ(log->Records[0].Commands[0].TimestampMs, 1000u);
  EXPECT_EQ(log->Records[0].Error, kErrorUncorrectable);
  EXPECT_EQ(log->Records[0].Status, 0x51);

  // Two errors counted: only the two newest records are the drive's.
  PutLe16(s, kErrorLogCountOffset, 2);
  EXPECT_EQ(DecodeAtaErrorLog(s)->Records.size(), 2u);
  s[kErrorLogIndexByte] = 6;
  EXPECT_FALSE(DecodeAtaErrorLog(s));
}

TEST(NvmeSelfTestLogTest, ResultsAndTheRunningTest) {
  std::vector<uint8_t> d(kNvmeSelfTestLogSize, 0);
  d[kNvmeSelfTestOperation] = 0x2;
  d[kNvmeSelfTestCompletion] = 40;
  for (size_t i = 0; i < kNvmeSelfTestResultCount; ++i) {
    d[kNvmeSelfTestResults + i * kNvmeSelfTestResultSize + kNvmeResultStatus] = 0x0F;  // unused
  }
  const size_t first = kNvmeSelfTestResults;
  d[first + kNvmeResultStatus] = 0x17;  // short, failed segments
  d[first + kNvmeResultSegment] = 3;
  d[first + kNvmeResultValid] = kNvmeResultLbaValid;
  PutLe32(d, first + kNvmeResultPowerOnHours, 4660);
  PutLe32(d, first + kNvmeResultFailingLba, 0x1000);
  const size_t second = first + kNvmeSelfTestResultSize;
  d[second + kNvmeResultStatus] = 0x20;  // extended, no error; the LBA field is not valid
  PutLe32(d, second + kNvmeResultFailingLba, 0x2000);

  const auto log = DecodeNvmeSelfTestLog(d);
  ASSERT_TRUE(log);
  EXPECT_EQ(log->CurrentOperation, 2);
  EXPECT_EQ(log->CurrentCompletion, 40);
  const auto rows = SelfTestRows(*log);
  ASSERT_EQ(rows.size(), 2u);
  EXPECT_EQ(rows[0].Type, "short");
  EXPECT_TRUE(rows[0].Failed);
  EXPECT_EQ(rows[0].FirstErrorLba, 0x1000u);
  EXPECT_EQ(rows[0].LifetimeHours, 4660u);
  EXPECT_EQ(rows[1].Status, "completed without error");
  EXPECT_FALSE(rows[1].FirstErrorLba);
  d.pop_back();
  EXPECT_FALSE(DecodeNvmeSelfTestLog(d));
}

}  // namespace
}  // namespace dv
