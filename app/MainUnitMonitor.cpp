// The drives on the window side: the enumeration into the list and the icons, the information
// panel, the shown S.M.A.R.T. read and the monitoring pass with its warnings.
#include <QAction>
#include <QCheckBox>
#include <QComboBox>
#include <QDateTime>
#include <QFileDialog>
#include <QGroupBox>
#include <QLabel>
#include <QPixmap>
#include <QStatusBar>
#include <QTimer>
#include <QToolButton>
#include <ctime>
#include <set>

#include "app/AlertSound.h"
#include "app/HealthColors.h"
#include "app/MainUnit.h"
#include "app/TemperatureIcons.h"
#include "app/VendorLogos.h"
#include "core/AttributeRows.h"
#include "core/Enumerate.h"
#include "core/Health.h"
#include "core/Identify.h"
#include "core/Monitor.h"
#include "core/Nvme.h"
#include "core/PowerMode.h"
#include "core/Temperatures.h"
#include "core/TextReport.h"
#include "settings/IniFile.h"
#include "ui/Controls.h"
#include "ui/Dialogs.h"
#include "ui/SMARTFormUnit.h"
#include "ui/SMTPUnit.h"
#include "ui/UpDown.h"

namespace dv {

namespace {

// Marks a pass as running for its whole length, however it ends.
class PassGuard {
 public:
  explicit PassGuard(bool& running) : running_(running) { running_ = true; }
  ~PassGuard() { running_ = false; }
  PassGuard(const PassGuard&) = delete;
  PassGuard& operator=(const PassGuard&) = delete;

