#!/usr/bin/env bash
# The Windows window program under Wine, on a private X display with a tray host (trayer, where
# Wine docks its tray icons). Builds the `windows-gui` preset (build/windows-gui) against the Qt
# for MinGW that scripts/mingw-qt.sh unpacks, then in one fresh Wine prefix:
#   - `--demo --render-windows` writes the main, S.M.A.R.T., MBR and SMTP pictures;
#   - on Wine's own drives the program warns "S.M.A.R.T. HDD(s) not found!" and ends with 1;
#   - `--demo` docks six icons in the demo drives' colours; a click, and the tray menu's Restore,
#     show the main window; a second start ends at once (the named mutex); the power broadcasts
#     stop and restart the monitoring timer; the tray menu's Exit writes the settings file in
#     APPDATA; AutoRun writes the Run value, and clears it at the next Exit;
#   - the installer installs silently, the installed program runs the demo (and a second silent
#     install meanwhile is refused), and the silent uninstaller leaves nothing of it behind.
# Exit 77 (skipped, said loudly) without the prebuilt Qt (../shared/mingw-qt), Wine, MinGW-w64,
# the X harness (../shared/gui) or its tools; makensis missing skips only the installer part.
#
# usage: window-test.sh SOURCE_DIR [--shots DIR]   --shots also copies the pictures into DIR
set -uo pipefail

src=$(cd "$1" && pwd)
shift
shots=""
inner=0
while [ $# -gt 0 ]; do
  case "$1" in
    --shots) shots=$(mkdir -p "$2" && cd "$2" && pwd); shift 2 ;;
    --inner) inner=1; shift ;;
    *) echo "window-test: unknown argument $1" >&2; exit 2 ;;
  esac
done
build="$src/build/windows-gui"
harness="$src/../shared/gui"
program="$build/app/diskvigil.exe"
sender="$build/tests/windows/gui/send-power-broadcast.exe"
installer_dir="$build/packaging/windows"

skip() {
  echo "=================================================================="
  echo "SKIPPED: the Windows window tests did not run: $1"
  echo "=================================================================="
  exit 77
}
failures=0
fail() {
  echo "FAILED: $*"
  failures=$((failures + 1))
}
ok() { echo "ok      $*"; }

wait_until() {  # wait_until SECONDS COMMAND...: true once COMMAND succeeds
  local end=$((SECONDS + $1))
  shift
  until "$@"; do
    [ "$SECONDS" -lt "$end" ] || return 1
    sleep 0.2
  done
}
visible_window() { xdotool search --onlyvisible --name "^$1\$" 2>/dev/null | head -n 1; }
window_shown() { [ -n "$(visible_window "$1")" ]; }
process_gone() { ! kill -0 "$1" 2>/dev/null; }
icons() { "$harness/tray-icon" list | wc -l; }
windows_folder() { winepath -u "$(wine cmd /c "echo %$1%" 2>/dev/null | tr -d '\r')"; }

# ---------------------------------------------------------------------------------------------
# On the private display: everything that runs under Wine.

# The six demo drives after the first pass: the frame colours, as sorted names (four good drives
# in green, the failing one in red, the one with S.M.A.R.T. off in blue). Every icon has a
# one-pixel frame (60 pixels of 16 x 16) around yellow text on black.
expected_frames="blue green green green green red"

frame_colour() {  # the colour name of tray icon $1's frame, or "?"
  "$harness/tray-icon" shot "$1" "$work/icon-$1.png" || return 1
  convert "$work/icon-$1.png" -format %c histogram:info:- | awk '
    /#00FF00/ { if ($1 + 0 == 60) frame = "green" }
    /#FF0000/ { if ($1 + 0 == 60) frame = "red" }
    /#0000FF/ { if ($1 + 0 == 60) frame = "blue" }
    /#FFFF00/ { text = 1 }
    /#000000/ { black = 1 }
    END { print (frame != "" && text && black) ? frame : "?" }'
}

# Chooses an item of the tray menu (Restore, Minimize, Exit): KEY Down reaches the first, Up the
# last; then waits until CHECK holds. A menu that opened too late for the keys is closed and
# opened again. usage: choose_from_menu KEY CHECK...
choose_from_menu() {
  local key=$1 _
  shift
  for _ in 1 2 3; do
    "$harness/tray-icon" click 1 right
    sleep 1
    xdotool key "$key"
    sleep 0.3
    xdotool key Return
    wait_until 8 "$@" && return 0
    xdotool key Escape
  done
  return 1
}

