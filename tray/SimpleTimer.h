// TSimpleTimer: a lightweight millisecond timer. All timers tick through one shared handler object
// (TSimpleTimerHandler), created with the first live timer and destroyed with the last.
#pragma once

#include <cstdint>
#include <functional>

namespace dv {

class TSimpleTimer {
 public:
  using Handler = std::function<void(TSimpleTimer& sender)>;
  static constexpr uint32_t kDefaultPeriod = 1000;

  explicit TSimpleTimer(uint32_t period = kDefaultPeriod, Handler handler = {});
  ~TSimpleTimer();
  TSimpleTimer(const TSimpleTimer&) = delete;
  TSimpleTimer& operator=(const TSimpleTimer&) = delete;

  // Refused (false) at period 0; a running timer is restarted.
  bool Start();
  // Without clearing the flag the timer is suspended but still regarded as running.
  void Stop(bool clearFlag);
  bool Running() const { return running; }
  void SetRunning(bool value);
  uint32_t Period() const { return period; }
  void SetPeriod(uint32_t value);
  void SetHandler(Handler value);
  // Whether a platform timer is actually counting (a suspended timer is running but not active).
  bool Active() const { return platformId != 0; }

 private:
  friend class TSimpleTimerHandler;
  void Tick();
  void CancelPlatformTimer();

  uint32_t period;
  Handler handler;
  bool running = false;
  int platformId = 0;
};

}  // namespace dv