 private:
  bool& running_;
};

QString TemperatureText(uint8_t degrees) {
  return degrees == 0 ? kNoValue : QString::number(degrees);
}

// Shown in grey for what NVMe drives do not have.
constexpr const char* kNotApplicableHint = "Not applicable to NVMe drives";

// Below the S.M.A.R.T. window's table when an NVMe drive's health log could not be read.
constexpr const char* kHealthLogNeedsRootNote =
    "Temperature only: reading the NVMe health log needs root, for example "
    "\"sudo diskvigil-cli smart N\" for drive N.";

// The verdict's reasons: the set critical-warning bits, one per line.
QString CriticalWarningHint(uint8_t criticalWarning) {
  QStringList names;
  for (const std::string& name : NvmeCriticalWarningNames(criticalWarning)) {
    names << QString::fromStdString(name);
  }
  return names.join('\n');
}

}  // namespace

bool TMainForm::EnumerateHDDs() {
  HDDCB->setCurrentIndex(-1);
  HDDCB->clear();
  if (!ProbeDrives(*context_.driveSystem, drives_)) return false;

  TemperatureIcons& icons = *context_.icons;
  for (int position = 1; position <= drives_.DriveCount; ++position) {
    const Drive& drive = drives_.At(position);
    const int index = position - 1;
    icons.SetFontColor(index, drive.TrayFontColor);
    icons.SetBackColor(index, drive.TrayBackColor);
    HDDTempTrayCB[index]->setEnabled(true);
    if (drive.TrayIconOn) HDDTempTrayCB[index]->setChecked(true);
    HDDCB->addItem(QString::fromStdString(drive.ModelText));
    icons.SetHint(index, drive.ModelNumber);
    icons.SetVisible(index, drive.TrayIconOn);
  }
  SetFeatureLabelsEnabled(drives_.At(drives_.DriveCount));

  if (BallHCB->isChecked()) {
    icons.ShowBalloon(drives_.DriveCount - 1, "HDDs", DriveListBalloonText(drives_),
                      BalloonKind::Info, kBalloonSeconds);
  }
  HDDCB->setCurrentIndex(0);
  ShowHDDInfo(1);
  SMARTT->setInterval(HDDRefreshIntUD->Position() * 1000);
  SMARTT->start();
  CheckHDDs();
  return true;
}

void TMainForm::SetFeatureLabelsEnabled(const Drive& drive) {
  // LBA48, HPA and Security are ATA features: grey for an NVMe drive, whatever its record holds.
  const bool ata = !drive.IsNvme();
  HDDLBA48L->setEnabled(ata && drive.LBA48);
  for (QLabel* label : {HDDHPAL, HDDHPANL, HDDHPAUL}) label->setEnabled(ata && drive.HPAEnabled);
  HDDSecML->setEnabled(ata && drive.SecurityEnabled);
  HDDSMARTL->setEnabled(drive.SMARTEnabled);
  const QString hint = ata ? QString() : QString(kNotApplicableHint);
  for (QLabel* label : {HDDLBA48L, HDDHPAL, HDDSecML}) label->setToolTip(hint);
  AAMGB->setEnabled(ata);
  APMGB->setEnabled(ata);
  AAMGB->setToolTip(hint);
  APMGB->setToolTip(hint);
  // Nor is sector 0 read through the ATA path for it.
  MBRReadSB->setEnabled(ata);
}

void TMainForm::ShowHDDInfo(int position) {
  if (!drives_.IsListed(position)) return;
  const Drive& drive = drives_.At(position);

  // White until the label is first painted: the maker's name is drawn then (see PaintPendingLogo),
  // as a hidden window at start would draw it for nobody.
  QPixmap logo(121, 33);
  logo.fill(Qt::white);
  HDDLogoI->setPixmap(logo);
  pendingLogo_ = LogoIndexForVendorCode(drive.VendorCode);

  HDDSNL->setText(QString::fromStdString(drive.SerialNumber));
  HDDFirmwareL->setText(QString::fromStdString(drive.FirmwareRevision));
  HDDModelL->setText(QString::fromStdString(drive.ModelNumber));
  HDDSizeL->setText(QString::number(drive.CapacityGB));
  SetFeatureLabelsEnabled(drive);
  // The AAM and APM state is read anew for every drive shown.
  AAMGet->trigger();
  APMGet->trigger();
  if (drive.HPAEnabled) {
    HDDHPAUL->setText(drive.HPASizeMB < 0 ? kNoValue : QString::number(drive.HPASizeMB));
  } else if (drive.IsNvme()) {
    HDDHPAUL->setText(kNoValue);  // not an ATA drive's size left over from the one shown before
  }
  for (QLabel* label : {HDDTempNL, HDDTempL, HDDTempLoL, HDDTempHiL, HDDAirTempL}) {
    label->setEnabled(drive.SMARTEnabled);
  }
}

void TMainForm::PaintPendingLogo() {
  if (!pendingLogo_) return;
  const QImage picture = VendorLogo(*pendingLogo_);
  pendingLogo_.reset();
  if (!picture.isNull()) HDDLogoI->setPixmap(QPixmap::fromImage(picture));
}

bool TMainForm::ReadSMARTShown(int position) {
  if (!drives_.IsListed(position)) return false;
  const ReadSmartResult result = ReadSMART(*context_.driveSystem, drives_, position, sectors_);
  mailReports_.NoteVerdict(drives_, position, result);
  ShowReading(position, result);
  MarkCautionRows(position);
  return result.Passed();
}

void TMainForm::ShowReading(int position, const ReadSmartResult& result) {
  const Drive& drive = drives_.At(position);
  const Health health = HealthOf(drive, result);
  if (HasVerdict(health)) {
    const std::string_view text = VerdictText(health);
    const QString verdict = QString::fromUtf8(text.data(), static_cast<qsizetype>(text.size()));
    SMARTStatusL->setText(verdict);
    smartForm_->SMARTStatusL->setText(verdict);
    // An NVMe verdict names its reasons on the status labels' hints (without privilege the
    // temperature alarm stands for the temperature bit).
    const QString reasons =
        drive.IsNvme() ? CriticalWarningHint(drive.NvmeCriticalWarning) : QString();
    SMARTStatusL->setToolTip(reasons);
    smartForm_->SMARTStatusL->setToolTip(reasons);
  }
  if (!result.sectorsRead) return;  // labels and grid keep the last good read
  if (drive.IsNvme()) {
    ShowNvmeReading(drive);
    return;
  }
  smartForm_->ShowNote(QString());
  const Temperatures temperatures = GetTemperatures(sectors_.SMARTData);
  HDDTempL->setText(QString::number(temperatures.Current));
  HDDTempLoL->setText(TemperatureText(temperatures.Low));
  HDDTempHiL->setText(TemperatureText(temperatures.High));
  HDDAirTempL->setText(TemperatureText(temperatures.Airflow));
  smartForm_->ShowRows(BuildAttributeRows(sectors_, smartForm_->Presentation()));
}

// The composite temperature; the log's warning and critical thresholds are not airflow figures,
// so the low, high and airflow labels keep "...". Without the log the table stays empty and a
// note says how to get it.
void TMainForm::ShowNvmeReading(const Drive& drive) {
  const std::optional<int32_t> celsius = drive.ReportedTemperature();
  HDDTempL->setText(celsius ? QString::number(*celsius) : kNoValue);
  for (QLabel* label : {HDDTempLoL, HDDTempHiL, HDDAirTempL}) label->setText(kNoValue);
  const bool logHeld = sectors_.NvmeLogHeld;
  smartForm_->ShowRows(logHeld ? BuildAttributeRows(sectors_, smartForm_->Presentation())
                               : std::vector<AttributeRow>());
  smartForm_->ShowNote(logHeld || !drive.NvmeHealthLogNeedsRoot ? QString()
                                                                : QString(kHealthLogNeedsRootNote));
}

void TMainForm::UpdateTrayIcon(int position) {
  const Drive& drive = drives_.At(position);
  if (!drive.TrayIconOn) return;  // a hidden icon keeps its old text
  TemperatureIcons& icons = *context_.icons;
  const int index = position - 1;
  if (drive.SMARTEnabled) {
    const std::optional<int32_t> celsius = drive.ReportedTemperature();
    icons.SetText(index, celsius ? std::to_string(*celsius) : "...");
  } else {
    icons.SetText(index, "---");
  }
  const bool caution = counterWarnings_.Caution(position);
  icons.SetBorderColor(index, HealthColor(WithCaution(StoredHealth(drive), caution)));
}

void TMainForm::CheckHDDs() {
  // Passes never overlap: the timer rests while one runs, and a pass asked for from inside one
  // (anything during the pass that lets the event loop run, such as a Refresh click waiting in
  // the queue) is dropped: the running pass is reading those drives already.
  if (passRunning_) return;
  const PassGuard running(passRunning_);
  const bool timerWasActive = SMARTT->isActive();
  SMARTT->stop();
  std::vector<std::string> told;  // counter rises new in this pass
  const PassOutcome outcome = monitor_->CheckHDDs(
      SelectedPosition(), [&](const PositionReading& reading, const SmartSectors& sectors) {
        mailReports_.NoteVerdict(drives_, reading.position, reading.result);
        counterWarnings_.Watch(reading, sectors, drives_, told);
        selfTestWatch_.Take(reading, sectors);
        history_.Take(drives_, reading, sectors, counterWarnings_.Caution(reading.position));
        if (reading.shown && reading.monitored && !reading.asleep) {
          ShowReading(reading.position, reading.result);
        }
        if (reading.shown) MarkCautionRows(reading.position);
        UpdateTrayIcon(reading.position);
        ShowSleepState(reading);
      });
  SMARTRunL->setText(QString::fromUtf8(outcome.activityMark.data(),
                                       static_cast<qsizetype>(outcome.activityMark.size())));
  if (!outcome.good) {
    RaiseWarnings(told);
  } else if (!told.empty()) {
    WarnOfRises(told);
  }
  if (const auto error = counterWarnings_.Save()) {
    StatusSB->showMessage(QString::fromStdString(*error));
  }
  if (const auto error = history_.WritePass())
    StatusSB->showMessage(QString::fromStdString(*error));
  if (timerWasActive) SMARTT->start();
  SendReportDueDuringPass();
}

void TMainForm::SendReportDueDuringPass() {
  // A report that fell due while the pass held the window goes out once, now that it is over.
  if (mailReports_.TakeReportDueDuringPass()) SMTPReportsTimerTimer();
}

// A drive left asleep keeps its last reading; its icon's hint, and the status bar while it is the
// selected one, say so and how old that reading is. Both go back once it is read again.
void TMainForm::ShowSleepState(const PositionReading& reading) {
  const size_t index = static_cast<size_t>(reading.position - 1);
  const Drive& drive = drives_.At(reading.position);
  const std::string asleep = reading.asleep ? AsleepText(reading.readingAge) : std::string();
  if (reading.asleep) {
    context_.icons->SetHint(static_cast<int>(index), drive.ModelNumber + " - " + asleep);
    asleepHint_[index] = true;
  } else if (asleepHint_[index]) {
    context_.icons->SetHint(static_cast<int>(index), drive.ModelNumber);
    asleepHint_[index] = false;
  }
  if (!reading.shown) return;
  if (reading.asleep) {
    StatusSB->showMessage(QString("HDD%1: %2").arg(reading.position).arg(asleep.c_str()));
    asleepStatusShown_ = true;
  } else if (asleepStatusShown_) {
    StatusSB->clearMessage();
    asleepStatusShown_ = false;
  }
}

void TMainForm::CounterWarningsToggled(bool on) {
  const std::string notes = counterWarnings_.Switch(on, drives_);
  if (!notes.empty()) StatusSB->showMessage(QString::fromStdString(notes));
  for (int position = 1; position <= drives_.DriveCount; ++position) UpdateTrayIcon(position);
  MarkCautionRows(SelectedPosition());
}

void TMainForm::WarnOfRises(const std::vector<std::string>& told) {
  if (BallHCB->isChecked()) {
    std::string text;
    for (const std::string& line : told) text += (text.empty() ? "" : "\n") + line;
    context_.icons->ShowBalloon(drives_.DriveCount - 1, "Counter Warning", text,
                                BalloonKind::Warning, kBalloonSeconds);
  }
  if (smtpForm_->SMTPWarningsCB->isChecked()) StartMailReport(told);
}

void TMainForm::MarkCautionRows(int position) {
  if (!smartForm_) return;
  smartForm_->MarkCautionRows(drives_.IsListed(position) ? counterWarnings_.CautionIds(position)
                                                         : std::set<uint8_t>());
}

void TMainForm::RaiseWarnings(const std::vector<std::string>& notes) {
  // One warning per pass, however many drives failed.
  if (AlertCB->isChecked() && context_.sound != nullptr) context_.sound->Play();
  if (BallHCB->isChecked()) {
    context_.icons->ShowBalloon(drives_.DriveCount - 1, "Error", "S.M.A.R.T. failure detected!",
                                BalloonKind::Error, kBalloonSeconds);
  }
  if (smtpForm_->SMTPWarningsCB->isChecked()) StartMailReport(notes);
}

void TMainForm::SaveSMARTReport() {
  const std::optional<QString> file = context_.dialogs->SaveFile(SaveLogDialog());
  if (!file) return;
  const ReportIdentity identity{HDDModelL->text().toStdString(), HDDFirmwareL->text().toStdString(),
                                HDDSNL->text().toStdString()};
  const std::vector<AttributeRow> rows = smartForm_->Rows();
  const std::string text = BuildSMARTReport(identity, rows, ReportLocalTime(std::time(nullptr)));
  if (const auto error = WriteReportFile(file->toStdString(), text)) {
    context_.dialogs->Message(smartForm_.get(), windowTitle(), QString::fromStdString(*error),
                              MessageKind::Error);
  }
}

}  // namespace dv