start_demo() {  # starts the program on the demo drives; sets $pid; true once 6 icons are docked
  (cd "$work" && exec wine "$program" --demo) >>"$work/program.log" 2>&1 &
  pid=$!
  "$harness/tray-icon" wait 6 60 2>/dev/null
}

show_main_window() {
  "$harness/tray-icon" click 1 left
  wait_until 10 window_shown Diskvigil
}

# Clicks the AutoRun box of the main window (client position of the box in the Settings group).
# Clicks "AutoRun" and waits until its box looks different. Under load a single click with a
# fixed pause was once lost (the main window had just been restored), and the test then blamed
# the program for a Run value it had never been asked to clear. The pointer rests on the box
# before the first picture, so a hover highlight is in both.
autorun_box() {
  import -window "$(visible_window Diskvigil)" -crop 40x20+302+133 +repage "$1"
}
autorun_changed() {
  autorun_box "$work/autorun-now.png"
  [ "$(compare -metric AE "$work/autorun-before.png" "$work/autorun-now.png" null: 2>&1)" != 0 ]
}
click_autorun() {
  local main attempt
  main=$(visible_window Diskvigil)
  xdotool mousemove --window "$main" 322 143
  sleep 0.3
  autorun_box "$work/autorun-before.png"
  for attempt in 1 2; do
    xdotool mousemove --window "$main" 322 143 click 1
    wait_until 5 autorun_changed && return 0
  done
  echo "note: the AutoRun box did not change after two clicks"
}

run_value() {  # the Run key's "Diskvigil" value, or nothing
  wine reg query 'HKCU\Software\Microsoft\Windows\CurrentVersion\Run' /v Diskvigil 2>/dev/null |
    tr -d '\r' | sed -n 's/^ *Diskvigil *REG_SZ *//p'
}

end_by_exit() {  # Exit from the tray menu; true when the program ended with status 0
  choose_from_menu Up process_gone "$pid" || return 1
  wait "$pid"
}

activity_mark() {  # the picture of the main window's monitoring-pass mark, into $1
  import -window "$(visible_window Diskvigil)" -crop 24x20+460+47 +repage "$1"
}
mark_changed() {
  activity_mark "$work/mark-now.png"
  [ "$(compare -metric AE "$work/mark-before.png" "$work/mark-now.png" null: 2>&1)" != 0 ]
}

check_pictures() {
  echo "--- pictures of the windows, the program's icon"
  local sizes
  sizes=$(identify -format '%w ' "$build/app/generated/diskvigil.ico" 2>/dev/null)
  [ "$sizes" = "16 22 24 32 48 64 128 256 " ] && ok "icon file with the sizes $sizes" ||
    fail "the icon file reads as sizes '$sizes'"
  mkdir -p "$work/pictures"
  local listed
  listed=$(cd "$work" && wine "$program" --demo --render-windows "$(winepath -w "$work/pictures")" \
    2>>"$work/program.log" | tr -d '\r')
  local name
  for name in main smart mbr smtp; do
    if identify "$work/pictures/$name-window.png" >/dev/null 2>&1 &&
      grep -q "$name-window.png" <<<"$listed"; then
      ok "--render-windows: $name-window.png ($(identify -format %wx%h "$work/pictures/$name-window.png"))"
      [ -z "$shots" ] || cp "$work/pictures/$name-window.png" "$shots/windows-$name-window.png"
    else
      fail "--render-windows wrote no $name-window.png"
    fi
  done
}

check_own_drives() {
  echo "--- Wine's own drives"
  (cd "$work" && exec wine "$program") >"$work/own.log" 2>&1 &
  local own=$!
  wait_until 30 window_shown Warning || { fail "no warning box without drives"; return; }
  # A Windows message box copies its caption and text with Ctrl+C; Wine hands the clipboard to X.
  local box
  box=$(visible_window Warning)
  xdotool windowfocus "$box" 2>/dev/null
  sleep 0.3
  xdotool key --window "$box" ctrl+c
  sleep 0.5
  local text
  text=$(timeout 5 xclip -o -selection clipboard 2>/dev/null | tr -d '\r')
  xdotool key --window "$box" Return
  wait_until 15 process_gone "$own" || fail "the program runs on after the warning"
  wait "$own"
  local status=$?
  if grep -qx "S.M.A.R.T. HDD(s) not found!" <<<"$text" && [ "$status" = 1 ]; then
    ok "no drive: \"S.M.A.R.T. HDD(s) not found!\", exit status 1"
  else
    fail "no drive: exit status $status, box: $text"
  fi
}

