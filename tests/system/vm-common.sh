# What the VM tests share, sourced after setting `cli`, `source_dir` and `untested` (what goes
# unproven on a kernel when the harness is missing): the harness or a loud skip (exit 77), a
# scratch folder `work` removed at exit, diskvigil-cli bundled for the guest, and vm_run.
vm_dir="$source_dir/../shared/vm"
here="$source_dir/tests/system"
# Debian's own Python, whose standard library the checks use, ahead of any other on the PATH.
python=/usr/bin/python3
[[ -x $python ]] || python=python3

if [[ ! -x $vm_dir/vm-run ]]; then
  echo "SKIPPED: the VM harness $vm_dir/vm-run is missing; $untested NOT tested on a kernel."
  exit 77
fi

work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
"$vm_dir/bundle" "$cli" "$work/bundle" >/dev/null 2>&1

# vm_run [vm-run options] -- GUEST: runs the guest's commands with the bundle; its output lands in
# $work/out.txt. A run that does not finish cleanly ends the test with both outputs shown.
vm_run() {
  if ! "$vm_dir/vm-run" --include "$work/bundle" "$@" >"$work/out.txt" 2>"$work/err.txt"; then
    echo "FAILED: the VM run did not finish cleanly" >&2
    cat "$work/out.txt" "$work/err.txt" >&2
    exit 1
  fi
}

# vm_check: the Python check that follows (standard input) on $work/out.txt, with vmsections
# importable.
vm_check() {
  PYTHONPATH="$here${PYTHONPATH:+:$PYTHONPATH}" "$python" - "$work/out.txt" "$@"
}

# Two emulated SATA disks for the tests that compare an unprivileged run with root's, and the guest
# command that hands them to the disk group (gid 6), as udev does on a desktop.
two_disks=(--blank "2G,model=ST2000DM008-2FR102,serial=ZFL0ABCD,ver=0001"
  --blank "512M,model=WDC WD10EZEX-08WN4A0,serial=WD-WCC6Y3KR7N1Z,ver=01.01A01")
disks_to_disk_group='for d in /dev/sd?; do chgrp 6 $d; chmod 660 $d; done'

# helper_tree HELPER: bundles HELPER with setcap and getcap, and sets `helper_tree_guest` to the
# guest commands that lay out diskvigil-cli and HELPER as an installed tree in /tmp/dv (bin/ and
# libexec/diskvigil/) with the file capability on the helper alone, and add the users u (in the
# disk group) and v (not in it). The helper runs in the kernel's secure mode, which ignores
# LD_LIBRARY_PATH: its libraries go where the loader looks by itself.
helper_tree() {
  "$vm_dir/bundle" "$1" "$(command -v setcap || echo /usr/sbin/setcap)" \
    "$(command -v getcap || echo /sbin/getcap)" "$work/bundle" >/dev/null 2>&1
  helper_tree_guest='for f in /opt/include/lib/*; do [ -e /lib/x86_64-linux-gnu/${f##*/} ] || cp "$f" /lib/x86_64-linux-gnu/; done'
  helper_tree_guest+='; mkdir -p /tmp/dv/bin /tmp/dv/libexec/diskvigil; chmod 755 /tmp/dv /tmp/dv/bin /tmp/dv/libexec /tmp/dv/libexec/diskvigil'
  helper_tree_guest+='; cp /opt/include/bin/diskvigil-cli /tmp/dv/bin/; cp /opt/include/bin/diskvigil-drive-helper /tmp/dv/libexec/diskvigil/'
  helper_tree_guest+='; setcap cap_sys_rawio+ep /tmp/dv/libexec/diskvigil/diskvigil-drive-helper'
  helper_tree_guest+='; echo "u:x:1000:6::/tmp:/bin/sh" >> /etc/passwd; echo "v:x:1001:1001::/tmp:/bin/sh" >> /etc/passwd'
  helper_tree_guest+="; $disks_to_disk_group"
}
