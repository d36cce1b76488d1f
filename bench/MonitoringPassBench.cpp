// One monitoring pass over six simulated drives (RETURN STATUS, READ DATA and READ THRESHOLDS on
// three opens each, the selected drive's rows formatted) against the bare cost of the same
// eighteen commands on the simulated back end: an open and a prebuilt request handed straight to
// PassThrough. BM_PassOverCommands interleaves the two and reports their ratio.
#include <benchmark/benchmark.h>

#include <array>
#include <chrono>
#include <memory>
#include <stdexcept>
#include <string>
#include <vector>

#include "core/AttributeRows.h"
#include "core/Drive.h"
#include "core/Ioctl.h"
#include "core/Monitor.h"
#include "core/SimulatedDrives.h"

namespace dv {
namespace {

constexpr int kDrives = 6;
constexpr int kSelectedPosition = 1;
constexpr int kClearLogEvery = 256;  // passes; the simulator logs every command

// A drive with the attributes a desktop disk typically keeps.
std::string DriveJson(int n) {
  const std::string attributes = R"([
    {"id": 1, "flags": 15, "value": 80, "worst": 64, "threshold": 6, "raw": 100123456},
    {"id": 3, "flags": 3, "value": 96, "worst": 96, "threshold": 0, "raw": 0},
    {"id": 4, "flags": 50, "value": 100, "worst": 100, "threshold": 20, "raw": 812},
    {"id": 5, "flags": 51, "value": 100, "worst": 100, "threshold": 10, "raw": 0},
    {"id": 7, "flags": 15, "value": 86, "worst": 60, "threshold": 45, "raw": 412345678},
    {"id": 9, "flags": 50, "value": 76, "worst": 76, "threshold": 0, "raw": 21234},
    {"id": 10, "flags": 19, "value": 100, "worst": 100, "threshold": 97, "raw": 0},
    {"id": 12, "flags": 50, "value": 100, "worst": 100, "threshold": 20, "raw": 815},
    {"id": 190, "flags": 34, "value": 64, "worst": 55, "threshold": 40, "raw": "0x2D140024"},
    {"id": 194, "flags": 34, "value": 36, "worst": 45, "threshold": 0, "raw": "0x2D00140024"},
    {"id": 197, "flags": 18, "value": 100, "worst": 100, "threshold": 0, "raw": 0},
    {"id": 198, "flags": 16, "value": 100, "worst": 100, "threshold": 0, "raw": 0},
    {"id": 199, "flags": 62, "value": 200, "worst": 200, "threshold": 0, "raw": 0}])";
  return R"({"model": "ST2000DM008-)" + std::to_string(n) + R"(", "sectors": 3907029168,
            "smart": {"attributes": )" +
         attributes + "}}";
}

std::unique_ptr<SimulatedDriveSystem> SixDrives() {
  std::string json = R"({"drives": [)";
  for (int n = 0; n < kDrives; ++n) json += (n > 0 ? "," : "") + DriveJson(n);
  std::string error;
  auto system = SimulatedDriveSystem::FromJsonText(json + "]}", ".", "bench.json", error);
  if (!system) throw std::runtime_error(error);
  return system;
}

DriveTable ListedDrives() {
  DriveTable table;
  table.DriveCount = kDrives;
  for (int position = 1; position <= kDrives; ++position) {
    table.At(position).DriveNumber = static_cast<uint8_t>(position - 1);
    table.At(position).SMARTEnabled = true;
  }
  return table;
}

// The whole pass as the application runs it, rows of the selected drive included.
class Pass {
 public:
  Pass(DriveSystem& system) : table_(ListedDrives()), monitor_(system, table_, sectors_) {}

  bool Run() {
    const PassOutcome outcome = monitor_.CheckHDDs(
        kSelectedPosition, [this](const PositionReading& reading, const SmartSectors& sectors) {
          if (reading.shown && reading.result.sectorsRead) {
            rows_ = BuildAttributeRows(sectors, RawPresentation::Hex);
          }
        });
    return outcome.good && rows_.size() == 13;
  }

