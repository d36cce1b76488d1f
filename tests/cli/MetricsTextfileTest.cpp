// `monitor --textfile`: the file after every pass, never seen half-written.
#include <gtest/gtest.h>
#include <sys/stat.h>

#include <filesystem>
#include <fstream>
#include <sstream>

#include "CliTestKit.h"
#include "TestFolder.h"
#include "cli/Cli.h"
#include "core/SimulatedDrives.h"

namespace dv::cli {
namespace {

namespace fs = std::filesystem;

const std::string kDemoDir = std::string(DISKVIGIL_SOURCE_DIR) + "/data/demo";

std::string Read(const fs::path& path) {
  std::ifstream in(path, std::ios::binary);
  return std::string(std::istreambuf_iterator<char>(in), {});
}

// Looks at the folder each time a drive is opened, that is in the middle of a pass.
class PeekingSystem : public DriveSystem {
 public:
  PeekingSystem(DriveSystem& inner, fs::path file) : inner_(inner), file_(std::move(file)) {}
  DriveHandlePtr Open(int driveNumber) override {
    seen.push_back(fs::exists(file_) ? Read(file_) : std::string());
    for (const auto& entry : fs::directory_iterator(file_.parent_path())) {
      if (entry.path() != file_) strays.push_back(entry.path().string());
    }
    return inner_.Open(driveNumber);
  }
  std::optional<std::string> VolumeName(int driveNumber, int partition) override {
    return inner_.VolumeName(driveNumber, partition);
  }
  std::string DescribeDrive(int driveNumber) const override {
    return inner_.DescribeDrive(driveNumber);
  }
  std::vector<std::string> seen;
  std::vector<std::string> strays;

 private:
  DriveSystem& inner_;
  fs::path file_;
};

class MonitorTextfile : public ::testing::Test {
 protected:
  void SetUp() override {
    folder_ = dv::test::MakeTestFolder("dv-textfile");
    std::string error;
    simulated_ = SimulatedDriveSystem::Load(kDemoDir, error);
    ASSERT_TRUE(simulated_) << error;
  }
  void TearDown() override { fs::remove_all(folder_); }

  int Run(DriveSystem& system, const std::vector<std::string>& args) {
    clitest::KeepCounterStateAside();
    std::ostringstream out;
    return RunCliOn(system, args, out, err_);
  }

  fs::path folder_;
  std::unique_ptr<SimulatedDriveSystem> simulated_;
  std::ostringstream err_;
};

size_t Count(const std::string& text, const std::string& what) {
  size_t count = 0;
  for (size_t at = text.find(what); at != std::string::npos; at = text.find(what, at + 1)) ++count;
  return count;
}

TEST_F(MonitorTextfile, WrittenWholeAfterEveryPass) {
  const fs::path file = folder_ / "diskvigil.prom";
  PeekingSystem system(*simulated_, file);
  const mode_t previous = ::umask(077);
  const int exitCode =
      Run(system, {"monitor", "--count", "2", "--interval", "0", "--textfile", file.string()});
  ::umask(previous);
  EXPECT_EQ(exitCode, kExitUnhealthy) << err_.str();

  // During the first pass there is no file yet; during the second the first pass's whole file.
  ASSERT_GE(system.seen.size(), 2u);
  EXPECT_EQ(system.seen.front(), "");
  const std::string& firstPass = system.seen.back();
  EXPECT_NE(firstPass.find("diskvigil_last_pass_timestamp_seconds "), std::string::npos);
  EXPECT_TRUE(system.strays.empty()) << system.strays.front();

  const std::string text = Read(file);
  EXPECT_EQ(fs::status(file).permissions(), fs::perms(0644));
  // Six demo drives, the fourth with S.M.A.R.T. off: no verdict, temperature or rows for it.
  EXPECT_EQ(Count(text, "diskvigil_smart_enabled{"), 6u);
  EXPECT_EQ(Count(text, "diskvigil_smart_healthy{"), 5u);
  std::string offLine;
  std::istringstream lines(text);
  for (std::string line; std::getline(lines, line);) {
    if (line.find("HITACHI") != std::string::npos) offLine += line + "\n";
  }
  EXPECT_TRUE(offLine.starts_with("diskvigil_smart_enabled{")) << offLine;
  EXPECT_TRUE(offLine.ends_with("} 0\n")) << offLine;
  EXPECT_EQ(Count(offLine, "\n"), 1u) << offLine;
  EXPECT_NE(text.find("model=\"ST2000DM008-2FR102\""), std::string::npos);
  EXPECT_NE(text.find("} 0\n"), std::string::npos) << "the failing drive";
  // Each pass writes a fresh file: the second holds no more series than the first.
  EXPECT_EQ(Count(text, "\n"), Count(firstPass, "\n"));
}

TEST_F(MonitorTextfile, UnwritablePathAtTheFirstPassStopsTheMonitor) {
  const std::string path = (folder_ / "missing" / "diskvigil.prom").string();
  EXPECT_EQ(Run(*simulated_, {"monitor", "--count", "3", "--interval", "0", "--textfile", path}),
            kExitFailure);
  EXPECT_NE(err_.str().find("Unable to write to " + path), std::string::npos);
  EXPECT_EQ(Run(*simulated_, {"monitor", "--textfile"}), kExitUsage);
}

}  // namespace
}  // namespace dv::cli
