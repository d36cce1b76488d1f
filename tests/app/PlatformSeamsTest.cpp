// The smaller platform seams: single instance, OS labels, the power table and logind signals, the
// alert sound's samples, the bounded wait for mail idle, the logos and the About links.
#include <pwd.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <QDBusMessage>
#include <QProcess>
#include <QSignalSpy>
#include <QStandardPaths>
#include <QTemporaryDir>
#include <QtTest>
#include <algorithm>
#include <chrono>
#include <filesystem>
#include <fstream>
#include <thread>

#include "app/AboutLinks.h"
#include "app/AlertSound.h"
#include "app/Autorun.h"
#include "app/MailLock.h"
#include "app/OsVersion.h"
#include "app/PowerEvents.h"
#include "app/SingleInstance.h"
#include "app/VendorLogos.h"
#include "app/platform/LogindPowerEvents.h"
#include "kit/QtTestMain.h"
#include "kit/RecordingAlertSound.h"
#include "settings/IniFile.h"

using namespace std::chrono_literals;

namespace {

uint32_t LittleEndian32(const std::vector<uint8_t>& bytes, std::size_t offset) {
  return bytes[offset] | bytes[offset + 1] << 8 | bytes[offset + 2] << 16 |
         static_cast<uint32_t>(bytes[offset + 3]) << 24;
}

template <typename Work>
std::chrono::milliseconds Timed(Work work) {
  const auto start = std::chrono::steady_clock::now();
  work();
  return std::chrono::duration_cast<std::chrono::milliseconds>(std::chrono::steady_clock::now() -
                                                               start);
}

}  // namespace

class PlatformSeamsTest : public QObject {
  Q_OBJECT

 private:
  QTemporaryDir dir_;

 private slots:
  void initTestCase() { qputenv("XDG_RUNTIME_DIR", dir_.path().toUtf8()); }

  void aSecondInstanceIsRefused() {
    const std::string name = "SMARTMutexTest";
    auto first = dv::AcquireInstanceLock(name);
    QVERIFY(first->Acquired());
    QCOMPARE(dv::InstanceLockPath(name).parent_path().string(), dir_.path().toStdString());
    // Another open of the same file, as a second process would make it.
    QVERIFY(!dv::AcquireInstanceLock(name)->Acquired());

    const pid_t child = ::fork();
    if (child == 0) ::_exit(dv::AcquireInstanceLock(name)->Acquired() ? 1 : 0);
    int status = 0;
    ::waitpid(child, &status, 0);
    QVERIFY(WIFEXITED(status));
    QCOMPARE(WEXITSTATUS(status), 0);

    // The first instance ends: the next start runs.
    first.reset();
    QVERIFY(dv::AcquireInstanceLock(name)->Acquired());
  }

  // Without a runtime folder the lock lives in a folder of the user's own, never under a name in
  // /tmp that another user could take first.
  void theLockFileIsPerUserWithoutARuntimeFolder() {
    qunsetenv("XDG_RUNTIME_DIR");
    const auto path = dv::InstanceLockPath("SMARTMutex");
    qputenv("XDG_RUNTIME_DIR", dir_.path().toUtf8());
    const std::string folder = "/tmp/diskvigil-" + std::to_string(::getuid());
    QCOMPARE(path.string(), folder + "/SMARTMutex.lock");
    struct stat status {};
    QCOMPARE(::lstat(folder.c_str(), &status), 0);
    QVERIFY(S_ISDIR(status.st_mode));
    QCOMPARE(status.st_uid, ::getuid());
    QCOMPARE(status.st_mode & 0777, 0700u);
  }

