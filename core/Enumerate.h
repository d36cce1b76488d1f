// The drive side of the enumeration: probe drive numbers 0..15 in order, list up to six drives
// that accept S.M.A.R.T. and answer IDENTIFY DEVICE, and fill their Drive records.
#pragma once

#include <cstdint>
#include <span>
#include <string>

#include "core/Drive.h"
#include "core/DriveSystem.h"
#include "core/Ioctl.h"

namespace dv {

// What a probe changes on the drives besides S.M.A.R.T. ENABLE OPERATIONS, which decides whether a
// drive is listed: the window program and the monitor switch on automatic off-line collection and
// attribute autosave where offered; a one-shot query leaves the drive's settings as they are.
enum class ProbeChanges { SwitchOnConveniences, None };

// Probes the drives and rewrites table positions 1..DriveCount. DriveCount starts again at 0;
// each position keeps its tray fields and its last Temperature and SMARTStatusOK, and positions
// beyond the new count keep their stale contents. Returns true when at least one drive is listed.
bool ProbeDrives(DriveSystem& system, DriveTable& table,
                 ProbeChanges changes = ProbeChanges::SwitchOnConveniences);

// Identifies one open drive and fills its record (everything but the tray fields, Temperature and
// SMARTStatusOK). False, with the record untouched, when S.M.A.R.T. ENABLE OPERATIONS or IDENTIFY
// DEVICE fails.
bool IdentifyDrive(DriveHandle& handle, int driveNumber, Drive& drive,
                   ProbeChanges changes = ProbeChanges::SwitchOnConveniences);

// The 48-bit native maximum address from READ NATIVE MAX ADDRESS EXT's returned registers: LBA
// Low/Mid/High of the current task file are bits 0-23, those of the previous one bits 24-47.
uint64_t NativeMaxAddress(const TaskFile& current, const TaskFile& previous);

// "model capacity GB" and a carriage return per listed drive, in position order.
std::string DriveListBalloonText(const DriveTable& table);

}  // namespace dv