check_tray_and_seams() {
  echo "--- the tray program"
  local settings
  settings="$(windows_folder APPDATA)/Diskvigil.ini"
  start_demo || { fail "fewer than 6 tray icons docked ($(icons))"; return; }
  sleep 1  # the first monitoring pass has repainted the icons
  local frames i
  frames=$(for i in $(seq 1 "$(icons)"); do frame_colour "$i"; done | sort | xargs)
  [ "$frames" = "$expected_frames" ] && ok "six icons, frames: $frames" ||
    fail "tray icon frames: '$frames', expected '$expected_frames'"
  [ -z "$shots" ] || import -window root -crop 126x24+900+0 +repage "$shots/windows-tray-icons.png"

  window_shown Diskvigil && fail "the main window shows before any click"
  show_main_window && ok "a left click shows the main window" ||
    fail "a left click did not show the main window"

  local second_started=$SECONDS
  (cd "$work" && timeout 30 wine "$program" --demo) >>"$work/program.log" 2>&1
  local status=$?
  if [ "$status" = 0 ] && [ $((SECONDS - second_started)) -lt 15 ] && ! process_gone "$pid"; then
    ok "a second start ends at once with status 0 (the mutex is held)"
  else
    fail "second start: exit status $status after $((SECONDS - second_started)) s"
  fi

  # Suspend: no monitoring pass for longer than the 15 s interval; resume: the next one comes.
  activity_mark "$work/mark-before.png"
  wine "$sender" suspend || fail "the suspend broadcast was not delivered"
  if wait_until 17 mark_changed; then
    fail "a monitoring pass ran while suspended"
  else
    ok "suspended: no monitoring pass in 17 s"
  fi
  wine "$sender" resume || fail "the resume broadcast was not delivered"
  wait_until 20 mark_changed && ok "resumed: a monitoring pass within 20 s" ||
    fail "no monitoring pass after the resume"

  [ -e "$settings" ] && fail "a settings file exists before Exit"
  click_autorun
  end_by_exit && ok "Exit ends the program with status 0" || fail "Exit did not end the program"
  [ -s "$settings" ] && ok "Exit wrote $(basename "$settings") in APPDATA" ||
    fail "no settings file at $settings after Exit"
  local expected
  expected="\"$(winepath -w "$program")\""
  [ "$(run_value)" = "$expected" ] && ok "AutoRun wrote the Run value $expected" ||
    fail "Run value '$(run_value)', expected '$expected'"

  start_demo || { fail "the second run docked fewer than 6 icons"; return; }
  choose_from_menu Down window_shown Diskvigil && ok "the menu's Restore shows the main window" ||
    fail "the menu's Restore did not show the main window"
  click_autorun
  end_by_exit || fail "Exit did not end the second run"
  [ -z "$(run_value)" ] && ok "AutoRun cleared: no Run value" ||
    fail "the Run value stays after AutoRun was cleared: $(run_value)"
}

install_silently() {
  wine "$setup" /S || fail "the silent install ended with $?"
}
uninstall_silently() {  # the uninstaller runs from a copy of itself and returns at once
  wine "$folder/uninstall.exe" /S "$@"
  wait_until 30 eval '[ ! -e "$folder" ]'
}

check_installer() {
  echo "--- the installer"
  setup=$(ls "$installer_dir"/diskvigil-*-setup.exe 2>/dev/null | head -n 1)
  if [ -z "$setup" ]; then
    echo "SKIPPED: no installer was built (makensis is missing: Debian's nsis)"
    return
  fi
  local target='C:\Program Files\Diskvigil'
  folder=$(winepath -u "$target")
  local settings start_menu
  settings="$(windows_folder APPDATA)/Diskvigil.ini"
  start_menu="$(windows_folder ProgramData)/Microsoft/Windows/Start Menu/Programs/Diskvigil.lnk"
  install_silently
  [ -f "$folder/diskvigil.exe" ] && [ -f "$folder/platforms/qwindows.dll" ] &&
    [ -f "$folder/demo/1-healthy-seagate-hdd.json" ] && [ -f "$folder/uninstall.exe" ] &&
    ok "installed into $target" || fail "the installed files are incomplete: $(ls "$folder" 2>&1)"
  [ -f "$start_menu" ] && ok "Start-menu entry" || fail "no Start-menu entry at $start_menu"

  program="$folder/diskvigil.exe" start_demo && ok "the installed program runs --demo" ||
    fail "the installed program docked $(icons) icons"
  local status
  wine "$setup" /S
  status=$?
  [ "$status" = 2 ] && ok "while the program runs, the silent install is refused (exit status 2)" ||
    fail "the silent install while the program runs ended with $status"
  end_by_exit || fail "Exit did not end the installed program"

  uninstall_silently && ok "the silent uninstall removed $target" ||
    fail "left behind: $(find "$folder" | head -5)"
  [ -s "$settings" ] && ok "the settings file stays when not asked to go" ||
    fail "the silent uninstall removed the settings file"
  install_silently
  uninstall_silently /REMOVESETTINGS || fail "the second uninstall left $folder"
  local left=""
  [ ! -e "$settings" ] || left+=" the settings file;"
  [ ! -e "$start_menu" ] || left+=" the Start-menu entry;"
  wine reg query 'HKLM\Software\Microsoft\Windows\CurrentVersion\Uninstall\Diskvigil' \
    >/dev/null 2>&1 && left+=" the uninstall entry;"
  [ -z "$left" ] && ok "asked to, the uninstall leaves nothing behind" || fail "left behind:$left"
}

