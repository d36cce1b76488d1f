// The attribute rows: seven cell texts per known attribute the drive keeps, made here once and
// used by the S.M.A.R.T. window, the text report, the mail and the command line alike.
#pragma once

#include <array>
#include <cstdint>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "core/Health.h"
#include "core/SmartData.h"

namespace dv {

enum class RawPresentation { Hex, Dec };

// Cell positions in a row; the same order as the grid's columns.
enum AttributeColumn : size_t {
  kColumnName = 0,
  kColumnAttr,
  kColumnWorst,
  kColumnRaw,
  kColumnThreshold,
  kColumnFlags,
  kColumnStatus,
  kAttributeColumnCount
};

using AttributeRow = std::array<std::string, kAttributeColumnCount>;

// The heading row: "Name", "Attr", "Worst", "Raw", "Threshold", "Flags", "Status".
const AttributeRow& AttributeRowHeadings();

inline constexpr std::string_view kStatusFailed = "!!!";
// The row of an attribute that holds says what a good drive verdict says.
inline constexpr std::string_view kStatusOk = kVerdictOkText;

// "(C2h) Temperature".
std::string AttributeNameCell(uint8_t id, std::string_view name);
// HEX: 12 upper-case digits and "h" ("003A00110024h"); DEC: plain decimal.
std::string RawValueText(uint64_t raw, RawPresentation presentation);
// Flag bits 5..0 as "SCEPOF", each clear bit as "-".
std::string FlagsText(uint16_t flags);
// An attribute has failed when its value is below its threshold; a threshold of 0 never fails.
bool AttributeFailed(uint8_t value, uint8_t threshold);

// Flag bit 0: the attribute predicts failure ("F" in the flags cell).
inline constexpr uint16_t kFlagPreFailure = 0x0001;

// One attribute as numbers, for programs that read them rather than the cells.
struct AttributeFacts {
  uint8_t id = 0;
  std::string_view name;
  uint8_t value = 0;
  uint8_t worst = 0;
  uint8_t threshold = 0;
  uint64_t raw = 0;  // 48 bits
  uint16_t flags = 0;

  bool PreFailure() const { return (flags & kFlagPreFailure) != 0; }
  bool FailingNow() const { return AttributeFailed(value, threshold); }
  bool FailedBefore() const { return AttributeFailed(worst, threshold); }
};

// The attributes the rows show: one per entry of the name table that the drive keeps, in the
// table's order.
std::vector<AttributeFacts> BuildAttributeFacts(std::span<const uint8_t> smartData,
                                                std::span<const uint8_t> smartThresholds);

// One row per entry of the name table that the drive keeps, in the table's order.
std::vector<AttributeRow> BuildAttributeRows(std::span<const uint8_t> smartData,
                                             std::span<const uint8_t> smartThresholds,
                                             RawPresentation presentation);
// The rows of the drive read last: the health-log rows when that was an NVMe drive.
std::vector<AttributeRow> BuildAttributeRows(const SmartSectors& sectors,
                                             RawPresentation presentation);

// How a row stands as a pre-failure attribute, read from its cells as the grid shows them.
enum class PreFailureState {
  NotPreFailure,   // no "F" in the flags cell, or no Attr/Threshold text to compare
  BelowThreshold,  // a pre-failure attribute whose value is below its threshold
  AtOrAboveThreshold
};
PreFailureState RowPreFailureState(const AttributeRow& row);

}  // namespace dv
