# Sourceable bash library: the environment and the X/Wine session that run Typrova's Windows
# executables on Linux (Xvfb when there is no usable display, one Wine prefix in the build tree).
# shellcheck shell=bash
#
#   source scripts/wine-env.sh
#   wine_session_start || exit 1
#   trap wine_session_stop EXIT
#   "$WINE" build/win64/app/Typrova.exe </dev/null
#
# Settings read from the environment:
#   TYPROVA_WINEPREFIX  prefix folder (default <repo>/build/wineprefix)
#   TYPROVA_WINE        Wine loader that runs the programs (default /usr/lib/wine/wine64;
#                       /usr/lib/wine/wine for 32-bit programs)
#   TYPROVA_HEADLESS=1  always use a private Xvfb, even when DISPLAY works
#   TYPROVA_WINE_MANAGED  Y: top-level windows are left to a window manager; N: Wine draws the
#                       whole frame itself, caption included. Default: N on the session's own
#                       Xvfb, which has no window manager (with Y there, every window closes
#                       only after Wine's 2 s wait for a manager, and no caption is drawn);
#                       Y on the user's display. Set for every session.
#   TYPROVA_SESSION_WAIT  seconds to wait for another session on the same prefix (600)
#   TYPROVA_SESSION_OWNER pid whose life bounds the session's lock (default: the calling
#                       shell); a caller that runs these functions in a child bash sets it
#   TYPROVA_WINE_LOG    file that receives the output of the session's own Wine and Xvfb
#                       processes (default <prefix>.log)

# Works in callers with or without `set -e`: commands whose failure is expected are guarded,
# and the functions report failure through their return status.

_typrova_repo_root() {
  local here
  here=$(cd "$(dirname "${BASH_SOURCE[0]}")" && pwd) || return 1
  (cd "$here/.." && pwd)
}

# Exports the variables every Wine call needs. Safe to call more than once.
wine_env() {
  local root
  root=$(_typrova_repo_root) || return 1
  export WINEPREFIX="${TYPROVA_WINEPREFIX:-$root/build/wineprefix}"
  export WINEARCH=win64
  export WINEDEBUG=-all
  # No Mono or Gecko install prompt: those dialogs would block an unattended run.
  export WINEDLLOVERRIDES="mscoree,mshtml="
  export WINE="${TYPROVA_WINE:-/usr/lib/wine/wine64}"
  export WINESERVER=/usr/lib/wine/wineserver
  # The loader path that Wine uses when one Windows process starts another.
  export WINELOADER="$WINE"
  TYPROVA_WINE_LOG="${TYPROVA_WINE_LOG:-$WINEPREFIX.log}"
  export TYPROVA_WINE_LOG
}

# True when $DISPLAY names an X server that answers within a few seconds.
wine_display_usable() {
  [ -n "${DISPLAY:-}" ] || return 1
  timeout 5 xdotool getdisplaygeometry >/dev/null 2>&1
}

# Starts Xvfb on a free display number and exports DISPLAY. Sets TYPROVA_XVFB_PID.
_typrova_start_xvfb() {
  local fdfile num i
  fdfile=$(mktemp "${TMPDIR:-/tmp}/typrova-xvfb.XXXXXX") || return 1
  # -displayfd picks a free display and writes its number once the server accepts clients.
  Xvfb -displayfd 3 -nolisten tcp -screen 0 1280x1024x24 3>"$fdfile" \
    </dev/null >>"$TYPROVA_WINE_LOG" 2>&1 &
  TYPROVA_XVFB_PID=$!
  num=""
  for ((i = 0; i < 100; i++)); do        # up to 10 s
    num=$(tr -dc '0-9' <"$fdfile")
    [ -n "$num" ] && break
    if ! kill -0 "$TYPROVA_XVFB_PID" 2>/dev/null; then
      break
    fi
    sleep 0.1
  done
  rm -f "$fdfile"
  if [ -z "$num" ]; then
    echo "wine-env: Xvfb did not start (see $TYPROVA_WINE_LOG)" >&2
    kill "$TYPROVA_XVFB_PID" 2>/dev/null
    unset TYPROVA_XVFB_PID
    return 1
  fi
  export DISPLAY=":$num"
  export TYPROVA_XVFB_PID
}

