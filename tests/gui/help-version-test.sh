#!/usr/bin/env bash
# `diskvigil --help` and `--version` answer without a display and before the program touches its
# settings; `diskvigil-cli --version` names the same version.
#   help-version-test.sh DISKVIGIL DISKVIGIL_CLI
set -euo pipefail
program=${1:?usage: help-version-test.sh DISKVIGIL DISKVIGIL_CLI}
cli=${2:?usage: help-version-test.sh DISKVIGIL DISKVIGIL_CLI}
fail() {
  echo "FAILED: $*" >&2
  exit 1
}
home=$(mktemp -d)
trap 'rm -rf "$home"' EXIT
# No DISPLAY, WAYLAND_DISPLAY or QT_QPA_PLATFORM: a start would end with status 3.
run() { env -i HOME="$home" PATH=/usr/bin:/bin "$@"; }

help=$(run "$program" --help) || fail "--help exited $?"
[[ $help == "Usage: diskvigil "* && $help == *"Exit status:"* ]] || fail "--help printed: $help"
version=$(run "$program" --version) || fail "--version exited $?"
[[ $version =~ ^diskvigil\ [0-9]+\.[0-9]+ ]] || fail "--version printed: $version"
cli_version=$(run "$cli" --version) || fail "diskvigil-cli --version exited $?"
[[ $cli_version == "diskvigil-cli ${version#diskvigil }" ]] || fail "the versions differ: $cli_version"
[[ -z $(ls -A "$home") ]] || fail "the settings folder was touched: $(ls -A "$home")"
echo "help and version answered without a display"
