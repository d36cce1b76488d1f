#include "core/Enumerate.h"

#include "core/AtaLayout.h"
#include "core/Identify.h"
#include "core/Nvme.h"

namespace dv {
namespace {

bool Send(DriveHandle& handle, AtaCommand command, int driveNumber) {
  return SendATACommand(handle, MakeAtaCommand(command, driveNumber)).success;
}

void CopyIdentification(const IdentifyInfo& info, Drive& drive) {
  drive.SerialNumber = info.SerialNumber;
  drive.FirmwareRevision = info.FirmwareRevision;
  drive.ModelText = info.ModelText;
  drive.ModelNumber = info.ModelNumber;
  drive.VendorCode = info.VendorCode;
  drive.LBA48 = info.LBA48;
  drive.SMARTEnabled = info.SMARTEnabled;
  drive.SecurityEnabled = info.SecurityEnabled;
  drive.HPAEnabled = info.HPAEnabled;
  drive.UserSectors = info.UserSectors;
  drive.CapacityGB = info.CapacityGB;
}

// Only a 48-bit drive can tell its native maximum; everything else stays "not determined".
int64_t ReadHpaSize(DriveHandle& handle, int driveNumber, const Drive& drive) {
  if (!drive.HPAEnabled || !drive.LBA48) return -1;
  const ATACommandResult result =
      SendATACommand(handle, MakeAtaCommand(AtaCommand::ReadNativeMaxExt, driveNumber));
  if (!result.success) return -1;
  return HPASizeMB(NativeMaxAddress(result.current, result.previous), drive.UserSectors);
}

// Switches on automatic off-line data collection and attribute autosave where the drive offers
// them. A convenience only: failures change nothing.
void EnableSmartConveniences(DriveHandle& handle, int driveNumber) {
  const ATACommandResult data =
      SendATACommand(handle, MakeAtaCommand(AtaCommand::SmartReadData, driveNumber));
  if (!data.success) return;
  if ((data.data[kSmartOfflineCapabilityByte] & kSmartAutoOfflineBit) != 0) {
    Send(handle, AtaCommand::SmartAutoOffline, driveNumber);
  }
  if ((data.data[kSmartCapabilityOffset] & kSmartAutosaveBit) != 0) {
    Send(handle, AtaCommand::SmartAutosave, driveNumber);
  }
}

}  // namespace

uint64_t NativeMaxAddress(const TaskFile& current, const TaskFile& previous) {
  return static_cast<uint64_t>(current.lbaLow) | (static_cast<uint64_t>(current.lbaMid) << 8) |
         (static_cast<uint64_t>(current.lbaHigh) << 16) |
         (static_cast<uint64_t>(previous.lbaLow) << 24) |
         (static_cast<uint64_t>(previous.lbaMid) << 32) |
         (static_cast<uint64_t>(previous.lbaHigh) << 40);
}

bool IdentifyDrive(DriveHandle& handle, int driveNumber, Drive& drive, ProbeChanges changes) {
  if (!Send(handle, AtaCommand::SmartEnable, driveNumber)) return false;
  const ATACommandResult identify =
      SendATACommand(handle, MakeAtaCommand(AtaCommand::Identify, driveNumber));
  if (!identify.success) return false;

  drive.DriveNumber = static_cast<uint8_t>(driveNumber);
  // The position may have held an NVMe drive before.
  drive.Kind = DriveKind::Ata;
  drive.PciVendorId = 0;
  drive.NvmeHealthLogRead = false;
  drive.NvmeHealthLogNeedsRoot = false;
  drive.NvmeCriticalWarning = 0;
  CopyIdentification(DecodeIdentify(identify.data), drive);
  drive.HPASizeMB = ReadHpaSize(handle, driveNumber, drive);
  if (drive.SMARTEnabled && changes == ProbeChanges::SwitchOnConveniences) {
    EnableSmartConveniences(handle, driveNumber);
  }
  return true;
}

bool ProbeDrives(DriveSystem& system, DriveTable& table, ProbeChanges changes) {
  table.DriveCount = 0;
  for (int n = 0; n <= kMaxDriveNumber && table.DriveCount < kMaxDrives; ++n) {
    if (system.PresenceOf(n) == DrivePresence::Absent) continue;
    DriveHandlePtr handle = OpenDrive(system, n);
    if (!handle) continue;
    Drive& drive = table.At(table.DriveCount + 1);
    if (IdentifyDrive(*handle, n, drive, changes)) {
      drive.DevicePath = system.DescribeDrive(n);
      ++table.DriveCount;
    }
  }  // the handle closes at the end of each round, whatever happened
  // NVMe controllers after the ATA drives, in the positions left.
  for (int n = 0; n <= kMaxNvmeController && table.DriveCount < kMaxDrives; ++n) {
    if (system.NvmePresenceOf(n) == DrivePresence::Absent) continue;
    if (IdentifyNvmeDrive(system, n, table.At(table.DriveCount + 1))) ++table.DriveCount;
  }
  return table.DriveCount > 0;
}

std::string DriveListBalloonText(const DriveTable& table) {
  std::string text;
  for (int k = 1; k <= table.DriveCount; ++k) {
    const Drive& drive = table.At(k);
    text += drive.ModelNumber + " " + std::to_string(drive.CapacityGB) + " GB\r";
  }
  return text;
}

}  // namespace dv