# True while the process exists and is not a zombie (an Xvfb started by a shell that has
# since exited is no child of ours, and its parent may reap it late).
_typrova_running() {
  local state
  state=$(ps -o stat= -p "$1" 2>/dev/null) || return 1
  [ -n "$state" ] && [ "${state#Z}" = "$state" ]
}

# Stops the Wine server of $WINEPREFIX and waits until it and its processes are gone.
_typrova_stop_server() {
  "$WINESERVER" -k </dev/null >/dev/null 2>&1 || true
  # -w returns at once when no server runs. Bounded: a server stuck on a dead display
  # must not hang the caller.
  timeout 30 "$WINESERVER" -w </dev/null >/dev/null 2>&1 || true
}

# Stops the Xvfb recorded by an earlier session of this prefix, if it still runs.
_typrova_stop_stale_xvfb() {
  local pid
  [ -f "$WINEPREFIX.xvfb" ] || return 0
  pid=$(tr -dc '0-9' <"$WINEPREFIX.xvfb")
  rm -f "$WINEPREFIX.xvfb"
  [ -n "$pid" ] || return 0
  # Only an Xvfb: the number may have been reused by an unrelated process since.
  if [ "$(ps -o comm= -p "$pid" 2>/dev/null)" = Xvfb ]; then
    kill "$pid" 2>/dev/null || true
  fi
}

# Takes the prefix's session lock, held by a small background process for as long as the
# owner lives or until wine_session_stop. One prefix serves one session at a time: its
# server and desktop belong to one display, and a new session kills the server it finds.
# Sets TYPROVA_LOCK_PID.
_typrova_lock_session() {
  local lockfile="$WINEPREFIX.lock" ready owner="${TYPROVA_SESSION_OWNER:-$$}"
  local wait_s="${TYPROVA_SESSION_WAIT:-600}" i told=0
  ready=$(mktemp "${TMPDIR:-/tmp}/typrova-lock.XXXXXX") || return 1
  (
    exec 9>"$lockfile" || exit 1
    flock -w "$wait_s" 9 || exit 1
    echo locked >"$ready"
    # The sleeps do not inherit the lock, so killing this subshell frees it at once.
    while kill -0 "$owner" 2>/dev/null; do sleep 1 9>&-; done
  ) </dev/null >>"$TYPROVA_WINE_LOG" 2>&1 &
  TYPROVA_LOCK_PID=$!
  for ((i = 0; ; i++)); do
    [ -s "$ready" ] && break
    if ! kill -0 "$TYPROVA_LOCK_PID" 2>/dev/null; then
      rm -f "$ready"
      unset TYPROVA_LOCK_PID
      echo "wine-env: another session kept $WINEPREFIX for more than $wait_s s" >&2
      return 1
    fi
    if [ "$told" = 0 ] && [ "$i" -ge 10 ]; then
      echo "wine-env: waiting for another session on $WINEPREFIX to end" >&2
      told=1
    fi
    sleep 0.1
  done
  rm -f "$ready"
  export TYPROVA_LOCK_PID
}

