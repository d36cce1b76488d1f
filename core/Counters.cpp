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
constexpr size_t kMaxMachineLength = 255;

// Names for the two counters the attribute table has no row for.
constexpr std::string_view kReportedUncorrectableName = "Reported Uncorrectable Errors";
constexpr std::string_view kCommandTimeoutName = "Command Timeout";

bool IsWatched(uint8_t id) {
  return std::find(kWatchedCounterIds.begin(), kWatchedCounterIds.end(), id) !=
         kWatchedCounterIds.end();
}

std::string_view TrimmedView(std::string_view text) {
  const auto first = text.find_first_not_of(' ');
  if (first == std::string_view::npos) return {};
  return text.substr(first, text.find_last_not_of(' ') - first + 1);
}

std::string Trimmed(const std::string& text) { return std::string(TrimmedView(text)); }

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

// Model and serial are the drive's own bytes, any of 00-FF. Valid UTF-8 is stored as text, as
// earlier versions stored every key (so their files keep matching); other bytes go as hexadecimal
// under "<name>Hex", since JSON text can hold nothing but UTF-8.
bool IsUtf8(const std::string& bytes) {
  try {
    (void)Json(bytes).dump();
    return true;
  } catch (const Json::type_error&) {
    return false;
  }
}

void PutBytes(Json& object, const std::string& key, const std::string& bytes) {
  if (IsUtf8(bytes)) {
    object[key] = bytes;
    return;
  }
  static constexpr char kDigits[] = "0123456789abcdef";
  std::string hex;
  for (const unsigned char byte : bytes) {
    hex += kDigits[byte >> 4];
    hex += kDigits[byte & 15];
  }
  object[key + "Hex"] = hex;
}

int HexValue(char c) {
  if (c >= '0' && c <= '9') return c - '0';
  if (c >= 'a' && c <= 'f') return c - 'a' + 10;
  return -1;
}

