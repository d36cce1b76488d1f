// The settings file read into the controls at start-up and written back by the save, and the
// autorun entry.
#include <QCheckBox>
#include <QLineEdit>
#include <QStatusBar>
#include <QTimer>
#include <algorithm>

#include "app/Autorun.h"
#include "app/MainUnit.h"
#include "settings/IniFile.h"
#include "settings/SettingsKeys.h"
#include "ui/Dialogs.h"
#include "ui/SMARTFormUnit.h"
#include "ui/SMTPUnit.h"
#include "ui/UpDown.h"

namespace dv {

namespace {

// The up-downs store 16-bit positions.
int AsShort(int32_t value) { return static_cast<int16_t>(value); }

void LoadEdit(const IniFile& ini, std::string_view key, QLineEdit* edit) {
  edit->setText(QString::fromStdString(ini.ReadString(key, edit->text().toStdString())));
}

bool HasKey(const IniFile& ini, std::string_view key) {
  constexpr std::string_view kAbsent = "\x01";  // no line of the file holds it
  return ini.ReadString(key, kAbsent) != kAbsent;
}

void LoadCheckBox(const IniFile& ini, std::string_view key, QCheckBox* box) {
  box->setChecked(ini.ReadBool(key, box->isChecked()));
}

}  // namespace

void TMainForm::LoadSettings() {
  const IniFile ini(context_.settingsPath);
  // Each value reaches its control before the next key is read; a changed check box runs its
  // handler as a click would.
  SMARTMonCB->setChecked(ini.ReadBool(kSmartMonitoringKey, true));
  // Out-of-range intervals are brought into the up-down's range before they set the timer.
  HDDRefreshIntUD->SetPosition(AsShort(ini.ReadInteger(kRefreshIntervalKey, 15)));
  SMARTT->setInterval(HDDRefreshIntUD->Position() * 1000);

  for (int position = 1; position <= kMaxDrives; ++position) {
    Drive& drive = drives_.At(position);
    drive.TrayIconOn = ini.ReadBool(TrayIconKey(position), true);
    drive.TrayFontColor = static_cast<uint32_t>(
        ini.ReadInteger(TrayFontColorKey(position), static_cast<int32_t>(kDefaultTrayFontColor)));
    drive.TrayBackColor = static_cast<uint32_t>(
        ini.ReadInteger(TrayBackColorKey(position), static_cast<int32_t>(kDefaultTrayBackColor)));
  }

  TSMTPForm& smtp = *smtpForm_;
  LoadEdit(ini, kSmtpHostKey, smtp.SMTPHostE);
  LoadEdit(ini, kSmtpLoginKey, smtp.SMTPLoginE);
  LoadEdit(ini, kSmtpFromKey, smtp.SMTPFromE);
  LoadEdit(ini, kSmtpMailKey, smtp.SMTPMailE);
  LoadEdit(ini, kSmtpPortKey, smtp.SMTPPortE);
  LoadEdit(ini, kSmtpPasswordKey, smtp.SMTPPswE);
  LoadCheckBox(ini, kSmtpAuthenticationKey, smtp.AuthenticationCB);
  LoadCheckBox(ini, kSmtpReportsKey, smtp.SMTPReportsCB);
  LoadCheckBox(ini, kSmtpWarningsKey, smtp.SMTPWarningsCB);
  smtp.SMTPDelayUD->SetPosition(
      AsShort(ini.ReadInteger(kSmtpDelayKey, smtp.SMTPDelayUD->Position())));
  SMTPReportsTimer->setInterval(smtp.SMTPDelayUD->Position() * 60000);
  smtp.SetSecurity(ini.ReadInteger(kSmtpSecurityKey, smtp.Security()));

  LoadCheckBox(ini, kAlertSoundKey, AlertCB);
  LoadCheckBox(ini, kBalloonHintsKey, BallHCB);
  LoadCheckBox(ini, kSkipSleepingDrivesKey, SkipSleepCB);
  LoadCheckBox(ini, kCounterWarningsKey, CounterWarnCB);
  const std::string note = history_.Switch(ini.ReadBool(kKeepHistoryKey, false));
  if (!note.empty()) StatusSB->showMessage(QString::fromStdString(note));
  SetSelfTestSettings(
      ini.ReadBool(kSelfTestWarningsKey, false),
      std::clamp<int32_t>(ini.ReadInteger(kSelfTestEveryKey, 0), 0, kMaxSelfTestDays));
  selfTestKeysSaved_ = HasKey(ini, kSelfTestWarningsKey) || HasKey(ini, kSelfTestEveryKey);
}

bool TMainForm::SaveSettings() {
  IniFile ini(context_.settingsPath);
  const TSMTPForm& smtp = *smtpForm_;
  // Each write goes to the file at once; the first that fails ends the save.
  std::vector<std::function<bool()>> writes{
      [&] { return ini.WriteBool(kSmartMonitoringKey, SMARTMonCB->isChecked()); },
      [&] { return ini.WriteInteger(kRefreshIntervalKey, HDDRefreshIntUD->Position()); },
      [&] { return ini.WriteInteger(kRawValuesKey, smartForm_->RawValuesIndex()); },
  };
  for (int position = 1; position <= drives_.DriveCount; ++position) {
    const Drive& drive = drives_.At(position);
    writes.push_back(
        [&, position] { return ini.WriteBool(TrayIconKey(position), drive.TrayIconOn); });
    writes.push_back([&, position] {
      return ini.WriteInteger(TrayFontColorKey(position),
                              static_cast<int32_t>(drive.TrayFontColor));
    });
    writes.push_back([&, position] {
      return ini.WriteInteger(TrayBackColorKey(position),
                              static_cast<int32_t>(drive.TrayBackColor));
    });
  }
  // A settings value is one line: a line break pasted into a field is left out.
  const auto text = [](const QLineEdit* edit) {
    std::string value = edit->text().toStdString();
    std::erase_if(value, [](char c) { return c == '\r' || c == '\n'; });
    return value;
  };
  writes.insert(
      writes.end(),
      {[&] { return ini.WriteString(kSmtpHostKey, text(smtp.SMTPHostE)); },
       [&] { return ini.WriteString(kSmtpLoginKey, text(smtp.SMTPLoginE)); },
       [&] { return ini.WriteString(kSmtpFromKey, text(smtp.SMTPFromE)); },
       [&] { return ini.WriteString(kSmtpMailKey, text(smtp.SMTPMailE)); },
       [&] { return ini.WriteString(kSmtpPortKey, text(smtp.SMTPPortE)); },
       [&] { return ini.WriteString(kSmtpPasswordKey, text(smtp.SMTPPswE)); },
       [&] { return ini.WriteBool(kSmtpAuthenticationKey, smtp.AuthenticationCB->isChecked()); },
       [&] { return ini.WriteBool(kSmtpReportsKey, smtp.SMTPReportsCB->isChecked()); },
       [&] { return ini.WriteBool(kSmtpWarningsKey, smtp.SMTPWarningsCB->isChecked()); },
       [&] { return ini.WriteInteger(kSmtpDelayKey, smtp.SMTPDelayUD->Position()); },
       [&] { return ini.WriteBool(kAlertSoundKey, AlertCB->isChecked()); },
       [&] { return ini.WriteBool(kBalloonHintsKey, BallHCB->isChecked()); },
       [&] { return ini.WriteInteger(kSmtpSecurityKey, smtp.Security()); },
       [&] { return ini.WriteBool(kSkipSleepingDrivesKey, SkipSleepCB->isChecked()); },
       [&] { return ini.WriteBool(kCounterWarningsKey, CounterWarnCB->isChecked()); },
       [&] { return ini.WriteBool(kKeepHistoryKey, history_.On()); }});
  // Written once set, and from then on, so a file saved at the defaults stays as it was.
  if (selfTestKeysSaved_ || selfTestWarnings_ || selfTestDays_ > 0) {
    selfTestKeysSaved_ = true;
    writes.push_back([&] { return ini.WriteBool(kSelfTestWarningsKey, selfTestWarnings_); });
    writes.push_back([&] { return ini.WriteInteger(kSelfTestEveryKey, selfTestDays_); });
  }
  for (const auto& write : writes) {
    if (!write()) {
      context_.dialogs->Message(
          this, windowTitle(),
          QString("Unable to write to %1").arg(QString::fromStdString(ini.Path().string())),
          MessageKind::Error);
      return false;
    }
  }
  if (context_.autorun != nullptr) {
    SaveAutorun(*context_.autorun, context_.programPath, AutoRunCB->isChecked());
  }
  return true;
}

void TMainForm::ReadAutorunState() {
  if (context_.autorun == nullptr) return;
  AutoRunCB->setChecked(AutorunPresent(*context_.autorun, context_.programPath));
}

}  // namespace dv