  void aFolderThatIsNotTheUsersIsRefused() {
    const std::filesystem::path base = dir_.path().toStdString();
    const unsigned me = ::getuid();
    const auto mine = base / "mine";
    QVERIFY(dv::UsePrivateFolder(mine, me));
    QVERIFY(dv::UsePrivateFolder(mine, me));       // again, now that it exists
    QVERIFY(!dv::UsePrivateFolder(mine, me + 1));  // made by someone else

    const auto open = base / "open";
    std::filesystem::create_directory(open);
    ::chmod(open.c_str(), 0777);
    QVERIFY(!dv::UsePrivateFolder(open, me));

    const auto link = base / "link";
    std::filesystem::create_directory_symlink(mine, link);
    QVERIFY(!dv::UsePrivateFolder(link, me));

    const auto file = base / "file";
    std::ofstream(file) << "x";
    QVERIFY(!dv::UsePrivateFolder(file, me));
    QVERIFY(!dv::UsePrivateFolder(base / "missing" / "below", me));
  }

  // Started without HOME: the settings and the autostart entry still go to the account's home,
  // not below the working folder.
  void withoutHomeTheAccountsHomeIsUsed() {
    const QByteArray saved[] = {qgetenv("HOME"), qgetenv("XDG_CONFIG_HOME"), qgetenv("APPDATA")};
    qunsetenv("HOME");
    qunsetenv("XDG_CONFIG_HOME");
    qunsetenv("APPDATA");
    const std::filesystem::path home = dv::UserHomeFolder();
    const auto settings = dv::SettingsFilePath();
    const auto autostart = dv::DefaultAutostartFolder();
    qputenv("HOME", saved[0]);
    qputenv("XDG_CONFIG_HOME", saved[1]);
    qputenv("APPDATA", saved[2]);
    if (saved[1].isEmpty()) qunsetenv("XDG_CONFIG_HOME");
    if (saved[2].isEmpty()) qunsetenv("APPDATA");

    const passwd* account = ::getpwuid(::getuid());
    QVERIFY(account != nullptr);
    QCOMPARE(home.string(), std::string(account->pw_dir));
    QVERIFY(settings.is_absolute());
    QCOMPARE(settings, home / ".config" / "Diskvigil.ini");
    QCOMPARE(autostart, home / ".config" / "autostart");
  }

  void namesTheWindowsVersions_data() {
    QTest::addColumn<uint>("major");
    QTest::addColumn<uint>("minor");
    QTest::addColumn<uint>("productType");
    QTest::addColumn<QString>("label");
    QTest::newRow("NT 3.51") << 3u << 51u << 1u << "3.51.1057 Windows NT 3.51";
    QTest::newRow("NT 4") << 4u << 0u << 3u << "4.0.1057 Windows NT 4.0";
    QTest::newRow("2000") << 5u << 0u << 1u << "5.0.1057 Windows 2000";
    QTest::newRow("XP") << 5u << 1u << 1u << "5.1.1057 Windows XP";
    QTest::newRow("2003") << 5u << 2u << 3u << "5.2.1057 Windows 2003";
    QTest::newRow("Vista") << 6u << 0u << 1u << "6.0.1057 Windows Vista";
    QTest::newRow("Server 2008") << 6u << 0u << 3u << "6.0.1057 Windows Server 2008";
    QTest::newRow("7") << 6u << 1u << 1u << "6.1.1057 Windows 7";
    QTest::newRow("Server 2008 R2") << 6u << 1u << 2u << "6.1.1057 Windows Server 2008 R2";
    QTest::newRow("8") << 6u << 2u << 1u << "6.2.1057 Windows 8";
    QTest::newRow("Server 8") << 6u << 2u << 3u << "6.2.1057 Windows Server 8";
    QTest::newRow("8.1: numbers only") << 6u << 3u << 1u << "6.3.1057";
    QTest::newRow("10: numbers only") << 10u << 0u << 1u << "10.0.1057";
    QTest::newRow("5.3: numbers only") << 5u << 3u << 1u << "5.3.1057";
  }
  void namesTheWindowsVersions() {
    QFETCH(uint, major);
    QFETCH(uint, minor);
    QFETCH(uint, productType);
    QFETCH(QString, label);
    QCOMPARE(QString::fromStdString(dv::WindowsOsLabel(major, minor, 1057, productType)), label);
  }

