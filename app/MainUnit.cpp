// The main window's controls and their wiring. The other areas of TMainForm, one file each:
//   MainUnitLifecycle.cpp  start-up, hiding instead of closing, exit, session end, suspend/resume
//   MainUnitSettings.cpp   the settings file and the autorun entry
//   MainUnitMonitor.cpp    the drives, the information panel, the monitoring pass and its warnings
//   MainUnitMail.cpp       report and warning mails and the SMTP window's handlers
//   MainUnitIcons.cpp      the Icons group and the temperature icons
//   MainUnitFeatures.cpp   the AAM and APM groups
//   MainUnitMbr.cpp        "Get MBR"
//   MainUnitHistory.cpp    the History window
//   MainUnitSelfTests.cpp  self-tests, the drives' own logs and their warnings
//   MainUnitPictures.cpp   pictures of the windows for the documentation
// The state the window only shows lives in collaborators it holds: CounterWarnings (the counter
// rises standing) and MailReports (the report timer and the verdicts a report gives).
#include "app/MainUnit.h"

#include <QApplication>
#include <QCheckBox>
#include <QColorDialog>
#include <QComboBox>
#include <QEvent>
#include <QFileDialog>
#include <QGroupBox>
#include <QGuiApplication>
#include <QLabel>
#include <QLineEdit>
#include <QMenu>
#include <QPalette>
#include <QScreen>
#include <QStatusBar>
#include <QStyle>
#include <QTimer>
#include <QToolButton>

#include "app/AboutLinks.h"
#include "app/PowerEvents.h"
#include "app/SingleInstance.h"
#include "app/TemperatureIcons.h"
#include "core/Monitor.h"
#include "ui/ColorSwatch.h"
#include "ui/Controls.h"
#include "ui/Dialogs.h"
#include "ui/HistoryWindow.h"
#include "ui/MBRUnit.h"
#include "ui/SMARTFormUnit.h"
#include "ui/SMTPUnit.h"
#include "ui/SelfTestWindow.h"
#include "ui/TwoLineCheckBox.h"
#include "ui/UpDown.h"

