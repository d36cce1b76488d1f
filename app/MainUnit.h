// The main window `TMainForm`: the program's control panel, and the owner of the start-up
// sequence, the monitoring pass on the window side, the settings and the exit path. Its code is
// split by area over app/MainUnit*.cpp; MainUnit.cpp lists the files.
#pragma once

#include <QWidget>
#include <array>
#include <chrono>
#include <filesystem>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "app/CounterWarnings.h"
#include "app/HistoryKeeper.h"
#include "app/MailLock.h"
#include "app/MailReports.h"
#include "app/OsVersion.h"
#include "app/SendRepUnit.h"
#include "core/AamApm.h"
#include "core/Counters.h"
#include "core/Drive.h"
#include "core/Mbr.h"
#include "core/SelfTestWatch.h"
#include "core/SmartData.h"
#include "mail/ReportMail.h"

class QAction;
class QCheckBox;
class QColorDialog;
class QComboBox;
class QFileDialog;
class QGroupBox;
class QLabel;
class QLineEdit;
class QMenu;
class QSlider;
class QStatusBar;
class QTimer;
class QToolButton;

namespace dv {

class AlertSound;
class AutorunStore;
class ColorSwatch;
class Dialogs;
class DriveSystem;
class InstanceLock;
class Monitor;
struct PositionReading;
class PowerEventSource;
class TemperatureIcons;
class TMBRForm;
class THistoryForm;
class TSelfTestForm;
class TSMARTForm;
class TSMTPForm;
class UpDown;
struct ReadSmartResult;

// Everything the main window needs from outside, handed in so tests can give fakes. The pointers
// must outlive the window.
struct MainFormContext {
  DriveSystem* driveSystem = nullptr;
  TemperatureIcons* icons = nullptr;
  Dialogs* dialogs = nullptr;
  AutorunStore* autorun = nullptr;
  AlertSound* sound = nullptr;
  PowerEventSource* power = nullptr;  // may be null: no suspend or resume notices
  MailLock* mailLock = nullptr;
  std::filesystem::path settingsPath;
  std::string programPath;  // the running program, as the autorun entry names it
  std::function<std::unique_ptr<InstanceLock>()> acquireInstanceLock;
  std::function<OsInfo()> queryOsInfo;
  std::function<void()> raisePriority;  // may be null; a refusal is ignored
  std::function<void()> quit;           // ends the message loop after a completed close
  std::string version;                  // the program's version, for VersionL
  std::chrono::milliseconds mailIdleTimeout = kMailIdleTimeout;
  // The drive-feature and partition reads; left empty, the window uses those of core/.
  std::function<FeatureState(DriveSystem&, int, DriveFeature)> readFeature;
  std::function<bool(DriveSystem&, int, DriveFeature, uint8_t, bool)> setFeature;
  std::function<MbrReading(DriveSystem&, const Drive&)> readMbr;
  // How report mails are composed and sent; empty means ComposeReport and SendReportMail.
  std::function<ReportText(const std::vector<ReportDrive>&, std::chrono::system_clock::time_point)>
      composeReport;
  ReportSender sendReport;
  // The state file of the counter warnings; empty keeps the counters' last values in memory only.
  std::filesystem::path counterStatePath;
  // The history file "Keep History" writes; empty where none can be kept.
  std::filesystem::path historyPath;
};

// The program's version from the build.
std::string ProgramVersion();

// How a start-up ended.
enum class StartupResult { Running, SecondInstance, NotNtBased, NoDrive };

class TMainForm : public QWidget {
  Q_OBJECT
 public:
  explicit TMainForm(MainFormContext context, QWidget* parent = nullptr);
  ~TMainForm() override;

  // The start-up sequence. Anything but Running means the program ends without showing a window.
  StartupResult FormCreate();
  // The program entry creates the MBR window after the main window (built when first used).
  void CreateMBRForm();

  // Drives and selection.
  bool EnumerateHDDs();
  void ShowHDDInfo(int position);
  // ReadSMART(k, show) as the windows use it: the read, then the labels and the grid.
  bool ReadSMARTShown(int position);
  void CheckHDDs();
  int SelectedPosition() const;

  // Settings.
  void LoadSettings();
  bool SaveSettings();  // false after the "Unable to write to %s" message
  void ReadAutorunState();

  // Handlers.
  void HDDCBChange();
  void HDDRefreshSBClick();
  void SMARTReadSBClick();
  void MBRReadSBClick();
  // The reading behind MBRReadSBClick without the modal show: reads the selected drive and fills
  // the MBR window; false (and the window untouched) when nothing was read.
  bool FillMBRForm();
  void SMARTMonCBClick();
  void HDDRefreshIntUDClick();
  void SaveSettingsSBClick();
  void SMTPSBClick();
  void SMARTTTimer();
  void SMTPReportsTimerTimer();
  void SMTPDelayUDClick();
  void SendSMTPRepSBClick();
  // Composes a report of the listed drives and starts its worker; returns at once.
  // `notes` are added to the end of the mail's body, one line each.
  void StartMailReport(const std::vector<std::string>& notes = {});
  void HomeLClick();
  void MailLClick();
  void DonateIClick();
  void TempTrayFIClick(int position);
  void TempTrayBIClick(int position);
  void TempTrayCBClick(int position);
  void HDDIClick(int index);
  void HDDIMinimizeToTray(int index);
  void Exit1Click();
  void Restore1Click();
  void Minimize1Click();
  void QueryEndSession();
  void SuspendSteps();
  void ResumeSteps();
  void SaveSMARTReport();
  QFileDialog& SaveLogDialog();
  QColorDialog& ColorChooser();
  void AAMGetExecute();
  void AAMSetExecute();
  void APMGetExecute();
  void APMSetExecute();
  void AAMLevelTBChange();
  void APMLevelTBChange();

