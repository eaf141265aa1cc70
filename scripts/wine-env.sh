# The X/Wine session that runs Typrova's Windows executables on Linux: a display (a private Xvfb
# when there is no usable one), one Wine prefix in the build tree, its server and desktop.
# shellcheck shell=bash
#
# From bash, source it; the calling shell holds the prefix's lock until wine_session_stop or
# until it exits:
#   source scripts/wine-env.sh
#   wine_session_start || exit 1
#   trap wine_session_stop EXIT
#   "$WINE" build/win64/app/Typrova.exe </dev/null
#
# From another language, run `bash scripts/wine-env.sh hold` with a pipe on stdin: it starts the
# session, prints the variables the session exports as NAME=value lines and then "ready", and
# stops the session when its stdin closes (the caller ends it or dies) or on SIGTERM.
#
# A new prefix is not booted but copied from <repo>/build/wineprefix-pristine, a prefix booted
# once per build tree in which no session ever runs: a boot takes about 15 s, and about
# 2 minutes where 32-bit code is emulated (wineboot sets up the 32-bit side in 32-bit
# processes); a copy takes a few seconds. A copy is as fresh as a boot, so a check that must
# see everything one session writes can start from one. `bash scripts/wine-env.sh boot` boots
# it ahead of time (scripts/test.sh does so while it builds); a session boots it if it is
# missing, and two callers never boot it twice. The output of the session's own Wine and Xvfb
# processes goes to <prefix>.log.
#
# Settings read from the environment:
#   TYPROVA_WINE        the Wine loader (default /usr/lib/wine/wine64; /usr/lib/wine/wine runs
#                       32-bit programs)
#   TYPROVA_WINEPREFIX  prefix folder (default <repo>/build/wineprefix)
#   TYPROVA_HEADLESS=1  always use a private Xvfb, even when DISPLAY works
#   TYPROVA_WINE_MANAGED  Y: top-level windows are left to a window manager; N: Wine draws the
#                       whole frame itself, caption included. Default: N on the session's own
#                       Xvfb, which has no window manager (with Y there, every window closes
#                       only after Wine's 2 s wait for a manager, and no caption is drawn);
#                       Y on the user's display. Set for every session.
#
# Works in callers with or without `set -e`: commands whose failure is expected are guarded,
# and the functions report failure through their return status.

_typrova_root=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)
_typrova_pristine="$_typrova_root/build/wineprefix-pristine"

# Safe to call more than once.
wine_env() {
  export WINEPREFIX="${TYPROVA_WINEPREFIX:-$_typrova_root/build/wineprefix}"
  export WINEARCH=win64
  export WINEDEBUG=-all
  # No Mono or Gecko install prompt: those dialogs would block an unattended run. No
  # winemenubuilder, which wine.inf starts at every server start: it writes menu entries and
  # file associations into the prefix and the user's home whenever it gets round to it.
  export WINEDLLOVERRIDES="mscoree,mshtml=;winemenubuilder.exe=d"
  export WINE="${TYPROVA_WINE:-/usr/lib/wine/wine64}"
  export WINESERVER=/usr/lib/wine/wineserver
  # The loader path that Wine uses when one Windows process starts another.
  export WINELOADER="$WINE"
  _typrova_log="$WINEPREFIX.log"
  mkdir -p "$(dirname "$WINEPREFIX")" && : >>"$_typrova_log"
}

wine_display_usable() {
  timeout 5 xdotool getdisplaygeometry >/dev/null 2>&1
}

# Every process the session starts runs without the lock's descriptor (it must not keep the
# prefix locked after its owner is gone) and with stdin from /dev/null, output to the log.
_typrova_spawn() {
  "$@" </dev/null >>"$_typrova_log" 2>&1 {TYPROVA_LOCK_FD}>&-
}

_typrova_start_xvfb() {
  local fd num=""
  # -displayfd picks a free display and writes its number and a newline to the pipe once the
  # server accepts clients. -noreset: settings made by a client that has gone (the keyboard's
  # auto-repeat rate) stay; by default the server resets them whenever its last client closes.
  exec {fd}< <(exec Xvfb -displayfd 3 -nolisten tcp -noreset -screen 0 1280x1024x24 3>&1 \
    </dev/null >>"$_typrova_log" 2>&1 {TYPROVA_LOCK_FD}>&-)
  export TYPROVA_XVFB_PID=$!
  # Up to 10 s; ends at once if Xvfb exits without a display.
  read -r -t 10 num <&"$fd" || true
  exec {fd}<&-
  if [ -z "$num" ]; then
    echo "wine-env: Xvfb did not start (see $_typrova_log)" >&2
    _typrova_stop_xvfb
    return 1
  fi
  export DISPLAY=":$num"
}

