#!/usr/bin/env bash
# The drive path's cost on a real kernel, against floors measured in the same VM boot (two
# emulated SATA disks, QEMU): a monitoring pass (`monitor --count 501` minus `--count 1`, per
# pass) against BareSmartLoop sending the same commands, and one-shot `smart 1` against
# `smartctl -H -A /dev/sda`. Each figure is the median of several interleaved runs; real, user and
# system time come from wait4() in the guest (TimeRun). Prints a table and the ratios; with
# --strace also the system calls of one pass beside the bare loop's.
# Usage: vm-speed.sh PATH/TO/diskvigil-cli SOURCE_DIR [--runs N] [--strace]
set -euo pipefail

cli=${1:?usage: vm-speed.sh DISKVIGIL_CLI SOURCE_DIR [--runs N] [--strace]}
source_dir=${2:?usage: vm-speed.sh DISKVIGIL_CLI SOURCE_DIR [--runs N] [--strace]}
shift 2
runs=5
with_strace=0
while (($#)); do
  case $1 in
    --runs) runs=${2:?--runs needs a number}; shift 2 ;;
    --strace) with_strace=1; shift ;;
    *) echo "unknown argument: $1" >&2; exit 2 ;;
  esac
done
untested="the speed of the drive path was"
source "$source_dir/tests/system/vm-common.sh"

source "$source_dir/bench/vm/speed-common.sh"
if ((with_strace)); then
  "$vm_dir/bundle" "$(command -v strace)" "$work/bundle" >/dev/null 2>&1
fi

passes=501
disks=(/dev/sda /dev/sdb)
settings=/tmp/speed.ini
guest="HOME=/tmp; export HOME; : > $settings"
mon="diskvigil-cli monitor --interval 0 --settings $settings"
# One untimed round first: page cache and the drives' first answers out of the way.
guest+="; BareSmartLoop 1 ${disks[*]}; $mon --count 1 >/dev/null; smartctl -H -A /dev/sda >/dev/null"
guest+="; for r in \$(seq $runs); do"
guest+=" echo bare1 \$(TimeRun BareSmartLoop 1 ${disks[*]});"
guest+=" echo bareN \$(TimeRun BareSmartLoop $passes ${disks[*]});"
guest+=" echo mon1 \$(TimeRun $mon --count 1);"
guest+=" echo monN \$(TimeRun $mon --count $passes);"
guest+=" echo smart \$(TimeRun diskvigil-cli smart 1);"
guest+=" echo smartctl \$(TimeRun smartctl -H -A /dev/sda);"
guest+=" done"
if ((with_strace)); then
  guest+="; echo '@@@ bare'; strace -c -f BareSmartLoop 100 ${disks[*]} 2>&1 >/dev/null"
  guest+="; echo '@@@ mon1'; strace -c -f $mon --count 1 2>&1 >/dev/null"
  guest+="; echo '@@@ mon101'; strace -c -f $mon --count 101 2>&1 >/dev/null"
  guest+="; echo '@@@ pass'; strace -f $mon --count 2 2>&1 >/dev/null | tail -n 60"
fi
speed_vm_run "$guest"

PYTHONPATH="$here_bench" "$python" - "$work/out.txt" "$passes" <<'PY'
import statistics, sys
from timerows import read_rows
rows = read_rows(sys.argv[1])
passes = int(sys.argv[2]) - 1
def median(name, i):
    return statistics.median(r[i] for r in rows[name])
def per_pass(big, small, i):
    return statistics.median((b[i] - s[i]) / passes for b, s in zip(rows[big], rows[small]))
print(f"runs: {len(rows['monN'])}; exit statuses: " +
      ", ".join(f"{k} {sorted(set(r[3] for r in v))}" for k, v in rows.items()))
print("per pass (ms)        real    user  system")
for label, big, small in (("diskvigil monitor", "monN", "mon1"), ("bare loop", "bareN", "bare1")):
    print(f"{label:18} " + " ".join(f"{per_pass(big, small, i):7.3f}" for i in range(3)))
ratio = [per_pass("monN", "mon1", 0) / per_pass("bareN", "bare1", 0)]
print(f"pass ratio (real, medians of per-run differences): {ratio[0]:.2f}")
each = sorted((m[0] - m1[0]) / (b[0] - b1[0])
              for m, m1, b, b1 in zip(rows["monN"], rows["mon1"], rows["bareN"], rows["bare1"]))
print(f"pass ratio of each run: lowest {each[0]:.2f}, median {statistics.median(each):.2f}, "
      f"highest {each[-1]:.2f}")
print("one shot (ms)        real    user  system")
for label, name in (("diskvigil smart 1", "smart"), ("smartctl -H -A", "smartctl")):
    print(f"{label:18} " + " ".join(f"{median(name, i):7.3f}" for i in range(3)))
print(f"one-shot speed-up (smartctl / smart 1, real): {median('smartctl', 0) / median('smart', 0):.2f}")
PY
if ((with_strace)); then
  sed -n '/^@@@ bare/,$p' "$work/out.txt"
fi
