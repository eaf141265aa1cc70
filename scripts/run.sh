#!/usr/bin/env bash
# Builds (when needed) and runs Typrova.exe under Wine. With a working X display the program
# opens there and this script waits until it is closed. Without one it runs under a private
# Xvfb, types scripts/demo.keys into both fields, saves a picture of the window to
# build/screenshot.png and closes the program.
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
injector="$repo/build/native/tests/e2e/injector"

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

if [ "${TYPROVA_HEADLESS:-0}" = 1 ] || ! wine_display_usable; then
  # The sample typing before the screenshot needs the key injector (a Linux program).
  if [ -z "${TYPROVA_RUN_EXE:-}" ] && [ ! -x "$injector" ]; then
    [ -f build/native/CMakeCache.txt ] || cmake --preset native >/dev/null
    cmake --build --preset native --target injector >/dev/null
  fi
  keys=()
  [ -z "${TYPROVA_RUN_EXE:-}" ] && keys=(--keys "$repo/scripts/demo.keys")
  exec python3 "$repo/scripts/screenshot.py" --app "$exe" --caption "$caption" \
    --winprobe "$probe" --injector "$injector" --out "$repo/build/screenshot.png" "${keys[@]}"
fi

wine_session_start || exit 1
trap wine_session_stop EXIT
echo "Running $exe on $DISPLAY; close the window to end." >&2
"$WINE" "$exe" </dev/null {TYPROVA_LOCK_FD}>&-
