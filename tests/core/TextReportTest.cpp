#include <gtest/gtest.h>
#include <sys/stat.h>

#include <clocale>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <vector>

#include "TestFolder.h"
#include "core/TextReport.h"
#include "kit/SmartSectorBuilder.h"

namespace dv {
namespace {

namespace fs = std::filesystem;

std::tm At(int year, int month, int day, int hour, int minute, int second) {
  std::tm t{};
  t.tm_year = year - 1900;
  t.tm_mon = month - 1;
  t.tm_mday = day;
  t.tm_hour = hour;
  t.tm_min = minute;
  t.tm_sec = second;
  return t;
}

std::vector<std::string> SplitCrLf(const std::string& text) {
  std::vector<std::string> lines;
  size_t start = 0;
  for (size_t end; (end = text.find("\r\n", start)) != std::string::npos; start = end + 2) {
    lines.push_back(text.substr(start, end - start));
  }
  EXPECT_EQ(start, text.size()) << "text after the last line end";
  return lines;
}

const ReportIdentity kIdentity{"ST9160821AS", "3.CLH", "5MA6KTGH"};

class TextReport : public ::testing::Test {
 protected:
  void SetUp() override { std::setlocale(LC_TIME, "C"); }
};

TEST_F(TextReport, EmptyGridGivesExactlySevenLines) {
  const std::string text = BuildSMARTReport(kIdentity, {}, At(2026, 12, 7, 14, 5, 9));
  const auto lines = SplitCrLf(text);
  ASSERT_EQ(lines.size(), 7u);
  EXPECT_EQ(lines[0], "S.M.A.R.T. Report - 12/07/26 14:05:09");
  EXPECT_EQ(lines[1], "");
  EXPECT_EQ(lines[2], "Model Number: ST9160821AS");
  EXPECT_EQ(lines[3], "Firmware Revision: 3.CLH");
  EXPECT_EQ(lines[4], "Serial Number: 5MA6KTGH");
  EXPECT_EQ(lines[5], "");
  EXPECT_EQ(lines[6], std::string(40, ' ') + "A      W      R      T      S      ");
  EXPECT_EQ(lines[6].size(), 75u);
  EXPECT_EQ(text.find('\n'), text.find("\r\n") + 1) << "every line end is CR LF";
}

TEST_F(TextReport, TimeIsLeftOutAtExactlyMidnight) {
  EXPECT_EQ(ReportTimestamp(At(2026, 12, 7, 0, 0, 0)), "12/07/26");
  EXPECT_EQ(ReportTimestamp(At(2026, 12, 7, 0, 0, 1)), "12/07/26 00:00:01");
}

TEST_F(TextReport, ColumnsOfFortyAndSevenWithLongCellsWrittenWhole) {
  const SmartSectors sectors = test::MakeSectors({
      {197, 0x0032, 100, 100, {0x02}, 0},
      {194, 0x0022, 100, 100, {0x24, 0x00, 0x11, 0x00, 0x3A, 0x00}, 0},
  });
  const auto dec = BuildAttributeRows(sectors, RawPresentation::Dec);
  const auto decLines = SplitCrLf(BuildSMARTReport(kIdentity, dec, At(2026, 1, 2, 3, 4, 5)));
  ASSERT_EQ(decLines.size(), 9u);
  EXPECT_EQ(decLines[7],
            "(C2h) Temperature                       100    100    249109217316"
            "0      S---O- ");
  // 34 characters of name and 6 spaces; a short raw value keeps the columns under their letters.
  EXPECT_EQ(decLines[8],
            "(C5h) Current Pending Sector Count      100    100    2      0      SC--O- ");
  EXPECT_EQ(decLines[8].find("SC--O-"), decLines[6].find('S'));

  const auto hex = BuildAttributeRows(sectors, RawPresentation::Hex);
  const auto hexLines = SplitCrLf(BuildSMARTReport(kIdentity, hex, At(2026, 1, 2, 3, 4, 5)));
  // 13 characters of raw cell shift the threshold and flags past the letters T and S.
  EXPECT_EQ(hexLines[8],
            "(C5h) Current Pending Sector Count      100    100    000000000002h0      "
            "SC--O- ");
  EXPECT_EQ(hexLines[7].find("!!!"), std::string::npos) << "the status column is not written";
}

class ReportFile : public ::testing::Test {
 protected:
  void SetUp() override { folder_ = dv::test::MakeTestFolder("dv-report"); }
  void TearDown() override { fs::remove_all(folder_); }

