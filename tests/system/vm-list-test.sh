#!/usr/bin/env bash
# Runs `diskvigil-cli --json list` in a VM with ten emulated SATA disks and checks every listed
# drive against the strings and size the VM was given, and against smartctl -i and hdparm -I run
# in the same VM. The probe must stop at six drives, in drive-number order. Also reads the
# S.M.A.R.T. verdict and temperature of position 1 through the same path.
# Usage: vm-list-test.sh PATH/TO/diskvigil-cli SOURCE_DIR
set -euo pipefail

cli=${1:?usage: vm-list-test.sh DISKVIGIL_CLI SOURCE_DIR}
source_dir=${2:?usage: vm-list-test.sh DISKVIGIL_CLI SOURCE_DIR}
untested="the real drive path (SG_IO, ATA PASS-THROUGH) was"
source "$source_dir/tests/system/vm-common.sh"

# model|serial|firmware|size in MiB. Sizes straddle the 28-bit limit (2^28 sectors = 128 GiB)
# and hit the rounding of the capacity: 2.5 GiB rounds to 2, 3.5 GiB to 4.
disks=(
  "ST2000DM008-2FR102|ZFL0ABCD|0001|204800"
  "WDC WD10EZEX-08WN4A0|WD-WCC6Y3KR7N1Z|01.01A01|2560"
  "Samsung SSD 860 EVO 500GB|S3Z1NB0K123456X|RVT02B6Q|3584"
  "HGST HTS721010A9E630|JR1000D33VDL5E|JB0OA3U0|64"
  "TOSHIBA DT01ACA300|Z3GH5ABCD|MX6OABB0|132096"
  "Maxtor 6Y080L0|Y2ABCDEF|YAR41BW0|1024"
  "KINGSTON SA400S37480G|50026B7782A1B2C3|SBFKB1H5|128"
  "Hitachi HDS721010CLA332|JP2940HZ3H74MC|JP4OA3MA|256"
  "ST3500418AS|9VM5ABCD|CC38|512"
  "WDC WD5000AAKS-00TMA0|WD-WCAPW1234567|12.01C01|96"
)

vm_args=(--timeout 240)
guest='diskvigil-cli --json list > /tmp/list.json; echo "@@@ list exit $?"; cat /tmp/list.json'
# The S.M.A.R.T. read of position 1: RETURN STATUS must come back with LBA mid/high 0x4F/0xC2.
guest+='; diskvigil-cli --json smart 1 > /tmp/smart.json; echo "@@@ smart exit $?"; cat /tmp/smart.json'
letters=abcdefghij
for i in "${!disks[@]}"; do
  IFS='|' read -r model serial firmware mib <<<"${disks[$i]}"
  vm_args+=(--blank "${mib}M,model=$model,serial=$serial,ver=$firmware")
  dev="/dev/sd${letters:$i:1}"
  guest+="; echo '@@@ smartctl $dev'; smartctl -i $dev"
  guest+="; echo '@@@ hdparm $dev'; hdparm -I $dev 2>/dev/null | grep -i '48-bit'"
done

vm_run "${vm_args[@]}" -- "$guest"

printf '%s\n' "${disks[@]}" >"$work/disks.txt"
vm_check "$work/disks.txt" <<'PY'
import json, re, sys
from vmsections import Checks, read_sections

out, sections = read_sections(sys.argv[1])
disks = [line.rstrip("\n").split("|") for line in open(sys.argv[2]) if line.strip()]
checks = Checks()
check = checks.check

list_head = next((h for h in sections if h.startswith("list exit")), None)
if list_head is None:
    sys.exit("FAILED: no output from diskvigil-cli\n" + out)
check("diskvigil-cli exit status", list_head, "list exit 0")
drives = json.loads(sections[list_head])

def smartctl_field(text, name):
    m = re.search(rf"^{name}:\s*(.*?)\s*$", text, flags=re.M)
    return m.group(1) if m else None