  void labelsLinux() {
    const std::string osRelease =
        "NAME=\"Debian GNU/Linux\"\nPRETTY_NAME=\"Debian GNU/Linux 12 (bookworm)\"\nID=debian\n";
    QCOMPARE(dv::LinuxOsLabel("6.1.0-18-amd64", osRelease),
             std::string("6.1.0 Debian GNU/Linux 12 (bookworm)"));
    QCOMPARE(dv::PrettyNameFromOsRelease("PRETTY_NAME='Arch Linux'\r\n"),
             std::string("Arch Linux"));
    QCOMPARE(dv::PrettyNameFromOsRelease("PRETTY_NAME=\"Say \\\"hi\\\"\""),
             std::string("Say \"hi\""));
    QCOMPARE(dv::PrettyNameFromOsRelease("NAME=x\n#PRETTY_NAME=y\n"), std::string());
    QCOMPARE(dv::KernelReleaseNumbers("5.15.0-91-generic"), std::string("5.15.0"));
    QCOMPARE(dv::KernelReleaseNumbers("6.7.rc1"), std::string("6.7"));
    QCOMPARE(dv::LinuxOsLabel("", osRelease), std::string("Debian GNU/Linux 12 (bookworm)"));
    QCOMPARE(dv::LinuxOsLabel("6.1.0", ""), std::string("6.1.0"));

    const auto running = dv::QueryOsInfo();
    QVERIFY(!running.label.empty());
    QVERIFY(running.ntBased);
  }

  void followsThePowerTable() {
    using dv::PowerAction;
    for (unsigned major : {0u, 4u, 5u}) {
      QCOMPARE(dv::PowerActionFor(4, major), PowerAction::Suspend);
      QCOMPARE(dv::PowerActionFor(6, major), PowerAction::Resume);
      QCOMPARE(dv::PowerActionFor(18, major), PowerAction::ResumeAndProcessMessages);
    }
    for (unsigned major : {6u, 10u}) {
      QCOMPARE(dv::PowerActionFor(4, major), PowerAction::Suspend);
      QCOMPARE(dv::PowerActionFor(6, major), PowerAction::None);
      QCOMPARE(dv::PowerActionFor(18, major), PowerAction::Resume);
    }
    for (unsigned code : {0u, 2u, 7u, 10u, 0x8013u})
      QCOMPARE(dv::PowerActionFor(code, 5), PowerAction::None);
  }

  // The power window's handling of one message, fed synthetic messages.
  void powerMessagesBecomeSuspendAndResume() {
    dv::PowerEventSource source;
    QSignalSpy suspending(&source, &dv::PowerEventSource::suspending);
    QSignalSpy resuming(&source, &dv::PowerEventSource::resuming);
    QVERIFY(!dv::HandlePowerMessage(source, 0x0010, 4, 10));  // WM_CLOSE: not ours
    QVERIFY(!dv::HandlePowerMessage(source, 0x0219, 4, 10));  // a neighbouring message
    QCOMPARE(suspending.count() + resuming.count(), 0);

    QVERIFY(dv::HandlePowerMessage(source, dv::kWmPowerBroadcast, 4, 10));
    QCOMPARE(suspending.count(), 1);
    QVERIFY(dv::HandlePowerMessage(source, dv::kWmPowerBroadcast, 7, 10));  // resume by the user
    QVERIFY(dv::HandlePowerMessage(source, dv::kWmPowerBroadcast, 6, 10));  // critical: not on 6+
    QCOMPARE(resuming.count(), 0);
    QVERIFY(dv::HandlePowerMessage(source, dv::kWmPowerBroadcast, 18, 10));
    QCOMPARE(resuming.count(), 1);
    QVERIFY(dv::HandlePowerMessage(source, dv::kWmPowerBroadcast, 6, 5));
    QVERIFY(dv::HandlePowerMessage(source, dv::kWmPowerBroadcast, 18, 5));
    QCOMPARE(resuming.count(), 3);
    // A code wider than 32 bits whose low half looks like a suspend is no suspend.
    QVERIFY(dv::HandlePowerMessage(source, dv::kWmPowerBroadcast, (uintptr_t{1} << 32) | 4u, 10));
    QCOMPARE(suspending.count(), 1);
  }

