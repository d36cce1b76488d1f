#include "cli/Metrics.h"

#include <cstdio>
#include <filesystem>
#include <functional>
#include <memory>
#include <set>

#include "cli/CliSupport.h"
#include "core/AttributeNames.h"
#include "core/Health.h"
#include "core/Temperatures.h"
#include "settings/IniFile.h"

namespace dv::cli {
namespace {

namespace fs = std::filesystem;

constexpr std::string_view kPrefix = "diskvigil_";
constexpr std::string_view kUnknownAttributeName = "Unknown";

// Length of the UTF-8 sequence that starts `text` at `at`, 0 when the bytes there are not one
// (overlong forms, surrogates and values past U+10FFFF included).
size_t Utf8SequenceLength(std::string_view text, size_t at) {
  const auto byte = [&](size_t i) { return static_cast<unsigned char>(text[i]); };
  const unsigned char lead = byte(at);
  size_t length = 0;
  uint32_t codePoint = 0;
  if (lead >= 0xC2 && lead <= 0xDF) {
    length = 2;
    codePoint = lead & 0x1Fu;
  } else if (lead >= 0xE0 && lead <= 0xEF) {
    length = 3;
    codePoint = lead & 0x0Fu;
  } else if (lead >= 0xF0 && lead <= 0xF4) {
    length = 4;
    codePoint = lead & 0x07u;
  } else {
    return 0;
  }
  if (at + length > text.size()) return 0;
  for (size_t i = 1; i < length; ++i) {
    if ((byte(at + i) & 0xC0u) != 0x80u) return 0;
    codePoint = (codePoint << 6) | (byte(at + i) & 0x3Fu);
  }
  static constexpr uint32_t kSmallest[] = {0, 0, 0x80, 0x800, 0x10000};
  if (codePoint < kSmallest[length] || codePoint > 0x10FFFF) return 0;
  if (codePoint >= 0xD800 && codePoint <= 0xDFFF) return 0;
  return length;
}

std::string_view AttributeName(uint8_t id) {
  for (const AttributeNameEntry& known : AttributeNameTable) {
    if (known.id == id) return known.name;
  }
  return kUnknownAttributeName;
}

// The labels every sample of a drive carries.
std::string DriveLabels(const MetricsDrive& drive) {
  return "device=\"" + EscapeLabelValue(drive.device) + "\",model=\"" +
         EscapeLabelValue(drive.model) + "\",serial=\"" + EscapeLabelValue(drive.serial) + "\"";
}

// One metric family: HELP and TYPE once, then its samples. A family without samples is left out.
class Family {
 public:
  Family(std::string_view name, std::string_view help) : name_(kPrefix), help_(help) {
    name_ += name;
  }

  void Add(const std::string& labels, const std::string& value) {
    samples_ += name_;
    if (!labels.empty()) samples_ += "{" + labels + "}";
    samples_ += " " + value + "\n";
  }

  void AppendTo(std::string& out) const {
    if (samples_.empty()) return;
    out += "# HELP " + name_ + " " + help_ + "\n";
    out += "# TYPE " + name_ + " gauge\n";
    out += samples_;
  }

