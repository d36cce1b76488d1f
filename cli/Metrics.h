// The monitor's readings as a metrics text file for a Prometheus node exporter's textfile
// collector: one sample per drive and value the drive reported, HELP and TYPE lines per family,
// label values escaped. The formatter is pure; the writer replaces the file in one rename.
#pragma once

#include <cstdint>
#include <ctime>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "core/Drive.h"
#include "core/DriveSystem.h"
#include "core/Monitor.h"
#include "core/SmartData.h"

namespace dv::cli {

struct MetricsAttribute {
  uint8_t id = 0;
  std::string name;
  uint8_t value = 0;
  uint8_t worst = 0;
  uint8_t threshold = 0;
  uint64_t raw = 0;
};

// What one pass learned about one drive. A value the drive did not give is empty and gets no
// sample, never a made-up 0.
struct MetricsDrive {
  std::string device;  // "/dev/sda"
  std::string model;
  std::string serial;
  bool smartEnabled = false;
  std::optional<bool> healthy;  // the drive's own verdict, when it answered
  // NVMe: whether the health log was read (else only the kernel's sensor, and no verdict).
  std::optional<bool> nvmeHealthLogRead;
  std::optional<int> temperatureCelsius;  // below zero for a cold NVMe drive
  std::optional<int> airflowCelsius;
  std::vector<MetricsAttribute> attributes;  // empty when the sectors were not read
  std::optional<bool> caution;  // a watched counter rose; empty when the counters are unknown
  bool asleep = false;          // left in standby by this pass, nothing read
  // monitor --self-test-days: the newest logged self-test's result code and its age in hours.
  std::optional<int> selfTestLastStatus;
  std::optional<uint64_t> selfTestAgeHours;
};

// The drive's entry from one read. `sectors` are used only when `result` says they were read
// for this drive (after a failed read they still hold an earlier drive's data).
MetricsDrive MakeMetricsDrive(std::string device, const Drive& drive, const ReadSmartResult& result,
                              const SmartSectors& sectors);

// A label value as the text format wants it: backslash, double quote and line feed escaped;
// other control bytes and bytes that are not UTF-8 become '?'.
std::string EscapeLabelValue(std::string_view value);

// The whole file. `passTime` is when the pass ended (seconds since the epoch).
std::string FormatMetrics(std::span<const MetricsDrive> drives, std::time_t passTime);

// Writes `text` to `path` with mode 0644 through a new file beside it and a rename, so a reader
// sees the old file or the new one, never a part. Returns "Unable to write to <path>" on failure,
// leaving an earlier file as it was.
std::optional<std::string> WriteMetricsFile(const std::string& path, std::string_view text);

// The monitor's side: takes each position's reading as the pass makes it, then writes the file.
class MetricsTextfile {
 public:
  MetricsTextfile(const DriveSystem& system, const DriveTable& table, std::string path)
      : system_(system), table_(table), path_(std::move(path)) {}

  // For the pass's observer, while `sectors` hold this position's data.
  // `caution`: whether the drive's watched counters rose, when they are known.
  void Take(const PositionReading& reading, const SmartSectors& sectors,
            std::optional<bool> caution = std::nullopt);
  // The newest self-test of a position taken in this pass.
  void TakeSelfTest(int position, int lastStatus, std::optional<uint64_t> ageHours);
  // Writes what this pass took and starts the next pass afresh; the error text on failure.
  std::optional<std::string> WritePass(std::time_t passTime);

 private:
  const DriveSystem& system_;
  const DriveTable& table_;
  std::string path_;
  std::vector<MetricsDrive> drives_;
};

}  // namespace dv::cli
