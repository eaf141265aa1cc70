#!/usr/bin/env bash
# Makes the downloadable release from the committed source: builds Typrova.exe for Windows
# x86_64 and x86 in a clean build folder of its own (Release, stripped, no tests or
# benchmarks), checks both programs' hardening (scripts/check_pe.py), and writes
#   dist/Typrova-<version>-win64.zip, dist/Typrova-<version>-win32.zip  (Typrova.exe, README.txt)
#   dist/SHA256SUMS  (both zips and both programs)
# The same commit gives the same bytes in any folder, at any time: the PE time stamp and the
# zip entries' times are the commit's date (SOURCE_DATE_EPOCH when it is set).
#
#   scripts/release.sh                 refuses a tree with uncommitted changes
#   scripts/release.sh --allow-dirty   builds it anyway; the names say "-dirty"
#
# dist/ is replaced whole, and only once everything is built and checked: after a failure
# it is left as it was.
set -euo pipefail
repo=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)
cd "$repo"

allow_dirty=0
for arg in "$@"; do
  case "$arg" in
    --allow-dirty) allow_dirty=1 ;;
    *) echo "usage: scripts/release.sh [--allow-dirty]" >&2; exit 2 ;;
  esac
done

if ! git rev-parse --verify -q HEAD >/dev/null; then
  echo "release: $repo is not a git checkout with a commit" >&2
  exit 1
fi
suffix=""
if [ -n "$(git status --porcelain)" ]; then
  if [ "$allow_dirty" -eq 0 ]; then
    echo "release: the tree has uncommitted changes; commit them, or pass --allow-dirty" \
      "(the names then say -dirty). Nothing was written." >&2
    git status --short >&2
    exit 1
  fi
  suffix="-dirty"
fi

"$repo/scripts/install-deps.sh"

# The one place the version is written: project(Typrova VERSION ...) in CMakeLists.txt.
version=$(sed -n 's/^project(Typrova VERSION \([0-9][0-9.]*\) .*/\1/p' CMakeLists.txt)
if [ -z "$version" ]; then
  echo "release: no project(Typrova VERSION ...) line in CMakeLists.txt" >&2
  exit 1
fi
commit=$(git rev-parse HEAD)
export SOURCE_DATE_EPOCH="${SOURCE_DATE_EPOCH:-$(git log -1 --format=%ct HEAD)}"
name="Typrova-$version$suffix"
echo "release: $name from commit $commit$suffix, time stamp $SOURCE_DATE_EPOCH" \
  "($(date -u -d "@$SOURCE_DATE_EPOCH" '+%Y-%m-%d %H:%M:%S UTC'))"

work="$repo/build/release"
rm -rf "$work"
stage="$work/stage"
mkdir -p "$stage"
trap 'echo "release: FAILED; dist/ was left as it was" >&2' ERR

jobs=$(nproc 2>/dev/null || echo 2)
# leg  toolchain  check_pe.py --arch  what the README calls it
legs=("win64 x86_64 x86_64 64-bit Windows (x64)"
      "win32 i686 i686 32-bit Windows (x86)")
for leg in "${legs[@]}"; do
  read -r dist_arch toolchain pe_arch arch_text <<<"$leg"
  build="$work/$dist_arch"
  echo "== release build: $dist_arch"
  cmake -S "$repo" -B "$build" -DCMAKE_TOOLCHAIN_FILE="$repo/cmake/mingw-$toolchain.cmake" \
    -DCMAKE_BUILD_TYPE=Release -DTYPROVA_RELEASE=ON -DTYPROVA_TESTS=OFF -DTYPROVA_BENCH=OFF \
    >/dev/null
  cmake --build "$build" -j "$jobs" --target Typrova
  # Debian's interpreter: python3-pefile is installed for it, whatever python3 is on PATH.
  /usr/bin/python3 "$repo/scripts/check_pe.py" --arch "$pe_arch" --version "$version" \
    --timestamp "$SOURCE_DATE_EPOCH" "$build/app/Typrova.exe"

  folder="$stage/$name-$dist_arch"
  mkdir -p "$folder"
  cp "$build/app/Typrova.exe" "$folder/Typrova.exe"
  sed -e "s/@VERSION@/$version$suffix/" -e "s/@COMMIT@/$commit$suffix/" \
    -e "s/@ARCH_TEXT@/$arch_text/" -e 's/$/\r/' "$repo/packaging/README.txt" >"$folder/README.txt"
  # Zip entries carry exactly what is set here: fixed order (as listed), mode 644, the commit's
  # time (zip stores local time: TZ=UTC keeps it the same everywhere); -X leaves out the
  # owner ids and the extra time fields, -D the folder entry.
  chmod 644 "$folder/Typrova.exe" "$folder/README.txt"
  touch -d "@$SOURCE_DATE_EPOCH" "$folder/Typrova.exe" "$folder/README.txt"
  (cd "$folder" && TZ=UTC zip -q -X -D "$stage/$name-$dist_arch.zip" Typrova.exe README.txt)
done

# Hashes of both zips and of both programs, under the folder name that Windows' "Extract
# All" gives each zip.
(cd "$stage" && sha256sum "$name-win32.zip" "$name-win32/Typrova.exe" \
  "$name-win64.zip" "$name-win64/Typrova.exe" >SHA256SUMS.partial &&
  mv SHA256SUMS.partial SHA256SUMS)
mkdir "$work/dist"
mv "$stage/$name-win64.zip" "$stage/$name-win32.zip" "$stage/SHA256SUMS" "$work/dist/"

# Replace dist/ whole: the old one moves aside, the new one takes its name.
rm -rf "$work/dist.old"
[ -e dist ] && mv dist "$work/dist.old"
mv "$work/dist" dist
rm -rf "$work/dist.old"
trap - ERR
echo "release: dist/"
(cd dist && ls -l --time-style=+ -- *.zip && cat SHA256SUMS)
