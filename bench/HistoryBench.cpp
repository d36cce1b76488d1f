// What keeping history costs: the store's write of a pass over the six demo drives (one
// transaction, the folding every ten minutes of the fake clock) against the pass itself, and the
// load of a year of one drive's rows, as the graph asks for it.
#include <benchmark/benchmark.h>
#include <unistd.h>

#include <chrono>
#include <filesystem>
#include <memory>
#include <stdexcept>
#include <string>

#include "core/Enumerate.h"
#include "core/Monitor.h"
#include "core/SimulatedDrives.h"
#include "history/HistoryStore.h"
#include "history/PassSamples.h"

namespace dv {
namespace {

namespace fs = std::filesystem;
using Clock = std::chrono::steady_clock;

constexpr int64_t kStart = 1'800'000'000;
constexpr int64_t kDay = 86400;
constexpr int64_t kInterval = 15;  // the program's default

// A fresh file on a RAM file system where there is one, removed at the end.
class BenchFile {
 public:
  explicit BenchFile(const std::string& name) {
    const fs::path base = ::access("/dev/shm", W_OK) == 0 ? "/dev/shm" : fs::temp_directory_path();
    folder_ = base / ("dv-history-bench-" + std::to_string(::getpid()) + "-" + name);
    fs::remove_all(folder_);
    fs::create_directories(folder_);
  }
  ~BenchFile() { fs::remove_all(folder_); }
  fs::path Path() const { return folder_ / "history.sqlite"; }

 private:
  fs::path folder_;
};

struct DemoPass {
  std::unique_ptr<SimulatedDriveSystem> system;
  DriveTable table;
  SmartSectors sectors;
  std::unique_ptr<Monitor> monitor;

  DemoPass() {
    std::string error;
    system = SimulatedDriveSystem::Load(DISKVIGIL_SOURCE_DIR "/data/demo", error);
    if (!system || !ProbeDrives(*system, table)) throw std::runtime_error("demo drives: " + error);
    monitor = std::make_unique<Monitor>(*system, table, sectors);
  }
  void Run(PassSamples* samples) {
    monitor->CheckHDDs(1, [&](const PositionReading& reading, const SmartSectors& read) {
      if (samples != nullptr) samples->Take(table, reading, read, false);
    });
  }
};

double Seconds(Clock::duration d) { return std::chrono::duration<double>(d).count(); }

// The pass alone and the store's share, timed apart in every iteration.
void BM_HistoryOverPass(benchmark::State& state) {
  BenchFile file("pass");
  int64_t now = kStart;
  HistoryStore store(file.Path(), HistoryStore::Mode::ReadWrite, [&] { return now; });
  if (!store.IsOpen()) throw std::runtime_error(store.Note().value_or("no store"));
  DemoPass pass;
  PassSamples samples;
  double passSeconds = 0;
  double storeSeconds = 0;
  for (auto _ : state) {
    const auto start = Clock::now();
    pass.Run(&samples);
    const auto read = Clock::now();
    if (samples.WritePass(store)) state.SkipWithError("not written");
    passSeconds += Seconds(read - start);
    storeSeconds += Seconds(Clock::now() - read);
    now += kInterval;
  }
  const auto n = static_cast<double>(state.iterations());
  state.counters["pass_us"] = passSeconds / n * 1e6;
  state.counters["store_us"] = storeSeconds / n * 1e6;
  state.counters["ratio"] = storeSeconds / passSeconds;
}
BENCHMARK(BM_HistoryOverPass)->MinTime(2);

// A year of six drives written as the store test does it, then one drive's year read back.
void BM_LoadYearOfOneDrive(benchmark::State& state) {
  BenchFile file("year");
  int64_t now = kStart;
  {
    HistoryStore store(file.Path(), HistoryStore::Mode::ReadWrite, [&] { return now; });
    std::vector<DriveSample> pass;
    for (int drive = 1; drive <= 6; ++drive) {
      HistorySample sample;
      sample.powerOnHours = 12345;
      sample.counters.fill(0);
      pass.push_back({{"Model " + std::to_string(drive), "S" + std::to_string(drive)}, sample});
    }
    const int64_t end = kStart + 365 * kDay;
    for (; now<end; now += end - now> kHistoryTenMinuteSeconds ? 6 * 3600
           : end - now > kHistoryRawSeconds                    ? 600
                                                               : kInterval) {
      for (auto& entry : pass) entry.sample.temperature = 30 + static_cast<int>(now / 600 % 15);
      store.WritePass(pass);
    }
  }
  const HistoryStore store(file.Path(), HistoryStore::Mode::ReadOnly, [&] { return now; });
  size_t rows = 0;
  for (auto _ : state) {
    rows = store.Rows({"Model 3", "S3"}, now - 365 * kDay).size();
    benchmark::DoNotOptimize(rows);
  }
  state.counters["rows"] = static_cast<double>(rows);
  state.counters["file_MB"] = static_cast<double>(fs::file_size(file.Path())) / 1e6;
}
BENCHMARK(BM_LoadYearOfOneDrive)->Unit(benchmark::kMillisecond);

}  // namespace
}  // namespace dv

BENCHMARK_MAIN();
