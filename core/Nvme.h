// NVMe drives: the three admin commands the program sends and their guard (NvmeCommands.cpp), the
// decoders of the identify data and the SMART / Health Information log (log page 02h) with its
// rows (NvmeHealth.cpp), and the reading of a drive with or without privilege (NvmeDrive.cpp).
// Decoders are pure functions over the bytes the controller returned.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <optional>
#include <span>
#include <string>
#include <vector>

#include "core/AttributeRows.h"
#include "core/DriveSystem.h"
#include "core/NvmeLayout.h"

namespace dv {

// The NVMe catalogue: everything the program ever sends to an NVMe controller. The reads, and the
// device self-tests, which read the medium and write only the controller's own log.
enum class NvmeAdminCommand {
  IdentifyController,  // 06h, CNS 01h, 4096 bytes
  IdentifyNamespace,   // 06h, CNS 00h, namespace 1, 4096 bytes
  HealthLog,           // 02h, log 02h, namespace FFFFFFFFh, 512 bytes
  SelfTestShort,       // 14h, code 1h, namespace FFFFFFFFh, no data
  SelfTestExtended,    // 14h, code 2h, namespace FFFFFFFFh, no data
  SelfTestAbort,       // 14h, code Fh, namespace FFFFFFFFh, no data
  SelfTestLog,         // 02h, log 06h, namespace FFFFFFFFh, 564 bytes
};
inline constexpr NvmeAdminCommand kLastNvmeAdminCommand = NvmeAdminCommand::SelfTestLog;

// One admin command as the back ends pass it on (data always flows from the controller; the
// self-tests move none).
struct NvmeAdminRequest {
  uint8_t opcode = 0;
  uint32_t namespaceId = 0;
  uint32_t cdw10 = 0;
  uint32_t cdw11 = 0;
  uint32_t dataLength = 0;
  bool dataIn = true;  // false would be a write direction, which the guard refuses
};

NvmeAdminRequest MakeNvmeAdminCommand(NvmeAdminCommand command);
// The guard: which catalogue command a request is, or nullopt for anything else (another opcode,
// another CNS or log, a write direction, another length).
std::optional<NvmeAdminCommand> ClassifyNvmeAdminCommand(const NvmeAdminRequest& request);

// "Identify Controller", "Identify Namespace", "SMART / Health Log", "Device Self-test ...",
// "Self-test Log".
const char* NvmeAdminCommandName(NvmeAdminCommand command);

struct NvmeCommandResult {
  bool success = false;
  bool refused = false;           // the guard stopped it: no device saw it
  bool privilegeFailure = false;  // the system refused it for lack of privilege
  std::vector<uint8_t> data;      // the bytes read (dataLength of them) on success
};

// The one path every NVMe admin command takes: requests outside the catalogue are refused before
// any device sees them.
NvmeCommandResult SendNvmeCommand(NvmeHandle& handle, const NvmeAdminRequest& request);
NvmeCommandResult SendNvmeCommand(NvmeHandle& handle, NvmeAdminCommand command);

// What Identify Controller gives: the text fields trimmed of the space padding.
struct NvmeIdentity {
  uint16_t PciVendorId = 0;      // bytes 0-1
  std::string SerialNumber;      // bytes 4-23
  std::string ModelNumber;       // bytes 24-63
  std::string FirmwareRevision;  // bytes 64-71
};
std::optional<NvmeIdentity> DecodeNvmeIdentifyController(std::span<const uint8_t> data);

// Namespace size from Identify Namespace: NSZE (bytes 0-7) and the data size of the formatted LBA
// format (FLBAS bits 3:0 into the LBA format list at byte 128, LBADS as a power of two).
struct NvmeNamespaceSize {
  uint64_t Blocks = 0;
  uint32_t BlockSize = 0;
  uint64_t Bytes() const;  // saturates instead of overflowing
};
std::optional<NvmeNamespaceSize> DecodeNvmeIdentifyNamespace(std::span<const uint8_t> data);

// A 128-bit little-endian counter of the health log.
struct NvmeCounter {
  uint64_t Low = 0;
  uint64_t High = 0;
  std::string Decimal() const;  // the full value in decimal
};

struct NvmeHealth {
  uint8_t CriticalWarning = 0;              // byte 0
  uint16_t CompositeTemperatureK = 0;       // bytes 1-2, kelvin, 0 = not reported
  uint8_t AvailableSpare = 0;               // byte 3, percent
  uint8_t AvailableSpareThreshold = 0;      // byte 4, percent
  uint8_t PercentageUsed = 0;               // byte 5 (may exceed 100)
  NvmeCounter DataUnitsRead;                // bytes 32-47, thousands of 512-byte units
  NvmeCounter DataUnitsWritten;             // bytes 48-63
  NvmeCounter HostReadCommands;             // bytes 64-79
  NvmeCounter HostWriteCommands;            // bytes 80-95
  NvmeCounter ControllerBusyTime;           // bytes 96-111, minutes
  NvmeCounter PowerCycles;                  // bytes 112-127
  NvmeCounter PowerOnHours;                 // bytes 128-143
  NvmeCounter UnsafeShutdowns;              // bytes 144-159
  NvmeCounter MediaErrors;                  // bytes 160-175
  NvmeCounter ErrorLogEntries;              // bytes 176-191
  uint32_t WarningTemperatureMinutes = 0;   // bytes 192-195
  uint32_t CriticalTemperatureMinutes = 0;  // bytes 196-199
  std::array<uint16_t, kNvmeSensorCount> SensorTemperatureK{};  // bytes 200-215, 0 = not reported

