// The monitor's scheduled self-tests and self-test warnings (`monitor --self-test-days N`,
// "Self-Test Warnings"): the shared watch over the drives' logs (core/SelfTestWatch.h), with what
// it starts told on standard error and the newest result and age of each drive handed to the
// metrics.
#pragma once

#include <iosfwd>
#include <map>
#include <string>
#include <vector>

#include "cli/Metrics.h"
#include "core/SelfTestWatch.h"

namespace dv::cli {

class MonitorSelfTests {
 public:
  MonitorSelfTests(DriveSystem& system, const DriveTable& table, int days) : watch_(system, table) {
    watch_.SetDays(days);
  }

  // For the pass's observer, while `sectors` hold this position's data.
  void Take(const PositionReading& reading, const SmartSectors& sectors) {
    watch_.Take(reading, sectors);
  }
  // After the pass: reads the logs, hands their newest entry to the metrics, starts at most one
  // test (what it starts or fails to start is told on `err`) and, with `warnings`, returns the
  // warning lines by position.
  std::map<int, std::vector<std::string>> AfterPass(std::ostream& err, MetricsTextfile* textfile,
                                                    bool warnings);

 private:
  SelfTestWatch watch_;
};

}  // namespace dv::cli
