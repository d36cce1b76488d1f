// The ATA facts the program relies on, each written once: command opcodes, the S.M.A.R.T. and
// SET FEATURES subcommands, the register values of a reply, the IDENTIFY DEVICE words and the
// layout of the S.M.A.R.T. READ DATA / READ THRESHOLDS sectors. The decoders, the simulated drives
// and the test builders all take them from here, so a simulated drive cannot agree with a decoder
// that reads the wrong place.
#pragma once

#include <cstddef>
#include <cstdint>

namespace dv {

inline constexpr size_t kSectorSize = 512;

// --- Command register: opcodes ----------------------------------------------------------------
inline constexpr uint8_t kCmdReadSectors = 0x20;       // READ SECTOR(S), 28-bit
inline constexpr uint8_t kCmdReadSectorsExt = 0x24;    // READ SECTOR(S) EXT, 48-bit
inline constexpr uint8_t kCmdReadNativeMaxExt = 0x27;  // READ NATIVE MAX ADDRESS EXT
inline constexpr uint8_t kCmdSmart = 0xB0;             // S.M.A.R.T., subcommand in Features
inline constexpr uint8_t kCmdCheckPowerMode = 0xE5;    // CHECK POWER MODE
inline constexpr uint8_t kCmdIdentify = 0xEC;          // IDENTIFY DEVICE
inline constexpr uint8_t kCmdSetFeatures = 0xEF;       // SET FEATURES, subcommand in Features

// --- S.M.A.R.T. (B0h): Features subcommands, Sector Count values, the LBA Mid/High key ---------
inline constexpr uint8_t kSmartReadData = 0xD0;
inline constexpr uint8_t kSmartReadThresholds = 0xD1;
inline constexpr uint8_t kSmartAttributeAutosave = 0xD2;  // Sector Count F1h: enable
inline constexpr uint8_t kSmartExecuteOffline = 0xD4;     // the routine in LBA Low
inline constexpr uint8_t kSmartReadLog = 0xD5;  // log address in LBA Low, count in Sector Count
inline constexpr uint8_t kSmartEnableOperations = 0xD8;
inline constexpr uint8_t kSmartReturnStatus = 0xDA;
inline constexpr uint8_t kSmartAutoOffline = 0xDB;  // Sector Count F8h: enable
inline constexpr uint8_t kSmartAutosaveEnable = 0xF1;
inline constexpr uint8_t kSmartAutoOfflineEnable = 0xF8;
// Every S.M.A.R.T. command carries 4Fh in LBA Mid and C2h in LBA High.
inline constexpr uint8_t kSmartLbaMid = 0x4F;
inline constexpr uint8_t kSmartLbaHigh = 0xC2;
// RETURN STATUS answers in LBA Mid/High: the key unchanged when no threshold is exceeded,
// F4h/2Ch when one is.
inline constexpr uint8_t kSmartStatusGoodMid = kSmartLbaMid;
inline constexpr uint8_t kSmartStatusGoodHigh = kSmartLbaHigh;
inline constexpr uint8_t kSmartStatusBadMid = 0xF4;
inline constexpr uint8_t kSmartStatusBadHigh = 0x2C;

// EXECUTE OFF-LINE IMMEDIATE: the routines the program starts, all in off-line mode (the drive
// stays free for other commands). 81h-84h are the same tests in captive mode, which the program
// never sends: they hold the drive busy until the test ends.
inline constexpr uint8_t kSelfTestShort = 0x01;
inline constexpr uint8_t kSelfTestExtended = 0x02;
inline constexpr uint8_t kSelfTestConveyance = 0x03;
inline constexpr uint8_t kSelfTestAbort = 0x7F;
// READ LOG: the log addresses the program reads, one sector each.
inline constexpr uint8_t kLogDirectory = 0x00;
inline constexpr uint8_t kLogSummaryError = 0x01;
inline constexpr uint8_t kLogSelfTest = 0x06;

// --- SET FEATURES (EFh): Features subcommands, the level in Sector Count ----------------------
inline constexpr uint8_t kSetFeaturesEnableApm = 0x05;
inline constexpr uint8_t kSetFeaturesEnableAam = 0x42;
inline constexpr uint8_t kSetFeaturesDisableApm = 0x85;
inline constexpr uint8_t kSetFeaturesDisableAam = 0xC2;

// --- Device, Status and Error registers -------------------------------------------------------
inline constexpr uint8_t kDeviceChs = 0xA0;           // obsolete bits 7 and 5 set, as drives expect
inline constexpr uint8_t kDeviceLba = 0x40;           // bit 6: LBA addressing
inline constexpr uint8_t kDeviceSelect = 0x10;        // bit 4: the second device on the cable
inline constexpr uint8_t kStatusErr = 0x01;           // Status bit 0: ERR
inline constexpr uint8_t kStatusDataRequest = 0x08;   // Status bit 3: DRQ
inline constexpr uint8_t kStatusDeviceFault = 0x20;   // Status bit 5: DF
inline constexpr uint8_t kStatusBusy = 0x80;          // Status bit 7: BSY
inline constexpr uint8_t kStatusReady = 0x50;         // Status: DRDY (bit 6) and DSC (bit 4)
inline constexpr uint8_t kErrorAbort = 0x04;          // Error bit 2: ABRT
inline constexpr uint8_t kErrorIdNotFound = 0x10;     // Error bit 4: IDNF
inline constexpr uint8_t kErrorUncorrectable = 0x40;  // Error bit 6: UNC

// CHECK POWER MODE: the state returned in Sector Count.
inline constexpr uint8_t kPowerModeStandby = 0x00;
inline constexpr uint8_t kPowerModeStandbyFromPowerUp =
    0x01;                                                   // entered through power-up in standby
inline constexpr uint8_t kPowerModeNvCacheSpunDown = 0x40;  // NV cache power mode, spun down
inline constexpr uint8_t kPowerModeNvCacheSpunUp = 0x41;    // NV cache power mode, spun up
inline constexpr uint8_t kPowerModeIdle = 0x80;
inline constexpr uint8_t kPowerModeIdleA = 0x81;
inline constexpr uint8_t kPowerModeIdleB = 0x82;
inline constexpr uint8_t kPowerModeIdleC = 0x83;
inline constexpr uint8_t kPowerModeActiveOrIdle = 0xFF;

// --- IDENTIFY DEVICE: words (little-endian, at bytes 2n and 2n+1) -------------------------------
inline constexpr size_t kIdWordGeneral = 0;       // bit 6: fixed device
inline constexpr size_t kIdWordSerialFirst = 10;  // 10-19: serial number, 20 characters
inline constexpr size_t kIdWordSerialLast = 19;
inline constexpr size_t kIdWordFirmwareFirst = 23;  // 23-26: firmware revision, 8 characters
inline constexpr size_t kIdWordFirmwareLast = 26;
inline constexpr size_t kIdWordModelFirst = 27;  // 27-46: model number, 40 characters
inline constexpr size_t kIdWordModelLast = 46;
inline constexpr size_t kIdWordSectors28 = 60;  // 60-61: user sectors for 28-bit commands
inline constexpr size_t kIdWordMajorVersion = 80;
inline constexpr size_t kIdWordFeaturesSupported = 82;  // command sets supported
inline constexpr size_t kIdWordFeaturesSupported2 = 83;
inline constexpr size_t kIdWordFeaturesSupported3 = 84;
inline constexpr size_t kIdWordFeaturesEnabled = 85;  // command sets enabled
inline constexpr size_t kIdWordFeaturesEnabled2 = 86;
inline constexpr size_t kIdWordFeaturesEnabled3 = 87;  // command set default
inline constexpr size_t kIdWordApmLevel = 91;  // current APM level in bits 7:0, recommended in 15:8
inline constexpr size_t kIdWordAamLevel = 94;  // current AAM level in bits 7:0, recommended in 15:8
inline constexpr size_t kIdWordSectors48 = 100;  // 100-103: max user LBA for 48-bit commands + 1
inline constexpr size_t kIdWordSecurityStatus = 128;
// Word 82 (supported) and 85 (enabled).
inline constexpr uint16_t kIdBitSmart = 1u << 0;
inline constexpr uint16_t kIdBitSecurity = 1u << 1;
inline constexpr uint16_t kIdBitHpa = 1u << 10;  // host protected area
// Word 83 (supported) and 86 (enabled).
inline constexpr uint16_t kIdBitApm = 1u << 3;
inline constexpr uint16_t kIdBitAam = 1u << 9;
inline constexpr uint16_t kIdBitLba48 = 1u << 10;

// Word 255: signature A5h in byte 510, the checksum that makes the sector sum to 0 in byte 511.
inline constexpr size_t kIntegritySignatureByte = 510;
inline constexpr uint8_t kIntegritySignature = 0xA5;
inline constexpr size_t kChecksumByte = 511;

// --- S.M.A.R.T. READ DATA and READ THRESHOLDS sectors ------------------------------------------
inline constexpr size_t kSmartRevisionOffset = 0;  // bytes 0-1: data structure revision
// Both sectors hold 30 entries of 12 bytes from byte 2; an entry whose ID byte is 0 ends the table.
inline constexpr size_t kSmartTableOffset = 2;
inline constexpr size_t kSmartEntrySize = 12;
inline constexpr size_t kSmartEntryCount = 30;
// Inside an attribute entry.
inline constexpr size_t kSmartEntryId = 0;
inline constexpr size_t kSmartEntryFlags = 1;  // bytes 1-2
inline constexpr size_t kSmartEntryValue = 3;
inline constexpr size_t kSmartEntryWorst = 4;
inline constexpr size_t kSmartEntryRaw = 5;  // bytes 5-10
inline constexpr size_t kSmartRawLength = 6;
// Inside a threshold entry.
inline constexpr size_t kSmartEntryThreshold = 1;
// READ DATA bytes after the table.
inline constexpr size_t kSmartOfflineStatusByte = 362;      // off-line collection status
inline constexpr size_t kSmartOfflineSecondsOffset = 364;   // 364-365: seconds to complete it
inline constexpr size_t kSmartOfflineCapabilityByte = 367;  // bit 1: automatic off-line collection
inline constexpr size_t kSmartCapabilityOffset = 368;       // 368-369: bit 1 attribute autosave
inline constexpr size_t kSmartErrorLoggingByte = 370;       // bit 0: error logging supported
inline constexpr size_t kSmartShortTestMinutesByte = 372;
inline constexpr size_t kSmartExtendedTestMinutesByte = 373;
inline constexpr size_t kSmartConveyanceTestMinutesByte = 374;
inline constexpr size_t kSmartSelfTestStatusByte = 363;      // status in 7:4, tenths left in 3:0
inline constexpr size_t kSmartExtendedMinutesOffset = 375;   // 375-376: when byte 373 is FFh
inline constexpr uint8_t kSmartAutoOfflineBit = 1u << 1;     // in byte 367
inline constexpr uint8_t kSmartExecuteOfflineBit = 1u << 0;  // in byte 367
inline constexpr uint8_t kSmartSelfTestBit = 1u << 4;        // in byte 367: short and extended
inline constexpr uint8_t kSmartConveyanceBit = 1u << 5;      // in byte 367
inline constexpr uint8_t kSmartErrorLoggingBit = 1u << 0;    // in byte 370
inline constexpr uint8_t kSmartPollingMinutesEscape = 0xFF;  // byte 373: read 375-376 instead
inline constexpr uint8_t kSmartAutosaveBit = 1u << 1;        // in byte 368

// The attribute whose raw value counts the drive's power-on hours; the self-test log stamps its
// entries with the same count.
inline constexpr uint8_t kAttributePowerOnHours = 9;

// --- Self-test log (log 06h) ---------------------------------------------------------------------
// 21 descriptors of 24 bytes from byte 2, a ring; byte 508 is the 1-based index of the newest
// (0: no test logged).
inline constexpr size_t kSelfTestLogRevision = 0;  // bytes 0-1
inline constexpr size_t kSelfTestLogFirst = 2;
inline constexpr size_t kSelfTestLogEntrySize = 24;
inline constexpr size_t kSelfTestLogEntries = 21;
inline constexpr size_t kSelfTestLogIndexByte = 508;
// Inside a descriptor.
inline constexpr size_t kSelfTestEntryRoutine = 0;  // the LBA Low the test was started with
inline constexpr size_t kSelfTestEntryStatus = 1;   // as READ DATA byte 363
inline constexpr size_t kSelfTestEntryHours = 2;    // bytes 2-3: power-on hours at the end
inline constexpr size_t kSelfTestEntryCheckpoint = 4;
inline constexpr size_t kSelfTestEntryLba = 5;  // bytes 5-8: first failing LBA (28 bits)
// Status values (high nibble) at or above which a finished test found a fault, and the one of a
// test still running.
inline constexpr uint8_t kSelfTestStatusFirstFailure = 3;
inline constexpr uint8_t kSelfTestStatusLastFailure = 8;
inline constexpr uint8_t kSelfTestStatusAbortedByHost = 1;
inline constexpr uint8_t kSelfTestStatusRunning = 0x0F;

// --- Summary error log (log 01h) -----------------------------------------------------------------
// Five error records of 90 bytes from byte 2, a ring; byte 1 is the 1-based index of the newest (0:
// none); bytes 452-453 count every error since the drive was made.
inline constexpr size_t kErrorLogVersion = 0;
inline constexpr size_t kErrorLogIndexByte = 1;
inline constexpr size_t kErrorLogFirst = 2;
inline constexpr size_t kErrorLogRecordSize = 90;
inline constexpr size_t kErrorLogRecords = 5;
inline constexpr size_t kErrorLogCountOffset = 452;
// A record: five commands of 12 bytes, the last one the failing command, then 30 bytes of error
// data.
inline constexpr size_t kErrorLogCommands = 5;
inline constexpr size_t kErrorLogCommandSize = 12;
inline constexpr size_t kErrorCommandDeviceControl = 0;
inline constexpr size_t kErrorCommandRegisters = 1;  // features, count, LBA low/mid/high, device,
                                                     // command: 7 bytes
inline constexpr size_t kErrorCommandTimestamp = 8;  // bytes 8-11: milliseconds since power-up
inline constexpr size_t kErrorLogDataOffset = 60;    // the error data inside a record
inline constexpr size_t kErrorDataRegisters = 1;     // error, count, LBA low/mid/high, device,
                                                     // status: 7 bytes
inline constexpr size_t kErrorDataState = 27;
inline constexpr size_t kErrorDataHours = 28;  // bytes 28-29: power-on hours

}  // namespace dv
