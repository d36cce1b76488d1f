#!/usr/bin/env bash
# Builds the libFuzzer targets (preset "fuzz": clang 14, ASan, UBSan) and runs each for a bounded
# time on seeds made from the real-drive files. Fails when a target crashes or breaks a check.
#   scripts/fuzz.sh [--seconds N]    N seconds per target (default 60)
# Findings land in build/fuzz/findings/<target>/; the grown corpora stay in build/fuzz/corpus/.
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
cd "$root"

seconds=60
while [ $# -gt 0 ]; do
  case "$1" in
    --seconds) seconds=${2:?--seconds needs a number}; shift 2 ;;
    --seconds=*) seconds=${1#--seconds=}; shift ;;
    *) echo "Usage: scripts/fuzz.sh [--seconds N]" >&2; exit 2 ;;
  esac
done
case "$seconds" in
  ''|*[!0-9]*) echo "--seconds needs a whole number" >&2; exit 2 ;;
esac

targets=(IdentifyFuzz SmartSectorsFuzz SimulationFileFuzz MbrFuzz SmtpReplyFuzz AddressListFuzz)
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

seed_folder() {
  case "$1" in
    IdentifyFuzz) echo identify ;;
    SmartSectorsFuzz) echo smart ;;
    SimulationFileFuzz) echo simulation ;;
    MbrFuzz) echo mbr ;;
    SmtpReplyFuzz) echo smtp ;;
    AddressListFuzz) echo address ;;
  esac
}

status=0
for target in "${targets[@]}"; do
  corpus="$work/corpus/$target"
  findings="$work/findings/$target"
  mkdir -p "$corpus" "$findings"
  log="$work/$target.log"
  echo "-- $target for ${seconds}s"
  if "$work/fuzz/$target" -max_total_time="$seconds" -timeout=10 -rss_limit_mb=2048 \
      -artifact_prefix="$findings/" -print_final_stats=1 \
      "$corpus" "$work/seeds/$(seed_folder "$target")" >"$log" 2>&1; then
    runs=$(sed -n 's/^stat::number_of_executed_units: *//p' "$log" | tail -1)
    echo "   ${runs:-?} executions, no findings"
  else
    echo "   FAILED: see $log and $findings" >&2
    tail -40 "$log" >&2
    status=1
  fi
done
exit $status
