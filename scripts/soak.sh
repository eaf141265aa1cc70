#!/usr/bin/env bash
# Long soak of Typrova.exe under Wine on a private Xvfb: random real key events into both
# fields (5,000 by default), checked against a replay of the injected times, with the
# program's memory sampled throughout. Builds what it needs first.
#
#   scripts/soak.sh [events] [extra test_soak.py args, e.g. --seed 42]
set -euo pipefail
repo=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)
cd "$repo"

events="${1:-5000}"
shift || true

"$repo/scripts/install-deps.sh"
[ -f build/native/CMakeCache.txt ] || cmake --preset native >/dev/null
[ -f build/win64/CMakeCache.txt ] || cmake --preset win64 >/dev/null
cmake --build --preset native --target injector
cmake --build --preset win64 --target Typrova winprobe

exec python3 "$repo/tests/e2e/test_soak.py" --events "$events" "$@"
