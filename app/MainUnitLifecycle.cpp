// The main window's life: the start-up sequence, hiding instead of closing, the exit path, the
// session end and suspend and resume.
#include <QApplication>
#include <QCheckBox>
#include <QCloseEvent>
#include <QComboBox>
#include <QLabel>
#include <QTimer>

#include "app/MainUnit.h"
#include "app/SingleInstance.h"
#include "app/TemperatureIcons.h"
#include "ui/Dialogs.h"
#include "ui/MBRUnit.h"
#include "ui/SMARTFormUnit.h"
#include "ui/SMTPUnit.h"
#include "ui/UpDown.h"

namespace dv {

StartupResult TMainForm::FormCreate() {
  // The window stays hidden: only the temperature icons show at start.
  QApplication::processEvents();

  const OsInfo os = context_.queryOsInfo ? context_.queryOsInfo() : OsInfo{};
  if (!os.label.empty()) OSL->setText(QString::fromStdString(os.label));
  if (!os.ntBased) {
    context_.dialogs->Message(nullptr, QApplication::applicationName(), "Not Windows NT-based OS!",
                              MessageKind::Plain);
    return StartupResult::NotNtBased;
  }

  if (context_.acquireInstanceLock) {
    instanceLock_ = context_.acquireInstanceLock();
    if (instanceLock_ != nullptr && !instanceLock_->Acquired()) {
      instanceLock_.reset();
      return StartupResult::SecondInstance;
    }
  }

  VersionL->setText(QString::fromStdString(context_.version));
  if (context_.raisePriority) context_.raisePriority();

  for (Drive& drive : drives_.Drives) {
    drive.TrayFontColor = kDefaultTrayFontColor;
    drive.TrayBackColor = kDefaultTrayBackColor;
  }
  smtpForm_ = std::make_unique<TSMTPForm>();
  smtpForm_->isExiting = [this] { return exiting_; };
  smtpForm_->onReportsSwitched = [this](bool on) {
    if (on) {
      SMTPReportsTimer->start();
    } else {
      SMTPReportsTimer->stop();
    }
  };
  ConnectMailHandlers();
  smartForm_ = std::make_unique<TSMARTForm>();
  smartForm_->isExiting = [this] { return exiting_; };
  smartForm_->onReadRequested = [this] { ReadSMARTShown(SelectedPosition()); };
  smartForm_->onSaveRequested = [this] { SaveSMARTReport(); };

  LoadSettings();
  PaintSwatchesAndIcons();
  ReadAutorunState();
  smartForm_->WriteHeadings();

  if (!EnumerateHDDs()) {
    context_.dialogs->Message(nullptr, "Warning", "S.M.A.R.T. HDD(s) not found!",
                              MessageKind::Warning);
    return StartupResult::NoDrive;
  }
  // A settings file may have every listed icon switched off; the window would then be out of
  // reach, so the first listed icon is shown after all.
  ApplyAtLeastOneIconRule();
  if (smtpForm_->SMTPReportsCB->isChecked()) SMTPReportsTimer->start();
  return StartupResult::Running;
}

void TMainForm::CreateMBRForm() { mbrFormAllowed_ = true; }

TMBRForm* TMainForm::MBRForm() const {
  if (mbrForm_ == nullptr && mbrFormAllowed_) {
    mbrForm_ = std::make_unique<TMBRForm>();
    mbrForm_->isExiting = [this] { return exiting_; };
  }
  return mbrForm_.get();
}

void TMainForm::closeEvent(QCloseEvent* event) {
  closeEventSeen_ = true;
  if (!exiting_) {
    // The close box only sends the program to the tray.
    event->ignore();
    Minimize1Click();
    return;
  }
  if (sessionEnding_) {
    // The session ends the process: nothing is saved and no mail is waited for.
    event->accept();
    return;
  }
  if (!FormCloseSteps()) {
    // The settings could not be saved: stay, as if Exit had not been chosen.
    exiting_ = false;
    event->ignore();
    return;
  }
  event->accept();
  if (context_.quit) context_.quit();
}

bool TMainForm::FormCloseSteps() {
  SMTPReportsTimer->stop();
  WaitForMailIdle();
  if (!SaveSettings()) return false;
  for (QDialog* window :
       {static_cast<QDialog*>(smartForm_.get()), static_cast<QDialog*>(mbrForm_.get()),
        static_cast<QDialog*>(smtpForm_.get())}) {
    if (window != nullptr) window->close();
  }
  if (drives_.DriveCount != 0) SMARTT->stop();
  SelfTestT->stop();
  instanceLock_.reset();
  return true;
}

void TMainForm::WaitForMailIdle() {
  if (context_.mailLock != nullptr) context_.mailLock->WaitForMailIdle(context_.mailIdleTimeout);
}

void TMainForm::Exit1Click() {
  exiting_ = true;
  sessionEnding_ = false;
  closeEventSeen_ = false;
  close();
  // A window the session already closed (a log-off that was then called off) hears no close
  // event any more; Exit runs the close steps all the same.
  if (!closeEventSeen_) {
    QCloseEvent event;
    closeEvent(&event);
  }
}

void TMainForm::Restore1Click() {
  show();
  setWindowState((windowState() & ~Qt::WindowMinimized) | Qt::WindowActive);
  raise();
  activateWindow();
}

void TMainForm::Minimize1Click() { setWindowState(windowState() | Qt::WindowMinimized); }

void TMainForm::HDDIClick(int) { Restore1Click(); }

void TMainForm::HDDIMinimizeToTray(int) {
  hide();
  QApplication::processEvents();
}

void TMainForm::QueryEndSession() {
  // The session ends the process; nothing is saved, also when the window is closed first.
  exiting_ = true;
  sessionEnding_ = true;
}

void TMainForm::SuspendSteps() {
  SMTPReportsTimer->stop();
  WaitForMailIdle();
  SMARTT->stop();
  SelfTestT->stop();
}

void TMainForm::ResumeSteps() {
  if (smtpForm_ != nullptr && smtpForm_->SMTPReportsCB->isChecked()) SMTPReportsTimer->start();
  // Monitoring restarts whatever the monitoring box shows.
  SMARTT->start();
  UpdateSelfTestTimer();
}

}  // namespace dv
