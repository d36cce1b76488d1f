// Start-up to the end of the first monitoring pass over the six demo drives, and the peak resident
// memory then, each beside a bare Qt Widgets program measured in the same iteration. The ratios
// are the figures that matter; the absolute numbers depend on the machine.
#include <benchmark/benchmark.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <string>
#include <vector>

namespace {

struct ChildCost {
  double seconds = 0;
  long peakRssKb = 0;
  int status = -1;
};

// Runs the program to its end with a quiet, private environment; wall time and peak RSS from wait4.
ChildCost RunChild(const std::vector<std::string>& argv, const std::string& scratch) {
  const auto start = std::chrono::steady_clock::now();
  const pid_t pid = fork();
  if (pid == 0) {
    setenv("QT_QPA_PLATFORM", "offscreen", 1);
    setenv("XDG_RUNTIME_DIR", scratch.c_str(), 1);
    setenv("XDG_CONFIG_HOME", scratch.c_str(), 1);
    unsetenv("APPDATA");
    unsetenv("DISKVIGIL_SIMULATE");
    std::vector<char*> args;
    for (const std::string& arg : argv) args.push_back(const_cast<char*>(arg.c_str()));
    args.push_back(nullptr);
    execv(args[0], args.data());
    _exit(127);
  }
  ChildCost cost;
  if (pid < 0) return cost;
  struct rusage usage {};
  int status = 0;
  if (wait4(pid, &status, 0, &usage) != pid) return cost;
  cost.seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
  cost.peakRssKb = usage.ru_maxrss;
  cost.status = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
  return cost;
}

void BM_StartupToFirstPassVersusBareWindow(benchmark::State& state) {
  const std::string scratch =
      (std::filesystem::temp_directory_path() / ("diskvigil-bench-" + std::to_string(getpid())))
          .string();
  std::filesystem::create_directories(scratch);
  // A runtime folder must be private to its user.
  std::filesystem::permissions(scratch, std::filesystem::perms::owner_all,
                               std::filesystem::perm_options::replace);
  double programSeconds = 0;
  double bareSeconds = 0;
  long programRss = 0;
  long bareRss = 0;
  for (auto _ : state) {
    const ChildCost program = RunChild(
        {DISKVIGIL_EXE, "--simulate", DEMO_DRIVES_DIR, "--exit-after-first-pass"}, scratch);
    const ChildCost bare = RunChild({BARE_WINDOW_EXE}, scratch);
    if (program.status != 0 || bare.status != 0) {
      state.SkipWithError("a child program did not end cleanly");
      break;
    }
    programSeconds += program.seconds;
    bareSeconds += bare.seconds;
    programRss = std::max(programRss, program.peakRssKb);
    bareRss = std::max(bareRss, bare.peakRssKb);
    state.SetIterationTime(program.seconds);
  }
  std::filesystem::remove_all(scratch);
  const double runs = static_cast<double>(state.iterations());
  if (runs == 0 || bareSeconds == 0 || bareRss == 0) return;
  state.counters["program_ms"] = 1000 * programSeconds / runs;
  state.counters["bare_ms"] = 1000 * bareSeconds / runs;
  state.counters["time_ratio"] = programSeconds / bareSeconds;
  state.counters["program_rss_kb"] = static_cast<double>(programRss);
  state.counters["bare_rss_kb"] = static_cast<double>(bareRss);
  state.counters["rss_ratio"] = static_cast<double>(programRss) / static_cast<double>(bareRss);
}
BENCHMARK(BM_StartupToFirstPassVersusBareWindow)
    ->UseManualTime()
    ->Unit(benchmark::kMillisecond)
    ->Iterations(10);

}  // namespace

BENCHMARK_MAIN();
