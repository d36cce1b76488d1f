// Writes the alert sound "SIREN" as a C++ header: 21466 unsigned 8-bit mono samples at 8000 Hz, a
// wailing tone that sweeps up and down twice.
#include <algorithm>
#include <cmath>
#include <cstdio>
#include <fstream>
#include <numbers>

namespace {

constexpr int kSampleRate = 8000;
constexpr int kSampleCount = 21466;
constexpr double kLowHz = 600.0;
constexpr double kHighHz = 1500.0;
constexpr double kSweepsPerSound = 2.0;
constexpr double kFadeSeconds = 0.02;  // no click at either end
constexpr double kAmplitude = 118.0;   // of 127, headroom for rounding

double FrequencyAt(double t, double duration) {
  // A triangle between the low and the high tone, starting low.
  const double cycle = std::fmod(t * kSweepsPerSound / duration, 1.0);
  const double rise = cycle < 0.5 ? cycle * 2.0 : (1.0 - cycle) * 2.0;
  return kLowHz + (kHighHz - kLowHz) * rise;
}

double EnvelopeAt(double t, double duration) {
  return std::clamp(std::min(t, duration - t) / kFadeSeconds, 0.0, 1.0);
}

}  // namespace

int main(int argc, char** argv) {
  if (argc != 2) {
    std::fprintf(stderr, "usage: %s OUTPUT.h\n", argv[0]);
    return 2;
  }
  std::ofstream out(argv[1]);
  out << "// Made by MakeSiren at build time; do not edit.\n#pragma once\n#include <cstdint>\n"
         "namespace dv::generated {\ninline constexpr uint8_t kSirenData["
      << kSampleCount << "] = {";
  const double duration = static_cast<double>(kSampleCount) / kSampleRate;
  double phase = 0.0;
  for (int i = 0; i < kSampleCount; ++i) {
    const double t = static_cast<double>(i) / kSampleRate;
    // A slightly squared sine: louder and harsher than a pure tone, as an alarm should be.
    const double wave = std::tanh(2.0 * std::sin(phase)) / std::tanh(2.0);
    const double value = 128.0 + kAmplitude * EnvelopeAt(t, duration) * wave;
    const int sample = std::clamp(static_cast<int>(std::lround(value)), 0, 255);
    out << (i % 24 == 0 ? "\n" : "") << sample << ",";
    phase += 2.0 * std::numbers::pi * FrequencyAt(t, duration) / kSampleRate;
    phase = std::fmod(phase, 2.0 * std::numbers::pi);
  }
  out << "\n};\n}  // namespace dv::generated\n";
  return out ? 0 : 1;
}
