#include "core/Counters.h"

#include <algorithm>
#include <cstdlib>
#include <fstream>
#include <iterator>
#include <nlohmann/json.hpp>

#include "core/AttributeNames.h"
#include "core/SmartData.h"

namespace dv {
namespace {

using Json = nlohmann::json;
namespace fs = std::filesystem;

constexpr std::string_view kFormatName = "diskvigil counter state";
constexpr int kFormatVersion = 1;
constexpr uint64_t kMaxRaw = (uint64_t{1} << 48) - 1;
constexpr size_t kMaxModelLength = 40;
constexpr size_t kMaxSerialLength = 20;

// Names for the two counters the attribute table has no row for.
constexpr std::string_view kReportedUncorrectableName = "Reported Uncorrectable Errors";
constexpr std::string_view kCommandTimeoutName = "Command Timeout";

bool IsWatched(uint8_t id) {
  return std::find(kWatchedCounterIds.begin(), kWatchedCounterIds.end(), id) !=
         kWatchedCounterIds.end();
}

std::string Trimmed(const std::string& text) {
  const auto first = text.find_first_not_of(' ');
  if (first == std::string::npos) return {};
  return text.substr(first, text.find_last_not_of(' ') - first + 1);
}

void PutRise(std::vector<CounterRise>& caution, const CounterRise& rise) {
  std::erase_if(caution, [&](const CounterRise& standing) { return standing.id == rise.id; });
  caution.push_back(rise);
  std::sort(caution.begin(), caution.end(),
            [](const CounterRise& a, const CounterRise& b) { return a.id < b.id; });
}

// Why a state document is not used; thrown by the readers below.
struct Damage {};

uint64_t ReadRaw(const Json& v) {
  if (!v.is_number_unsigned() || v.get<uint64_t>() > kMaxRaw) throw Damage{};
  return v.get<uint64_t>();
}

std::string ReadText(const Json& object, const char* key, size_t maxLength) {
  const auto it = object.find(key);
  if (it == object.end() || !it->is_string() ||
      it->get_ref<const std::string&>().size() > maxLength)
    throw Damage{};
  return it->get<std::string>();
}

uint8_t ReadWatchedId(const std::string& text) {
  if (text.empty() || text.size() > 3 ||
      !std::all_of(text.begin(), text.end(), [](char c) { return c >= '0' && c <= '9'; }))
    throw Damage{};
  const int id = std::stoi(text);
  if (id > 255 || !IsWatched(static_cast<uint8_t>(id))) throw Damage{};
  return static_cast<uint8_t>(id);
}

CounterRecord ReadRecord(const Json& d) {
  if (!d.is_object()) throw Damage{};
  CounterRecord record;
  const auto counters = d.find("counters");
  if (counters == d.end() || !counters->is_object()) throw Damage{};
  for (const auto& [key, value] : counters->items())
    record.values[ReadWatchedId(key)] = ReadRaw(value);
  const auto caution = d.find("caution");
  if (caution != d.end()) {
    if (!caution->is_array() || caution->size() > kWatchedCounterIds.size()) throw Damage{};
    for (const Json& r : *caution) {
      if (!r.is_object() || !r.contains("id") || !r["id"].is_number_unsigned()) throw Damage{};
      const uint64_t id = r["id"].get<uint64_t>();
      if (id > 255 || !IsWatched(static_cast<uint8_t>(id))) throw Damage{};
      if (!r.contains("from") || !r.contains("to")) throw Damage{};
      CounterRise rise{static_cast<uint8_t>(id), std::string(CounterName(static_cast<uint8_t>(id))),
                       ReadRaw(r["from"]), ReadRaw(r["to"])};
      if (rise.from >= rise.to) throw Damage{};
      PutRise(record.caution, rise);
    }
  }
  return record;
}

Json RiseJson(const CounterRise& rise) {
  return {{"id", rise.id}, {"from", rise.from}, {"to", rise.to}};
}

}  // namespace

bool CountsAtFirstSight(uint8_t id) { return id == 5 || id == 197 || id == 198; }

std::string_view CounterName(uint8_t id) {
  if (!IsWatched(id)) return {};
  if (id == 187) return kReportedUncorrectableName;
  if (id == 188) return kCommandTimeoutName;
  for (const AttributeNameEntry& entry : AttributeNameTable) {
    if (entry.id == id) return entry.name;
  }
  return {};
}

std::string DescribeRise(const CounterRise& rise) {
  return rise.name + " (" + std::to_string(rise.id) + ") rose from " + std::to_string(rise.from) +
         " to " + std::to_string(rise.to);
}

CounterValues ReadWatchedCounters(std::span<const uint8_t> smartData) {
  const SmartTableIndex table(smartData);
  CounterValues values;
  for (const uint8_t id : kWatchedCounterIds) {
    const SMARTAttribute attribute = table.Attribute(id);
    if (attribute.IsPresent()) values[id] = attribute.Raw;
  }
  return values;
}

CounterCheck CompareCounters(const CounterRecord* stored, const CounterValues& now,
                             CounterRecord& record) {
  record = stored != nullptr ? *stored : CounterRecord{};
  CounterCheck check;
  for (const uint8_t id : kWatchedCounterIds) {
    const auto current = now.find(id);
    if (current == now.end()) continue;
    const uint64_t value = current->second;
    const auto last = record.values.find(id);
    std::optional<CounterRise> rise;
    if (last != record.values.end()) {
      if (value > last->second)
        rise = CounterRise{id, std::string(CounterName(id)), last->second, value};
    } else if (CountsAtFirstSight(id) && value > 0) {
      rise = CounterRise{id, std::string(CounterName(id)), 0, value};
    }
    record.values[id] = value;
    if (rise) {
      PutRise(record.caution, *rise);
      check.newRises.push_back(*rise);
    }
  }
  check.caution = record.caution;
  return check;
}

std::string ThisMachineIdentity() {
  std::ifstream in("/etc/machine-id");
  std::string id;
  if (in && std::getline(in, id) && !Trimmed(id).empty()) return Trimmed(id);
  for (const char* name : {"COMPUTERNAME", "HOSTNAME"}) {
    if (const char* value = std::getenv(name); value != nullptr && *value != '\0') return value;
  }
  return {};
}

ParsedCounterState ParseCounterState(std::string_view text, std::string_view machine) {
  ParsedCounterState parsed;
  Json doc;
  try {
    doc = Json::parse(text.begin(), text.end());
  } catch (const Json::exception&) {
    parsed.note = "is not valid JSON";
    return parsed;
  }
  const auto format = doc.is_object() ? doc.find("format") : doc.end();
  if (!doc.is_object() || format == doc.end() || *format != kFormatName) {
    parsed.note = "is not a counter state file";
    return parsed;
  }
  if (!doc.contains("version") || doc["version"] != kFormatVersion) {
    parsed.note = "has a version this program does not know";
    return parsed;
  }
  if (!doc.contains("machine") || !doc["machine"].is_string() || doc["machine"] != machine) {
    parsed.note = "was written on another machine";
    return parsed;
  }
  try {
    const auto drives = doc.find("drives");
    if (drives == doc.end() || !drives->is_array() || drives->size() > kMaxCounterStateDrives)
      throw Damage{};
    for (const Json& d : *drives) {
      if (!d.is_object()) throw Damage{};
      auto key = std::make_pair(ReadText(d, "model", kMaxModelLength),
                                ReadText(d, "serial", kMaxSerialLength));
      if (!parsed.records.emplace(std::move(key), ReadRecord(d)).second) throw Damage{};
    }
  } catch (const Damage&) {
    parsed.records.clear();
    parsed.note = "is damaged";
  } catch (const Json::exception&) {
    parsed.records.clear();
    parsed.note = "is damaged";
  }
  return parsed;
}

CounterWatch::CounterWatch(CounterStateFile file) : file_(std::move(file)) {}

CounterWatch::Key CounterWatch::MakeKey(const std::string& model, const std::string& serial) {
  return {Trimmed(model), Trimmed(serial)};
}

std::optional<std::string> CounterWatch::Load() {
  records_.clear();
  changed_.clear();
  if (file_.path.empty()) return std::nullopt;
  std::error_code error;
  const auto status = fs::status(file_.path, error);
  if (status.type() == fs::file_type::not_found) return std::nullopt;
  const std::string setAside = file_.path.string() + ": set aside, counters are watched afresh: ";
  if (status.type() != fs::file_type::regular) return setAside + "it is not a file";
  const auto size = fs::file_size(file_.path, error);
  if (error) return setAside + "it cannot be read";
  if (size > kMaxCounterStateFileSize) return setAside + "it is larger than 256 KB";
  std::ifstream in(file_.path, std::ios::binary);
  if (!in) return setAside + "it cannot be read";
  const std::string text{std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
  ParsedCounterState parsed = ParseCounterState(text, file_.machine);
  if (parsed.note) return setAside + "it " + *parsed.note;
  records_ = std::move(parsed.records);
  return std::nullopt;
}

CounterCheck CounterWatch::Take(const std::string& model, const std::string& serial,
                                std::span<const uint8_t> smartData) {
  const Key key = MakeKey(model, serial);
  const auto found = records_.find(key);
  CounterRecord record;
  const CounterCheck check = CompareCounters(found == records_.end() ? nullptr : &found->second,
                                             ReadWatchedCounters(smartData), record);
  if (found == records_.end() || found->second.values != record.values ||
      found->second.caution != record.caution) {
    records_[key] = std::move(record);
    changed_.insert(key);
  }
  return check;
}

CounterCheck CounterWatch::Peek(const std::string& model, const std::string& serial,
                                std::span<const uint8_t> smartData) const {
  const auto found = records_.find(MakeKey(model, serial));
  CounterRecord record;
  return CompareCounters(found == records_.end() ? nullptr : &found->second,
                         ReadWatchedCounters(smartData), record);
}

std::vector<CounterRise> CounterWatch::Caution(const std::string& model,
                                               const std::string& serial) const {
  const auto found = records_.find(MakeKey(model, serial));
  return found == records_.end() ? std::vector<CounterRise>{} : found->second.caution;
}

std::string CounterWatch::Serialize() const {
  Json drives = Json::array();
  for (const auto& [key, record] : records_) {
    Json counters = Json::object();
    for (const auto& [id, value] : record.values) counters[std::to_string(id)] = value;
    Json caution = Json::array();
    for (const CounterRise& rise : record.caution) caution.push_back(RiseJson(rise));
    drives.push_back({{"model", key.first},
                      {"serial", key.second},
                      {"counters", counters},
                      {"caution", caution}});
  }
  const Json doc{{"format", kFormatName},
                 {"version", kFormatVersion},
                 {"machine", file_.machine},
                 {"drives", drives}};
  return doc.dump(1, ' ', false, Json::error_handler_t::replace) + "\n";
}

std::optional<std::string> CounterWatch::Save() {
  if (changed_.empty()) return std::nullopt;
  if (file_.path.empty() || !file_.writeAtomically) {
    changed_.clear();
    return std::nullopt;
  }
  // Another process watching the same drives may have written since: its drives stay, ours win.
  CounterWatch onDisk(file_);
  if (!onDisk.Load()) {
    for (auto& [key, record] : onDisk.records_) {
      if (changed_.count(key) == 0) records_[key] = std::move(record);
    }
  }
  for (auto it = records_.begin();
       records_.size() > kMaxCounterStateDrives && it != records_.end();) {
    it = changed_.count(it->first) == 0 ? records_.erase(it) : std::next(it);
  }
  std::error_code error;
  if (file_.path.has_parent_path()) fs::create_directories(file_.path.parent_path(), error);
  if (!file_.writeAtomically(file_.path, Serialize())) {
    return "Unable to write to " + file_.path.string();
  }
  changed_.clear();
  return std::nullopt;
}

}  // namespace dv
