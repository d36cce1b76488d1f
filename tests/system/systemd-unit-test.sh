#!/usr/bin/env bash
# packaging/diskvigil-monitor.service as systemd reads it: `systemd-analyze verify` in a scratch
# root that holds the machine's own units and the built diskvigil-cli as /usr/bin/diskvigil-cli,
# with no complaint at all (verify exits 0 even for unknown keys, so any output fails). The
# unit's sandbox is checked for what the monitor needs, and its exposure score from
# `systemd-analyze security --offline=yes` must be 3.0 or less ("OK" or better).
#   systemd-unit-test.sh DISKVIGIL_CLI SOURCE_DIR
# Exit 77 (skipped) without systemd-analyze or without the machine's unit folder.
set -euo pipefail

cli=${1:?usage: systemd-unit-test.sh DISKVIGIL_CLI SOURCE_DIR}
unit=${2:?usage: systemd-unit-test.sh DISKVIGIL_CLI SOURCE_DIR}/packaging/diskvigil-monitor.service

fail() {
  echo "FAILED: $*" >&2
  exit 1
}
skip() {
  echo "SKIPPED: $*" >&2
  exit 77
}
command -v systemd-analyze >/dev/null || skip "systemd-analyze is missing"
units=""
for folder in /usr/lib/systemd/system /lib/systemd/system; do
  [[ -f $folder/multi-user.target ]] && units=$folder && break
done
[[ -n $units ]] || skip "no systemd unit folder with multi-user.target"

work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
# The monitor's counter state stays in the scratch folder.
export XDG_STATE_HOME="$work/state"
root="$work/root"
mkdir -p "$root/usr/bin" "$root/usr/lib/systemd/system"
cp -a "$units/." "$root/usr/lib/systemd/system/"
cp "$cli" "$root/usr/bin/diskvigil-cli"
cp "$unit" "$root/usr/lib/systemd/system/"

status=0
SYSTEMD_LOG_COLOR=0 systemd-analyze verify --man=no --root="$root" \
  "$root/usr/lib/systemd/system/diskvigil-monitor.service" >"$work/verify.log" 2>&1 || status=$?
cat "$work/verify.log"
[[ $status == 0 ]] || fail "systemd-analyze verify exited $status"
[[ ! -s $work/verify.log ]] || fail "systemd-analyze verify complains"

# What the monitor needs and the sandbox must keep: the one capability, read access to the disks,
# the metrics folder; and no root, no network.
value() { sed -n "s/^$1=//p" "$unit" | tail -1; }
[[ $(value AmbientCapabilities) == CAP_SYS_RAWIO ]] || fail "AmbientCapabilities"
[[ $(value CapabilityBoundingSet) == CAP_SYS_RAWIO ]] || fail "CapabilityBoundingSet"
[[ $(value DynamicUser) == yes && $(value SupplementaryGroups) == disk ]] || fail "the user"
[[ $(value ProtectSystem) == strict && $(value PrivateNetwork) == yes ]] || fail "ProtectSystem, PrivateNetwork"
[[ $(value PrivateDevices) == no && $(value DeviceAllow) == "block-sd r" ]] || fail "the disks"
[[ $(grep -c '^DeviceAllow=' "$unit") == 1 ]] || fail "devices beyond the SCSI disks"
exec_start=$(value ExecStart)
[[ $exec_start == "/usr/bin/diskvigil-cli monitor "*"--textfile /run/diskvigil/"*.prom ]] ||
  fail "ExecStart: $exec_start"
[[ $(value RuntimeDirectory) == diskvigil && $(value RuntimeDirectoryMode) == 0755 ]] ||
  fail "the metrics folder"
# The command line the unit runs is one the program accepts (on the demo drives, one pass).
read -ra words <<<"${exec_start#/usr/bin/diskvigil-cli }"
words=("${words[@]/\/run\/diskvigil\//$work/}")
"$cli" --demo "${words[@]}" --count 1 --interval 0 >/dev/null || [[ $? == 3 ]] ||
  fail "diskvigil-cli rejects the unit's arguments"
[[ -s $work/diskvigil.prom ]] || fail "the unit's command wrote no metrics"

if systemd-analyze security --help 2>/dev/null | grep -q -- '--offline'; then
  SYSTEMD_LOG_COLOR=0 systemd-analyze security --offline=yes --root="$root" \
    diskvigil-monitor.service >"$work/security.log" 2>&1 || true
  verdict=$(grep 'Overall exposure level' "$work/security.log") ||
    fail "systemd-analyze security gave no exposure: $(cat "$work/security.log")"
  echo "$verdict"
  exposure=$(sed -E 's/.*: ([0-9]+\.[0-9]+) .*/\1/' <<<"$verdict")
  awk -v e="$exposure" 'BEGIN { exit !(e <= 3.0) }' || fail "exposure $exposure is above 3.0"
else
  echo "NOTE: this systemd-analyze has no security --offline; the exposure is not checked" >&2
fi
echo "diskvigil-monitor.service passes systemd-analyze verify"
