// Simulated-drive files: JSON descriptions of drives, turned into SimulatedDrive records with their
// IDENTIFY and S.M.A.R.T. sectors built from the fields by core/SimulatedSectors.h (or taken raw
// from the file).
//
// A drive object holds "model" and, all optional: "driveNumber", "serial", "firmware", "sectors",
// "lba48", "smartEnabled", "securityEnabled", "hpaEnabled", "nativeMaxAddress", "aam", "apm",
// "smart", "identifyHex", "smartDataHex", "smartThresholdsHex", "image", "sectorsHex", "volumes",
// "failures", "latencyMs", "powerMode" ("standby", "idle" or "active"), "nvme", "selfTest" (the
// self-tests the drive offers, their polling minutes, its self-test and error logs, oldest entry
// first, and the LBA at which the next test fails). "smart.attributes"
// is a list of attribute objects, or a list of such lists: one set per S.M.A.R.T. read, the last
// one staying. Unknown keys are ignored; anything malformed is refused with one message of the form
// "<file>: <field>: <problem>".
#pragma once

#include <array>
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "core/SimulatedDrives.h"
#include "core/SimulatedSectors.h"

namespace dv {

// Parses JSON text holding one drive object or {"drives": [...]}. baseDir resolves relative
// "image" paths; sourceName names the text in errors.
bool ParseSimulationText(std::string_view text, const std::string& baseDir,
                         const std::string& sourceName, std::vector<SimulatedDrive>& drives,
                         std::string& error);

// Loads a JSON file, or a folder whose *.json files (sorted by name) each hold one drive object.
bool LoadSimulationPath(const std::string& path, std::vector<SimulatedDrive>& drives,
                        std::string& error);

}  // namespace dv
