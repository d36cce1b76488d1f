// What a monitoring pass hands the history: one sample per monitored drive, taken from the reading
// while the sectors still hold that drive's data, and written once the pass is over.
#pragma once

#include <optional>
#include <string>
#include <vector>

#include "core/Drive.h"
#include "core/Monitor.h"
#include "core/SmartData.h"
#include "history/HistorySample.h"

namespace dv {

class HistoryStore;

// The sample of one reading. `caution`: whether a watched counter rose, when known. A drive left
// asleep gives its stored verdict and nothing read.
HistorySample SampleOf(const Drive& drive, const PositionReading& reading,
                       const SmartSectors& sectors, std::optional<bool> caution);

class PassSamples {
 public:
  // For the pass's observer. Positions that are not monitored give nothing.
  void Take(const DriveTable& table, const PositionReading& reading, const SmartSectors& sectors,
            std::optional<bool> caution);
  // Writes what the pass took in one transaction and starts the next pass afresh. The error text
  // when it was not written.
  std::optional<std::string> WritePass(HistoryStore& store);

 private:
  std::vector<DriveSample> samples_;
};

}  // namespace dv
