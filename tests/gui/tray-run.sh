#!/usr/bin/env bash
# The tray for real: starts `diskvigil --demo` on a private X display with a tray host and checks
# that one icon per demo drive is embedded, that each shows the picture the painting function makes
# for that drive's temperature and verdict, that a left click shows the main window, and that the
# menu's "Exit" ends the program with its settings saved. Exit 77 (skipped) without the harness.
#
# usage: tray-run.sh --harness DIR --program DISKVIGIL --picture TRAY_ICON_PICTURE --work DIR
#                    [--shots DIR]   also write the tray and balloon screenshots for the docs
set -u

harness="" program="" picture="" work="" shots=""
while [ $# -gt 0 ]; do
  case "$1" in
    --harness) harness=$2; shift 2 ;;
    --program) program=$2; shift 2 ;;
    --picture) picture=$2; shift 2 ;;
    --work) work=$2; shift 2 ;;
    --shots) shots=$2; shift 2 ;;
    --inner) inner=1; shift ;;
    --inner-no-tray) inner=no-tray; shift ;;
    *) echo "tray-run: unknown argument $1" >&2; exit 2 ;;
  esac
done

skip() {
  echo "SKIPPED: $* -- the real-tray test did not run" >&2
  exit 77
}
fail() {
  echo "FAILED: $*" >&2
  exit 1
}

# What the six demo drives show after the first pass: text and frame colour (0x00BBGGRR: green
# for a good verdict, red for a failing one, blue with "---" when S.M.A.R.T. is off). Yellow text on
# black, the program's defaults.
expected_icons=(
  "36 0x0000FF00"
  "40 0x000000FF"
  "29 0x0000FF00"
  "--- 0x00FF0000"
  "35 0x0000FF00"
  "38 0x0000FF00"
)

wait_until() {  # wait_until SECONDS COMMAND...: true once COMMAND succeeds
  local end=$((SECONDS + $1)); shift
  until "$@"; do
    [ "$SECONDS" -lt "$end" ] || return 1
    sleep 0.2
  done
}

main_window_visible() {
  [ -n "$(xdotool search --onlyvisible --name '^Diskvigil$' 2>/dev/null)" ]
}

process_gone() { ! kill -0 "$1" 2>/dev/null; }

