#!/usr/bin/env bash
# The Windows build, run under Wine: builds the MinGW-w64 cross build when needed (preset
# `windows-gui`, folder build/windows-gui, where the Qt for MinGW is at hand, as the window test
# builds that anyway and it holds everything `windows` has; else preset `windows`, folder
# build/windows), then in a fresh Wine prefix with one persistent wineserver
#   1. runs every unit test executable of that build,
#   2. compares `diskvigil-cli.exe --demo list | smart N | report N` byte for byte with the Linux
#      program's output, and checks the command on Wine's own (pass-through-less) drives,
#   3. runs the settings-file differential against Wine's private-profile functions,
#   4. sends report mails to a loopback server over plain SMTP, STARTTLS and TLS (the test's
#      authority trusted in the prefix), and sees misnamed and untrusted certificates refused.
# Usage: wine-test.sh SOURCE_DIR LINUX_CLI. Exit 77 (skipped) without wine or MinGW-w64.
set -uo pipefail
src=$(cd "$1" && pwd)
linux_cli=$2
preset=windows
"$src/scripts/mingw-qt.sh" unpack >/dev/null 2>&1 && preset=windows-gui
build="$src/build/$preset"

skip() {
  echo "=================================================================="
  echo "SKIPPED: $1"
  echo "=================================================================="
  exit 77
}
command -v wine >/dev/null && command -v wineserver >/dev/null ||
  skip "wine is not installed (Debian: wine64 and wine)"
command -v x86_64-w64-mingw32-g++-posix >/dev/null ||
  skip "no MinGW-w64 compiler (g++-mingw-w64-x86-64-posix)"

started=$SECONDS
if [ ! -f "$build/CMakeCache.txt" ]; then
  (cd "$src" && cmake --preset "$preset" >/dev/null) || { echo "FAILED: configuring $build"; exit 1; }
fi
if ! cmake --build "$build" -j2 >"$build/wine-test-build.log" 2>&1; then
  tail -40 "$build/wine-test-build.log"
  echo "FAILED: the Windows build"
  exit 1
fi
echo "Windows build ($preset) ready after $((SECONDS - started)) s"

WINEPREFIX=$(mktemp -d "${TMPDIR:-/tmp}/diskvigil-wine.XXXXXX")
export WINEPREFIX WINEDEBUG=-all WINEDLLOVERRIDES="mscoree,mshtml=" WINEARCH=win64
work=$(mktemp -d "${TMPDIR:-/tmp}/diskvigil-wine-out.XXXXXX")
cleanup() {
  wineserver -k >/dev/null 2>&1
  wineserver -w >/dev/null 2>&1
  rm -rf "$WINEPREFIX" "$work"
}
trap cleanup EXIT
# One server for the whole run, detached from our output; without it every wine start would
# bring up (and tear down) its own, which costs seconds each and sometimes hangs.
wineserver -p >/dev/null 2>&1 </dev/null
timeout 120 wine wineboot --init >/dev/null 2>&1 </dev/null || { echo "FAILED: wineboot"; exit 1; }
echo "Wine prefix ready after $((SECONDS - started)) s"

failures=0
fail() {
  echo "FAILED: $*"
  failures=$((failures + 1))
}

# Test cases that need POSIX itself: named pipes, permission bits, symbolic links (Wine makes
# none), and the language and locale chosen through LANG and LC_* (Windows takes them from the
# system, not from the environment), and the counter-state tests, which steer the state file
# through XDG_STATE_HOME (Windows keeps it beside the settings, under APPDATA), and the cases that
# convert into ISO-2022-JP or EUC-KR, which a fresh Wine prefix cannot. Everything else runs.
posix_only='-*.OnlyRegularWritableFilesAreReplaced:*.ALinkStaysALink*:*.ReplacesTheFileReadableByAll'
posix_only+=':MonitorTextfile.WrittenWholeAfterEveryPass:*.BrokenEntryInAFolderIsNamedNotTheFolder'
posix_only+=':MailCharset.ChosenByLanguage:EncodedWords.AsciiStaysAndOthersAreEncoded'
posix_only+=':MessageData.JapaneseSystemsSendTheBodyInIso2022Jp:ComposeInC.*:CounterCaution.*'
posix_only+=':EncodedWords.AConversionStartsCleanAfterAFailureOrAnotherCharset'

