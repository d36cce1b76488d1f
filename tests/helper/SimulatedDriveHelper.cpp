// The helper's server loop over simulated drives, for the tests and the benchmark of the forwarding
// drive system: the same frames as diskvigil-drive-helper, without seccomp or real devices.
#include <unistd.h>

#include <cstdio>

#include "core/SimulatedDrives.h"
#include "helper/DriveHelperServer.h"

int main(int argc, char** argv) {
  if (argc != 2) {
    std::fputs("usage: SimulatedDriveHelper SIMULATION-FILE-OR-FOLDER\n", stderr);
    return 2;
  }
  std::string error;
  const auto drives = dv::SimulatedDriveSystem::Load(argv[1], error);
  if (!drives) {
    std::fprintf(stderr, "%s\n", error.c_str());
    return 2;
  }
  return dv::ServeDriveHelper(*drives, STDIN_FILENO, STDOUT_FILENO);
}
