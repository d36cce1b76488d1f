// Any text as a simulation file; what loads is enumerated and read like a real set of drives.
#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

#include "core/Enumerate.h"
#include "core/Monitor.h"
#include "core/SimulatedDrives.h"
#include "fuzz/FuzzCheck.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  const std::string_view text(reinterpret_cast<const char*>(data), size);
  std::string error;
  // A folder that does not exist: "image" paths in the input lead nowhere.
  auto system = dv::SimulatedDriveSystem::FromJsonText(text, "/nonexistent-dv-fuzz", "fuzz", error);
  if (!system) {
    DV_FUZZ_CHECK(!error.empty());
    return 0;
  }
  for (const dv::SimulatedDrive& drive : system->Drives()) {
    system->FindDrive(drive.driveNumber)->latencyMs = 0;  // a delay is not a finding
  }
  dv::DriveTable table;
  if (dv::ProbeDrives(*system, table)) {
    dv::SmartSectors sectors;
    dv::Monitor monitor(*system, table, sectors);
    (void)monitor.CheckHDDs(1);
  }
  DV_FUZZ_CHECK(system->OpenHandleCount() == 0);
  return 0;
}
