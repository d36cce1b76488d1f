#include <gtest/gtest.h>

#include <cstring>
#include <string_view>
#include <vector>

#include "core/LittleEndian.h"
#include "core/Nvme.h"

namespace dv {
namespace {

std::vector<uint8_t> IdentifyBytes(std::string_view serial, std::string_view model,
                                   std::string_view firmware, uint16_t vendor = 0x144D) {
  std::vector<uint8_t> data(kNvmeIdentifySize, 0);
  PutLe16(data, 0, vendor);
  std::memset(data.data() + 4, ' ', 68);
  std::memcpy(data.data() + 4, serial.data(), serial.size());
  std::memcpy(data.data() + 24, model.data(), model.size());
  std::memcpy(data.data() + 64, firmware.data(), firmware.size());
  return data;
}

std::vector<uint8_t> NamespaceBytes(uint64_t blocks, uint8_t formatCount, uint8_t formatted,
                                    std::initializer_list<uint8_t> dataShifts) {
  std::vector<uint8_t> data(kNvmeIdentifySize, 0);
  PutLe32(data, 0, static_cast<uint32_t>(blocks));
  PutLe32(data, 4, static_cast<uint32_t>(blocks >> 32));
  data[25] = static_cast<uint8_t>(formatCount - 1);
  data[26] = formatted;
  size_t at = 128 + 2;
  for (uint8_t shift : dataShifts) {
    data[at] = shift;
    at += 4;
  }
  return data;
}

class FakeController : public NvmeHandle {
 public:
  bool AdminCommand(const NvmeAdminRequest& request, std::span<uint8_t> data) override {
    seen.push_back(request);
    if (fail) return false;
    for (size_t i = 0; i < data.size(); ++i) data[i] = static_cast<uint8_t>(i);
    return true;
  }
  bool LastFailureWasPrivilege() const override { return privilege; }

