#include "app/SendRepUnit.h"

#include <QMetaObject>
#include <exception>
#include <system_error>
#include <thread>

namespace dv {

MailHomeLease::MailHomeLease()
    : home_(std::make_shared<MailHome>()), door_(std::make_unique<MailDoor>(*home_)) {
  home_->Open(door_.get());
}

MailHomeLease::~MailHomeLease() {
  home_->Leave();
  // Knocks still queued go with the door.
  door_.reset();
}

void MailHome::Open(QObject* door) {
  const std::lock_guard<std::mutex> guard(mutex_);
  door_ = door;
}

void MailHome::Leave() {
  std::vector<std::function<void()>> dropped;
  {
    const std::lock_guard<std::mutex> guard(mutex_);
    door_ = nullptr;
    dropped.swap(pending_);
  }
  // Destroyed here, outside the lock: a dropped wait for the settings wakes its worker.
}

bool MailHome::Post(std::function<void()> call) {
  const std::lock_guard<std::mutex> guard(mutex_);
  if (door_ == nullptr) return false;
  pending_.push_back(std::move(call));
  // Knocking under the lock: the door cannot go in between, and the window thread finds the
  // call once it takes the lock itself.
  return QMetaObject::invokeMethod(door_, "Knock", Qt::QueuedConnection);
}

void MailHome::RunPending() {
  std::vector<std::function<void()>> calls;
  {
    const std::lock_guard<std::mutex> guard(mutex_);
    calls.swap(pending_);
  }
  for (const auto& call : calls) call();
}

int RunSendRep(const SendRepJob& job) {
  int mailOutcome = 255;
  const std::optional<MailSettings> settings = job.home->CallAndWait(job.readSettings);
  // Without the window there are no settings to send with and nowhere to show an outcome.
  if (!settings) return mailOutcome;
  // readSettings counted this mail as starting; it ends with the exchange, whatever that gives.
  struct EndOfStart {
    std::atomic<int>* count;
    ~EndOfStart() {
      if (count != nullptr) --*count;
    }
  } endOfStart{job.starting.get()};

  MailResult result;
  {
    const std::lock_guard<std::mutex> held(*job.lock);
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

bool StartSendRep(SendRepJob job) {
  try {
    std::thread([job = std::move(job)] { RunSendRep(job); }).detach();
    return true;
  } catch (const std::system_error&) {
    return false;  // the system has no thread to spare
  }
}

}  // namespace dv
