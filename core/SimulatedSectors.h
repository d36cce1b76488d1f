// The simulated drives' encoders: the IDENTIFY and S.M.A.R.T. sectors and the NVMe identify data
// and health log, built from a few fields at the places the decoders read them (core/AtaLayout.h,
// core/NvmeLayout.h). The simulation files and the test builders both use them.
#pragma once

#include <array>
#include <cstdint>
#include <string>
#include <vector>

#include "core/NvmeLayout.h"
#include "core/SimulatedDrives.h"

namespace dv {

// An "aam" or "apm" object. When the object is present its fields default to a supported and
// enabled feature at level 128; without it the feature is not supported.
struct SimulatedFeatureLevels {
  bool supported = false;
  bool enabled = false;
  uint8_t current = 0;
  uint8_t recommended = 0;
};

struct SimulatedIdentifyFields {
  std::string model;
  std::string serial;
  std::string firmware;
  uint64_t sectors = 976773168;  // a 500 GB disk when the file does not say
  bool lba48 = true;
  bool smartEnabled = true;
  bool securityEnabled = false;
  bool hpaEnabled = false;
  SimulatedFeatureLevels aam;
  SimulatedFeatureLevels apm;
};

struct SimulatedAttribute {
  uint8_t id = 0;
  uint16_t flags = 0;
  uint8_t value = 0;
  uint8_t worst = 0;
  std::array<uint8_t, 6> raw{};  // lowest byte first
  uint8_t threshold = 0;
};

struct SimulatedSmartFields {
  bool offlineCollection = true;  // READ DATA byte 367 bit 1
  bool attributeAutosave = true;  // READ DATA byte 368 bit 1
  std::vector<SimulatedAttribute> attributes;
  // When "attributes" is a list of lists: one attribute set per monitoring pass, the first of them
  // also in `attributes`.
  std::vector<std::vector<SimulatedAttribute>> passAttributes;
};

inline constexpr int kMaxSimulatedAttributes = 30;  // entries in a S.M.A.R.T. sector

Sector BuildIdentifySector(const SimulatedIdentifyFields& fields);
Sector BuildSmartDataSector(const SimulatedSmartFields& fields);
Sector BuildSmartThresholdsSector(const SimulatedSmartFields& fields);

// NVMe identify data as a controller returns it: the text fields space padded, and a namespace
// with one LBA format of `blockSize` bytes (a power of two).
std::vector<uint8_t> BuildNvmeIdentifyController(const std::string& model,
                                                 const std::string& serial,
                                                 const std::string& firmware, uint16_t pciVendorId);
std::vector<uint8_t> BuildNvmeIdentifyNamespace(uint64_t blocks, uint32_t blockSize);

// The health-log fields a simulated controller reports; the counters hold their lower 64 bits.
struct SimulatedNvmeHealth {
  uint8_t criticalWarning = 0;
  uint16_t temperatureK = CelsiusToKelvin(35);
  uint8_t availableSpare = 100;
  uint8_t availableSpareThreshold = 10;
  uint8_t percentageUsed = 0;
  uint64_t dataUnitsRead = 0;
  uint64_t dataUnitsWritten = 0;
  uint64_t hostReadCommands = 0;
  uint64_t hostWriteCommands = 0;
  uint64_t controllerBusyTime = 0;
  uint64_t powerCycles = 0;
  uint64_t powerOnHours = 0;
  uint64_t unsafeShutdowns = 0;
  uint64_t mediaErrors = 0;
  uint64_t errorLogEntries = 0;
  uint32_t warningTemperatureTime = 0;
  uint32_t criticalTemperatureTime = 0;
  std::vector<uint16_t> sensorsK;  // up to eight, kelvin
};
std::vector<uint8_t> BuildNvmeHealthLog(const SimulatedNvmeHealth& health);

// The self-test and error logs of a simulated drive: the ATA self-test log (06h) and summary error
// log (01h) with their newest entries last in the ring, the NVMe self-test log with the newest
// result first, and the test running now. Status byte 363 and the capability bytes go into a copy
// of READ DATA.
Sector BuildSelfTestLogSector(const std::vector<SimulatedSelfTestEntry>& log);
Sector BuildErrorLogSector(uint16_t count, const std::vector<SimulatedAtaError>& errors);
std::vector<uint8_t> BuildNvmeSelfTestLog(const SimulatedSelfTest& selfTest, double minutesDone);
void PutSelfTestState(Sector& smartData, const SimulatedSelfTest& selfTest, uint8_t statusByte);

}  // namespace dv
