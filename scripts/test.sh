#!/usr/bin/env bash
# Builds everything and runs every test; installs what it needs first. Exits non-zero if any
# build or test fails.
#   native (g++) and clang: timing tests; ASan + UBSan: the same tests; fuzz: a 10 s smoke run;
#   win64 and win32 (mingw-w64): the program and the Windows-side tests, the win64 ones run
#   under Wine on a private Xvfb; end-to-end tests that type into the real program.
set -euo pipefail
repo=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)
cd "$repo"

"$repo/scripts/install-deps.sh"

jobs=$(nproc 2>/dev/null || echo 2)
build() {
  echo "== build: $1"
  cmake --preset "$1" >/dev/null
  cmake --build --preset "$1" -j "$jobs"
}

# Windows programs first: the native end-to-end tests drive the win64 exes.
for preset in win64 win32 native clang asan fuzz; do
  build "$preset"
done

# Tests never open windows on the developer's desktop: Wine runs on a private Xvfb.
unset DISPLAY
export TYPROVA_HEADLESS=1

failed=0
run() {
  echo "== test: $*"
  "$@" || failed=1
}
run ctest --preset clang
run ctest --preset asan
run ctest --test-dir build/fuzz -V
run ctest --preset win64
run ctest --preset native

if [ "$failed" -ne 0 ]; then
  echo "SOME TESTS FAILED"
  exit 1
fi
echo "All builds and tests passed."
