# A private Wine session for tests and runs: its own prefix, its own virtual X display and one
# persistent wineserver, all stopped again by wine_session_stop. Sourced by the scripts.
#
# wine_session_start PREFIX_DIR [visible]: with "visible" and a DISPLAY, windows go to that display;
# otherwise to a private Xvfb, where Wine draws the title bars itself (no window manager there).

WINE64=/usr/lib/wine/wine64
# The loader the session's own steps run (boot, registry); scripts/test-i686 sets the 32-bit one.
WINE_LOADER=${WINE_LOADER:-$WINE64}
# Debian's wine64 package ships the server only under /usr/lib/wine (no wineserver on PATH).
WINESERVER=/usr/lib/wine/wineserver
export WINEDEBUG=${WINEDEBUG:--all}
# A new prefix is for 64-bit Windows unless M770B_WINEARCH says otherwise (scripts/test-i686).
export WINEARCH=${M770B_WINEARCH:-win64}

wine_session_xvfb_pid=""

wine_session_start() {
  export WINEPREFIX=$1
  local visible=${2:-}
  if [ "$visible" != visible ] || [ -z "${DISPLAY:-}" ]; then
    local n=90
    while [ -e "/tmp/.X$n-lock" ] || [ -e "/tmp/.X11-unix/X$n" ]; do n=$((n + 1)); done
    Xvfb ":$n" -screen 0 1280x1024x24 -dpi 96 -nolisten tcp >/dev/null 2>&1 &
    wine_session_xvfb_pid=$!
    export DISPLAY=":$n"
    local i
    for i in $(seq 50); do [ -e "/tmp/.X11-unix/X$n" ] && break; sleep 0.1; done
  fi
  mkdir -p "$WINEPREFIX"
  # The first start of a prefix sets it up (several seconds); later starts reuse it. The setup
  # must have finished (its wineserver gone) before one persistent server is started for the run.
  "$WINE_LOADER" wineboot --init >/dev/null 2>&1 || true
  "$WINESERVER" -w 2>/dev/null || true
  "$WINESERVER" -p
  # A plain boot in the persistent server starts Wine's services now, with no terminal or pipe
  # of ours as their standard handles, rather than on behalf of the first test program.
  "$WINE_LOADER" wineboot </dev/null >/dev/null 2>&1 || true
  if [ -n "$wine_session_xvfb_pid" ]; then
    # No window manager runs on our own display: left to wait for one, Wine spends 2 s on every
    # hiding of a top-level window. Wine draws the title bars itself, their buttons in Marlett,
    # which this Wine finds only in the prefix.
    "$WINE_LOADER" reg add 'HKCU\Software\Wine\X11 Driver' /v Managed /d N /f >/dev/null 2>&1 || true
    mkdir -p "$WINEPREFIX/drive_c/windows/Fonts"
    cp /usr/share/wine/fonts/marlett.ttf "$WINEPREFIX/drive_c/windows/Fonts/" 2>/dev/null || true
  fi
}

wine_session_stop() {
  "$WINESERVER" -k 2>/dev/null || true
  if [ -n "$wine_session_xvfb_pid" ]; then
    kill "$wine_session_xvfb_pid" 2>/dev/null || true
    wait "$wine_session_xvfb_pid" 2>/dev/null || true
    wine_session_xvfb_pid=""
  fi
}
