#!/usr/bin/env bash
# The drive helper on a real kernel: diskvigil-cli and diskvigil-drive-helper laid out as an
# installed tree in the VM (bin/ and libexec/diskvigil/), the file capability on the helper alone.
# An ordinary user in the disk group lists the emulated SATA disks and reads them (list, --json
# list, smart, mbr) through the helper, and the output is byte for byte root's direct run; a user
# outside the disk group gets no drive and the reason; the helper survives its system call filter.
# Usage: vm-helper-test.sh PATH/TO/diskvigil-cli PATH/TO/diskvigil-drive-helper SOURCE_DIR
set -euo pipefail

usage="usage: vm-helper-test.sh DISKVIGIL_CLI DRIVE_HELPER SOURCE_DIR"
cli=${1:?$usage}
helper=${2:?$usage}
source_dir=${3:?$usage}
untested="the drive helper (file capability, seccomp, SG_IO as an ordinary user) was"
source "$source_dir/tests/system/vm-common.sh"
helper_tree "$helper"
guest="$helper_tree_guest"
guest+='; echo "@@@ getcap"; getcap /tmp/dv/bin/diskvigil-cli /tmp/dv/libexec/diskvigil/diskvigil-drive-helper'
# The same commands as root (direct) and as u (through the helper).
for cmd in "list" "--json list" "smart 1" "--json smart 2" "mbr 1"; do
  run="LD_LIBRARY_PATH=/opt/include/lib /tmp/dv/bin/diskvigil-cli $cmd"
  guest+="; echo '@@@ root $cmd'; $run 2>&1; echo \"exit \$?\""
  guest+="; echo '@@@ user $cmd'; su -s /bin/sh u -c '$run 2>&1; echo \"exit \$?\"'"
done
guest+="; echo '@@@ outsider list'; su -s /bin/sh v -c 'LD_LIBRARY_PATH=/opt/include/lib /tmp/dv/bin/diskvigil-cli list 2>&1; echo \"exit \$?\"'"
guest+="; echo '@@@ end'"

vm_run --timeout 240 "${two_disks[@]}" -- "$guest"

vm_check <<'PY'
import sys
from vmsections import Checks, read_sections

out, sections = read_sections(sys.argv[1])
checks = Checks()
check = checks.check
caps = sections.get("getcap", "")
check("capability on the helper", "diskvigil-drive-helper cap_sys_rawio=ep" in caps, True)
check("no capability on the command line", "diskvigil-cli" in caps, False)
for cmd in ["list", "--json list", "smart 1", "--json smart 2", "mbr 1"]:
    root = sections.get(f"root {cmd}")
    check(f"root {cmd} ran", root is not None and "\nexit " in "\n" + root, True)
    check(f"user {cmd} through the helper", sections.get(f"user {cmd}"), root)
check("root list exit", sections.get("root list", "").endswith("exit 0\n"), True)
check("two drives listed", sections.get("root list", "").count("ST2000DM008") +
      sections.get("root list", "").count("WD10EZEX"), 2)
outsider = sections.get("outsider list", "")
check("outsider: no drive", "S.M.A.R.T. HDD(s) not found!" in outsider, True)
check("outsider: the reason", "needs the disk group" in outsider, True)
check("outsider exit", outsider.rstrip().endswith("exit 0"), False)
checks.finish(out, "PASSED: an ordinary user in the disk group reads both emulated disks through "
              "the helper (list, --json list, smart, mbr) byte for byte as root does directly; "
              "without the disk group: no drive, and the reason")
PY
