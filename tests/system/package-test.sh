#!/usr/bin/env bash
# The Debian package, as a user meets it.
#   package-test.sh build BUILD_DIR   makes the .deb with cpack in BUILD_DIR/package, checks its
#       control data and file list, runs lintian (no error allowed, the rest is listed), checks the
#       desktop entry, metainfo, manual pages and icons, and runs both programs on the demo
#       drives from an unpacked copy of the package (and from a copy of the program alone).
#   package-test.sh install BUILD_DIR installs that .deb with dpkg, checks the capability, runs
#       both programs from /usr/bin (also as an unprivileged user), purges the package and
#       checks that nothing of it is left. Needs root.
# Exit 77 (skipped) when a tool is missing, or for `install` when not root or when a package of
# that name is already installed (the machine's own installation is never replaced).
set -euo pipefail

mode=${1:?usage: package-test.sh build|install BUILD_DIR}
build=$(realpath "${2:?usage: package-test.sh build|install BUILD_DIR}")
out="$build/package"
app_id=org.diskvigil.Diskvigil

fail() {
  echo "FAILED: $*" >&2
  exit 1
}
skip() {
  echo "SKIPPED: $*" >&2
  exit 77
}
need() {
  local missing=()
  for tool in "$@"; do command -v "$tool" >/dev/null || missing+=("$tool"); done
  [[ ${#missing[@]} == 0 ]] || skip "missing tools: ${missing[*]} (scripts/install-deps.sh test)"
}

# The number of drives `diskvigil-cli ... --json list` printed (its standard input).
count_drives() {
  python3 -c 'import json, sys
data = json.load(sys.stdin)
drives = data["drives"] if isinstance(data, dict) else data
print(len(drives))'
}

# Whether dpkg knows a diskvigil package in any state but "not-installed" (purged).
package_present() {
  local status
  status=$(dpkg-query -W -f='${Status}' diskvigil 2>/dev/null) || return 1
  [[ -n $status && $status != *not-installed ]]
}

work=$(mktemp -d)
cleanup() { rm -rf "$work"; }
trap cleanup EXIT
# The programs keep their settings and lock in these; never in the caller's home.
export HOME="$work/home" XDG_CONFIG_HOME="$work/home/.config" XDG_RUNTIME_DIR="$work/run"
mkdir -p "$HOME" "$XDG_RUNTIME_DIR"
chmod 700 "$XDG_RUNTIME_DIR"
unset DISKVIGIL_SIMULATE APPDATA

build_package() {
  need cpack dpkg-deb dpkg-shlibdeps lintian desktop-file-validate appstreamcli man file python3
  rm -rf "$out"
  (cd "$build" && cpack -G DEB -B "$out" >"$work/cpack.log" 2>&1) || {
    cat "$work/cpack.log" >&2
    fail "cpack -G DEB"
  }
  local debs=("$out"/diskvigil_*.deb)
  [[ ${#debs[@]} == 1 && -f ${debs[0]} ]] || fail "expected one diskvigil_*.deb in $out"
  local deb=${debs[0]}
  echo "package: $deb"

  # Control data: the libraries come from dpkg-shlibdeps, setcap is declared for postinst.
  local depends
  depends=$(dpkg-deb -f "$deb" Depends)
  echo "Depends: $depends"
  # libssl3 through the mail module, which the tray program loads with its first mail.
  for lib in libc6 libstdc++6 libqt6widgets6 libqt6gui6 libqt6core6 libssl3 libcap2-bin; do
    tr ',|' '\n\n' <<<"$depends" | awk '{print $1}' | grep -qxF "$lib" || fail "Depends lacks $lib"
  done
  [[ $(dpkg-deb -f "$deb" Architecture) == "$(dpkg --print-architecture)" ]] ||
    fail "architecture is not the machine's"
  dpkg-deb --ctrl-tarfile "$deb" | tar -t | grep -qx './postinst' || fail "no postinst"

  # The file list: everything under /usr, the programs, data, desktop files and documents.
  dpkg-deb --fsys-tarfile "$deb" | tar -t | sed 's|^\./|/|; s|/$||' | grep -v '^$' >"$work/files"
  for path in /usr/bin/diskvigil /usr/bin/diskvigil-cli /usr/share/diskvigil/demo \
    /usr/share/applications/$app_id.desktop /usr/share/metainfo/$app_id.metainfo.xml \
    /usr/share/icons/hicolor/scalable/apps/$app_id.svg \
    /usr/share/icons/hicolor/48x48/apps/$app_id.png \
    /usr/share/man/man1/diskvigil.1.gz /usr/share/man/man1/diskvigil-cli.1.gz \
    /usr/share/doc/diskvigil/copyright /usr/share/doc/diskvigil/changelog.Debian.gz \
    /usr/share/doc/diskvigil/README.Debian /usr/lib/systemd/system/diskvigil-monitor.service; do
    grep -qx "$path" "$work/files" || fail "the package lacks $path"
  done
  if grep -v '^/usr' "$work/files" | grep -vx '/' | grep -q .; then
    fail "files outside /usr: $(grep -v '^/usr' "$work/files" | grep -vx '/' | tr '\n' ' ')"
  fi
  grep -qx '/usr/share/diskvigil/demo/.*\.json' "$work/files" || fail "no demo drive"
  local module
  module=$(grep -x '/usr/lib/\(.*/\)\?diskvigil/diskvigil-smtp-tls\.so' "$work/files") ||
    fail "the package lacks the mail module diskvigil-smtp-tls.so"

  # lintian: no error; warnings and the rest are listed for the reader.
  local status=0
  lintian --allow-root --tag-display-limit 0 --display-info "$deb" >"$work/lintian.log" 2>&1 ||
    status=$?
  echo "lintian (exit $status):"
  sed 's/^/  /' "$work/lintian.log"
  if grep -q '^E: ' "$work/lintian.log" || [[ $status != 0 ]]; then
    fail "lintian reports errors or did not run"
  fi
  # The programs are built hardened (fortified calls, read-only relocations bound at start).
  local hardening
  hardening=$(grep -oE 'hardening-no-[a-z-]+' "$work/lintian.log" | sort -u | tr '\n' ' ' || true)
  [[ -z $hardening ]] || fail "lintian finds the programs not hardened: $hardening"

  # postinst where setcap fails (a file system without capabilities): it says what to do and
  # does not fail the installation.
  mkdir -p "$work/control" "$work/fakebin"
  dpkg-deb -e "$deb" "$work/control"
  printf '#!/bin/sh\necho "Failed to set capabilities" >&2\nexit 1\n' >"$work/fakebin/setcap"
  chmod +x "$work/fakebin/setcap"
  PATH="$work/fakebin:$PATH" sh "$work/control/postinst" configure >"$work/postinst.log" 2>&1 ||
    fail "postinst fails where setcap does: $(cat "$work/postinst.log")"
  for said in 'keeps no file capabilities' 'sudo setcap cap_sys_rawio+ep' 'disk group' \
    /usr/bin/diskvigil-cli; do
    grep -qF -- "$said" "$work/postinst.log" || fail "postinst without capabilities: no '$said'"
  done

  # The unpacked tree.
  local root="$work/root"
  dpkg-deb -x "$deb" "$root"
  desktop-file-validate "$root/usr/share/applications/$app_id.desktop" ||
    fail "desktop-file-validate"
  appstreamcli validate --no-net "$root/usr/share/metainfo/$app_id.metainfo.xml" ||
    fail "appstreamcli validate"
  for page in diskvigil diskvigil-cli; do
    local warnings
    warnings=$(LC_ALL=C.UTF-8 MANWIDTH=80 man --warnings -l "$root/usr/share/man/man1/$page.1.gz" \
      2>&1 >/dev/null) || fail "man -l $page.1.gz"
    [[ -z $warnings ]] || fail "man $page: $warnings"
    if zcat "$root/usr/share/man/man1/$page.1.gz" | grep -q '@PROJECT_VERSION@'; then
      fail "$page.1 was not configured"
    fi
  done
  for size in 16 22 24 32 48 64 128 256; do
    file "$root/usr/share/icons/hicolor/${size}x$size/apps/$app_id.png" |
      grep -q "PNG image data, $size x $size" || fail "icon ${size}x$size"
  done
  [[ $(stat -c %a "$root/usr/bin/diskvigil-cli") == 755 ]] || fail "diskvigil-cli is not 0755"
  # The mail module loads on its own (its libraries resolved) and has its entry point.
  python3 -c 'import ctypes, sys; ctypes.CDLL(sys.argv[1]).DiskvigilNewSmtpTransport' \
    "$root$module" || fail "the mail module $module does not load"

  # Both programs from the unpacked tree, on its own demo drives: one drive removed from the
  # copy must be missing from the list, which the build's own data would not show.
  local all shown
  all=$(find "$root/usr/share/diskvigil/demo" -name '*.json' | wc -l)
  rm "$(find "$root/usr/share/diskvigil/demo" -name '*.json' | sort | tail -1)"
  shown=$("$root/usr/bin/diskvigil-cli" --demo --json list | count_drives) ||
    fail "unpacked diskvigil-cli --demo list"
  [[ $shown == $((all - 1)) ]] || fail "unpacked diskvigil-cli listed $shown drives, not $((all - 1))"
  "$root/usr/bin/diskvigil-cli" --demo list
  QT_QPA_PLATFORM=offscreen "$root/usr/bin/diskvigil" --demo --exit-after-first-pass ||
    fail "unpacked diskvigil --demo --exit-after-first-pass"

  # The program alone, copied into a folder with its demo drives beside it.
  local bundle="$work/bundle"
  mkdir -p "$bundle/demo"
  cp "$root/usr/bin/diskvigil-cli" "$bundle/"
  find "$root/usr/share/diskvigil/demo" -name '*.json' | sort | head -2 |
    xargs -I{} cp {} "$bundle/demo/"
  shown=$("$bundle/diskvigil-cli" --demo --json list | count_drives) ||
    fail "copied diskvigil-cli --demo list"
  [[ $shown == 2 ]] || fail "copied diskvigil-cli listed $shown drives, not 2"
  echo "package built and checked"
}

install_package() {
  [[ $(id -u) == 0 ]] || skip "installing needs root"
  need dpkg dpkg-deb getcap setpriv python3
  local debs=("$out"/diskvigil_*.deb)
  [[ -f ${debs[0]} ]] || skip "no package in $out (the build step did not make one)"
  local deb=${debs[0]}
  if package_present; then
    skip "a diskvigil package is already installed here; it is left alone"
  fi
  dpkg-deb --fsys-tarfile "$deb" | tar -t | sed 's|^\./|/|; s|/$||' | grep -v '^$' >"$work/files"

  trap 'dpkg --purge diskvigil >/dev/null 2>&1 || true; cleanup' EXIT
  dpkg -i "$deb" >"$work/dpkg.log" 2>&1 || {
    cat "$work/dpkg.log" >&2
    fail "dpkg -i"
  }
  cat "$work/dpkg.log"
  grep -q 'disk group' "$work/dpkg.log" || fail "postinst does not mention the disk group"

  for program in /usr/bin/diskvigil /usr/bin/diskvigil-cli; do
    local caps
    caps=$(getcap "$program")
    echo "getcap: $caps"
    if [[ -z $caps ]]; then
      # Only acceptable where the file system keeps no capabilities, and then postinst says so.
      grep -q 'keeps no file capabilities' "$work/dpkg.log" ||
        fail "$program has no capability and postinst said nothing"
      echo "NOTE: this file system keeps no file capabilities" >&2
    else
      grep -Eq 'cap_sys_rawio[=+]ep' <<<"$caps" || fail "$program: $caps"
    fi
  done

  local all shown
  all=$(find /usr/share/diskvigil/demo -name '*.json' | wc -l)
  shown=$(/usr/bin/diskvigil-cli --demo --json list | count_drives) ||
    fail "/usr/bin/diskvigil-cli --demo list"
  [[ $shown == "$all" ]] || fail "installed diskvigil-cli listed $shown drives, not $all"
  /usr/bin/diskvigil-cli --demo list
  QT_QPA_PLATFORM=offscreen /usr/bin/diskvigil --demo --exit-after-first-pass ||
    fail "/usr/bin/diskvigil --demo --exit-after-first-pass"

  # An ordinary user: the installed files are readable, and the program runs with the
  # capability in effect (its status shows CAP_SYS_RAWIO, bit 17, while it monitors).
  local user=nobody
  shown=$(HOME=/nonexistent setpriv --reuid="$user" --regid=nogroup --clear-groups \
    /usr/bin/diskvigil-cli --demo --json list | count_drives) ||
    fail "diskvigil-cli --demo list as $user"
  [[ $shown == "$all" ]] || fail "diskvigil-cli as $user listed $shown drives, not $all"
  if [[ -n $(getcap /usr/bin/diskvigil-cli) ]]; then
    HOME=/nonexistent setpriv --reuid="$user" --regid=nogroup --clear-groups \
      /usr/bin/diskvigil-cli --demo monitor --interval 30 --count 2 >/dev/null 2>&1 &
    local pid=$! effective=""
    for _ in $(seq 50); do
      effective=$(awk '/^CapEff:/ {print $2}' "/proc/$pid/status" 2>/dev/null || true)
      [[ -n $effective ]] && grep -q diskvigil-cli "/proc/$pid/comm" 2>/dev/null && break
      sleep 0.1
    done
    kill "$pid" 2>/dev/null || true
    wait "$pid" 2>/dev/null || true
    [[ -n $effective ]] || fail "could not read the unprivileged program's capabilities"
    (((16#$effective >> 17) & 1)) || fail "CAP_SYS_RAWIO not in effect as $user ($effective)"
    echo "as $user: CapEff $effective (CAP_SYS_RAWIO in effect)"
  fi

  dpkg --purge diskvigil >"$work/purge.log" 2>&1 || {
    cat "$work/purge.log" >&2
    fail "dpkg --purge"
  }
  trap cleanup EXIT
  if package_present; then
    fail "still known to dpkg after purge"
  fi
  local left=()
  while read -r path; do
    # Shared folders such as /usr/bin stay; anything of the package's own must be gone.
    if [[ -e $path ]] && ! [[ -d $path && $path != *diskvigil* ]]; then left+=("$path"); fi
  done <"$work/files"
  for path in /usr/share/diskvigil /usr/share/doc/diskvigil /var/lib/dpkg/info/diskvigil.list; do
    if [[ -e $path ]]; then left+=("$path"); fi
  done
  [[ ${#left[@]} == 0 ]] || fail "left after purge: ${left[*]}"
  echo "package installed, run and purged"
}

case "$mode" in
  build) build_package ;;
  install) install_package ;;
  *) fail "unknown mode $mode" ;;
esac
