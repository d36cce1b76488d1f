// What the mail tests share: a sender that records every mail and can hold a send until the test
// lets it go, and a composer that records the drives it was given and numbers its reports.
#pragma once

#include <chrono>
#include <condition_variable>
#include <functional>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include "app/SendRepUnit.h"
#include "mail/ReportMail.h"

namespace dv::testing {

class RecordingSender {
 public:
  struct Sent {
    MailSettings settings;
    ReportText report;
  };

  // The function to hand in. While any copy of it lives, Alive() holds: a worker keeps one until
  // it ends, so the test can wait for every worker it started.
  ReportSender Function() {
    auto token = token_;
    return [this, token](const MailSettings& settings, const ReportText& report) {
      return Send(settings, report);
    };
  }

  // Forget our own copy; from then on Alive() says whether some worker still has one.
  void DropToken() { token_.reset(); }
  bool Alive() const { return !watch_.expired(); }

  void Hold() {
    const std::lock_guard<std::mutex> guard(mutex_);
    holding_ = true;
  }
  void Release() {
    {
      const std::lock_guard<std::mutex> guard(mutex_);
      holding_ = false;
    }
    changed_.notify_all();
  }
  void Answer(MailResult result) {
    const std::lock_guard<std::mutex> guard(mutex_);
    answer_ = std::move(result);
  }
  void Throw(bool on) {
    const std::lock_guard<std::mutex> guard(mutex_);
    throwing_ = on;
  }
  void Delay(std::chrono::milliseconds delay) {
    const std::lock_guard<std::mutex> guard(mutex_);
    delay_ = delay;
  }

  // Runs on the worker as a send ends; set it before the first send.
  std::function<void()> onFinish;

  std::vector<Sent> SentMails() const {
    const std::lock_guard<std::mutex> guard(mutex_);
    return sent_;
  }
  size_t Started() const {
    const std::lock_guard<std::mutex> guard(mutex_);
    return sent_.size();
  }
  size_t Finished() const {
    const std::lock_guard<std::mutex> guard(mutex_);
    return finished_;
  }
  int MostAtOnce() const {
    const std::lock_guard<std::mutex> guard(mutex_);
    return mostAtOnce_;
  }

 private:
  MailResult Send(const MailSettings& settings, const ReportText& report) {
    std::unique_lock<std::mutex> lock(mutex_);
    sent_.push_back({settings, report});
    mostAtOnce_ = std::max(mostAtOnce_, ++atOnce_);
    changed_.wait(lock, [this] { return !holding_; });
    const auto delay = delay_;
    lock.unlock();
    std::this_thread::sleep_for(delay);
    lock.lock();
    --atOnce_;
    ++finished_;
    if (onFinish) onFinish();
    if (throwing_) throw std::runtime_error("the sender broke");
    return answer_;
  }

  mutable std::mutex mutex_;
  std::condition_variable changed_;
  std::vector<Sent> sent_;
  bool holding_ = false;
  bool throwing_ = false;
  std::chrono::milliseconds delay_{0};
  MailResult answer_{0, ""};
  int atOnce_ = 0;
  int mostAtOnce_ = 0;
  size_t finished_ = 0;
  std::shared_ptr<int> token_ = std::make_shared<int>(0);
  std::weak_ptr<int> watch_ = token_;
};

// Runs on the window thread only.
struct RecordingComposer {
  std::vector<std::vector<ReportDrive>> calls;

  auto Function() {
    return [this](const std::vector<ReportDrive>& drives, std::chrono::system_clock::time_point) {
      calls.push_back(drives);
      const std::string number = std::to_string(calls.size());
      return ReportText{"report " + number, "body " + number + "\r\n"};
    };
  }
};

}  // namespace dv::testing
