// NVMe drives end to end on simulated controllers: the enumeration, the monitoring read, the
// unprivileged path and the simulation file's "nvme" object.
#include <gtest/gtest.h>

#include "core/Enumerate.h"
#include "core/Mbr.h"
#include "core/Monitor.h"
#include "core/Nvme.h"
#include "core/SimulationFile.h"

namespace dv {
namespace {

const char* const kMixed = R"({"drives": [
  {"driveNumber": 0, "model": "ST2000DM008-2FR102", "serial": "ZFL0A1B2", "sectors": 3907029168},
  {"driveNumber": 1, "model": "Samsung SSD 980 PRO 1TB", "serial": "S5GXNX0T512345A",
   "firmware": "5B2QGXA7",
   "nvme": {"pciVendorId": 5197, "blocks": 244190646, "blockSize": 4096,
            "health": {"temperature": 41, "powerOnHours": 4321, "sensors": [41, 52]}}},
  {"driveNumber": 2, "model": "WDC WD2500JB-00REA0", "serial": "WD-WMANK4051741"},
  {"driveNumber": 3, "model": "QEMU NVMe Ctrl", "serial": "deadbeef", "firmware": "7.2.22",
   "nvme": {"health": {"criticalWarning": 1, "temperature": 50, "availableSpare": 0,
                       "availableSpareThreshold": 0}}}
]})";

std::unique_ptr<SimulatedDriveSystem> Load(const std::string& text) {
  std::string error;
  auto system = SimulatedDriveSystem::FromJsonText(text, ".", "test.json", error);
  EXPECT_TRUE(system) << error;
  return system;
}

TEST(NvmeDrives, ListedAfterTheAtaDrivesWithTheirIdentity) {
  auto system = Load(kMixed);
  DriveTable table;
  ASSERT_TRUE(ProbeDrives(*system, table));
  ASSERT_EQ(table.DriveCount, 4);
  EXPECT_EQ(table.At(1).ModelNumber, "ST2000DM008-2FR102");
  EXPECT_EQ(table.At(2).ModelNumber, "WDC WD2500JB-00REA0");
  EXPECT_EQ(table.At(1).Kind, DriveKind::Ata);
  EXPECT_EQ(table.At(1).DevicePath, "simulated drive 0");

  const Drive& samsung = table.At(3);
  EXPECT_EQ(samsung.Kind, DriveKind::Nvme);
  EXPECT_EQ(samsung.DriveNumber, 1);
  EXPECT_EQ(samsung.DevicePath, "simulated NVMe drive 1");
  EXPECT_EQ(samsung.ModelNumber, "Samsung SSD 980 PRO 1TB");
  EXPECT_EQ(samsung.SerialNumber, "S5GXNX0T512345A");
  EXPECT_EQ(samsung.FirmwareRevision, "5B2QGXA7");
  EXPECT_EQ(samsung.PciVendorId, 0x144D);
  EXPECT_EQ(samsung.VendorCode, 'M');
  EXPECT_EQ(samsung.UserSectors, 244190646ull * 8);
  EXPECT_EQ(samsung.CapacityGB, 932u);
  EXPECT_TRUE(samsung.SMARTEnabled);
  EXPECT_FALSE(samsung.LBA48);
  EXPECT_FALSE(samsung.NvmeHealthLogNeedsRoot);
  EXPECT_EQ(table.At(4).SerialNumber, "deadbeef");
  EXPECT_EQ(table.At(4).VendorCode, 0);

  // Nothing but the catalogue reached the controllers.
  for (const auto& logged : system->CommandLog()) EXPECT_FALSE(logged.refused) << logged.name;
}

