#!/usr/bin/env bash
# The one benchmark command: installs what the benchmarks need, builds what is missing, then
# runs timing accuracy (a synthetic and a real typing schedule), cost per key, start-up, size
# and the verdict on real typists (touch-screen and physical-keyboard sets side by side; its
# plot goes to docs/), and prints the tables (also written to build/bench/results.md). Extra
# arguments go to bench/bench.py (e.g. --passwords 10, --baseline-app OLD/Typrova.exe, --data
# DIR: a folder laid out like ../shared/realtyping).
set -euo pipefail
repo=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)
cd "$repo"

scripts/install-deps.sh chromium python3-matplotlib

build() {
  local preset=$1; shift
  [ -f "build/$preset/CMakeCache.txt" ] || cmake --preset "$preset" >/dev/null
  cmake --build --preset "$preset" -j2 --target "$@" >/dev/null
}
build native injector xtimes typist_verdicts
build win64 Typrova winprobe minimal_dialog key_cost startup_probe
build win32 Typrova

export TYPROVA_WINEPREFIX="${TYPROVA_WINEPREFIX:-$repo/build/wineprefix-bench}"
exec python3 bench/bench.py "$@"
