#!/usr/bin/env bash
# CHECK POWER MODE on a real kernel: `monitor --no-wake` and `smart --no-wake` on an emulated SATA
# disk in the VM. The emulated disk keeps no standby state and answers FFh (active or idle) even
# right after a STANDBY IMMEDIATE, so the command's path (SG_IO, CK_COND, the Sector Count read
# back from the sense data) is proven here; the state logic is proven on simulated drives.
# Usage: vm-sleep-test.sh PATH/TO/diskvigil-cli SOURCE_DIR
set -euo pipefail

cli=${1:?usage: vm-sleep-test.sh DISKVIGIL_CLI SOURCE_DIR}
source_dir=${2:?usage: vm-sleep-test.sh DISKVIGIL_CLI SOURCE_DIR}
untested="CHECK POWER MODE was"
source "$source_dir/tests/system/vm-common.sh"

guest='echo "@@@ hdparm"; hdparm -C /dev/sda'
guest+='; echo "@@@ monitor"; diskvigil-cli --json monitor --count 1 --no-wake; echo "@@@ monitor exit $?"'
guest+='; diskvigil-cli --json smart 1 --no-wake > /tmp/smart.json; echo "@@@ smart exit $?"'
guest+='; hdparm -y /dev/sda > /dev/null'
guest+='; echo "@@@ after standby"; diskvigil-cli --json monitor --count 1 --no-wake'
vm_run --timeout 240 --blank '1G,model=ST2000DM008-2FR102,serial=ZFL0ABCD,ver=0001' \
  -- "$guest"

vm_check <<'PY'
import json, sys
from vmsections import Checks, read_sections

out, sections = read_sections(sys.argv[1])
checks = Checks()
check = checks.check

check("hdparm -C", "active/idle" in sections.get("hdparm", ""), True)
check("monitor exit", "monitor exit 0" in sections, True)
check("smart exit", "smart exit 0" in sections, True)
for name in ("monitor", "after standby"):
    try:
        drive = json.loads(sections.get(name, "").splitlines()[0])["drives"][0]
    except (ValueError, IndexError, KeyError):
        checks.failures.append(f"{name}: no JSON line")
        continue
    check(f"{name} powerMode", drive.get("powerMode"), "active")
    check(f"{name} asleep", drive.get("asleep", False), False)
    check(f"{name} readOK", drive.get("readOK"), True)

checks.finish(out, "CHECK POWER MODE through SG_IO: FFh (active or idle) read back; the drive was "
              "read as usual")
PY
