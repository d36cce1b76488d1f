// Running diskvigil-cli in-process on simulated drives, as the command-line tests do.
#pragma once

#include <gtest/gtest.h>
#include <unistd.h>

#include <cstdlib>
#include <filesystem>
#include <memory>
#include <optional>
#include <sstream>
#include <string>
#include <vector>

#include "TestFolder.h"
#include "cli/Cli.h"
#include "core/SimulatedDrives.h"

namespace dv::cli::clitest {

inline const std::string kDemoDir = std::string(DISKVIGIL_SOURCE_DIR) + "/data/demo";

struct CliRun {
  int exitCode = -1;
  std::string out;
  std::string err;
};

// The monitor keeps a counter state file; a test run keeps it in a folder of its own (removed at
// exit) instead of the user's. A test that sets XDG_STATE_HOME itself afterwards wins.
inline void KeepCounterStateAside() {
  static const test::ProcessFolder folder("dv-cli-state");
  static const bool set = setenv("XDG_STATE_HOME", folder.Path().string().c_str(), 1) == 0;
  (void)set;
}

// Points XDG_STATE_HOME at a test's own folder and puts the earlier value back at the end: the
// tests after it in the same process must not write their state into its removed folder.
class StateHomeFor {
 public:
  explicit StateHomeFor(const std::filesystem::path& folder) {
    KeepCounterStateAside();
    if (const char* now = std::getenv("XDG_STATE_HOME")) before_ = now;
    setenv("XDG_STATE_HOME", folder.string().c_str(), 1);
  }
  ~StateHomeFor() {
    if (before_) {
      setenv("XDG_STATE_HOME", before_->c_str(), 1);
    } else {
      unsetenv("XDG_STATE_HOME");
    }
  }
  StateHomeFor(const StateHomeFor&) = delete;
  StateHomeFor& operator=(const StateHomeFor&) = delete;

 private:
  std::optional<std::string> before_;
};

inline CliRun RunOn(DriveSystem& system, const std::vector<std::string>& args) {
  KeepCounterStateAside();
  std::ostringstream out;
  std::ostringstream err;
  CliRun run;
  run.exitCode = RunCliOn(system, args, out, err);
  run.out = out.str();
  run.err = err.str();
  return run;
}

// A simulation file or folder; a test failure when it does not load.
inline std::unique_ptr<SimulatedDriveSystem> LoadSystem(const std::string& path) {
  std::string error;
  auto system = SimulatedDriveSystem::Load(path, error);
  EXPECT_TRUE(system) << error;
  return system;
}

// Simulation JSON given as text.
inline std::unique_ptr<SimulatedDriveSystem> Simulate(const std::string& text) {
  std::string error;
  auto system = SimulatedDriveSystem::FromJsonText(text, "", "test.json", error);
  EXPECT_TRUE(system) << error;
  return system;
}

inline CliRun RunOn(const std::string& path, const std::vector<std::string>& args) {
  auto system = LoadSystem(path);
  if (!system) return {};
  return RunOn(*system, args);
}

}  // namespace dv::cli::clitest
