#!/usr/bin/env bash
# The Qt the Windows window program is built against: Qt 6.4.2 qtbase (Core, Gui, Widgets and the
# Windows platform plugin) for x86_64-w64-mingw32. Debian has no Qt for MinGW, so it comes either
# from a prebuilt tarball or from Debian's own qt6-base source, cross-compiled here.
#
# usage: mingw-qt.sh unpack [TARBALL]   unpacks the tarball (default ../shared/mingw-qt/
#                                       qt6.4.2-mingw64-posix.tar.xz beside the source tree) into
#                                       build/mingw-qt/qt6, where the `windows-gui` preset looks;
#                                       exit 77 when there is no tarball
#        mingw-qt.sh rebuild            cross-builds that Qt from Debian's qt6-base source package
#                                       (about 20 minutes on two cores, 1.5 GB of disk while it
#                                       runs) and leaves the tarball in build/mingw-qt/
# The host's moc, rcc and uic are used, so the host Qt must be exactly 6.4.2 (Debian 12's
# qt6-base-dev-tools). Environment: JOBS (default: cores), WORK (default build/mingw-qt-work).
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
out="$root/build/mingw-qt"
tarball_name=qt6.4.2-mingw64-posix.tar.xz
version=6.4.2
debian_version=6.4.2+dfsg-10
host_cmake=/usr/lib/x86_64-linux-gnu/cmake

die() { echo "mingw-qt.sh: $*" >&2; exit 1; }

unpack() {
  local tarball=${1:-$root/../shared/mingw-qt/$tarball_name}
  if [ ! -f "$tarball" ]; then
    echo "mingw-qt.sh: no prebuilt Qt at $tarball (\"mingw-qt.sh rebuild\" makes one)" >&2
    exit 77
  fi
  local stamp="$out/qt6/.unpacked-from"
  local id
  id="$(readlink -f "$tarball") $(stat -c '%s %Y' "$tarball")"
  if [ -f "$stamp" ] && [ "$(cat "$stamp")" = "$id" ]; then
    return 0
  fi
  rm -rf "$out/qt6"
  mkdir -p "$out"
  tar xJf "$tarball" -C "$out"
  [ -f "$out/qt6/lib/cmake/Qt6/Qt6Config.cmake" ] || die "$tarball holds no qt6/ prefix"
  echo "$id" >"$stamp"
  echo "mingw-qt.sh: Qt for MinGW unpacked into $out/qt6"
}

# The toolchain Qt is configured with: Debian's MinGW-w64 compilers with the posix thread model.
# It goes into the prefix, and Qt's own toolchain file finds it there relative to itself, so the
# tarball works wherever it is unpacked.
write_toolchain() {
  cat >"$1" <<'EOF'
set(CMAKE_SYSTEM_NAME Windows)
set(CMAKE_SYSTEM_PROCESSOR AMD64)
set(CMAKE_C_COMPILER x86_64-w64-mingw32-gcc-posix)
set(CMAKE_CXX_COMPILER x86_64-w64-mingw32-g++-posix)
set(CMAKE_RC_COMPILER x86_64-w64-mingw32-windres)
set(CMAKE_AR /usr/bin/x86_64-w64-mingw32-ar CACHE FILEPATH "ar")
set(CMAKE_RANLIB /usr/bin/x86_64-w64-mingw32-ranlib CACHE FILEPATH "ranlib")
set(CMAKE_STRIP /usr/bin/x86_64-w64-mingw32-strip CACHE FILEPATH "strip")
list(APPEND CMAKE_FIND_ROOT_PATH /usr/x86_64-w64-mingw32)
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_PACKAGE ONLY)
EOF
}

