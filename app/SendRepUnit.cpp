#include "app/SendRepUnit.h"

#include <QMetaObject>
#include <exception>
#include <thread>

namespace dv {

void MailHome::Leave() {
  const std::lock_guard<std::mutex> guard(mutex_);
  window_ = nullptr;
}

bool MailHome::Post(std::function<void()> call) {
  // Held while queueing, so the window cannot go between the check and the queueing; the call
  // itself runs later, without the lock.
  const std::lock_guard<std::mutex> guard(mutex_);
  if (window_ == nullptr) return false;
  return QMetaObject::invokeMethod(window_, std::move(call), Qt::QueuedConnection);
}

int RunSendRep(const SendRepJob& job) {
  int mailOutcome = 255;
  const std::optional<MailSettings> settings = job.home->CallAndWait(job.readSettings);
  // Without the window there are no settings to send with and nowhere to show an outcome.
  if (!settings) return mailOutcome;

  MailResult result;
  {
    const std::lock_guard<std::timed_mutex> held(*job.lock);
    try {
      result = job.send ? job.send(*settings, job.report) : SendReportMail(*settings, job.report);
    } catch (const std::exception& error) {
      result = {1, error.what()};
    } catch (...) {
      result = {1, "unexpected failure"};
    }
  }
  mailOutcome = result.outcome;
  job.home->Post([show = job.showOutcome, result] { show(result); });
  return mailOutcome;
}

void StartSendRep(SendRepJob job) {
  std::thread([job = std::move(job)] { RunSendRep(job); }).detach();
}

}  // namespace dv
