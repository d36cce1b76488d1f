// The alert sound "SIREN": 8000 samples per second, 8-bit unsigned mono PCM, generated at build
// time.
#pragma once

#include <cstdint>
#include <memory>
#include <span>
#include <vector>

namespace dv {

inline constexpr int kSirenSampleRate = 8000;
inline constexpr int kSirenBitsPerSample = 8;
inline constexpr int kSirenChannels = 1;
inline constexpr std::size_t kSirenSampleCount = 21466;

std::span<const uint8_t> SirenSamples();
// The samples as a complete RIFF/WAVE file (PCM header + data), for players that want a file.
std::vector<uint8_t> SirenWaveFile();

class AlertSound {
 public:
  virtual ~AlertSound() = default;
  // Starts the sound and returns at once. Silent when there is no audio device or server; a Play
  // while the sound still plays is allowed.
  virtual void Play() = 0;
};

// PulseAudio when the build found libpulse-simple, else silence.
std::unique_ptr<AlertSound> CreateAlertSound();

class SilentAlertSound : public AlertSound {
 public:
  void Play() override {}
};

}  // namespace dv
