#include "history/PassSamples.h"

#include <cstdint>

#include "core/Health.h"
#include "core/Nvme.h"
#include "history/HistoryStore.h"

namespace dv {
namespace {

constexpr uint8_t kPowerOnHoursId = 9;
// Some drives keep minutes or seconds in the raw value's upper bytes; the hours are the low four.
constexpr uint64_t kPowerOnHoursMask = 0xFFFFFFFF;

HistoryVerdict VerdictOf(Health health) {
  switch (health) {
    case Health::Passed:
    case Health::Caution:
      return HistoryVerdict::Passed;
    case Health::Failed:
      return HistoryVerdict::Failed;
    case Health::SmartOff:
      return HistoryVerdict::SmartOff;
    case Health::Unknown:
      break;
  }
  return HistoryVerdict::Unknown;
}

// The full count, or the largest a sample holds when it is beyond 64 bits.
uint64_t Saturated(const NvmeCounter& counter) {
  return counter.High != 0 ? UINT64_MAX : counter.Low;
}

void AddNvmeValues(const Drive& drive, const SmartSectors& sectors, HistorySample& sample) {
  if (!drive.NvmeHealthLogRead || !sectors.NvmeLogHeld) return;
  const auto health = DecodeNvmeHealthLog(sectors.NvmeHealthLog);
  if (!health) return;
  sample.powerOnHours = Saturated(health->PowerOnHours);
  sample.percentageUsed = health->PercentageUsed;
  sample.availableSpare = health->AvailableSpare;
  sample.mediaErrors = Saturated(health->MediaErrors);
}

void AddAtaValues(const SmartSectors& sectors, HistorySample& sample) {
  const SmartTableIndex table(sectors.SMARTData);
  if (const SMARTAttribute hours = table.Attribute(kPowerOnHoursId); hours.IsPresent()) {
    sample.powerOnHours = hours.Raw & kPowerOnHoursMask;
  }
  for (size_t i = 0; i < kWatchedCounterIds.size(); ++i) {
    const SMARTAttribute counter = table.Attribute(kWatchedCounterIds[i]);
    if (counter.IsPresent()) sample.counters[i] = counter.Raw;
  }
}

}  // namespace

HistorySample SampleOf(const Drive& drive, const PositionReading& reading,
                       const SmartSectors& sectors, std::optional<bool> caution) {
  HistorySample sample;
  sample.caution = caution.value_or(false);
  if (reading.asleep) {
    sample.asleep = true;
    sample.verdict = VerdictOf(StoredHealth(drive));
    return sample;
  }
  sample.verdict = VerdictOf(HealthOf(drive, reading.result));
  if (!reading.result.sectorsRead) return sample;
  sample.temperature = drive.ReportedTemperature();
  if (drive.IsNvme()) {
    AddNvmeValues(drive, sectors, sample);
  } else {
    // An ATA drive without a temperature attribute reports 0.
    if (sample.temperature == 0) sample.temperature.reset();
    AddAtaValues(sectors, sample);
  }
  return sample;
}

void PassSamples::Take(const DriveTable& table, const PositionReading& reading,
                       const SmartSectors& sectors, std::optional<bool> caution) {
  if (!reading.monitored || !table.IsListed(reading.position)) return;
  const Drive& drive = table.At(reading.position);
  samples_.push_back(
      {{drive.ModelNumber, drive.SerialNumber}, SampleOf(drive, reading, sectors, caution)});
}

std::optional<std::string> PassSamples::WritePass(HistoryStore& store) {
  std::optional<std::string> error;
  if (!samples_.empty()) error = store.WritePass(samples_);
  samples_.clear();
  return error;
}

}  // namespace dv