TEST(NvmeDrives, OnlyThePositionsLeftAfterTheAtaDrives) {
  std::string text = R"({"drives": [)";
  for (int n = 0; n < 5; ++n) {
    text += R"({"driveNumber": )" + std::to_string(n) + R"(, "model": "ATA )" + std::to_string(n) +
            R"("},)";
  }
  text += R"({"driveNumber": 8, "model": "first nvme", "nvme": {}},
             {"driveNumber": 9, "model": "second nvme", "nvme": {}}]})";
  auto system = Load(text);
  DriveTable table;
  ASSERT_TRUE(ProbeDrives(*system, table));
  EXPECT_EQ(table.DriveCount, 6);
  EXPECT_EQ(table.At(6).ModelNumber, "first nvme");

  // A position that held an NVMe drive and now holds an ATA one is an ATA drive again.
  auto ataOnly = Load(R"({"drives": [{"model": "a"}, {"model": "b"}, {"model": "c"}]})");
  table.At(3).Kind = DriveKind::Nvme;
  table.At(3).NvmeHealthLogNeedsRoot = true;
  ASSERT_TRUE(ProbeDrives(*ataOnly, table));
  EXPECT_EQ(table.At(3).Kind, DriveKind::Ata);
  EXPECT_FALSE(table.At(3).NvmeHealthLogNeedsRoot);
}

TEST(NvmeDrives, MonitoringReadsTheHealthLog) {
  auto system = Load(kMixed);
  DriveTable table;
  ASSERT_TRUE(ProbeDrives(*system, table));
  SmartSectors sectors;
  sectors.SMARTData.fill(0xAA);  // another drive's sector from an earlier read

  std::vector<PositionReading> readings;
  Monitor monitor(*system, table, sectors);
  monitor.SetSkipSleepingDrives(true);
  const PassOutcome outcome =
      monitor.CheckHDDs(3, [&](const PositionReading& reading, const SmartSectors& seen) {
        readings.push_back(reading);
        if (reading.position == 3) {
          EXPECT_TRUE(seen.NvmeLogHeld);
          EXPECT_EQ(seen.SMARTData[10], 0);
          const auto rows = BuildAttributeRows(seen, RawPresentation::Dec);
          ASSERT_FALSE(rows.empty());
          EXPECT_EQ(rows[0][kColumnName], "Critical Warning");
        }
        if (reading.position == 2) {
          EXPECT_FALSE(seen.NvmeLogHeld);
        }
      });
  EXPECT_FALSE(outcome.good);  // the QEMU-like controller has its spare warning up
  ASSERT_EQ(readings.size(), 4u);
  EXPECT_TRUE(readings[2].result.Passed());
  EXPECT_EQ(readings[2].powerMode, PowerMode::Unknown);  // no standby question to an NVMe drive
  EXPECT_EQ(table.At(3).Temperature, 41);
  EXPECT_TRUE(table.At(3).SMARTStatusOK);
  EXPECT_TRUE(table.At(3).NvmeHealthLogRead);

  EXPECT_TRUE(readings[3].result.verdictReached);
  EXPECT_FALSE(readings[3].result.statusOK);
  EXPECT_FALSE(table.At(4).SMARTStatusOK);
  EXPECT_EQ(table.At(4).Temperature, 50);
  EXPECT_EQ(table.At(4).NvmeCriticalWarning, kNvmeWarningSpare);
}

TEST(NvmeDrives, AFailedLogReadLeavesVerdictAndSectors) {
  auto system = Load(kMixed);
  DriveTable table;
  ASSERT_TRUE(ProbeDrives(*system, table));
  SmartSectors sectors;
  ASSERT_TRUE(ReadSMART(*system, table, 3, sectors).Passed());
  const auto before = sectors.NvmeHealthLog;

  system->FindDrive(1)->nvme->failures.insert(NvmeAdminCommand::HealthLog);
  system->FindDrive(1)->nvme->healthLog[0] = 0x04;
  const ReadSmartResult failed = ReadSMART(*system, table, 3, sectors);
  EXPECT_FALSE(failed.verdictReached);
  EXPECT_FALSE(failed.Passed());
  EXPECT_TRUE(table.At(3).SMARTStatusOK);
  EXPECT_EQ(sectors.NvmeHealthLog, before);

  // A controller that cannot be opened is not a passed read either.
  system->FindDrive(1)->nvme->failOpen = true;
  EXPECT_FALSE(ReadSMART(*system, table, 3, sectors).verdictReached);
  EXPECT_EQ(system->OpenHandleCount(), 0);
}

