// The autorun rules (one entry, presence by the quoted path) over a store in memory, and the XDG
// autostart entry that carries them on Linux.
#include <QTemporaryDir>
#include <QtTest>
#include <fstream>
#include <sstream>

#include "app/Autorun.h"
#include "kit/FileText.h"
#include "kit/MemoryAutorunStore.h"
#include "kit/QtTestMain.h"

using dv::testing::ReadText;

namespace {

constexpr std::string_view kProgram = "/opt/Disk Vigil/bin/diskvigil";

}  // namespace

class AutorunTest : public QObject {
  Q_OBJECT

 private:
  QTemporaryDir dir_;
  std::filesystem::path Folder() const { return dir_.path().toStdString(); }

 private slots:
  void initTestCase() {
    // Never the user's own autostart folder.
    qputenv("XDG_CONFIG_HOME", dir_.path().toUtf8());
    qputenv("HOME", dir_.path().toUtf8());
  }

  void savingTwiceLeavesOneEntry() {
    dv::MemoryAutorunStore store;
    QVERIFY(!dv::AutorunPresent(store, kProgram));
    dv::SaveAutorun(store, kProgram, true);
    dv::SaveAutorun(store, kProgram, true);
    QCOMPARE(store.command.value(), std::string("\"/opt/Disk Vigil/bin/diskvigil\""));
    QCOMPARE(store.writes, 1);
    QVERIFY(dv::AutorunPresent(store, kProgram));
  }

  void presenceIsTheQuotedPath() {
    dv::MemoryAutorunStore store;
    store.command = "\"/opt/Disk Vigil/bin/diskvigil\" --minimized";
    QVERIFY(dv::AutorunPresent(store, kProgram));
    dv::SaveAutorun(store, kProgram, true);
    QCOMPARE(store.writes, 0);  // arguments after the path: left alone

    store.command = "/opt/Disk Vigil/bin/diskvigil";  // unquoted
    QVERIFY(!dv::AutorunPresent(store, kProgram));
    store.command = "\"/OPT/Disk Vigil/bin/diskvigil\"";  // other case
    QVERIFY(!dv::AutorunPresent(store, kProgram));
  }

  void aMovedProgramIsRewritten() {
    dv::MemoryAutorunStore store;
    store.command = "\"/usr/local/bin/diskvigil\"";
    QVERIFY(!dv::AutorunPresent(store, kProgram));
    dv::SaveAutorun(store, kProgram, true);
    QCOMPARE(store.command.value(), dv::QuotedProgramPath(kProgram));
  }

  void aClearBoxRemovesTheEntry() {
    dv::MemoryAutorunStore store;
    store.command = dv::QuotedProgramPath(kProgram);
    dv::SaveAutorun(store, kProgram, false);
    QVERIFY(!store.command.has_value());
    dv::SaveAutorun(store, kProgram, false);  // nothing to remove: fine
    QVERIFY(!store.command.has_value());
  }

  void anUnwritableStoreIsSkipped() {
    dv::MemoryAutorunStore store;
    store.writable = false;
    dv::SaveAutorun(store, kProgram, true);
    dv::SaveAutorun(store, kProgram, false);
    QVERIFY(!store.command.has_value());
  }

  void theDesktopEntryCarriesTheCommand() {
    auto store = dv::CreatePlatformAutorunStore();
    const auto entry = Folder() / "autostart" / "Diskvigil.desktop";
    QVERIFY(!store->ReadCommand().has_value());
    dv::SaveAutorun(*store, kProgram, true);
    QVERIFY(std::filesystem::exists(entry));
    const auto text = ReadText(entry);
    QVERIFY(text.starts_with("[Desktop Entry]\n"));
    QVERIFY(text.find("\nType=Application\n") != std::string::npos);
    QVERIFY(text.find("\nExec=\"/opt/Disk Vigil/bin/diskvigil\"\n") != std::string::npos);
    QVERIFY(dv::AutorunPresent(*store, kProgram));

    const auto written = std::filesystem::last_write_time(entry);
    dv::SaveAutorun(*store, kProgram, true);
    QCOMPARE(std::filesystem::last_write_time(entry), written);

    dv::SaveAutorun(*store, kProgram, false);
    QVERIFY(!std::filesystem::exists(entry));
    QVERIFY(!dv::AutorunPresent(*store, kProgram));
  }

