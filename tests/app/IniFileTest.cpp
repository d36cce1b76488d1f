// The settings file: reading rules, names without regard to case, other lines kept, safe writes.
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <QTemporaryDir>
#include <QtTest>
#include <fstream>
#include <sstream>

#include "kit/FileText.h"
#include "kit/QtTestMain.h"
#include "settings/IniFile.h"
#include "settings/SettingsKeys.h"

using dv::IniFile;

using dv::testing::ReadText;

namespace {

void WriteText(const std::filesystem::path& path, const std::string& text) {
  std::ofstream(path, std::ios::binary) << text;
}

unsigned ModeOf(const std::filesystem::path& path) {
  struct stat info {};
  ::stat(path.c_str(), &info);
  return info.st_mode & 0777;
}

// Runs `work` with the rights of an ordinary user (root may write anywhere, so a read-only folder
// only shows its effect to someone else) and gives back its result, or -1 when it could not run.
int RunUnprivileged(const std::function<int()>& work) {
  if (::getuid() != 0) return work();
  const pid_t child = ::fork();
  if (child == 0) {
    if (::setgid(65534) != 0 || ::setuid(65534) != 0) ::_exit(255);
    ::_exit(work());
  }
  int status = 0;
  ::waitpid(child, &status, 0);
  return WIFEXITED(status) && WEXITSTATUS(status) != 255 ? WEXITSTATUS(status) : -1;
}

}  // namespace

class IniFileTest : public QObject {
  Q_OBJECT

 private:
  QTemporaryDir dir_;
  std::filesystem::path Folder() const { return dir_.path().toStdString(); }
  std::filesystem::path File() const { return Folder() / "Diskvigil.ini"; }
  IniFile Stored(const std::string& value) {
    WriteText(File(), "[Settings]\nValue=" + value + "\n");
    return IniFile(File());
  }

 private slots:
  void init() {
    std::error_code error;
    for (const auto& entry : std::filesystem::directory_iterator(Folder()))
      std::filesystem::remove_all(entry.path(), error);
  }

  void readsIntegersAsStored_data() {
    QTest::addColumn<QString>("stored");
    QTest::addColumn<int>("expected");
    const int fallback = -7;
    QTest::newRow("decimal") << "30" << 30;
    QTest::newRow("leading spaces") << "   30" << 30;
    QTest::newRow("plus") << "+30" << 30;
    QTest::newRow("minus") << "-30" << -30;
    QTest::newRow("dollar hex") << "$FF" << 255;
    QTest::newRow("x hex") << "xff" << 255;
    QTest::newRow("X hex") << "XfF" << 255;
    QTest::newRow("0x hex") << "0xFF" << 255;
    QTest::newRow("0X hex") << "0X10" << 16;
    QTest::newRow("signed hex") << "-$10" << -16;
    QTest::newRow("colour") << "$00FF00" << 0xFF00;
    QTest::newRow("full 32-bit hex") << "$FFFFFFFF" << -1;
    QTest::newRow("largest") << "2147483647" << 2147483647;
    QTest::newRow("smallest") << "-2147483648" << (-2147483647 - 1);
    QTest::newRow("decimal overflow") << "2147483648" << fallback;
    QTest::newRow("hex overflow") << "$100000000" << fallback;
    QTest::newRow("bare hex digits") << "FF" << fallback;
    QTest::newRow("word") << "red" << fallback;
    QTest::newRow("trailing text") << "12abc" << fallback;
    QTest::newRow("prefix only") << "0x" << fallback;
    QTest::newRow("sign only") << "-" << fallback;
    QTest::newRow("empty") << "" << fallback;
    QTest::newRow("inner space") << "1 2" << fallback;
  }
  void readsIntegersAsStored() {
    QFETCH(QString, stored);
    QFETCH(int, expected);
    QCOMPARE(Stored(stored.toStdString()).ReadInteger("Value", -7), expected);
  }

  void readsBooleansAsIntegers() {
    QCOMPARE(Stored("2").ReadBool("Value", false), true);
    QCOMPARE(Stored("-1").ReadBool("Value", false), true);
    QCOMPARE(Stored("0").ReadBool("Value", true), false);
    QCOMPARE(Stored("$0").ReadBool("Value", true), false);
    QCOMPARE(Stored("yes").ReadBool("Value", true), true);
    QCOMPARE(Stored("yes").ReadBool("Value", false), false);
    QCOMPARE(IniFile(Folder() / "missing.ini").ReadBool("Value", true), true);
  }