std::string ReadBytes(const Json& object, const std::string& key, size_t maxLength) {
  const auto text = object.find(key);
  const auto hex = object.find(key + "Hex");
  if ((text == object.end()) == (hex == object.end())) throw Damage{};  // neither, or both
  if (text != object.end()) {
    if (!text->is_string() || text->get_ref<const std::string&>().size() > maxLength)
      throw Damage{};
    return text->get<std::string>();
  }
  if (!hex->is_string()) throw Damage{};
  const std::string& digits = hex->get_ref<const std::string&>();
  if (digits.size() % 2 != 0 || digits.size() > 2 * maxLength) throw Damage{};
  std::string bytes;
  for (size_t i = 0; i < digits.size(); i += 2) {
    const int high = HexValue(digits[i]);
    const int low = HexValue(digits[i + 1]);
    if (high < 0 || low < 0) throw Damage{};
    bytes += static_cast<char>(high * 16 + low);
  }
  return bytes;
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

bool ReadsAs(const Json& doc, const std::string& key, std::string_view expected) {
  try {
    return ReadBytes(doc, key, kMaxMachineLength) == expected;
  } catch (const Damage&) {
    return false;
  }
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

namespace {

// Whether `holds(id, raw)` is true of every watched counter the sector holds, asked in id order
// until one is not.
template <typename Holds>
bool EachWatchedCounter(std::span<const uint8_t> smartData, Holds holds) {
  const SmartTableIndex table(smartData);
  return std::all_of(kWatchedCounterIds.begin(), kWatchedCounterIds.end(), [&](uint8_t id) {
    const SMARTAttribute attribute = table.Attribute(id);
    return !attribute.IsPresent() || holds(id, attribute.Raw);
  });
}

}  // namespace

CounterValues ReadWatchedCounters(std::span<const uint8_t> smartData) {
  CounterValues values;
  EachWatchedCounter(smartData, [&values](uint8_t id, uint64_t raw) {
    values[id] = raw;
    return true;
  });
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
  if (!ReadsAs(doc, "machine", machine)) {
    parsed.note = "was written on another machine";
    return parsed;
  }
  const auto drives = doc.find("drives");
  if (drives == doc.end() || !drives->is_array() || drives->size() > kMaxCounterStateDrives) {
    parsed.note = "is damaged";
    return parsed;
  }
  // One record that cannot be read costs that drive alone.
  for (const Json& d : *drives) {
    try {
      if (!d.is_object()) throw Damage{};
      auto key = std::make_pair(ReadBytes(d, "model", kMaxModelLength),
                                ReadBytes(d, "serial", kMaxSerialLength));
      if (!parsed.records.emplace(std::move(key), ReadRecord(d)).second) throw Damage{};
    } catch (const Damage&) {
      ++parsed.skipped;
    } catch (const Json::exception&) {
      ++parsed.skipped;
    }
  }
  return parsed;
}

CounterWatch::CounterWatch(CounterStateFile file) : file_(std::move(file)) {}

CounterWatch::Key CounterWatch::MakeKey(const std::string& model, const std::string& serial) {
  return {Trimmed(model), Trimmed(serial)};
}

CounterWatch::KeyView CounterWatch::ViewKey(const std::string& model, const std::string& serial) {
  return {TrimmedView(model), TrimmedView(serial)};
}

// The file's folder and the one holding it are checked; while they are missing, the nearest
// folder above them that is there and the one holding that, where the save would make them.
std::optional<std::string> CounterWatch::RefusedFolder() const {
  if (!file_.folderProblem) return std::nullopt;
  std::error_code error;
  fs::path nearest = file_.path.parent_path();
  while (!nearest.empty() && !fs::exists(nearest, error) && nearest != nearest.parent_path()) {
    nearest = nearest.parent_path();
  }
  for (const fs::path& checked : {nearest, nearest.parent_path()}) {
    if (checked.empty() || !fs::exists(checked, error)) continue;
    if (const auto problem = file_.folderProblem(checked)) {
      return checked.string() + ": not used, counters are watched in memory only: it " + *problem;
    }
  }
  return std::nullopt;
}

// Moves a file that is not used out of the way, to "<name>.bad" (an older one goes), so that
// nothing the next save writes lands on it.
std::optional<std::string> CounterWatch::SetAside(const std::string& why) {
  fs::path bad = file_.path;
  bad += ".bad";
  std::error_code error;
  fs::remove(bad, error);
  fs::rename(file_.path, bad, error);
  if (error) {
    memoryOnly_ = true;
    return file_.path.string() + ": not used, counters are watched in memory only: it " + why +
           " (it could not be moved to " + bad.filename().string() + ")";
  }
  return file_.path.string() + ": set aside as " + bad.filename().string() +
         ", counters are watched afresh: it " + why;
}

std::optional<std::string> CounterWatch::Load() {
  records_.clear();
  changed_.clear();
  memoryOnly_ = false;
  if (file_.path.empty()) return std::nullopt;
  if (auto refused = RefusedFolder()) {
    memoryOnly_ = true;
    return refused;
  }
  std::error_code error;
  const auto status = fs::symlink_status(file_.path, error);
  if (status.type() == fs::file_type::not_found) return std::nullopt;
  const std::string setAside = file_.path.string() + ": set aside, counters are watched afresh: ";
  if (status.type() == fs::file_type::directory) return setAside + "it is not a file";
  // A link is never followed: whatever it names stays as it is.
  if (status.type() == fs::file_type::symlink) return SetAside("is a symbolic link");
  if (status.type() != fs::file_type::regular) return SetAside("is not a file");
  const auto size = fs::file_size(file_.path, error);
  if (error) return setAside + "it cannot be read";
  if (size > kMaxCounterStateFileSize) return SetAside("is larger than 256 KB");
  std::string text;
  {
    // Closed before anything moves it: Windows renames no file that is open.
    std::ifstream in(file_.path, std::ios::binary);
    if (!in) return setAside + "it cannot be read";
    text.assign(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
  }
  ParsedCounterState parsed = ParseCounterState(text, file_.machine);
  if (parsed.note) return SetAside(*parsed.note);
  records_ = {std::make_move_iterator(parsed.records.begin()),
              std::make_move_iterator(parsed.records.end())};
  if (parsed.skipped == 0) return std::nullopt;
  // The rest is used; the file as it was is kept for a look.
  fs::path bad = file_.path;
  bad += ".bad";
  fs::copy_file(file_.path, bad, fs::copy_options::overwrite_existing, error);
  return file_.path.string() + ": " + std::to_string(parsed.skipped) +
         " drive record(s) could not be read and are watched afresh" +
         (error ? std::string() : "; the file as it was is kept as " + bad.filename().string());
}

namespace {

// Whether every watched counter the sector holds is stored with the same value: the common case
// at every pass, checked without building the values.
bool AllAsStored(const CounterValues& stored, std::span<const uint8_t> smartData) {
  return EachWatchedCounter(smartData, [&stored](uint8_t id, uint64_t raw) {
    const auto found = stored.find(id);
    return found != stored.end() && found->second == raw;
  });
}

}  // namespace

CounterCheck CounterWatch::Take(const std::string& model, const std::string& serial,
                                std::span<const uint8_t> smartData) {
  const auto found = records_.find(ViewKey(model, serial));
  // The common case at every pass: nothing moved, so nothing rises and the record stays as it is.
  if (found != records_.end() && AllAsStored(found->second.values, smartData)) {
    return {found->second.caution, {}, std::nullopt};
  }
  const Key key = MakeKey(model, serial);
  const CounterValues now = ReadWatchedCounters(smartData);
  CounterRecord record;
  const CounterCheck check =
      CompareCounters(found == records_.end() ? nullptr : &found->second, now, record);
  if (found == records_.end() || found->second.values != record.values ||
      found->second.caution != record.caution) {
    records_[key] = std::move(record);
    changed_.insert(key);
  }
  return check;
}

CounterCheck CounterWatch::Peek(const std::string& model, const std::string& serial,
                                std::span<const uint8_t> smartData) const {
  const auto found = records_.find(ViewKey(model, serial));
  CounterRecord record;
  return CompareCounters(found == records_.end() ? nullptr : &found->second,
                         ReadWatchedCounters(smartData), record);
}

std::vector<CounterRise> CounterWatch::Caution(const std::string& model,
                                               const std::string& serial) const {
  const auto found = records_.find(ViewKey(model, serial));
  return found == records_.end() ? std::vector<CounterRise>{} : found->second.caution;
}

namespace {

bool SameKey(const Drive& a, const Drive& b) {
  return TrimmedView(a.ModelNumber) == TrimmedView(b.ModelNumber) &&
         TrimmedView(a.SerialNumber) == TrimmedView(b.SerialNumber);
}

}  // namespace

std::optional<int> TwinOf(const DriveTable& table, int position) {
  for (int other = 1; other <= table.DriveCount; ++other) {
    if (other != position && SameKey(table.At(other), table.At(position))) return other;
  }
  return std::nullopt;
}

std::vector<std::string> TwinNotes(const DriveTable& table) {
  std::vector<std::string> notes;
  for (int first = 1; first <= table.DriveCount; ++first) {
    const auto twin = TwinOf(table, first);
    if (!twin || *twin < first) continue;  // none, or told with the first of its group
    std::vector<int> group;
    for (int other = first; other <= table.DriveCount; ++other) {
      if (SameKey(table.At(other), table.At(first))) group.push_back(other);
    }
    std::string positions;
    for (size_t i = 0; i < group.size(); ++i) {
      positions += (i == 0                  ? ""
                    : i + 1 == group.size() ? " and "
                                            : ", ") +
                   std::to_string(group[i]);
    }
    notes.push_back("Drives " + positions +
                    " give the same model and serial: their counters are not watched");
  }
  return notes;
}

CounterCheck CounterWatch::Take(const DriveTable& table, int position,
                                std::span<const uint8_t> smartData) {
  if (const auto twin = TwinOf(table, position)) return {{}, {}, twin};
  const Drive& drive = table.At(position);
  return Take(drive.ModelNumber, drive.SerialNumber, smartData);
}

CounterCheck CounterWatch::Peek(const DriveTable& table, int position,
                                std::span<const uint8_t> smartData) const {
  if (const auto twin = TwinOf(table, position)) return {{}, {}, twin};
  const Drive& drive = table.At(position);
  return Peek(drive.ModelNumber, drive.SerialNumber, smartData);
}

std::vector<CounterRise> CounterWatch::Caution(const DriveTable& table, int position) const {
  if (TwinOf(table, position)) return {};
  const Drive& drive = table.At(position);
  return Caution(drive.ModelNumber, drive.SerialNumber);
}

std::string CounterWatch::Serialize() const {
  Json drives = Json::array();
  for (const auto& [key, record] : records_) {
    Json counters = Json::object();
    for (const auto& [id, value] : record.values) counters[std::to_string(id)] = value;
    Json caution = Json::array();
    for (const CounterRise& rise : record.caution) caution.push_back(RiseJson(rise));
    Json drive = Json::object();
    PutBytes(drive, "model", key.first);
    PutBytes(drive, "serial", key.second);
    drive["counters"] = counters;
    drive["caution"] = caution;
    drives.push_back(std::move(drive));
  }
  Json doc{{"format", kFormatName}, {"version", kFormatVersion}};
  PutBytes(doc, "machine", file_.machine);
  doc["drives"] = drives;
  return doc.dump(1) + "\n";
}

std::optional<std::string> CounterWatch::Save() {
  if (changed_.empty()) return std::nullopt;
  if (file_.path.empty() || !file_.writeAtomically || memoryOnly_) {
    changed_.clear();
    return std::nullopt;
  }
  // Another process watching the same drives may have written since: its drives stay, ours win.
  // What cannot be read of it was set aside by the reading.
  CounterWatch onDisk(file_);
  (void)onDisk.Load();
  for (auto& [key, record] : onDisk.records_) {
    if (changed_.count(key) == 0) records_[key] = std::move(record);
  }
  for (auto it = records_.begin();
       records_.size() > kMaxCounterStateDrives && it != records_.end();) {
    it = changed_.count(it->first) == 0 ? records_.erase(it) : std::next(it);
  }
  std::error_code error;
  if (file_.path.has_parent_path()) fs::create_directories(file_.path.parent_path(), error);
  if (const auto refused = RefusedFolder()) {
    memoryOnly_ = true;
    return refused;
  }
  if (!file_.writeAtomically(file_.path, Serialize())) {
    return "Unable to write to " + file_.path.string();
  }
  changed_.clear();
  return std::nullopt;
}

}  // namespace dv
