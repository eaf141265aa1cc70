#!/usr/bin/env bash
# Makes the downloadable release from the committed source: builds Typrova.exe for Windows
# x86_64 and x86 in a clean build folder of its own (Release, stripped, no tests or
# benchmarks), checks both programs' hardening (scripts/check_pe.py), and writes
#   dist/Typrova-<version>-win64.zip, dist/Typrova-<version>-win32.zip  (Typrova.exe, README.txt)
#   dist/SHA256SUMS  (both zips and both programs)
# The same commit gives the same bytes in any folder, at any time: the PE time stamp and the
# zip entries' times are the commit's date (SOURCE_DATE_EPOCH when it is set).
#
#   scripts/release.sh      refuses a tree with uncommitted changes
#
# dist/ is replaced whole, and only once everything is built and checked: after a failure
# it is left as it was.
set -euo pipefail
repo=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)
cd "$repo"

commit=$(git rev-parse HEAD)
if [ -n "$(git status --porcelain)" ]; then
  echo "release: the tree has uncommitted changes; commit them first. Nothing was written." >&2
  git status --short >&2
  exit 1
fi

"$repo/scripts/install-deps.sh"

# The one place the version is written: project(Typrova VERSION ...) in CMakeLists.txt.
version=$(sed -n 's/^project(Typrova VERSION \([0-9][0-9.]*\) .*/\1/p' CMakeLists.txt)
if [ -z "$version" ]; then
  echo "release: no project(Typrova VERSION ...) line in CMakeLists.txt" >&2
  exit 1
fi
export SOURCE_DATE_EPOCH="${SOURCE_DATE_EPOCH:-$(git log -1 --format=%ct HEAD)}"
name="Typrova-$version"
echo "release: $name from commit $commit, time stamp $SOURCE_DATE_EPOCH" \
  "($(date -u -d "@$SOURCE_DATE_EPOCH" '+%Y-%m-%d %H:%M:%S UTC'))"

work="$repo/build/release"
rm -rf "$work"
mkdir -p "$work/dist"
trap 'echo "release: FAILED; dist/ was left as it was" >&2' ERR

jobs=$(nproc 2>/dev/null || echo 2)
# leg  toolchain (also check_pe.py's --arch)  what the README calls it
legs=("win64 x86_64 64-bit Windows (x64)"
      "win32 i686 32-bit Windows (x86)")
for leg in "${legs[@]}"; do
  read -r dist_arch toolchain arch_text <<<"$leg"
  build="$work/$dist_arch"
  echo "== release build: $dist_arch"
  cmake -S "$repo" -B "$build" -DCMAKE_TOOLCHAIN_FILE="$repo/cmake/mingw-$toolchain.cmake" \
    -DCMAKE_BUILD_TYPE=Release -DTYPROVA_RELEASE=ON -DTYPROVA_TESTS=OFF -DTYPROVA_BENCH=OFF \
    >/dev/null
  cmake --build "$build" -j "$jobs" --target Typrova
  # Debian's interpreter: python3-pefile is installed for it, whatever python3 is on PATH.
  /usr/bin/python3 "$repo/scripts/check_pe.py" --arch "$toolchain" --version "$version" \
    --timestamp "$SOURCE_DATE_EPOCH" "$build/app/Typrova.exe"

  folder="$work/$name-$dist_arch"
  mkdir -p "$folder"
  cp "$build/app/Typrova.exe" "$folder/Typrova.exe"
  sed -e "s/@VERSION@/$version/" -e "s/@COMMIT@/$commit/" -e "s/@ARCH_TEXT@/$arch_text/" \
    -e 's/$/\r/' "$repo/packaging/README.txt" >"$folder/README.txt"
  # Zip entries carry exactly what is set here: fixed order (as listed), mode 644, the commit's
  # time (zip stores local time: TZ=UTC keeps it the same everywhere); -X leaves out the
  # owner ids and the extra time fields, -D the folder entry.
  chmod 644 "$folder/Typrova.exe" "$folder/README.txt"
  touch -d "@$SOURCE_DATE_EPOCH" "$folder/Typrova.exe" "$folder/README.txt"
  (cd "$folder" && TZ=UTC zip -q -X -D "$work/$name-$dist_arch.zip" Typrova.exe README.txt)
done

# Hashes of both zips and of both programs, under the folder name that Windows' "Extract
# All" gives each zip.
(cd "$work" && sha256sum "$name-win32.zip" "$name-win32/Typrova.exe" \
  "$name-win64.zip" "$name-win64/Typrova.exe" >dist/SHA256SUMS)
mv "$work/$name-win64.zip" "$work/$name-win32.zip" "$work/dist/"
rm -rf dist
mv "$work/dist" dist
trap - ERR
echo "release: dist/"
(cd dist && ls -l --time-style=+ -- *.zip && cat SHA256SUMS)