echo "--- unit tests"
for exe in "$build"/tests/*Test.exe "$build"/tests/windows/*Test.exe; do
  [ -f "$exe" ] || continue
  name=$(basename "$exe" .exe)
  # Relative to a folder of the build: Wine maps it to drive Z:, like the source paths the tests
  # carry.
  if (cd "$build" && timeout 120 wine "$exe" --gtest_brief=1 --gtest_filter="$posix_only" \
      >"$work/$name.txt" 2>&1 </dev/null); then
    echo "ok      $name ($(grep -Eo '[0-9]+ tests? from [0-9]+ test suites? ran' "$work/$name.txt"))"
  else
    fail "$name"
    grep -E '^\[  FAILED  \]|Failure|error' "$work/$name.txt" | head -20
  fi
done

echo "--- diskvigil-cli.exe against the Linux diskvigil-cli"
win_cli="$build/cli/diskvigil-cli.exe"
# The report's first line carries the local date and time in the user's own short format
# (12/07/26 on Linux in the C locale, 12/7/2026 on Wine's English default): that line is compared
# without them, every other byte as it is.
masked() { sed '1s/^\(S\.M\.A\.R\.T\. Report - \).*\r$/\1(date and time)\r/' "$1"; }
compare() {
  local label=$1
  shift
  "$linux_cli" "$@" >"$work/linux.out" 2>"$work/linux.err" </dev/null
  local linux_status=$?
  (cd "$build" && timeout 60 wine "$win_cli" "$@" >"$work/wine.out" 2>"$work/wine.err" </dev/null)
  local wine_status=$?
  if [ "$linux_status" != "$wine_status" ]; then
    fail "$label: exit status $wine_status under Wine, $linux_status on Linux"
  elif ! cmp -s <(masked "$work/linux.out") <(masked "$work/wine.out"); then
    fail "$label: standard output differs"
    cmp "$work/linux.out" "$work/wine.out"
    diff <(od -c "$work/linux.out") <(od -c "$work/wine.out") | head -10
  elif ! cmp -s "$work/linux.err" "$work/wine.err"; then
    fail "$label: standard error differs"
    diff "$work/linux.err" "$work/wine.err" | head -10
  else
    echo "same    $label ($(wc -c <"$work/linux.out") bytes, exit status $linux_status)"
  fi
}
compare "--demo list" --demo list
compare "--demo --json list" --demo --json list
drives=$("$linux_cli" --demo --json list | grep -o '"position"' | wc -l)
[ "$drives" -gt 0 ] || fail "no demo drives listed"
for n in $(seq 1 "$drives"); do
  compare "--demo smart $n" --demo smart "$n"
  compare "--demo smart $n --dec" --demo smart "$n" --dec
  compare "--demo report $n" --demo report "$n"
done
compare "--demo smart 7 (no such position)" --demo smart 7
# The report written to a file: the same bytes, CR LF and all.
"$linux_cli" --demo report 2 -o "$work/linux.log" >/dev/null 2>&1 </dev/null
(cd "$work" && timeout 60 wine "$win_cli" --demo report 2 -o wine.log >/dev/null 2>&1 </dev/null)
if cmp -s <(masked "$work/linux.log") <(masked "$work/wine.log"); then
  echo "same    --demo report 2 -o FILE ($(wc -c <"$work/linux.log") bytes)"
else
  fail "--demo report 2 -o FILE: the files differ"
fi

echo "--- diskvigil-cli.exe on Wine's own drives"
(cd "$build" && timeout 60 wine "$win_cli" list >"$work/own.out" 2>"$work/own.err" </dev/null)
status=$?
if [ "$status" = 1 ] && grep -q "S.M.A.R.T. HDD(s) not found!" "$work/own.out" "$work/own.err"; then
  echo "ok      list: \"S.M.A.R.T. HDD(s) not found!\", exit status 1"
else
  fail "list on Wine's drives: exit status $status"
  cat "$work/own.out" "$work/own.err"
fi

echo "--- diskvigil-cli.exe mail: plain SMTP, STARTTLS and TLS through SChannel"
# A certificate authority the prefix trusts (TrustRoot.exe), one it does not, and server
# certificates for "localhost" from each and one for another name.
make_certificates() {
  local dir=$1 ec=(-newkey ec -pkeyopt ec_paramgen_curve:prime256v1 -nodes)
  openssl req -x509 -days 2 "${ec[@]}" -keyout "$dir/ca.key" -out "$dir/ca.pem" \
    -subj /CN=Diskvigil-Test-CA &&
    openssl req -x509 -days 2 "${ec[@]}" -keyout "$dir/other-ca.key" -out "$dir/other-ca.pem" \
      -subj /CN=Someone-Else || return 1
  local name stem ca
  for spec in localhost:server:ca localhost:stranger:other-ca mail.elsewhere.test:elsewhere:ca; do
    IFS=: read -r name stem ca <<<"$spec"
    echo "subjectAltName=DNS:$name" >"$dir/$stem.ext"
    openssl req "${ec[@]}" -keyout "$dir/$stem.key" -out "$dir/$stem.csr" -subj "/CN=$name" &&
      openssl x509 -req -days 2 -in "$dir/$stem.csr" -CA "$dir/$ca.pem" -CAkey "$dir/$ca.key" \
        -CAcreateserial -out "$dir/$stem.pem" -extfile "$dir/$stem.ext" || return 1
  done
}
# send_mail LABEL SECURITY [mail_sink.py options]: one report mail to a new sink on "localhost";
# leaves the sink's folder in $mails and the program's output in $work/mail.out.
send_mail() {
  local label=$1 security=$2
  shift 2
  mails="$work/mails-$label"
  mkdir -p "$mails"
  coproc sink { exec /usr/bin/python3 "$src/tests/mail/mail_sink.py" "$mails" "$@"; }
  local port
  read -r port <&"${sink[0]}"
  printf '[Settings]\r\nSMTP Host=localhost\r\nSMTP Port=%s\r\nSMTP From=dv@test.local\r\n' \
    "$port" >"$work/mail.ini"
  printf 'SMTP Mail=ops@test.local\r\nSMTP Security=%s\r\n' "$security" >>"$work/mail.ini"
  (cd "$work" && timeout 60 wine "$win_cli" --demo mail-report --settings mail.ini \
    >"$work/mail.out" 2>&1 </dev/null)
  local status=$?
  # shellcheck disable=SC2154  # sink_PID is set by coproc
  kill "$sink_PID" 2>/dev/null
  wait "$sink_PID" 2>/dev/null
  return $status
}
if ! /usr/bin/python3 -c 'import aiosmtpd.controller' 2>/dev/null; then
  echo "SKIPPED: python3-aiosmtpd is missing (scripts/install-deps.sh test)"
elif ! mkdir "$work/certs" || ! make_certificates "$work/certs" >"$work/certs.log" 2>&1; then
  fail "making the test certificates: $(tail -3 "$work/certs.log")"
else
  certs="$work/certs"
  if send_mail plain 0 && ls "$mails"/*.eml >/dev/null 2>&1; then
    echo "ok      mail-report reached the loopback SMTP server"
  else
    fail "mail-report over plain SMTP: $(cat "$work/mail.out")"
  fi
  (cd "$build" && timeout 60 wine tests/windows/TrustRoot.exe "$certs/ca.pem" </dev/null) ||
    fail "TrustRoot.exe: the test authority is not trusted"
  for mode in starttls:1 implicit:2; do
    if send_mail "${mode%:*}" "${mode#*:}" --tls "${mode%:*}" --cert "$certs/server.pem" \
      --key "$certs/server.key" && grep -q '"tls": true' "$mails"/*.json 2>/dev/null; then
      echo "ok      ${mode%:*}: delivered through TLS"
    else
      fail "${mode%:*}: $(cat "$work/mail.out")"
    fi
  done
  for refused in starttls:1:stranger:"untrusted authority" implicit:2:stranger:"untrusted authority" \
    starttls:1:elsewhere:"hostname mismatch" implicit:2:elsewhere:"hostname mismatch"; do
    IFS=: read -r mode security stem reason <<<"$refused"
    send_mail "$mode-$stem" "$security" --tls "$mode" --cert "$certs/$stem.pem" \
      --key "$certs/$stem.key"
    status=$?
    if [ "$status" != 0 ] && grep -q "certificate verify failed: .*$reason" "$work/mail.out" &&
      ! ls "$mails"/*.eml >/dev/null 2>&1; then
      echo "ok      $mode, $stem certificate: refused ($(grep -o 'certificate verify failed.*' \
        "$work/mail.out" | head -1))"
    else
      fail "$mode, $stem certificate: exit status $status, $(cat "$work/mail.out")"
    fi
  done
fi

echo "$failures failure(s); $((SECONDS - started)) s in all"
[ "$failures" -eq 0 ]
