#!/usr/bin/env bash
# The one benchmark command: installs what the benchmarks need, builds what is missing, then
# runs bench/bench.py (what it measures: its docstring), passing on extra arguments (e.g.
# --passwords 10, --baseline-app OLD/Typrova.exe, --data DIR). Exits non-zero, naming the
# step, when a step fails.
set -euo pipefail
repo=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)
cd "$repo"

step() {
  local name=$1; shift
  "$@" || { echo "bench failed in: $name" >&2; exit 1; }
}

build() {
  local preset=$1; shift
  if [ ! -f "build/$preset/CMakeCache.txt" ]; then
    cmake --preset "$preset" >/dev/null || return 1
  fi
  cmake --build --preset "$preset" -j2 --target "$@" >/dev/null
}
step "installing packages" scripts/install-deps.sh chromium python3-matplotlib
step "native build" build native injector xtimes typist_verdicts
step "win64 build" build win64 Typrova winprobe minimal_dialog bare_window key_cost startup_probe
step "win32 build" build win32 Typrova

exec python3 bench/bench.py "$@"