# What smartctl and hdparm see on every disk, listed or not.
seen = []
for i, (model, serial, firmware, mib) in enumerate(disks):
    dev = "/dev/sd" + "abcdefghij"[i]
    s = sections.get(f"smartctl {dev}", "")
    cap = smartctl_field(s, "User Capacity")
    seen.append({
        "model": smartctl_field(s, "Device Model"),
        "serial": smartctl_field(s, "Serial Number"),
        "firmware": smartctl_field(s, "Firmware Version"),
        "bytes": int(cap.split()[0].replace(",", "")) if cap else None,
        "lba48": "*" in sections.get(f"hdparm {dev}", "").split("48-bit")[0],
    })
    check(f"{dev} smartctl model", seen[i]["model"], model)
    check(f"{dev} smartctl serial", seen[i]["serial"], serial)
    check(f"{dev} smartctl firmware", seen[i]["firmware"], firmware)
    check(f"{dev} smartctl bytes", seen[i]["bytes"], int(mib) * 1024 * 1024)

# The emulated disk's verdict is always healthy and its attribute 190 always reads 31 degrees.
smart_head = next((h for h in sections if h.startswith("smart exit")), "smart exit (none)")
check("diskvigil-cli smart exit status", smart_head, "smart exit 0")
try:
    smart = json.loads(sections.get(smart_head, ""))
except ValueError:
    smart = {}
check("smart statusOK", smart.get("statusOK"), True)
check("smart readOK", smart.get("readOK"), True)
check("smart temperature", (smart.get("temperatures") or {}).get("current"), 31)

check("drives listed", len(drives), 6)
check("drive numbers", [d.get("driveNumber") for d in drives], list(range(6)))
check("positions", [d.get("position") for d in drives], list(range(1, 7)))

print(f"{'pos':>3} {'drv':>3} {'model':<26} {'serial':<17} {'firmware':<9} {'sectors':>10} {'GB':>4} lba48")
for d in drives:
    n = d.get("driveNumber")
    if not isinstance(n, int) or not 0 <= n < len(disks):
        continue
    model, serial, firmware, mib = disks[n]
    sectors = int(mib) * 2048
    where = f"drive {n}"
    check(f"{where} model", d.get("model"), model)
    check(f"{where} serial", d.get("serial"), serial)
    check(f"{where} firmware", d.get("firmware"), firmware)
    check(f"{where} userSectors", d.get("userSectors"), sectors)
    check(f"{where} capacityGB", d.get("capacityGB"), round(sectors / 2 / 1024 / 1024))
    # The emulated disk always has the 48-bit feature set enabled, and no HPA or Security.
    check(f"{where} lba48", d.get("lba48"), True)
    check(f"{where} smartEnabled", d.get("smartEnabled"), True)
    check(f"{where} hpaEnabled", d.get("hpaEnabled"), False)
    check(f"{where} securityEnabled", d.get("securityEnabled"), False)
    # The same drive as smartctl and hdparm saw it.
    check(f"{where} model vs smartctl", d.get("model"), seen[n]["model"])
    check(f"{where} serial vs smartctl", d.get("serial"), seen[n]["serial"])
    check(f"{where} firmware vs smartctl", d.get("firmware"), seen[n]["firmware"])
    check(f"{where} bytes vs smartctl", (d.get("userSectors") or 0) * 512, seen[n]["bytes"])
    check(f"{where} lba48 vs hdparm", d.get("lba48"), seen[n]["lba48"])
    print(f"{d.get('position'):>3} {n:>3} {d.get('model')!s:<26} {d.get('serial')!s:<17} "
          f"{d.get('firmware')!s:<9} {d.get('userSectors')!s:>10} {d.get('capacityGB')!s:>4} {d.get('lba48')}")

checks.finish(out, "PASSED: 6 of 10 emulated disks listed in order; strings, sizes and LBA48 "
              "agree with the VM and with smartctl/hdparm; the S.M.A.R.T. read of position 1 is "
              "healthy, 31 C")
PY
