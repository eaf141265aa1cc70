#!/usr/bin/env bash
# Installs the Debian packages the build, the tests and the Wine runs need. Idempotent: asks
# apt only for what is missing, so a second run costs a dpkg query.
#
#   scripts/install-deps.sh [--win32] [extra packages...]
#
# --win32 also makes 32-bit Windows programs runnable (the i686 build's tests): 32-bit Wine
# (wine32:i386, which needs the i386 architecture in dpkg) and, only when this kernel cannot
# run a 32-bit Linux program itself, user-mode emulation of i386 registered in binfmt_misc.
set -euo pipefail

packages=(
  cmake g++ clang libclang-rt-14-dev googletest python3
  g++-mingw-w64-x86-64-posix g++-mingw-w64-i686-posix
  wine wine64 fonts-wine fonts-liberation xvfb libxtst-dev libx11-dev xdotool imagemagick
  zip python3-pefile
)
win32=0
for arg in "$@"; do
  case "$arg" in
    --win32) win32=1 ;;
    *) packages+=("$arg") ;;
  esac
done

sudo=""; [ "$(id -u)" -eq 0 ] || sudo="sudo"
updated=0
apt_install() {
  local missing=() p
  for p in "$@"; do
    dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q 'ok installed' || missing+=("$p")
  done
  [ ${#missing[@]} -eq 0 ] && return 0
  echo "Installing: ${missing[*]}"
  if [ "$updated" -eq 0 ]; then
    # A mirror caught mid-sync fails an index now and then ("File has unexpected size"): try
    # again, then go on with the lists apt has; the install fails if a package is missing.
    $sudo apt-get update -qq || { sleep 20; $sudo apt-get update -qq; } ||
      echo "install-deps: apt-get update failed; installing from the package lists apt has" >&2
    updated=1
  fi
  DEBIAN_FRONTEND=noninteractive $sudo apt-get install -y -qq --no-install-recommends \
    "${missing[@]}" >/dev/null
}

apt_install "${packages[@]}"
[ "$win32" -eq 1 ] || exit 0

# --- 32-bit programs -------------------------------------------------------------------------

# True when the kernel runs a 32-bit (i386) Linux program, by itself or through an emulator
# already registered for it. The probe is a 96-byte static i386 ELF written here (no 32-bit
# compiler or library is needed to make it): its only code is the system call exit(42).
runs_i386() {
  local probe status=0
  probe=$(mktemp "${TMPDIR:-/tmp}/typrova-i386.XXXXXX") || return 1
  # ELF header (52 bytes), one loadable segment at 0x08048000 (32 bytes), then the code:
  # mov eax, 1; mov ebx, 42; int 0x80.
  printf '%b' \
    '\x7fELF\x01\x01\x01\x00\x00\x00\x00\x00\x00\x00\x00\x00' \
    '\x02\x00\x03\x00\x01\x00\x00\x00\x54\x80\x04\x08\x34\x00\x00\x00' \
    '\x00\x00\x00\x00\x00\x00\x00\x00\x34\x00\x20\x00\x01\x00\x00\x00' \
    '\x00\x00\x00\x00' \
    '\x01\x00\x00\x00\x00\x00\x00\x00\x00\x80\x04\x08\x00\x80\x04\x08' \
    '\x60\x00\x00\x00\x60\x00\x00\x00\x05\x00\x00\x00\x00\x10\x00\x00' \
    '\xb8\x01\x00\x00\x00\xbb\x2a\x00\x00\x00\xcd\x80' >"$probe"
  chmod +x "$probe"
  "$probe" 2>/dev/null || status=$?
  rm -f "$probe"
  [ "$status" -eq 42 ]
}

binfmt=/proc/sys/fs/binfmt_misc
qemu=/usr/bin/qemu-i386-static
# The i386 ELF magic (ident and e_machine 3) and mask, in binfmt_misc's escaped form.
i386_magic='\x7fELF\x01\x01\x01\x00\x00\x00\x00\x00\x00\x00\x00\x00\x02\x00\x03\x00'
i386_mask='\xff\xff\xff\xff\xff\xfe\xfe\x00\xff\xff\xff\xff\xff\xff\xff\xff\xfe\xff\xff\xff'

# Registers qemu's i386 user-mode emulator for i386 ELF programs. F: the kernel opens the
# interpreter now, so it also serves programs in other mount namespaces; P: the program sees
# its own argv[0].
register_i386_emulator() {
  apt_install qemu-user-static
  # The package may have registered it already (on machines with systemd-binfmt).
  runs_i386 && return 0
  if [ ! -e "$binfmt/register" ]; then
    echo "Mounting binfmt_misc on $binfmt"
    $sudo mount -t binfmt_misc binfmt_misc "$binfmt"
  fi
  if [ -e "$binfmt/qemu-i386" ]; then
    # An entry of that name exists but does not run the probe: it is switched off, or it
    # names an interpreter that is missing. Replace it with ours.
    echo "Replacing the binfmt_misc entry qemu-i386:"
    sed 's/^/  /' "$binfmt/qemu-i386"
    echo -1 | $sudo tee "$binfmt/qemu-i386" >/dev/null
  fi
  echo "Registering $qemu for i386 programs in binfmt_misc"
  printf '%s\n' ":qemu-i386:M::$i386_magic:$i386_mask:$qemu:FP" |
    $sudo tee "$binfmt/register" >/dev/null
}

if runs_i386; then
  # Native, or an emulator is registered already: binfmt_misc is left as it is.
  if grep -qsx enabled "$binfmt/qemu-i386"; then
    echo "install-deps: 32-bit programs run through the emulator registered in $binfmt/qemu-i386"
  fi
else
  echo "This kernel does not run 32-bit Linux programs: setting up user-mode emulation"
  register_i386_emulator
  if ! runs_i386; then
    echo "install-deps: a 32-bit program still does not run after registering $qemu" >&2
    exit 1
  fi
fi

if ! dpkg --print-foreign-architectures | grep -qx i386; then
  echo "Adding the i386 architecture to dpkg (for wine32)"
  $sudo dpkg --add-architecture i386
  updated=0 # apt must read the i386 package lists
fi
apt_install wine32:i386
