#!/usr/bin/env bash
# Installs the Debian packages the build, the tests and the Wine runs need. Idempotent: asks
# apt only for what is missing, so a second run costs a dpkg query.
set -euo pipefail

packages=(
  cmake g++ clang libclang-rt-14-dev googletest python3
  g++-mingw-w64-x86-64-posix g++-mingw-w64-i686-posix
  wine wine64 fonts-wine fonts-liberation xvfb x11-utils libxtst-dev libx11-dev xdotool imagemagick
)
packages+=("$@")

missing=()
for p in "${packages[@]}"; do
  dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q 'ok installed' || missing+=("$p")
done
[ ${#missing[@]} -eq 0 ] && exit 0

echo "Installing: ${missing[*]}"
sudo=""; [ "$(id -u)" -eq 0 ] || sudo="sudo"
$sudo apt-get update -qq
DEBIAN_FRONTEND=noninteractive $sudo apt-get install -y -qq --no-install-recommends "${missing[@]}" >/dev/null
