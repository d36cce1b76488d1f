#!/usr/bin/env bash
# CHECK POWER MODE on a real kernel: `monitor --no-wake` and `smart --no-wake` on an emulated SATA
# disk in the VM. The emulated disk keeps no standby state and answers FFh (active or idle) even
# right after a STANDBY IMMEDIATE, so the command's path (SG_IO, CK_COND, the Sector Count read
# back from the sense data) is proven here; the state logic is proven on simulated drives.
# Usage: vm-sleep-test.sh PATH/TO/diskvigil-cli SOURCE_DIR
set -euo pipefail

cli=${1:?usage: vm-sleep-test.sh DISKVIGIL_CLI SOURCE_DIR}
source_dir=${2:?usage: vm-sleep-test.sh DISKVIGIL_CLI SOURCE_DIR}
vm_dir="$source_dir/../shared/vm"

if [[ ! -x $vm_dir/vm-run ]]; then
  echo "SKIPPED: the VM harness $vm_dir/vm-run is missing; CHECK POWER MODE was NOT tested on a kernel."
  exit 77
fi

work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
"$vm_dir/bundle" "$cli" "$work/bundle" >/dev/null 2>&1

guest='echo "@@@ hdparm"; hdparm -C /dev/sda'
guest+='; echo "@@@ monitor"; diskvigil-cli --json monitor --count 1 --no-wake; echo "@@@ monitor exit $?"'
guest+='; diskvigil-cli --json smart 1 --no-wake > /tmp/smart.json; echo "@@@ smart exit $?"'
guest+='; hdparm -y /dev/sda > /dev/null'
guest+='; echo "@@@ after standby"; diskvigil-cli --json monitor --count 1 --no-wake'
if ! "$vm_dir/vm-run" --include "$work/bundle" --timeout 240 \
    --blank '1G,model=ST2000DM008-2FR102,serial=ZFL0ABCD,ver=0001' -- "$guest" \
    >"$work/out.txt" 2>"$work/err.txt"; then
  echo "FAILED: the VM run did not finish cleanly" >&2
  cat "$work/out.txt" "$work/err.txt" >&2
  exit 1
fi

python3 - "$work/out.txt" <<'PY'
import json, re, sys

out = open(sys.argv[1]).read()
sections = {}
for block in re.split(r"^@@@ ", out, flags=re.M)[1:]:
    head, _, body = block.partition("\n")
    sections[head.strip()] = body
failures = []

def check(what, got, want):
    if got != want:
        failures.append(f"{what}: got {got!r}, expected {want!r}")

check("hdparm -C", "active/idle" in sections.get("hdparm", ""), True)
check("monitor exit", "monitor exit 0" in sections, True)
check("smart exit", "smart exit 0" in sections, True)
for name in ("monitor", "after standby"):
    try:
        drive = json.loads(sections.get(name, "").splitlines()[0])["drives"][0]
    except (ValueError, IndexError, KeyError):
        failures.append(f"{name}: no JSON line:\n{out}")
        continue
    check(f"{name} powerMode", drive.get("powerMode"), "active")
    check(f"{name} asleep", drive.get("asleep", False), False)
    check(f"{name} readOK", drive.get("readOK"), True)

if failures:
    print("FAILED:\n  " + "\n  ".join(failures))
    print(out)
    sys.exit(1)
print("CHECK POWER MODE through SG_IO: FFh (active or idle) read back; the drive was read as usual")
PY
