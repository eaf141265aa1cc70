#!/usr/bin/env bash
# Builds everything and runs every test; installs what it needs first. Exits non-zero if any
# build or test fails.
#   native (g++) and clang: timing tests; ASan + UBSan: the same tests; fuzz: a 10 s smoke run;
#   win64 and win32 (mingw-w64): the program and the Windows-side tests, run under Wine on a
#   private Xvfb (win32 under 32-bit Wine); end-to-end tests that type into the real program;
#   the release built twice, compared, and its programs typed into from their zips.
#
#   scripts/test.sh          everything
#   scripts/test.sh win32    only the 32-bit leg (the i686 build under 32-bit Wine)
set -euo pipefail
repo=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)
cd "$repo"

leg="${1:-all}"
case "$leg" in
  all | win32) ;;
  *) echo "usage: scripts/test.sh [win32]" >&2; exit 2 ;;
esac

"$repo/scripts/install-deps.sh" --win32

# Every Wine prefix of the run is a copy of one booted prefix (scripts/wine-env.sh); it boots
# while the builds run instead of in front of the first Windows test. Its output goes to the
# console as it comes; a failure is reported when the Windows tests need it.
"$repo/scripts/wine-env.sh" boot &
boot_pid=$!
wait_for_prefix() {
  wait "$boot_pid" && return 0
  echo "== the Wine prefix did not boot (see build/wineprefix-pristine.log)"
  failed=1
}

jobs=$(nproc 2>/dev/null || echo 2)
build() {
  echo "== build: $1"
  cmake --preset "$1" >/dev/null
  cmake --build --preset "$1" -j "$jobs"
}

# Tests never open windows on the developer's desktop: Wine runs on a private Xvfb.
unset DISPLAY
export TYPROVA_HEADLESS=1

failed=0
run() {
  echo "== test: $*"
  "$@" || failed=1
}
# The 32-bit leg: the i686 build's tests and its end-to-end smoke, which types with the
# native build's key injector. Where 32-bit code is emulated it is slow
# and loads both cores: it runs alone, after the timing-sensitive end-to-end tests.
win32_leg() {
  local t0=$SECONDS
  run ctest --preset win32
  echo "== 32-bit leg: $((SECONDS - t0)) s"
}

# The release: built twice from two fresh checkouts of HEAD (one path with a space); the two
# dist/ folders must be identical, and scripts/release.sh checks both programs' hardening.
# The packaged-program smokes (e2e_packaged_win64, and e2e_i686_smoke in the 32-bit leg) type
# into the first build's programs, unpacked from their zips.
release_leg() {
  local t0=$SECONDS
  run scripts/reproduce-release.sh "$repo/build/repro"
  echo "== release, built twice: $((SECONDS - t0)) s"
  export TYPROVA_DIST_DIR="$repo/build/repro/one/dist"
}

if [ "$leg" = win32 ]; then
  build win32
  cmake --preset native >/dev/null
  cmake --build --preset native -j "$jobs" --target injector
  cmake --preset win64 >/dev/null
  cmake --build --preset win64 -j "$jobs" --target winprobe
  release_leg
  wait_for_prefix
  win32_leg
else
  # Windows programs first: the native end-to-end tests drive the win64 exes.
  for preset in win64 win32 native clang asan fuzz; do
    build "$preset"
  done
  release_leg
  run ctest --preset clang
  run ctest --preset asan
  run ctest --test-dir build/fuzz -V
  wait_for_prefix
  run ctest --preset win64
  run ctest --preset native
  win32_leg
fi

if [ "$failed" -ne 0 ]; then
  echo "SOME TESTS FAILED"
  exit 1
fi
echo "All builds and tests passed."
