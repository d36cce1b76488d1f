#!/usr/bin/env bash
# Real file systems: the disk image of make-fs-image.sh (FAT12, FAT16, FAT32 by mkfs.fat, NTFS by
# mkntfs) read by `diskvigil-cli --simulate ... --json mbr` through the simulated drive's sector
# reads (28-bit on an even drive, 48-bit on an odd one), and compared with what blkid and ntfsinfo
# say of the same bytes. Skipped (exit 77) when one of the tools is missing.
# Usage: real-fs-mbr-test.sh PATH/TO/diskvigil-cli
set -euo pipefail

cli=$(realpath "${1:?usage: real-fs-mbr-test.sh DISKVIGIL_CLI}")
here=$(cd "$(dirname "$0")" && pwd)
python=/usr/bin/python3
[[ -x $python ]] || python=python3

work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
cd "$work"
status=0
bash "$here/make-fs-image.sh" || status=$?
[[ $status == 0 ]] || exit "$status"
total=$(cat total.txt)

cat >disks.json <<JSON
{"drives": [
  {"model": "Image 28-bit", "driveNumber": 0, "sectors": $total, "lba48": false,
   "image": "disk.img", "volumes": {"1": "/mnt/fat12"}},
  {"model": "Image 48-bit", "driveNumber": 1, "sectors": $total, "lba48": true,
   "image": "disk.img"}]}
JSON
for pos in 1 2; do
  if ! "$cli" --simulate disks.json --json mbr "$pos" >"mbr$pos.json" 2>"mbr$pos.err"; then
    echo "FAILED: diskvigil-cli mbr $pos exited non-zero" >&2
    cat "mbr$pos.err" >&2
    exit 1
  fi
done
"$python" "$here/compare-mbr.py" "$work" mbr1.json=/mnt/fat12 mbr2.json