  bool Passed() const { return CriticalWarning == 0; }
};
std::optional<NvmeHealth> DecodeNvmeHealthLog(std::span<const uint8_t> data);

// Kelvin to whole degrees Celsius, as both the log (K - 273) and the kernel's hwmon
// (millidegrees from K - 273.15, rounded to the nearest degree) give the same figure.
int NvmeCelsius(uint16_t kelvin);
// The same for a temperature field of the log, where 0 K means "not reported": nothing then.
std::optional<int> NvmeReportedCelsius(uint16_t kelvin);
int HwmonMillidegreesToCelsius(long long millidegrees);

// The names of the set critical-warning bits, in bit order ("available spare below threshold",
// "temperature", "reliability degraded", "read-only", "volatile memory backup failed",
// "persistent memory region read-only").
std::vector<std::string> NvmeCriticalWarningNames(uint8_t criticalWarning);

// One health-log field as numbers, for programs that read them rather than the cells.
struct NvmeHealthField {
  std::string name;                  // as the row's Name cell
  std::optional<NvmeCounter> count;  // the unsigned fields and the 128-bit counters
  std::optional<int> celsius;        // the temperatures; neither set: not reported
  std::optional<uint8_t> threshold;  // the available spare's threshold
  std::optional<bool> failing;       // where a rule judges the field
};
// The fields the rows show, in the same order.
std::vector<NvmeHealthField> NvmeHealthFields(const NvmeHealth& health);

// One row per health-log field, in the same seven cells as the ATA attribute rows: the value in the
// Raw cell (in the chosen HEX/DEC form), the Threshold cell for the available spare, the Status
// cell where a rule exists (spare below threshold, percentage used above 100, media errors above
// 0).
std::vector<AttributeRow> BuildNvmeHealthRows(const NvmeHealth& health,
                                              RawPresentation presentation);

// The vendor letter of the logo (as VendorCodeForModel gives for ATA models) for a PCI vendor id,
// or 0 when the id names none of those makers.
char VendorCodeForPciVendor(uint16_t vendorId);

// The highest controller number probed (/dev/nvme0 .. /dev/nvme15).
inline constexpr int kMaxNvmeController = 15;

// Identifies NVMe controller N and fills its record (everything but the tray fields, Temperature
// and SMARTStatusOK). With privilege: Identify Controller and Identify Namespace 1, and one health
// log read to learn whether the log can be read at all. Without it (the controller cannot be
// opened, or refuses for lack of privilege): what the kernel publishes, and the record says the
// health log needs root. False, with the record untouched, when there is no such controller.
bool IdentifyNvmeDrive(DriveSystem& system, int controller, Drive& drive);

// The monitoring read of an NVMe drive, the counterpart of ReadSMART: the health log, judged by
// its critical-warning byte, the composite temperature into Temperature and the log into
// `sectors` (both ATA sectors zeroed, NvmeLogHeld set). Without privilege the verdict is the
// kernel's temperature alarm and the temperature its sensor reading; the ATA sectors are zeroed
// and no log is held. A failed read leaves the drive's verdict and the sectors as they were.
ReadSmartResult ReadNvmeSmart(DriveSystem& system, Drive& drive, SmartSectors& sectors);

}  // namespace dv
