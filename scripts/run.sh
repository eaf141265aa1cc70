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
  :
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
fi

wine_session_start || exit 1
trap wine_session_stop EXIT
if [ "$mode" = display ]; then
  run_on_display
else
  run_headless
fi
