// The watch over the drives' own self-test logs that the monitor and the window program share:
// after a monitoring pass (or several) the self-test log of every drive read awake in it, its
// newest result and age, the warnings a failed test or a rising error count give, and a short test
// started on the first drive whose newest test is N days old or older. One drive at a time: nothing
// starts while any drive runs a test. A drive left asleep is not taken, so it is not read.
#pragma once

#include <cstdint>
#include <map>
#include <optional>
#include <span>
#include <string>
#include <vector>

#include "core/Drive.h"
#include "core/DriveSystem.h"
#include "core/Monitor.h"
#include "core/SelfTest.h"
#include "core/SmartData.h"

namespace dv {

// The longest "Self-Test Every" / --self-test-days: ten years.
inline constexpr int kMaxSelfTestDays = 3650;

// What one look at the logs found and did.
struct SelfTestLook {
  struct Newest {
    int position;
    uint8_t code;  // the newest entry's status code (ATA) or result (NVMe)
    std::optional<uint64_t> ageHours;
  };
  std::vector<Newest> newest;  // the drives whose log was read and holds an entry
  std::map<int, std::vector<std::string>> warnings;  // by position, with warnings asked for
  std::vector<int> running;                          // the positions running a test now
  struct Scheduled {
    int position;
    std::optional<uint64_t> ageHours;  // of the newest test before it; none when none was logged
    SelfTestStart start;
  };
  std::optional<Scheduled> scheduled;
};

// "scheduled short self-test started (the last one ended 300 hours ago)", or "scheduled self-test
// not started: <reason>".
std::string ScheduledSelfTestText(const SelfTestLook::Scheduled& scheduled);

class SelfTestWatch {
 public:
  SelfTestWatch(DriveSystem& system, const DriveTable& table) : system_(system), table_(table) {}

  // 0: no scheduled tests.
  void SetDays(int days) { days_ = days; }
  int Days() const { return days_; }

  // For the pass's observer, while `sectors` hold this position's data. A position taken twice
  // before a look counts once, with its later reading.
  void Take(const PositionReading& reading, const SmartSectors& sectors);
  // Reads the logs of the positions taken since the last look (none when neither a schedule nor
  // `warnings` is asked for), and starts at most one scheduled test.
  SelfTestLook Look(bool warnings);

 private:
  struct FreshDrive {
    int position;
    std::optional<uint64_t> powerOnHours;
  };
  // The warnings of one drive whose self-test log is `log`.
  std::vector<std::string> Warnings(int position, const SelfTestLogReading& log);

  DriveSystem& system_;
  const DriveTable& table_;
  int days_ = 0;
  std::vector<FreshDrive> fresh_;
  std::map<int, std::string> warnedEntry_;  // the failed entry each position was warned of
  std::map<int, uint16_t> errorCount_;      // each position's error count at the look before
};

}  // namespace dv
