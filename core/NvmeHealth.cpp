// The NVMe decoders: identify data and the health log, and the health log's rows. Pure functions
// over the bytes a controller returned.
#include <algorithm>
#include <climits>

#include "core/LittleEndian.h"
#include "core/Nvme.h"

namespace dv {
namespace {

// The data sizes an LBA format may give.
constexpr uint8_t kMinDataShift = 9;   // 512 bytes, the smallest block the format allows
constexpr uint8_t kMaxDataShift = 31;  // still fits the 32-bit block size

// A text field of the identify data: printable ASCII kept, anything else shown as '?', the
// space (and NUL) padding trimmed from both ends.
std::string IdentifyText(std::span<const uint8_t> data, size_t at, size_t length) {
  std::string text;
  text.reserve(length);
  for (size_t i = 0; i < length; ++i) {
    const uint8_t c = Byte(data, at + i);
    if (c == 0) {
      text += ' ';
    } else if (c < 0x20 || c > 0x7E) {
      text += '?';
    } else {
      text += static_cast<char>(c);
    }
  }
  const size_t first = text.find_first_not_of(' ');
  if (first == std::string::npos) return {};
  const size_t last = text.find_last_not_of(' ');
  return text.substr(first, last - first + 1);
}

NvmeCounter ReadCounter(std::span<const uint8_t> data, size_t at) {
  return NvmeCounter{Le64(data, at), Le64(data, at + 8)};
}

// The 128-bit value as four 32-bit limbs, most significant first.
std::array<uint32_t, 4> Limbs(const NvmeCounter& counter) {
  return {static_cast<uint32_t>(counter.High >> 32), static_cast<uint32_t>(counter.High),
          static_cast<uint32_t>(counter.Low >> 32), static_cast<uint32_t>(counter.Low)};
}

bool IsZero(const NvmeCounter& counter) { return counter.Low == 0 && counter.High == 0; }

// The Raw cell of a counter: the same form as an ATA raw value while it fits 48 bits; beyond that
// every digit is kept rather than cut off.
std::string CounterText(const NvmeCounter& counter, RawPresentation presentation) {
  constexpr uint64_t k48Bits = (uint64_t{1} << 48) - 1;
  if (counter.High == 0 && counter.Low <= k48Bits) return RawValueText(counter.Low, presentation);
  if (presentation == RawPresentation::Dec) return counter.Decimal();
  constexpr std::string_view kDigits = "0123456789ABCDEF";
  std::string text;
  for (uint64_t half : {counter.High, counter.Low}) {
    for (int shift = 60; shift >= 0; shift -= 4) text += kDigits[(half >> shift) & 0x0F];
  }
  text.erase(0, std::min(text.find_first_not_of('0'), text.size() - 1));
  return text + 'h';
}

// A signed figure in the Raw cell (temperatures in degrees Celsius may be below zero).
std::string SignedText(int value, RawPresentation presentation) {
  if (value >= 0) return RawValueText(static_cast<uint64_t>(value), presentation);
  return "-" + RawValueText(static_cast<uint64_t>(-static_cast<long long>(value)), presentation);
}

std::string StatusCell(bool failed) { return std::string(failed ? kStatusFailed : kStatusOk); }

AttributeRow NamedRow(std::string name, std::string raw) {
  AttributeRow row;
  row[kColumnName] = std::move(name);
  row[kColumnRaw] = std::move(raw);
  return row;
}

}  // namespace

std::optional<NvmeIdentity> DecodeNvmeIdentifyController(std::span<const uint8_t> data) {
  if (data.size() < kNvmeIdentifySize) return std::nullopt;
  NvmeIdentity identity;
  identity.PciVendorId = Le16(data, kNvmeIdVendorId);
  identity.SerialNumber = IdentifyText(data, kNvmeIdSerial, kNvmeIdSerialLength);
  identity.ModelNumber = IdentifyText(data, kNvmeIdModel, kNvmeIdModelLength);
  identity.FirmwareRevision = IdentifyText(data, kNvmeIdFirmware, kNvmeIdFirmwareLength);
  return identity;
}

std::optional<NvmeNamespaceSize> DecodeNvmeIdentifyNamespace(std::span<const uint8_t> data) {
  if (data.size() < kNvmeIdentifySize) return std::nullopt;
  const uint8_t formatCount = static_cast<uint8_t>(Byte(data, kNvmeNsFormatCount) + 1);
  const uint8_t format = Byte(data, kNvmeNsFormattedLba) & 0x0F;
  // A formatted LBA format outside the list, or a data size the format does not allow (an
  // inactive namespace reads all zeros), gives no size rather than a wrong one.
  if (format >= formatCount) return std::nullopt;
  const uint8_t shift =
      Byte(data, kNvmeNsLbaFormats + kNvmeLbaFormatSize * format + kNvmeLbaFormatDataShift);
  if (shift < kMinDataShift || shift > kMaxDataShift) return std::nullopt;
  NvmeNamespaceSize size;
  size.Blocks = Le64(data, kNvmeNsSize);
  size.BlockSize = uint32_t{1} << shift;
  return size;
}

uint64_t NvmeNamespaceSize::Bytes() const {
  if (BlockSize != 0 && Blocks > UINT64_MAX / BlockSize) return UINT64_MAX;
  return Blocks * BlockSize;
}

std::string NvmeCounter::Decimal() const {
  std::array<uint32_t, 4> limbs = Limbs(*this);
  if (IsZero(*this)) return "0";
  std::string digits;
  // Long division by ten, limb by limb, until the whole value is zero.
  while (std::any_of(limbs.begin(), limbs.end(), [](uint32_t limb) { return limb != 0; })) {
    uint64_t remainder = 0;
    for (uint32_t& limb : limbs) {
      const uint64_t current = (remainder << 32) | limb;
      limb = static_cast<uint32_t>(current / 10);
      remainder = current % 10;
    }
    digits += static_cast<char>('0' + remainder);
  }
  std::reverse(digits.begin(), digits.end());
  return digits;
}

std::optional<NvmeHealth> DecodeNvmeHealthLog(std::span<const uint8_t> data) {
  if (data.size() < kNvmeHealthLogSize) return std::nullopt;
  NvmeHealth health;
  health.CriticalWarning = Byte(data, kNvmeLogCriticalWarning);
  health.CompositeTemperatureK = Le16(data, kNvmeLogCompositeTemperature);
  health.AvailableSpare = Byte(data, kNvmeLogAvailableSpare);
  health.AvailableSpareThreshold = Byte(data, kNvmeLogSpareThreshold);
  health.PercentageUsed = Byte(data, kNvmeLogPercentageUsed);
  health.DataUnitsRead = ReadCounter(data, kNvmeLogDataUnitsRead);
  health.DataUnitsWritten = ReadCounter(data, kNvmeLogDataUnitsWritten);
  health.HostReadCommands = ReadCounter(data, kNvmeLogHostReads);
  health.HostWriteCommands = ReadCounter(data, kNvmeLogHostWrites);
  health.ControllerBusyTime = ReadCounter(data, kNvmeLogBusyTime);
  health.PowerCycles = ReadCounter(data, kNvmeLogPowerCycles);
  health.PowerOnHours = ReadCounter(data, kNvmeLogPowerOnHours);
  health.UnsafeShutdowns = ReadCounter(data, kNvmeLogUnsafeShutdowns);
  health.MediaErrors = ReadCounter(data, kNvmeLogMediaErrors);
  health.ErrorLogEntries = ReadCounter(data, kNvmeLogErrorEntries);
  health.WarningTemperatureMinutes = Le32(data, kNvmeLogWarningTime);
  health.CriticalTemperatureMinutes = Le32(data, kNvmeLogCriticalTime);
  for (size_t i = 0; i < health.SensorTemperatureK.size(); ++i) {
    health.SensorTemperatureK[i] = Le16(data, kNvmeLogSensors + 2 * i);
  }
  return health;
}

int NvmeCelsius(uint16_t kelvin) { return KelvinToCelsius(kelvin); }

std::optional<int> NvmeReportedCelsius(uint16_t kelvin) {
  if (kelvin == 0) return std::nullopt;
  return NvmeCelsius(kelvin);
}

int HwmonMillidegreesToCelsius(long long millidegrees) {
  // Nearest whole degree, halves away from zero, without overflowing near the limits.
  long long degrees = millidegrees / 1000;
  const long long rest = millidegrees % 1000;
  if (rest >= 500) ++degrees;
  if (rest <= -500) --degrees;
  return static_cast<int>(std::clamp<long long>(degrees, INT_MIN, INT_MAX));
}

std::vector<std::string> NvmeCriticalWarningNames(uint8_t criticalWarning) {
  static constexpr std::array<const char*, 6> kNames = {"available spare below threshold",
                                                        "temperature",
                                                        "reliability degraded",
                                                        "read-only",
                                                        "volatile memory backup failed",
                                                        "persistent memory region read-only"};
  std::vector<std::string> names;
  for (size_t bit = 0; bit < kNames.size(); ++bit) {
    if (criticalWarning & (1u << bit)) names.emplace_back(kNames[bit]);
  }
  return names;
}

std::vector<NvmeHealthField> NvmeHealthFields(const NvmeHealth& health) {
  std::vector<NvmeHealthField> fields;
  const auto count = [&fields](std::string name, const NvmeCounter& value) -> NvmeHealthField& {
    fields.push_back({std::move(name), value, std::nullopt, std::nullopt, std::nullopt});
    return fields.back();
  };
  const auto number = [&count](std::string name, uint64_t value) -> NvmeHealthField& {
    return count(std::move(name), NvmeCounter{value, 0});
  };
  const auto temperature = [&fields](std::string name, uint16_t kelvin) {
    fields.push_back(
        {std::move(name), std::nullopt, NvmeReportedCelsius(kelvin), std::nullopt, std::nullopt});
  };

  number("Critical Warning", health.CriticalWarning).failing = health.CriticalWarning != 0;
  temperature("Composite Temperature (C)", health.CompositeTemperatureK);
  NvmeHealthField& spare = number("Available Spare (%)", health.AvailableSpare);
  spare.threshold = health.AvailableSpareThreshold;
  spare.failing = health.AvailableSpare < health.AvailableSpareThreshold;
  number("Available Spare Threshold (%)", health.AvailableSpareThreshold);
  number("Percentage Used", health.PercentageUsed).failing = health.PercentageUsed > 100;
  count("Data Units Read", health.DataUnitsRead);
  count("Data Units Written", health.DataUnitsWritten);
  count("Host Read Commands", health.HostReadCommands);
  count("Host Write Commands", health.HostWriteCommands);
  count("Controller Busy Time (minutes)", health.ControllerBusyTime);
  count("Power Cycles", health.PowerCycles);
  count("Power On Hours", health.PowerOnHours);
  count("Unsafe Shutdowns", health.UnsafeShutdowns);
  count("Media and Data Integrity Errors", health.MediaErrors).failing =
      !IsZero(health.MediaErrors);
  count("Error Information Log Entries", health.ErrorLogEntries);
  number("Warning Temperature Time (min)", health.WarningTemperatureMinutes);
  number("Critical Temperature Time (min)", health.CriticalTemperatureMinutes);
  for (size_t i = 0; i < health.SensorTemperatureK.size(); ++i) {
    // A sensor that is not reported has no row at all.
    if (health.SensorTemperatureK[i] == 0) continue;
    temperature("Temperature Sensor " + std::to_string(i + 1) + " (C)",
                health.SensorTemperatureK[i]);
  }
  return fields;
}

std::vector<AttributeRow> BuildNvmeHealthRows(const NvmeHealth& health,
                                              RawPresentation presentation) {
  std::vector<AttributeRow> rows;
  for (const NvmeHealthField& field : NvmeHealthFields(health)) {
    std::string raw = "...";
    if (field.count) raw = CounterText(*field.count, presentation);
    if (field.celsius) raw = SignedText(*field.celsius, presentation);
    AttributeRow row = NamedRow(field.name, std::move(raw));
    if (field.threshold) row[kColumnThreshold] = std::to_string(*field.threshold);
    if (field.failing) row[kColumnStatus] = StatusCell(*field.failing);
    rows.push_back(std::move(row));
  }
  return rows;
}

}  // namespace dv
