#!/bin/sh
# Runs one test program in a HOME of its own (so its settings and key-binding
# files are its own), and, with --xvfb, on an Xvfb server of its own with the
# xcb platform (OpenGL through Mesa; the offscreen platform has none).
#   run_gui_test.sh [--xvfb] PROGRAM [ARGS...]
# The server is started with -displayfd, so parallel tests never race for a
# display number.
set -u
xvfb=0
if [ "${1:-}" = "--xvfb" ]; then xvfb=1; shift; fi
work=$(mktemp -d "${TMPDIR:-/tmp}/tessarin-gui-test.XXXXXX")
server=""
cleanup() {
  [ -n "$server" ] && kill "$server" 2>/dev/null && wait "$server" 2>/dev/null
  rm -rf "$work" 2>/dev/null || true
}
trap cleanup EXIT INT TERM
mkdir -p "$work/home"
export HOME="$work/home"
unset XDG_CONFIG_HOME ZEPH_CONFIG_OVERRIDE_PATH
# No session bus: with a display and no bus address, the D-Bus library would
# fork a bus launcher from a threaded process, and under the sanitizers the
# forked child can deadlock in the allocator and hang the test.
export DBUS_SESSION_BUS_ADDRESS="unix:path=$work/no-session-bus"
if [ $xvfb -eq 1 ]; then
  Xvfb -displayfd 3 -screen 0 1920x1080x24 -nolisten tcp -noreset 3>"$work/display" 2>"$work/xvfb.log" &
  server=$!
  i=0
  while [ ! -s "$work/display" ]; do
    i=$((i+1))
    if [ $i -gt 200 ] || ! kill -0 "$server" 2>/dev/null; then
      echo "Xvfb did not start:" >&2; cat "$work/xvfb.log" >&2; exit 1
    fi
    sleep 0.05
  done
  export DISPLAY=":$(head -n1 "$work/display")" QT_QPA_PLATFORM=xcb
fi
"$@"
status=$?
exit $status
