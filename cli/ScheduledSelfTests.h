// The monitor's scheduled self-tests (`monitor --self-test-days N`): after each pass the self-test
// log of every drive read in it, its newest result and age for the metrics, and a short test
// started on the first drive whose newest test is N days old or older. One drive at a time: nothing
// starts while any drive runs a test. A drive left asleep (--no-wake) is not read, so it is not
// tested.
#pragma once

#include <iosfwd>
#include <optional>
#include <vector>

#include "cli/Metrics.h"
#include "core/Drive.h"
#include "core/DriveSystem.h"
#include "core/Monitor.h"
#include "core/SmartData.h"

namespace dv::cli {

class ScheduledSelfTests {
 public:
  ScheduledSelfTests(DriveSystem& system, const DriveTable& table, int days)
      : system_(system), table_(table), days_(days) {}

  // For the pass's observer, while `sectors` hold this position's data.
  void Take(const PositionReading& reading, const SmartSectors& sectors);
  // After the pass: reads the logs, hands their newest entry to the metrics, starts at most one
  // test. What it starts or fails to start is told on `err`.
  void AfterPass(std::ostream& err, MetricsTextfile* textfile);

 private:
  struct FreshDrive {
    int position;
    std::optional<uint64_t> powerOnHours;
  };
  DriveSystem& system_;
  const DriveTable& table_;
  int days_;
  std::vector<FreshDrive> fresh_;
};

}  // namespace dv::cli
