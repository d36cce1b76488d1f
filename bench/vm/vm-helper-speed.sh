#!/usr/bin/env bash
# What the drive helper costs a monitoring pass on a real kernel, against the floor of any design
# that keeps the privileged commands in a process of their own, all in one VM boot (two emulated
# SATA disks, QEMU): `diskvigil-cli monitor --count 501` minus `--count 1`, per pass, as root
# (SG_IO from the program) and as an ordinary disk-group user (through the helper, installed tree,
# file capability on the helper alone; every library where the loader looks by itself); and BareSmartLoop sending the same commands itself and
# from a child behind a socket pair, one round trip per pass. Medians of interleaved runs.
# Usage: vm-helper-speed.sh PATH/TO/diskvigil-cli PATH/TO/diskvigil-drive-helper SOURCE_DIR [--runs N]
set -euo pipefail

usage="usage: vm-helper-speed.sh DISKVIGIL_CLI DRIVE_HELPER SOURCE_DIR [--runs N]"
cli=${1:?$usage}
helper=${2:?$usage}
source_dir=${3:?$usage}
runs=5
[[ ${4:-} != --runs ]] || runs=${5:?--runs needs a number}
untested="the helper's cost on a real kernel was"
source "$source_dir/tests/system/vm-common.sh"
helper_tree "$helper"
source "$source_dir/bench/vm/speed-common.sh"

passes=501
disks="/dev/sda /dev/sdb"
mon="/tmp/dv/bin/diskvigil-cli monitor --interval 0 --settings /tmp/none.ini"
as_user() { echo "su -s /bin/sh u -c 'XDG_STATE_HOME=/tmp/u $1'"; }
guest="$helper_tree_guest; export XDG_STATE_HOME=/tmp/root"
# One untimed round first: page cache and the drives' first answers out of the way.
guest+="; BareSmartLoop --behind-socket 1 $disks; $mon --count 1 >/dev/null; $(as_user "$mon --count 1") >/dev/null"
guest+="; for r in \$(seq $runs); do"
for n in 1 $passes; do
  guest+=" echo bare$n \$(TimeRun BareSmartLoop $n $disks);"
  guest+=" echo socket$n \$(TimeRun BareSmartLoop --behind-socket $n $disks);"
  guest+=" echo direct$n \$(TimeRun $mon --count $n);"
  guest+=" echo helper$n \$($(as_user "TimeRun $mon --count $n"));"
done
guest+=" done"
speed_vm_run "$guest"

PYTHONPATH="$here_bench" "$python" - "$work/out.txt" "$passes" <<'PY'
import statistics, sys
from timerows import read_rows
rows = read_rows(sys.argv[1])
last = sys.argv[2]
passes = int(last) - 1
def per_pass(name):
    return statistics.median((b[0] - s[0]) / passes for b, s in zip(rows[name + last], rows[name + "1"]))
print(f"runs: {len(rows['helper' + last])}; exit statuses: " +
      ", ".join(f"{k} {sorted(set(r[3] for r in v))}" for k, v in rows.items()))
figures = {name: per_pass(name) for name in ("bare", "socket", "direct", "helper")}
print("per pass (ms, real)   itself  behind a process  ratio")
print(f"BareSmartLoop        {figures['bare']:7.3f}  {figures['socket']:7.3f}          "
      f"{figures['socket'] / figures['bare']:.2f}")
print(f"diskvigil monitor    {figures['direct']:7.3f}  {figures['helper']:7.3f}          "
      f"{figures['helper'] / figures['direct']:.2f}")
PY
