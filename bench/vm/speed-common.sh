# What the VM speed scripts share, sourced after tests/system/vm-common.sh: the static baseline
# and the timer in the bundle, one boot with the two speed disks (speed_vm_run GUEST), and the
# timed rows read back in Python (PYTHONPATH=$here_bench; `from timerows import read_rows`).
here_bench="$source_dir/bench/vm"
cc -O2 -static -o "$work/bundle/bin/BareSmartLoop" "$here_bench/BareSmartLoop.c"
cc -O2 -static -o "$work/bundle/bin/TimeRun" "$here_bench/TimeRun.c"

speed_vm_run() {
  vm_run --timeout 900 --blank 1G,model=SpeedDiskA,serial=SPEED0001 \
    --blank 1G,model=SpeedDiskB,serial=SPEED0002 -- "$1"
}
