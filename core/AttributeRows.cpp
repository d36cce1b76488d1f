#include "core/AttributeRows.h"

#include <charconv>
#include <optional>

#include "core/AttributeNames.h"
#include "core/Nvme.h"

namespace dv {
namespace {

constexpr std::string_view kFlagLetters = "SCEPOF";  // bits 5, 4, 3, 2, 1, 0
constexpr std::string_view kHexDigits = "0123456789ABCDEF";
constexpr size_t kRawHexDigits = 12;  // 48 bits

AttributeRow MakeRow(const AttributeFacts& facts, RawPresentation presentation) {
  AttributeRow row;
  row[kColumnName] = AttributeNameCell(facts.id, facts.name);
  row[kColumnAttr] = std::to_string(facts.value);
  row[kColumnWorst] = std::to_string(facts.worst);
  row[kColumnRaw] = RawValueText(facts.raw, presentation);
  row[kColumnThreshold] = std::to_string(facts.threshold);
  row[kColumnFlags] = FlagsText(facts.flags);
  row[kColumnStatus] = facts.FailingNow() ? kStatusFailed : kStatusOk;
  return row;
}

// The whole cell as a decimal number; nothing for an empty or non-numeric cell.
std::optional<long long> CellNumber(const std::string& cell) {
  long long value = 0;
  const char* end = cell.data() + cell.size();
  const auto [last, error] = std::from_chars(cell.data(), end, value);
  if (cell.empty() || error != std::errc() || last != end) return std::nullopt;
  return value;
}

}  // namespace

const AttributeRow& AttributeRowHeadings() {
  static const AttributeRow headings{"Name",      "Attr",  "Worst", "Raw",
                                     "Threshold", "Flags", "Status"};
  return headings;
}

std::string AttributeNameCell(uint8_t id, std::string_view name) {
  std::string cell = "(00h) ";
  cell[1] = kHexDigits[id >> 4];
  cell[2] = kHexDigits[id & 0x0F];
  return cell.append(name);
}

std::string RawValueText(uint64_t raw, RawPresentation presentation) {
  if (presentation == RawPresentation::Dec) return std::to_string(raw);
  std::string text(kRawHexDigits + 1, 'h');
  for (size_t i = kRawHexDigits; i-- > 0; raw >>= 4) text[i] = kHexDigits[raw & 0x0F];
  return text;
}

std::string FlagsText(uint16_t flags) {
  std::string text(kFlagLetters);
  for (size_t i = 0; i < text.size(); ++i) {
    const unsigned bit = static_cast<unsigned>(text.size() - 1 - i);
    if ((flags & (1u << bit)) == 0) text[i] = '-';
  }
  return text;
}

bool AttributeFailed(uint8_t value, uint8_t threshold) { return value < threshold; }

std::vector<AttributeFacts> BuildAttributeFacts(std::span<const uint8_t> smartData,
                                                std::span<const uint8_t> smartThresholds) {
  const SmartTableIndex attributes(smartData);
  const SmartTableIndex thresholds(smartThresholds);
  std::vector<AttributeFacts> facts;
  facts.reserve(kSmartEntryCount);
  for (const AttributeNameEntry& entry : AttributeNameTable) {
    const SMARTAttribute attribute = attributes.Attribute(entry.id);
    if (!attribute.IsPresent()) continue;
    facts.push_back({entry.id, entry.name, attribute.Value, attribute.Worst,
                     thresholds.Threshold(entry.id), attribute.Raw, attribute.Flags});
  }
  return facts;
}

std::vector<AttributeRow> BuildAttributeRows(std::span<const uint8_t> smartData,
                                             std::span<const uint8_t> smartThresholds,
                                             RawPresentation presentation) {
  std::vector<AttributeRow> rows;
  rows.reserve(kSmartEntryCount);
  for (const AttributeFacts& facts : BuildAttributeFacts(smartData, smartThresholds)) {
    rows.push_back(MakeRow(facts, presentation));
  }
  return rows;
}

std::vector<AttributeRow> BuildAttributeRows(const SmartSectors& sectors,
                                             RawPresentation presentation) {
  if (sectors.NvmeLogHeld) {
    const auto health = DecodeNvmeHealthLog(sectors.NvmeHealthLog);
    return health ? BuildNvmeHealthRows(*health, presentation) : std::vector<AttributeRow>{};
  }
  return BuildAttributeRows(sectors.SMARTData, sectors.SMARTThresholds, presentation);
}

PreFailureState RowPreFailureState(const AttributeRow& row) {
  if (row[kColumnFlags].find('F') == std::string::npos) return PreFailureState::NotPreFailure;
  const auto attr = CellNumber(row[kColumnAttr]);
  const auto threshold = CellNumber(row[kColumnThreshold]);
  if (!attr || !threshold) return PreFailureState::NotPreFailure;
  return *attr < *threshold ? PreFailureState::BelowThreshold : PreFailureState::AtOrAboveThreshold;
}

}  // namespace dv
