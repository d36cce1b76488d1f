#!/usr/bin/env bash
# NVMe drives on a real kernel: one emulated SATA disk and two emulated NVMe controllers (the
# second with its critical warning set) in the VM. `list` and `smart` read the controllers through
# NVME_IOCTL_ADMIN_CMD and must agree with `smartctl -a` and `nvme smart-log` in the same VM; the
# SATA disk comes first. Then the same as an unprivileged user, who gets the kernel's hwmon
# readings only, and after temp1_max is set below the drive's temperature the alarm turns the
# verdict to ERROR on both paths.
# Usage: vm-nvme-test.sh PATH/TO/diskvigil-cli SOURCE_DIR
set -euo pipefail

cli=${1:?usage: vm-nvme-test.sh DISKVIGIL_CLI SOURCE_DIR}
source_dir=${2:?usage: vm-nvme-test.sh DISKVIGIL_CLI SOURCE_DIR}
untested="NVMe drives were"
source "$source_dir/tests/system/vm-common.sh"

# nobody, through busybox su: no capabilities (CapEff 0), no access to /dev/nvme*.
as_user() { echo "su -m -s /bin/sh nobody -c '$1'"; }
guest='echo "nobody:x:65534:65534:nobody:/:/bin/sh" >> /etc/passwd'
guest+='; echo "nogroup:x:65534:" >> /etc/group'
guest+='; echo "@@@ user caps"; '"$(as_user 'grep CapEff /proc/self/status')"
guest+='; echo "@@@ list"; diskvigil-cli --json list'
guest+='; echo "@@@ smart 2"; diskvigil-cli --json smart 2 --dec; echo "@@@ smart 2 exit $?"'
guest+='; echo "@@@ smart 3"; diskvigil-cli --json smart 3 --dec; echo "@@@ smart 3 exit $?"'
guest+='; echo "@@@ smartctl 0"; smartctl -a /dev/nvme0'
guest+='; echo "@@@ smartctl 1"; smartctl -a /dev/nvme1'
guest+='; echo "@@@ smart-log 0"; nvme smart-log /dev/nvme0 -o json'
guest+='; echo "@@@ smart-log 1"; nvme smart-log /dev/nvme1 -o json'
guest+="; echo '@@@ user list'; $(as_user 'diskvigil-cli --json list')"
# Unprivileged the SATA disk is not listed (no CAP_SYS_RAWIO): nvme0 is position 1.
guest+="; echo '@@@ user smart 1'; $(as_user 'diskvigil-cli --json smart 1'); echo \"@@@ user smart 1 exit \$?\""
guest+='; for f in /sys/class/nvme/nvme0/hwmon*/temp1_max; do echo 40000 > "$f"; done'
guest+="; echo '@@@ user hot'; $(as_user 'diskvigil-cli --json smart 1'); echo \"@@@ user hot exit \$?\""
guest+='; echo "@@@ root hot"; diskvigil-cli --json smart 2; echo "@@@ root hot exit $?"'
vm_run --timeout 280 --blank '1G,model=ST2000DM008-2FR102,serial=ZFL0ABCD,ver=0001' \
  --nvme 1G,serial=DVNVMEOK01 --nvme 2G,serial=DVNVMEBAD1,smart_critical_warning=1 -- "$guest"

vm_check <<'PY'
import json, re, sys
from vmsections import Checks, read_sections

out, sections = read_sections(sys.argv[1])
checks = Checks()
check = checks.check
failures = checks.failures

def load(name):
    try:
        return json.loads(sections.get(name, ""))
    except ValueError:
        failures.append(f"{name}: no JSON")
        return {}

def smartctl(name, label):
    m = re.search(rf"^{re.escape(label)}:\s*(.+?)\s*$", sections.get(name, ""), re.M)
    return m.group(1) if m else None

def number(text):
    return int(text.split()[0].replace(",", "")) if text else None

drives = load("list")
check("drives listed", len(drives), 3)
if len(drives) == 3:
    check("position 1", (drives[0]["kind"], drives[0]["devicePath"], drives[0]["serial"]),
          ("ata", "/dev/sda", "ZFL0ABCD"))
    for k, (path, serial, sectors) in enumerate([("/dev/nvme0", "DVNVMEOK01", 2097152),
                                                 ("/dev/nvme1", "DVNVMEBAD1", 4194304)]):
        d = drives[k + 1]
        check(f"position {k + 2}", (d["kind"], d["devicePath"], d["serial"], d["model"],
                                    d["firmware"], d["userSectors"], d["healthLogNeedsRoot"]),
              ("nvme", path, serial, "QEMU NVMe Ctrl", "7.2.22", sectors, False))
        ref = f"smartctl {k}"
        check(f"{ref} model", smartctl(ref, "Model Number"), d["model"])
        check(f"{ref} serial", smartctl(ref, "Serial Number"), d["serial"])
        check(f"{ref} firmware", smartctl(ref, "Firmware Version"), d["firmware"])
        check(f"{ref} pci vendor", smartctl(ref, "PCI Vendor ID"),
              f"0x{d['pciVendorId']:04x}")

