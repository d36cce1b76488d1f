#include "kit/FakeNotificationArea.h"

namespace dv {

namespace {

bool IsBalloon(const NotifyIconData& data) {
  return (data.flags & kNifInfo) != 0 && !data.info.isEmpty();
}

}  // namespace

bool FakeNotificationArea::Send(TrayOperation operation, const NotifyIconData& data) {
  bool result = false;
  if (available) {
    switch (operation) {
      case TrayOperation::Add:
        result = !shown.contains(data.id);
        if (result) shown[data.id] = data;
        break;
      case TrayOperation::Modify:
        result = shown.contains(data.id);
        if (result) shown[data.id] = data;
        break;
      case TrayOperation::Delete:
        result = shown.erase(data.id) > 0;
        break;
      case TrayOperation::SetVersion:
        result = true;
        break;
    }
  }
  requests.push_back({operation, data, result});
  return result;
}

void FakeNotificationArea::Attach(uintptr_t id, TrayMessageSink& sink) { sinks[id] = &sink; }

void FakeNotificationArea::Detach(uintptr_t id) { sinks.erase(id); }

bool FakeNotificationArea::Deliver(uintptr_t id, uint32_t message) {
  auto it = sinks.find(id);
  if (it == sinks.end()) return false;
  it->second->TrayMessage(message);
  return true;
}

void FakeNotificationArea::RestartTray() {
  shown.clear();
  // Copy first: a sink may re-add its icon (and so touch the maps) while being told.
  std::vector<TrayMessageSink*> listeners;
  for (const auto& [id, sink] : sinks) listeners.push_back(sink);
  for (TrayMessageSink* sink : listeners) sink->TrayCreated();
}

void FakeNotificationArea::SetAvailable(bool value) {
  if (value == available) return;
  available = value;
  if (value) {
    RestartTray();
  } else {
    shown.clear();
  }
  if (onTrayAvailabilityChanged) onTrayAvailabilityChanged(value);
}

const NotifyIconData* FakeNotificationArea::Shown(uintptr_t id) const {
  auto it = shown.find(id);
  return it == shown.end() ? nullptr : &it->second;
}

std::vector<FakeNotificationArea::Request> FakeNotificationArea::RequestsFor(uintptr_t id) const {
  std::vector<Request> out;
  for (const Request& request : requests) {
    if (request.data.id == id) out.push_back(request);
  }
  return out;
}

std::vector<NotifyIconData> FakeNotificationArea::BalloonsFor(uintptr_t id) const {
  std::vector<NotifyIconData> out;
  for (const Request& request : requests) {
    if (request.data.id == id && request.operation == TrayOperation::Modify && request.result &&
        IsBalloon(request.data)) {
      out.push_back(request.data);
    }
  }
  return out;
}

}  // namespace dv
