#include "core/SimulationFile.h"

#include <algorithm>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <nlohmann/json.hpp>
#include <sstream>

#include "core/AtaLayout.h"
#include "core/Drive.h"
#include "core/HexText.h"
#include "core/Identify.h"
#include "core/NvmeLayout.h"

namespace dv {
namespace {

using Json = nlohmann::json;
namespace fs = std::filesystem;

constexpr uint64_t kMax48Bit = (uint64_t{1} << 48) - 1;
constexpr uint64_t kLba28Limit = 0x0FFFFFFF;
constexpr uint64_t kMaxFileBytes = 32u << 20;
constexpr size_t kMaxDrivesInFile = kMaxDriveNumber + 1;
constexpr size_t kMaxSectorOverrides = 4096;
constexpr size_t kMaxFailureNames = 64;
constexpr uint64_t kMaxLatencyMs = 10000;
constexpr uint8_t kDefaultFeatureLevel = 0x80;
constexpr size_t kMaxSimulatedPasses = 1000;

// A problem in the file: which field, and what is wrong with it.
struct FieldError {
  std::string field;
  std::string problem;
};

[[noreturn]] void Fail(const std::string& field, const std::string& problem) {
  throw FieldError{field, problem};
}

}  // namespace

namespace {

// --- JSON field readers ----------------------------------------------------------------------

const Json* Member(const Json& object, const char* key) {
  auto it = object.find(key);
  if (it == object.end() || it->is_null()) return nullptr;
  return &*it;
}

uint64_t ReadUnsigned(const Json& v, const std::string& field, uint64_t min, uint64_t max) {
  const std::string range =
      "must be a whole number from " + std::to_string(min) + " to " + std::to_string(max);
  if (!v.is_number_integer()) Fail(field, range);
  if (v.is_number_unsigned()) {
    const uint64_t n = v.get<uint64_t>();
    if (n < min || n > max) Fail(field, range);
    return n;
  }
  const int64_t n = v.get<int64_t>();
  if (n < 0 || static_cast<uint64_t>(n) < min || static_cast<uint64_t>(n) > max) Fail(field, range);
  return static_cast<uint64_t>(n);
}

uint8_t ReadByte(const Json& v, const std::string& field) {
  return static_cast<uint8_t>(ReadUnsigned(v, field, 0, 255));
}

bool ReadBool(const Json& v, const std::string& field) {
  if (!v.is_boolean()) Fail(field, "must be true or false");
  return v.get<bool>();
}

std::string ReadText(const Json& v, const std::string& field, size_t maxLength) {
  if (!v.is_string()) Fail(field, "must be a text");
  std::string text = v.get<std::string>();
  if (text.size() > maxLength) {
    Fail(field, "is longer than " + std::to_string(maxLength) + " characters");
  }
  return text;
}

const Json& ReadObject(const Json& v, const std::string& field) {
  if (!v.is_object()) Fail(field, "must be an object");
  return v;
}

const Json& ReadArray(const Json& v, const std::string& field, size_t maxItems) {
  if (!v.is_array()) Fail(field, "must be a list");
  if (v.size() > maxItems) Fail(field, "holds more than " + std::to_string(maxItems) + " entries");
  return v;
}

// A hex dump of exactly `size` bytes.
std::vector<uint8_t> ReadHexBytes(const Json& v, const std::string& field, size_t size) {
  const std::string wanted = std::to_string(2 * size) + " hex digits";
  if (!v.is_string()) Fail(field, "must be a text of " + wanted);
  const std::string& hex = v.get_ref<const std::string&>();
  if (hex.size() != 2 * size) {
    Fail(field, "must hold " + wanted + ", not " + std::to_string(hex.size()) + " characters");
  }
  size_t bad = 0;
  auto bytes = BytesFromHex(hex, &bad);
  if (!bytes) {
    Fail(field, "holds a character that is not a hex digit at position " + std::to_string(bad));
  }
  return std::move(*bytes);
}

Sector ReadHexSector(const Json& v, const std::string& field) {
  const std::vector<uint8_t> bytes = ReadHexBytes(v, field, kSectorSize);
  Sector sector{};
  std::copy(bytes.begin(), bytes.end(), sector.begin());
  return sector;
}

// A raw attribute value: a number below 2^48 or a "0x..." text of up to 12 hex digits.
std::array<uint8_t, 6> ReadRaw(const Json& v, const std::string& field) {
  uint64_t raw = 0;
  if (v.is_string()) {
    const std::string& s = v.get_ref<const std::string&>();
    const bool prefixed = s.size() > 2 && s[0] == '0' && (s[1] == 'x' || s[1] == 'X');
    if (!prefixed || s.size() > 14)
      Fail(field, "must be a number or a \"0x\" text of 1 to 12 hex digits");
    for (size_t i = 2; i < s.size(); ++i) {
      const int d = HexDigitValue(s[i]);
      if (d < 0) Fail(field, "holds a character that is not a hex digit");
      raw = raw * 16 + static_cast<uint64_t>(d);
    }
  } else {
    raw = ReadUnsigned(v, field, 0, kMax48Bit);
  }
  std::array<uint8_t, 6> bytes{};
  for (size_t i = 0; i < bytes.size(); ++i) bytes[i] = static_cast<uint8_t>(raw >> (8 * i));
  return bytes;
}

// --- Drive object ----------------------------------------------------------------------------

SimulatedFeatureLevels ReadFeature(const Json& v, const std::string& field) {
  ReadObject(v, field);
  SimulatedFeatureLevels f{true, true, kDefaultFeatureLevel, kDefaultFeatureLevel};
  if (auto* m = Member(v, "supported")) f.supported = ReadBool(*m, field + ".supported");
  if (auto* m = Member(v, "enabled")) f.enabled = ReadBool(*m, field + ".enabled");
  if (auto* m = Member(v, "current")) f.current = ReadByte(*m, field + ".current");
  if (auto* m = Member(v, "recommended")) f.recommended = ReadByte(*m, field + ".recommended");
  return f;
}

SimulatedIdentifyFields ReadIdentifyFields(const Json& d, const std::string& at) {
  SimulatedIdentifyFields f;
  const Json* model = Member(d, "model");
  if (model == nullptr) Fail(at + "model", "is missing");
  f.model = ReadText(*model, at + "model", 40);
  if (auto* m = Member(d, "serial")) f.serial = ReadText(*m, at + "serial", 20);
  if (auto* m = Member(d, "firmware")) f.firmware = ReadText(*m, at + "firmware", 8);
  if (auto* m = Member(d, "sectors")) f.sectors = ReadUnsigned(*m, at + "sectors", 1, kMax48Bit);
  f.lba48 = f.sectors > kLba28Limit;
  if (auto* m = Member(d, "lba48")) f.lba48 = ReadBool(*m, at + "lba48");
  if (!f.lba48 && f.sectors > 0xFFFFFFFFu) {
    Fail(at + "sectors", "needs 48-bit addressing (\"lba48\": true) above 4294967295");
  }
  if (auto* m = Member(d, "smartEnabled")) f.smartEnabled = ReadBool(*m, at + "smartEnabled");
  if (auto* m = Member(d, "securityEnabled")) {
    f.securityEnabled = ReadBool(*m, at + "securityEnabled");
  }
  if (auto* m = Member(d, "hpaEnabled")) f.hpaEnabled = ReadBool(*m, at + "hpaEnabled");
  if (auto* m = Member(d, "aam")) f.aam = ReadFeature(*m, at + "aam");
  if (auto* m = Member(d, "apm")) f.apm = ReadFeature(*m, at + "apm");
  return f;
}

SimulatedAttribute ReadAttribute(const Json& v, const std::string& field) {
  ReadObject(v, field);
  SimulatedAttribute a;
  const Json* id = Member(v, "id");
  if (id == nullptr) Fail(field + ".id", "is missing");
  a.id = static_cast<uint8_t>(ReadUnsigned(*id, field + ".id", 1, 255));
  if (auto* m = Member(v, "flags")) {
    a.flags = static_cast<uint16_t>(ReadUnsigned(*m, field + ".flags", 0, 0xFFFF));
  }
  if (auto* m = Member(v, "value")) a.value = ReadByte(*m, field + ".value");
  a.worst = a.value;
  if (auto* m = Member(v, "worst")) a.worst = ReadByte(*m, field + ".worst");
  if (auto* m = Member(v, "threshold")) a.threshold = ReadByte(*m, field + ".threshold");
  const Json* raw = Member(v, "raw");
  const Json* rawBytes = Member(v, "rawBytes");
  if (raw != nullptr && rawBytes != nullptr) Fail(field, "gives both \"raw\" and \"rawBytes\"");
  if (raw != nullptr) a.raw = ReadRaw(*raw, field + ".raw");
  if (rawBytes != nullptr) {
    const std::string bytesField = field + ".rawBytes";
    ReadArray(*rawBytes, bytesField, 6);
    if (rawBytes->size() != 6) Fail(bytesField, "must hold exactly six numbers");
    for (size_t i = 0; i < 6; ++i) {
      a.raw[i] = ReadByte((*rawBytes)[i], bytesField + "[" + std::to_string(i) + "]");
    }
  }
  return a;
}

SimulatedSmartStatus ReadSmartStatus(const Json& v, const std::string& field) {
  const std::string text = ReadText(v, field, 40);
  if (text == "ok") return SimulatedSmartStatus::Ok;
  if (text == "threshold-exceeded") return SimulatedSmartStatus::ThresholdExceeded;
  if (text == "error") return SimulatedSmartStatus::Error;
  Fail(field, "must be \"ok\", \"threshold-exceeded\" or \"error\"");
}

SimulatedSmartFields ReadSmartFields(const Json* smart, const std::string& at,
                                     SimulatedSmartStatus& status) {
  SimulatedSmartFields f;
  status = SimulatedSmartStatus::Ok;
  if (smart == nullptr) return f;
  const std::string field = at + "smart";
  ReadObject(*smart, field);
  if (auto* m = Member(*smart, "status")) status = ReadSmartStatus(*m, field + ".status");
  if (auto* m = Member(*smart, "offlineCollection")) {
    f.offlineCollection = ReadBool(*m, field + ".offlineCollection");
  }
  if (auto* m = Member(*smart, "attributeAutosave")) {
    f.attributeAutosave = ReadBool(*m, field + ".attributeAutosave");
  }
  if (auto* m = Member(*smart, "attributes")) {
    const std::string listField = field + ".attributes";
    const bool perPass = m->is_array() && !m->empty() && (*m)[0].is_array();
    ReadArray(*m, listField, perPass ? kMaxSimulatedPasses : kMaxSimulatedAttributes);
    if (perPass) {
      for (size_t pass = 0; pass < m->size(); ++pass) {
        const std::string setField = listField + "[" + std::to_string(pass) + "]";
        ReadArray((*m)[pass], setField, kMaxSimulatedAttributes);
        auto& set = f.passAttributes.emplace_back();
        for (size_t i = 0; i < (*m)[pass].size(); ++i) {
          set.push_back(ReadAttribute((*m)[pass][i], setField + "[" + std::to_string(i) + "]"));
        }
      }
      f.attributes = f.passAttributes.front();
    } else {
      for (size_t i = 0; i < m->size(); ++i) {
        f.attributes.push_back(ReadAttribute((*m)[i], listField + "[" + std::to_string(i) + "]"));
      }
    }
  }
  return f;
}

SimulatedPowerMode ReadPowerMode(const Json& v, const std::string& field) {
  const std::string text = ReadText(v, field, 40);
  if (text == "standby") return SimulatedPowerMode::Standby;
  if (text == "idle") return SimulatedPowerMode::Idle;
  if (text == "active") return SimulatedPowerMode::Active;
  Fail(field, "must be \"standby\", \"idle\" or \"active\"");
}

void ReadSectorOverrides(const Json& v, const std::string& field, SimulatedDrive& drive) {
  ReadObject(v, field);
  if (v.size() > kMaxSectorOverrides) {
    Fail(field, "holds more than " + std::to_string(kMaxSectorOverrides) + " sectors");
  }
  for (const auto& [key, hex] : v.items()) {
    const std::string entry = field + "." + key;
    const bool digits =
        !key.empty() && key.size() <= 15 &&
        std::all_of(key.begin(), key.end(), [](char c) { return c >= '0' && c <= '9'; });
    if (!digits) Fail(entry, "the key must be a sector number (LBA) in decimal");
    const uint64_t lba = std::stoull(key);
    if (lba > kMax48Bit) Fail(entry, "the sector number is beyond 48-bit addressing");
    drive.sectors[lba] = ReadHexSector(hex, entry);
  }
}

void ReadVolumes(const Json& v, const std::string& field, SimulatedDrive& drive) {
  ReadObject(v, field);
  for (const auto& [key, name] : v.items()) {
    const std::string entry = field + "." + key;
    if (key.size() != 1 || key[0] < '1' || key[0] > '4') {
      Fail(entry, "the key must be a primary partition number from 1 to 4");
    }
    drive.volumes[key[0] - '0'] = ReadText(name, entry, 260);
  }
}

std::set<AtaCommand> ReadCommandNames(const Json& v, const std::string& field) {
  ReadArray(v, field, kMaxFailureNames);
  std::set<AtaCommand> commands;
  for (size_t i = 0; i < v.size(); ++i) {
    const std::string entry = field + "[" + std::to_string(i) + "]";
    const std::string name = ReadText(v[i], entry, 40);
    const auto command = AtaCommandFromName(name);
    if (!command) Fail(entry, "\"" + name + "\" is not a command name such as SMART_READ_DATA");
    commands.insert(*command);
  }
  return commands;
}

void ReadFailures(const Json& v, const std::string& field, SimulatedDrive& drive) {
  ReadObject(v, field);
  if (auto* m = Member(v, "open")) drive.failOpen = ReadBool(*m, field + ".open");
  if (auto* m = Member(v, "ioctl")) drive.ioctlFailures = ReadCommandNames(*m, field + ".ioctl");
  if (auto* m = Member(v, "errorBit")) {
    drive.errorBitFailures = ReadCommandNames(*m, field + ".errorBit");
  }
}

std::string ReadImagePath(const Json& v, const std::string& field, const std::string& baseDir) {
  const fs::path given(ReadText(v, field, 4096));
  const fs::path resolved =
      given.is_absolute() || baseDir.empty() ? given : fs::path(baseDir) / given;
  std::error_code ec;
  if (!fs::is_regular_file(resolved, ec)) Fail(field, "cannot open " + resolved.string());
  std::ifstream probe(resolved, std::ios::binary);
  if (!probe) Fail(field, "cannot open " + resolved.string());
  return resolved.string();
}

// --- NVMe controllers ------------------------------------------------------------------------

// Degrees Celsius as the log's kelvin.
uint16_t ReadCelsiusAsKelvin(const Json& v, const std::string& field) {
  constexpr int64_t kMin = KelvinToCelsius(0);
  constexpr int64_t kMax = KelvinToCelsius(0xFFFF);
  const std::string range = "must be a whole number of degrees Celsius from " +
                            std::to_string(kMin) + " to " + std::to_string(kMax);
  if (!v.is_number_integer()) Fail(field, range);
  if (v.is_number_unsigned() && v.get<uint64_t>() > static_cast<uint64_t>(kMax)) Fail(field, range);
  const int64_t celsius = v.get<int64_t>();
  if (celsius < kMin || celsius > kMax) Fail(field, range);
  return static_cast<uint16_t>(CelsiusToKelvin(static_cast<int>(celsius)));
}

SimulatedNvmeHealth ReadNvmeHealth(const Json& v, const std::string& field) {
  ReadObject(v, field);
  SimulatedNvmeHealth h;
  const auto at = [&field](const char* key) { return field + "." + key; };
  if (auto* m = Member(v, "criticalWarning"))
    h.criticalWarning = ReadByte(*m, at("criticalWarning"));
  if (auto* m = Member(v, "temperature"))
    h.temperatureK = ReadCelsiusAsKelvin(*m, at("temperature"));
  if (auto* m = Member(v, "availableSpare")) h.availableSpare = ReadByte(*m, at("availableSpare"));
  if (auto* m = Member(v, "availableSpareThreshold")) {
    h.availableSpareThreshold = ReadByte(*m, at("availableSpareThreshold"));
  }
  if (auto* m = Member(v, "percentageUsed")) h.percentageUsed = ReadByte(*m, at("percentageUsed"));
  static constexpr std::pair<const char*, uint64_t SimulatedNvmeHealth::*> kCounters[] = {
      {"dataUnitsRead", &SimulatedNvmeHealth::dataUnitsRead},
      {"dataUnitsWritten", &SimulatedNvmeHealth::dataUnitsWritten},
      {"hostReadCommands", &SimulatedNvmeHealth::hostReadCommands},
      {"hostWriteCommands", &SimulatedNvmeHealth::hostWriteCommands},
      {"controllerBusyTime", &SimulatedNvmeHealth::controllerBusyTime},
      {"powerCycles", &SimulatedNvmeHealth::powerCycles},
      {"powerOnHours", &SimulatedNvmeHealth::powerOnHours},
      {"unsafeShutdowns", &SimulatedNvmeHealth::unsafeShutdowns},
      {"mediaErrors", &SimulatedNvmeHealth::mediaErrors},
      {"errorLogEntries", &SimulatedNvmeHealth::errorLogEntries}};
  for (const auto& [key, member] : kCounters) {
    if (auto* m = Member(v, key)) h.*member = ReadUnsigned(*m, at(key), 0, UINT64_MAX);
  }
  if (auto* m = Member(v, "warningTemperatureTime")) {
    h.warningTemperatureTime =
        static_cast<uint32_t>(ReadUnsigned(*m, at("warningTemperatureTime"), 0, UINT32_MAX));
  }
  if (auto* m = Member(v, "criticalTemperatureTime")) {
    h.criticalTemperatureTime =
        static_cast<uint32_t>(ReadUnsigned(*m, at("criticalTemperatureTime"), 0, UINT32_MAX));
  }
  if (auto* m = Member(v, "sensors")) {
    ReadArray(*m, at("sensors"), kNvmeSensorCount);
    for (size_t i = 0; i < m->size(); ++i) {
      h.sensorsK.push_back(
          ReadCelsiusAsKelvin((*m)[i], at("sensors") + "[" + std::to_string(i) + "]"));
    }
  }
  return h;
}

std::set<NvmeAdminCommand> ReadNvmeCommandNames(const Json& v, const std::string& field) {
  static constexpr std::pair<const char*, NvmeAdminCommand> kNames[] = {
      {"IDENTIFY_CONTROLLER", NvmeAdminCommand::IdentifyController},
      {"IDENTIFY_NAMESPACE", NvmeAdminCommand::IdentifyNamespace},
      {"HEALTH_LOG", NvmeAdminCommand::HealthLog}};
  ReadArray(v, field, kMaxFailureNames);
  std::set<NvmeAdminCommand> commands;
  for (size_t i = 0; i < v.size(); ++i) {
    const std::string entry = field + "[" + std::to_string(i) + "]";
    const std::string name = ReadText(v[i], entry, 40);
    const auto* found = std::find_if(std::begin(kNames), std::end(kNames),
                                     [&name](const auto& known) { return name == known.first; });
    if (found == std::end(kNames)) {
      Fail(entry, "\"" + name + "\" is not IDENTIFY_CONTROLLER, IDENTIFY_NAMESPACE or HEALTH_LOG");
    }
    commands.insert(found->second);
  }
  return commands;
}

SimulatedNvme ReadNvme(const Json& v, const std::string& field,
                       const SimulatedIdentifyFields& identify) {
  ReadObject(v, field);
  const auto at = [&field](const char* key) { return field + "." + key; };
  SimulatedNvme nvme;
  uint16_t vendor = 0;
  if (auto* m = Member(v, "pciVendorId")) {
    vendor = static_cast<uint16_t>(ReadUnsigned(*m, at("pciVendorId"), 0, 0xFFFF));
  }
  nvme.identifyController =
      BuildNvmeIdentifyController(identify.model, identify.serial, identify.firmware, vendor);
  uint32_t blockSize = 512;
  if (auto* m = Member(v, "blockSize")) {
    blockSize = static_cast<uint32_t>(ReadUnsigned(*m, at("blockSize"), 512, 65536));
    if ((blockSize & (blockSize - 1)) != 0) Fail(at("blockSize"), "must be a power of two");
  }
  // Without "blocks" the drive has the size "sectors" gives, in blocks of its own size.
  uint64_t blocks = identify.sectors * 512 / blockSize;
  if (auto* m = Member(v, "blocks")) blocks = ReadUnsigned(*m, at("blocks"), 0, UINT64_MAX);
  nvme.identifyNamespace = BuildNvmeIdentifyNamespace(blocks, blockSize);
  const Json* health = Member(v, "health");
  nvme.healthLog =
      BuildNvmeHealthLog(ReadNvmeHealth(health ? *health : Json::object(), at("health")));
  if (auto* m = Member(v, "identifyHex")) {
    nvme.identifyController = ReadHexBytes(*m, at("identifyHex"), kNvmeIdentifySize);
  }
  if (auto* m = Member(v, "namespaceHex")) {
    nvme.identifyNamespace = ReadHexBytes(*m, at("namespaceHex"), kNvmeIdentifySize);
  }
  if (auto* m = Member(v, "healthLogHex")) {
    nvme.healthLog = ReadHexBytes(*m, at("healthLogHex"), kNvmeHealthLogSize);
  }
  if (auto* m = Member(v, "privileged")) nvme.privileged = ReadBool(*m, at("privileged"));
  if (auto* m = Member(v, "failOpen")) nvme.failOpen = ReadBool(*m, at("failOpen"));
  if (auto* m = Member(v, "failures")) nvme.failures = ReadNvmeCommandNames(*m, at("failures"));
  return nvme;
}

uint8_t ReadRoutine(const Json& v, const std::string& field) {
  const std::string name = ReadText(v, field, 16);
  if (name == "short") return kSelfTestShort;
  if (name == "extended") return kSelfTestExtended;
  if (name == "conveyance") return kSelfTestConveyance;
  Fail(field, "must be \"short\", \"extended\" or \"conveyance\"");
}

SimulatedSelfTestEntry ReadSelfTestEntry(const Json& v, const std::string& field) {
  ReadObject(v, field);
  SimulatedSelfTestEntry e;
  if (auto* m = Member(v, "type")) e.routine = ReadRoutine(*m, field + ".type");
  if (auto* m = Member(v, "status")) {
    e.status = static_cast<uint8_t>(ReadUnsigned(*m, field + ".status", 0, 8));
  }
  if (auto* m = Member(v, "remaining")) {
    e.remainingPercent = static_cast<int>(ReadUnsigned(*m, field + ".remaining", 0, 90)) / 10 * 10;
  }
  if (auto* m = Member(v, "lifetimeHours")) {
    e.lifetimeHours = static_cast<uint16_t>(ReadUnsigned(*m, field + ".lifetimeHours", 0, 0xFFFF));
  }
  if (auto* m = Member(v, "lba")) {
    e.lba = static_cast<uint32_t>(ReadUnsigned(*m, field + ".lba", 0, 0x0FFFFFFF));
  }
  return e;
}

SimulatedAtaError ReadAtaError(const Json& v, const std::string& field) {
  ReadObject(v, field);
  SimulatedAtaError e;
  if (auto* m = Member(v, "command")) e.command = ReadByte(*m, field + ".command");
  if (auto* m = Member(v, "features")) e.features = ReadByte(*m, field + ".features");
  if (auto* m = Member(v, "error")) e.error = ReadByte(*m, field + ".error");
  if (auto* m = Member(v, "status")) e.status = ReadByte(*m, field + ".status");
  if (auto* m = Member(v, "lba")) {
    e.lba = static_cast<uint32_t>(ReadUnsigned(*m, field + ".lba", 0, 0x0FFFFFFF));
  }
  if (auto* m = Member(v, "lifetimeHours")) {
    e.lifetimeHours = static_cast<uint16_t>(ReadUnsigned(*m, field + ".lifetimeHours", 0, 0xFFFF));
  }
  if (auto* m = Member(v, "timestampMs")) {
    e.timestampMs = static_cast<uint32_t>(ReadUnsigned(*m, field + ".timestampMs", 0, UINT32_MAX));
  }
  return e;
}

// "selfTest": {"conveyance", "pollingMinutes": {"short", "extended", "conveyance"},
// "powerOnHours", "failAtLba", "log": [...oldest first], "errorCount", "errors": [...]}.
SimulatedSelfTest ReadSelfTest(const Json& v, const std::string& field) {
  ReadObject(v, field);
  const auto at = [&field](const std::string& key) { return field + "." + key; };
  SimulatedSelfTest t;
  if (auto* m = Member(v, "conveyance")) t.conveyance = ReadBool(*m, at("conveyance"));
  if (auto* m = Member(v, "pollingMinutes")) {
    ReadObject(*m, at("pollingMinutes"));
    for (auto [key, minutes] : {std::pair{"short", &t.shortMinutes},
                                {"extended", &t.extendedMinutes},
                                {"conveyance", &t.conveyanceMinutes}}) {
      if (auto* n = Member(*m, key)) {
        *minutes = static_cast<int>(ReadUnsigned(*n, at("pollingMinutes.") + key, 0, 0xFFFF));
      }
    }
    if (t.shortMinutes > 254 || t.conveyanceMinutes > 254) {
      Fail(at("pollingMinutes"), "short and conveyance tests take at most 254 minutes");
    }
  }
  if (auto* m = Member(v, "powerOnHours")) {
    t.powerOnHours = static_cast<uint16_t>(ReadUnsigned(*m, at("powerOnHours"), 0, 0xFFFF));
  }
  if (auto* m = Member(v, "failAtLba")) {
    t.failAtLba = static_cast<uint32_t>(ReadUnsigned(*m, at("failAtLba"), 0, 0x0FFFFFFF));
  }
  if (auto* m = Member(v, "log")) {
    ReadArray(*m, at("log"), 256);
    for (size_t i = 0; i < m->size(); ++i) {
      t.log.push_back(ReadSelfTestEntry((*m)[i], at("log[" + std::to_string(i) + "]")));
    }
  }
  if (auto* m = Member(v, "errors")) {
    ReadArray(*m, at("errors"), 256);
    for (size_t i = 0; i < m->size(); ++i) {
      t.errors.push_back(ReadAtaError((*m)[i], at("errors[" + std::to_string(i) + "]")));
    }
  }
  t.errorCount = static_cast<uint16_t>(t.errors.size());
  if (auto* m = Member(v, "errorCount")) {
    t.errorCount =
        static_cast<uint16_t>(ReadUnsigned(*m, at("errorCount"), t.errors.size(), 0xFFFF));
  }
  return t;
}

// `at` is the field prefix of this drive ("" or "drives[2].").
SimulatedDrive ReadDrive(const Json& d, const std::string& at, int defaultNumber,
                         const std::string& baseDir) {
  if (!d.is_object())
    Fail(at.empty() ? "(top level)" : at.substr(0, at.size() - 1), "must be a drive object");
  SimulatedDrive drive;
  drive.driveNumber = defaultNumber;
  if (auto* m = Member(d, "driveNumber")) {
    drive.driveNumber = static_cast<int>(ReadUnsigned(*m, at + "driveNumber", 0, kMaxDriveNumber));
  }
  const SimulatedIdentifyFields identify = ReadIdentifyFields(d, at);
  const SimulatedSmartFields smart = ReadSmartFields(Member(d, "smart"), at, drive.smartStatus);
  drive.identify = BuildIdentifySector(identify);
  drive.smartData = BuildSmartDataSector(smart);
  drive.smartThresholds = BuildSmartThresholdsSector(smart);
  for (const auto& set : smart.passAttributes) {
    SimulatedSmartFields passFields = smart;
    passFields.attributes = set;
    drive.smartPasses.push_back(
        {BuildSmartDataSector(passFields), BuildSmartThresholdsSector(passFields)});
  }
  if (auto* m = Member(d, "identifyHex")) drive.identify = ReadHexSector(*m, at + "identifyHex");
  if (auto* m = Member(d, "smartDataHex")) drive.smartData = ReadHexSector(*m, at + "smartDataHex");
  if (auto* m = Member(d, "smartThresholdsHex")) {
    drive.smartThresholds = ReadHexSector(*m, at + "smartThresholdsHex");
  }
  const uint64_t userSectors = UserSectors(drive.identify);
  drive.nativeMaxAddress = userSectors == 0 ? 0 : userSectors - 1;
  if (auto* m = Member(d, "nativeMaxAddress")) {
    drive.nativeMaxAddress = ReadUnsigned(*m, at + "nativeMaxAddress", 0, kMax48Bit);
  }
  if (auto* m = Member(d, "image")) drive.imagePath = ReadImagePath(*m, at + "image", baseDir);
  if (auto* m = Member(d, "sectorsHex")) ReadSectorOverrides(*m, at + "sectorsHex", drive);
  if (auto* m = Member(d, "volumes")) ReadVolumes(*m, at + "volumes", drive);
  if (auto* m = Member(d, "failures")) ReadFailures(*m, at + "failures", drive);
  if (auto* m = Member(d, "latencyMs")) {
    drive.latencyMs = static_cast<int>(ReadUnsigned(*m, at + "latencyMs", 0, kMaxLatencyMs));
  }
  if (auto* m = Member(d, "powerMode")) drive.powerMode = ReadPowerMode(*m, at + "powerMode");
  if (auto* m = Member(d, "nvme")) drive.nvme = ReadNvme(*m, at + "nvme", identify);
  if (auto* m = Member(d, "selfTest")) drive.selfTest = ReadSelfTest(*m, at + "selfTest");
  return drive;
}

// Where each drive came from, so a repeated drive number can name both places.
struct DriveOrigin {
  std::string source;
  std::string field;
};

void CheckDriveNumbers(const std::vector<SimulatedDrive>& drives,
                       const std::vector<DriveOrigin>& origins, std::string& error) {
  for (size_t i = 0; i < drives.size() && error.empty(); ++i) {
    for (size_t j = 0; j < i; ++j) {
      if (drives[i].driveNumber != drives[j].driveNumber) continue;
      error = origins[i].source + ": " + origins[i].field + "driveNumber: drive number " +
              std::to_string(drives[i].driveNumber) + " is already used by " +
              (origins[j].source == origins[i].source ? "" : origins[j].source + " ") +
              (origins[j].field.empty() ? "another drive"
                                        : origins[j].field.substr(0, origins[j].field.size() - 1));
      break;
    }
  }
}

std::string JsonProblem(const Json::parse_error& e) {
  std::string what = e.what();
  // Drop the library's "[json.exception.parse_error.101] " tag; keep the position and reason.
  if (auto end = what.find("] ");
      what.rfind("[json.exception", 0) == 0 && end != std::string::npos) {
    what.erase(0, end + 2);
  }
  return "not valid JSON: " + what;
}

// Parses one document; `folderFile` means it must be a single drive object.
bool ParseDocument(std::string_view text, const std::string& baseDir, const std::string& source,
                   bool folderFile, int firstNumber, std::vector<SimulatedDrive>& drives,
                   std::vector<DriveOrigin>& origins, std::string& error) {
  try {
    const Json doc = Json::parse(text.begin(), text.end());
    if (!doc.is_object()) Fail("(top level)", "must be a drive object or {\"drives\": [...]}");
    const Json* list = Member(doc, "drives");
    if (list == nullptr) {
      drives.push_back(ReadDrive(doc, "", firstNumber, baseDir));
      origins.push_back({source, ""});
      return true;
    }
    if (folderFile) Fail("drives", "a file in a simulation folder holds one drive object");
    ReadArray(*list, "drives", kMaxDrivesInFile);
    for (size_t i = 0; i < list->size(); ++i) {
      const std::string at = "drives[" + std::to_string(i) + "].";
      drives.push_back(ReadDrive((*list)[i], at, firstNumber + static_cast<int>(i), baseDir));
      origins.push_back({source, at});
    }
    return true;
  } catch (const Json::parse_error& e) {
    error = source + ": " + JsonProblem(e);
  } catch (const FieldError& e) {
    error = source + ": " + e.field + ": " + e.problem;
  } catch (const std::exception& e) {
    error = source + ": cannot be read: " + e.what();
  }
  return false;
}

bool ReadWholeFile(const fs::path& path, std::string& text, std::string& error) {
  std::error_code ec;
  const auto size = fs::file_size(path, ec);
  if (ec) {
    error = path.string() + ": cannot be read: " + ec.message();
    return false;
  }
  if (size > kMaxFileBytes) {
    error = path.string() + ": is larger than 32 MB, too large for a simulation file";
    return false;
  }
  std::ifstream in(path, std::ios::binary);
  if (!in) {
    error = path.string() + ": cannot be opened";
    return false;
  }
  text.assign(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
  return true;
}

bool LoadFolder(const fs::path& folder, std::vector<SimulatedDrive>& drives, std::string& error) {
  std::vector<fs::path> files;
  std::error_code ec;
  // The listing and each entry have their own error: a broken link is that file's fault, not
  // the folder's, and stepping on with increment() never throws.
  for (fs::directory_iterator it(folder, ec), end; !ec && it != end; it.increment(ec)) {
    if (it->path().extension() != ".json") continue;
    std::error_code entryError;
    const bool regular = it->is_regular_file(entryError);
    if (entryError) {
      error = it->path().string() + ": cannot be read: " + entryError.message();
      return false;
    }
    if (regular) files.push_back(it->path());
  }
  if (ec) {
    error = folder.string() + ": cannot be listed: " + ec.message();
    return false;
  }
  if (files.empty()) {
    error = folder.string() + ": holds no .json simulation files";
    return false;
  }
  if (files.size() > kMaxDrivesInFile) {
    error = folder.string() + ": holds more than 16 .json files (drive numbers run from 0 to 15)";
    return false;
  }
  std::sort(files.begin(), files.end(),
            [](const fs::path& a, const fs::path& b) { return a.filename() < b.filename(); });
  std::vector<DriveOrigin> origins;
  for (size_t i = 0; i < files.size(); ++i) {
    std::string text;
    if (!ReadWholeFile(files[i], text, error)) return false;
    if (!ParseDocument(text, folder.string(), files[i].string(), true, static_cast<int>(i), drives,
                       origins, error)) {
      return false;
    }
  }
  CheckDriveNumbers(drives, origins, error);
  return error.empty();
}

}  // namespace

bool ParseSimulationText(std::string_view text, const std::string& baseDir,
                         const std::string& sourceName, std::vector<SimulatedDrive>& drives,
                         std::string& error) {
  std::vector<SimulatedDrive> parsed;
  std::vector<DriveOrigin> origins;
  error.clear();
  if (!ParseDocument(text, baseDir, sourceName, false, 0, parsed, origins, error)) return false;
  CheckDriveNumbers(parsed, origins, error);
  if (!error.empty()) return false;
  drives = std::move(parsed);
  return true;
}

bool LoadSimulationPath(const std::string& path, std::vector<SimulatedDrive>& drives,
                        std::string& error) {
  error.clear();
  std::error_code ec;
  const fs::path p(path);
  std::vector<SimulatedDrive> parsed;
  if (fs::is_directory(p, ec)) {
    if (!LoadFolder(p, parsed, error)) return false;
    drives = std::move(parsed);
    return true;
  }
  if (!fs::exists(p, ec)) {
    error = path + ": no such simulation file or folder";
    return false;
  }
  std::string text;
  if (!ReadWholeFile(p, text, error)) return false;
  const std::string baseDir = p.has_parent_path() ? p.parent_path().string() : std::string();
  return ParseSimulationText(text, baseDir, path, drives, error);
}

}  // namespace dv
