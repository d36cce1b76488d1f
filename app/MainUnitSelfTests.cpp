// Self-tests on the window side: the Self-Tests window of the selected drive with its buttons and
// both logs, the followed test's progress, and the two settings of all drives: "Self-Test
// Warnings" and "Self-Test Every" N days. The logs are read by the shared watch (core/) from the
// drives the monitoring passes found awake, once a minute at most.
#include <QCheckBox>
#include <QLabel>
#include <QPushButton>
#include <QSpinBox>
#include <QStatusBar>
#include <QTimer>

#include "app/AlertSound.h"
#include "app/MainUnit.h"
#include "app/TemperatureIcons.h"
#include "core/PowerMode.h"
#include "ui/SMTPUnit.h"
#include "ui/SelfTestWindow.h"

namespace dv {
namespace {

QString ProgressText(const SelfTestLogReading& log) {
  if (!log.read) return QString::fromStdString(log.reason);
  if (!log.running) return "No self-test running";
  return QString("Self-test running: %1% remaining").arg(log.remainingPercent);
}

QString StartText(SelfTestKind kind, const SelfTestStart& start) {
  if (start.outcome != SelfTestStart::Outcome::Started) {
    return "Not started: " + QString::fromStdString(start.reason);
  }
  if (kind == SelfTestKind::Abort) return "Self-test aborted";
  QString text =
      kind == SelfTestKind::Short ? "Short self-test started" : "Extended self-test started";
  if (start.pollingMinutes > 0) {
    text += QString("; the drive expects it to take %1 minutes").arg(start.pollingMinutes);
  }
  return text;
}

}  // namespace

void TMainForm::SelfTestSBClick() {
  TSelfTestForm& window = SelfTestForm();
  window.show();
  window.raise();
}

TSelfTestForm& TMainForm::SelfTestForm() {
  if (selfTestForm_ == nullptr) {
    selfTestForm_ = std::make_unique<TSelfTestForm>(this);
    TSelfTestForm& window = *selfTestForm_;
    window.isExiting = [this] { return exiting_; };
    window.onStart = [this](SelfTestKind kind) { StartSelfTestClick(kind); };
    window.SelfTestWarningsCB->setChecked(selfTestWarnings_);
    window.SelfTestEveryE->setValue(selfTestDays_);
    connect(window.SelfTestWarningsCB, &QCheckBox::toggled, this,
            [this](bool on) { SetSelfTestSettings(on, selfTestDays_); });
    connect(window.SelfTestEveryE, &QSpinBox::valueChanged, this,
            [this](int days) { SetSelfTestSettings(selfTestWarnings_, days); });
  }
  FillSelfTestForm();
  return *selfTestForm_;
}

void TMainForm::SetSelfTestSettings(bool warnings, int days) {
  selfTestWarnings_ = warnings;
  selfTestDays_ = std::max(0, days);
  selfTestWatch_.SetDays(selfTestDays_);
  if (selfTestForm_) {
    selfTestForm_->SelfTestWarningsCB->setChecked(selfTestWarnings_);
    selfTestForm_->SelfTestEveryE->setValue(selfTestDays_);
  }
  UpdateSelfTestTimer();
}

void TMainForm::FillSelfTestForm() {
  TSelfTestForm& window = *selfTestForm_;
  selfTestFormPosition_ = SelectedPosition();
  const bool listed = drives_.IsListed(selfTestFormPosition_);
  for (QWidget* button : {window.ShortB, window.ExtendedB, window.AbortB}) {
    button->setEnabled(listed && drives_.At(selfTestFormPosition_).SMARTEnabled);
  }
  if (!listed) {
    window.ShowDrive("no drive");
    window.ShowSelfTestLog({false, "no drive", {}, false, 0});
    window.ShowErrorLog({false, "no drive", {}});
    window.ShowProgress(QString());
    return;
  }
  const Drive& drive = drives_.At(selfTestFormPosition_);
  window.ShowDrive(QString("HDD%1: %2")
                       .arg(selfTestFormPosition_)
                       .arg(QString::fromStdString(drive.ModelNumber)));
  const SelfTestLogReading log = ReadSelfTestLog(*context_.driveSystem, drive);
  window.ShowSelfTestLog(log);
  window.ShowErrorLog(ReadErrorLog(*context_.driveSystem, drive));
  window.ShowProgress(ProgressText(log));
  // A test started elsewhere (the command line, the schedule) is followed as well.
  if (log.running && !followed_) {
    followed_ = selfTestFormPosition_;
    UpdateSelfTestTimer();
  }
}

void TMainForm::StartSelfTestClick(SelfTestKind kind) {
  const int position = selfTestFormPosition_;
  if (!drives_.IsListed(position)) return;
  const Drive& drive = drives_.At(position);
  const SelfTestStart start = StartSelfTest(*context_.driveSystem, drive, kind);
  const bool started = start.outcome == SelfTestStart::Outcome::Started;
  if (started && kind != SelfTestKind::Abort) {
    followed_ = position;
  } else if (started && followed_ == position) {
    followed_.reset();
  }
  selfTestForm_->ShowProgress(StartText(kind, start));
  if (started && kind == SelfTestKind::Abort) {
    selfTestForm_->ShowSelfTestLog(ReadSelfTestLog(*context_.driveSystem, drive));
  }
  UpdateSelfTestTimer();
}

void TMainForm::SelfTestTTimer() {
  if (passRunning_) return;  // a tick while a pass lets events run waits for the next minute
  if (selfTestDays_ > 0 || selfTestWarnings_) LookAtSelfTests();
  if (followed_) PollSelfTest(*followed_);
  UpdateSelfTestTimer();
}

void TMainForm::LookAtSelfTests() {
  const SelfTestLook look = selfTestWatch_.Look(selfTestWarnings_);
  std::vector<std::string> lines;
  for (const auto& [position, warned] : look.warnings) {
    for (const std::string& line : warned) {
      lines.push_back("HDD" + std::to_string(position) + " " + drives_.At(position).ModelNumber +
                      ": " + line);
    }
  }
  if (!lines.empty()) WarnOfSelfTests(lines);
  if (look.scheduled) {
    StatusSB->showMessage(QString("HDD%1: %2")
                              .arg(look.scheduled->position)
                              .arg(QString::fromStdString(ScheduledSelfTestText(*look.scheduled))));
    if (look.scheduled->start.outcome == SelfTestStart::Outcome::Started && !followed_) {
      followed_ = look.scheduled->position;
    }
  }
}

// One look at the followed test; a drive found asleep with "Skip Sleeping Drives" on is left so
// and asked again at the next tick.
void TMainForm::PollSelfTest(int position) {
  if (!drives_.IsListed(position)) {
    followed_.reset();
    return;
  }
  const Drive& drive = drives_.At(position);
  if (SkipSleepCB->isChecked() && !drive.IsNvme() &&
      ReadPowerMode(*context_.driveSystem, drive.DriveNumber) == PowerMode::Standby) {
    return;
  }
  const SelfTestLogReading log = ReadSelfTestLog(*context_.driveSystem, drive);
  if (!log.running) followed_.reset();
  if (!selfTestForm_ || selfTestFormPosition_ != position) return;
  selfTestForm_->ShowProgress(ProgressText(log));
  if (!log.running) {
    selfTestForm_->ShowSelfTestLog(log);
    selfTestForm_->ShowErrorLog(ReadErrorLog(*context_.driveSystem, drive));
  }
}

// As a failing verdict warns: the sound, a balloon with the lines, and the warning mail with them.
void TMainForm::WarnOfSelfTests(const std::vector<std::string>& lines) {
  if (AlertCB->isChecked() && context_.sound != nullptr) context_.sound->Play();
  if (BallHCB->isChecked()) {
    std::string text;
    for (const std::string& line : lines) text += (text.empty() ? "" : "\n") + line;
    context_.icons->ShowBalloon(drives_.DriveCount - 1, "Self-Test Warning", text,
                                BalloonKind::Error, kBalloonSeconds);
  }
  if (smtpForm_->SMTPWarningsCB->isChecked()) StartMailReport(lines);
}

void TMainForm::UpdateSelfTestTimer() {
  const bool wanted = !exiting_ && (selfTestDays_ > 0 || selfTestWarnings_ || followed_);
  if (wanted && !SelfTestT->isActive()) {
    SelfTestT->start();
  } else if (!wanted) {
    SelfTestT->stop();
  }
}

}  // namespace dv