  void readsStringsUpToTheLimit() {
    const std::string longValue(5000, 'p');
    QCOMPARE(Stored(longValue).ReadString("Value", "d").size(), dv::kMaxProfileStringLength);
    QCOMPARE(Stored("a=b=c").ReadString("Value", "d"), std::string("a=b=c"));
    QCOMPARE(Stored("x").ReadString("Other", "25"), std::string("25"));
    QCOMPARE(IniFile(Folder() / "missing.ini").ReadString("SMTP Port", "25"), std::string("25"));
  }

  void comparesNamesWithoutRegardToCase() {
    WriteText(File(), "[other]\nrefresh interval=99\n[SETTINGS]\n  refresh INTERVAL = 30 \n");
    IniFile ini(File());
    QCOMPARE(ini.ReadInteger(dv::kRefreshIntervalKey, 15), 30);
    QVERIFY(ini.WriteInteger(dv::kRefreshIntervalKey, 45));
    // The one line is rewritten in place, keeping the file's spelling of the key.
    QCOMPARE(ReadText(File()), std::string("[other]\nrefresh interval=99\n[SETTINGS]\nrefresh "
                                           "INTERVAL=45\n"));
  }

  void readsAndWritesTheFirstSectionOfANameOnly() {
    WriteText(File(),
              "[Settings]\nA=1\n[Other]\nRefresh Interval=5\n[Settings]\nRefresh "
              "Interval=99\n");
    IniFile ini(File());
    QCOMPARE(ini.ReadInteger(dv::kRefreshIntervalKey, 15), 15);
    QVERIFY(ini.WriteInteger(dv::kRefreshIntervalKey, 45));
    QCOMPARE(ini.ReadInteger(dv::kRefreshIntervalKey, 15), 45);
    QCOMPARE(ReadText(File()), std::string("[Settings]\nA=1\nRefresh Interval=45\n[Other]\nRefresh "
                                           "Interval=5\n[Settings]\nRefresh Interval=99\n"));
  }

  void takesALineWithoutEqualsAsAKeyWithoutValue() {
    WriteText(File(), "[Settings]\n  SMTP Host \nSMTP Host=later\n; Alert Sound\n");
    IniFile ini(File());
    QCOMPARE(ini.ReadString("SMTP Host", "d"), std::string("d"));
    QCOMPARE(ini.ReadInteger("SMTP Host", 7), 7);
    QCOMPARE(ini.ReadBool("Alert Sound", true), true);  // a comment, not a key
    QVERIFY(ini.WriteString("SMTP Host", "mail.example.org"));
    QCOMPARE(
        ReadText(File()),
        std::string("[Settings]\nSMTP Host=mail.example.org\nSMTP Host=later\n; Alert Sound\n"));
  }

  void keepsEverythingElse() {
    const std::string before =
        "; written by hand\n[Settings]\nAlert Sound=1\n\n[Window]\nLeft=10\nstray line\n";
    WriteText(File(), before);
    IniFile ini(File());
    QVERIFY(ini.WriteString("SMTP Host", "mail.example.org"));
    QVERIFY(ini.WriteBool("Alert Sound", false));
    QCOMPARE(
        ReadText(File()),
        std::string("; written by hand\n[Settings]\nAlert Sound=0\nSMTP Host=mail.example.org\n"
                    "\n[Window]\nLeft=10\nstray line\n"));
  }

  void createsTheFileOwnerOnly() {
    IniFile ini(File());
    QVERIFY(ini.WriteString(dv::kSmtpPasswordKey, "secret"));
    QCOMPARE(ReadText(File()), std::string("[Settings]\nSMTP Password=secret\n"));
    QCOMPARE(ModeOf(File()), 0600u);
    QCOMPARE(ini.ReadString(dv::kSmtpPasswordKey, ""), std::string("secret"));

    // A file others could read is tightened by the next write.
    ::chmod(File().c_str(), 0644);
    QVERIFY(ini.WriteInteger("SMTP Delay", 20));
    QCOMPARE(ModeOf(File()), 0600u);
    // No temporary file is left beside it.
    QCOMPARE(std::distance(std::filesystem::directory_iterator(Folder()),
                           std::filesystem::directory_iterator()),
             1);
  }

  void writesThroughASymbolicLink() {
    const auto real = Folder() / "real.ini";
    WriteText(real, "[Settings]\n");
    std::filesystem::create_symlink(real, File());
    QVERIFY(IniFile(File()).WriteInteger("Refresh Interval", 60));
    QVERIFY(std::filesystem::is_symlink(File()));
    QCOMPARE(IniFile(real).ReadInteger("Refresh Interval", 15), 60);
  }

