#!/usr/bin/env bash
# The monitor service's privileges on a real kernel: diskvigil-cli run as diskvigil-monitor.service
# runs it (an ordinary user in the disk group, CAP_SYS_RAWIO as its only, ambient capability, the
# bounding set cut to it, no new privileges), from a tree with no drive helper beside it. It must
# read the emulated SATA disks itself, byte for byte as root does, and write their metrics.
# Usage: vm-service-test.sh PATH/TO/diskvigil-cli SOURCE_DIR
set -euo pipefail

usage="usage: vm-service-test.sh DISKVIGIL_CLI SOURCE_DIR"
cli=${1:?$usage}
source_dir=${2:?$usage}
untested="the monitor service's capability set (ambient CAP_SYS_RAWIO under no-new-privileges) was"
source "$source_dir/tests/system/vm-common.sh"
"$vm_dir/bundle" "$(command -v setpriv)" "$work/bundle" >/dev/null 2>&1

as_service='/opt/include/bin/setpriv --reuid=1000 --regid=1000 --groups=6 --bounding-set=-all,+sys_rawio'
as_service+=' --inh-caps=-all,+sys_rawio --ambient-caps=+sys_rawio --no-new-privs'
guest='mkdir -p /tmp/dv/bin /tmp/state; chmod 755 /tmp/dv /tmp/dv/bin; chmod 777 /tmp/state'
guest+='; cp /opt/include/bin/diskvigil-cli /tmp/dv/bin/'
guest+="; $disks_to_disk_group"
run='env LD_LIBRARY_PATH=/opt/include/lib XDG_STATE_HOME=/tmp/state /tmp/dv/bin/diskvigil-cli'
for cmd in "list" "--json smart 1" "--json smart 2"; do
  guest+="; echo '@@@ root $cmd'; $run $cmd 2>&1; echo \"exit \$?\""
  guest+="; echo '@@@ service $cmd'; $as_service $run $cmd 2>&1; echo \"exit \$?\""
done
guest+="; echo '@@@ service status'; $as_service grep -E '^(Cap|NoNewPrivs)' /proc/self/status"
guest+="; echo '@@@ service monitor'; $as_service $run monitor --count 1 --interval 0"
guest+=" --textfile /tmp/state/dv.prom >/dev/null 2>&1; echo \"exit \$?\"; cat /tmp/state/dv.prom"
guest+="; echo '@@@ end'"

vm_run --timeout 240 "${two_disks[@]}" -- "$guest"

vm_check <<'PY'
import re, sys
from vmsections import Checks, read_sections

out, sections = read_sections(sys.argv[1])
checks = Checks()
check = checks.check
status = sections.get("service status", "")
check("only CAP_SYS_RAWIO in effect", re.search(r"^CapEff:\s*0*20000$", status, re.M) is not None, True)
check("no new privileges", re.search(r"^NoNewPrivs:\s*1$", status, re.M) is not None, True)
for cmd in ["list", "--json smart 1", "--json smart 2"]:
    root = sections.get(f"root {cmd}", "")
    check(f"root {cmd} exit", root.endswith("exit 0\n"), True)
    check(f"service {cmd} without the helper", sections.get(f"service {cmd}"), root)
check("both drives listed", all(m in sections.get("root list", "")
                                for m in ["ST2000DM008", "WD10EZEX"]), True)
monitor = sections.get("service monitor", "")
check("monitor pass", monitor.split("\n", 1)[0] in ("exit 0", "exit 3"), True)
check("metrics of both drives",
      len(re.findall(r"^diskvigil_smart_healthy\{", monitor, re.M)), 2)
checks.finish(out, "PASSED: as the monitor service runs it (disk group, ambient CAP_SYS_RAWIO "
              "alone, no new privileges, no helper), diskvigil-cli reads both emulated disks "
              "byte for byte as root does and writes their metrics")
PY
