#!/usr/bin/env bash
# The Debian package, as a user meets it.
#   package-test.sh build BUILD_DIR   makes the .deb with cpack in BUILD_DIR/package, checks its
#       control data and file list, runs lintian (no error allowed, the rest is listed), checks the
#       desktop entry, metainfo, manual pages and icons, and runs both programs on the demo
#       drives from an unpacked copy of the package (and from a copy of the program alone).
#   package-test.sh install BUILD_DIR PROBE PLATFORM_PLUGIN OPENSSL_CNF installs that .deb with
#       dpkg, checks that the drive helper alone has a capability (also after an upgrade from
#       programs that had one), runs both programs from /usr/bin, and as an unprivileged user
#       with a probe loaded into them through a Qt platform plug-in folder, LD_PRELOAD and an
#       OpenSSL provider: each probe must report no capability. Then the monitor's unit is
#       enabled (with systemd running also started; without it its link and state folder are
#       made as systemd would), the package removed (unit stopped and disabled, state kept) and
#       purged: nothing of it is left. Needs root.
# Exit 77 (skipped) when a tool is missing, or for `install` when not root or when a package of
# that name, or the monitor's state folder, is already there (the machine's own is left alone).
set -euo pipefail

mode=${1:?usage: package-test.sh build|install BUILD_DIR [PROBE PLATFORM_PLUGIN OPENSSL_CNF]}
build=$(realpath "${2:?usage: package-test.sh build|install BUILD_DIR}")
out="$build/package"
app_id=org.diskvigil.Diskvigil
helper=/usr/libexec/diskvigil/diskvigil-drive-helper
unit=diskvigil-monitor.service
wants_link=/etc/systemd/system/multi-user.target.wants/$unit
state_dirs=(/var/lib/diskvigil /var/lib/private/diskvigil)
probes=""       # the probes' folder, readable by the unprivileged user
made_private="" # "yes" when the test made /var/lib/private (and removes it again)

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
  # The list is kept first: grep -q stopping early would fail the pipeline through tar.
  dpkg-deb --ctrl-tarfile "$deb" | tar -t >"$work/control-files"
  for script in postinst prerm postrm; do
    grep -qx "./$script" "$work/control-files" || fail "no $script"
  done

  # The file list: everything under /usr, the programs, data, desktop files and documents.
  dpkg-deb --fsys-tarfile "$deb" | tar -t | sed 's|^\./|/|; s|/$||' | grep -v '^$' >"$work/files"
  for path in /usr/bin/diskvigil /usr/bin/diskvigil-cli "$helper" /usr/share/diskvigil/demo \
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

  # postinst, upgrading from a package whose diskvigil-cli had the capability, on a file system
  # that keeps none: the old capability is taken off, setcap is asked for the helper alone, and
  # the failure is explained without failing the installation. The tools are stand-ins here
  # (logging what they were asked), so nothing of this machine is touched.
  mkdir -p "$work/control" "$work/fakebin"
  dpkg-deb -e "$deb" "$work/control"
  cat >"$work/fakebin/setcap" <<FAKE
#!/bin/sh
echo "setcap \$*" >>"$work/setcap.log"
[ "\$1" = -r ] || { echo "Failed to set capabilities" >&2; exit 1; }
FAKE
  cat >"$work/fakebin/getcap" <<FAKE
