#!/usr/bin/env bash
# Runs one Windows executable under Wine and exits with its exit code: the cross-compiling
# emulator that ctest uses for the Windows builds.  Usage: wine-exec.sh prog.exe [args...]
#
# Inside a session opened by the caller (DISPLAY set, see wine-env.sh) it only runs the
# program. Without DISPLAY it opens its own session around the one run; sessions on one
# prefix take turns on the prefix's lock.
set -uo pipefail

# shellcheck source-path=SCRIPTDIR source=wine-env.sh
source "$(dirname "${BASH_SOURCE[0]}")/wine-env.sh"
wine_env

if [ -n "${DISPLAY:-}" ]; then
  exec "$WINE" "$@" </dev/null
fi

# The program runs in the background and is waited for, so that a ctest timeout (SIGTERM)
# reaches the trap at once and the session is torn down instead of left behind.
child=""
trap '[ -n "$child" ] && kill "$child" 2>/dev/null; exit 143' TERM INT HUP
trap wine_session_stop EXIT
wine_session_start || exit 125
"$WINE" "$@" </dev/null {TYPROVA_LOCK_FD}>&- &
child=$!
wait "$child"