# Runs on the private display (started again by xvfb-tray-run).
inner_run() {
  local settings="$APPDATA/Diskvigil.ini"
  "$program" --demo >"$work/program.log" 2>&1 &
  local pid=$!
  "$harness/tray-icon" wait "${#expected_icons[@]}" 30 ||
    fail "fewer than ${#expected_icons[@]} tray icons embedded ($("$harness/tray-icon" list | wc -l))"
  local count
  count=$("$harness/tray-icon" list | wc -l)
  [ "$count" -eq "${#expected_icons[@]}" ] || fail "$count tray icons, expected ${#expected_icons[@]}"
  echo "ok: $count icons embedded"
  sleep 1  # the first monitoring pass has repainted the icons

  # Every photographed icon must be exactly one of the expected pictures, each used once.
  local used=() i j matched metric
  for ((i = 1; i <= count; i++)); do
    "$harness/tray-icon" shot "$i" "$work/slot-$i.png" || fail "cannot photograph icon $i"
    matched=""
    for ((j = 0; j < ${#expected_icons[@]}; j++)); do
      [ -z "${used[$j]:-}" ] || continue
      metric=$(compare -metric AE -subimage-search "$work/slot-$i.png" "$work/expected-$j.png" \
        null: 2>&1 | awk '{ print $1 }')
      if [ "$metric" = "0" ]; then
        used[$j]=1
        matched=$j
        break
      fi
    done
    [ -n "$matched" ] || fail "icon $i matches no expected picture (see $work/slot-$i.png)"
    echo "ok: icon $i shows '${expected_icons[$matched]% *}'"
  done

  main_window_visible && fail "the main window is visible before any click"
  "$harness/tray-icon" click 1 left
  wait_until 10 main_window_visible || fail "a left click on an icon did not show the main window"
  echo "ok: a left click shows the main window"

  [ -e "$settings" ] && fail "a settings file exists before Exit"
  # The menu opens at the cursor; "Exit" is its last item.
  "$harness/tray-icon" click 1 right
  sleep 0.7
  xdotool key Up
  sleep 0.2
  xdotool key Return
  wait_until 15 process_gone "$pid" || fail "the program still runs 15 s after Exit"
  wait "$pid"
  local status=$?
  [ "$status" -eq 0 ] || fail "the program ended with status $status after Exit"
  [ -s "$settings" ] || fail "no settings file after Exit"
  echo "ok: Exit ends the program and saves $settings"
}

# Without any tray host the program must not hide: its main window shows at start.
no_tray_run() {
  "$program" --demo >"$work/program-no-tray.log" 2>&1 &
  local pid=$!
  wait_until 15 main_window_visible || fail "with no system tray the main window is not shown"
  echo "ok: with no system tray the main window is shown"

  # A panel that starts after the program (autostart at log-in): the icons arrive and the window
  # hides as at a normal start; when the panel goes, the window is back.
  trayer --edge top --align right --widthtype request --height 24 >"$work/late-tray.log" 2>&1 &
  local tray_pid=$!
  "$harness/tray-icon" wait "${#expected_icons[@]}" 30 ||
    fail "a tray that came later got fewer than ${#expected_icons[@]} icons"
  wait_until 10 eval '! main_window_visible' ||
    fail "the main window stays up after a tray appeared"
  echo "ok: a tray that comes later gets the icons and the window hides"
  kill "$tray_pid"
  wait "$tray_pid" 2>/dev/null
  wait_until 15 main_window_visible || fail "the main window is not shown after the tray went"
  echo "ok: when the tray goes the main window is shown again"

  kill "$pid"
  wait "$pid" 2>/dev/null
  return 0
}

if [ "${inner:-0}" = 1 ]; then
  inner_run
  exit $?
fi
if [ "${inner:-0}" = no-tray ]; then
  no_tray_run
  exit $?
fi

[ -n "$harness" ] && [ -n "$program" ] && [ -n "$picture" ] && [ -n "$work" ] ||
  { echo "tray-run: --harness, --program, --picture and --work are needed" >&2; exit 2; }
[ -x "$harness/xvfb-tray-run" ] && [ -x "$harness/tray-icon" ] ||
  skip "the tray harness is not at $harness"
for tool in Xvfb trayer xdotool xwininfo import compare; do
  command -v "$tool" >/dev/null 2>&1 || skip "$tool is missing (apt-get install xvfb trayer xdotool x11-utils imagemagick)"
done
[ -x "$program" ] || fail "no program at $program"

rm -rf "$work"
mkdir -p "$work/settings"
for ((j = 0; j < ${#expected_icons[@]}; j++)); do
  read -r text border <<<"${expected_icons[$j]}"
  QT_QPA_PLATFORM=offscreen "$picture" "$text" 0x0000FFFF 0 "$border" "$work/expected-$j.png" ||
    fail "cannot paint the expected picture for '$text'"
done

# Settings only in the work folder; the program must run on the X display, not offscreen.
export APPDATA="$work/settings" XDG_CONFIG_HOME="$work/settings"
unset QT_QPA_PLATFORM
export harness program work
"$harness/xvfb-tray-run" -q -t 120 -k "$work/logs" -- \
  bash "$0" --inner --harness "$harness" --program "$program" --picture "$picture" --work "$work"
status=$?
[ "$status" -eq 125 ] && skip "the X display or the tray host could not be started"
[ "$status" -eq 124 ] && fail "timed out"
[ "$status" -eq 0 ] || exit "$status"

mkdir -p "$work/settings-no-tray"
APPDATA="$work/settings-no-tray" XDG_CONFIG_HOME="$work/settings-no-tray" \
  "$harness/xvfb-tray-run" -q -t 60 --no-tray -- \
  bash "$0" --inner-no-tray --harness "$harness" --program "$program" --picture "$picture" \
  --work "$work" || fail "the run without a system tray failed"

if [ -n "$shots" ]; then
  # The pictures for the docs: the tray, and a balloon (balloon hints on, a failing demo drive).
  mkdir -p "$shots" "$work/shots"
  printf '[Settings]\r\nBalloon Hints=1\r\n' >"$work/shots/Diskvigil.ini"
  APPDATA="$work/shots" XDG_CONFIG_HOME="$work/shots" "$harness/xvfb-tray-run" -q -g 640x240x24 \
    -s "$work/shots/screen.png" -e 6 -a 2 -S -- "$program" --demo ||
    fail "the balloon screenshot could not be taken"
  # The tray host sits at the top right; Qt's own balloon pop-up appears near the top left.
  convert "$work/shots/screen.png" -crop 150x28+490+0 +repage -filter point -resize 300% \
    "$shots/tray-icons.png"
  convert "$work/shots/screen.png" -crop 640x90+0+0 +repage "$shots/tray-balloon.png"
  echo "wrote $shots/tray-icons.png and $shots/tray-balloon.png"
fi
exit 0