  bool Exiting() const { return exiting_; }
  // The counter rises standing for a position in the last pass (with "Counter Warnings" on).
  const std::vector<CounterRise>& CautionOf(int position) const {
    return counterWarnings_.CautionOf(position);
  }
  const DriveTable& Drives() const { return drives_; }
  DriveTable& Drives() { return drives_; }
  TSMARTForm* SMARTForm() const { return smartForm_.get(); }
  void HistorySBClick();
  // The History window filled for the selected drive, made on first use.
  THistoryForm& HistoryForm();
  TSMTPForm* SMTPForm() const { return smtpForm_.get(); }
  // Self-tests and the drives' own logs (MainUnitSelfTests.cpp).
  void SelfTestSBClick();
  // The Self-Tests window filled for the selected drive, made on first use.
  TSelfTestForm& SelfTestForm();
  // Once a minute while a test is followed or a self-test setting is on: the look at the logs of
  // the drives the passes read, and the followed test's progress.
  void SelfTestTTimer();
  bool SelfTestWarnings() const { return selfTestWarnings_; }
  int SelfTestEvery() const { return selfTestDays_; }
  // Built on first use, once CreateMBRForm has allowed it; null before.
  TMBRForm* MBRForm() const;

  // Controls, named as the rest of the program knows them.
  QLabel* HDDNL;
  QComboBox* HDDCB;
  QToolButton* HDDRefreshSB;
  QToolButton* MBRReadSB;
  QGroupBox* HDDGB;
  QLabel* SMARTNL;
  QLabel* SMARTStatusL;
  QToolButton* SMARTReadSB;
  QGroupBox* InformationGB;
  QLabel* HDDSNNL;
  QLabel* HDDSNL;
  QLabel* HDDFirmwareNL;
  QLabel* HDDFirmwareL;
  QLabel* HDDModelNL;
  QLabel* HDDModelL;
  QLabel* HDDSizeNL;
  QLabel* HDDSizeL;
  QLabel* HDDHPANL;
  QLabel* HDDHPAUL;
  QLabel* HDDLogoI;
  QLabel* HDDLBA48L;
  QLabel* HDDSMARTL;
  QLabel* HDDHPAL;
  QLabel* HDDSecML;
  QLabel* HDDTempNL;
  QLabel* HDDTempL;
  QLabel* HDDTempLoL;
  QLabel* HDDTempHiL;
  QLabel* HDDAirTempL;
  QGroupBox* AAMGB;
  QWidget* AAMPanel;
  QCheckBox* AAMCB;
  QSlider* AAMLevelTB;
  QLabel* CurrentAAMLevelL;
  QLabel* RecommendedAAMLevelL;
  QToolButton* AAMGetSB;
  QToolButton* AAMSetSB;
  QGroupBox* APMGB;
  QWidget* APMPanel;
  QCheckBox* APMCB;
  QSlider* APMLevelTB;
  QLabel* CurrentAPMLevelL;
  QLabel* RecommendedAPMLevelL;
  QToolButton* APMGetSB;
  QToolButton* APMSetSB;
  // The action list's entries; the buttons run them.
  QAction* AAMGet;
  QAction* AAMSet;
  QAction* APMGet;
  QAction* APMSet;
  QGroupBox* SettingsGB;
  QCheckBox* SMARTMonCB;
  QLabel* SMARTRunL;
  QLabel* HDDRefreshIntNL;
  QLineEdit* HDDRefreshIntE;
  UpDown* HDDRefreshIntUD;
  QCheckBox* AlertCB;
  QCheckBox* BallHCB;
  QCheckBox* AutoRunCB;
  QCheckBox* SkipSleepCB;  // "Skip Sleeping Drives": leave drives in standby unread
  // "Counter Warnings": a rise of a counter that predicts failure frames the icon yellow and is
  // told once by balloon and warning mail.
  QCheckBox* CounterWarnCB;
  QToolButton* HistorySB;
  QToolButton* SelfTestSB;  // opens the Self-Tests window
  QToolButton* SMTPSB;
  QToolButton* SaveSettingsSB;
  QGroupBox* IconsGB;
  // Row k of the Icons group is index k - 1.
  std::array<QLabel*, kMaxDrives> HDDINL{};
  std::array<ColorSwatch*, kMaxDrives> HDDTempTrayFI{};
  std::array<ColorSwatch*, kMaxDrives> HDDTempTrayBI{};
  std::array<QCheckBox*, kMaxDrives> HDDTempTrayCB{};
  QGroupBox* AboutGB;
  QLabel* ProgNameL;
  QLabel* VersionL;
  QLabel* OSL;
  QLabel* HomeL;
  QLabel* MailL;
  QLabel* DonateI = nullptr;  // picture link to the donation page
  QStatusBar* StatusSB;
  QTimer* SMARTT;
  QTimer* SMTPReportsTimer;
  QTimer* SelfTestT;  // SelfTestTTimer, never more often than once a minute
  QMenu* PopupMenu;
  QFileDialog* LogSD = nullptr;         // made by SaveLogDialog()
  QColorDialog* ColorDialog = nullptr;  // made by ColorChooser()

