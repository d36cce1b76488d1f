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
untested="mbr/aam/apm were"
source "$source_dir/tests/system/vm-common.sh"

cd "$work"
status=0
bash "$here/make-fs-image.sh" || status=$?
[[ $status == 0 ]] || exit "$status"

guest='mkdir -p /mnt/p1; mount -t vfat -o ro /dev/sda1 /mnt/p1 && echo "@@@ mounted"'
guest+='; diskvigil-cli --json mbr 1 > /tmp/mbr.json; echo "@@@ mbr exit $?"; cat /tmp/mbr.json'
guest+='; echo "@@@ aam"; diskvigil-cli --json aam 1'
guest+='; echo "@@@ apm"; diskvigil-cli --json apm 1'
guest+='; diskvigil-cli --json apm 1 --set 128 > /tmp/set.json 2>/tmp/set.err; echo "@@@ set exit $?"'
guest+='; cat /tmp/set.json; echo "@@@ set stderr"; cat /tmp/set.err'
modules=(--module vfat --module nls_cp437 --module nls_ascii)
vm_run "${modules[@]}" --timeout 240 \
  --disk "$work/disk.img,model=Diskvigil FS image,serial=FSIMG0001,ver=1.0" -- "$guest"

vm_check <<'PY'
import json, sys
from vmsections import Checks, read_sections

out, sections = read_sections(sys.argv[1])
checks = Checks()
check = checks.check
check("mbr exit", "mbr exit 0" in sections, True)
open("vm-mbr.json", "w").write(next((b for h, b in sections.items() if h.startswith("mbr exit")), "{}"))
for name in ("aam", "apm"):
    state = json.loads(sections.get(name, "{}") or "{}")
    check(f"{name} supported", state.get("supported"), False)
    check(f"{name} enabled", state.get("enabled"), False)
check("apm --set 128 exit", "set exit 0" in sections, True)
check("partition 1 mounted in the guest", "mounted" in sections, True)
checks.finish(out, "in the VM: mbr read through SG_IO, AAM/APM not supported, APM set accepted")
PY
"$python" "$here/compare-mbr.py" "$work" vm-mbr.json=/mnt/p1