# Stops the Xvfb that this shell started (its child: wait returns once it is gone).
_typrova_stop_xvfb() {
  [ -n "${TYPROVA_XVFB_PID:-}" ] || return 0
  kill "$TYPROVA_XVFB_PID" 2>/dev/null || true
  wait "$TYPROVA_XVFB_PID" 2>/dev/null || true
  unset TYPROVA_XVFB_PID DISPLAY
}

# Stops the Wine server of $WINEPREFIX and waits until it and its processes are gone.
_typrova_stop_server() {
  _typrova_spawn "$WINESERVER" -k || true
  # -w returns at once when no server runs. Bounded: a server stuck on a dead display
  # must not hang the caller.
  _typrova_spawn timeout 30 "$WINESERVER" -w || true
}

# Takes the prefix's lock on a descriptor of the calling shell (TYPROVA_LOCK_FD), waiting up to
# $1 s for its holder. One prefix serves one session at a time: its server and desktop belong
# to one display, and a new session kills the server it finds. The lock ends with the
# descriptor: at _typrova_unlock, or when the shell exits however it ends.
_typrova_lock_session() {
  exec {TYPROVA_LOCK_FD}>"$WINEPREFIX.lock" || return 1
  flock -n "$TYPROVA_LOCK_FD" && return 0
  echo "wine-env: waiting for another session on $WINEPREFIX to end" >&2
  flock -w "$1" "$TYPROVA_LOCK_FD" && return 0
  echo "wine-env: another session kept $WINEPREFIX for more than $1 s" >&2
  _typrova_unlock
  return 1
}

_typrova_unlock() {
  exec {TYPROVA_LOCK_FD}>&-
  unset TYPROVA_LOCK_FD
}

# Puts Wine's Marlett font into the prefix's C:\windows\Fonts. The caption's close box (and
# the scroll-bar arrows) are glyphs of Marlett; without it Wine draws them in another font, and
# the close box shows as the letter "r". This Wine (8.0, Debian) loads TrueType fonts from
# C:\windows\Fonts and the system's fontconfig folders only; it never reads its own font folder
# (/usr/share/wine/fonts, package fonts-wine), and wineboot leaves C:\windows\Fonts empty.
# Only Marlett is added: the dialogs' text fonts stay as they are.
_typrova_install_marlett() {
  local src=/usr/share/wine/fonts/marlett.ttf dst="$WINEPREFIX/drive_c/windows/Fonts"
  [ -f "$dst/marlett.ttf" ] && return 0
  mkdir -p "$dst" && cp "$src" "$dst/marlett.ttf"
}

# True when the pristine prefix is booted and made by the Wine installed now: Wine records the
# time of its wine.inf in .update-timestamp (a Windows text line) and updates a prefix whose
# record differs in its first process, which a copy of an outdated one would do every time.
_typrova_pristine_ready() {
  [ -f "$_typrova_pristine/system.reg" ] || return 1
  local inf=/usr/share/wine/wine.inf
  [ -f "$inf" ] || return 0
  [ "$(tr -dc 0-9 2>/dev/null <"$_typrova_pristine/.update-timestamp")" = "$(stat -c %Y "$inf")" ]
}

# Boots the pristine prefix unless it is ready, on a private Xvfb, under the pristine prefix's
# own lock: a second caller waits for the first one's boot and then finds it done. Set up by
# 64-bit wineboot, whichever loader later runs programs in its copies; bounded generously,
# since with 32-bit Wine installed it also installs the 32-bit side. It points the environment
# at the pristine prefix: run it in a process of its own.
wine_pristine_boot() {
  export TYPROVA_WINEPREFIX="$_typrova_pristine"
  wine_env && _typrova_lock_session 900 || return 1
  local rc=0 partial="$WINEPREFIX.partial" t0=$SECONDS
  if ! _typrova_pristine_ready; then
    echo "wine-env: booting Wine prefix $WINEPREFIX (once; 15 s, minutes where 32-bit code is" \
      "emulated)" >&2
    # Booted under another name and renamed when complete: a boot cut short leaves no prefix
    # that looks ready.
    rm -rf "$partial"
    if _typrova_start_xvfb; then
      WINEPREFIX="$partial" _typrova_spawn timeout 900 "${WINE%64}64" wineboot -i || rc=1
      # The registry is on disk once the server is gone.
      WINEPREFIX="$partial" _typrova_stop_server
      _typrova_stop_xvfb
    fi
    # One made by an older Wine goes.
    if [ "$rc" -eq 0 ] && [ -f "$partial/system.reg" ] && rm -rf "$WINEPREFIX" &&
        mv "$partial" "$WINEPREFIX"; then
      echo "wine-env: booted $WINEPREFIX in $((SECONDS - t0)) s" >&2
    else
      echo "wine-env: wineboot -i failed (see $_typrova_log)" >&2
      rc=1
    fi
  fi
  _typrova_unlock
  return "$rc"
}