rebuild() {
  local work=${WORK:-$root/build/mingw-qt-work}
  local jobs=${JOBS:-$(nproc)}
  local tool
  for tool in dpkg-source apt-get cmake ninja perl x86_64-w64-mingw32-g++-posix \
    x86_64-w64-mingw32-windres /usr/lib/qt6/libexec/moc /usr/lib/qt6/libexec/rcc \
    /usr/lib/qt6/libexec/uic; do
    command -v "$tool" >/dev/null || die "$tool is missing (dpkg-dev cmake ninja-build perl" \
      "g++-mingw-w64-x86-64-posix qt6-base-dev qt6-base-dev-tools)"
  done
  [ -d "$host_cmake/Qt6HostInfo" ] || die "the host Qt's CMake files are not in $host_cmake"
  mkdir -p "$work/source"
  # The source package needs a deb-src entry in apt's sources (Types: deb-src, suite bookworm,
  # component main) and an apt-get update.
  if [ ! -f "$work/source/qt6-base_$debian_version.dsc" ]; then
    (cd "$work/source" && apt-get source --download-only "qt6-base=$debian_version") ||
      die "cannot fetch the qt6-base source package (is there a deb-src entry?)"
  fi
  rm -rf "$work/src" "$work/build" "$work/qt6"
  # dpkg-source applies Debian's patches.
  dpkg-source -x "$work/source/qt6-base_$debian_version.dsc" "$work/src" >/dev/null
  mkdir -p "$work/build" "$work/qt6/lib/cmake"
  local toolchain="$work/qt6/lib/cmake/mingw-w64-x86_64-posix.cmake"
  write_toolchain "$toolchain"
  # Left out: what the program does not use (SQL, network, printing, XML, D-Bus, ICU, OpenSSL);
  # the tablet support, whose driver headers Debian's source drops for their licence; and the
  # Android deployment tool, which a Debian patch would switch on when cross-compiling.
  (cd "$work/build" && nice "$work/src/configure" -prefix "$work/qt6" -release -shared \
    -xplatform win32-g++ -qt-host-path /usr -nomake tests -nomake examples \
    -qt-zlib -qt-pcre -qt-libpng -no-libjpeg -qt-harfbuzz -qt-freetype -qt-doubleconversion \
    -no-icu -no-dbus -no-openssl -no-zstd -opengl desktop \
    -no-feature-sql -no-feature-network -no-feature-printsupport -no-feature-concurrent \
    -no-feature-xml -no-feature-vulkan -no-feature-androiddeployqt -no-feature-tabletevent \
    -- -DCMAKE_TOOLCHAIN_FILE="$toolchain" -DQT_HOST_PATH_CMAKE_DIR="$host_cmake" \
    >"$work/configure.log" 2>&1) || die "configure failed, see $work/configure.log"
  nice cmake --build "$work/build" --parallel "$jobs" >"$work/build.log" 2>&1 ||
    die "the build failed, see $work/build.log"
  nice cmake --install "$work/build" --strip >"$work/install.log" 2>&1 ||
    die "install failed, see $work/install.log"
  # Qt's toolchain file names the one above by absolute path; relative, the prefix can move.
  sed -i 's|^set(__qt_initially_configured_toolchain_file ".*")$|set(__qt_initially_configured_toolchain_file "${CMAKE_CURRENT_LIST_DIR}/../mingw-w64-x86_64-posix.cmake")|' \
    "$work/qt6/lib/cmake/Qt6/qt.toolchain.cmake"
  # The MinGW runtime the Qt libraries link against travels with them (stripped: Debian's
  # libstdc++-6.dll carries 20 MB of debug information).
  local dll
  for dll in "/usr/lib/gcc/x86_64-w64-mingw32/12-posix/libstdc++-6.dll" \
    "/usr/lib/gcc/x86_64-w64-mingw32/12-posix/libgcc_s_seh-1.dll" \
    "/usr/x86_64-w64-mingw32/lib/libwinpthread-1.dll"; do
    x86_64-w64-mingw32-strip --strip-unneeded -o "$work/qt6/bin/$(basename "$dll")" "$dll"
  done
  mkdir -p "$out"
  nice tar cJf "$out/$tarball_name" -C "$work" --exclude=qt6/doc qt6
  echo "mingw-qt.sh: Qt $version for MinGW in $out/$tarball_name; \"mingw-qt.sh unpack $out/$tarball_name\" puts it in place"
}

case "${1:-}" in
  unpack) shift; unpack "$@" ;;
  rebuild) rebuild ;;
  *) sed -n '2,/^set -e/p' "$0" | sed '$d; s/^# \{0,1\}//' >&2; exit 2 ;;
esac
