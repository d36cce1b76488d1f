#!/usr/bin/env bash
# Builds the libFuzzer targets (preset "fuzz": clang 14, ASan, UBSan) and runs each for a bounded
# time on seeds made from the real-drive files. Fails when a target crashes or breaks a check.
#   scripts/fuzz.sh [--seconds N] [--runs N] [TARGET...]
#     --seconds N   at most N seconds per target (default 60; 0 = no time limit)
#     --runs N      at most N executions per target (libFuzzer -runs; default: no limit)
#     TARGET...     only these targets (default: all)
# Each target's executions and its findings are printed; a long run asks for --runs 10000000
# --seconds 0.
# Findings land in build/fuzz/findings/<target>/; the grown corpora stay in build/fuzz/corpus/.
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
cd "$root"

all_targets=(IdentifyFuzz SmartSectorsFuzz SimulationFileFuzz MbrFuzz SmtpReplyFuzz AddressListFuzz
  SenseDataFuzz IniFileFuzz NvmeFuzz HelperProtocolFuzz SelfTestFuzz)
usage="Usage: scripts/fuzz.sh [--seconds N] [--runs N] [TARGET...]"
seconds=60
runs=-1
targets=()
while [ $# -gt 0 ]; do
  case "$1" in
    --seconds) seconds=${2:?--seconds needs a number}; shift 2 ;;
    --seconds=*) seconds=${1#--seconds=}; shift ;;
    --runs) runs=${2:?--runs needs a number}; shift 2 ;;
    --runs=*) runs=${1#--runs=}; shift ;;
    -*) echo "$usage" >&2; exit 2 ;;
    *)
      case " ${all_targets[*]} " in
        *" $1 "*) targets+=("$1"); shift ;;
        *) echo "Unknown target $1 (one of: ${all_targets[*]})" >&2; exit 2 ;;
      esac ;;
  esac
done
case "$seconds" in
  ''|*[!0-9]*) echo "--seconds needs a whole number" >&2; exit 2 ;;
esac
if [ "$runs" != -1 ]; then
  case "$runs" in
    ''|*[!0-9]*|0) echo "--runs needs a positive whole number" >&2; exit 2 ;;
  esac
