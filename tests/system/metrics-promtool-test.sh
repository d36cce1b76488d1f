#!/usr/bin/env bash
# `diskvigil-cli monitor --textfile` output as Prometheus reads it: `promtool check metrics` must
# accept the file for the demo drives, for recorded real drives, and for drives whose model and
# serial hold characters the format has to escape; and the README's alert rules fire as they should.
#   metrics-promtool-test.sh DISKVIGIL_CLI SOURCE_DIR
# Exit 77 (skipped) without promtool (Debian package prometheus, scripts/install-deps.sh test).
set -euo pipefail

cli=${1:?usage: metrics-promtool-test.sh DISKVIGIL_CLI SOURCE_DIR}
source_dir=${2:?usage: metrics-promtool-test.sh DISKVIGIL_CLI SOURCE_DIR}

fail() {
  echo "FAILED: $*" >&2
  exit 1
}
command -v promtool >/dev/null || {
  echo "SKIPPED: promtool is missing (scripts/install-deps.sh test)" >&2
  exit 77
}
command -v python3 >/dev/null || {
  echo "SKIPPED: python3 is missing" >&2
  exit 77
}

work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
export HOME="$work/home" XDG_CONFIG_HOME="$work/home/.config"
mkdir -p "$HOME"
unset DISKVIGIL_SIMULATE

# One pass over the drives in folder $1, the file checked by promtool. The demo set holds a
# failing drive, so exit 3 (a bad pass) is as expected as 0.
check() {
  local drives=$1 file=$2 status=0
  "$cli" --simulate "$drives" monitor --count 1 --textfile "$file" >/dev/null || status=$?
  [[ $status == 0 || $status == 3 ]] || fail "monitor on $drives exited $status"
  [[ -s $file ]] || fail "no metrics file for $drives"
  [[ $(stat -c %a "$file") == 644 ]] || fail "$file is not mode 0644"
  promtool check metrics <"$file" || fail "promtool rejects the metrics for $drives"
  echo "promtool accepts $(grep -vc '^#' "$file") samples for $drives"
}

check "$source_dir/data/demo" "$work/demo.prom"
grep -q '^diskvigil_smart_healthy{.*} 0$' "$work/demo.prom" || fail "the failing demo drive"

# NVMe drives: one read with its health log, one with the kernel's sensor alone (no verdict then),
# one whose composite temperature is 0 K (not reported: no temperature sample).
mkdir -p "$work/nvme"
cp "$source_dir/data/demo-nvme/3-healthy-nvme-ssd.json" "$work/nvme/"
cat >"$work/nvme/sensor-only.json" <<'JSON'
{"model": "SENSOR ONLY", "serial": "N1", "driveNumber": 1,
 "nvme": {"privileged": false, "health": {"criticalWarning": 1, "temperature": 44}}}
JSON
cat >"$work/nvme/silent.json" <<'JSON'
{"model": "SILENT", "serial": "N2", "driveNumber": 2, "nvme": {"health": {"temperature": -273}}}
JSON
check "$work/nvme" "$work/nvme.prom"
grep -q '^diskvigil_nvme_health_log_read{.*serial="N1"} 0$' "$work/nvme.prom" ||
  fail "no health_log_read 0 for the sensor-only drive"
grep -q '^diskvigil_nvme_health_log_read{.*model="Samsung SSD 980 PRO 1TB".*} 1$' "$work/nvme.prom" ||
  fail "no health_log_read 1 for the drive read with its log"
! grep -q '^diskvigil_smart_healthy{.*serial="N1"}' "$work/nvme.prom" ||
  fail "a verdict for the drive whose critical warning was not read"
! grep -q '^diskvigil_temperature_celsius{.*serial="N2"}' "$work/nvme.prom" ||
  fail "a temperature for the drive that reported none"

# Recorded drives, at most 16 at a time (the drive numbers a folder may use).
mkdir -p "$work/real"
find "$source_dir/tests/data/real-drives" -name '*.json' | sort | head -16 |
  xargs -I{} cp {} "$work/real/"
check "$work/real" "$work/real.prom"

# A model, serial and firmware with double quotes and backslashes.
mkdir -p "$work/odd"
python3 - "$source_dir/data/demo/3-kingston-ssd.json" "$work/odd/odd.json" <<'PY'
import json, sys
drive = json.load(open(sys.argv[1]))
drive["model"] = 'Odd "quoted" \\ model'
drive["serial"] = 'SER\\IAL"1'
json.dump(drive, open(sys.argv[2], "w"))
PY
check "$work/odd" "$work/odd.prom"
grep -qF 'model="Odd \"quoted\" \\ model",serial="SER\\IAL\"1"' "$work/odd.prom" ||
  fail "the odd labels are not escaped: $(grep -m1 smart_enabled "$work/odd.prom")"

# The caution and asleep gauges, for a drive whose pending sectors rise between two passes.
mkdir -p "$work/rising"
cat >"$work/rising/rising.json" <<'JSON'
{"model": "ST3500418AS", "serial": "5VM1", "smart": {"attributes": [
  [{"id": 197, "value": 100, "raw": 0}, {"id": 194, "value": 35, "raw": 35}],
  [{"id": 197, "value": 100, "raw": 2}, {"id": 194, "value": 35, "raw": 35}]]}}
JSON
"$cli" --simulate "$work/rising" monitor --count 2 --interval 0 --textfile "$work/rising.prom" \
  >/dev/null || fail "monitor on the rising drive"
promtool check metrics <"$work/rising.prom" || fail "promtool rejects the rising drive's metrics"
grep -q '^diskvigil_caution{.*serial="5VM1"} 1$' "$work/rising.prom" || fail "no caution sample"
grep -q '^diskvigil_asleep{.*serial="5VM1"} 0$' "$work/rising.prom" || fail "no asleep sample"
grep -q '^# TYPE diskvigil_caution gauge$' "$work/rising.prom" || fail "no caution TYPE line"

# The alerts the README gives, taken from it as they stand, fire as metrics-alerts-test.yml says.
python3 - "$source_dir/README.md" "$work/rules.yml" <<'PY'
import re, sys
text = open(sys.argv[1], encoding="utf-8").read()
section = text[text.index("## Prometheus"):]
rules = re.search(r"```yaml\n(.*?)```", section, re.S)
if not rules:
    sys.exit("no yaml block in the README's Prometheus section")
open(sys.argv[2], "w", encoding="utf-8").write(rules.group(1))
PY
promtool check rules "$work/rules.yml" || fail "promtool rejects the README's alert rules"
cp "$(dirname "$0")/metrics-alerts-test.yml" "$work/"
promtool test rules "$work/metrics-alerts-test.yml" || fail "the README's alerts do not fire as expected"
echo "all metrics files and the README's alerts pass promtool"
