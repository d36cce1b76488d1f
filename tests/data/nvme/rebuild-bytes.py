#!/usr/bin/env python3
"""Rebuilds the controller's data structures from what smartctl printed for each drive.

Every fixture here holds a "smartctl" object with the values smartctl printed for a real drive.
This script lays those values out where the controller keeps them and stores the results next to
them as hex: "identifyControllerHex" and "identifyNamespaceHex" (4096 bytes each) and
"healthLogHex" (512 bytes). Fields smartctl did not print stay zero. Run it after editing a
"smartctl" object: python3 rebuild-bytes.py *.json
"""
import json
import sys

KELVIN_OFFSET = 273  # smartctl prints the log's kelvin minus 273


def put(buf, offset, value, size):
    buf[offset:offset + size] = value.to_bytes(size, "little")


def put_text(buf, offset, text, size):
    raw = text.encode("ascii")
    if len(raw) > size:
        raise ValueError(f"{text!r} is longer than {size} bytes")
    buf[offset:offset + size] = raw.ljust(size, b" ")


def identify_controller(s):
    buf = bytearray(4096)
    put(buf, 0, s["nvme_pci_vendor"]["id"], 2)
    put(buf, 2, s["nvme_pci_vendor"]["subsystem_id"], 2)
    put_text(buf, 4, s["serial_number"], 20)
    put_text(buf, 24, s["model_name"], 40)
    put_text(buf, 64, s["firmware_version"], 8)
    put(buf, 73, s["nvme_ieee_oui_identifier"], 3)
    put(buf, 78, s["nvme_controller_id"], 2)
    if s.get("nvme_version") is not None:
        put(buf, 80, s["nvme_version"], 4)
    if s.get("nvme_total_capacity") is not None:
        put(buf, 280, s["nvme_total_capacity"], 16)
    put(buf, 516, s["nvme_number_of_namespaces"], 4)
    return buf


def identify_namespace(s):
    buf = bytearray(4096)
    blocks = s["namespace_blocks"]
    put(buf, 0, blocks, 8)   # size
    put(buf, 8, blocks, 8)   # capacity
    put(buf, 25, 0, 1)       # one LBA format
    put(buf, 26, 0, 1)       # formatted with format 0
    lbads = s["logical_block_size"].bit_length() - 1
    if 1 << lbads != s["logical_block_size"]:
        raise ValueError("block size is not a power of two")
    put(buf, 128, lbads << 16, 4)  # format 0: no metadata, LBADS
    return buf


def health_log(h):
    buf = bytearray(512)
    put(buf, 0, h["critical_warning"], 1)
    put(buf, 1, h["temperature"] + KELVIN_OFFSET, 2)
    put(buf, 3, h["available_spare"], 1)
    put(buf, 4, h["available_spare_threshold"], 1)
    put(buf, 5, h["percentage_used"], 1)
    counters = ["data_units_read", "data_units_written", "host_reads", "host_writes",
                "controller_busy_time", "power_cycles", "power_on_hours", "unsafe_shutdowns",
                "media_errors", "num_err_log_entries"]
    for index, name in enumerate(counters):
        put(buf, 32 + 16 * index, h[name], 16)
    put(buf, 192, h["warning_temp_time"], 4)
    put(buf, 196, h["critical_comp_time"], 4)
    for index, celsius in enumerate(h["temperature_sensors"]):
        if celsius is not None:
            put(buf, 200 + 2 * index, celsius + KELVIN_OFFSET, 2)
    return buf


for path in sys.argv[1:]:
    with open(path) as f:
        fixture = json.load(f)
    s = fixture["smartctl"]
    fixture["identifyControllerHex"] = identify_controller(s).hex()
    fixture["identifyNamespaceHex"] = identify_namespace(s).hex()
    fixture["healthLogHex"] = health_log(s["nvme_smart_health_information_log"]).hex()
    with open(path, "w") as f:
        json.dump(fixture, f, indent=1)
        f.write("\n")
