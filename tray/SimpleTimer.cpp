#include "tray/SimpleTimer.h"

#include <QObject>
#include <QTimerEvent>
#include <algorithm>
#include <cstdint>
#include <map>

namespace dv {

// Receives the ticks of every TSimpleTimer and hands each to its timer. Shared and reference
// counted by the live timers, so there is never more than one and it outlives none of them.
class TSimpleTimerHandler : public QObject {
 public:
  static TSimpleTimerHandler& Acquire() {
    if (instance == nullptr) instance = new TSimpleTimerHandler;
    ++users;
    return *instance;
  }
  static void Release() {
    if (--users == 0) {
      delete instance;
      instance = nullptr;
    }
  }
  static TSimpleTimerHandler& Current() { return *instance; }

  int StartTimer(TSimpleTimer& timer, uint32_t period) {
    const int id = startTimer(static_cast<int>(std::min<uint32_t>(period, INT32_MAX)));
    if (id != 0) timers[id] = &timer;
    return id;
  }
  void StopTimer(int id) {
    killTimer(id);
    timers.erase(id);
  }

 protected:
  void timerEvent(QTimerEvent* event) override {
    auto it = timers.find(event->timerId());
    if (it != timers.end()) it->second->Tick();
  }

 private:
  std::map<int, TSimpleTimer*> timers;
  static inline TSimpleTimerHandler* instance = nullptr;
  static inline int users = 0;
};

TSimpleTimer::TSimpleTimer(uint32_t period, Handler handler)
    : period(period), handler(std::move(handler)) {
  TSimpleTimerHandler::Acquire();
}

TSimpleTimer::~TSimpleTimer() {
  CancelPlatformTimer();
  TSimpleTimerHandler::Release();
}

bool TSimpleTimer::Start() {
  if (period == 0) return false;
  if (running) Stop(true);
  platformId = TSimpleTimerHandler::Current().StartTimer(*this, period);
  running = platformId != 0;
  return running;
}

void TSimpleTimer::Stop(bool clearFlag) {
  if (clearFlag) running = false;
  CancelPlatformTimer();
}

void TSimpleTimer::SetRunning(bool value) {
  if (value) {
    Start();
  } else {
    Stop(true);
  }
}

void TSimpleTimer::SetPeriod(uint32_t value) {
  if (value == period) return;
  period = value;
  if (!running) return;
  if (period == 0) {
    Stop(false);  // suspended: a later non-zero period starts it again
  } else {
    Start();
  }
}

void TSimpleTimer::SetHandler(Handler value) {
  handler = std::move(value);
  if (!handler && running) Stop(false);
}

void TSimpleTimer::Tick() {
  if (handler) handler(*this);
}

void TSimpleTimer::CancelPlatformTimer() {
  if (platformId == 0) return;
  TSimpleTimerHandler::Current().StopTimer(platformId);
  platformId = 0;
}

}  // namespace dv
