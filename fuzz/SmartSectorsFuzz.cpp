// Any bytes as the S.M.A.R.T. data sector followed by the threshold sector: the rows, the report
// lines and the temperatures made from them.
#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <span>

#include "core/AttributeRows.h"
#include "core/Temperatures.h"
#include "core/TextReport.h"
#include "fuzz/FuzzCheck.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  const std::span<const uint8_t> input(data, size);
  const size_t split = std::min<size_t>(size, dv::kSectorSize);
  const auto smartData = input.first(split);
  const auto thresholds = input.subspan(split);

  for (auto presentation : {dv::RawPresentation::Hex, dv::RawPresentation::Dec}) {
    const auto rows = dv::BuildAttributeRows(smartData, thresholds, presentation);
    DV_FUZZ_CHECK(rows.size() <= dv::kSmartEntryCount);
    for (const dv::AttributeRow& row : rows) {
      DV_FUZZ_CHECK(row[dv::kColumnFlags].size() == 6);
      DV_FUZZ_CHECK(presentation == dv::RawPresentation::Dec || row[dv::kColumnRaw].size() == 13);
      DV_FUZZ_CHECK(row[dv::kColumnStatus] == "O.K." || row[dv::kColumnStatus] == "!!!");
      (void)dv::RowPreFailureState(row);
    }
    const std::string report = dv::BuildSMARTReport({"model", "firmware", "serial"}, rows, {});
    DV_FUZZ_CHECK(std::count(report.begin(), report.end(), '\n') ==
                  static_cast<long>(7 + rows.size()));
  }
  const dv::Temperatures t = dv::GetTemperatures(smartData);
  (void)t;
  return 0;
}