TEST(NvmeDrives, WithoutPrivilegeTheKernelsSensorAndAlarmStandIn) {
  auto system = Load(R"({"drives": [{"model": "Lexar SSD NM790 1TB", "serial": "NLD123",
    "firmware": "12237", "nvme": {"privileged": false, "blocks": 2000409264,
    "health": {"temperature": 38}}}]})");
  DriveTable table;
  ASSERT_TRUE(ProbeDrives(*system, table));
  Drive& drive = table.At(1);
  EXPECT_EQ(drive.ModelNumber, "Lexar SSD NM790 1TB");
  EXPECT_EQ(drive.CapacityGB, 954u);
  EXPECT_TRUE(drive.NvmeHealthLogNeedsRoot);

  SmartSectors sectors;
  sectors.NvmeLogHeld = true;  // held over from another NVMe drive
  ReadSmartResult result = ReadSMART(*system, table, 1, sectors);
  EXPECT_TRUE(result.Passed());
  EXPECT_EQ(drive.Temperature, 38);
  EXPECT_FALSE(drive.NvmeHealthLogRead);
  EXPECT_FALSE(sectors.NvmeLogHeld);
  EXPECT_TRUE(BuildAttributeRows(sectors, RawPresentation::Hex).empty());

  // The temperature alarm alone decides; a spare warning is not visible from here.
  system->FindDrive(0)->nvme->healthLog[0] = kNvmeWarningSpare;
  EXPECT_TRUE(ReadSMART(*system, table, 1, sectors).statusOK);
  system->FindDrive(0)->nvme->healthLog[0] = kNvmeWarningTemperature;
  result = ReadSMART(*system, table, 1, sectors);
  EXPECT_TRUE(result.verdictReached);
  EXPECT_FALSE(result.statusOK);
  EXPECT_FALSE(drive.SMARTStatusOK);
}

TEST(NvmeDrives, IdentifyWithoutLogAccessMarksTheDrive) {
  // Newer kernels: identify works, the log is refused for lack of privilege.
  auto system = Load(R"({"drives": [{"model": "m", "nvme": {}}]})");
  class LogRefused : public DriveSystem {
   public:
    explicit LogRefused(SimulatedDriveSystem& inner) : inner_(inner) {}
    DriveHandlePtr Open(int n) override { return inner_.Open(n); }
    std::optional<std::string> VolumeName(int, int) override { return std::nullopt; }
    std::string DescribeDrive(int n) const override { return inner_.DescribeDrive(n); }
    NvmeHandlePtr OpenNvme(int n) override {
      struct Handle : NvmeHandle {
        NvmeHandlePtr inner;
        bool refused = false;
        bool AdminCommand(const NvmeAdminRequest& r, std::span<uint8_t> data) override {
          refused = ClassifyNvmeAdminCommand(r) == NvmeAdminCommand::HealthLog;
          return !refused && inner->AdminCommand(r, data);
        }
        bool LastFailureWasPrivilege() const override { return refused; }
      };
      auto handle = std::make_unique<Handle>();
      handle->inner = inner_.OpenNvme(n);
      if (!handle->inner) return nullptr;
      return handle;
    }
    std::optional<NvmeUnprivilegedInfo> ReadNvmeUnprivileged(int n) override {
      return inner_.ReadNvmeUnprivileged(n);
    }

   private:
    SimulatedDriveSystem& inner_;
  } refusing(*system);
  DriveTable table;
  ASSERT_TRUE(ProbeDrives(refusing, table));
  EXPECT_EQ(table.At(1).DevicePath, "/dev/nvme0");
  EXPECT_TRUE(table.At(1).NvmeHealthLogNeedsRoot);
  SmartSectors sectors;
  EXPECT_TRUE(ReadSMART(refusing, table, 1, sectors).Passed());
  EXPECT_EQ(table.At(1).Temperature, 35);
}

