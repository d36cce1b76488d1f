#!/usr/bin/env bash
# Installs what is needed, builds, and runs the tray program on the bundled demo drives.
# With no display at all the program says so, and the headless monitor runs instead.
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
cd "$root"
"$root/scripts/install-deps.sh" build
cmake --preset default >/dev/null
cmake --build build/default -j "$(nproc)" --target diskvigil diskvigil-cli

status=0
build/default/app/diskvigil --demo "$@" || status=$?
if [ "$status" -eq 3 ]; then
  echo "Running the headless monitor on the demo drives instead (Ctrl-C ends it)."
  exec build/default/cli/diskvigil-cli --demo monitor
fi
exit "$status"