namespace dv {

namespace {

constexpr int kMainClientWidth = 491;
constexpr int kMainClientHeight = 392;
constexpr int kRefreshMinimum = 15;
constexpr int kRefreshMaximum = 900;
constexpr int kRefreshStep = 15;
constexpr int kSmartTimerDesignInterval = 15000;
constexpr int kReportTimerDesignInterval = 1200000;
// A drive running a self-test, and the drives' logs, are asked at most once a minute.
constexpr int kSelfTestPollInterval = 60000;

// A label of the main window's 16-pixel rows; with no width it takes its text's when first shown.
QLabel* MakeRowLabel(const QString& text, QWidget* parent, int x, int y, int width = 0) {
  auto* label = new QLabel(text, parent);
  label->move(x, y);
  if (width > 0) label->resize(width, 16);
  return label;
}

}  // namespace

TMainForm::TMainForm(MainFormContext context, QWidget* parent)
    : QWidget(parent, Qt::Window | Qt::CustomizeWindowHint | Qt::WindowTitleHint |
                          Qt::WindowSystemMenuHint | Qt::WindowMinimizeButtonHint |
                          Qt::WindowCloseButtonHint),
      context_(std::move(context)),
      counterWarnings_(context_.counterStatePath),
      history_(context_.historyPath),
      selfTestWatch_(*context_.driveSystem, drives_) {
  setWindowTitle("Diskvigil");
  setFixedSize(kMainClientWidth, kMainClientHeight);
  // The layout is drawn for a small 11-pixel face.
  QFont small = font();
  small.setPixelSize(11);
  setFont(small);
  BuildTopRow();
  BuildInformationGroup();
  BuildFeatureGroups();
  BuildSettingsGroup();
  BuildIconsGroup();
  BuildAboutGroup();
  BuildMenuAndDialogs();
  if (const QScreen* screen = QGuiApplication::primaryScreen()) {
    move(screen->availableGeometry().center() - rect().center());
  }

  SMARTT = new QTimer(this);
  SMARTT->setInterval(kSmartTimerDesignInterval);
  SMTPReportsTimer = &mailReports_.Timer();
  SMTPReportsTimer->setInterval(kReportTimerDesignInterval);
  SelfTestT = new QTimer(this);
  SelfTestT->setInterval(kSelfTestPollInterval);

  monitor_ = std::make_unique<Monitor>(*context_.driveSystem, drives_, sectors_);
  ConnectHandlers();
}

TMainForm::~TMainForm() {
  // The icons outlive us; they must not call back into a destroyed window.
  if (context_.icons != nullptr) {
    context_.icons->onClick = nullptr;
    context_.icons->onMinimizeToTray = nullptr;
    context_.icons->SetPopupMenu(nullptr);
    context_.icons->SetOwner(nullptr);
  }
}

void TMainForm::BuildTopRow() {
  HDDNL = MakeRowLabel("HDD:", this, 6, 9);
  HDDCB = new QComboBox(this);
  HDDCB->setGeometry(36, 5, 402, 22);
  HDDRefreshSB =
      MakeSpeedButton(this, QStyle::SP_BrowserReload, "Refresh HDDs List", QRect(442, 5, 23, 22));
  MBRReadSB = MakeSpeedButton(this, QStyle::SP_DriveHDIcon, "Get MBR", QRect(466, 5, 23, 22));

  HDDGB = new QGroupBox(this);
  HDDGB->setGeometry(4, 30, 300, 30);
  SMARTNL = MakeRowLabel("S.M.A.R.T.:", HDDGB, 6, 7);
  SMARTStatusL = MakeRowLabel(kNoValue, HDDGB, 76, 7, 150);
  SetTextColor(SMARTStatusL, "blue");
  SMARTReadSB = MakeSpeedButton(HDDGB, QStyle::SP_FileDialogDetailedView, "Read S.M.A.R.T.",
                                QRect(272, 4, 23, 22));
  // In the free room left of it, past the verdict's label.
  HistorySB =
      MakeSpeedButton(HDDGB, QStyle::SP_FileDialogContentsView, "History", QRect(248, 4, 23, 22));
}

void TMainForm::BuildInformationGroup() {
  InformationGB = new QGroupBox("Information", this);
  // The identification rows on top, the AAM and APM groups below them.
  InformationGB->setGeometry(4, 62, 300, 234);
  QWidget* g = InformationGB;
  HDDSNNL = MakeRowLabel("Serial Number:", g, 8, 18);
  HDDSNL = MakeRowLabel(kNoValue, g, 120, 18, 172);
  HDDFirmwareNL = MakeRowLabel("Firmware Revision:", g, 8, 34);
  HDDFirmwareL = MakeRowLabel(kNoValue, g, 120, 34, 172);
  HDDModelNL = MakeRowLabel("Model Number:", g, 8, 50);
  HDDModelL = MakeRowLabel(kNoValue, g, 120, 50, 172);
  SetTextColor(HDDModelL, "blue");
  HDDSizeNL = MakeRowLabel("Size, GB:", g, 8, 66);
  HDDSizeL = MakeRowLabel(kNoValue, g, 120, 66, 50);
  SetTextColor(HDDSizeL, "blue");
  HDDHPANL = MakeRowLabel("HPA, MB:", g, 8, 82);
  HDDHPAUL = MakeRowLabel(kNoValue, g, 120, 82, 50);
  HDDHPANL->setEnabled(false);
  HDDHPAUL->setEnabled(false);

  HDDLogoI = new QLabel(g);
  HDDLogoI->setGeometry(172, 64, 121, 33);
  HDDLogoI->installEventFilter(this);

  HDDLBA48L = MakeRowLabel("LBA48", g, 8, 100, 50);
  HDDSMARTL = MakeRowLabel("S.M.A.R.T.", g, 62, 100, 70);
  HDDHPAL = MakeRowLabel("HPA", g, 136, 100, 40);
  HDDSecML = MakeRowLabel("Security", g, 180, 100, 70);
  SetTextColor(HDDSecML, "blue");

  HDDTempNL = MakeRowLabel("Temperature, \u00B0C:", g, 8, 116);
  HDDTempL = MakeRowLabel(kNoValue, g, 120, 116, 36);
  HDDTempL->setToolTip("Temperature");
  HDDTempLoL = MakeRowLabel(kNoValue, g, 160, 116, 36);
  HDDTempLoL->setToolTip("Low Airflow Temperature");
  SetTextColor(HDDTempLoL, "blue");
  HDDTempHiL = MakeRowLabel(kNoValue, g, 200, 116, 36);
  HDDTempHiL->setToolTip("High Airflow Temperature");
  SetTextColor(HDDTempHiL, "red");
  HDDAirTempL = MakeRowLabel(kNoValue, g, 240, 116, 36);
  HDDAirTempL->setToolTip("Airflow Temperature");
  for (QLabel* label : {HDDLBA48L, HDDSMARTL, HDDHPAL, HDDSecML, HDDTempNL, HDDTempL, HDDTempLoL,
                        HDDTempHiL, HDDAirTempL}) {
    label->setEnabled(false);
  }

  // The two feature groups, 48 pixels apart; their controls are made in MainUnitFeatures.cpp.
  AAMGB = new QGroupBox("AAM", g);
  AAMGB->setGeometry(8, 138, 221, 45);
  APMGB = new QGroupBox("APM", g);
  APMGB->setGeometry(8, 186, 221, 45);
  // In the free room right of the AAM group, under the column of the Read S.M.A.R.T. button.
  SelfTestSB = MakeSpeedButton(g, QStyle::SP_MediaPlay, "Self-Tests", QRect(272, 146, 23, 22));
}

void TMainForm::BuildSettingsGroup() {
  SettingsGB = new QGroupBox("Settings", this);
  SettingsGB->setGeometry(308, 30, 179, 146);
  QWidget* g = SettingsGB;
  SMARTMonCB = new QCheckBox("S.M.A.R.T. Monitoring", g);
  SMARTMonCB->setGeometry(8, 18, 150, 18);
  SMARTMonCB->setChecked(true);
  SMARTRunL = MakeRowLabel("-", g, 162, 19, 12);
  HDDRefreshIntNL = MakeRowLabel("Refresh Interval, s", g, 8, 42);
  HDDRefreshIntE = new QLineEdit(g);
  HDDRefreshIntE->setReadOnly(true);
  HDDRefreshIntE->setGeometry(122, 39, 36, 20);
  HDDRefreshIntUD = new UpDown(kRefreshMinimum, kRefreshMaximum, kRefreshStep, kRefreshMinimum, g);
  HDDRefreshIntUD->setGeometry(158, 39, 15, 20);
  HDDRefreshIntUD->SetAssociate(HDDRefreshIntE);
  AlertCB = new QCheckBox("Alert Sound", g);
  AlertCB->setGeometry(8, 64, 106, 18);
  BallHCB = new QCheckBox("Balloon Hints", g);
  BallHCB->setGeometry(8, 84, 106, 18);
  AutoRunCB = new QCheckBox("AutoRun", g);
  AutoRunCB->setGeometry(8, 104, 100, 18);
  // In the free room below AutoRun and left of the two buttons, which is narrow: a face two
  // pixels smaller lets the caption fit.
  SkipSleepCB = new QCheckBox("Skip Sleeping Drives", g);
  QFont narrow = SkipSleepCB->font();
  narrow.setPixelSize(9);
  SkipSleepCB->setFont(narrow);
  SkipSleepCB->setGeometry(7, 124, 118, 18);
  SkipSleepCB->setToolTip("Leave drives in standby asleep: their last reading stands");
  // Beside it, right of AutoRun and above the buttons: too narrow for one line, so the caption
  // takes two.
  CounterWarnCB = new TwoLineCheckBox("Counter Warnings", g);
  CounterWarnCB->setFont(narrow);
  CounterWarnCB->setGeometry(115, 82, 59, 34);
  CounterWarnCB->setToolTip(
      "Warn once when a counter that predicts failure rises (reallocated, pending or "
      "uncorrectable sectors, time-outs, CRC errors)");
  SMTPSB = MakeSpeedButton(g, QStyle::SP_MessageBoxInformation, "SMTP Reports & Warnings",
                           QRect(126, 116, 23, 22));
  SaveSettingsSB =
      MakeSpeedButton(g, QStyle::SP_DialogSaveButton, QString(), QRect(150, 116, 23, 22));
}

void TMainForm::BuildIconsGroup() {
  IconsGB = new QGroupBox("Icons", this);
  IconsGB->setGeometry(308, 178, 179, 118);
  for (int row = 0; row < kMaxDrives; ++row) {
    // Two columns of three rows.
    const int x = 8 + (row / 3) * 86;
    const int y = 22 + (row % 3) * 30;
    HDDINL[row] = MakeRowLabel(QString("HDD%1:").arg(row + 1), IconsGB, x, y);
    HDDTempTrayFI[row] = new ColorSwatch(IconsGB);
    HDDTempTrayFI[row]->move(x + 38, y + 3);
    HDDTempTrayBI[row] = new ColorSwatch(IconsGB);
    HDDTempTrayBI[row]->move(x + 50, y + 3);
    HDDTempTrayCB[row] = new QCheckBox(IconsGB);
    HDDTempTrayCB[row]->move(x + 62, y);
    HDDTempTrayCB[row]->setEnabled(false);
  }
}

void TMainForm::BuildAboutGroup() {
  AboutGB = new QGroupBox("About", this);
  AboutGB->setGeometry(4, 298, 483, 70);
  ProgNameL = MakeRowLabel("Diskvigil", AboutGB, 10, 18, 90);
  QFont bold = ProgNameL->font();
  bold.setBold(true);
  ProgNameL->setFont(bold);
  VersionL = MakeRowLabel(kNoValue, AboutGB, 100, 18, 80);
  OSL = MakeRowLabel(kNoValue, AboutGB, 190, 18, 286);
  HomeL = MakeRowLabel("Home page", AboutGB, 10, 42, 140);
  MailL = MakeRowLabel(QString(kSupportAddress), AboutGB, 190, 42, 286);
  for (QLabel* link : {HomeL, MailL}) {
    QFont underlined = link->font();
    underlined.setUnderline(true);
    link->setFont(underlined);
    SetTextColor(link, "blue");
    link->setCursor(Qt::PointingHandCursor);
    link->installEventFilter(this);
  }
  // In the free room between the two link labels, so none of them moves.
  DonateI = new QLabel(AboutGB);
  DonateI->setObjectName(QStringLiteral("DonateI"));
  DonateI->setAttribute(Qt::WA_TranslucentBackground);
  DonateI->setPixmap(DonationPicture());
  DonateI->setGeometry(160, 40, 20, 18);
  DonateI->setToolTip(QString::fromLatin1(kDonationHint));
  DonateI->setAccessibleName(QString::fromLatin1(kDonationHint));
  DonateI->setCursor(Qt::PointingHandCursor);
  DonateI->installEventFilter(this);
  StatusSB = new QStatusBar(this);
  StatusSB->setSizeGripEnabled(false);
  StatusSB->setGeometry(0, kMainClientHeight - 22, kMainClientWidth, 22);
}

void TMainForm::BuildMenuAndDialogs() {
  PopupMenu = new QMenu(this);
  PopupMenu->addAction("Restore", this, [this] { Restore1Click(); });
  PopupMenu->addSeparator();
  PopupMenu->addAction("Minimize", this, [this] { Minimize1Click(); });
  PopupMenu->addSeparator();
  PopupMenu->addAction("Exit", this, [this] { Exit1Click(); });
}

// The two standard dialogs are built on first use: they cost more to make than the rest of the
// window, and most runs never open them.
QFileDialog& TMainForm::SaveLogDialog() {
  if (LogSD == nullptr) {
    LogSD = new QFileDialog(this, "Save Log");
    LogSD->setAcceptMode(QFileDialog::AcceptSave);
    LogSD->setDefaultSuffix("log");
    LogSD->setNameFilters({"Log files (*.log)", "All files (*)"});
  }
  return *LogSD;
}

QColorDialog& TMainForm::ColorChooser() {
  if (ColorDialog == nullptr) ColorDialog = new QColorDialog(this);
  return *ColorDialog;
}

void TMainForm::ConnectHandlers() {
  // activated() is the user's pick only; selecting from code does not reach the handler.
  connect(HDDCB, &QComboBox::activated, this, [this] { HDDCBChange(); });
  connect(HDDRefreshSB, &QToolButton::clicked, this, [this] { HDDRefreshSBClick(); });
  connect(MBRReadSB, &QToolButton::clicked, this, [this] { MBRReadSBClick(); });
  connect(SMARTReadSB, &QToolButton::clicked, this, [this] { SMARTReadSBClick(); });
  connect(HistorySB, &QToolButton::clicked, this, [this] { HistorySBClick(); });
  connect(SelfTestSB, &QToolButton::clicked, this, [this] { SelfTestSBClick(); });
  connect(SelfTestT, &QTimer::timeout, this, [this] { SelfTestTTimer(); });
  connect(SMARTMonCB, &QCheckBox::toggled, this, [this] { SMARTMonCBClick(); });
  connect(SkipSleepCB, &QCheckBox::toggled, this,
          [this](bool on) { monitor_->SetSkipSleepingDrives(on); });
  connect(CounterWarnCB, &QCheckBox::toggled, this,
          [this](bool on) { CounterWarningsToggled(on); });
  connect(HDDRefreshIntUD, &UpDown::clicked, this, [this] { HDDRefreshIntUDClick(); });
  connect(SaveSettingsSB, &QToolButton::clicked, this, [this] { SaveSettingsSBClick(); });
  connect(SMTPSB, &QToolButton::clicked, this, [this] { SMTPSBClick(); });
  connect(SMARTT, &QTimer::timeout, this, [this] { SMARTTTimer(); });
  connect(SMTPReportsTimer, &QTimer::timeout, this, [this] { SMTPReportsTimerTimer(); });
  for (int row = 0; row < kMaxDrives; ++row) {
    const int position = row + 1;
    connect(HDDTempTrayFI[row], &ColorSwatch::clicked, this,
            [this, position] { TempTrayFIClick(position); });
    connect(HDDTempTrayBI[row], &ColorSwatch::clicked, this,
            [this, position] { TempTrayBIClick(position); });
    connect(HDDTempTrayCB[row], &QCheckBox::toggled, this,
            [this, position] { TempTrayCBClick(position); });
  }
  if (context_.icons != nullptr) {
    context_.icons->SetPopupMenu(PopupMenu);
    context_.icons->onClick = [this](int index) { HDDIClick(index); };
    context_.icons->onMinimizeToTray = [this](int index) { HDDIMinimizeToTray(index); };
    // Minimizing to the tray is the icons' work: they watch this window.
    context_.icons->SetOwner(this);
  }
  if (context_.power != nullptr) {
    connect(context_.power, &PowerEventSource::suspending, this, [this] { SuspendSteps(); });
    connect(context_.power, &PowerEventSource::resuming, this, [this] { ResumeSteps(); });
  }
}

int TMainForm::SelectedPosition() const { return HDDCB->currentIndex() + 1; }

void TMainForm::HDDCBChange() {
  const int position = SelectedPosition();
  ShowHDDInfo(position);
  ReadSMARTShown(position);
  if (selfTestForm_ && selfTestForm_->isVisible()) FillSelfTestForm();
}

void TMainForm::HDDRefreshSBClick() { EnumerateHDDs(); }

void TMainForm::SMARTReadSBClick() {
  if (drives_.IsListed(SelectedPosition())) ReadSMARTShown(SelectedPosition());
  context_.dialogs->ShowModal(*smartForm_);
}

void TMainForm::SMARTMonCBClick() {
  if (drives_.DriveCount == 0) return;
  if (SMARTMonCB->isChecked()) {
    SMARTT->start();
  } else {
    SMARTT->stop();
  }
}

void TMainForm::HDDRefreshIntUDClick() {
  // setInterval restarts a running timer's period, which only a changed interval should do: a
  // click at either end of the range would otherwise put the next pass off.
  const int interval = HDDRefreshIntUD->Position() * 1000;
  if (interval != SMARTT->interval()) SMARTT->setInterval(interval);
}

void TMainForm::SaveSettingsSBClick() { SaveSettings(); }

void TMainForm::SMTPSBClick() { context_.dialogs->ShowModal(*smtpForm_); }

void TMainForm::SMARTTTimer() { CheckHDDs(); }

void TMainForm::HomeLClick() { OpenAboutLink(HomePageUrl(QApplication::applicationDirPath())); }

void TMainForm::MailLClick() { OpenAboutLink(SupportMailUrl()); }

void TMainForm::DonateIClick() { OpenAboutLink(DonationPageUrl()); }

bool TMainForm::eventFilter(QObject* watched, QEvent* event) {
  auto* link = qobject_cast<QLabel*>(watched);
  if (link != nullptr && (link == HomeL || link == MailL)) {
    switch (event->type()) {
      case QEvent::Enter:
        SetTextColor(link, "red");
        break;
      case QEvent::Leave:
        SetTextColor(link, "blue");
        break;
      case QEvent::MouseButtonRelease:
        if (link == HomeL) {
          HomeLClick();
        } else {
          MailLClick();
        }
        return true;
      default:
        break;
    }
  }
  // Before the label paints (on the screen or into a picture), the logo it is to show is drawn.
  if (watched == HDDLogoI && event->type() == QEvent::Paint) PaintPendingLogo();
  if (watched == DonateI && event->type() == QEvent::MouseButtonRelease) {
    DonateIClick();
    return true;
  }
  return QWidget::eventFilter(watched, event);
}

}  // namespace dv