TEST(NvmeDrives, AtaPathsRefuseAnNvmeDrive) {
  // Drive number 0 is both an ATA drive and NVMe controller 0 to the system; a sector read for
  // the NVMe drive must not read the ATA drive's sector 0.
  auto system = Load(R"({"drives": [{"driveNumber": 0, "model": "ata"},
                                    {"driveNumber": 1, "model": "nvme", "nvme": {}}]})");
  Drive drive;
  drive.Kind = DriveKind::Nvme;
  drive.DriveNumber = 0;
  system->ClearLog();
  EXPECT_FALSE(ReadMbr(*system, drive).read);
  EXPECT_TRUE(system->CommandLog().empty());
}

TEST(NvmeSimulationFile, RawBytesFailuresAndBadFields) {
  std::string identify(2 * kNvmeIdentifySize, '0');
  identify.replace(2 * 24, 8, "41424344");  // model "ABCD"
  std::string log(2 * kNvmeHealthLogSize, '0');
  log.replace(0, 6, "084301");  // read-only warning, 323 K
  auto system =
      Load(R"({"model": "ignored", "nvme": {"identifyHex": ")" + identify +
           R"(", "healthLogHex": ")" + log + R"(", "failures": ["IDENTIFY_NAMESPACE"]}})");
  DriveTable table;
  ASSERT_TRUE(ProbeDrives(*system, table));
  EXPECT_EQ(table.At(1).ModelNumber, "ABCD");
  // The namespace answer failed: the size the kernel publishes stands in.
  EXPECT_EQ(table.At(1).CapacityGB, 466u);
  SmartSectors sectors;
  const ReadSmartResult result = ReadSMART(*system, table, 1, sectors);
  EXPECT_FALSE(result.statusOK);
  EXPECT_EQ(table.At(1).Temperature, 50);
  EXPECT_EQ(table.At(1).NvmeCriticalWarning, kNvmeWarningReadOnly);

  const std::vector<std::pair<std::string, std::string>> bad{
      {R"({"model": "m", "nvme": {"healthLogHex": "00"}})", "nvme.healthLogHex"},
      {R"({"model": "m", "nvme": {"failures": ["FORMAT_NVM"]}})", "nvme.failures[0]"},
      {R"({"model": "m", "nvme": {"blockSize": 1000}})", "nvme.blockSize"},
      {R"({"model": "m", "nvme": {"health": {"temperature": -300}}})", "nvme.health.temperature"},
      {R"({"model": "m", "nvme": {"health": {"sensors": [1,2,3,4,5,6,7,8,9]}}})",
       "nvme.health.sensors"},
      {R"({"model": "m", "nvme": {"privileged": "no"}})", "nvme.privileged"},
      {R"({"model": "m", "nvme": 3})", "nvme"},
  };
  for (const auto& [text, field] : bad) {
    std::string error;
    EXPECT_FALSE(SimulatedDriveSystem::FromJsonText(text, ".", "f.json", error)) << text;
    EXPECT_NE(error.find("f.json: " + field + ":"), std::string::npos) << error;
  }
}

TEST(NvmeDemo, OneHealthyAndOneCriticalNvmeDrive) {
  std::string error;
  auto system = SimulatedDriveSystem::Load(DISKVIGIL_SOURCE_DIR "/data/demo-nvme", error);
  ASSERT_TRUE(system) << error;
  DriveTable table;
  ASSERT_TRUE(ProbeDrives(*system, table));
  ASSERT_EQ(table.DriveCount, 4);
  SmartSectors sectors;
  EXPECT_EQ(table.At(1).Kind, DriveKind::Ata);
  EXPECT_EQ(table.At(2).Kind, DriveKind::Ata);
  EXPECT_TRUE(ReadSMART(*system, table, 3, sectors).Passed());
  EXPECT_FALSE(ReadSMART(*system, table, 4, sectors).statusOK);
  EXPECT_EQ(NvmeCriticalWarningNames(table.At(4).NvmeCriticalWarning),
            (std::vector<std::string>{"available spare below threshold", "reliability degraded"}));
}

}  // namespace
}  // namespace dv