fi
[ ${#targets[@]} -gt 0 ] || targets=("${all_targets[@]}")
cmake --preset fuzz >/dev/null
cmake --build build/fuzz -j "${DISKVIGIL_JOBS:-2}" --target "${targets[@]}" FuzzSeeds

work="$root/build/fuzz"
"$work/fuzz/FuzzSeeds" "$work/seeds" tests/data/real-drives/*.json data/demo/*.json
# The mail seeds are short enough to write here.
mkdir -p "$work/seeds/smtp" "$work/seeds/address"
printf '220 mail.example.org ESMTP ready\r\n' >"$work/seeds/smtp/greeting"
printf '250-mail.example.org\r\n250-AUTH=LOGIN PLAIN\r\n250-STARTTLS\r\n250 SIZE 1000\r\n' \
  >"$work/seeds/smtp/ehlo"
printf '550 No such user\n' >"$work/seeds/smtp/refusal"
printf '"Smith, J." <js@example.org>, ops@example.org (Night (shift)), Team: a@x, b@y;' \
  >"$work/seeds/address/list"
printf '=?x?= <@relay:u@h>, "a\\"b" <>' >"$work/seeds/address/odd"
# Sense seeds: four control bytes (command shape, reply flags, SCSI status, a spare byte), then
# the sense: descriptor format with an ATA status return, the SAT fixed format, the old Linux
# fixed format, and ILLEGAL REQUEST / invalid field.
mkdir -p "$work/seeds/sense" "$work/seeds/ini"
printf '\x04\x10\x00\x00\x72\x01\x00\x1d\x00\x00\x00\x0e\x09\x0c\x00\x00\x00\x00\x00\x00\x00\x4f\x00\xc2\xa0\x50' \
  >"$work/seeds/sense/descriptor"
printf '\x02\x10\x00\x00\xf0\x01\x01\x04\x51\xa0\x00\x0a\x00\x00\xc2\x4f\x00\x1d\x00\x00\x00\x00' \
  >"$work/seeds/sense/fixed"
printf '\x12\x10\x00\x00\x70\x00\x0b\x00\x00\x00\x00\x0a\x00\x58\xa0\x01\x00\x00\x00\x00\x00\x00' \
  >"$work/seeds/sense/old-fixed"
printf '\x01\x10\x00\x00\x72\x05\x24\x00\x00\x00\x00\x00' >"$work/seeds/sense/refused"
printf '[Settings]\r\nS.M.A.R.T. Monitoring=1\r\nRefresh Interval=0x3C\r\nSMTP Host = mail.example.org \r\n' \
  >"$work/seeds/ini/crlf"
printf '; comment\n[other]\nx=1\n[ settings ]\nHDD1 Color=$00FF00\nHDD1 Color=-1\n[Settings' \
  >"$work/seeds/ini/odd"
# NVMe seeds: identify data (zeros but a 512-byte LBA format) followed by a health log with the
# spare warning and 323 K; and a log alone.
mkdir -p "$work/seeds/nvme"
{ head -c 130 /dev/zero; printf '\x09'; head -c 3965 /dev/zero; printf '\x01\x43\x01'
  head -c 509 /dev/zero; } >"$work/seeds/nvme/identify-and-log"
{ printf '\x00\x2c\x01\x64\x0a\x03'; head -c 506 /dev/zero; } >"$work/seeds/nvme/log"

# Helper seeds: open ATA drive 0 and send IDENTIFY DEVICE on the handle; open NVMe controller 0,
# read the health log and close.
mkdir -p "$work/seeds/helper"
{ printf '\x02\x00\x00\x00\x01\x00\x2d\x02\x00\x00\x03\x01\x00\x00\x00'
  printf '\x28\x00\x02\x00\x00\x00\x00\x00\x00\x02\x00\x00\x02\x00\x00\x00\x00\x00\x00\x00'
  printf '\x28\x00\x00\x00\x00\x00\x00\x00\x00\x00\x00\x00\x00\x00\x00\x00\x00\xa0\xec\x00'
  head -c 512 /dev/zero; } >"$work/seeds/helper/identify"
{ printf '\x02\x00\x00\x00\x02\x00\x17\x00\x00\x00\x04\x01\x00\x00\x00\x02\xff\xff\xff\xff'
  printf '\x02\x00\x7f\x00\x00\x00\x00\x00\x00\x02\x00\x00\x01\x05\x00\x00\x00\x05\x01\x00\x00\x00'
} >"$work/seeds/helper/nvme-log"
# Self-test seeds: a log with two entries, the newest a read failure at an LBA (index 2); an error
# log of one error; an NVMe self-test log with one short test.
mkdir -p "$work/seeds/selftest"
{ printf '\x01\x00\x01\x00\x34\x12'; head -c 20 /dev/zero
  printf '\x02\x73\x35\x12\x00\x56\x34\x12\x00'; head -c 473 /dev/zero
  printf '\x02\x00\x00\x00'; } >"$work/seeds/selftest/log"
{ printf '\x01\x01'; head -c 55 /dev/zero; printf '\x25'; head -c 5 /dev/zero
  printf '\x40'; head -c 388 /dev/zero; printf '\x01\x00'; head -c 58 /dev/zero
} >"$work/seeds/selftest/error-log"
{ printf '\x00\x00\x00\x00\x10'; head -c 559 /dev/zero; } >"$work/seeds/selftest/nvme-log"

seed_folder() {
  case "$1" in
    IdentifyFuzz) echo identify ;;
    SmartSectorsFuzz) echo smart ;;
    SimulationFileFuzz) echo simulation ;;
    MbrFuzz) echo mbr ;;
    SmtpReplyFuzz) echo smtp ;;
    AddressListFuzz) echo address ;;
    SenseDataFuzz) echo sense ;;
    IniFileFuzz) echo ini ;;
    NvmeFuzz) echo nvme ;;
    HelperProtocolFuzz) echo helper ;;
    SelfTestFuzz) echo selftest ;;
  esac
}

status=0
for target in "${targets[@]}"; do
  corpus="$work/corpus/$target"
  findings="$work/findings/$target"
  mkdir -p "$corpus" "$findings"
  log="$work/$target.log"
  limits=(-max_total_time="$seconds" -runs="$runs")
  echo "-- $target ($([ "$seconds" = 0 ] && echo "no time limit" || echo "${seconds}s")$(
    [ "$runs" = -1 ] || echo ", $runs executions"))"
  started=$(date +%s)
  if "$work/fuzz/$target" "${limits[@]}" -timeout=10 -rss_limit_mb=2048 \
      -artifact_prefix="$findings/" -print_final_stats=1 \
      "$corpus" "$work/seeds/$(seed_folder "$target")" >"$log" 2>&1; then
    executed=$(sed -n 's/^stat::number_of_executed_units: *//p' "$log" | tail -1)
    elapsed=$(($(date +%s) - started))
    echo "   ${executed:-?} executions in ${elapsed}s, corpus $(find "$corpus" -type f | wc -l) inputs," \
      "no findings"
  else
    echo "   FAILED: see $log and $findings" >&2
    tail -40 "$log" >&2
    status=1
  fi
done
exit $status
