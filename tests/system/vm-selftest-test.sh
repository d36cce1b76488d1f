#!/usr/bin/env bash
# Self-tests and the drive's logs on a real kernel: `selftest` and `log` on an emulated SATA disk,
# checked against smartctl in the same VM. The emulated disk finishes a test at once and logs it;
# it offers no conveyance test (capability byte 0x19) and refuses an abort.
# Usage: vm-selftest-test.sh PATH/TO/diskvigil-cli SOURCE_DIR
set -euo pipefail

cli=${1:?usage: vm-selftest-test.sh DISKVIGIL_CLI SOURCE_DIR}
source_dir=${2:?usage: vm-selftest-test.sh DISKVIGIL_CLI SOURCE_DIR}
untested="self-tests and logs were"
source "$source_dir/tests/system/vm-common.sh"

# Two tests of ours around one of smartctl's, so the log holds entries from both.
guest='echo "@@@ capabilities"; smartctl -c /dev/sda'
guest+='; echo "@@@ short"; diskvigil-cli selftest 1 short; echo "@@@ short exit $?"'
guest+='; smartctl -t short /dev/sda > /dev/null'
guest+='; echo "@@@ extended"; diskvigil-cli --json selftest 1 extended; echo "@@@ extended exit $?"'
guest+='; echo "@@@ conveyance"; diskvigil-cli selftest 1 conveyance 2>&1; echo "@@@ conveyance exit $?"'
guest+='; echo "@@@ abort"; diskvigil-cli selftest 1 abort 2>&1; echo "@@@ abort exit $?"'
guest+='; echo "@@@ smartctl selftest"; smartctl -l selftest /dev/sda'
guest+='; echo "@@@ log selftest"; diskvigil-cli --json log 1 selftest; echo "@@@ log selftest exit $?"'
guest+='; echo "@@@ log selftest text"; diskvigil-cli log 1 selftest'
guest+='; echo "@@@ smartctl error"; smartctl -l error /dev/sda'
guest+='; echo "@@@ log error"; diskvigil-cli --json log 1 error; echo "@@@ log error exit $?"'
guest+='; echo "@@@ smart"; diskvigil-cli --json smart 1'
vm_run --timeout 240 --blank '1G,model=ST2000DM008-2FR102,serial=ZFL0ABCD,ver=0001' -- "$guest"

vm_check <<'PY'
import json, re, sys
from vmsections import Checks, read_sections

out, sections = read_sections(sys.argv[1])
checks = Checks()
check = checks.check

def first_json(name):
    text = sections.get(name, "")
    try:
        return json.loads(text[:text.rindex("}") + 1])
    except ValueError:
        checks.failures.append(f"{name}: no JSON")
        return {}

# smartctl's descriptions and status texts, as this program names the same codes.
types = {"Short offline": "short", "Extended offline": "extended", "Conveyance offline": "conveyance",
         "Short captive": "short (captive)", "Extended captive": "extended (captive)"}
statuses = {"Completed without error": "completed without error", "Aborted by host": "aborted by the host",
            "Completed: read failure": "read failure"}
row = re.compile(r"^# ?(\d+)\s+(.+?)\s{2,}(.+?)\s{2,}(\d+)%\s+(\d+)\s+(\S+)\s*$")
reference = []
for line in sections.get("smartctl selftest", "").splitlines():
    m = row.match(line)
    if m:
        reference.append({"type": types.get(m[2], m[2]), "status": statuses.get(m[3], m[3]),
                          "remaining": int(m[4]), "lifetimeHours": int(m[5]),
                          "firstErrorLba": None if m[6] == "-" else int(m[6])})

check("capabilities: no conveyance",
      "No Conveyance Self-test supported" in sections.get("capabilities", ""), True)
check("short exit", "short exit 0" in sections, True)
check("short text", "short self-test started on drive 1" in sections.get("short", ""), True)
check("extended started", first_json("extended").get("started"), True)
check("extended exit", "extended exit 0" in sections, True)
check("conveyance exit (not offered)", "conveyance exit 3" in sections, True)
check("conveyance reason", "does not offer a conveyance" in sections.get("conveyance", ""), True)
check("abort exit (refused by the drive)", "abort exit 1" in sections, True)
check("abort reason", "Drive 1: the drive" in sections.get("abort", ""), True)
check("smartctl lists three tests", len(reference), 3)
check("log selftest exit", "log selftest exit 0" in sections, True)
check("log selftest entries", first_json("log selftest").get("entries"), reference)
check("log selftest text", "extended" in sections.get("log selftest text", ""), True)

errors = sections.get("smartctl error", "")
count = 0 if "No Errors Logged" in errors else int(re.search(r"ATA Error Count: (\d+)", errors)[1])
log = first_json("log error")
check("log error exit", "log error exit 0" in sections, True)
check("log error count", log.get("count"), count)
check("log error records", len(log.get("errors", [])), min(count, 5))
check("smart selfTest", first_json("smart").get("selfTest"),
      {"status": "completed without error", "remaining": 0})

checks.finish(out, f"selftest and log agree with smartctl: {len(reference)} self-tests entry for "
              f"entry, {count} errors; conveyance not offered (exit 3), abort refused (exit 1)")
PY
