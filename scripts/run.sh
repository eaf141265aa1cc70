#!/usr/bin/env bash
# Builds (when needed) and runs Typrova.exe under Wine. With a working X display the program
# opens there and this script waits until it is closed. Without one it runs under a private
# Xvfb, saves a picture of the window to build/screenshot.png and closes the program.
#
#   scripts/run.sh                  build if needed, then run
#   TYPROVA_HEADLESS=1 scripts/run.sh   screenshot mode even when a display is available
#
# TYPROVA_RUN_EXE, TYPROVA_RUN_CAPTION and TYPROVA_WINPROBE run another, already built exe
# the same way (no build step), e.g. the minimal dialog of bench/ when trying the script.
set -euo pipefail

repo=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)
cd "$repo"

caption="${TYPROVA_RUN_CAPTION:-Typrova}"
exe="${TYPROVA_RUN_EXE:-$repo/build/win64/app/Typrova.exe}"
probe="${TYPROVA_WINPROBE:-$repo/build/win64/tests/e2e/winprobe.exe}"
screenshot="$repo/build/screenshot.png"

"$repo/scripts/install-deps.sh"

# True when the exe is missing or a source, resource or build file is newer than it.
needs_build() {
  [ -f "$exe" ] || return 0
  [ -f "$probe" ] || return 0
  local newer
  newer=$(find app ui framework timing res cmake tests/e2e CMakeLists.txt CMakePresets.json \
    -newer "$exe" -type f -print -quit 2>/dev/null)
  [ -n "$newer" ]
}

if [ -z "${TYPROVA_RUN_EXE:-}" ] && needs_build; then
  [ -f build/win64/CMakeCache.txt ] || cmake --preset win64
  cmake --build --preset win64 --target Typrova winprobe
fi

# shellcheck source-path=SCRIPTDIR source=wine-env.sh
source "$repo/scripts/wine-env.sh"

# Each probe call is bounded; winprobe answers within seconds or reports a failure.
probe() {
  timeout 60 "$WINE" "$probe" "$@" </dev/null
}

# Gives the field <control id> the keyboard: X focus to the window, then a click into it.
focus_field() {
  local id=$1 xid rect left top right bottom
  xid=$(xdotool search --onlyvisible --name "^${caption}\$" | head -n1)
  [ -n "$xid" ] || { echo "run.sh: no X window for \"$caption\"" >&2; return 1; }
  timeout 15 xdotool windowfocus --sync "$xid"
  rect=$(probe rect "$caption" "$id") || return 1
  read -r left top right bottom <<<"$rect"
  xdotool mousemove $(((left + right) / 2)) $(((top + bottom) / 2)) click 1
}

# Hook: runs in screenshot mode after the window is up and before the picture is taken.
# Session, DISPLAY, $WINE and the helpers above are available here. Example, typing into
# the Entered field with the key injector (built by the native preset):
#   focus_field 1001
#   build/native/tests/e2e/injector <<'KEYS' >/dev/null
#   100 down a
#   180 up a
#   KEYS
before_screenshot() {
  local injector="$repo/build/native/tests/e2e/injector"
  if [ ! -x "$injector" ]; then
    echo "run.sh: no key injector ($injector; build the native preset); empty window shown" >&2
    return 0
  fi
  # "Rhythm7x" typed twice with a person's timing (the second time a little slower), so the
  # picture shows both tables, a score and a verdict. Shift goes down before the capital R
  # and up after it (its release files slot 1 last). No two keys overlap: a pair released
  # together would leave a row of the table at 0.00. The first Shift tap lands in the empty
  # field and only wakes up the keyboard path.
  local keys
  keys=$(cat <<'KEYS'
50 down Shift_L
120 up Shift_L
400 down Shift_L
460 down r
590 up r
640 up Shift_L
850 down h
960 up h
1180 down y
1290 up y
1400 down t
1505 up t
1580 down h
1690 up h
1900 down m
2010 up m
2230 down 7
2330 up 7
2520 down x
2660 up x
KEYS
)
  focus_field 1001 || return 1
  "$injector" >/dev/null <<<"$keys"
  focus_field 1003 || return 1
  awk '{ printf "%.0f %s %s\n", $1 * 1.07, $2, $3 }' <<<"$keys" | "$injector" >/dev/null
  sleep 0.3
}

run_on_display() {
  echo "Running $exe on $DISPLAY; close the window to end." >&2
  "$WINE" "$exe" </dev/null
}

run_headless() {
  local app rc rect left top right bottom
  "$WINE" "$exe" </dev/null >/dev/null 2>&1 &
  app=$!
  if ! probe wait "$caption" 30000 >/dev/null; then
    echo "run.sh: the window \"$caption\" did not appear" >&2
    kill "$app" 2>/dev/null || true
    return 1
  fi
  before_screenshot
  rect=$(probe rect "$caption")
  read -r left top right bottom <<<"$rect"
  mkdir -p "$(dirname "$screenshot")"
  import -window root -crop "$((right - left))x$((bottom - top))+$left+$top" +repage "$screenshot"
  probe close "$caption"
  rc=0
  wait "$app" || rc=$?
  echo "Screenshot of the window: $screenshot (program exit code $rc)"
}

if [ "${TYPROVA_HEADLESS:-0}" != 1 ] && wine_display_usable; then
  mode=display
else
  mode=headless
  export TYPROVA_HEADLESS=1
  # Wine draws the caption itself, so the screenshot shows the whole window.
  export TYPROVA_WINE_MANAGED=N
  # The sample typing before the screenshot needs the key injector (a Linux program).
  if [ -z "${TYPROVA_RUN_EXE:-}" ] && [ ! -x build/native/tests/e2e/injector ]; then
    [ -f build/native/CMakeCache.txt ] || cmake --preset native >/dev/null
    cmake --build --preset native --target injector >/dev/null
  fi
fi

wine_session_start || exit 1
trap wine_session_stop EXIT
if [ "$mode" = display ]; then
  run_on_display
else
  run_headless
fi
