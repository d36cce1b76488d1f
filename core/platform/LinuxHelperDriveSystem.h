// Drives reached through the drive helper: a small program that alone holds CAP_SYS_RAWIO and
// carries the catalogue's commands for a caller without privilege. The helper is started on first
// use and speaks core/HelperProtocol.h on a socket that is its standard input and output;
// everything that needs no privilege (volume names, the kernel's NVMe readings, names) stays in
// the calling process.
#pragma once

#include <chrono>
#include <filesystem>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "core/DriveSystem.h"

namespace dv {

inline constexpr char kDriveHelperFile[] = "diskvigil-drive-helper";

// The places the helper may be, in the order they are tried, for the program file `program`
// (empty when unknown): "../libexec/diskvigil" from the program's folder, so an unpacked or
// relocated tree works; beside the program; the installed folder; the build tree.
std::vector<std::filesystem::path> DriveHelperCandidates(const std::filesystem::path& program);

// The first candidate that is a file and passes UntrustedFileReason; otherwise nullopt and
// `reason` says what was wrong with the last one found, or that none was found.
std::optional<std::filesystem::path> FindDriveHelper(
    const std::vector<std::filesystem::path>& candidates, std::string& reason);

// Whether a helper that ended may be started again: the first start always, then at most once per
// `spacing`, so that a helper that keeps dying costs one restart per monitoring pass, never a loop.
class HelperRestartRule {
 public:
  explicit HelperRestartRule(std::chrono::steady_clock::duration spacing) : spacing_(spacing) {}
  bool MayStart(std::chrono::steady_clock::time_point now);

 private:
  std::chrono::steady_clock::duration spacing_;
  std::optional<std::chrono::steady_clock::time_point> lastStart_;
};

inline constexpr std::chrono::seconds kHelperRestartSpacing{30};

// The helper's command line: the program and its arguments (the real helper takes none; tests
// start a helper over simulated drives with its file).
struct DriveHelperCommand {
  std::filesystem::path program;
  std::vector<std::string> arguments;
};

// A drive system that forwards pass-through requests and NVMe admin commands to the helper and
// asks `local` for the rest. With an empty program the helper was not found: no drive opens, and
// PrivilegeProblem() says `unavailableReason`.
std::unique_ptr<DriveSystem> CreateHelperDriveSystem(
    DriveHelperCommand command, std::unique_ptr<DriveSystem> local,
    std::string unavailableReason = {},
    std::chrono::steady_clock::duration restartSpacing = kHelperRestartSpacing);

// Whether this process can send ATA pass-through itself: root, or CAP_SYS_RAWIO effective.
bool CanPassThroughDirectly();

}  // namespace dv