  void withoutABusNothingHappens() {
    std::unique_ptr<dv::LogindPowerEvents> source;
    const auto took = Timed([&] {
      source = std::make_unique<dv::LogindPowerEvents>(QDBusConnection::connectToBus(
          QStringLiteral("unix:path=/nonexistent/bus"), QStringLiteral("dead")));
    });
    QVERIFY(!source->Subscribed());
    QVERIFY(took < 1000ms);
  }

  void followsLogindOnAPrivateBus() {
    const QString daemon = QStandardPaths::findExecutable(QStringLiteral("dbus-daemon"));
    if (daemon.isEmpty()) QSKIP("dbus-daemon is not installed: the logind signal test did not run");
    QProcess bus;
    bus.start(daemon, {QStringLiteral("--session"), QStringLiteral("--nofork"),
                       QStringLiteral("--print-address=1"),
                       QStringLiteral("--address=unix:dir=") + dir_.path()});
    QVERIFY(bus.waitForReadyRead(5000));
    const QString address = QString::fromUtf8(bus.readLine()).trimmed();

    auto logind = QDBusConnection::connectToBus(address, QStringLiteral("fake-logind"));
    QVERIFY(logind.registerService(QStringLiteral("org.freedesktop.login1")));
    {
      dv::LogindPowerEvents source(QDBusConnection::connectToBus(address, QStringLiteral("app")));
      QVERIFY(source.Subscribed());
      QSignalSpy suspending(&source, &dv::PowerEventSource::suspending);
      QSignalSpy resuming(&source, &dv::PowerEventSource::resuming);
      const auto sleep = [&](bool start) {
        auto signal = QDBusMessage::createSignal(QStringLiteral("/org/freedesktop/login1"),
                                                 QStringLiteral("org.freedesktop.login1.Manager"),
                                                 QStringLiteral("PrepareForSleep"));
        signal << start;
        QVERIFY(logind.send(signal));
      };
      sleep(true);
      QVERIFY(suspending.wait(5000));
      QCOMPARE(resuming.count(), 0);
      sleep(false);
      QVERIFY(resuming.wait(5000));
      QCOMPARE(suspending.count(), 1);
    }
    QDBusConnection::disconnectFromBus(QStringLiteral("app"));
    QDBusConnection::disconnectFromBus(QStringLiteral("fake-logind"));
    bus.terminate();
    bus.waitForFinished(5000);
  }

  void theSirenIsEightKilohertzEightBitMono() {
    const auto samples = dv::SirenSamples();
    QCOMPARE(samples.size(), std::size_t{21466});
    const auto [low, high] = std::minmax_element(samples.begin(), samples.end());
    QVERIFY(*low < 30);  // loud: near the full range...
    QVERIFY(*high > 225);
    QVERIFY(std::abs(samples.front() - 128) <= 2);  // ...yet no click at either end
    QVERIFY(std::abs(samples.back() - 128) <= 2);
    double sum = 0;
    for (auto s : samples) sum += s;
    QVERIFY(std::abs(sum / samples.size() - 128.0) < 2.0);  // centred on silence (unsigned)

    const auto wave = dv::SirenWaveFile();
    QCOMPARE(std::string(wave.begin(), wave.begin() + 4), std::string("RIFF"));
    QCOMPARE(LittleEndian32(wave, 4), static_cast<uint32_t>(wave.size() - 8));
    QCOMPARE(wave[20] | wave[21] << 8, 1);       // PCM
    QCOMPARE(wave[22] | wave[23] << 8, 1);       // mono
    QCOMPARE(LittleEndian32(wave, 24), 8000u);   // samples per second
    QCOMPARE(LittleEndian32(wave, 28), 8000u);   // bytes per second
    QCOMPARE(wave[34] | wave[35] << 8, 8);       // bits per sample
    QCOMPARE(LittleEndian32(wave, 40), 21466u);  // data bytes
  }