# Makes $WINEPREFIX, which has no registry yet, a copy of the pristine prefix (booted first if
# need be, in a process of its own that does not hold this session's lock). A folder that is
# already there with something in it is left alone: mv -T replaces only an empty one.
_typrova_new_prefix() {
  if ! _typrova_pristine_ready; then
    bash "$_typrova_root/scripts/wine-env.sh" boot </dev/null {TYPROVA_LOCK_FD}>&- || return 1
  fi
  local t0=$SECONDS
  rm -rf "$WINEPREFIX.partial"
  # A real copy (shared blocks where the file system can): a session must not change the
  # pristine prefix through a hard link.
  if ! cp -a --reflink=auto "$_typrova_pristine" "$WINEPREFIX.partial" ||
      ! mv -T "$WINEPREFIX.partial" "$WINEPREFIX"; then
    echo "wine-env: could not copy $_typrova_pristine to $WINEPREFIX" >&2
    rm -rf "$WINEPREFIX.partial"
    return 1
  fi
  echo "wine-env: $WINEPREFIX copied from the booted prefix in $((SECONDS - t0)) s" >&2
}

# Prepares a display and a booted prefix with a running server and desktop. Exports DISPLAY
# (and TYPROVA_XVFB_PID when it started Xvfb).
wine_session_start() {
  wine_env && _typrova_lock_session 600 || return 1
  _typrova_session_setup && return 0
  wine_session_stop
  return 1
}

_typrova_session_setup() {
  # The lock is ours, so a server still running is a leftover of a session whose owner died
  # without stopping it; it may be attached to a display that no longer exists, and every
  # new process would hang on it.
  _typrova_stop_server

  if [ "${TYPROVA_HEADLESS:-0}" = 1 ] || ! wine_display_usable; then
    _typrova_start_xvfb || return 1
  fi
  [ -f "$WINEPREFIX/system.reg" ] || _typrova_new_prefix || return 1

  # 32-bit programs need the prefix's 32-bit side, which a prefix created before 32-bit Wine
  # was installed lacks: update the prefix once, which adds it.
  local setup_wine="${WINE%64}64" wow64="$WINEPREFIX/drive_c/windows/syswow64/kernel32.dll"
  if [ "$WINE" != "$setup_wine" ] && [ ! -f "$wow64" ]; then
    echo "wine-env: adding the 32-bit side to $WINEPREFIX (once, takes minutes)" >&2
    if ! _typrova_spawn timeout 900 "$setup_wine" wineboot -u || [ ! -f "$wow64" ]; then
      echo "wine-env: could not add the 32-bit side to $WINEPREFIX (is wine32 installed?" \
        "see $_typrova_log)" >&2
      return 1
    fi
    _typrova_stop_server
  fi

  _typrova_install_marlett || return 1

  # A persistent server keeps the desktop between the short processes of a test run.
  _typrova_spawn "$WINESERVER" -p || true
  # One small process that opens the desktop, waited for, so that later processes do not
  # race the desktop's creation (that race can hang a process for a long time). It also
  # writes the window-manager setting, which each later process reads as it starts.
  local managed="${TYPROVA_WINE_MANAGED:-Y}"
  [ -n "${TYPROVA_XVFB_PID:-}" ] && managed="${TYPROVA_WINE_MANAGED:-N}"
  if ! _typrova_spawn timeout 120 "$setup_wine" reg add 'HKCU\Software\Wine\X11 Driver' /v Managed \
      /t REG_SZ /d "$managed" /f; then
    echo "wine-env: first Wine process did not finish (see $_typrova_log)" >&2
    return 1
  fi
}

# Stops the server and the Xvfb that wine_session_start started and frees the prefix. Does
# nothing to a session this shell does not own.
wine_session_stop() {
  [ -n "${TYPROVA_LOCK_FD:-}" ] || return 0
  _typrova_stop_server
  _typrova_stop_xvfb
  _typrova_unlock
}

if [ "${BASH_SOURCE[0]}" = "$0" ]; then
  case "${1:-}" in
    hold) ;;
    boot) wine_pristine_boot; exit $? ;;
    *) echo "usage: wine-env.sh hold | boot   (or source it from bash)" >&2; exit 2 ;;
  esac
  trap 'wine_session_stop; exit 143' TERM INT HUP
  wine_session_start || exit 1
  for name in WINEPREFIX WINEARCH WINEDEBUG WINEDLLOVERRIDES WINE WINESERVER WINELOADER \
      DISPLAY TYPROVA_XVFB_PID; do
    [ -n "${!name:-}" ] && printf '%s=%s\n' "$name" "${!name}"
  done
  echo ready
  # Until the caller closes the pipe. A signal interrupts the read and runs the trap.
  read -r _ || true
  wine_session_stop
fi
