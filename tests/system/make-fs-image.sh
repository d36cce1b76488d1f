#!/usr/bin/env bash
# Builds disk.img in the current folder: an MBR made by sfdisk with four primary partitions, FAT12,
# FAT16 and FAT32 made by mkfs.fat and NTFS made by mkntfs, each formatted in its own file and
# copied in with dd (no mounting, no loop devices). Beside it: layout.txt (k start sectors type),
# blkid.tsv (what blkid reads at each partition's offset) and ntfsinfo.txt (ntfsinfo -m of the
# NTFS partition). Exits 77 when a tool is missing.
set -euo pipefail
export PATH="$PATH:/usr/sbin:/sbin"
for tool in sfdisk mkfs.fat mkntfs blkid ntfsinfo dd truncate; do
  if ! command -v "$tool" >/dev/null; then
    echo "SKIPPED: $tool is missing (Debian packages fdisk, dosfstools, ntfs-3g, util-linux)"
    exit 77
  fi
done

# type|start|sectors|how the partition is made (one file per partition, copied in with dd)
layout=(
  "01|2048|8192|mkfs.fat -F 12 -s 4 -i 1A2B3C4D -n FAT12VOL -h 2048"
  "04|10240|40960|mkfs.fat -F 16 -s 2 -i C0FFEE01 -n SMALL16 -h 10240"
  "0c|51200|131072|mkfs.fat -F 32 -s 1 -i 00A1B2C3 -n DATA32 -h 51200"
  "07|182272|32768|mkntfs -F -Q -q -s 512 -c 4096 -L Windows\\ Ü -p 182272"
)
total=217088

{
  echo "label: dos"
  echo "label-id: 0x5EED1234"
  first=1
  for entry in "${layout[@]}"; do
    IFS='|' read -r type start size _ <<<"$entry"
    line="start=$start, size=$size, type=$type"
    [[ $first == 1 ]] && line+=", bootable"
    first=0
    echo "$line"
  done
} >table.sfdisk
truncate -s $((total * 512)) disk.img
sfdisk --no-reread --no-tell-kernel -q disk.img <table.sfdisk >/dev/null

k=0
for entry in "${layout[@]}"; do
  k=$((k + 1))
  IFS='|' read -r type start size make <<<"$entry"
  truncate -s $((size * 512)) "part$k.img"
  eval "$make part$k.img" >/dev/null 2>&1
  dd if="part$k.img" of=disk.img bs=512 seek="$start" conv=notrunc status=none
  for tag in TYPE VERSION UUID LABEL; do
    printf '%s\t%s\t' "$k" "$tag" >>blkid.tsv
    blkid -p -O $((start * 512)) -o value -s "$tag" disk.img | tr -d '\n' >>blkid.tsv || true
    echo >>blkid.tsv
  done
  echo "$k $start $size $type" >>layout.txt
done
ntfsinfo -m part4.img >ntfsinfo.txt 2>/dev/null

echo "$total" >total.txt
