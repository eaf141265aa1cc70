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
  echo "== build: $*"
  cmake --preset "$1" >/dev/null
  cmake --build --preset "$1" -j "$jobs" "${@:2}"
}

# Tests never open windows on the developer's desktop: Wine runs on a private Xvfb.
unset DISPLAY

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

# The release: scripts/release.sh, which also checks both programs' hardening, run in two fresh
# checkouts of HEAD (different absolute paths, the second with a space in it); the two dist/
# folders must be byte-identical (diff -r compares every file, SHA256SUMS among them).
# Uncommitted changes are not part of it. The packaged-program smokes (e2e_packaged_win64, and
# e2e_i686_smoke in the 32-bit leg) type into the first build's programs, unpacked from their
# zips. It runs under run, where set -e does not apply: every step returns its own failure.
release_leg() {
  local t0=$SECONDS dir="$repo/build/repro" head co
  local checkouts=("$dir/one" "$dir/second copy")
  export TYPROVA_DIST_DIR="${checkouts[0]}/dist"
  head=$(git rev-parse HEAD) || return 1
  rm -rf "$dir"
  for co in "${checkouts[@]}"; do
    # --shared borrows the objects of this repository instead of copying them.
    git clone -q --shared --no-checkout "$repo" "$co" || return 1
    git -C "$co" checkout -q --detach "$head" || return 1
    if ! "$co/scripts/release.sh" >"$co.log" 2>&1; then
      echo "== release: scripts/release.sh failed in $co:"
      tail -n 30 "$co.log"
      return 1
    fi
  done
  if ! diff -r "${checkouts[0]}/dist" "${checkouts[1]}/dist"; then
    echo "== release: FAILED: the two builds of $head differ"
    return 1
  fi
  cat "$TYPROVA_DIST_DIR/SHA256SUMS"
  echo "== release, built twice, identical: $((SECONDS - t0)) s"
}

if [ "$leg" = win32 ]; then
  build win32
  build native --target injector
  build win64 --target winprobe
  run release_leg
  wait_for_prefix
  win32_leg
else
  # Windows programs first: the native end-to-end tests drive the win64 exes.
  for preset in win64 win32 native clang asan fuzz; do
    build "$preset"
  done
  run release_leg
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