#!/bin/sh
[ "\$1" = /usr/bin/diskvigil-cli ] && echo "\$1 cap_sys_rawio=ep"
exit 0
FAKE
  for tool in deb-systemd-helper deb-systemd-invoke systemctl; do
    printf '#!/bin/sh\necho "%s $*" >>"%s"\n' "$tool" "$work/setcap.log" >"$work/fakebin/$tool"
  done
  chmod +x "$work/fakebin/"*
  PATH="$work/fakebin:$PATH" sh "$work/control/postinst" configure 0.0.9-1 \
    >"$work/postinst.log" 2>&1 || fail "postinst fails where setcap does: $(cat "$work/postinst.log")"
  for said in 'keeps no file capabilities' "sudo setcap cap_sys_rawio+ep $helper" 'disk group'; do
    grep -qF -- "$said" "$work/postinst.log" || fail "postinst without capabilities: no '$said'"
  done
  printf 'setcap -r /usr/bin/diskvigil-cli\nsetcap cap_sys_rawio+ep %s\n' "$helper" >"$work/setcap.want"
  grep '^setcap' "$work/setcap.log" | diff "$work/setcap.want" - ||
    fail "postinst asked setcap for other files than the helper"

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

# Runs a command as the unprivileged user `nobody` (no supplementary group, so not in disk).
as_nobody() {
  setpriv --reuid=nobody --regid=nogroup --clear-groups env HOME=/nonexistent "$@"
}

