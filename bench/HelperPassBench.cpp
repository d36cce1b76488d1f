// A monitoring pass through the drive helper against the same pass on the drives reached directly,
// in the same run and in turn, so machine noise hits both alike; "ratio" is helper / direct.
//   HelperPassBench                   the six demo drives, simulated in this process and behind a
//                                     helper process (SimulatedDriveHelper) over the same files
//   HelperPassBench --real HELPER     the machine's drives (run as root): SG_IO from this process,
//                                     and through HELPER (diskvigil-drive-helper)
// In the VM, as root: bundle HelperPassBench and diskvigil-drive-helper (../shared/vm/bundle),
// boot with three --blank disks, copy the bundle's libraries into /lib/x86_64-linux-gnu (the
// helper gets no environment, so no LD_LIBRARY_PATH) and run
//   HelperPassBench --real /opt/include/bin/diskvigil-drive-helper --benchmark_min_time=5
// Simulated drives answer in nanoseconds, so there the ratio is the bare cost of the exchanges;
// on real drives the commands themselves dominate.
#include <benchmark/benchmark.h>

#include <chrono>
#include <cstring>
#include <memory>
#include <string>
#include <vector>

#include "core/Enumerate.h"
#include "core/Monitor.h"
#include "core/SimulatedDrives.h"
#include "core/platform/LinuxDriveSystem.h"
#include "core/platform/LinuxHelperDriveSystem.h"

namespace dv {
namespace {

std::string realHelper;  // --real HELPER

const std::string kDemo = std::string(DISKVIGIL_SOURCE_DIR) + "/data/demo";

std::unique_ptr<DriveSystem> Direct() {
  if (!realHelper.empty()) return CreateLinuxDriveSystem();
  std::string error;
  return SimulatedDriveSystem::Load(kDemo, error);
}

std::unique_ptr<DriveSystem> ThroughHelper() {
  if (!realHelper.empty())
    return CreateHelperDriveSystem({realHelper, {}}, CreateLinuxDriveSystem());
  return CreateHelperDriveSystem({DISKVIGIL_SIMULATED_HELPER, {kDemo}}, Direct());
}

// The drives listed once, then one pass per Run as the programs run it.
class Pass {
 public:
  explicit Pass(std::unique_ptr<DriveSystem> system) : system_(std::move(system)) {
    listed_ = system_ && ProbeDrives(*system_, table_);
  }
  bool Listed() const { return listed_; }
  int Run() {
    Monitor monitor(*system_, table_, sectors_);
    int read = 0;
    monitor.CheckHDDs(1, [&read](const PositionReading& reading, const SmartSectors&) {
      read += reading.result.sectorsRead ? 1 : 0;
    });
    return read;
  }

 private:
  std::unique_ptr<DriveSystem> system_;
  DriveTable table_;
  SmartSectors sectors_;
  bool listed_ = false;
};

void BM_HelperOverDirectPass(benchmark::State& state) {
  Pass direct(Direct());
  Pass helper(ThroughHelper());
  if (!direct.Listed() || !helper.Listed()) {
    state.SkipWithError("no drive listed (the real drives need root)");
    return;
  }
  if (direct.Run() != helper.Run()) {
    state.SkipWithError("the helper read another number of drives than the direct pass");
    return;
  }
  using Clock = std::chrono::steady_clock;
  Clock::duration directTime{};
  Clock::duration helperTime{};
  int runs = 0;
  for (auto _ : state) {
    const auto t0 = Clock::now();
    benchmark::DoNotOptimize(direct.Run());
    const auto t1 = Clock::now();
    benchmark::DoNotOptimize(helper.Run());
    const auto t2 = Clock::now();
    directTime += t1 - t0;
    helperTime += t2 - t1;
    ++runs;
  }
  const double directUs = std::chrono::duration<double, std::micro>(directTime).count() / runs;
  const double helperUs = std::chrono::duration<double, std::micro>(helperTime).count() / runs;
  state.counters["direct_us"] = directUs;
  state.counters["helper_us"] = helperUs;
  state.counters["ratio"] = helperUs / directUs;
}

BENCHMARK(BM_HelperOverDirectPass)->Unit(benchmark::kMicrosecond);

}  // namespace
}  // namespace dv

int main(int argc, char** argv) {
  std::vector<char*> rest;
  for (int i = 0; i < argc; ++i) {
    if (std::strcmp(argv[i], "--real") == 0 && i + 1 < argc) {
      dv::realHelper = argv[++i];
    } else {
      rest.push_back(argv[i]);
    }
  }
  int count = static_cast<int>(rest.size());
  benchmark::Initialize(&count, rest.data());
  benchmark::RunSpecifiedBenchmarks();
  benchmark::Shutdown();
  return 0;
}
