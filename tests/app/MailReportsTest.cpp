// The report mails' state without a window: each drive's last verdict is what a report says of
// it. The timer is checked through the window (MailSenderTest, MainFormTest).
#include <QtTest/QtTest>

#include "app/MailReports.h"
#include "core/SmartData.h"
#include "kit/QtTestMain.h"

using namespace dv;

namespace {

DriveTable OneDrive() {
  DriveTable drives;
  drives.DriveCount = 1;
  Drive& drive = drives.At(1);
  drive.SMARTEnabled = true;
  drive.ModelNumber = "MODEL";
  drive.SerialNumber = "SN1";
  drive.Temperature = 41;
  return drives;
}

struct Step {
  const char* what;
  ReadSmartResult read;
  const char* serial;  // of the drive at the position when the report is made
  const char* verdict;
};

}  // namespace

class MailReportsTest : public QObject {
  Q_OBJECT

 private slots:
  void reportGivesEachDrivesLastVerdict();
};

void MailReportsTest::reportGivesEachDrivesLastVerdict() {
  const ReadSmartResult none{};
  const Step steps[] = {
      {"never read", none, "SN1", "..."},
      {"passed", {true, true, true}, "SN1", "O.K."},
      {"no verdict keeps the last", none, "SN1", "O.K."},
      {"failed, sectors unread", {true, false, false}, "SN1", "ERROR"},
      {"another drive at the position", none, "SN2", "..."},
  };
  MailReports reports;
  DriveTable drives = OneDrive();
  for (const Step& step : steps) {
    reports.NoteVerdict(drives, 1, step.read);
    drives.At(1).SerialNumber = step.serial;
    const std::vector<ReportDrive> listed = reports.Listed(drives);
    QCOMPARE(listed.size(), size_t{1});
    QVERIFY2(listed[0].smartStatus == step.verdict, step.what);
    QCOMPARE(listed[0].model, std::string("MODEL"));
    QCOMPARE(listed[0].temperature, std::optional<int>(41));
    drives.At(1).SerialNumber = "SN1";
  }
}

DISKVIGIL_QTEST_GUILESS_MAIN(MailReportsTest)
#include "MailReportsTest.moc"
