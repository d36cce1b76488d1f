#include "app/CounterWarnings.h"

#include "core/Monitor.h"
#include "settings/IniFile.h"

namespace dv {

CounterWarnings::CounterWarnings(std::filesystem::path statePath)
    : statePath_(std::move(statePath)) {}

CounterWarnings::~CounterWarnings() = default;

std::string CounterWarnings::Switch(bool on, const DriveTable& drives) {
  caution_ = {};
  watch_.reset();
  if (!on) return {};
  watch_ = std::make_unique<CounterWatch>(
      CounterStateFile{statePath_, ThisMachineIdentity(), WriteFileAtomically, UntrustedFolder});
  std::vector<std::string> notes = TwinNotes(drives);
  if (const auto note = watch_->Load()) notes.insert(notes.begin(), *note);
  // What was stored stands at once; the next pass checks the drives themselves.
  for (int position = 1; position <= drives.DriveCount; ++position) {
    if (drives.At(position).SMARTEnabled) Standing(position) = watch_->Caution(drives, position);
  }
  std::string text;
  for (const std::string& note : notes) text += (text.empty() ? "" : "; ") + note;
  return text;
}

void CounterWarnings::Watch(const PositionReading& reading, const SmartSectors& sectors,
                            const DriveTable& drives, std::vector<std::string>& told) {
  if (!watch_) return;
  std::vector<CounterRise>& caution = Standing(reading.position);
  if (!reading.monitored) {
    caution.clear();
    return;
  }
  if (reading.asleep || !reading.result.sectorsRead) {
    caution = watch_->Caution(drives, reading.position);
    return;
  }
  const CounterCheck check = watch_->Take(drives, reading.position, sectors.SMARTData);
  caution = check.caution;
  const Drive& drive = drives.At(reading.position);
  for (const CounterRise& rise : check.newRises) {
    told.push_back("HDD" + std::to_string(reading.position) + " " + drive.ModelNumber + ": " +
                   DescribeRise(rise));
  }
}

std::optional<std::string> CounterWarnings::Save() {
  return watch_ ? watch_->Save() : std::nullopt;
}

const std::vector<CounterRise>& CounterWarnings::CautionOf(int position) const {
  return caution_.at(static_cast<size_t>(position - 1));
}

std::set<uint8_t> CounterWarnings::CautionIds(int position) const {
  std::set<uint8_t> ids;
  for (const CounterRise& rise : CautionOf(position)) ids.insert(rise.id);
  return ids;
}

std::vector<CounterRise>& CounterWarnings::Standing(int position) {
  return caution_.at(static_cast<size_t>(position - 1));
}

}  // namespace dv
