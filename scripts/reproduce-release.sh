#!/usr/bin/env bash
# Proves that the release is reproducible: checks out HEAD twice into two fresh folders under
# DIR (different absolute paths, the second with a space in it), runs scripts/release.sh in
# each, one after the other, and fails unless the two dist/ folders are byte-identical.
# Uncommitted changes are not part of it: both checkouts are of the last commit.
#
#   scripts/reproduce-release.sh [DIR]     (default build/repro; DIR/one/dist is kept)
set -euo pipefail
repo=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)
dir="${1:-$repo/build/repro}"
head=$(git -C "$repo" rev-parse HEAD)

rm -rf "$dir"
mkdir -p "$dir"
checkouts=("$dir/one" "$dir/second copy")
for co in "${checkouts[@]}"; do
  # --shared borrows the objects of this repository instead of copying them.
  git clone -q --shared --no-checkout "$repo" "$co"
  git -C "$co" checkout -q --detach "$head"
  t0=$SECONDS
  "$co/scripts/release.sh" >"$co.log" 2>&1 || {
    echo "reproduce-release: scripts/release.sh failed in $co:" >&2
    tail -n 30 "$co.log" >&2
    exit 1
  }
  echo "reproduce-release: built in $co ($((SECONDS - t0)) s)"
done

a="${checkouts[0]}/dist" b="${checkouts[1]}/dist"
# diff -r compares every file byte for byte, SHA256SUMS among them.
if ! diff -r "$a" "$b" >&2; then
  echo "reproduce-release: FAILED: the two builds of $head differ" >&2
  exit 1
fi
echo "reproduce-release: identical builds of $head in '$(dirname "$a")' and '$(dirname "$b")':"
cat "$a/SHA256SUMS"
