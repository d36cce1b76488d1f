// The S.M.A.R.T. attribute and threshold sectors, the attribute lookup and ReadSMART, the one read
// of a drive's verdict and sectors that every caller uses.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <optional>
#include <span>

#include "core/AtaLayout.h"
#include "core/Drive.h"
#include "core/DriveSystem.h"
#include "core/Ioctl.h"

namespace dv {

// One decoded attribute entry; all zero when the ID is not in the table.
struct SMARTAttribute {
  uint8_t Value = 0;                  // entry byte 3, the normalised value
  uint8_t Worst = 0;                  // entry byte 4
  uint64_t Raw = 0;                   // entry bytes 5-10, 48-bit little-endian
  std::array<uint8_t, 6> RawBytes{};  // entry bytes 5-10 as stored
  uint16_t Flags = 0;                 // entry bytes 1-2

  // A drive lists attributes it does not keep with everything zero; such an entry counts as absent.
  bool IsPresent() const { return Value != 0 || Worst != 0 || Raw != 0; }
};

SMARTAttribute FindSMARTAttribute(std::span<const uint8_t> smartData, uint8_t id);
// The threshold byte of attribute `id`, 0 when the ID is not in the threshold table.
uint8_t FindSMARTThreshold(std::span<const uint8_t> smartThresholds, uint8_t id);

// Where each ID's entry sits in one sector, found in a single walk of the table under the same
// rules as the lookups above (first entry wins; the table ends at ID 0 or after 30 entries). For
// callers that look up many IDs in the same sector. The sector must outlive the index.
class SmartTableIndex {
 public:
  explicit SmartTableIndex(std::span<const uint8_t> sector);
  SMARTAttribute Attribute(uint8_t id) const;
  uint8_t Threshold(uint8_t id) const;

 private:
  std::span<const uint8_t> sector_;
  std::array<uint16_t, 256> offsets_{};  // byte offset of each ID's entry; 0 for none
};

// The sectors of the drive read last. The application owns one of these; a failed read leaves the
// sectors of the read before in place.
struct SmartSectors {
  std::array<uint8_t, kSectorSize> SMARTData{};
  std::array<uint8_t, kSectorSize> SMARTThresholds{};
  // The health log of an NVMe drive. When NvmeLogHeld is set the last reading was that drive's,
  // and both ATA sectors are zero.
  std::array<uint8_t, 512> NvmeHealthLog{};
  bool NvmeLogHeld = false;

  SMARTAttribute FindSMARTAttribute(uint8_t id) const {
    return dv::FindSMARTAttribute(SMARTData, id);
  }
  uint8_t FindSMARTThreshold(uint8_t id) const {
    return dv::FindSMARTThreshold(SMARTThresholds, id);
  }
};

// What one ReadSMART found out, so the caller knows which of its displays to rewrite.
struct ReadSmartResult {
  bool verdictReached = false;  // RETURN STATUS was answered: a verdict (core/Health.h)
  bool statusOK = false;        // the drive's own verdict was good
  bool sectorsRead = false;     // both sectors were read: temperatures and rows are fresh

  // True exactly when the verdict is good and both sectors were read.
  bool Passed() const { return statusOK && sectorsRead; }
};

// The three commands of an ATA drive's reading (RETURN STATUS, READ DATA, READ THRESHOLDS), one
// open and close each, to send with SendATACommands; a pass sends every drive's in one batch.
inline constexpr size_t kSmartReadCount = 3;
std::array<FreshOpenCommand, kSmartReadCount> SmartReadCommands(int driveNumber);
// What those three brought, taken into the drive record and the sectors as ReadSMART does.
ReadSmartResult TakeSmartReads(
    Drive& drive, std::span<const std::optional<ATACommandResult>, kSmartReadCount> reads,
    SmartSectors& sectors);

// Reads list position `position` (1-based) of `drives`: RETURN STATUS, READ DATA, READ THRESHOLDS,
// one open and close per command. Stores the verdict in SMARTStatusOK and, once both sectors are
// in, the current temperature in Temperature. A position that is not listed or has S.M.A.R.T. off
// changes nothing. An NVMe drive is read with its health log instead (ReadNvmeSmart).
ReadSmartResult ReadSMART(DriveSystem& system, DriveTable& drives, int position,
                          SmartSectors& sectors);

}  // namespace dv
