#!/usr/bin/env bash
# Configures and builds one preset: build.sh [PRESET] (default: default).
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
preset=${1:-default}
cd "$root"
cmake --preset "$preset" >/dev/null
cmake --build --preset "$preset" 2>/dev/null || cmake --build "build/$preset" -j "$(nproc)"
