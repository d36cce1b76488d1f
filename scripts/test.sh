#!/usr/bin/env bash
# Installs what is needed, builds everything and runs every test. This is what CI runs.
# The four builds are independent, so they overlap where one alone would leave a core idle: the
# Windows cross build (needed only by the Wine test) and the fuzz stage run in the background
# beside the ASan build and tests, and the Wine test runs beside the rest of the tests; the
# packages that only the tests need are installed beside the first builds. ccache is
# used when it is installed. Each stage's time is printed at the end; logs of the background
# stages are in build/test-logs/.
set -uo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
cd "$root"
jobs=$(nproc)
export DISKVIGIL_JOBS=$jobs
logs="$root/build/test-logs"
started=$SECONDS
# Busy, idle and stolen time of all cores (stolen: a virtual machine's host ran something else),
# in clock ticks, from /proc/stat's first line.
cpu_ticks() { awk '/^cpu /{print $2 + $3 + $4 + $7 + $8, $5 + $6, $9}' /proc/stat; }
read -r busy_before idle_before stolen_before < <(cpu_ticks)

mkdir -p "$logs"
: >"$logs/times"

# stage NAME COMMAND...: runs COMMAND, notes its time and outcome in $logs/times.
stage() {
  local name=$1 begin=$SECONDS status=0
  shift
  "$@" || status=$?
  echo "$name $((SECONDS - begin)) $status" >>"$logs/times"
  return "$status"
}

# What the first two builds need is installed before them, the rest beside them: on a fresh
# machine the installs then leave no core idle. apt allows one install at a time, so the second
# call runs only once the first has ended.
install_first() { "$root/scripts/install-deps.sh" first; }
install_rest() { "$root/scripts/install-deps.sh" all; }

summary() {
  echo "== Stage times (background stages overlap the others)"
  local name seconds status failed=0
  while read -r name seconds status; do
    printf '  %-16s %4d:%02d  %s\n' "$name" $((seconds / 60)) $((seconds % 60)) \
      "$([ "$status" = 0 ] && echo ok || echo "FAILED ($status)")"
    [ "$status" = 0 ] || failed=1
  done <"$logs/times"
  printf '  %-16s %4d:%02d\n' total $(((SECONDS - started) / 60)) $(((SECONDS - started) % 60))
  # How much of the machine the run used: with every core busy only less work can shorten it.
  local busy idle stolen all tick
  read -r busy idle stolen < <(cpu_ticks)
  busy=$((busy - busy_before)) idle=$((idle - idle_before)) stolen=$((stolen - stolen_before))
  all=$((busy + idle + stolen + 1)) tick=$(getconf CLK_TCK)
  echo "  cores busy $((100 * busy / all))%, idle $((100 * idle / all))%, stolen" \
    "$((100 * stolen / all))% ($((busy / tick)) CPU seconds)"
  return "$failed"
}

# With the Qt for MinGW, build/windows-gui holds all of build/windows too, and both Wine tests run
# from it: the Windows libraries are compiled once.
# At a lower priority: only the Wine tests at the end need it, and the ASan build beside it is
# what everything after waits for.
windows_build() {
  local preset=windows
  [ "$window_qt" = 0 ] || preset=windows-gui
  cmake --preset "$preset" >/dev/null && nice -n 5 cmake --build "build/$preset" -j "$jobs"
}
asan_build() { cmake --preset asan >/dev/null && cmake --build build/asan -j "$jobs"; }
asan_tests() { ctest --test-dir build/asan --output-on-failure -j "$jobs" -LE 'vm|gui|windows'; }
fuzz() { "$root/scripts/fuzz.sh" --seconds "${DISKVIGIL_FUZZ_SECONDS:-5}"; }
ci_build() { cmake --preset ci >/dev/null && cmake --build build/ci -j "$jobs"; }
# One more at a time than there are cores: the GUI runs mostly wait on windows and timers.
ci_tests() { ctest --test-dir build/ci --output-on-failure -j $((jobs + 1)) -LE windows; }
# The two Wine tests take turns on the cross build's tree; the compile check runs beside them, and
# all three beside the other tests.
windows_tests() { ctest --test-dir build/ci --output-on-failure -j 2 -L windows; }

stage install-first install_first || { summary; exit 1; }
if command -v ccache >/dev/null; then
  export CMAKE_C_COMPILER_LAUNCHER=${CMAKE_C_COMPILER_LAUNCHER:-ccache}
  export CMAKE_CXX_COMPILER_LAUNCHER=${CMAKE_CXX_COMPILER_LAUNCHER:-ccache}
fi
echo "== The other packages, installed in the background ($logs/install.log)"
stage install-rest install_rest >"$logs/install.log" 2>&1 &
install_pid=$!

echo "== Windows cross build, in the background ($logs/windows-build.log)"
# The window program needs the prebuilt Qt for MinGW beside the source tree.
window_qt=1
if ! "$root/scripts/mingw-qt.sh" unpack >/dev/null 2>&1; then
  window_qt=0
  echo "== SKIPPING the Windows window tests: no Qt for MinGW in ../shared/mingw-qt (scripts/mingw-qt.sh)"
fi
windows_pid=
windows_built="$logs/windows-build.ended"
rm -f "$windows_built"
if command -v x86_64-w64-mingw32-g++-posix >/dev/null; then
  { stage windows-build windows_build; : >"$windows_built"; } >"$logs/windows-build.log" 2>&1 &
  windows_pid=$!
else
  : >"$windows_built"
fi

echo "== Core and command line under ASan and UBSan"
stage asan-build asan_build
if ! wait "$install_pid"; then
  tail -n 30 "$logs/install.log"
  [ -z "$windows_pid" ] || wait "$windows_pid"
  summary
  exit 1
fi
echo "== Fuzz targets, a short run each, in the background ($logs/fuzz.log)"
stage fuzz fuzz >"$logs/fuzz.log" 2>&1 &
fuzz_pid=$!
stage asan-tests asan_tests

echo "== Everything, warnings as errors"
stage ci-build ci_build
# The Wine tests compare with the ci build's programs and build their folder incrementally, so
# they start once both builds have ended; the other tests do not wait for the Windows build.
{
  until [ -e "$windows_built" ]; do sleep 1; done
  stage windows-tests windows_tests
} >"$logs/windows-tests.log" 2>&1 &
windows_tests_pid=$!
stage ci-tests ci_tests
wait "$windows_tests_pid"
[ -z "$windows_pid" ] || wait "$windows_pid"
echo "== Windows tests ($logs/windows-tests.log)"
tail -n 15 "$logs/windows-tests.log"
wait "$fuzz_pid"
echo "== Fuzz ($logs/fuzz.log)"
tail -n 15 "$logs/fuzz.log"
summary
