#!/usr/bin/env bash
# The built diskvigil-cli as a user runs it: it must not load the TLS library for a drive command,
# and must still send mail, loading the TLS transport module with the first mail (`mail-report`,
# and the warning mail of a bad `monitor` pass) to the loopback SMTP sink, and report a failure
# inside the module (a refused connection) as text.
#   cli-mail-module-test.sh DISKVIGIL_CLI SOURCE_DIR
# Exit 77 (skipped) without the system Python's aiosmtpd (scripts/install-deps.sh test).
set -euo pipefail

cli=${1:?usage: cli-mail-module-test.sh DISKVIGIL_CLI SOURCE_DIR}
source_dir=${2:?usage: cli-mail-module-test.sh DISKVIGIL_CLI SOURCE_DIR}
fail() {
  echo "FAILED: $*" >&2
  exit 1
}
/usr/bin/python3 -c 'import aiosmtpd.controller' 2>/dev/null || {
  echo "SKIPPED: python3-aiosmtpd is missing (scripts/install-deps.sh test)" >&2
  exit 77
}

if ldd "$cli" | grep -E 'lib(ssl|crypto)\.so'; then
  fail "diskvigil-cli is linked to the TLS library"
fi

work=$(mktemp -d)
mkdir -p "$work/mails"
coproc sink { exec /usr/bin/python3 "$source_dir/tests/mail/mail_sink.py" "$work/mails"; }
trap 'kill "$sink_PID" 2>/dev/null; rm -rf "$work"' EXIT
read -r port <&"${sink[0]}"
settings="$work/settings.ini"
printf '[Settings]\nSMTP Host=127.0.0.1\nSMTP Port=%s\nSMTP From=dv@test.local\n%s\n' "$port" \
  'SMTP Mail=ops@test.local
SMTP Warnings=1' >"$settings"
export HOME="$work/home"
unset DISKVIGIL_SIMULATE

"$cli" --demo mail-report --settings "$settings" || fail "mail-report exited $?"
status=0
"$cli" --demo monitor --count 1 --settings "$settings" >/dev/null || status=$?
[[ $status == 3 ]] || fail "a bad monitor pass exited $status, not 3"
# A failure inside the module reaches the program as its text, not as a crash.
sed 's/^SMTP Port=.*/SMTP Port=1/' "$settings" >"$work/refused.ini"
status=0
said=$("$cli" --demo mail-report --settings "$work/refused.ini" 2>&1) || status=$?
[[ $status == 1 && $said == *"connection refused"* ]] ||
  fail "a refused connection gave exit $status: $said"
count=$(find "$work/mails" -name '*.eml' | wc -l)
[[ $count == 2 ]] || fail "$count mails arrived, not 2"
echo "diskvigil-cli sends mail through the module without linking the TLS library"