  // Desktop settings switch an entry off without removing it; such an entry does not run the
  // program, so the box reads clear, and ticking it writes an entry that runs.
  void aSwitchedOffEntryIsNotAutorun_data() {
    QTest::addColumn<QString>("extra");
    QTest::newRow("hidden") << "Hidden=true\n";
    QTest::newRow("gnome disabled") << "X-GNOME-Autostart-enabled=false\n";
    QTest::newRow("blanks around") << "Hidden = true\n";
  }
  void aSwitchedOffEntryIsNotAutorun() {
    QFETCH(QString, extra);
    dv::DesktopEntryAutorunStore store(Folder() / "switched-off");
    std::filesystem::create_directories(Folder() / "switched-off");
    std::ofstream(store.EntryPath()) << "[Desktop Entry]\nType=Application\nName=Diskvigil\n"
                                     << "Exec=\"/opt/Disk Vigil/bin/diskvigil\"\n"
                                     << extra.toStdString();
    QVERIFY(!dv::AutorunPresent(store, kProgram));

    dv::SaveAutorun(store, kProgram, true);
    QVERIFY(dv::AutorunPresent(store, kProgram));
    const auto text = ReadText(store.EntryPath());
    QVERIFY(text.find("Hidden") == std::string::npos);
    QVERIFY(text.find("X-GNOME-Autostart-enabled=false") == std::string::npos);
  }

  void onlyTheMainGroupCounts() {
    dv::DesktopEntryAutorunStore store(Folder() / "groups");
    std::filesystem::create_directories(Folder() / "groups");
    // Switches in another group, and explicit "on" values, leave the entry running.
    std::ofstream(store.EntryPath())
        << "[Desktop Entry]\nExec=\"/opt/Disk Vigil/bin/diskvigil\"\nHidden=false\n"
        << "X-GNOME-Autostart-enabled=true\n[Desktop Action Off]\nHidden=true\nExec=other\n";
    QVERIFY(dv::AutorunPresent(store, kProgram));
    std::ofstream(store.EntryPath())
        << "[Desktop Action Run]\nExec=\"/opt/Disk Vigil/bin/diskvigil\"\n"
        << "[Desktop Entry]\nExec=/usr/bin/other\n";
    QVERIFY(!dv::AutorunPresent(store, kProgram));
  }

  void reservedCharactersSurviveTheEntry_data() {
    QTest::addColumn<QString>("path");
    QTest::newRow("percent") << "/home/a/100%/diskvigil";
    QTest::newRow("dollar and backquote") << "/home/a/$HOME/`x`/diskvigil";
    QTest::newRow("backslash") << "/home/a/back\\slash/diskvigil";
    QTest::newRow("quote") << "/home/a/say \"hi\"/diskvigil";
  }
  void reservedCharactersSurviveTheEntry() {
    QFETCH(QString, path);
    const auto program = path.toStdString();
    dv::DesktopEntryAutorunStore store(Folder() / "escapes");
    dv::SaveAutorun(store, program, true);
    QVERIFY(dv::AutorunPresent(store, program));
    const auto exec = dv::EncodeDesktopExec(dv::QuotedProgramPath(program));
    QCOMPARE(dv::DecodeDesktopExec(exec), dv::QuotedProgramPath(program));
    // Field codes start with a lone %; none may appear.
    for (std::size_t i = exec.find('%'); i != std::string::npos; i = exec.find('%', i + 2))
      QCOMPARE(exec[i + 1], '%');
  }

  void anUnwritableFolderIsSkipped() {
    // "autostart" is a file here, so no entry can be made below it.
    const auto blocked = Folder() / "blocked";
    std::filesystem::create_directory(blocked);
    std::ofstream(blocked / "autostart") << "not a folder";
    dv::DesktopEntryAutorunStore store(blocked / "autostart");
    QVERIFY(!store.WriteCommand(dv::QuotedProgramPath(kProgram)));
    dv::SaveAutorun(store, kProgram, true);
    QVERIFY(!dv::AutorunPresent(store, kProgram));
  }
};

DISKVIGIL_QTEST_MAIN(AutorunTest)
#include "AutorunTest.moc"