  static std::string Read(const fs::path& path) {
    std::ifstream in(path, std::ios::binary);
    std::stringstream text;
    text << in.rdbuf();
    return text.str();
  }
  size_t EntryCount() const {
    return static_cast<size_t>(std::distance(fs::directory_iterator(folder_), {}));
  }

  fs::path folder_;
};

TEST_F(ReportFile, WritesTheBytesAsGivenAndReplacesAnEarlierFile) {
  const fs::path target = folder_ / "disk.log";
  std::ofstream(target) << "an earlier report that is longer than the new one\n";
  EXPECT_EQ(WriteReportFile(target.string(), "line\r\n"), std::nullopt);
  EXPECT_EQ(Read(target), "line\r\n");
  EXPECT_EQ(EntryCount(), 1u) << "no temporary file left behind";
}

TEST_F(ReportFile, FailureNamesThePathAndLeavesTheEarlierFileAlone) {
  // A folder where the file should go: the new report cannot take its place.
  const fs::path blocked = folder_ / "blocked.log";
  fs::create_directory(blocked);
  std::ofstream(blocked / "inside.txt") << "earlier";
  EXPECT_EQ(WriteReportFile(blocked.string(), "new\r\n"), "Unable to write to " + blocked.string());
  EXPECT_EQ(Read(blocked / "inside.txt"), "earlier");
  EXPECT_EQ(EntryCount(), 1u) << "the temporary file is removed again";

  const fs::path missing = folder_ / "no-such-folder" / "disk.log";
  EXPECT_EQ(WriteReportFile(missing.string(), "new\r\n"), "Unable to write to " + missing.string());
}

TEST_F(ReportFile, OnlyRegularWritableFilesAreReplaced) {
  // A name that is not a plain file (a pipe here; /dev/sda or /dev/stdout for a user running as
  // root) must never be swapped for a regular file, nor opened and waited on.
  const fs::path pipe = folder_ / "pipe.log";
  ASSERT_EQ(mkfifo(pipe.c_str(), 0600), 0);
  EXPECT_EQ(WriteReportFile(pipe.string(), "new\r\n"), "Unable to write to " + pipe.string());
  EXPECT_TRUE(fs::is_fifo(pipe));

  // A file the user made read-only keeps its contents.
  const fs::path locked = folder_ / "locked.log";
  std::ofstream(locked) << "earlier";
  fs::permissions(locked, fs::perms::owner_read | fs::perms::group_read | fs::perms::others_read);
  EXPECT_EQ(WriteReportFile(locked.string(), "new\r\n"), "Unable to write to " + locked.string());
  EXPECT_EQ(Read(locked), "earlier");
  EXPECT_EQ(EntryCount(), 2u) << "no temporary file left behind";
}

TEST_F(ReportFile, ALinkStaysALinkAndTheFileItNamesIsReplaced) {
  const fs::path real = folder_ / "real.log";
  const fs::path link = folder_ / "link.log";
  std::ofstream(real) << "earlier";
  fs::create_symlink("real.log", link);
  EXPECT_EQ(WriteReportFile(link.string(), "new\r\n"), std::nullopt);
  EXPECT_TRUE(fs::is_symlink(link));
  EXPECT_EQ(Read(real), "new\r\n");
  EXPECT_EQ(EntryCount(), 2u);
}

}  // namespace
}  // namespace dv