  std::vector<NvmeAdminRequest> seen;
  bool fail = false;
  bool privilege = false;
};

TEST(NvmeGuard, CatalogueCommandsAreWhatTheControllerExpects) {
  const auto identify = MakeNvmeAdminCommand(NvmeAdminCommand::IdentifyController);
  EXPECT_EQ(identify.opcode, 0x06);
  EXPECT_EQ(identify.cdw10, 0x01u);
  EXPECT_EQ(identify.namespaceId, 0u);
  EXPECT_EQ(identify.dataLength, 4096u);

  const auto ns = MakeNvmeAdminCommand(NvmeAdminCommand::IdentifyNamespace);
  EXPECT_EQ(ns.opcode, 0x06);
  EXPECT_EQ(ns.cdw10, 0x00u);
  EXPECT_EQ(ns.namespaceId, 1u);
  EXPECT_EQ(ns.dataLength, 4096u);

  // Log 02h, 128 dwords (count minus one in bits 31:16), every namespace.
  const auto log = MakeNvmeAdminCommand(NvmeAdminCommand::HealthLog);
  EXPECT_EQ(log.opcode, 0x02);
  EXPECT_EQ(log.cdw10, 0x007F0002u);
  EXPECT_EQ(log.cdw11, 0u);
  EXPECT_EQ(log.namespaceId, 0xFFFFFFFFu);
  EXPECT_EQ(log.dataLength, 512u);

  // Device Self-test: the code in CDW10, every namespace, no data; the self-test log is 141
  // dwords.
  const auto selfTest = MakeNvmeAdminCommand(NvmeAdminCommand::SelfTestExtended);
  EXPECT_EQ(selfTest.opcode, 0x14);
  EXPECT_EQ(selfTest.cdw10, 0x2u);
  EXPECT_EQ(selfTest.namespaceId, 0xFFFFFFFFu);
  EXPECT_EQ(selfTest.dataLength, 0u);
  const auto selfTestLog = MakeNvmeAdminCommand(NvmeAdminCommand::SelfTestLog);
  EXPECT_EQ(selfTestLog.cdw10, 0x008C0006u);
  EXPECT_EQ(selfTestLog.dataLength, 564u);

  for (int c = 0; c <= static_cast<int>(kLastNvmeAdminCommand); ++c) {
    const auto command = static_cast<NvmeAdminCommand>(c);
    const auto request = MakeNvmeAdminCommand(command);
    EXPECT_TRUE(request.dataIn);
    EXPECT_EQ(ClassifyNvmeAdminCommand(request), command);
  }
  EXPECT_STREQ(NvmeAdminCommandName(NvmeAdminCommand::HealthLog), "SMART / Health Log");
}

TEST(NvmeGuard, RefusesEveryOtherOpcode) {
  // Every admin and I/O opcode with each catalogue command's other fields: only 02h and 06h
  // (with their own fields) pass. Among them: Write (01h), Format NVM (80h), Sanitize (84h),
  // Set Features (09h), Firmware Commit (10h), Firmware Download (11h), Security Send (81h).
  for (int c = 0; c <= static_cast<int>(kLastNvmeAdminCommand); ++c) {
    const auto known = MakeNvmeAdminCommand(static_cast<NvmeAdminCommand>(c));
    for (int opcode = 0; opcode < 256; ++opcode) {
      auto request = known;
      request.opcode = static_cast<uint8_t>(opcode);
      if (opcode == known.opcode) continue;
      EXPECT_FALSE(ClassifyNvmeAdminCommand(request)) << "opcode " << opcode;
    }
  }
}

TEST(NvmeGuard, RefusesOtherCnsLogNamespaceLengthAndDirection) {
  const auto identify = MakeNvmeAdminCommand(NvmeAdminCommand::IdentifyController);
  const auto log = MakeNvmeAdminCommand(NvmeAdminCommand::HealthLog);
  std::vector<NvmeAdminRequest> refused;
  for (uint32_t cns : {0x02u, 0x03u, 0x10u, 0x11u, 0x101u, 0x00010001u}) {
    auto r = identify;
    r.cdw10 = cns;
    refused.push_back(r);
  }
  for (uint32_t logId : {0x01u, 0x03u, 0x06u, 0x80u, 0xC0u}) {
    auto r = log;
    r.cdw10 = (r.cdw10 & 0xFFFF0000u) | logId;
    refused.push_back(r);
  }
  auto r = log;
  r.cdw10 |= 0x8000;  // retain asynchronous event
  refused.push_back(r);
  r = log;
  r.cdw11 = 1;  // a longer log
  refused.push_back(r);
  r = log;
  r.namespaceId = 1;
  refused.push_back(r);
  r = MakeNvmeAdminCommand(NvmeAdminCommand::IdentifyNamespace);
  r.namespaceId = 2;
  refused.push_back(r);
  for (uint32_t length : {0u, 511u, 513u, 1024u, 4095u, 4097u, 8192u}) {
    auto l = log;
    l.dataLength = length;
    if (length != 4096) refused.push_back(l);
    auto i = identify;
    i.dataLength = length;
    refused.push_back(i);
  }
  // Self-test codes other than short, extended and abort (Eh is vendor specific), one namespace
  // only, or with data.
  for (uint32_t code : {0x0u, 0x3u, 0xEu, 0x11u, 0x10001u}) {
    auto t = MakeNvmeAdminCommand(NvmeAdminCommand::SelfTestShort);
    t.cdw10 = code;
    refused.push_back(t);
  }
  r = MakeNvmeAdminCommand(NvmeAdminCommand::SelfTestShort);
  r.namespaceId = 1;
  refused.push_back(r);
  r.namespaceId = 0xFFFFFFFF;
  r.dataLength = 512;
  refused.push_back(r);
  for (int c = 0; c <= static_cast<int>(kLastNvmeAdminCommand); ++c) {
    auto w = MakeNvmeAdminCommand(static_cast<NvmeAdminCommand>(c));
    w.dataIn = false;
    refused.push_back(w);
  }
  for (const auto& request : refused) {
    EXPECT_FALSE(ClassifyNvmeAdminCommand(request))
        << int(request.opcode) << " cdw10 " << request.cdw10 << " ns " << request.namespaceId
        << " len " << request.dataLength << " in " << request.dataIn;
  }
}

TEST(NvmeGuard, SendRefusesBeforeTheDeviceAndReportsFailures) {
  FakeController controller;
  auto write = MakeNvmeAdminCommand(NvmeAdminCommand::HealthLog);
  write.dataIn = false;
  auto refused = SendNvmeCommand(controller, write);
  EXPECT_TRUE(refused.refused);
  EXPECT_FALSE(refused.success);
  EXPECT_TRUE(controller.seen.empty());

  auto read = SendNvmeCommand(controller, NvmeAdminCommand::HealthLog);
  ASSERT_TRUE(read.success);
  ASSERT_EQ(read.data.size(), 512u);
  EXPECT_EQ(read.data[511], 0xFF);
  ASSERT_EQ(controller.seen.size(), 1u);

  controller.fail = true;
  controller.privilege = true;
  auto failed = SendNvmeCommand(controller, NvmeAdminCommand::IdentifyController);
  EXPECT_FALSE(failed.success);
  EXPECT_FALSE(failed.refused);
  EXPECT_TRUE(failed.privilegeFailure);
  EXPECT_TRUE(failed.data.empty());
}

TEST(NvmeIdentify, ControllerFieldsTrimmedAndSanitised) {
  auto data = IdentifyBytes("  S4EWNX0R123456", "Samsung SSD 970 EVO Plus 1TB", "2B2QEXM7");
  const auto identity = DecodeNvmeIdentifyController(data);
  ASSERT_TRUE(identity);
  EXPECT_EQ(identity->PciVendorId, 0x144D);
  EXPECT_EQ(identity->SerialNumber, "S4EWNX0R123456");
  EXPECT_EQ(identity->ModelNumber, "Samsung SSD 970 EVO Plus 1TB");
  EXPECT_EQ(identity->FirmwareRevision, "2B2QEXM7");

  // NUL padding counts as padding; control and high bytes never reach the text unchanged.
  data = IdentifyBytes("", "QEMU NVMe Ctrl", "7.2.22", 0x1B36);
  data[4] = 'a';
  data[5] = 0x07;
  data[6] = 0xC3;
  std::memset(data.data() + 24 + 14, 0, 26);
  const auto odd = DecodeNvmeIdentifyController(data);
  ASSERT_TRUE(odd);
  EXPECT_EQ(odd->SerialNumber, "a??");
  EXPECT_EQ(odd->ModelNumber, "QEMU NVMe Ctrl");
  EXPECT_EQ(odd->FirmwareRevision, "7.2.22");

  EXPECT_FALSE(DecodeNvmeIdentifyController(std::span(data).first(4095)));
  EXPECT_FALSE(DecodeNvmeIdentifyController({}));
}

TEST(NvmeIdentify, NamespaceSizeFromTheFormattedLbaFormat) {
  // 1 TB drive formatted with the second of two formats (4 KiB).
  auto size = DecodeNvmeIdentifyNamespace(NamespaceBytes(244190646, 2, 1, {9, 12}));
  ASSERT_TRUE(size);
  EXPECT_EQ(size->Blocks, 244190646u);
  EXPECT_EQ(size->BlockSize, 4096u);
  EXPECT_EQ(size->Bytes(), 244190646ull * 4096);

  // Bits above 3:0 of FLBAS (metadata at the end of the block) do not pick the format.
  size = DecodeNvmeIdentifyNamespace(NamespaceBytes(1953525168, 1, 0x10, {9}));
  ASSERT_TRUE(size);
  EXPECT_EQ(size->BlockSize, 512u);
  EXPECT_EQ(size->Bytes(), 1000204886016ull);

  // Inactive namespace (all zero), a format beyond the list, an impossible block size, short data.
  EXPECT_FALSE(DecodeNvmeIdentifyNamespace(std::vector<uint8_t>(4096, 0)));
  EXPECT_FALSE(DecodeNvmeIdentifyNamespace(NamespaceBytes(100, 1, 1, {9, 12})));
  EXPECT_FALSE(DecodeNvmeIdentifyNamespace(NamespaceBytes(100, 1, 0, {8})));
  EXPECT_FALSE(DecodeNvmeIdentifyNamespace(NamespaceBytes(100, 1, 0, {32})));
  EXPECT_FALSE(DecodeNvmeIdentifyNamespace(std::vector<uint8_t>(512, 0)));

  // A block count that would overflow 64 bits of bytes saturates.
  const NvmeNamespaceSize huge{UINT64_MAX / 2, 4096};
  EXPECT_EQ(huge.Bytes(), UINT64_MAX);
}

TEST(NvmeHealthLog, DecodesEveryFieldAtItsOffset) {
  std::vector<uint8_t> log(kNvmeHealthLogSize, 0);
  log[0] = 0x05;
  PutLe16(log, 1, 323);
  log[3] = 100;
  log[4] = 10;
  log[5] = 3;
  // Each counter gets its own value: offset * 1000 in the low half.
  for (size_t at = 32; at < 192; at += 16) PutLe32(log, at, static_cast<uint32_t>(at * 1000));
  PutLe32(log, 128 + 8, 1);  // power-on hours beyond 64 bits
  PutLe32(log, 192, 17);
  PutLe32(log, 196, 2);
  PutLe16(log, 200, 318);
  PutLe16(log, 202, 330);
  PutLe16(log, 214, 300);

  const auto health = DecodeNvmeHealthLog(log);
  ASSERT_TRUE(health);
  EXPECT_EQ(health->CriticalWarning, 0x05);
  EXPECT_FALSE(health->Passed());
  EXPECT_EQ(health->CompositeTemperatureK, 323);
  EXPECT_EQ(health->AvailableSpare, 100);
  EXPECT_EQ(health->AvailableSpareThreshold, 10);
  EXPECT_EQ(health->PercentageUsed, 3);
  EXPECT_EQ(health->DataUnitsRead.Low, 32000u);
  EXPECT_EQ(health->DataUnitsWritten.Low, 48000u);
  EXPECT_EQ(health->HostReadCommands.Low, 64000u);
  EXPECT_EQ(health->HostWriteCommands.Low, 80000u);
  EXPECT_EQ(health->ControllerBusyTime.Low, 96000u);
  EXPECT_EQ(health->PowerCycles.Low, 112000u);
  EXPECT_EQ(health->PowerOnHours.Low, 128000u);
  EXPECT_EQ(health->PowerOnHours.High, 1u);
  EXPECT_EQ(health->UnsafeShutdowns.Low, 144000u);
  EXPECT_EQ(health->MediaErrors.Low, 160000u);
  EXPECT_EQ(health->ErrorLogEntries.Low, 176000u);
  EXPECT_EQ(health->WarningTemperatureMinutes, 17u);
  EXPECT_EQ(health->CriticalTemperatureMinutes, 2u);
  EXPECT_EQ(health->SensorTemperatureK[0], 318);
  EXPECT_EQ(health->SensorTemperatureK[1], 330);
  EXPECT_EQ(health->SensorTemperatureK[2], 0);
  EXPECT_EQ(health->SensorTemperatureK[7], 300);

  EXPECT_FALSE(DecodeNvmeHealthLog(std::span(log).first(511)));
  log.assign(512, 0);
  EXPECT_TRUE(DecodeNvmeHealthLog(log)->Passed());
}

TEST(NvmeHealthLog, CounterDecimalCoversAll128Bits) {
  EXPECT_EQ((NvmeCounter{0, 0}).Decimal(), "0");
  EXPECT_EQ((NvmeCounter{1234567, 0}).Decimal(), "1234567");
  EXPECT_EQ((NvmeCounter{UINT64_MAX, 0}).Decimal(), "18446744073709551615");
  EXPECT_EQ((NvmeCounter{0, 1}).Decimal(), "18446744073709551616");
  EXPECT_EQ((NvmeCounter{UINT64_MAX, UINT64_MAX}).Decimal(),
            "340282366920938463463374607431768211455");
}

TEST(NvmeHealthLog, TemperaturesAgreeBetweenTheLogAndHwmon) {
  EXPECT_EQ(NvmeCelsius(323), 50);
  EXPECT_EQ(NvmeCelsius(273), 0);
  EXPECT_EQ(NvmeCelsius(263), -10);
  // The kernel publishes (K - 273.15) in millidegrees; rounding gives the log's figure back.
  for (int kelvin : {200, 263, 273, 300, 323, 343, 373, 400}) {
    EXPECT_EQ(HwmonMillidegreesToCelsius(kelvin * 1000LL - 273150), NvmeCelsius(kelvin)) << kelvin;
  }
  EXPECT_EQ(HwmonMillidegreesToCelsius(49850), 50);
  EXPECT_EQ(HwmonMillidegreesToCelsius(49499), 49);
  EXPECT_EQ(HwmonMillidegreesToCelsius(-10500), -11);
  EXPECT_EQ(HwmonMillidegreesToCelsius(-10499), -10);
  EXPECT_EQ(HwmonMillidegreesToCelsius(LLONG_MAX), INT_MAX);
  EXPECT_EQ(HwmonMillidegreesToCelsius(LLONG_MIN), INT_MIN);
}

TEST(NvmeHealthLog, CriticalWarningNamesInBitOrder) {
  EXPECT_TRUE(NvmeCriticalWarningNames(0).empty());
  EXPECT_EQ(NvmeCriticalWarningNames(kNvmeWarningSpare),
            std::vector<std::string>{"available spare below threshold"});
  const std::vector<std::string> all{"available spare below threshold",
                                     "temperature",
                                     "reliability degraded",
                                     "read-only",
                                     "volatile memory backup failed",
                                     "persistent memory region read-only"};
  EXPECT_EQ(NvmeCriticalWarningNames(0x3F), all);
  EXPECT_EQ(NvmeCriticalWarningNames(kNvmeWarningTemperature | kNvmeWarningReadOnly),
            (std::vector<std::string>{"temperature", "read-only"}));
}

const AttributeRow* FindRow(const std::vector<AttributeRow>& rows, std::string_view name) {
  for (const auto& row : rows) {
    if (row[kColumnName] == name) return &row;
  }
  return nullptr;
}

TEST(NvmeRows, ValuesInRawStatusWhereARuleExists) {
  NvmeHealth health;
  health.CompositeTemperatureK = 323;
  health.AvailableSpare = 100;
  health.AvailableSpareThreshold = 10;
  health.PercentageUsed = 3;
  health.PowerOnHours = {1234, 0};
  health.SensorTemperatureK = {318, 0, 330, 0, 0, 0, 0, 0};

  auto rows = BuildNvmeHealthRows(health, RawPresentation::Dec);
  ASSERT_TRUE(FindRow(rows, "Critical Warning"));
  EXPECT_EQ((*FindRow(rows, "Critical Warning"))[kColumnStatus], "O.K.");
  EXPECT_EQ((*FindRow(rows, "Composite Temperature (C)"))[kColumnRaw], "50");
  const auto& spare = *FindRow(rows, "Available Spare (%)");
  EXPECT_EQ(spare[kColumnRaw], "100");
  EXPECT_EQ(spare[kColumnThreshold], "10");
  EXPECT_EQ(spare[kColumnStatus], "O.K.");
  EXPECT_EQ((*FindRow(rows, "Percentage Used"))[kColumnStatus], "O.K.");
  EXPECT_EQ((*FindRow(rows, "Media and Data Integrity Errors"))[kColumnStatus], "O.K.");
  EXPECT_EQ((*FindRow(rows, "Power On Hours"))[kColumnRaw], "1234");
  EXPECT_EQ((*FindRow(rows, "Power On Hours"))[kColumnStatus], "");
  // Only the sensors the drive reports.
  EXPECT_TRUE(FindRow(rows, "Temperature Sensor 1 (C)"));
  EXPECT_FALSE(FindRow(rows, "Temperature Sensor 2 (C)"));
  EXPECT_EQ((*FindRow(rows, "Temperature Sensor 3 (C)"))[kColumnRaw], "57");
  for (const auto& row : rows) {
    EXPECT_EQ(RowPreFailureState(row), PreFailureState::NotPreFailure) << row[kColumnName];
  }

  health.CriticalWarning = kNvmeWarningSpare;
  health.AvailableSpare = 5;
  health.PercentageUsed = 101;
  health.MediaErrors = {0, 1};
  health.CompositeTemperatureK = 263;
  rows = BuildNvmeHealthRows(health, RawPresentation::Hex);
  EXPECT_EQ((*FindRow(rows, "Critical Warning"))[kColumnStatus], "!!!");
  EXPECT_EQ((*FindRow(rows, "Critical Warning"))[kColumnRaw], "000000000001h");
  EXPECT_EQ((*FindRow(rows, "Available Spare (%)"))[kColumnStatus], "!!!");
  EXPECT_EQ((*FindRow(rows, "Percentage Used"))[kColumnStatus], "!!!");
  EXPECT_EQ((*FindRow(rows, "Composite Temperature (C)"))[kColumnRaw], "-00000000000Ah");
  // A counter past 48 bits keeps every digit instead of being cut to twelve.
  const auto& media = *FindRow(rows, "Media and Data Integrity Errors");
  EXPECT_EQ(media[kColumnStatus], "!!!");
  EXPECT_EQ(media[kColumnRaw], "10000000000000000h");
  rows = BuildNvmeHealthRows(health, RawPresentation::Dec);
  EXPECT_EQ((*FindRow(rows, "Media and Data Integrity Errors"))[kColumnRaw],
            "18446744073709551616");
  EXPECT_EQ((*FindRow(rows, "Composite Temperature (C)"))[kColumnRaw], "-10");
}

}  // namespace
}  // namespace dv
