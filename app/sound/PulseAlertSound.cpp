// The alert sound through PulseAudio's simple API (also served by PipeWire's Pulse server). The
// blocking calls run on one worker thread so Play never waits; no server means silence.
#include <pulse/error.h>
#include <pulse/simple.h>

#include <condition_variable>
#include <mutex>
#include <thread>

#include "app/AlertSound.h"

namespace dv {

namespace {

// Written in pieces so that closing the program does not wait for the whole sound.
constexpr std::size_t kChunkBytes = 800;  // 0.1 s

class PulseAlertSound : public AlertSound {
 public:
  PulseAlertSound() : worker_([this] { Run(); }) {}
  ~PulseAlertSound() override {
    {
      std::lock_guard lock(mutex_);
      stopping_ = true;
    }
    wake_.notify_one();
    worker_.join();
  }

  void Play() override {
    {
      std::lock_guard lock(mutex_);
      // A Play while the sound plays asks for one more run, never a queue of them.
      pending_ = true;
    }
    wake_.notify_one();
  }

 private:
  void Run() {
    std::unique_lock lock(mutex_);
    while (true) {
      wake_.wait(lock, [this] { return pending_ || stopping_; });
      if (stopping_) return;
      pending_ = false;
      lock.unlock();
      PlayOnce();
      lock.lock();
    }
  }

  bool Stopping() {
    std::lock_guard lock(mutex_);
    return stopping_;
  }

  void PlayOnce() {
    pa_sample_spec spec{};
    spec.format = PA_SAMPLE_U8;
    spec.rate = kSirenSampleRate;
    spec.channels = kSirenChannels;
    int error = 0;
    pa_simple* stream = pa_simple_new(nullptr, "Diskvigil", PA_STREAM_PLAYBACK, nullptr, "Alert",
                                      &spec, nullptr, nullptr, &error);
    if (!stream) return;  // no server, no device: silence
    const auto samples = SirenSamples();
    bool ok = true;
    for (std::size_t offset = 0; ok && offset < samples.size() && !Stopping();
         offset += kChunkBytes) {
      const auto piece = samples.subspan(offset, std::min(kChunkBytes, samples.size() - offset));
      ok = pa_simple_write(stream, piece.data(), piece.size(), &error) == 0;
    }
    if (ok && !Stopping()) pa_simple_drain(stream, &error);
    pa_simple_free(stream);
  }

  std::mutex mutex_;
  std::condition_variable wake_;
  bool pending_ = false;
  bool stopping_ = false;
  std::thread worker_;  // last: starts once the members above exist
};

}  // namespace

std::unique_ptr<AlertSound> CreateAlertSound() { return std::make_unique<PulseAlertSound>(); }

}  // namespace dv
