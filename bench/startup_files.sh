#!/bin/sh
# Start-up with hostile user files and paths: a key-binding file of 3 million
# entries for one command (30 MB), a settings file of 300 MB, and an
# image-sequence pattern of 1,000 "#" over 1,000,000 frames as the source of a
# project opened from the command line. For each, the seconds until the player's start-up line and its peak
# resident memory. Prints the figures; asserts nothing about time.
#
#   bench/startup_files.sh PLAYER [TIMEOUT_SECONDS]
#
# Runs offscreen in a temporary HOME; each run ends by SIGTERM, or by SIGKILL
# at the time-out.
set -u
player=$(cd "$(dirname "$1")" && echo "$(pwd)/$(basename "$1")")
timeout=${2:-200}
work=$(mktemp -d "${TMPDIR:-/tmp}/tessarin-startup.XXXXXX") || exit 1
trap 'rm -rf "$work"' EXIT
export QT_QPA_PLATFORM=offscreen

# run NAME [ARGS...]: starts the player in a fresh HOME prepared by prepare_NAME.
run() {
  name=$1; shift
  export HOME="$work/$name" TMPDIR="$work/$name/tmp" XDG_RUNTIME_DIR="$work/$name/run"
  mkdir -p "$TMPDIR" "$XDG_RUNTIME_DIR" "$HOME/Documents/tessarin_orvel/config" && chmod 700 "$XDG_RUNTIME_DIR"
  "prepare_$name" "$HOME/Documents/tessarin_orvel/config"
  start=$(date +%s.%N)
  /usr/bin/time -f "%M" -o "$work/$name.mem" "$player" --new "$@" >"$work/$name.log" 2>&1 &
  pid=$!
  ready=""
  while kill -0 "$pid" 2>/dev/null; do
    if grep -q "^Tessarin ORVEL v" "$work/$name.log"; then
      ready=$(echo "$(date +%s.%N) - $start" | bc)
      # The open of a start-up path follows the start-up line.
      sleep 3
      break
    fi
    if [ "$(echo "$(date +%s.%N) - $start > $timeout" | bc)" = 1 ]; then
      break
    fi
    sleep 0.1
  done
  player_pid=$(pgrep -P "$pid" | head -n 1)
  [ -n "$player_pid" ] && kill -TERM "$player_pid" 2>/dev/null
  sleep 5
  [ -n "$player_pid" ] && kill -KILL "$player_pid" 2>/dev/null
  wait "$pid" 2>/dev/null
  memory=$(($(tail -n 1 "$work/$name.mem" 2>/dev/null || echo 0) / 1024))
  if [ -n "$ready" ]; then
    printf '%-9s started in %7.2f s, peak %5d MB\n' "$name" "$ready" "$memory"
  else
    printf '%-9s no start within %d s, peak %5d MB\n' "$name" "$timeout" "$memory"
  fi
}

prepare_bindings() {
  python3 -c "
import sys
sys.stdout.write('[user_bindings]\ntoggleMute=' + ', '.join(['Ctrl+Alt+Shift+F%d' % (i % 12 + 1) for i in range(3000000)]) + '\n')
" >"$1/tessarin_orvel_bindings.ini"
}

prepare_settings() {
  python3 -c "
import sys
sys.stdout.write('[preferences]\ncacheSize=1024\n')
for i in range(3000000):
    sys.stdout.write('junk%d=%s\n' % (i, 'x' * 90))
" >"$1/tessarin_orvel.ini"
}

prepare_sequence() {
  mkdir -p "$work/frames"
  pattern="$work/frames/shot.$(printf '#%.0s' $(seq 1000)).exr 1-1000000"
  printf '{"_meta": {"format": "zeph", "version": 1}, "sources": [{"_id": "{6f1c5a52-3d8e-4d7a-9a57-2f4f8f0b6c11}", "path": "%s", "playback_frame": 0, "output_id": -1}]}\n' \
    "$pattern" >"$work/sequence.zeph"
}

run bindings
run settings
run sequence "$work/sequence.zeph"
