// Simulated-drive files: JSON descriptions of drives, turned into SimulatedDrive records with their
// IDENTIFY and S.M.A.R.T. sectors built from the fields (or taken raw from the file).
//
// A drive object holds "model" and, all optional: "driveNumber", "serial", "firmware", "sectors",
// "lba48", "smartEnabled", "securityEnabled", "hpaEnabled", "nativeMaxAddress", "aam", "apm",
// "smart", "identifyHex", "smartDataHex", "smartThresholdsHex", "image", "sectorsHex", "volumes",
// "failures", "latencyMs", "powerMode" ("standby", "idle" or "active"), "nvme". "smart.attributes"
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

// Parses JSON text holding one drive object or {"drives": [...]}. baseDir resolves relative
// "image" paths; sourceName names the text in errors.
bool ParseSimulationText(std::string_view text, const std::string& baseDir,
                         const std::string& sourceName, std::vector<SimulatedDrive>& drives,
                         std::string& error);

// Loads a JSON file, or a folder whose *.json files (sorted by name) each hold one drive object.
bool LoadSimulationPath(const std::string& path, std::vector<SimulatedDrive>& drives,
                        std::string& error);

}  // namespace dv