 private:
  DriveTable table_;
  SmartSectors sectors_;
  Monitor monitor_;
  std::vector<AttributeRow> rows_;
};

// The eighteen commands alone: an open per command and a prebuilt request, restored from a
// pristine copy each time because the drive writes its answer into it.
class BareCommands {
 public:
  explicit BareCommands(DriveSystem& system) : system_(system) {
    for (int n = 0; n < kDrives; ++n) {
      for (size_t c = 0; c < kCommands.size(); ++c) {
        const AtaCommandRequest r = MakeAtaCommand(kCommands[c], n);
        pristine_[n][c] = BuildAtaRequest(r.ataFlags, r.current, r.dataLength, r.previous);
        working_[n][c] = pristine_[n][c];
      }
    }
  }

  bool Run() {
    bool ok = true;
    for (int n = 0; n < kDrives; ++n) {
      for (size_t c = 0; c < kCommands.size(); ++c) {
        std::vector<uint8_t>& request = working_[n][c];
        std::copy(pristine_[n][c].begin(), pristine_[n][c].end(), request.begin());
        DriveHandlePtr handle = system_.Open(n);
        ok = handle && handle->PassThrough(request) && ok;
      }
    }
    return ok;
  }

 private:
  static constexpr std::array<AtaCommand, 3> kCommands{
      AtaCommand::SmartReturnStatus, AtaCommand::SmartReadData, AtaCommand::SmartReadThresholds};
  DriveSystem& system_;
  std::array<std::array<std::vector<uint8_t>, 3>, kDrives> pristine_;
  std::array<std::array<std::vector<uint8_t>, 3>, kDrives> working_;
};

void BM_MonitoringPass(benchmark::State& state) {
  auto system = SixDrives();
  Pass pass(*system);
  int runs = 0;
  for (auto _ : state) {
    benchmark::DoNotOptimize(pass.Run());
    if (++runs % kClearLogEvery == 0) system->ClearLog();
  }
  if (!pass.Run()) state.SkipWithError("the pass was not good");
}

void BM_EighteenBareCommands(benchmark::State& state) {
  auto system = SixDrives();
  BareCommands bare(*system);
  int runs = 0;
  for (auto _ : state) {
    benchmark::DoNotOptimize(bare.Run());
    if (++runs % kClearLogEvery == 0) system->ClearLog();
  }
  if (!bare.Run()) state.SkipWithError("a command failed");
}

// Both in turn, timed alike, so machine noise hits them equally; "ratio" is pass / bare.
void BM_PassOverCommands(benchmark::State& state) {
  auto system = SixDrives();
  Pass pass(*system);
  BareCommands bare(*system);
  using Clock = std::chrono::steady_clock;
  Clock::duration passTime{};
  Clock::duration bareTime{};
  int runs = 0;
  for (auto _ : state) {
    const auto t0 = Clock::now();
    benchmark::DoNotOptimize(pass.Run());
    const auto t1 = Clock::now();
    benchmark::DoNotOptimize(bare.Run());
    const auto t2 = Clock::now();
    passTime += t1 - t0;
    bareTime += t2 - t1;
    if (++runs % kClearLogEvery == 0) system->ClearLog();
  }
  const double passNs = std::chrono::duration<double, std::nano>(passTime).count() / runs;
  const double bareNs = std::chrono::duration<double, std::nano>(bareTime).count() / runs;
  state.counters["pass_ns"] = passNs;
  state.counters["bare_ns"] = bareNs;
  state.counters["ratio"] = passNs / bareNs;
}

BENCHMARK(BM_MonitoringPass);
BENCHMARK(BM_EighteenBareCommands);
BENCHMARK(BM_PassOverCommands);

}  // namespace
}  // namespace dv

BENCHMARK_MAIN();
