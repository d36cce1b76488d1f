// The alert sound on Windows: PlaySound from memory, asynchronous. The wave stays alive with the
// object because the system plays straight from it.
// clang-format off
#include <windows.h>  // before mmsystem.h, which needs its types
#include <mmsystem.h>
// clang-format on

#include "app/AlertSound.h"

namespace dv {

namespace {

class WindowsAlertSound : public AlertSound {
 public:
  WindowsAlertSound() : wave_(SirenWaveFile()) {}
  ~WindowsAlertSound() override { PlaySoundA(nullptr, nullptr, 0); }
  void Play() override {
    PlaySoundA(reinterpret_cast<LPCSTR>(wave_.data()), nullptr,
               SND_MEMORY | SND_ASYNC | SND_NODEFAULT);
  }

 private:
  std::vector<uint8_t> wave_;
};

}  // namespace

std::unique_ptr<AlertSound> CreateAlertSound() { return std::make_unique<WindowsAlertSound>(); }

}  // namespace dv