inner_run() {
  started=$SECONDS
  WINEPREFIX=$(mktemp -d "${TMPDIR:-/tmp}/diskvigil-wine-gui.XXXXXX")
  export WINEPREFIX WINEDEBUG=-all WINEDLLOVERRIDES="mscoree,mshtml=" WINEARCH=win64
  work=$(mktemp -d "${TMPDIR:-/tmp}/diskvigil-wine-gui-out.XXXXXX")
  trap 'wineserver -k >/dev/null 2>&1; wineserver -w >/dev/null 2>&1; rm -rf "$WINEPREFIX" "$work"' EXIT
  # One server for the whole run, and the prefix made on this display: Wine's desktop process,
  # which holds the tray icons, lives on the display it was started on.
  wineserver -p >/dev/null 2>&1 </dev/null
  timeout 120 wine wineboot --init >/dev/null 2>&1 </dev/null || { echo "FAILED: wineboot"; exit 1; }
  echo "Wine prefix ready after $((SECONDS - started)) s"
  check_pictures
  check_own_drives
  check_tray_and_seams
  check_installer
  if [ "$failures" -gt 0 ]; then
    echo "--- program output"
    tail -n 20 "$work/program.log"
  fi
  echo "$failures failure(s); $((SECONDS - started)) s in all"
  [ "$failures" -eq 0 ]
}

started=$SECONDS
if [ "$inner" = 1 ]; then
  inner_run
  exit $?
fi

# ---------------------------------------------------------------------------------------------
# Outside: what is needed, and the build.
"$src/scripts/mingw-qt.sh" unpack >/dev/null
case $? in
  0) ;;
  77) skip "no prebuilt Qt for MinGW at $src/../shared/mingw-qt (scripts/mingw-qt.sh rebuild makes one)" ;;
  *) echo "FAILED: unpacking the Qt for MinGW"; exit 1 ;;
esac
command -v wine >/dev/null && command -v wineserver >/dev/null ||
  skip "wine is not installed (Debian: wine64 and wine)"
command -v x86_64-w64-mingw32-g++-posix >/dev/null ||
  skip "no MinGW-w64 compiler (g++-mingw-w64-x86-64-posix)"
[ -x "$harness/xvfb-tray-run" ] && [ -x "$harness/tray-icon" ] ||
  skip "the X harness is not at $harness"
for tool in Xvfb trayer xdotool xwininfo xclip import compare convert identify; do
  command -v "$tool" >/dev/null ||
    skip "$tool is missing (scripts/install-deps.sh gui: xvfb trayer xdotool x11-utils xclip imagemagick)"
done
if [ ! -f "$build/CMakeCache.txt" ]; then
  (cd "$src" && cmake --preset windows-gui >/dev/null) || { echo "FAILED: configuring $build"; exit 1; }
fi
mkdir -p "$build"
if ! nice cmake --build "$build" -j2 >"$build/window-test-build.log" 2>&1; then
  tail -40 "$build/window-test-build.log"
  echo "FAILED: the Windows window build"
  exit 1
fi
if command -v makensis >/dev/null; then
  nice cmake --build "$build" --target windows-installer >>"$build/window-test-build.log" 2>&1 ||
    { tail -20 "$build/window-test-build.log"; echo "FAILED: the installer"; exit 1; }
fi
echo "Windows window build ready after $((SECONDS - started)) s"

# The Windows Qt must not take the X platform the harness names for Linux programs.
export QT_QPA_PLATFORM=windows
export harness program sender installer_dir shots build
"$harness/xvfb-tray-run" -q -g 1024x768x24 -t 600 -- bash "$0" "$src" --inner ${shots:+--shots "$shots"}
status=$?
[ "$status" = 125 ] && skip "the X display or the tray host could not be started"
[ "$status" = 124 ] && echo "FAILED: timed out"
exit "$status"