  void reportsAFailedWrite() {
    // A folder that does not exist.
    IniFile missing(Folder() / "no such folder" / "Diskvigil.ini");
    QVERIFY(!missing.WriteBool("Alert Sound", true));

    // A read-only folder; the file in it stays as it was.
    const auto locked = Folder() / "locked";
    std::filesystem::create_directory(locked);
    WriteText(locked / "Diskvigil.ini", "[Settings]\nAlert Sound=1\n");
    ::chmod(Folder().c_str(), 0755);
    ::chmod((locked / "Diskvigil.ini").c_str(), 0644);
    ::chmod(locked.c_str(), 0555);
    // 1: the file was readable and the write failed, as it should.
    const int outcome = RunUnprivileged([&] {
      IniFile ini(locked / "Diskvigil.ini");
      if (!ini.ReadBool("Alert Sound", false)) return 2;
      return ini.WriteBool("Alert Sound", false) ? 3 : 1;
    });
    ::chmod(locked.c_str(), 0755);
    QCOMPARE(outcome, 1);
    QCOMPARE(ReadText(locked / "Diskvigil.ini"), std::string("[Settings]\nAlert Sound=1\n"));
  }

  void refusesValuesThatWouldBreakTheFile() {
    IniFile ini(File());
    QVERIFY(ini.WriteString("SMTP Host", "a"));
    QVERIFY(!ini.WriteString("SMTP Host", "b\n[Settings]\nSMTP Mail=x"));
    QVERIFY(!ini.WriteString("Key=1", "v"));
    QVERIFY(!ini.WriteString(std::string("Nul\0", 4), "v"));
    QCOMPARE(ReadText(File()), std::string("[Settings]\nSMTP Host=a\n"));
  }

  void keepsWindowsLineEnds() {
    WriteText(File(), "[Settings]\r\nRefresh Interval=30\r\n");
    IniFile ini(File());
    QCOMPARE(ini.ReadInteger("Refresh Interval", 15), 30);
    QVERIFY(ini.WriteString("SMTP Port", "587"));
    QCOMPARE(ReadText(File()),
             std::string("[Settings]\r\nRefresh Interval=30\r\nSMTP Port=587\r\n"));
  }

  void survivesCorruptFiles() {
    std::string garbage;
    for (int i = 0; i < 70000; ++i) garbage += static_cast<char>((i * 37) & 0xFF);
    const std::string noSection = "Refresh Interval=30\n";
    const std::string longLine = "[Settings]\nSMTP Host=" + std::string(1 << 20, 'h') + "\n";
    const std::string unclosed = "[Settings\nRefresh Interval=30\n[";
    for (const auto& text : {garbage, noSection, longLine, unclosed}) {
      WriteText(File(), text);
      IniFile ini(File());
      QCOMPARE(ini.ReadInteger("Refresh Interval", 15), 15);
      QVERIFY(ini.ReadString("SMTP Host", "").size() <= dv::kMaxProfileStringLength);
      QVERIFY(ini.WriteInteger("Refresh Interval", 45));
      QCOMPARE(ini.ReadInteger("Refresh Interval", 15), 45);
    }
  }

  void findsTheSettingsFile() {
    const QByteArray appData = qgetenv("APPDATA");
    qputenv("APPDATA", "/data/app");
    QCOMPARE(dv::SettingsFilePath(), std::filesystem::path("/data/app/Diskvigil.ini"));
    qunsetenv("APPDATA");
    qputenv("XDG_CONFIG_HOME", "/data/config");
    QCOMPARE(dv::SettingsFilePath(), std::filesystem::path("/data/config/Diskvigil.ini"));
    qunsetenv("XDG_CONFIG_HOME");
    qputenv("HOME", "/home/someone");
    QCOMPARE(dv::SettingsFilePath(), std::filesystem::path("/home/someone/.config/Diskvigil.ini"));
    if (!appData.isEmpty()) qputenv("APPDATA", appData);
  }

  void namesEveryKeyOnce() {
    QCOMPARE(dv::TrayIconKey(1), std::string("HDD1 Temperature Icon"));
    QCOMPARE(dv::TrayFontColorKey(6), std::string("HDD6 Temperature Icon FColor"));
    QCOMPARE(dv::TrayBackColorKey(2), std::string("HDD2 Temperature Icon BColor"));
    for (std::size_t i = 0; i < dv::kFixedSettingKeys.size(); ++i)
      for (std::size_t j = i + 1; j < dv::kFixedSettingKeys.size(); ++j)
        QVERIFY(dv::kFixedSettingKeys[i].name != dv::kFixedSettingKeys[j].name);
  }
};

DISKVIGIL_QTEST_MAIN(IniFileTest)
#include "IniFileTest.moc"
