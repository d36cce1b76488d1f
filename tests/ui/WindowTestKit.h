// What the window tests share: simulated drives, recording stand-ins for every seam of the main
// window, and settings, autostart and Qt's own files in a temporary folder.
#pragma once

#include <QColor>
#include <QColorDialog>
#include <QComboBox>
#include <QFileDialog>
#include <QTemporaryDir>
#include <QtTest/QtTest>
#include <memory>
#include <string>
#include <vector>

#include "app/AlertSound.h"
#include "app/Autorun.h"
#include "app/MailLock.h"
#include "app/MainUnit.h"
#include "app/PowerEvents.h"
#include "app/SingleInstance.h"
#include "core/SimulatedDrives.h"
#include "kit/FakeInstanceLock.h"
#include "kit/FakeTemperatureIcons.h"
#include "kit/MemoryAutorunStore.h"
#include "kit/RecordingAlertSound.h"
#include "ui/Dialogs.h"

namespace dv::testing {

class RecordingDialogs final : public Dialogs {
 public:
  struct Shown {
    QString caption;
    QString text;
    MessageKind kind;
  };
  void Message(QWidget*, const QString& caption, const QString& text, MessageKind kind) override {
    messages.push_back({caption, text, kind});
  }
  std::optional<QString> SaveFile(QFileDialog& dialog) override {
    ++saveDialogs;
    saveDialogLook = {dialog.windowTitle(), dialog.defaultSuffix()};
    saveDialogLook += dialog.nameFilters();
    return saveAnswer;
  }
  std::optional<QColor> ChooseColor(QColorDialog& dialog) override {
    presetColors.push_back(dialog.currentColor());
    return colorAnswer;
  }
  void ShowModal(QDialog& dialog) override {
    ++modalShows;
    lastModal = &dialog;
  }

  std::vector<Shown> messages;
  std::optional<QString> saveAnswer;
  std::optional<QColor> colorAnswer;
  std::vector<QColor> presetColors;
  int saveDialogs = 0;
  QStringList saveDialogLook;  // title, default suffix, then the filters
  int modalShows = 0;
  QDialog* lastModal = nullptr;
};

// What a user's pick in the drive list does: the entry becomes current, then the handler runs.
inline void PickDrive(TMainForm& form, int index) {
  form.HDDCB->setCurrentIndex(index);
  emit form.HDDCB->activated(index);
}

// A drive object of a simulation file: a model, a verdict and a few attributes.
inline std::string DriveJson(int driveNumber, const std::string& model,
                             const std::string& status = "ok", int temperature = 38,
                             bool smartEnabled = true) {
  return "{\"driveNumber\":" + std::to_string(driveNumber) + ",\"model\":\"" + model +
         "\",\"serial\":\"SN" + std::to_string(driveNumber) + "\",\"firmware\":\"FW1\"," +
         "\"sectors\":976773168,\"smartEnabled\":" + (smartEnabled ? "true" : "false") +
         ",\"smart\":{\"status\":\"" + status +
         "\",\"attributes\":["
         "{\"id\":1,\"flags\":15,\"value\":100,\"worst\":100,\"threshold\":6,\"raw\":0},"
         "{\"id\":5,\"flags\":51,\"value\":90,\"worst\":90,\"threshold\":97,\"raw\":120},"
         "{\"id\":9,\"flags\":50,\"value\":98,\"worst\":98,\"threshold\":0,\"raw\":1234},"
         "{\"id\":194,\"flags\":34,\"value\":100,\"worst\":100,\"threshold\":0,\"raw\":" +
         std::to_string(temperature) + "}]}}";
}

// The value of `key` in a settings file's text; empty when the key is missing.
inline QString SettingValue(const QByteArray& file, const QString& key) {
  for (const QByteArray& line : file.split('\n')) {
    const QString text = QString::fromUtf8(line).trimmed();
    if (text.startsWith(key + "=")) return text.mid(key.size() + 1);
  }
  return QString();
}

inline std::unique_ptr<SimulatedDriveSystem> DrivesFromJson(
    const std::vector<std::string>& drives) {
  std::string text = "{\"drives\":[";
  for (size_t i = 0; i < drives.size(); ++i) text += (i > 0 ? "," : "") + drives[i];
  text += "]}";
  std::string error;
  auto system = SimulatedDriveSystem::FromJsonText(text, ".", "test", error);
  if (system == nullptr) qFatal("bad test drives: %s", error.c_str());
  return system;
}

inline std::unique_ptr<SimulatedDriveSystem> DemoDrives() {
  std::string error;
  auto system = SimulatedDriveSystem::Load(std::string(DISKVIGIL_SOURCE_DIR) + "/data/demo", error);
  if (system == nullptr) qFatal("demo drives: %s", error.c_str());
  return system;
}

class WindowTestKit {
 public:
  explicit WindowTestKit(std::unique_ptr<SimulatedDriveSystem> simulated)
      : drives(std::move(simulated)) {
    // Nothing of the user's: Qt's own dialog state and the autostart folder go here too.
    qputenv("XDG_CONFIG_HOME", folder.path().toUtf8());
    qputenv("APPDATA", folder.path().toUtf8());
  }

  QString SettingsFile() const { return folder.filePath("Diskvigil.ini"); }

  MainFormContext Context() {
    MainFormContext context;
    context.driveSystem = drives.get();
    context.icons = &icons;
    context.dialogs = &dialogs;
    context.autorun = &autorun;
    context.sound = &sound;
    context.power = &power;
    context.mailLock = &mailLock;
    context.settingsPath = SettingsFile().toStdString();
    context.programPath = "/opt/diskvigil/bin/diskvigil";
    context.acquireInstanceLock = [this] {
      return std::make_unique<FakeInstanceLock>(!anotherInstanceRuns);
    };
    context.queryOsInfo = [] { return OsInfo{"6.1.0 Test Linux", true, 0}; };
    context.quit = [this] { ++quits; };
    context.version = "1.2.3";
    context.mailIdleTimeout = std::chrono::milliseconds(100);
    return context;
  }

  std::unique_ptr<TMainForm> Start() {
    auto form = std::make_unique<TMainForm>(Context());
    startup = form->FormCreate();
    if (startup == StartupResult::Running) form->CreateMBRForm();
    return form;
  }

  void WriteSettings(const QByteArray& text) {
    QFile file(SettingsFile());
    QVERIFY(file.open(QIODevice::WriteOnly | QIODevice::Truncate));
    file.write(text);
  }

  QByteArray ReadSettings() const {
    QFile file(SettingsFile());
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
  }

  QTemporaryDir folder;
  std::unique_ptr<SimulatedDriveSystem> drives;
  FakeTemperatureIcons icons;
  RecordingDialogs dialogs;
  MemoryAutorunStore autorun;
  RecordingAlertSound sound;
  PowerEventSource power;
  MailLock mailLock;
  bool anotherInstanceRuns = false;
  int quits = 0;
  StartupResult startup = StartupResult::Running;
};

}  // namespace dv::testing
