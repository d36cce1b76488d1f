#!/usr/bin/env bash
# Installs what is needed, builds everything and runs every test. This is what CI runs.
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
cd "$root"
jobs=$(nproc)

"$root/scripts/install-deps.sh" all

echo "== Core and command line under ASan and UBSan"
cmake --preset asan >/dev/null
cmake --build build/asan -j "$jobs"
ctest --test-dir build/asan --output-on-failure -j "$jobs" -LE 'vm|gui|windows'

if [ -x "$root/scripts/fuzz.sh" ]; then
  echo "== Fuzz targets, a short run each (scripts/fuzz.sh --seconds N for a long one)"
  "$root/scripts/fuzz.sh" --seconds "${DISKVIGIL_FUZZ_SECONDS:-5}"
fi

echo "== Everything, warnings as errors"
cmake --preset ci >/dev/null
cmake --build build/ci -j "$jobs"
ctest --test-dir build/ci --output-on-failure -j "$jobs"
