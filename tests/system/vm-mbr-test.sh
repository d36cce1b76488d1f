#!/usr/bin/env bash
# The partition reading on a real kernel: the disk image of make-fs-image.sh attached to a VM as an
# emulated SATA disk, `diskvigil-cli --json mbr 1` read there through SG_IO and compared with blkid
# and ntfsinfo on the host. The emulated disk advertises neither AAM nor APM: both read "not
# supported", while SET FEATURES (APM, level 128) is still accepted by the platform (exit 0).
# Partition 1 is mounted read-only in the guest first, so its volume name must be the mount point.
# Skipped (exit 77) where the VM harness or a file-system tool is missing.
# Usage: vm-mbr-test.sh PATH/TO/diskvigil-cli SOURCE_DIR
set -euo pipefail

cli=$(realpath "${1:?usage: vm-mbr-test.sh DISKVIGIL_CLI SOURCE_DIR}")
source_dir=$(realpath "${2:?usage: vm-mbr-test.sh DISKVIGIL_CLI SOURCE_DIR}")
here="$source_dir/tests/system"
vm_dir="$source_dir/../shared/vm"
python=/usr/bin/python3
[[ -x $python ]] || python=python3

if [[ ! -x $vm_dir/vm-run ]]; then
  echo "SKIPPED: the VM harness $vm_dir/vm-run is missing; mbr/aam/apm were NOT tested on a kernel."
  exit 77
fi

work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
cd "$work"
status=0
bash "$here/make-fs-image.sh" || status=$?
[[ $status == 0 ]] || exit "$status"

"$vm_dir/bundle" "$cli" "$work/bundle" >/dev/null 2>&1
guest='mkdir -p /mnt/p1; mount -t vfat -o ro /dev/sda1 /mnt/p1 && echo "@@@ mounted"'
guest+='; diskvigil-cli --json mbr 1 > /tmp/mbr.json; echo "@@@ mbr exit $?"; cat /tmp/mbr.json'
guest+='; echo "@@@ aam"; diskvigil-cli --json aam 1'
guest+='; echo "@@@ apm"; diskvigil-cli --json apm 1'
guest+='; diskvigil-cli --json apm 1 --set 128 > /tmp/set.json 2>/tmp/set.err; echo "@@@ set exit $?"'
guest+='; cat /tmp/set.json; echo "@@@ set stderr"; cat /tmp/set.err'
modules=(--module vfat --module nls_cp437 --module nls_ascii)
if ! "$vm_dir/vm-run" --include "$work/bundle" "${modules[@]}" --timeout 240 \
    --disk "$work/disk.img,model=Diskvigil FS image,serial=FSIMG0001,ver=1.0" \
    -- "$guest" >out.txt 2>err.txt; then
  echo "FAILED: the VM run did not finish cleanly" >&2
  cat out.txt err.txt >&2
  exit 1
fi

"$python" - out.txt <<'PY'
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
check("mbr exit", "mbr exit 0" in sections, True)
open("vm-mbr.json", "w").write(next((b for h, b in sections.items() if h.startswith("mbr exit")), "{}"))
for name in ("aam", "apm"):
    state = json.loads(sections.get(name, "{}") or "{}")
    check(f"{name} supported", state.get("supported"), False)
    check(f"{name} enabled", state.get("enabled"), False)
check("apm --set 128 exit", "set exit 0" in sections, True)
check("partition 1 mounted in the guest", "mounted" in sections, True)
if failures:
    print("FAILED in the VM:\n  " + "\n  ".join(failures))
    print(out)
    sys.exit(1)
PY
"$python" "$here/compare-mbr.py" "$work" vm-mbr.json=/mnt/p1
