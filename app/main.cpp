// The program entry: picks the real or the simulated parts, creates the main window, whose
// start-up runs the whole start, then the MBR window, and runs the message loop.
#include <QApplication>
#include <QDir>
#include <QIcon>
#include <QImage>
#include <QPixmap>
#include <QSessionManager>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <optional>
#include <string>
#include <vector>

#include "app/AlertSound.h"
#include "app/Autorun.h"
#include "app/DriveIcons.h"
#include "app/MailLock.h"
#include "app/MainUnit.h"
#include "app/OsVersion.h"
#include "app/PowerEvents.h"
#include "app/SingleInstance.h"
#include "app/TemperatureIcons.h"
#include "core/DriveSystemFactory.h"
#include "settings/IniFile.h"
#include "tray/QtNotificationArea.h"
#include "ui/Dialogs.h"
#include "ui/LazyIcon.h"

#if defined(_WIN32)
#include <windows.h>
#else
#include <sys/resource.h>
#endif

namespace {

// Exit statuses beside 0 (running ended normally, or a second instance that stepped aside).
constexpr int kExitUsage = 2;
constexpr int kExitNoDisplay = 3;
constexpr int kExitRefused = 1;  // no drive, or a system the program does not run on

constexpr const char* kUsage =
    "Usage: diskvigil [--demo | --demo=nvme | --simulate PATH] [--render-windows DIR]\n"
    "                 [--exit-after-first-pass]\n"
    "       diskvigil --help | --version\n"
    "Watches the drives' health from the notification area: one temperature icon per\n"
    "drive; a click on one shows the main window. diskvigil-cli does the same without\n"
    "a display.\n"
    "  --demo, --demo=nvme      the bundled demo drives (ATA, or ATA and NVMe)\n"
    "  --simulate PATH          the simulated drives of a JSON file or folder\n"
    "                           (DISKVIGIL_SIMULATE=PATH does the same)\n"
    "  --render-windows DIR     save pictures of the windows in DIR, print their names, end\n"
    "  --exit-after-first-pass  end after the start-up and the first monitoring pass\n"
    "Exit status:\n"
    "  0  ended normally, or another instance is already running\n"
    "  1  no S.M.A.R.T. drive was found, the system is not one the program runs on,\n"
    "     or --render-windows wrote no picture\n"
    "  2  bad arguments or a bad simulation file\n"
    "  3  there is no display\n";

// --help and --version answer before anything else: no window, no settings, no drive.
std::optional<int> AnswerHelpOrVersion(const std::vector<std::string>& args) {
  for (size_t i = 1; i < args.size(); ++i) {
    if (args[i] == "--help" || args[i] == "-h") {
      std::fputs(kUsage, stdout);
      return 0;
    }
    if (args[i] == "--version") {
      std::printf("diskvigil %s\n", dv::ProgramVersion().c_str());
      return 0;
    }
  }
  return std::nullopt;
}

struct Options {
  std::string renderDir;
  bool exitAfterFirstPass = false;
};

bool TakeOwnOptions(std::vector<std::string>& args, Options& options, std::string& error) {
  std::vector<std::string> rest;
  for (size_t i = 0; i < args.size(); ++i) {
    if (args[i] == "--render-windows") {
      if (i + 1 >= args.size()) {
        error = "--render-windows needs a folder";
        return false;
      }
      options.renderDir = args[++i];
    } else if (args[i] == "--exit-after-first-pass") {
      options.exitAfterFirstPass = true;
    } else {
      rest.push_back(args[i]);
    }
  }
  args = rest;
  return true;
}

bool HasDisplay() {
  for (const char* name : {"DISPLAY", "WAYLAND_DISPLAY", "QT_QPA_PLATFORM"}) {
    const char* value = std::getenv(name);
    if (value != nullptr && *value != '\0') return true;
  }
#if defined(_WIN32)
  return true;
#else
  return false;
#endif
}

void RaisePriority() {
  // Like a high priority class; refused without the privilege, which is fine.
#if defined(_WIN32)
  SetPriorityClass(GetCurrentProcess(), HIGH_PRIORITY_CLASS);
  SetThreadPriority(GetCurrentThread(), THREAD_PRIORITY_NORMAL);
#else
  (void)setpriority(PRIO_PROCESS, 0, -10);
#endif
}

// The program's own icon in every rendered size, for its windows and the task switcher. Decoded
// when a window first shows it; named as PNG, so no image plug-in is loaded to guess the format.
QIcon ProgramIcon() {
  return dv::LazyIcon([] {
    QIcon icon;
    for (const int size : {16, 22, 24, 32, 48, 64, 128, 256}) {
      icon.addPixmap(
          QPixmap::fromImage(QImage(QStringLiteral(":/icons/diskvigil-%1.png").arg(size), "PNG")));
    }
    return icon;
  });
}

}  // namespace

