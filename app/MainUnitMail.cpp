// Report and warning mails on the window side: composing a report of the listed drives, starting
// its worker, the report timer and the SMTP window's handlers.
#include <QApplication>
#include <QLineEdit>
#include <QStatusBar>
#include <QTimer>

#include "app/MainUnit.h"
#include "app/SendRepUnit.h"
#include "ui/SMTPUnit.h"
#include "ui/UpDown.h"

namespace dv {

namespace {

constexpr int kMillisecondsPerMinute = 60000;
// What the S.M.A.R.T. status label shows before any verdict.
constexpr const char* kNoVerdictText = "...";

}  // namespace

void TMainForm::ConnectMailHandlers() {
  smtpForm_->onDelayClicked = [this](int) { SMTPDelayUDClick(); };
  smtpForm_->onSendTestReport = [this] { SendSMTPRepSBClick(); };
}

void TMainForm::SMTPReportsTimerTimer() { StartMailReport(); }

void TMainForm::SMTPDelayUDClick() {
  // setInterval restarts a running timer's period, which only a changed delay should do.
  const int interval = smtpForm_->SMTPDelayUD->Position() * kMillisecondsPerMinute;
  if (interval != SMTPReportsTimer->interval()) SMTPReportsTimer->setInterval(interval);
}

void TMainForm::SendSMTPRepSBClick() { StartMailReport(); }

void TMainForm::NoteVerdict(int position, const ReadSmartResult& result) {
  if (!result.verdictReached || !drives_.IsListed(position)) return;
  const Drive& drive = drives_.At(position);
  verdicts_.at(static_cast<size_t>(position - 1)) = {drive.DriveNumber, drive.SerialNumber,
                                                     result.statusOK ? "O.K." : "ERROR"};
}

std::string TMainForm::VerdictText(int position) const {
  const Drive& drive = drives_.At(position);
  const VerdictNote& note = verdicts_.at(static_cast<size_t>(position - 1));
  // A verdict noted for another drive at this position (before a new enumeration) is not this
  // drive's.
  if (note.text.empty() || note.driveNumber != drive.DriveNumber ||
      note.serial != drive.SerialNumber) {
    return kNoVerdictText;
  }
  return note.text;
}

void TMainForm::StartMailReport(const std::vector<std::string>& notes) {
  if (context_.mailLock == nullptr) return;
  std::vector<ReportDrive> listed;
  for (int position = 1; position <= drives_.DriveCount; ++position) {
    const Drive& drive = drives_.At(position);
    listed.push_back({drive.ModelNumber, VerdictText(position), drive.ReportedTemperature()});
  }
  const auto now = std::chrono::system_clock::now();
  SendRepJob job;
  job.report =
      context_.composeReport ? context_.composeReport(listed, now) : ComposeReport(listed, now);
  for (const std::string& note : notes) job.report.body += "\r\n" + note;
  if (!notes.empty()) job.report.body += "\r\n";
  job.home = mailHome_.Home();
  job.lock = context_.mailLock->Share();
  job.send = context_.sendReport;
  job.readSettings = [this] { return ReadMailSettings(); };
  job.showOutcome = [this](const MailResult& result) { ShowMailOutcome(result); };
  if (!StartSendRep(std::move(job))) StatusSB->showMessage(kMailFailedText);
}

MailSettings TMainForm::ReadMailSettings() {
  QApplication::setOverrideCursor(Qt::WaitCursor);
  return smtpForm_->Settings();
}

void TMainForm::ShowMailOutcome(const MailResult& result) {
  StatusSB->showMessage(result.Ok() ? kMailSentText : kMailFailedText);
  QApplication::restoreOverrideCursor();
}

}  // namespace dv
