#include "core/AttributeRows.h"

#include <charconv>
#include <cstdio>
#include <optional>

#include "core/AttributeNames.h"

namespace dv {
namespace {

constexpr std::string_view kFlagLetters = "SCEPOF";  // bits 5, 4, 3, 2, 1, 0

AttributeRow MakeRow(const AttributeNameEntry& entry, const SMARTAttribute& attribute,
                     uint8_t threshold, RawPresentation presentation) {
  AttributeRow row;
  row[kColumnName] = AttributeNameCell(entry.id, entry.name);
  row[kColumnAttr] = std::to_string(attribute.Value);
  row[kColumnWorst] = std::to_string(attribute.Worst);
  row[kColumnRaw] = RawValueText(attribute.Raw, presentation);
  row[kColumnThreshold] = std::to_string(threshold);
  row[kColumnFlags] = FlagsText(attribute.Flags);
  row[kColumnStatus] = AttributeFailed(attribute.Value, threshold) ? kStatusFailed : kStatusOk;
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
  char prefix[8];
  std::snprintf(prefix, sizeof prefix, "(%02Xh) ", static_cast<unsigned>(id));
  return std::string(prefix) + std::string(name);
}

std::string RawValueText(uint64_t raw, RawPresentation presentation) {
  if (presentation == RawPresentation::Dec) return std::to_string(raw);
  char text[24];
  std::snprintf(text, sizeof text, "%012llXh", static_cast<unsigned long long>(raw));
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

std::vector<AttributeRow> BuildAttributeRows(std::span<const uint8_t> smartData,
                                             std::span<const uint8_t> smartThresholds,
                                             RawPresentation presentation) {
  std::vector<AttributeRow> rows;
  for (const AttributeNameEntry& entry : AttributeNameTable) {
    const SMARTAttribute attribute = FindSMARTAttribute(smartData, entry.id);
    if (!attribute.IsPresent()) continue;
    rows.push_back(
        MakeRow(entry, attribute, FindSMARTThreshold(smartThresholds, entry.id), presentation));
  }
  return rows;
}

std::vector<AttributeRow> BuildAttributeRows(const SmartSectors& sectors,
                                             RawPresentation presentation) {
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