# The capabilities: the helper has cap_sys_rawio and nothing else of the package has any, also
# after postinst ran over programs that an older package (or an administrator) had given one.
check_capabilities() {
  local caps
  caps=$(getcap "$helper")
  echo "getcap: ${caps:-$helper has none}"
  if [[ -z $caps ]]; then
    # Only acceptable where the file system keeps no capabilities, and then postinst says so.
    grep -q 'keeps no file capabilities' "$work/dpkg.log" ||
      fail "$helper has no capability and postinst said nothing"
    echo "NOTE: this file system keeps no file capabilities" >&2
    return
  fi
  [[ ${caps##* } == cap_sys_rawio=ep ]] || fail "the helper holds more than cap_sys_rawio: $caps"
  setcap cap_sys_rawio+ep /usr/bin/diskvigil cap_sys_rawio+ep /usr/bin/diskvigil-cli
  DPKG_MAINTSCRIPT_PACKAGE=diskvigil DPKG_MAINTSCRIPT_NAME=postinst \
    /var/lib/dpkg/info/diskvigil.postinst configure 0.0.9-1 >/dev/null 2>&1 ||
    fail "postinst configure over capable programs"
  local path
  while read -r path; do
    [[ $path != "$helper" && -f $path && ! -L $path ]] || continue
    caps=$(getcap "$path")
    [[ -z $caps ]] || fail "a file of the package besides the helper has a capability: $caps"
  done <"$work/files"
  [[ -n $(getcap "$helper") ]] || fail "postinst took the helper's capability"
  echo "only $helper has a capability"
}

# The probe loaded into an installed program by an unprivileged user (the command after the
# case's name); the report must exist and every process in it show CapEff 0. "refused": the
# program may instead decline the route outright (usage error, exit 2) and load nothing.
probe_case() {
  local name=$1 may_refuse=$2 report=$probes/report
  shift 2
  rm -f "$report"
  local status=0
  as_nobody DISKVIGIL_CAPEFF_FILE="$report" DISKVIGIL_CAPEFF_EXIT=1 timeout 60 "$@" \
    >"$work/probe.log" 2>&1 || status=$?
  if [[ ! -s $report ]]; then
    if [[ $may_refuse == refused && $status == 2 ]]; then
      echo "$name: refused by the program ($(head -1 "$work/probe.log"))"
      return
    fi
    cat "$work/probe.log" >&2
    fail "$name: the probe was not loaded (exit $status)"
  fi
  echo "$name: $(tr '\n' ' ' <"$report")"
  if grep -v $'CapEff:\t0000000000000000$' "$report"; then
    fail "$name: code the user chose ran with a capability"
  fi
}

# An unprivileged user brings code into each program by the routes it leaves open to them.
check_probes() {
  local probe=$1 platform_plugin=$2 openssl_cnf=$3
  [[ -f $probe && -f $platform_plugin && -f $openssl_cnf ]] ||
    fail "the probe libraries are missing (build the capeff-probe targets)"
  probes="$work/probes"
  chmod 711 "$work"
  mkdir -p "$probes/platforms" "$probes/plugins/platforms" "$probes/modules"
  cp "$platform_plugin" "$probes/platforms/"
  cp "$platform_plugin" "$probes/plugins/platforms/"
  cp "$probe" "$probes/modules/capeff-probe.so"
  cp "$openssl_cnf" "$probes/openssl.cnf"
  # A mail sent with TLS (so OpenSSL starts) to a port where nothing listens.
  printf '%s\n' '[Settings]' 'SMTP Host=127.0.0.1' 'SMTP Port=1' 'SMTP From=dv@test.local' \
    'SMTP Mail=ops@test.local' 'SMTP Security=2' >"$probes/mail.ini"
  chmod -R a+rX "$probes"
  chmod 1777 "$probes"

  probe_case "diskvigil, QT_QPA_PLATFORM_PLUGIN_PATH" - \
    env QT_QPA_PLATFORM_PLUGIN_PATH="$probes/platforms" QT_QPA_PLATFORM=capeffprobe \
    /usr/bin/diskvigil
  probe_case "diskvigil, QT_PLUGIN_PATH" - \
    env QT_PLUGIN_PATH="$probes/plugins" QT_QPA_PLATFORM=capeffprobe /usr/bin/diskvigil
  probe_case "diskvigil, -platformpluginpath" refused \
    env QT_QPA_PLATFORM=offscreen \
    /usr/bin/diskvigil -platformpluginpath "$probes/platforms" -platform capeffprobe
  probe_case "diskvigil-cli, LD_PRELOAD" - \
    env LD_PRELOAD="$probes/modules/capeff-probe.so" /usr/bin/diskvigil-cli list
  probe_case "diskvigil-cli, OPENSSL_CONF and OPENSSL_MODULES" - \
    env OPENSSL_CONF="$probes/openssl.cnf" OPENSSL_MODULES="$probes/modules" \
    /usr/bin/diskvigil-cli --demo mail-report --settings "$probes/mail.ini"
}

# The monitor's unit enabled, as an administrator would: with systemd running, enabled and
# started; without it, its enable link and the state folder made as systemd makes them for a
# DynamicUser service (the state in /var/lib/private, linked from /var/lib).
enable_monitor() {
  if [[ -d /run/systemd/system ]]; then
    systemctl enable --now "$unit" || fail "systemctl enable --now $unit"
  else
    made_private=""
    [[ -d /var/lib/private ]] || { mkdir -m 700 /var/lib/private && made_private=yes; }
    mkdir -p "$(dirname "$wants_link")" /var/lib/private/diskvigil
    ln -s "/usr/lib/systemd/system/$unit" "$wants_link"
    echo '{}' >/var/lib/private/diskvigil/counters.json
    ln -s private/diskvigil /var/lib/diskvigil
  fi
  [[ -L $wants_link ]] || fail "no enable link $wants_link"
}

# Remove: the unit stopped and disabled, the state kept. Purge: nothing left of the package, of
# its unit's links, of deb-systemd-helper's records, of the state.
remove_and_purge() {
  dpkg --remove diskvigil >"$work/remove.log" 2>&1 || {
    cat "$work/remove.log" >&2
    fail "dpkg --remove"
  }
  cat "$work/remove.log"
  [[ ! -L $wants_link ]] || fail "the monitor is still enabled after removal"
  if [[ -d /run/systemd/system ]] && systemctl --quiet is-active "$unit"; then
    fail "the monitor still runs after removal"
  fi
  [[ -e /var/lib/diskvigil ]] || fail "removal took the monitor's state (only purge should)"

  dpkg --purge diskvigil >"$work/purge.log" 2>&1 || {
    cat "$work/purge.log" >&2
    fail "dpkg --purge"
  }
  cat "$work/purge.log"
  trap cleanup EXIT
  [[ $made_private != yes ]] || rmdir /var/lib/private 2>/dev/null || true
  if package_present; then
    fail "still known to dpkg after purge"
  fi
  local left=() path
  while read -r path; do
    # Shared folders such as /usr/bin stay; anything of the package's own must be gone.
    if [[ -e $path ]] && ! [[ -d $path && $path != *diskvigil* ]]; then left+=("$path"); fi
  done <"$work/files"
  for path in /usr/share/diskvigil /usr/share/doc/diskvigil /usr/libexec/diskvigil \
    /var/lib/dpkg/info/diskvigil.list "$wants_link" "${state_dirs[@]}" \
    /var/lib/systemd/deb-systemd-helper-enabled/$unit.dsh-also \
    "/var/lib/systemd/deb-systemd-helper-enabled/multi-user.target.wants/$unit" \
    "/var/lib/systemd/deb-systemd-helper-masked/$unit" "/etc/systemd/system/$unit"; do
    if [[ -e $path || -L $path ]]; then left+=("$path"); fi
  done
  [[ ${#left[@]} == 0 ]] || fail "left after purge: ${left[*]}"
}

# After a failure: the package purged, and what the test made itself (none of it was there
# before) taken away again.
undo_install() {
  dpkg --purge diskvigil >/dev/null 2>&1 || true
  rm -rf "$wants_link" "${state_dirs[@]}" /var/lib/systemd/deb-systemd-helper-enabled/$unit.dsh-also
  [[ $made_private != yes ]] || rmdir /var/lib/private 2>/dev/null || true
}

install_package() {
  [[ $(id -u) == 0 ]] || skip "installing needs root"
  need dpkg dpkg-deb getcap setcap setpriv python3 timeout
  local debs=("$out"/diskvigil_*.deb)
  [[ -f ${debs[0]} ]] || skip "no package in $out (the build step did not make one)"
  local deb=${debs[0]}
  if package_present; then
    skip "a diskvigil package is already installed here; it is left alone"
  fi
  for path in "${state_dirs[@]}" "$wants_link"; do
    [[ ! -e $path && ! -L $path ]] || skip "$path is already here; it is left alone"
  done
  dpkg-deb --fsys-tarfile "$deb" | tar -t | sed 's|^\./|/|; s|/$||' | grep -v '^$' >"$work/files"

  trap 'undo_install; cleanup' EXIT
  dpkg -i "$deb" >"$work/dpkg.log" 2>&1 || {
    cat "$work/dpkg.log" >&2
    fail "dpkg -i"
  }
  cat "$work/dpkg.log"
  grep -q 'disk group' "$work/dpkg.log" || fail "postinst does not mention the disk group"
  check_capabilities

  local all shown
  all=$(find /usr/share/diskvigil/demo -name '*.json' | wc -l)
  shown=$(/usr/bin/diskvigil-cli --demo --json list | count_drives) ||
    fail "/usr/bin/diskvigil-cli --demo list"
  [[ $shown == "$all" ]] || fail "installed diskvigil-cli listed $shown drives, not $all"
  /usr/bin/diskvigil-cli --demo list
  QT_QPA_PLATFORM=offscreen /usr/bin/diskvigil --demo --exit-after-first-pass ||
    fail "/usr/bin/diskvigil --demo --exit-after-first-pass"
  # An ordinary user: the installed files are readable.
  shown=$(as_nobody /usr/bin/diskvigil-cli --demo --json list | count_drives) ||
    fail "diskvigil-cli --demo list as nobody"
  [[ $shown == "$all" ]] || fail "diskvigil-cli as nobody listed $shown drives, not $all"

  check_probes "${3:?the probe library}" "${4:?the probe platform plug-in}" "${5:?openssl.cnf}"
  enable_monitor
  remove_and_purge
  echo "package installed, run, removed with its monitor enabled and purged"
}

case "$mode" in
  build) build_package ;;
  install) install_package "$@" ;;
  *) fail "unknown mode $mode" ;;
esac