 private:
  std::string name_;
  std::string help_;
  std::string samples_;
};

}  // namespace

MetricsDrive MakeMetricsDrive(std::string device, const Drive& drive, const ReadSmartResult& result,
                              const SmartSectors& sectors) {
  MetricsDrive entry;
  entry.device = std::move(device);
  entry.model = drive.ModelNumber;
  entry.serial = drive.SerialNumber;
  entry.smartEnabled = drive.SMARTEnabled;
  if (!drive.SMARTEnabled) return entry;
  const Health health = HealthOf(drive, result);
  if (HasVerdict(health)) entry.healthy = health == Health::Passed;
  if (!result.sectorsRead) return entry;

  if (drive.IsNvme()) {
    // The health log (or the kernel's sensor) gave the temperature; there are no attributes.
    entry.temperatureCelsius = drive.ReportedTemperature();
    entry.nvmeHealthLogRead = drive.NvmeHealthLogRead;
    // The sensor's alarm is no verdict: the critical warning itself was not read.
    if (!drive.NvmeHealthLogRead) entry.healthy.reset();
    return entry;
  }
  // 0 is how the temperature decoding says "not reported".
  const Temperatures temperatures = GetTemperatures(sectors.SMARTData);
  if (temperatures.Current != 0) entry.temperatureCelsius = temperatures.Current;
  if (temperatures.Airflow != 0) entry.airflowCelsius = temperatures.Airflow;

  // Every attribute the drive keeps, named ones or not: counters such as 187 and 188 matter to a
  // fleet's alerts even where the attribute table has no row for them.
  const SmartTableIndex attributes(sectors.SMARTData);
  const SmartTableIndex thresholds(sectors.SMARTThresholds);
  std::set<uint8_t> seen;
  for (size_t entryIndex = 0; entryIndex < kSmartEntryCount; ++entryIndex) {
    const uint8_t id = sectors.SMARTData[kSmartTableOffset + entryIndex * kSmartEntrySize];
    if (id == 0) break;
    if (!seen.insert(id).second) continue;
    const SMARTAttribute attribute = attributes.Attribute(id);
    if (!attribute.IsPresent()) continue;
    entry.attributes.push_back({id, std::string(AttributeName(id)), attribute.Value,
                                attribute.Worst, thresholds.Threshold(id), attribute.Raw});
  }
  return entry;
}

std::string EscapeLabelValue(std::string_view value) {
  std::string escaped;
  escaped.reserve(value.size());
  for (size_t i = 0; i < value.size();) {
    const unsigned char c = static_cast<unsigned char>(value[i]);
    if (c == '\\') {
      escaped += "\\\\";
    } else if (c == '"') {
      escaped += "\\\"";
    } else if (c == '\n') {
      escaped += "\\n";
    } else if (c < 0x20 || c == 0x7F) {
      escaped += '?';
    } else if (c >= 0x80) {
      const size_t length = Utf8SequenceLength(value, i);
      if (length == 0) {
        escaped += '?';
        ++i;
      } else {
        escaped.append(value.substr(i, length));
        i += length;
      }
      continue;
    } else {
      escaped += static_cast<char>(c);
    }
    ++i;
  }
  return escaped;
}

std::string FormatMetrics(std::span<const MetricsDrive> drives, std::time_t passTime) {
  Family enabled("smart_enabled", "1 when the drive has S.M.A.R.T. switched on, else 0.");
  Family healthy("smart_healthy",
                 "The drive's own S.M.A.R.T. verdict: 1 good, 0 failing. No sample when the "
                 "drive gave none.");
  Family healthLogRead("nvme_health_log_read",
                       "NVMe drives: 1 when the health log was read, 0 when only the kernel's "
                       "temperature sensor could be (the log needs root); then no "
                       "diskvigil_smart_healthy sample.");
  Family temperature("temperature_celsius", "The drive's current temperature in degrees Celsius.");
  Family airflow("temperature_airflow_celsius",
                 "The airflow temperature the drive reports (attribute 190) in degrees Celsius.");
  Family value("attribute_value", "The normalised value of a S.M.A.R.T. attribute.");
  Family worst("attribute_worst", "The worst normalised value a S.M.A.R.T. attribute has had.");
  Family threshold("attribute_threshold",
                   "The threshold below which a S.M.A.R.T. attribute counts as failed.");
  Family raw("attribute_raw", "The 48-bit raw value of a S.M.A.R.T. attribute.");
  Family caution("caution",
                 "1 when a counter that predicts failure (IDs 5, 187, 188, 197, 198, 199) rose, "
                 "else 0. No sample when the counters are unknown.");
  Family asleep("asleep", "1 when the drive was in standby and left unread by the pass, else 0.");
  Family selfTestStatus(
      "self_test_last_status",
      "monitor --self-test-days: the result code of the drive's newest logged "
      "self-test, 0 completed without error (ATA: 1 aborted, 2 interrupted, 3 to 8 "
      "failed, 15 running; NVMe: 1 to 4 and 8, 9 aborted, 5 to 7 failed).");
  Family selfTestAge("self_test_age_hours",
                     "monitor --self-test-days: power-on hours since the drive's newest logged "
                     "self-test ended.");
  Family lastPass("last_pass_timestamp_seconds",
                  "When the last monitoring pass ended, in seconds since the Unix epoch.");

  // The device label tells drives apart; a second entry for the same device would repeat series.
  std::set<std::string> devices;
  for (const MetricsDrive& drive : drives) {
    if (!devices.insert(drive.device).second) continue;
    const std::string labels = DriveLabels(drive);
    enabled.Add(labels, drive.smartEnabled ? "1" : "0");
    if (drive.healthy) healthy.Add(labels, *drive.healthy ? "1" : "0");
    if (drive.nvmeHealthLogRead) healthLogRead.Add(labels, *drive.nvmeHealthLogRead ? "1" : "0");
    if (drive.temperatureCelsius)
      temperature.Add(labels, std::to_string(*drive.temperatureCelsius));
    if (drive.airflowCelsius) airflow.Add(labels, std::to_string(*drive.airflowCelsius));
    if (drive.caution) caution.Add(labels, *drive.caution ? "1" : "0");
    if (drive.smartEnabled) asleep.Add(labels, drive.asleep ? "1" : "0");
    if (drive.selfTestLastStatus) {
      selfTestStatus.Add(labels, std::to_string(*drive.selfTestLastStatus));
    }
    if (drive.selfTestAgeHours) selfTestAge.Add(labels, std::to_string(*drive.selfTestAgeHours));
    std::set<uint8_t> ids;
    for (const MetricsAttribute& attribute : drive.attributes) {
      if (!ids.insert(attribute.id).second) continue;
      const std::string attributeLabels = labels + ",id=\"" + std::to_string(attribute.id) +
                                          "\",name=\"" + EscapeLabelValue(attribute.name) + "\"";
      value.Add(attributeLabels, std::to_string(attribute.value));
      worst.Add(attributeLabels, std::to_string(attribute.worst));
      threshold.Add(attributeLabels, std::to_string(attribute.threshold));
      raw.Add(attributeLabels, std::to_string(attribute.raw));
    }
  }
  lastPass.Add("", std::to_string(static_cast<long long>(passTime)));

  std::string out;
  for (const Family* family :
       {&enabled, &healthy, &healthLogRead, &temperature, &airflow, &value, &worst, &threshold,
        &raw, &caution, &asleep, &selfTestStatus, &selfTestAge, &lastPass}) {
    family->AppendTo(out);
  }
  return out;
}

std::optional<std::string> WriteMetricsFile(const std::string& path, std::string_view text) {
  const std::string failure = "Unable to write to " + path;
  const fs::path target(path);
  std::error_code error;
  const fs::file_status status = fs::status(target, error);
  if (status.type() != fs::file_type::not_found && status.type() != fs::file_type::regular) {
    return failure;
  }

  // The collector reads only names ending in ".prom", so the temporary beside it is ignored.
  if (!WriteCollectedFileAtomically(target, text)) return failure;
  return std::nullopt;
}

void MetricsTextfile::Take(const PositionReading& reading, const SmartSectors& sectors,
                           std::optional<bool> caution) {
  if (!table_.IsListed(reading.position)) return;
  const Drive& drive = table_.At(reading.position);
  MetricsDrive entry =
      MakeMetricsDrive(DriveDevice(system_, drive), drive,
                       reading.monitored ? reading.result : ReadSmartResult{}, sectors);
  entry.caution = caution;
  entry.asleep = reading.asleep;
  drives_.push_back(std::move(entry));
}

void MetricsTextfile::TakeSelfTest(int position, int lastStatus, std::optional<uint64_t> ageHours) {
  if (!table_.IsListed(position)) return;
  const std::string device = DriveDevice(system_, table_.At(position));
  for (MetricsDrive& drive : drives_) {
    if (drive.device != device) continue;
    drive.selfTestLastStatus = lastStatus;
    drive.selfTestAgeHours = ageHours;
  }
}

std::optional<std::string> MetricsTextfile::WritePass(std::time_t passTime) {
  const std::string text = FormatMetrics(drives_, passTime);
  drives_.clear();
  return WriteMetricsFile(path_, text);
}

}  // namespace dv::cli
