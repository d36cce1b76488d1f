// The alert sound through PulseAudio's simple API (also served by PipeWire's Pulse server). The
// blocking calls run on one worker thread so Play never waits; no server means silence.
//
// The library is opened on the first Play, not at start: it brings a dozen more libraries (the
// Pulse core, D-Bus, the sound file codecs) that cost start-up time and memory, and most runs never
// sound an alert. The worker thread, too, starts with the first Play. A system without the library
// is silent, as one without a server is.
#include <dlfcn.h>
#include <pulse/error.h>
#include <pulse/simple.h>

#include <algorithm>
#include <condition_variable>
#include <mutex>
#include <optional>
#include <thread>

#include "app/AlertSound.h"

namespace dv {

namespace {

// Written in pieces so that closing the program does not wait for the whole sound.
constexpr std::size_t kChunkBytes = 800;  // 0.1 s

// The library's run-time name (its soname), the one the package of the library installs.
constexpr const char* kPulseSimpleLibrary = "libpulse-simple.so.0";

// The four calls the sound needs, looked up once in the opened library.
struct PulseSimpleCalls {
  decltype(&pa_simple_new) open = nullptr;
  decltype(&pa_simple_write) write = nullptr;
  decltype(&pa_simple_drain) drain = nullptr;
  decltype(&pa_simple_free) close = nullptr;
};

template <typename Function>
bool LookUp(void* library, const char* name, Function& function) {
  function = reinterpret_cast<Function>(dlsym(library, name));
  return function != nullptr;
}

// Opens the library for good (it stays loaded to the end, as a linked one would); nothing when it
// is missing or lacks a call.
std::optional<PulseSimpleCalls> OpenPulseSimple() {
  void* library = dlopen(kPulseSimpleLibrary, RTLD_NOW | RTLD_LOCAL);
  if (library == nullptr) return std::nullopt;
  PulseSimpleCalls calls;
  if (!LookUp(library, "pa_simple_new", calls.open) ||
      !LookUp(library, "pa_simple_write", calls.write) ||
      !LookUp(library, "pa_simple_drain", calls.drain) ||
      !LookUp(library, "pa_simple_free", calls.close)) {
    dlclose(library);
    return std::nullopt;
  }
  return calls;
}

class PulseAlertSound : public AlertSound {
 public:
  ~PulseAlertSound() override {
    {
      std::lock_guard lock(mutex_);
      stopping_ = true;
    }
    wake_.notify_one();
    if (worker_.joinable()) worker_.join();
  }

  void Play() override {
    {
      std::lock_guard lock(mutex_);
      // A Play while the sound plays asks for one more run, never a queue of them.
      pending_ = true;
      if (!worker_.joinable()) worker_ = std::thread([this] { Run(); });
    }
    wake_.notify_one();
  }

 private:
  void Run() {
    // Opened here, off the window's thread: loading the library takes a few milliseconds.
    const std::optional<PulseSimpleCalls> calls = OpenPulseSimple();
    std::unique_lock lock(mutex_);
    while (true) {
      wake_.wait(lock, [this] { return pending_ || stopping_; });
      if (stopping_) return;
      pending_ = false;
      lock.unlock();
      if (calls) PlayOnce(*calls);
      lock.lock();
    }
  }

  bool Stopping() {
    std::lock_guard lock(mutex_);
    return stopping_;
  }

  void PlayOnce(const PulseSimpleCalls& pulse) {
    pa_sample_spec spec{};
    spec.format = PA_SAMPLE_U8;
    spec.rate = kSirenSampleRate;
    spec.channels = kSirenChannels;
    int error = 0;
    pa_simple* stream = pulse.open(nullptr, "Diskvigil", PA_STREAM_PLAYBACK, nullptr, "Alert",
                                   &spec, nullptr, nullptr, &error);
    if (!stream) return;  // no server, no device: silence
    const auto samples = SirenSamples();
    bool ok = true;
    for (std::size_t offset = 0; ok && offset < samples.size() && !Stopping();
         offset += kChunkBytes) {
      const auto piece = samples.subspan(offset, std::min(kChunkBytes, samples.size() - offset));
      ok = pulse.write(stream, piece.data(), piece.size(), &error) == 0;
    }
    if (ok && !Stopping()) pulse.drain(stream, &error);
    pulse.close(stream);
  }

  std::mutex mutex_;
  std::condition_variable wake_;
  bool pending_ = false;
  bool stopping_ = false;
  std::thread worker_;  // started by the first Play
};

}  // namespace

std::unique_ptr<AlertSound> CreateAlertSound() { return std::make_unique<PulseAlertSound>(); }

}  // namespace dv