# The health log against both reference tools, field by field.
rows_by_log_key = {
    "critical_warning": "Critical Warning", "avail_spare": "Available Spare (%)",
    "spare_thresh": "Available Spare Threshold (%)", "percent_used": "Percentage Used",
    "data_units_read": "Data Units Read", "data_units_written": "Data Units Written",
    "host_read_commands": "Host Read Commands", "host_write_commands": "Host Write Commands",
    "controller_busy_time": "Controller Busy Time (minutes)", "power_cycles": "Power Cycles",
    "power_on_hours": "Power On Hours", "unsafe_shutdowns": "Unsafe Shutdowns",
    "media_errors": "Media and Data Integrity Errors",
    "num_err_log_entries": "Error Information Log Entries",
    "warning_temp_time": "Warning Temperature Time (min)",
    "critical_comp_time": "Critical Temperature Time (min)",
}
for k, (verdict, status) in enumerate([("PASSED", 0), ("FAILED!", 3)]):
    smart = load(f"smart {k + 2}")
    log = load(f"smart-log {k}")
    check(f"smart {k + 2} exit", f"smart {k + 2} exit {status}" in sections, True)
    rows = {row[0]: row[3] for row in smart.get("rows", [])}
    for key, name in rows_by_log_key.items():
        check(f"nvme{k} {name} vs nvme smart-log", int(rows.get(name, "-1")), int(log.get(key, -2)))
    check(f"nvme{k} temperature vs smart-log", smart.get("temperatures", {}).get("current"),
          int(log.get("temperature", 0)) - 273)
    ref = f"smartctl {k}"
    check(f"{ref} verdict", smartctl(ref, "SMART overall-health self-assessment test result"),
          verdict)
    check(f"{ref} temperature", number(smartctl(ref, "Temperature")),
          smart.get("temperatures", {}).get("current"))
    check(f"{ref} power cycles", number(smartctl(ref, "Power Cycles")),
          int(rows.get("Power Cycles", "-1")))
    check(f"{ref} spare", smartctl(ref, "Available Spare"),
          rows.get("Available Spare (%)", "?") + "%")
    check(f"nvme{k} statusOK", smart.get("statusOK"), status == 0)
smart3 = load("smart 3")
check("nvme1 warnings", smart3.get("criticalWarnings"), ["available spare below threshold"])

# Without privilege: the same drives from sysfs and hwmon, the log marked as needing root.
check("user has no capabilities", sections.get("user caps", "").split(), ["CapEff:", "0000000000000000"])
user = load("user list")
user = user if isinstance(user, list) else []
check("user drives", [(d.get("kind"), d.get("devicePath"), d.get("serial"), d.get("userSectors"))
                      for d in user],
      [("nvme", "/dev/nvme0", "DVNVMEOK01", 2097152), ("nvme", "/dev/nvme1", "DVNVMEBAD1", 4194304)])
for d in user:
    check(f"user {d['devicePath']} needs root", d.get("healthLogNeedsRoot"), True)
    check(f"user {d['devicePath']} model", d.get("model"), "QEMU NVMe Ctrl")
    check(f"user {d['devicePath']} firmware", d.get("firmware"), "7.2.22")
    check(f"user {d['devicePath']} vendor", d.get("pciVendorId"), 0x1B36)
user_smart = load("user smart 1")
check("user smart exit", "user smart 1 exit 0" in sections, True)
check("user temperature (hwmon, rounded)", user_smart.get("temperatures", {}).get("current"), 50)
check("user rows", user_smart.get("rows"), [])
check("user log read", user_smart.get("healthLogRead"), False)

hot_user = load("user hot")
check("user hot verdict", hot_user.get("statusOK"), False)
check("user hot exit", "user hot exit 3" in sections, True)
hot_root = load("root hot")
check("root hot verdict", hot_root.get("statusOK"), False)
check("root hot warning", hot_root.get("criticalWarnings"), ["temperature"])

checks.finish(out, "NVMe through NVME_IOCTL_ADMIN_CMD agrees with smartctl and nvme smart-log; "
              "the critical warning reads ERROR; the hwmon path works without privilege and sees "
              "the alarm")
PY
