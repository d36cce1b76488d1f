#!/usr/bin/env python3
"""Compares `diskvigil-cli --json mbr` outputs for the image of make-fs-image.sh with what blkid
and ntfsinfo read from the same image.
Usage: compare-mbr.py WORKDIR MBR.json[=VOLUME] ...   (VOLUME: the volume name of partition 1)"""
import json, os, re, sys

os.chdir(sys.argv[1])

failures = []
def check(what, got, want):
    if got != want:
        failures.append(f"{what}: got {got!r}, expected {want!r}")

blkid = {}
for line in open("blkid.tsv", encoding="utf-8", errors="replace"):
    k, tag, value = line.rstrip("\n").split("\t")
    blkid.setdefault(int(k), {})[tag] = value
layout = {int(k): (int(start), int(size), t) for k, start, size, t in
          (line.split() for line in open("layout.txt"))}
ntfs = dict(re.findall(r"^\s*([A-Za-z ]+):\s*(.*)$", open("ntfsinfo.txt").read(), re.M))

def swapped(hexbytes):  # bytes in stored order -> the number, most significant first
    return "".join(reversed([hexbytes[i:i + 2] for i in range(0, len(hexbytes), 2)]))

names = {"01": "FAT12 CHS", "04": "FAT16 CHS <32M", "0c": "FAT32 LBA", "07": "NTFS"}
clusters = {1: 4, 2: 2, 3: 1}
for arg in sys.argv[2:]:
    path, _, volume = arg.partition("=")
    got = json.load(open(path))
    pos = os.path.basename(path)
    check(f"{pos} read", got["read"], True)
    check(f"{pos} diskId", got["diskId"], "5EED1234")
    check(f"{pos} signature", got["signature"], "AA55h")
    for k in range(1, 5):
        p = got["partitions"][k - 1]
        b = blkid[k]
        start, size, ptype = layout[k]
        where = f"{pos} partition {k}"
        check(f"{where} typeName", p["typeName"], names[ptype])
        check(f"{where} active", p["active"], k == 1)
        check(f"{where} startLBA", p["startLBA"], start)
        check(f"{where} sizeGB", p["sizeGB"], size >> 21)
        check(f"{where} volumeLabel", p["volumeLabel"], b["LABEL"])
        if k < 4:
            check(f"{where} blkid type", b["TYPE"], "vfat")
            check(f"{where} FAT version", "FAT" + p["typeName"][3:5], b["VERSION"])
            check(f"{where} serial", swapped(p["serial"]), b["UUID"].replace("-", ""))
            check(f"{where} clusterSectors", p["clusterSectors"], clusters[k])
            check(f"{where} sectorCount", p["sectorCount"], size)
            check(f"{where} dirty", p["dirty"], False)
            check(f"{where} version", p["version"], "")
        else:
            check(f"{where} blkid type", b["TYPE"], "ntfs")
            check(f"{where} serial", swapped(p["serial"]), b["UUID"])
            check(f"{where} sectorCount", p["sectorCount"], size)
            check(f"{where} clusterSectors", p["clusterSectors"] * 512,
                  int(ntfs["Cluster Size"]))
            check(f"{where} volumeLabel (ntfsinfo)", p["volumeLabel"], ntfs["Volume Name"])
            check(f"{where} version", p["version"], " " + ntfs["Volume Version"])
            check(f"{where} dirty", p["dirty"], int(ntfs["Volume Flags"], 16) & 1 == 1)
        lab = got["labels"][k - 1]
        check(f"{where} label fs", lab["fs"], p["typeName"] + p["version"])
        check(f"{where} label serial", lab["serial"], p["serial"])
    check(f"{pos} partition 1 volume name", got["partitions"][0]["driveLetter"],
          volume or None)

if failures:
    print("FAILED:\n  " + "\n  ".join(failures))
    sys.exit(1)
print("OK: FAT12, FAT16, FAT32 and NTFS decoded as blkid and ntfsinfo read them")