int main(int argc, char** argv) {
  std::vector<std::string> args(argv, argv + argc);
  if (const auto status = AnswerHelpOrVersion(args)) return *status;
  dv::DriveSystemChoice choice;
  if (const auto error = dv::TakeDriveSystemOptions(args, choice)) {
    std::fprintf(stderr, "diskvigil: %s\n", error->c_str());
    return kExitUsage;
  }
  Options options;
  std::string optionError;
  if (!TakeOwnOptions(args, options, optionError)) {
    std::fprintf(stderr, "diskvigil: %s\n", optionError.c_str());
    return kExitUsage;
  }
  if (args.size() > 1) {
    std::fprintf(stderr, "diskvigil: unknown argument %s\n%s", args[1].c_str(), kUsage);
    return kExitUsage;
  }
  if (!HasDisplay()) {
    std::fprintf(stderr,
                 "diskvigil: there is no display (neither DISPLAY nor WAYLAND_DISPLAY is set); "
                 "diskvigil-cli monitor watches the drives without one\n");
    return kExitNoDisplay;
  }

  QApplication app(argc, argv);
  QApplication::setApplicationName("Diskvigil");
  QApplication::setQuitOnLastWindowClosed(false);
  QApplication::setWindowIcon(ProgramIcon());
  // Lets Wayland compositors match the windows with the installed desktop entry and its icon.
  QGuiApplication::setDesktopFileName(QStringLiteral("org.diskvigil.Diskvigil"));

  std::string error;
  std::unique_ptr<dv::DriveSystem> drives = dv::CreateDriveSystem(choice, error);
  if (drives == nullptr) {
    std::fprintf(stderr, "diskvigil: %s\n", error.c_str());
    return kExitUsage;
  }
  const bool rendering = !options.renderDir.empty();

  dv::QtNotificationArea trayArea;
  dv::DriveIcons icons(trayArea);
  dv::InteractiveDialogs dialogs;
  std::unique_ptr<dv::AutorunStore> autorun = dv::CreatePlatformAutorunStore();
  std::unique_ptr<dv::AlertSound> sound = dv::CreateAlertSound();
  const dv::OsInfo os = dv::QueryOsInfo();
  std::unique_ptr<dv::PowerEventSource> power = dv::CreatePlatformPowerEventSource(os.majorVersion);
  // A mail worker still running when Exit stops waiting keeps the lock alive itself and reaches
  // nothing of the window once it has gone, so both may end here before the worker does.
  dv::MailLock mailLock;

  dv::MainFormContext context;
  context.driveSystem = drives.get();
  context.icons = &icons;
  context.dialogs = &dialogs;
  context.autorun = autorun.get();
  context.sound = sound.get();
  context.power = power.get();
  context.mailLock = &mailLock;
  context.settingsPath = dv::SettingsFilePath();
  context.counterStatePath = dv::CounterStateFilePath();
  context.historyPath = dv::DefaultHistoryPath();
  // A fresh account may have no ~/.config yet; that folder is ours to make. An APPDATA folder
  // that does not exist stays an error, shown when the settings are saved.
  if (!std::getenv("APPDATA")) {
    std::error_code ignored;
    std::filesystem::create_directories(context.settingsPath.parent_path(), ignored);
  }
  // The autorun entry holds the path as the system writes it: backslashes on Windows.
  context.programPath = QDir::toNativeSeparators(QApplication::applicationFilePath()).toStdString();
  // Pictures for the documentation may be made while the program itself runs.
  if (!rendering) context.acquireInstanceLock = [] { return dv::AcquireInstanceLock(); };
  context.queryOsInfo = [os] { return os; };
  context.raisePriority = RaisePriority;
  context.quit = [] { QCoreApplication::quit(); };
  context.version = dv::ProgramVersion();

  dv::TMainForm mainForm(std::move(context));
  QObject::connect(&app, &QGuiApplication::commitDataRequest, &mainForm,
                   [&mainForm](QSessionManager&) { mainForm.QueryEndSession(); });
  switch (mainForm.FormCreate()) {
    case dv::StartupResult::Running:
      break;
    case dv::StartupResult::SecondInstance:
      return 0;
    case dv::StartupResult::NotNtBased:
      return kExitRefused;
    case dv::StartupResult::NoDrive:
      // The message box keeps its short text; why no drive could be read (no capability, no
      // helper, not in the disk group) goes where the person who started the program looks.
      if (const std::string problem = drives->PrivilegeProblem(); !problem.empty()) {
        std::fprintf(stderr, "diskvigil: %s\n", problem.c_str());
      }
      return kExitRefused;
  }
  mainForm.CreateMBRForm();

  if (rendering) {
    const std::vector<std::string> written =
        dv::RenderWindows(mainForm, QString::fromStdString(options.renderDir));
    for (const std::string& file : written) std::printf("%s\n", file.c_str());
    return written.empty() ? kExitRefused : 0;
  }
  // The first monitoring pass ran at the end of the start-up.
  if (options.exitAfterFirstPass) return 0;
  // The offscreen platform has no tray either, but nobody could look at the window there.
  std::optional<dv::TrayFallback> trayFallback;
  if (QGuiApplication::platformName() != QStringLiteral("offscreen")) {
    trayFallback.emplace(mainForm, *mainForm.StatusSB, trayArea);
    trayFallback->Start();
  }
  return QApplication::exec();
}
