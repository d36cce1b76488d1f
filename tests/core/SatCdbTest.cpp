#include <gtest/gtest.h>

#include <random>
#include <vector>

#include "core/SatCdb.h"

namespace dv {
namespace {

using Sense = std::vector<uint8_t>;
using Cdb = std::array<uint8_t, kSatCdbSize>;

std::vector<uint8_t> RequestFor(const AtaCommandRequest& r) {
  return BuildAtaRequest(r.ataFlags, r.current, r.dataLength, r.previous);
}

SatCommand CommandFor(const AtaCommandRequest& r) {
  const auto request = RequestFor(r);
  const auto sat = BuildSatCommand(request);
  EXPECT_TRUE(sat.has_value());
  return sat.value_or(SatCommand{});
}

Cdb CdbFor(const AtaCommandRequest& r) { return CommandFor(r).cdb; }

// What SendATACommand makes of an outcome: the call worked and ERR is clear.
bool Succeeds(const SatOutcome& o) { return o.callSucceeded && (o.current.Status() & 1) == 0; }

SgIoReply CheckCondition(const Sense& sense) {
  SgIoReply reply;
  reply.ioctlSucceeded = true;
  reply.driverStatus = 0x08;
  reply.scsiStatus = kScsiStatusCheckCondition;
  reply.sense = sense;
  return reply;
}

SgIoReply Good() {
  SgIoReply reply;
  reply.ioctlSucceeded = true;
  return reply;
}

TEST(SatCdb, SmartNonDataCommandsAskForRegistersOnlyForReturnStatus) {
  EXPECT_EQ(CdbFor(MakeAtaCommand(AtaCommand::SmartEnable, 0)),
            (Cdb{0x85, 0x06, 0x00, 0, 0xD8, 0, 0x01, 0, 0x01, 0, 0x4F, 0, 0xC2, 0xA0, 0xB0, 0}));
  EXPECT_EQ(CdbFor(MakeAtaCommand(AtaCommand::SmartAutoOffline, 2)),
            (Cdb{0x85, 0x06, 0x00, 0, 0xDB, 0, 0xF8, 0, 0x01, 0, 0x4F, 0, 0xC2, 0xA0, 0xB0, 0}));
  EXPECT_EQ(CdbFor(MakeAtaCommand(AtaCommand::SmartAutosave, 5)),
            (Cdb{0x85, 0x06, 0x00, 0, 0xD2, 0, 0xF1, 0, 0x01, 0, 0x4F, 0, 0xC2, 0xB0, 0xB0, 0}));
  EXPECT_EQ(CdbFor(MakeAtaCommand(AtaCommand::SmartReturnStatus, 1)),
            (Cdb{0x85, 0x06, 0x20, 0, 0xDA, 0, 0x01, 0, 0x01, 0, 0x4F, 0, 0xC2, 0xB0, 0xB0, 0}));
  EXPECT_EQ(CdbFor(MakeSetFeatures(3, 0x42, 0x80)),
            (Cdb{0x85, 0x06, 0x00, 0, 0x42, 0, 0x80, 0, 0x00, 0, 0x00, 0, 0x00, 0xB0, 0xEF, 0}));

  EXPECT_TRUE(CommandFor(MakeAtaCommand(AtaCommand::SmartReturnStatus, 0)).registersWanted);
  EXPECT_FALSE(CommandFor(MakeAtaCommand(AtaCommand::SmartEnable, 0)).registersWanted);
  EXPECT_FALSE(CommandFor(MakeSetFeatures(0, 0x05, 0xFE)).registersWanted);
}

TEST(SatCdb, PioDataInReadsOneBlockWithoutCkCond) {
  EXPECT_EQ(CdbFor(MakeAtaCommand(AtaCommand::Identify, 12)),
            (Cdb{0x85, 0x08, 0x0E, 0, 0x00, 0, 0x00, 0, 0x00, 0, 0x00, 0, 0x00, 0xA0, 0xEC, 0}));
  EXPECT_EQ(CdbFor(MakeAtaCommand(AtaCommand::SmartReadData, 0)),
            (Cdb{0x85, 0x08, 0x0E, 0, 0xD0, 0, 0x01, 0, 0x01, 0, 0x4F, 0, 0xC2, 0xA0, 0xB0, 0}));
  EXPECT_EQ(CdbFor(MakeAtaCommand(AtaCommand::SmartReadThresholds, 3)),
            (Cdb{0x85, 0x08, 0x0E, 0, 0xD1, 0, 0x01, 0, 0x01, 0, 0x4F, 0, 0xC2, 0xB0, 0xB0, 0}));
  // 28-bit read: LBA bits 27..24 travel in the device register.
  EXPECT_EQ(CdbFor(MakeReadSector(0, 0x0ABCDEF1, false)),
            (Cdb{0x85, 0x08, 0x0E, 0, 0x00, 0, 0x01, 0, 0xF1, 0, 0xDE, 0, 0xBC, 0x4A, 0x20, 0}));

  const SatCommand identify = CommandFor(MakeAtaCommand(AtaCommand::Identify, 0));
  EXPECT_TRUE(identify.dataIn);
  EXPECT_FALSE(identify.registersWanted);
}

TEST(SatCdb, FortyEightBitCommandsSetExtendAndCarryThePreviousBytes) {
  const SatCommand nativeMax = CommandFor(MakeAtaCommand(AtaCommand::ReadNativeMaxExt, 3));
  EXPECT_EQ(nativeMax.cdb,
            (Cdb{0x85, 0x07, 0x20, 0, 0x00, 0, 0x00, 0, 0x00, 0, 0x00, 0, 0x00, 0x50, 0x27, 0}));
  EXPECT_TRUE(nativeMax.extend);
  EXPECT_TRUE(nativeMax.registersWanted);

  EXPECT_EQ(
      CdbFor(MakeReadSector(1, 0x123456789ABCull, true)),
      (Cdb{0x85, 0x09, 0x0E, 0, 0x00, 0, 0x01, 0x56, 0xBC, 0x34, 0x9A, 0x12, 0x78, 0x50, 0x24, 0}));
}

TEST(SatCdb, PreviousBytesAreDroppedWithoutTheExtendFlag) {
  // A 28-bit request whose previous task file is not zero (the guard refuses it anyway).
  const TaskFile current{0, 1, 0x10, 0, 0, 0x40, 0x20, 0};
  const TaskFile previous{0x11, 0x22, 0x33, 0x44, 0x55, 0, 0, 0};
  const auto request = BuildAtaRequest(kAtaFlagsDataIn, current, kSectorSize, previous);
  const auto sat = BuildSatCommand(request);
  ASSERT_TRUE(sat);
  for (size_t i : {3, 5, 7, 9, 11}) EXPECT_EQ(sat->cdb[i], 0) << "byte " << i;
}

TEST(SatCdb, RefusesRequestsThatAreNotCanonical) {
  const auto identify = MakeAtaCommand(AtaCommand::Identify, 0);
  const auto good = RequestFor(identify);
  ASSERT_TRUE(BuildSatCommand(good));

  auto mutate = [&](size_t offset, uint8_t value) {
    auto bad = good;
    bad[offset] = value;
    return bad;
  };
  EXPECT_FALSE(BuildSatCommand(mutate(kOffsetLength, 48)));
  EXPECT_FALSE(BuildSatCommand(mutate(kOffsetDataBufferOffset, 48)));
  EXPECT_FALSE(BuildSatCommand(mutate(kOffsetDataTransferLength + 1, 1)));  // 256+512
  EXPECT_FALSE(BuildSatCommand(mutate(kOffsetTimeOutValue, 0)));
  EXPECT_FALSE(BuildSatCommand(mutate(kOffsetAtaFlags, 0)));  // 512 bytes but no data-in flag

  auto truncated = good;
  truncated.resize(kRequestHeaderSize);  // header says 512 bytes, buffer has none
  EXPECT_FALSE(BuildSatCommand(truncated));
  EXPECT_FALSE(BuildSatCommand(std::span<const uint8_t>(good).first(20)));

  auto nonData = RequestFor(MakeAtaCommand(AtaCommand::SmartEnable, 0));
  nonData.resize(kDataRequestSize);  // a 552-byte buffer for a command without data
  EXPECT_FALSE(BuildSatCommand(nonData));
}

// The sense bytes QEMU's disk behind Linux 6.1 answered SMART RETURN STATUS with.
const Sense kReturnStatusHealthy{0x72, 0x01, 0x00, 0x1D, 0,    0,    0,    0x0E, 0x09, 0x0C, 0x00,
                                 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x4F, 0x00, 0xC2, 0x00, 0x50};

TEST(SatSense, DescriptorFormatGivesTheReturnedRegisters) {
  const auto outcome = ReadSatReply(CommandFor(MakeAtaCommand(AtaCommand::SmartReturnStatus, 0)),
                                    CheckCondition(kReturnStatusHealthy));
  EXPECT_TRUE(Succeeds(outcome));
  EXPECT_EQ(outcome.current, (TaskFile{0x00, 0x00, 0x00, 0x4F, 0xC2, 0x00, 0x50, 0}));
  EXPECT_EQ(outcome.previous, TaskFile{});
}

TEST(SatSense, DescriptorIsFoundBehindOtherDescriptors) {
  // A sense-key-specific descriptor (0x02) and an information descriptor (0x00) come first.
  const Sense sense{0x72, 0x01, 0x00, 0x1D, 0,    0,    0,    0x24, 0x02, 0x06, 0,
                    0,    0,    0,    0,    0,    0x00, 0x0A, 0x80, 0,    0,    0,
                    0,    0,    0,    0,    0,    0,    0x09, 0x0C, 0x01, 0x00, 0x00,
                    0x00, 0xE8, 0xAF, 0x00, 0x88, 0x00, 0xE0, 0x40, 0x50};
  const auto regs = ReadSenseRegisters(sense);
  ASSERT_TRUE(regs);
  // READ NATIVE MAX ADDRESS EXT of a 2 TB disk: 0xE8E088AF.
  EXPECT_EQ(regs->current, (TaskFile{0x00, 0x00, 0xAF, 0x88, 0xE0, 0x40, 0x50, 0}));
  EXPECT_EQ(regs->previous, (TaskFile{0x00, 0x00, 0xE8, 0x00, 0x00, 0x00, 0x00, 0}));
}

TEST(SatSense, FixedFormatInBothLayouts) {
  // SAT layout (Linux 6.11 on): VALID bit, error/status/device/count in bytes 3-6, LBA at 9-11.
  const Sense sat{0xF0, 0x00, 0x01, 0x00, 0x50, 0x00, 0x01, 0x0A, 0x00,
                  0x01, 0x4F, 0xC2, 0x00, 0x1D, 0x00, 0x00, 0x00, 0x00};
  auto regs = ReadSenseRegisters(sat);
  ASSERT_TRUE(regs);
  EXPECT_EQ(regs->current, (TaskFile{0x00, 0x01, 0x01, 0x4F, 0xC2, 0x00, 0x50, 0}));

  // Before 6.11: no VALID bit, error/status/device/count in bytes 8-11 (SET FEATURES 0x99 on
  // Linux 6.1 answered exactly this).
  const Sense old{0x70, 0x00, 0x0B, 0x00, 0x00, 0x00, 0x00, 0x0A, 0x04,
                  0x41, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00};
  regs = ReadSenseRegisters(old);
  ASSERT_TRUE(regs);
  EXPECT_EQ(regs->current.features, 0x04);  // ABRT
  EXPECT_EQ(regs->current.Status(), 0x41);

  // Without any status byte the sense carries no registers.
  const Sense none{0x70, 0x00, 0x0B, 0x00, 0x00, 0x00, 0x00, 0x0A, 0x00,
                   0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00};
  EXPECT_FALSE(ReadSenseRegisters(none));
}

TEST(SatSense, FixedFormatCannotCarryNonZeroUpperBytes) {
  Sense sat{0xF0, 0x00, 0x01, 0x00, 0x50, 0x40, 0x00, 0x0A, 0xA0,
            0xFF, 0xFF, 0xFF, 0x00, 0x1D, 0x00, 0x00, 0x00, 0x00};
  EXPECT_FALSE(ReadSenseRegisters(sat));
  sat[8] = 0x80;  // extend, upper bytes zero: complete
  EXPECT_TRUE(ReadSenseRegisters(sat));
}

TEST(SatReply, AtaStatusDecidesNotTheSenseKey) {
  const auto setFeatures = CommandFor(MakeSetFeatures(0, 0x05, 0xFE));

  // ABORTED COMMAND as the key, but the drive's status is clean: success.
  Sense abortedKeyCleanStatus = kReturnStatusHealthy;
  abortedKeyCleanStatus[1] = 0x0B;
  EXPECT_TRUE(Succeeds(ReadSatReply(setFeatures, CheckCondition(abortedKeyCleanStatus))));

  // RECOVERED ERROR as the key, but ERR is set: the call worked and the drive refused.
  Sense recoveredKeyErr = kReturnStatusHealthy;
  recoveredKeyErr[11] = 0x04;
  recoveredKeyErr[21] = 0x51;
  const auto refused = ReadSatReply(setFeatures, CheckCondition(recoveredKeyErr));
  EXPECT_TRUE(refused.callSucceeded);
  EXPECT_FALSE(Succeeds(refused));
  EXPECT_EQ(refused.current.features, 0x04);

  // Pre-6.11 fixed format for an aborted command.
  const Sense old{0x70, 0x00, 0x0B, 0x00, 0x00, 0x00, 0x00, 0x0A, 0x04,
                  0x41, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00};
  EXPECT_FALSE(Succeeds(ReadSatReply(setFeatures, CheckCondition(old))));
}

TEST(SatReply, BusyDataRequestOrDeviceFaultIsAFailedCall) {
  const auto identify = CommandFor(MakeAtaCommand(AtaCommand::Identify, 0));
  for (uint8_t status : {0x58, 0xD0, 0x70}) {
    Sense sense = kReturnStatusHealthy;
    sense[21] = status;
    EXPECT_FALSE(ReadSatReply(identify, CheckCondition(sense)).callSucceeded) << int{status};
  }
}

TEST(SatReply, GoodStatusWithoutSense) {
  // Data and plain non-data commands: the normal success, status 0x50.
  for (const auto& r : {MakeAtaCommand(AtaCommand::Identify, 0), MakeSetFeatures(0, 0x42, 0x80),
                        MakeAtaCommand(AtaCommand::SmartEnable, 0)}) {
    const auto outcome = ReadSatReply(CommandFor(r), Good());
    EXPECT_TRUE(Succeeds(outcome));
    EXPECT_EQ(outcome.current, (TaskFile{0, 0, 0, 0, 0, 0, kAtaStatusReady, 0}));
  }
  // A command whose answer is in the registers got none: there is no answer.
  EXPECT_FALSE(ReadSatReply(CommandFor(MakeAtaCommand(AtaCommand::SmartReturnStatus, 0)), Good())
                   .callSucceeded);
  EXPECT_FALSE(ReadSatReply(CommandFor(MakeAtaCommand(AtaCommand::ReadNativeMaxExt, 0)), Good())
                   .callSucceeded);
}

TEST(SatReply, TransportFailuresAndShortTransfers) {
  const auto identify = CommandFor(MakeAtaCommand(AtaCommand::Identify, 0));
  SgIoReply reply = Good();
  reply.ioctlSucceeded = false;  // EPERM without CAP_SYS_RAWIO, ENODEV, ...
  EXPECT_FALSE(ReadSatReply(identify, reply).callSucceeded);

  reply = Good();
  reply.hostStatus = 0x03;  // DID_TIME_OUT
  EXPECT_FALSE(ReadSatReply(identify, reply).callSucceeded);

  reply = Good();
  reply.driverStatus = 0x06;  // DRIVER_TIMEOUT
  EXPECT_FALSE(ReadSatReply(identify, reply).callSucceeded);

  reply = Good();
  reply.scsiStatus = 0x08;  // BUSY
  EXPECT_FALSE(ReadSatReply(identify, reply).callSucceeded);

  reply = Good();
  reply.residue = 512;
  EXPECT_FALSE(ReadSatReply(identify, reply).callSucceeded);
}

TEST(SatReply, RefusedCommandBlockOrMissingRegistersFail) {
  const auto status = CommandFor(MakeAtaCommand(AtaCommand::SmartReturnStatus, 0));
  // ILLEGAL REQUEST / INVALID FIELD IN CDB with a field pointer: the SATL refused it.
  const Sense invalidField{0x70, 0x00, 0x05, 0x00, 0x00, 0x00, 0x00, 0x0A, 0x00,
                           0x00, 0x00, 0x00, 0x24, 0x00, 0x00, 0xC0, 0x00, 0x04};
  EXPECT_FALSE(ReadSatReply(status, CheckCondition(invalidField)).callSucceeded);
  // Even when a register descriptor rides along.
  Sense refusedWithRegisters = kReturnStatusHealthy;
  refusedWithRegisters[1] = 0x05;
  refusedWithRegisters[2] = 0x24;
  refusedWithRegisters[3] = 0x00;
  EXPECT_FALSE(ReadSatReply(status, CheckCondition(refusedWithRegisters)).callSucceeded);
  // CHECK CONDITION and no sense at all.
  EXPECT_FALSE(ReadSatReply(status, CheckCondition({})).callSucceeded);
}

TEST(SatSense, ShortDeferredOrGarbageSenseIsNoAnswer) {
  const auto status = CommandFor(MakeAtaCommand(AtaCommand::SmartReturnStatus, 0));
  const std::vector<Sense> cases{
      {0x72},
      {0x72, 0x01, 0x00, 0x1D},
      // The descriptor is cut off by the buffer, and by the additional length.
      Sense(kReturnStatusHealthy.begin(), kReturnStatusHealthy.end() - 1),
      {0x72, 0x01, 0x00, 0x1D, 0, 0, 0,    0x0D, 0x09, 0x0C, 0,
       0,    0,    0,    0,    0, 0, 0x4F, 0,    0xC2, 0,    0x50},
      // A descriptor 0x09 too short to hold the registers.
      {0x72, 0x01, 0x00, 0x1D, 0, 0, 0, 0x04, 0x09, 0x02, 0x00, 0x00},
      // Zero-length descriptors up to the end.
      {0x72, 0x01, 0x00, 0x1D, 0, 0, 0, 0x08, 0, 0, 0, 0, 0, 0, 0, 0},
      // Deferred errors describe an earlier command.
      {0x73, 0x01, 0x00, 0x1D, 0, 0, 0,    0x0E, 0x09, 0x0C, 0,
       0,    0,    0,    0,    0, 0, 0x4F, 0,    0xC2, 0,    0x50},
      {0x71, 0x00, 0x01, 0x00, 0x50, 0x00, 0x01, 0x0A, 0x00, 0x01, 0x4F, 0xC2},
      {0x7F, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF},
      {0xF0, 0x00, 0x01, 0x00, 0x50},  // fixed format shorter than its LBA bytes
  };
  for (size_t i = 0; i < cases.size(); ++i) {
    EXPECT_FALSE(ReadSatReply(status, CheckCondition(cases[i])).callSucceeded) << "case " << i;
  }
}

TEST(SatSense, RandomSenseNeverReadsOutOfBounds) {
  // Runs under ASan in CI: any read past the sense bytes would abort the test.
  std::mt19937 random(20261207);
  const auto status = CommandFor(MakeAtaCommand(AtaCommand::SmartReturnStatus, 0));
  for (int i = 0; i < 20000; ++i) {
    Sense sense(random() % 40);
    for (auto& b : sense) b = static_cast<uint8_t>(random());
    if (!sense.empty() && i % 2 == 0) sense[0] = (i % 4 == 0) ? 0x72 : 0x70;
    if (sense.size() > 8 && i % 3 == 0) sense[8] = 0x09;
    (void)ReadSatReply(status, CheckCondition(sense));
  }
}

}  // namespace
}  // namespace dv
