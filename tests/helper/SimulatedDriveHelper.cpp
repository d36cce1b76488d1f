// The helper's server loop over simulated drives, for the tests and the benchmark of the forwarding
// drive system: the same frames as diskvigil-drive-helper, without seccomp or real devices. With a
// second argument, every drive fails to open while that file exists, as drives pulled out would.
#include <unistd.h>

#include <cstdio>
#include <filesystem>
#include <string>

#include "core/SimulatedDrives.h"
#include "helper/DriveHelperServer.h"

namespace {

class UnpluggableDrives : public dv::DriveSystem {
 public:
  UnpluggableDrives(dv::DriveSystem& drives, std::string unplugged)
      : drives_(drives), unplugged_(std::move(unplugged)) {}
  dv::DriveHandlePtr Open(int driveNumber) override {
    return Unplugged() ? nullptr : drives_.Open(driveNumber);
  }
  dv::NvmeHandlePtr OpenNvme(int controller) override {
    return Unplugged() ? nullptr : drives_.OpenNvme(controller);
  }
  std::optional<std::string> VolumeName(int driveNumber, int partition) override {
    return drives_.VolumeName(driveNumber, partition);
  }
  std::string DescribeDrive(int driveNumber) const override {
    return drives_.DescribeDrive(driveNumber);
  }

 private:
  bool Unplugged() const {
    std::error_code error;
    return !unplugged_.empty() && std::filesystem::exists(unplugged_, error);
  }
  dv::DriveSystem& drives_;
  std::string unplugged_;
};

}  // namespace

int main(int argc, char** argv) {
  if (argc != 2 && argc != 3) {
    std::fputs("usage: SimulatedDriveHelper SIMULATION-FILE-OR-FOLDER [UNPLUGGED-WHILE-FILE]\n",
               stderr);
    return 2;
  }
  std::string error;
  const auto drives = dv::SimulatedDriveSystem::Load(argv[1], error);
  if (!drives) {
    std::fprintf(stderr, "%s\n", error.c_str());
    return 2;
  }
  UnpluggableDrives served(*drives, argc == 3 ? argv[2] : "");
  return dv::ServeDriveHelper(served, STDIN_FILENO, STDOUT_FILENO);
}
