#include "core/SimulatedSectors.h"

#include <algorithm>
#include <array>

#include "core/AtaLayout.h"
#include "core/LittleEndian.h"

namespace dv {
namespace {

constexpr uint64_t kLba28Limit = 0x0FFFFFFF;
constexpr uint16_t kSmartSectorRevision = 0x0010;

// ATA text: two characters per word, the first in the high byte, blank padded.
void PutAtaString(Sector& sector, size_t firstWord, size_t lastWord, const std::string& text) {
  for (size_t i = 0; i < (lastWord - firstWord + 1) * 2; ++i) {
    const uint8_t c = i < text.size() ? static_cast<uint8_t>(text[i]) : ' ';
    sector[2 * firstWord + (i ^ 1)] = c;
  }
}

void PutWord(Sector& sector, size_t word, uint16_t value) { PutLe16(sector, 2 * word, value); }

void PutLe64(std::span<uint8_t> bytes, size_t at, uint64_t value) {
  PutLe32(bytes, at, static_cast<uint32_t>(value));
  PutLe32(bytes, at + 4, static_cast<uint32_t>(value >> 32));
}

uint16_t BitIf(bool on, uint16_t bit) { return on ? bit : 0; }

uint16_t LevelWord(const SimulatedFeatureLevels& f) {
  return static_cast<uint16_t>((f.recommended << 8) | f.current);
}

// The fixed part of the S.M.A.R.T. sectors: the revision word.
Sector NewSmartSector() {
  Sector s{};
  PutLe16(s, kSmartRevisionOffset, kSmartSectorRevision);
  return s;
}

size_t EntryAt(size_t slot) { return kSmartTableOffset + kSmartEntrySize * slot; }

}  // namespace

Sector BuildIdentifySector(const SimulatedIdentifyFields& f) {
  Sector s{};
  PutWord(s, kIdWordGeneral, 0x0040);  // fixed disk
  PutWord(s, 1, 16383);  // default CHS geometry (words 1, 3, 6), as drives above 8 GB report it
  PutWord(s, 3, 16);
  PutWord(s, 6, 63);
  PutAtaString(s, kIdWordSerialFirst, kIdWordSerialLast, f.serial);
  PutAtaString(s, kIdWordFirmwareFirst, kIdWordFirmwareLast, f.firmware);
  PutAtaString(s, kIdWordModelFirst, kIdWordModelLast, f.model);
  PutWord(s, 47, 0x8010);
  PutWord(s, 49, 0x0F00);  // LBA, DMA, IORDY
  PutWord(s, 53, 0x0007);
  const uint64_t lba28 = f.lba48 ? std::min(f.sectors, kLba28Limit) : f.sectors;
  PutLe32(s, 2 * kIdWordSectors28, static_cast<uint32_t>(lba28));
  PutWord(s, kIdWordMajorVersion, 0x01F0);  // ATA-4 to ATA-8
  PutWord(s, kIdWordFeaturesSupported,
          static_cast<uint16_t>(0x0060 | kIdBitSmart | BitIf(f.securityEnabled, kIdBitSecurity) |
                                BitIf(f.hpaEnabled, kIdBitHpa)));
  PutWord(
      s, kIdWordFeaturesSupported2,
      static_cast<uint16_t>(0x7000 | BitIf(f.lba48, kIdBitLba48) |
                            BitIf(f.aam.supported, kIdBitAam) | BitIf(f.apm.supported, kIdBitApm)));
  PutWord(s, kIdWordFeaturesSupported3, 0x4003);
  PutWord(s, kIdWordFeaturesEnabled,
          static_cast<uint16_t>(0x0060 | BitIf(f.smartEnabled, kIdBitSmart) |
                                BitIf(f.securityEnabled, kIdBitSecurity) |
                                BitIf(f.hpaEnabled, kIdBitHpa)));
  PutWord(s, kIdWordFeaturesEnabled2,
          static_cast<uint16_t>(0x3000 | BitIf(f.lba48, kIdBitLba48) |
                                BitIf(f.aam.enabled, kIdBitAam) | BitIf(f.apm.enabled, kIdBitApm)));
  PutWord(s, kIdWordFeaturesEnabled3, 0x4003);
  PutWord(s, 88, 0x203F);  // UDMA 0-5 supported, 5 selected
  PutWord(s, kIdWordApmLevel, LevelWord(f.apm));
  PutWord(s, kIdWordAamLevel, LevelWord(f.aam));
  if (f.lba48) PutLe64(s, 2 * kIdWordSectors48, f.sectors);
  // Security status: supported (bit 0) and enabled (bit 1).
  PutWord(s, kIdWordSecurityStatus, static_cast<uint16_t>(f.securityEnabled ? 0x0003 : 0x0000));
  s[kIntegritySignatureByte] = kIntegritySignature;
  SetSectorChecksum(s);
  return s;
}

Sector BuildSmartDataSector(const SimulatedSmartFields& f) {
  Sector s = NewSmartSector();
  for (size_t i = 0; i < f.attributes.size() && i < kMaxSimulatedAttributes; ++i) {
    const SimulatedAttribute& a = f.attributes[i];
    const size_t at = EntryAt(i);
    s[at + kSmartEntryId] = a.id;
    PutLe16(s, at + kSmartEntryFlags, a.flags);
    s[at + kSmartEntryValue] = a.value;
    s[at + kSmartEntryWorst] = a.worst;
    std::copy(a.raw.begin(), a.raw.end(),
              s.begin() + static_cast<std::ptrdiff_t>(at + kSmartEntryRaw));
  }
  s[kSmartOfflineStatusByte] = f.offlineCollection ? 0x82 : 0x00;
  PutLe16(s, kSmartOfflineSecondsOffset, 600);
  s[kSmartOfflineCapabilityByte] =
      static_cast<uint8_t>(0x59 | (f.offlineCollection ? kSmartAutoOfflineBit : 0));
  PutLe16(s, kSmartCapabilityOffset,
          static_cast<uint16_t>(0x0001 | (f.attributeAutosave ? kSmartAutosaveBit : 0)));
  s[kSmartErrorLoggingByte] = 0x01;
  s[kSmartShortTestMinutesByte] = 2;
  s[kSmartExtendedTestMinutesByte] = 60;
  SetSectorChecksum(s);
  return s;
}

Sector BuildSmartThresholdsSector(const SimulatedSmartFields& f) {
  Sector s = NewSmartSector();
  for (size_t i = 0; i < f.attributes.size() && i < kMaxSimulatedAttributes; ++i) {
    s[EntryAt(i) + kSmartEntryId] = f.attributes[i].id;
    s[EntryAt(i) + kSmartEntryThreshold] = f.attributes[i].threshold;
  }
  SetSectorChecksum(s);
  return s;
}

std::vector<uint8_t> BuildNvmeIdentifyController(const std::string& model,
                                                 const std::string& serial,
                                                 const std::string& firmware,
                                                 uint16_t pciVendorId) {
  std::vector<uint8_t> data(kNvmeIdentifySize, 0);
  PutLe16(data, kNvmeIdVendorId, pciVendorId);
  const auto put = [&data](size_t at, size_t length, const std::string& text) {
    for (size_t i = 0; i < length; ++i) {
      data[at + i] = i < text.size() ? static_cast<uint8_t>(text[i]) : uint8_t{' '};
    }
  };
  put(kNvmeIdSerial, kNvmeIdSerialLength, serial);
  put(kNvmeIdModel, kNvmeIdModelLength, model);
  put(kNvmeIdFirmware, kNvmeIdFirmwareLength, firmware);
  return data;
}

std::vector<uint8_t> BuildNvmeIdentifyNamespace(uint64_t blocks, uint32_t blockSize) {
  std::vector<uint8_t> data(kNvmeIdentifySize, 0);
  PutLe64(data, kNvmeNsSize, blocks);
  PutLe64(data, kNvmeNsCapacity, blocks);
  data[kNvmeNsFormatCount] = 0;  // one LBA format, formatted with it
  data[kNvmeNsFormattedLba] = 0;
  uint8_t shift = 0;
  while (shift < 31 && (uint32_t{1} << shift) < blockSize) ++shift;
  data[kNvmeNsLbaFormats + kNvmeLbaFormatDataShift] = shift;
  return data;
}

std::vector<uint8_t> BuildNvmeHealthLog(const SimulatedNvmeHealth& h) {
  std::vector<uint8_t> log(kNvmeHealthLogSize, 0);
  log[kNvmeLogCriticalWarning] = h.criticalWarning;
  PutLe16(log, kNvmeLogCompositeTemperature, h.temperatureK);
  log[kNvmeLogAvailableSpare] = h.availableSpare;
  log[kNvmeLogSpareThreshold] = h.availableSpareThreshold;
  log[kNvmeLogPercentageUsed] = h.percentageUsed;
  const std::pair<size_t, uint64_t> counters[] = {
      {kNvmeLogDataUnitsRead, h.dataUnitsRead}, {kNvmeLogDataUnitsWritten, h.dataUnitsWritten},
      {kNvmeLogHostReads, h.hostReadCommands},  {kNvmeLogHostWrites, h.hostWriteCommands},
      {kNvmeLogBusyTime, h.controllerBusyTime}, {kNvmeLogPowerCycles, h.powerCycles},
      {kNvmeLogPowerOnHours, h.powerOnHours},   {kNvmeLogUnsafeShutdowns, h.unsafeShutdowns},
      {kNvmeLogMediaErrors, h.mediaErrors},     {kNvmeLogErrorEntries, h.errorLogEntries}};
  for (const auto& [offset, value] : counters) PutLe64(log, offset, value);
  PutLe32(log, kNvmeLogWarningTime, h.warningTemperatureTime);
  PutLe32(log, kNvmeLogCriticalTime, h.criticalTemperatureTime);
  for (size_t i = 0; i < h.sensorsK.size() && i < kNvmeSensorCount; ++i) {
    PutLe16(log, kNvmeLogSensors + 2 * i, h.sensorsK[i]);
  }
  return log;
}

Sector BuildSelfTestLogSector(const std::vector<SimulatedSelfTestEntry>& log) {
  Sector s{};
  PutLe16(s, kSelfTestLogRevision, 1);
  // The last 21 fill the ring from slot 0; the index names the slot of the newest.
  const size_t kept = std::min(log.size(), kSelfTestLogEntries);
  for (size_t i = 0; i < kept; ++i) {
    const SimulatedSelfTestEntry& e = log[log.size() - kept + i];
    const size_t at = kSelfTestLogFirst + i * kSelfTestLogEntrySize;
    s[at + kSelfTestEntryRoutine] = e.routine;
    s[at + kSelfTestEntryStatus] =
        static_cast<uint8_t>((e.status << 4) | (e.remainingPercent / 10));
    PutLe16(s, at + kSelfTestEntryHours, e.lifetimeHours);
    PutLe32(s, at + kSelfTestEntryLba, e.lba);
  }
  s[kSelfTestLogIndexByte] = static_cast<uint8_t>(kept);
  SetSectorChecksum(s);
  return s;
}

Sector BuildErrorLogSector(uint16_t count, const std::vector<SimulatedAtaError>& errors) {
  Sector s{};
  s[kErrorLogVersion] = 1;
  const size_t kept = std::min(errors.size(), kErrorLogRecords);
  for (size_t i = 0; i < kept; ++i) {
    const SimulatedAtaError& e = errors[errors.size() - kept + i];
    const size_t at = kErrorLogFirst + i * kErrorLogRecordSize;
    const size_t command = at + (kErrorLogCommands - 1) * kErrorLogCommandSize;
    const std::array<uint8_t, 7> issued{e.features,
                                        1,
                                        static_cast<uint8_t>(e.lba),
                                        static_cast<uint8_t>(e.lba >> 8),
                                        static_cast<uint8_t>(e.lba >> 16),
                                        static_cast<uint8_t>(kDeviceLba | ((e.lba >> 24) & 0x0F)),
                                        e.command};
    std::copy(issued.begin(), issued.end(),
              s.begin() + static_cast<std::ptrdiff_t>(command + kErrorCommandRegisters));
    PutLe32(s, command + kErrorCommandTimestamp, e.timestampMs);
    const size_t data = at + kErrorLogDataOffset;
    const std::array<uint8_t, 7> answered{e.error,   0,         issued[2], issued[3],
                                          issued[4], issued[5], e.status};
    std::copy(answered.begin(), answered.end(),
              s.begin() + static_cast<std::ptrdiff_t>(data + kErrorDataRegisters));
    PutLe16(s, data + kErrorDataHours, e.lifetimeHours);
  }
  s[kErrorLogIndexByte] = static_cast<uint8_t>(kept);
  PutLe16(s, kErrorLogCountOffset, std::max<uint16_t>(count, static_cast<uint16_t>(errors.size())));
  SetSectorChecksum(s);
  return s;
}

std::vector<uint8_t> BuildNvmeSelfTestLog(const SimulatedSelfTest& t, double minutesDone) {
  std::vector<uint8_t> d(kNvmeSelfTestLogSize, 0);
  if (t.running) {
    const int total = *t.running == kSelfTestShort ? t.shortMinutes : t.extendedMinutes;
    d[kNvmeSelfTestOperation] = *t.running;
    d[kNvmeSelfTestCompletion] =
        static_cast<uint8_t>(total <= 0 ? 0 : std::clamp(minutesDone * 100 / total, 0.0, 99.0));
  }
  for (size_t i = 0; i < kNvmeSelfTestResultCount; ++i) {
    const size_t at = kNvmeSelfTestResults + i * kNvmeSelfTestResultSize;
    if (i >= t.log.size()) {
      d[at + kNvmeResultStatus] = kNvmeSelfTestUnused;
      continue;
    }
    const SimulatedSelfTestEntry& e = t.log[t.log.size() - 1 - i];
    // An ATA failure reads as "segments failed" here, an abort as aborted by the host.
    const uint8_t result = e.status == 0 ? 0 : e.status == kSelfTestStatusAbortedByHost ? 1 : 7;
    d[at + kNvmeResultStatus] = static_cast<uint8_t>((e.routine << 4) | result);
    PutLe32(d, at + kNvmeResultPowerOnHours, e.lifetimeHours);
    if (result == 7) {
      d[at + kNvmeResultSegment] = 2;
      d[at + kNvmeResultValid] = kNvmeResultLbaValid | kNvmeResultNamespaceValid;
      PutLe32(d, at + kNvmeResultNamespace, 1);
      PutLe32(d, at + kNvmeResultFailingLba, e.lba);
    }
  }
  return d;
}

void PutSelfTestState(Sector& smartData, const SimulatedSelfTest& t, uint8_t statusByte) {
  uint8_t& capability = smartData[kSmartOfflineCapabilityByte];
  capability = static_cast<uint8_t>(capability | kSmartExecuteOfflineBit | kSmartSelfTestBit);
  capability = static_cast<uint8_t>(t.conveyance ? capability | kSmartConveyanceBit
                                                 : capability & ~kSmartConveyanceBit);
  smartData[kSmartErrorLoggingByte] |= kSmartErrorLoggingBit;
  smartData[kSmartShortTestMinutesByte] = static_cast<uint8_t>(std::min(t.shortMinutes, 254));
  if (t.extendedMinutes >= kSmartPollingMinutesEscape) {
    smartData[kSmartExtendedTestMinutesByte] = kSmartPollingMinutesEscape;
    PutLe16(smartData, kSmartExtendedMinutesOffset, static_cast<uint16_t>(t.extendedMinutes));
  } else {
    smartData[kSmartExtendedTestMinutesByte] = static_cast<uint8_t>(t.extendedMinutes);
  }
  smartData[kSmartConveyanceTestMinutesByte] =
      static_cast<uint8_t>(std::min(t.conveyanceMinutes, 254));
  smartData[kSmartSelfTestStatusByte] = statusByte;
  SetSectorChecksum(smartData);
}

}  // namespace dv
