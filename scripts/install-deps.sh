#!/usr/bin/env bash
# Installs the Debian 12 packages the project needs.
# Usage: install-deps.sh [build|first|test|gui|all]...
# Runs apt-get only when something is missing, so repeated runs are quick. "first" is what the
# test command's first two builds need (the ASan build and the Windows cross build): the command
# installs the rest beside them.
set -euo pipefail

build=(cmake g++ ninja-build lld pkg-config nlohmann-json3-dev qt6-base-dev qt6-base-dev-tools
       libgl-dev libpulse-dev fonts-dejavu-core libasio-dev libssl-dev libxcb1-dev libsqlite3-dev
       libseccomp-dev ccache)
first=(libgtest-dev libgmock-dev g++-mingw-w64-x86-64-posix nsis)
test=("${first[@]}" libbenchmark-dev clang-14 libclang-rt-14-dev python3 wine64 wine
      python3-aiosmtpd openssl fdisk dosfstools ntfs-3g dpkg-dev lintian appstream
      desktop-file-utils libcap2-bin file man-db librsvg2-bin prometheus systemd pulseaudio
      qemu-system-x86 busybox-static smartmontools hdparm nvme-cli cpio kmod)
# prometheus is there for promtool (about 19 MB to fetch, 96 MB installed); on a machine that runs
# systemd its server starts too: "systemctl disable --now prometheus" if it is not wanted.
# pulseaudio: the thread test starts a private one with a null sink, so the alert sound plays.
# nsis: makensis builds the Windows installer.
# qemu-system-x86 to kmod: the VM tests (../shared/vm), which would otherwise install them while
# the package test runs dpkg.
gui=(xvfb xauth trayer xdotool x11-utils xclip imagemagick dbus-daemon python3-dbus python3-gi
     weston qt6-wayland openbox)

wanted=()
[ $# -eq 0 ] && set -- all
for group in "$@"; do
  case "$group" in
    build) wanted+=("${build[@]}") ;;
    first) wanted+=("${build[@]}" "${first[@]}") ;;
    test) wanted+=("${build[@]}" "${test[@]}") ;;
    gui) wanted+=("${build[@]}" "${gui[@]}") ;;
    all) wanted+=("${build[@]}" "${test[@]}" "${gui[@]}") ;;
    *) echo "install-deps.sh: unknown group '$group'" >&2; exit 2 ;;
  esac
done

missing=()
for pkg in "${wanted[@]}"; do
  dpkg-query -W -f='${Status}' "$pkg" 2>/dev/null | grep -q '^install ok installed' || missing+=("$pkg")
done
[ ${#missing[@]} -eq 0 ] && exit 0

sudo=()
[ "$(id -u)" -eq 0 ] || sudo=(sudo)
echo "Installing: ${missing[*]}"
"${sudo[@]}" apt-get update -qq
DEBIAN_FRONTEND=noninteractive "${sudo[@]}" apt-get install -y -qq --no-install-recommends "${missing[@]}"
