// The NVMe facts the program relies on, each written once: the admin opcodes and their command
// dwords, the Identify Controller and Identify Namespace offsets, the SMART / Health Information
// log (log page 02h) offsets and the temperature conversion. Decoders, the simulated controllers
// and the test builders all take them from here.
#pragma once

#include <cstddef>
#include <cstdint>

namespace dv {

// --- Admin commands -----------------------------------------------------------------------------
inline constexpr uint8_t kNvmeOpcodeGetLogPage = 0x02;
inline constexpr uint8_t kNvmeOpcodeIdentify = 0x06;
inline constexpr uint8_t kNvmeOpcodeDeviceSelfTest = 0x14;  // the test code in CDW10 bits 3:0
inline constexpr uint32_t kNvmeSelfTestShort = 0x1;
inline constexpr uint32_t kNvmeSelfTestExtended = 0x2;
inline constexpr uint32_t kNvmeSelfTestAbort = 0xF;
inline constexpr uint32_t kNvmeCnsNamespace = 0x00;  // Identify: CNS in CDW10 bits 7:0
inline constexpr uint32_t kNvmeCnsController = 0x01;
inline constexpr uint8_t kNvmeHealthLogId = 0x02;  // Get Log Page: log id in CDW10 bits 7:0
inline constexpr uint32_t kNvmeAllNamespaces = 0xFFFFFFFF;
inline constexpr size_t kNvmeIdentifySize = 4096;
inline constexpr size_t kNvmeHealthLogSize = 512;
inline constexpr uint8_t kNvmeSelfTestLogId = 0x06;
inline constexpr size_t kNvmeSelfTestLogSize = 564;

// --- Identify Controller ------------------------------------------------------------------------
inline constexpr size_t kNvmeIdVendorId = 0;  // bytes 0-1: PCI vendor id
inline constexpr size_t kNvmeIdSerial = 4;    // bytes 4-23, ASCII, space padded
inline constexpr size_t kNvmeIdSerialLength = 20;
inline constexpr size_t kNvmeIdModel = 24;  // bytes 24-63
inline constexpr size_t kNvmeIdModelLength = 40;
inline constexpr size_t kNvmeIdFirmware = 64;  // bytes 64-71
inline constexpr size_t kNvmeIdFirmwareLength = 8;
inline constexpr size_t kNvmeIdOacs = 256;  // bytes 256-257: optional admin commands
inline constexpr uint16_t kNvmeOacsSelfTest = 1u << 4;
inline constexpr size_t kNvmeIdExtendedTestMinutes = 316;  // bytes 316-317: EDSTT

// --- Identify Namespace -------------------------------------------------------------------------
inline constexpr size_t kNvmeNsSize = 0;           // bytes 0-7: NSZE, in logical blocks
inline constexpr size_t kNvmeNsCapacity = 8;       // bytes 8-15: NCAP
inline constexpr size_t kNvmeNsFormatCount = 25;   // NLBAF, 0-based
inline constexpr size_t kNvmeNsFormattedLba = 26;  // FLBAS, the format in bits 3:0
inline constexpr size_t kNvmeNsLbaFormats = 128;   // the LBA format list, 4 bytes an entry
inline constexpr size_t kNvmeLbaFormatSize = 4;
inline constexpr size_t kNvmeLbaFormatDataShift = 2;  // LBADS: the block size as a power of two

// --- SMART / Health Information log -------------------------------------------------------------
inline constexpr size_t kNvmeLogCriticalWarning = 0;
inline constexpr size_t kNvmeLogCompositeTemperature = 1;  // bytes 1-2, kelvin
inline constexpr size_t kNvmeLogAvailableSpare = 3;        // percent
inline constexpr size_t kNvmeLogSpareThreshold = 4;        // percent
inline constexpr size_t kNvmeLogPercentageUsed = 5;
// 128-bit counters, 16 bytes each.
inline constexpr size_t kNvmeLogDataUnitsRead = 32;
inline constexpr size_t kNvmeLogDataUnitsWritten = 48;
inline constexpr size_t kNvmeLogHostReads = 64;
inline constexpr size_t kNvmeLogHostWrites = 80;
inline constexpr size_t kNvmeLogBusyTime = 96;
inline constexpr size_t kNvmeLogPowerCycles = 112;
inline constexpr size_t kNvmeLogPowerOnHours = 128;
inline constexpr size_t kNvmeLogUnsafeShutdowns = 144;
inline constexpr size_t kNvmeLogMediaErrors = 160;
inline constexpr size_t kNvmeLogErrorEntries = 176;
inline constexpr size_t kNvmeCounterSize = 16;
inline constexpr size_t kNvmeLogWarningTime = 192;   // bytes 192-195, minutes
inline constexpr size_t kNvmeLogCriticalTime = 196;  // bytes 196-199, minutes
inline constexpr size_t kNvmeLogSensors = 200;       // bytes 200-215: eight sensors, kelvin
inline constexpr size_t kNvmeSensorCount = 8;

// Critical-warning bits (byte 0).
inline constexpr uint8_t kNvmeWarningSpare = 0x01;
inline constexpr uint8_t kNvmeWarningTemperature = 0x02;
inline constexpr uint8_t kNvmeWarningReliability = 0x04;
inline constexpr uint8_t kNvmeWarningReadOnly = 0x08;
inline constexpr uint8_t kNvmeWarningVolatileBackup = 0x10;
inline constexpr uint8_t kNvmeWarningPersistentMemory = 0x20;

// --- Device self-test log --------------------------------------------------------------------
inline constexpr size_t kNvmeSelfTestOperation = 0;   // bits 3:0: the test running, 0 for none
inline constexpr size_t kNvmeSelfTestCompletion = 1;  // bits 6:0: percent done
inline constexpr size_t kNvmeSelfTestResults = 4;     // 20 results of 28 bytes, newest first
inline constexpr size_t kNvmeSelfTestResultSize = 28;
inline constexpr size_t kNvmeSelfTestResultCount = 20;
// Inside a result.
inline constexpr size_t kNvmeResultStatus = 0;  // bits 7:4 the test code, 3:0 the result
inline constexpr size_t kNvmeResultSegment = 1;
inline constexpr size_t kNvmeResultValid = 2;            // which of the fields below hold a value
inline constexpr size_t kNvmeResultPowerOnHours = 4;     // bytes 4-11
inline constexpr size_t kNvmeResultNamespace = 12;       // bytes 12-15
inline constexpr size_t kNvmeResultFailingLba = 16;      // bytes 16-23
inline constexpr size_t kNvmeResultStatusCodeType = 24;  // bits 2:0
inline constexpr size_t kNvmeResultStatusCode = 25;
inline constexpr uint8_t kNvmeResultNamespaceValid = 0x01;
inline constexpr uint8_t kNvmeResultLbaValid = 0x02;
inline constexpr uint8_t kNvmeResultTypeValid = 0x04;
inline constexpr uint8_t kNvmeResultCodeValid = 0x08;
inline constexpr uint8_t kNvmeSelfTestUnused = 0xF;  // the result of an empty entry
// Results 5 to 7 say a test found a fault (fatal error, unknown segment, failed segments).
inline constexpr uint8_t kNvmeSelfTestFirstFailure = 5;
inline constexpr uint8_t kNvmeSelfTestLastFailure = 7;

// --- Temperatures -------------------------------------------------------------------------------
// The log counts whole kelvin from 273 K = 0 degrees Celsius.
inline constexpr int kKelvinAtZeroCelsius = 273;
constexpr int KelvinToCelsius(int kelvin) { return kelvin - kKelvinAtZeroCelsius; }
constexpr int CelsiusToKelvin(int celsius) { return celsius + kKelvinAtZeroCelsius; }
// The kernel's sensor driver publishes the same temperature in millidegrees from K - 273.15.
inline constexpr long long kMillidegreesAtZeroKelvin = -273150;
constexpr long long KelvinToMillidegrees(int kelvin) {
  return static_cast<long long>(kelvin) * 1000 + kMillidegreesAtZeroKelvin;
}

}  // namespace dv