# Prepares a display and a booted prefix with a running server and desktop.
# Exports DISPLAY (and TYPROVA_XVFB_PID when it started Xvfb). Returns non-zero on failure.
wine_session_start() {
  wine_env || return 1
  mkdir -p "$(dirname "$WINEPREFIX")" || return 1
  : >>"$TYPROVA_WINE_LOG" || return 1
  if [ -n "${TYPROVA_LOCK_PID:-}" ]; then
    echo "wine-env: a session is already started in this shell" >&2
    return 1
  fi
  _typrova_lock_session || return 1

  # Leftovers of a session whose owner died without stopping it (the lock is ours, so
  # nobody uses them): its server, which may be attached to a display that no longer
  # exists (every new process would hang on it), and its Xvfb.
  _typrova_stop_server
  _typrova_stop_stale_xvfb

  if [ "${TYPROVA_HEADLESS:-0}" = 1 ] || ! wine_display_usable; then
    TYPROVA_SAVED_DISPLAY="${DISPLAY:-}"
    _typrova_start_xvfb || { wine_session_stop; return 1; }
    echo "$TYPROVA_XVFB_PID" >"$WINEPREFIX.xvfb"
  fi

  # The prefix is set up by 64-bit wineboot, whichever loader runs the session's programs.
  # Bounded generously: with 32-bit Wine installed, setting up also installs the prefix's
  # 32-bit side, which takes minutes where 32-bit code runs under emulation.
  local setup_wine="${WINE%64}64"
  if [ ! -f "$WINEPREFIX/system.reg" ]; then
    echo "wine-env: creating Wine prefix $WINEPREFIX (first run, 15 s; minutes with 32-bit Wine)" >&2
    if ! timeout 900 "$setup_wine" wineboot -i </dev/null >>"$TYPROVA_WINE_LOG" 2>&1; then
      echo "wine-env: wineboot -i failed (see $TYPROVA_WINE_LOG)" >&2
      wine_session_stop
      return 1
    fi
    # Let the prefix settle (registry flushed to disk) before the real session.
    _typrova_stop_server
  fi
  # 32-bit programs need the prefix's 32-bit side, which a prefix created before 32-bit Wine
  # was installed lacks: update the prefix once, which adds it.
  if [ "$WINE" != "$setup_wine" ] && [ ! -f "$WINEPREFIX/drive_c/windows/syswow64/kernel32.dll" ]; then
    echo "wine-env: adding the 32-bit side to $WINEPREFIX (once, takes minutes)" >&2
    if ! timeout 900 "$setup_wine" wineboot -u </dev/null >>"$TYPROVA_WINE_LOG" 2>&1 ||
        [ ! -f "$WINEPREFIX/drive_c/windows/syswow64/kernel32.dll" ]; then
      echo "wine-env: could not add the 32-bit side to $WINEPREFIX (is wine32 installed?" \
        "see $TYPROVA_WINE_LOG)" >&2
      wine_session_stop
      return 1
    fi
    _typrova_stop_server
  fi

  # A persistent server keeps the desktop between the short processes of a test run.
  "$WINESERVER" -p </dev/null >>"$TYPROVA_WINE_LOG" 2>&1 || true
  # One small process that opens the desktop, waited for, so that later processes do not
  # race the desktop's creation (that race can hang a process for a long time). It also
  # writes the window-manager setting, which each later process reads as it starts.
  local managed="${TYPROVA_WINE_MANAGED:-}"
  if [ -z "$managed" ]; then
    managed=Y
    [ -n "${TYPROVA_XVFB_PID:-}" ] && managed=N
  fi
  case "$managed" in
    Y | N) ;;
    *) echo "wine-env: TYPROVA_WINE_MANAGED must be Y or N" >&2; wine_session_stop; return 1 ;;
  esac
  if ! timeout 120 "$setup_wine" reg add 'HKCU\Software\Wine\X11 Driver' /v Managed /t REG_SZ \
      /d "$managed" /f </dev/null >>"$TYPROVA_WINE_LOG" 2>&1; then
    echo "wine-env: first Wine process did not finish (see $TYPROVA_WINE_LOG)" >&2
    wine_session_stop
    return 1
  fi
  export TYPROVA_WINE_SESSION=1
  return 0
}

# Stops the Wine server of the prefix and the Xvfb that wine_session_start started, and
# frees the prefix for the next session. Does nothing to a session this shell does not own.
wine_session_stop() {
  wine_env || return 1
  if [ -z "${TYPROVA_LOCK_PID:-}" ]; then
    return 0
  fi
  _typrova_stop_server
  if [ -n "${TYPROVA_XVFB_PID:-}" ]; then
    rm -f "$WINEPREFIX.xvfb"
    kill "$TYPROVA_XVFB_PID" 2>/dev/null || true
    # wait works only for our own child; otherwise poll until the process is gone.
    wait "$TYPROVA_XVFB_PID" 2>/dev/null || true
    local i
    for ((i = 0; i < 50; i++)); do
      _typrova_running "$TYPROVA_XVFB_PID" || break
      sleep 0.1
    done
    if _typrova_running "$TYPROVA_XVFB_PID"; then
      kill -KILL "$TYPROVA_XVFB_PID" 2>/dev/null || true
    fi
    unset TYPROVA_XVFB_PID
    if [ -n "${TYPROVA_SAVED_DISPLAY:-}" ]; then
      export DISPLAY="$TYPROVA_SAVED_DISPLAY"
    else
      unset DISPLAY
    fi
    unset TYPROVA_SAVED_DISPLAY
  fi
  kill "$TYPROVA_LOCK_PID" 2>/dev/null || true
  wait "$TYPROVA_LOCK_PID" 2>/dev/null || true
  unset TYPROVA_LOCK_PID
  unset TYPROVA_WINE_SESSION
  return 0
}
