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

void TMainForm::ConnectMailHandlers() {
  smtpForm_->onDelayClicked = [this](int) { SMTPDelayUDClick(); };
  smtpForm_->onSendTestReport = [this] { SendSMTPRepSBClick(); };
}

void TMainForm::SMTPReportsTimerTimer() { StartMailReport(); }

void TMainForm::SMTPDelayUDClick() {
  mailReports_.SetDelayMinutes(smtpForm_->SMTPDelayUD->Position());
}

void TMainForm::SendSMTPRepSBClick() { StartMailReport(); }

void TMainForm::StartMailReport(const std::vector<std::string>& notes) {
  if (context_.mailLock == nullptr) return;
  const std::vector<ReportDrive> listed = mailReports_.Listed(drives_);
  const auto now = std::chrono::system_clock::now();
  SendRepJob job;
  job.report =
      context_.composeReport ? context_.composeReport(listed, now) : ComposeReport(listed, now);
  for (const std::string& note : notes) job.report.body += "\r\n" + note;
  if (!notes.empty()) job.report.body += "\r\n";
  job.home = mailHome_.Home();
  job.lock = context_.mailLock->Share();
  job.send = context_.sendReport;
  job.starting = context_.mailLock->Starting();
  job.readSettings = [this, starting = job.starting] {
    ++*starting;
    return ReadMailSettings();
  };
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
