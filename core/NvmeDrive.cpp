// The drive reading of NVMe controllers: identification with privilege through the catalogue,
// and without it from what the kernel publishes; the monitoring read of the health log.
#include <algorithm>

#include "core/Identify.h"
#include "core/Nvme.h"

namespace dv {
namespace {

struct PciVendorLetter {
  uint16_t vendorId;
  char code;
};
// The PCI vendor ids of the makers whose logos the program carries.
constexpr std::array<PciVendorLetter, 8> kPciVendorLetters{{
    {0x1BB1, 'S'},  // Seagate
    {0x101C, 'W'},  // Western Digital
    {0x15B7, 'W'},  // Western Digital (SanDisk)
    {0x144D, 'M'},  // Samsung
    {0x1C58, 'H'},  // HGST (Hitachi)
    {0x10CF, 'F'},  // Fujitsu
    {0x1014, 'I'},  // IBM
    {0x1179, 'T'},  // Toshiba
}};

void FillCommonNvmeFields(int controller, const DriveSystem& system, Drive& drive) {
  drive.DriveNumber = static_cast<uint8_t>(controller);
  drive.Kind = DriveKind::Nvme;
  drive.DevicePath = system.NvmeDevicePath(controller);
  drive.LBA48 = false;
  drive.SMARTEnabled = true;  // the health log is always there
  drive.HPAEnabled = false;
  drive.HPASizeMB = -1;
  drive.SecurityEnabled = false;
  drive.NvmeHealthLogRead = false;
  drive.NvmeTemperatureRead = false;
}

void FillSize(uint64_t bytes, Drive& drive) {
  drive.UserSectors = bytes / kSectorSize;
  drive.CapacityGB = CapacityGB(drive.UserSectors);
}

// Model, serial, firmware and maker, whether the controller or the kernel told them.
void FillIdentity(const std::string& model, const std::string& serial, const std::string& firmware,
                  uint16_t pciVendorId, Drive& drive) {
  drive.ModelNumber = model;
  drive.ModelText = model;
  drive.SerialNumber = serial;
  drive.FirmwareRevision = firmware;
  drive.PciVendorId = pciVendorId;
  drive.VendorCode = VendorCodeForPciVendor(pciVendorId);
  if (drive.VendorCode == 0) drive.VendorCode = VendorCodeForModel(model);
}

bool FillFromUnprivileged(DriveSystem& system, int controller, Drive& drive) {
  const auto info = system.ReadNvmeUnprivileged(controller);
  if (!info) return false;
  FillCommonNvmeFields(controller, system, drive);
  FillIdentity(info->ModelNumber, info->SerialNumber, info->FirmwareRevision, info->PciVendorId,
               drive);
  FillSize(info->SizeBytes, drive);
  drive.NvmeHealthLogNeedsRoot = true;
  return true;
}

// The kernel's sensor driver passes a composite temperature of 0 K ("not reported") on as
// -273.15 degrees; that, like a missing sensor, is no temperature.
std::optional<int> HwmonReportedCelsius(std::optional<long long> millidegrees) {
  if (!millidegrees || *millidegrees <= kMillidegreesAtZeroKelvin) return std::nullopt;
  return HwmonMillidegreesToCelsius(*millidegrees);
}

void ZeroAtaSectors(SmartSectors& sectors) {
  sectors.SMARTData.fill(0);
  sectors.SMARTThresholds.fill(0);
}

ReadSmartResult ReadUnprivileged(DriveSystem& system, Drive& drive, SmartSectors& sectors) {
  ReadSmartResult outcome;
  const auto info = system.ReadNvmeUnprivileged(drive.DriveNumber);
  if (!info) return outcome;
  outcome.verdictReached = true;
  outcome.statusOK = !info->TemperatureAlarm;
  outcome.sectorsRead = true;
  drive.SMARTStatusOK = outcome.statusOK;
  drive.NvmeHealthLogRead = false;
  drive.NvmeCriticalWarning = info->TemperatureAlarm ? kNvmeWarningTemperature : 0;
  // Without a sensor there is no temperature, not the one of an earlier reading.
  const auto celsius = HwmonReportedCelsius(info->TemperatureMillidegrees);
  drive.Temperature = celsius.value_or(0);
  drive.NvmeTemperatureRead = celsius.has_value();
  ZeroAtaSectors(sectors);
  sectors.NvmeLogHeld = false;
  return outcome;
}

}  // namespace

char VendorCodeForPciVendor(uint16_t vendorId) {
  for (const auto& entry : kPciVendorLetters) {
    if (entry.vendorId == vendorId) return entry.code;
  }
  return 0;
}

bool IdentifyNvmeDrive(DriveSystem& system, int controller, Drive& drive) {
  NvmeHandlePtr handle = system.OpenNvme(controller);
  if (!handle) return FillFromUnprivileged(system, controller, drive);
  const NvmeCommandResult identify = SendNvmeCommand(*handle, NvmeAdminCommand::IdentifyController);
  const auto identity = identify.success ? DecodeNvmeIdentifyController(identify.data)
                                         : std::optional<NvmeIdentity>();
  if (!identity) return FillFromUnprivileged(system, controller, drive);

  // Newer kernels let anyone identify but keep the log for privileged callers.
  const NvmeCommandResult log = SendNvmeCommand(*handle, NvmeAdminCommand::HealthLog);
  const NvmeCommandResult ns = SendNvmeCommand(*handle, NvmeAdminCommand::IdentifyNamespace);
  handle.reset();

  FillCommonNvmeFields(controller, system, drive);
  FillIdentity(identity->ModelNumber, identity->SerialNumber, identity->FirmwareRevision,
               identity->PciVendorId, drive);
  const auto size = ns.success ? DecodeNvmeIdentifyNamespace(ns.data) : std::nullopt;
  if (size) {
    FillSize(size->Bytes(), drive);
  } else {
    const auto info = system.ReadNvmeUnprivileged(controller);
    FillSize(info ? info->SizeBytes : 0, drive);
  }
  drive.NvmeHealthLogNeedsRoot = !log.success && log.privilegeFailure;
  return true;
}

ReadSmartResult ReadNvmeSmart(DriveSystem& system, Drive& drive, SmartSectors& sectors) {
  if (drive.NvmeHealthLogNeedsRoot) return ReadUnprivileged(system, drive, sectors);
  ReadSmartResult outcome;
  NvmeHandlePtr handle = system.OpenNvme(drive.DriveNumber);
  if (!handle) return outcome;
  const NvmeCommandResult log = SendNvmeCommand(*handle, NvmeAdminCommand::HealthLog);
  handle.reset();
  if (!log.success && log.privilegeFailure) {
    drive.NvmeHealthLogNeedsRoot = true;
    return ReadUnprivileged(system, drive, sectors);
  }
  const auto health = log.success ? DecodeNvmeHealthLog(log.data) : std::nullopt;
  if (!health) return outcome;

  outcome.verdictReached = true;
  outcome.statusOK = health->Passed();
  outcome.sectorsRead = true;
  drive.SMARTStatusOK = outcome.statusOK;
  const auto celsius = NvmeReportedCelsius(health->CompositeTemperatureK);
  drive.Temperature = celsius.value_or(0);
  drive.NvmeTemperatureRead = celsius.has_value();
  drive.NvmeCriticalWarning = health->CriticalWarning;
  drive.NvmeHealthLogRead = true;
  ZeroAtaSectors(sectors);
  std::copy_n(log.data.begin(), sectors.NvmeHealthLog.size(), sectors.NvmeHealthLog.begin());
  sectors.NvmeLogHeld = true;
  return outcome;
}

}  // namespace dv
