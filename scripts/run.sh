#!/usr/bin/env bash
# Builds (when needed) and runs Typrova.exe under Wine. With a working X display the program
# opens there and this script waits until it is closed. Without one it runs under a private
# Xvfb, types scripts/demo.keys into both fields, saves a picture of the window to
# build/screenshot.png and closes the program.
#
#   scripts/run.sh                  build if needed, then run
#   TYPROVA_HEADLESS=1 scripts/run.sh   screenshot mode even when a display is available
set -euo pipefail

repo=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)
cd "$repo"
exe="$repo/build/win64/app/Typrova.exe"

"$repo/scripts/install-deps.sh"

# The build rebuilds only what is out of date.
[ -f build/win64/CMakeCache.txt ] || cmake --preset win64
cmake --build --preset win64 --target Typrova winprobe

# shellcheck source-path=SCRIPTDIR source=wine-env.sh
source "$repo/scripts/wine-env.sh"

if [ "${TYPROVA_HEADLESS:-0}" = 1 ] || ! wine_display_usable; then
  # The sample typing before the screenshot needs the key injector (a Linux program).
  [ -f build/native/CMakeCache.txt ] || cmake --preset native >/dev/null
  cmake --build --preset native --target injector >/dev/null
  exec python3 "$repo/scripts/screenshot.py"
fi

wine_session_start || exit 1
trap wine_session_stop EXIT
echo "Running $exe on $DISPLAY; close the window to end." >&2
"$WINE" "$exe" </dev/null {TYPROVA_LOCK_FD}>&-