  void playingNeverBlocks() {
    // No sound server here (or one with a null sink): either way Play returns at once.
    qputenv("PULSE_SERVER", "unix:/nonexistent/pulse");
    const auto took = Timed([] {
      auto sound = dv::CreateAlertSound();
      sound->Play();
      sound->Play();
    });
    QVERIFY2(took < 3000ms, "creating, playing twice and closing took too long");
    dv::RecordingAlertSound recorder;
    recorder.Play();
    QCOMPARE(recorder.plays, 1);
  }

  void mailIdleWaitIsBounded() {
    QCOMPARE(dv::kMailIdleTimeout, std::chrono::milliseconds(30000));
    dv::MailLock lock;
    QVERIFY(lock.WaitForMailIdle(0ms));

    std::atomic<bool> holding = false;
    std::atomic<bool> release = false;
    std::thread mail([&] {
      auto held = lock.Hold();
      holding = true;
      while (!release) std::this_thread::sleep_for(1ms);
    });
    while (!holding) std::this_thread::sleep_for(1ms);
    bool idle = true;
    const auto took = Timed([&] { idle = lock.WaitForMailIdle(150ms); });
    QVERIFY(!idle);
    QVERIFY(took >= 140ms && took < 2000ms);
    release = true;
    mail.join();
    QVERIFY(lock.WaitForMailIdle(0ms));
  }

  void drawsTheMakersLogos() {
    const auto logos = dv::VendorLogos();
    QCOMPARE(int(logos.size()), dv::kLogoCount);
    const QStringList names{"Seagate", "Western Digital", "Samsung", "Hitachi", "Maxtor", "Fujitsu",
                            "IBM",     "Toshiba",         "Quantum"};
    for (int i = 0; i < dv::kLogoCount; ++i) {
      QCOMPARE(dv::LogoMakerName(i), names[i]);
      const QImage& logo = logos[static_cast<std::size_t>(i)];
      QCOMPARE(logo.size(), QSize(121, 33));
      QCOMPARE(logo.pixelColor(0, 0), QColor(Qt::white));
      QCOMPARE(logo.pixelColor(120, 32), QColor(Qt::white));
      int dark = 0;
      for (int y = 0; y < logo.height(); ++y)
        for (int x = 0; x < logo.width(); ++x) dark += qGray(logo.pixel(x, y)) < 128;
      QVERIFY2(dark > 30, qPrintable(names[i]));
    }
    QVERIFY(dv::VendorLogo(-1).isNull());
    QVERIFY(dv::VendorLogo(9).isNull());
  }

  void pointsTheAboutLinks() {
    QCOMPARE(dv::SupportMailUrl().toString(),
             QStringLiteral("mailto:support@diskvigil.invalid?subject=Support"));
    QTemporaryDir prefix;
    QDir(prefix.path()).mkpath(QStringLiteral("bin"));
    QDir(prefix.path()).mkpath(QStringLiteral("share/doc/diskvigil"));
    const QString readme = prefix.path() + QStringLiteral("/share/doc/diskvigil/README.md");
    std::ofstream(readme.toStdString()) << "# Diskvigil\n";
    QCOMPARE(dv::HomePageUrl(prefix.path() + QStringLiteral("/bin")), QUrl::fromLocalFile(readme));
    const QUrl fallback = dv::HomePageUrl(dir_.path());
    QVERIFY(fallback.isLocalFile());
    QVERIFY(fallback.toLocalFile().endsWith(QStringLiteral("/README.md")));
  }
};

DISKVIGIL_QTEST_MAIN(PlatformSeamsTest)
#include "PlatformSeamsTest.moc"
