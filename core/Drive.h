// The Drive record: what the program keeps per listed drive, positions 1 to 6 in the order found.
#pragma once

#include <array>
#include <cstdint>
#include <optional>
#include <string>

namespace dv {

inline constexpr int kMaxDrives = 6;
inline constexpr int kMaxDriveNumber = 15;                     // drive numbers 0..15 are probed
inline constexpr uint32_t kDefaultTrayFontColor = 0x0000FFFF;  // yellow, 0x00BBGGRR
inline constexpr uint32_t kDefaultTrayBackColor = 0x00000000;  // black

// How a drive is reached: ATA commands (directly or through SAT) or NVMe admin commands.
enum class DriveKind { Ata, Nvme };

struct Drive {
  uint8_t DriveNumber = 0;
  char VendorCode = 0;  // 'S', 'W', ... or 0 for none
  std::string SerialNumber;
  std::string FirmwareRevision;
  std::string ModelNumber;
  std::string ModelText;  // words 27-46 untrimmed, as the drive list shows it
  bool LBA48 = false;
  bool SMARTEnabled = false;
  uint64_t UserSectors = 0;
  uint32_t CapacityGB = 0;
  // The three tray fields belong to the list position and survive a new enumeration.
  bool TrayIconOn = true;
  uint32_t TrayFontColor = kDefaultTrayFontColor;
  uint32_t TrayBackColor = kDefaultTrayBackColor;
  int32_t Temperature = 0;
  bool SMARTStatusOK = false;
  bool HPAEnabled = false;
  int64_t HPASizeMB = -1;  // -1: not determined
  bool SecurityEnabled = false;
  // NVMe drives. DriveNumber is then the controller number (the N of /dev/nvmeN); LBA48, HPA,
  // Security, AAM and APM do not apply.
  DriveKind Kind = DriveKind::Ata;
  std::string DevicePath;          // "/dev/sda", "/dev/nvme0", ... as the system names the drive
  uint16_t PciVendorId = 0;        // NVMe: from Identify Controller or sysfs; 0 when unknown
  bool NvmeHealthLogRead = false;  // the last reading read the full health log
  bool NvmeHealthLogNeedsRoot = false;  // only the unprivileged readings are available
  uint8_t NvmeCriticalWarning = 0;      // of the last health log read
  // The last reading gave a temperature: a composite temperature of 0 K, or no kernel sensor
  // without privilege, gives none (Temperature is then 0 and shown as "...").
  bool NvmeTemperatureRead = false;
  bool IsNvme() const { return Kind == DriveKind::Nvme; }
  // Temperature as the drive gave it, or nothing for an NVMe drive that gave none. An ATA drive
  // keeps its figure from the attribute sector (0 when it keeps no temperature attribute).
  std::optional<int32_t> ReportedTemperature() const {
    if (IsNvme() && !NvmeTemperatureRead) return std::nullopt;
    return Temperature;
  }
};

struct DriveTable {
  std::array<Drive, kMaxDrives> Drives{};
  int DriveCount = 0;

  // Position k is 1-based.
  Drive& At(int position) { return Drives.at(static_cast<size_t>(position - 1)); }
  const Drive& At(int position) const { return Drives.at(static_cast<size_t>(position - 1)); }
  bool IsListed(int position) const { return position >= 1 && position <= DriveCount; }
};

}  // namespace dv