 protected:
  void closeEvent(QCloseEvent* event) override;
  bool eventFilter(QObject* watched, QEvent* event) override;

 private:
  // How long the tray's balloons about readings and self-tests stay up.
  static constexpr int kBalloonSeconds = 10;

  void BuildTopRow();
  void BuildInformationGroup();
  void BuildSettingsGroup();
  void BuildIconsGroup();
  void BuildAboutGroup();
  void BuildFeatureGroups();
  void BuildMenuAndDialogs();
  void ConnectHandlers();

  void PaintSwatchesAndIcons();
  void ApplyAtLeastOneIconRule();
  void ShowReading(int position, const ReadSmartResult& result);
  void ShowNvmeReading(const Drive& drive);
  void UpdateTrayIcon(int position);
  void ShowSleepState(const PositionReading& reading);
  void CounterWarningsToggled(bool on);
  void WarnOfRises(const std::vector<std::string>& told);
  void MarkCautionRows(int position);
  // `notes`: counter rises of the same pass, for the warning mail.
  void RaiseWarnings(const std::vector<std::string>& notes = {});
  // Draws the maker's logo chosen by ShowHDDInfo; runs when the logo label is painted.
  void PaintPendingLogo();
  void SendReportDueDuringPass();
  bool FormCloseSteps();
  void WaitForMailIdle();
  void SetFeatureLabelsEnabled(const Drive& drive);
  void GetFeature(DriveFeature feature);
  void SetFeatureFromControls(DriveFeature feature);

  MainFormContext context_;
  DriveTable drives_;
  SmartSectors sectors_;
  std::unique_ptr<Monitor> monitor_;
  std::unique_ptr<InstanceLock> instanceLock_;
  std::unique_ptr<TSMTPForm> smtpForm_;
  std::unique_ptr<TSMARTForm> smartForm_;
  // The MBR window costs a good part of the start-up and most runs never open it.
  mutable std::unique_ptr<TMBRForm> mbrForm_;
  bool mbrFormAllowed_ = false;
  bool exiting_ = false;
  // Set by the log-off/shutdown query: the close that follows ends the window without the close
  // steps (no save, no wait for mail). Exit clears it, for a session end that was called off.
  bool sessionEnding_ = false;
  bool closeEventSeen_ = false;  // whether the last close() reached closeEvent
  bool iconsListedOnce_ = false;
  // The logo index ShowHDDInfo chose and no paint has drawn yet: drawing the maker's name loads a
  // bold face at several sizes, which a window hidden at start does not need.
  std::optional<int> pendingLogo_;
  // Positions whose tray hint says "asleep", and whether the status bar does for the selected one.
  std::array<bool, kMaxDrives> asleepHint_{};
  bool asleepStatusShown_ = false;
  CounterWarnings counterWarnings_;
  HistoryKeeper history_;
  // Made when first opened: most runs never open it.
  std::unique_ptr<THistoryForm> historyForm_;
  bool passRunning_ = false;  // a monitoring pass is under way

  // Self-tests.
  void SetSelfTestSettings(bool warnings, int days);
  void FillSelfTestForm();
  void StartSelfTestClick(SelfTestKind kind);
  void LookAtSelfTests();
  void PollSelfTest(int position);
  void WarnOfSelfTests(const std::vector<std::string>& lines);
  void UpdateSelfTestTimer();
  SelfTestWatch selfTestWatch_;
  bool selfTestWarnings_ = false;   // "Self-Test Warnings"
  int selfTestDays_ = 0;            // "Self-Test Every", 0 off
  bool selfTestKeysSaved_ = false;  // the settings file holds the two keys
  std::optional<int> followed_;     // the position whose running test is polled
  int selfTestFormPosition_ = 0;    // the drive the Self-Tests window shows
  std::unique_ptr<TSelfTestForm> selfTestForm_;

  // Report mails.
  void ConnectMailHandlers();
  MailSettings ReadMailSettings();
  void ShowMailOutcome(const MailResult& result);
  MailReports mailReports_;
  // Last member, so it is the first to go: from then on the mail workers reach nothing here.
  MailHomeLease mailHome_;
};

// Renders the main, S.M.A.R.T., SMTP, MBR, History and Self-Tests windows to PNG files in `folder`
// (made when missing); returns the files written.
std::vector<std::string> RenderWindows(TMainForm& mainForm, const QString& folder);

}  // namespace dv
