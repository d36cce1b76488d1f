// The monitor's scheduled self-tests (`monitor --self-test-days N`): after each pass the self-test
// log of every drive read in it, its newest result and age for the metrics, and a short test
// started on the first drive whose newest test is N days old or older. One drive at a time: nothing
// starts while any drive runs a test. A drive left asleep (--no-wake) is not read, so it is not
// tested.
#pragma once

#include <iosfwd>
#include <map>
#include <optional>
#include <string>
#include <vector>

#include "cli/Metrics.h"
#include "core/Drive.h"
#include "core/DriveSystem.h"
#include "core/Monitor.h"
#include "core/SelfTest.h"
#include "core/SmartData.h"

namespace dv::cli {

class MonitorSelfTests {
 public:
  MonitorSelfTests(DriveSystem& system, const DriveTable& table, int days)
      : system_(system), table_(table), days_(days) {}

  // For the pass's observer, while `sectors` hold this position's data.
  void Take(const PositionReading& reading, const SmartSectors& sectors);
  // After the pass: reads the logs, hands their newest entry to the metrics, starts at most one
  // test (what it starts or fails to start is told on `err`) and, with `warnings`, returns the
  // warning lines by position.
  std::map<int, std::vector<std::string>> AfterPass(std::ostream& err, MetricsTextfile* textfile,
                                                    bool warnings);

 private:
  struct FreshDrive {
    int position;
    std::optional<uint64_t> powerOnHours;
  };
  DriveSystem& system_;
  const DriveTable& table_;
  int days_;
  void Schedule(std::ostream& err, bool anyRunning, int position, std::optional<uint64_t> age);
  // The warnings of one drive whose self-test log is `log`.
  std::vector<std::string> Warnings(int position, const SelfTestLogReading& log);

  std::vector<FreshDrive> fresh_;
  std::map<int, std::string> warnedEntry_;  // the failed entry each position was warned of
  std::map<int, uint16_t> errorCount_;      // each position's error count at the pass before
};

}  // namespace dv::cli
