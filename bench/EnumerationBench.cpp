// What the command path costs on top of the simulated drive, and what a whole probe costs.
//
// SendATACommand builds a fresh zero-filled request, runs the catalogue guard, passes the request
// through and copies out the returned registers and sector. The PassThrough benchmarks hand the
// same simulated handle a prebuilt request instead (restored from a pristine copy each time, as
// the drive writes its registers into it), so their difference is the transport's own cost.
#include <benchmark/benchmark.h>

#include <algorithm>
#include <memory>
#include <stdexcept>
#include <string>
#include <vector>

#include "core/Drive.h"
#include "core/Enumerate.h"
#include "core/Ioctl.h"
#include "core/SimulatedDrives.h"

namespace dv {
namespace {

// The simulator logs every command; clearing it now and then keeps memory flat in long runs.
constexpr int kClearLogEvery = 4096;

const char* const kOneDrive = R"({"model": "ST2000DM008-2FR102", "sectors": 3907029168,
  "smart": {"offlineCollection": true, "attributeAutosave": true}})";

std::string SixDrives() {
  std::string json = R"({"drives": [)";
  for (int n = 0; n < 6; ++n) {
    json += (n > 0 ? "," : "") + std::string(R"({"model": "WDC WD10EZEX-)") + std::to_string(n) +
            R"(", "sectors": 1953525168, "hpaEnabled": true, "nativeMaxAddress": 1953730000,
               "smart": {"offlineCollection": true, "attributeAutosave": true}})";
  }
  return json + "]}";
}

std::unique_ptr<SimulatedDriveSystem> Simulate(const std::string& json) {
  std::string error;
  auto system = SimulatedDriveSystem::FromJsonText(json, ".", "bench.json", error);
  if (!system) throw std::runtime_error(error);
  return system;
}

AtaCommand CommandOf(const benchmark::State& state) {
  return state.range(0) == 0 ? AtaCommand::Identify : AtaCommand::SmartReturnStatus;
}

void BM_SendATACommand(benchmark::State& state) {
  auto system = Simulate(kOneDrive);
  DriveHandlePtr handle = OpenDrive(*system, 0);
  const AtaCommandRequest request = MakeAtaCommand(CommandOf(state), 0);
  int sent = 0;
  for (auto _ : state) {
    ATACommandResult result = SendATACommand(*handle, request);
    benchmark::DoNotOptimize(result);
    if (++sent % kClearLogEvery == 0) system->ClearLog();
  }
  if (!SendATACommand(*handle, request).success) state.SkipWithError("command failed");
}

void BM_PassThroughOnly(benchmark::State& state) {
  auto system = Simulate(kOneDrive);
  DriveHandlePtr handle = OpenDrive(*system, 0);
  const AtaCommandRequest command = MakeAtaCommand(CommandOf(state), 0);
  const std::vector<uint8_t> pristine =
      BuildAtaRequest(command.ataFlags, command.current, command.dataLength, command.previous);
  std::vector<uint8_t> request = pristine;
  int sent = 0;
  for (auto _ : state) {
    std::copy(pristine.begin(), pristine.end(), request.begin());
    bool ok = handle->PassThrough(request);
    benchmark::DoNotOptimize(ok);
    benchmark::DoNotOptimize(request.data());
    if (++sent % kClearLogEvery == 0) system->ClearLog();
  }
}

void BM_ProbeSixDrives(benchmark::State& state) {
  auto system = Simulate(SixDrives());
  DriveTable table;
  for (auto _ : state) {
    bool found = ProbeDrives(*system, table);
    benchmark::DoNotOptimize(found);
    system->ClearLog();
  }
  if (table.DriveCount != 6) state.SkipWithError("expected six drives");
}

// Argument 0: IDENTIFY DEVICE (552-byte request); 1: S.M.A.R.T. RETURN STATUS (40 bytes).
BENCHMARK(BM_SendATACommand)->Arg(0)->Arg(1);
BENCHMARK(BM_PassThroughOnly)->Arg(0)->Arg(1);
BENCHMARK(BM_ProbeSixDrives);

}  // namespace
}  // namespace dv

BENCHMARK_MAIN();
