#!/usr/bin/env bash
# Installs what is needed, builds, and runs the program on the bundled demo drives.
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
cd "$root"
"$root/scripts/install-deps.sh" build
cmake --preset default >/dev/null
cmake --build build/default -j "$(nproc)"
exec build/default/cli/diskvigil-cli --demo list
