#!/bin/sh
# How often a paused player wakes up. Starts the player under Xvfb on a
# generated clip (720p H.264 with sound, 10 s), leaves it paused on its first
# frame, waits until its cache has filled (the process stops using CPU), then
# sums the voluntary and involuntary context switches of all its threads over
# a window. Prints wake-ups per second and CPU-seconds per minute, the busiest
# threads, and the same for mpv paused on the clip when mpv is installed.
# Asserts nothing about time.
#
# With --played, the player is played for two seconds and paused again (the
# space key) before the measure: what play started must have stopped. The
# sound goes to the audio server the caller's environment names (its
# XDG_RUNTIME_DIR or PULSE_SERVER), when one answers.
#
#   bench/idle_wakeups.sh [--played] PLAYER [SECONDS]
set -u
played=0
if [ "${1:-}" = --played ]; then
  played=1
  shift
fi
player=$(cd "$(dirname "$1")" && echo "$(pwd)/$(basename "$1")")
window=${2:-20}
if [ -z "${PULSE_SERVER:-}" ] && [ -S "${XDG_RUNTIME_DIR:-/nonexistent}/pulse/native" ]; then
  export PULSE_SERVER="unix:$XDG_RUNTIME_DIR/pulse/native"
fi
work=$(mktemp -d "${TMPDIR:-/tmp}/tessarin-idle.XXXXXX") || exit 1
pids=""
cleanup() {
  for p in $pids; do kill "$p" 2>/dev/null; done
  sleep 1
  for p in $pids; do kill -9 "$p" 2>/dev/null; done
  rm -rf "$work"
}
trap cleanup EXIT

clip="$work/clip.mp4"
ffmpeg -nostdin -v error -y -f lavfi -i "testsrc2=size=1280x720:rate=25:duration=10" \
  -f lavfi -i "sine=frequency=440:sample_rate=48000:duration=10" -map 0:v -map 1:a \
  -c:v libx264 -preset veryfast -pix_fmt yuv420p -g 50 -c:a aac -b:a 96k "$clip" || exit 1

# switches PID: voluntary + involuntary context switches of all its threads.
switches() {
  cat /proc/"$1"/task/*/status 2>/dev/null |
    awk '/^(voluntary|nonvoluntary)_ctxt_switches/ {s += $2} END {print s + 0}'
}
# ticks PID: user + system CPU time of the process, in clock ticks.
ticks() { awk '{print $14 + $15}' /proc/"$1"/stat 2>/dev/null; }
# per_thread PID: "switches name" of every thread.
per_thread() {
  for t in /proc/"$1"/task/*; do
    awk -v tid="${t##*/}" '/^Name:/ {n = $2} /_ctxt_switches/ {s += $2} END {print tid, s + 0, n}' "$t/status" 2>/dev/null
  done
}

# settle PID: waits until the process used under 2 % of a core for 2 s in a
# row (the cache has filled), at most 60 s.
settle() {
  hz=$(getconf CLK_TCK)
  quiet=0
  for _ in $(seq 60); do
    before=$(ticks "$1")
    sleep 1
    after=$(ticks "$1")
    [ -z "$after" ] && return 1
    if [ $((after - before)) -le $((hz / 50)) ]; then
      quiet=$((quiet + 1))
      [ "$quiet" -ge 2 ] && return 0
    else
      quiet=0
    fi
  done
  return 0
}

# measure NAME PID: prints the figures of the window.
measure() {
  hz=$(getconf CLK_TCK)
  per_thread "$2" | sort >"$work/threads.before"
  s0=$(switches "$2")
  c0=$(ticks "$2")
  sleep "$window"
  s1=$(switches "$2")
  c1=$(ticks "$2")
  per_thread "$2" | sort >"$work/threads.after"
  echo "$1 $s0 $s1 $c0 $c1" | awk -v w="$window" -v hz="$hz" \
    '{printf "%-10s wake-ups/s %8.1f   CPU-s/min %6.3f\n", $1, ($3 - $2) / w, ($5 - $4) / hz / w * 60}'
  join "$work/threads.before" "$work/threads.after" |
    awk -v w="$window" '{d = ($4 - $2) / w; if (d >= 1) printf "    thread %-16s %7.1f/s\n", $3, d}' |
    sort -k3 -n -r | head -8
}

export HOME="$work/home" XDG_RUNTIME_DIR="$work/run"
mkdir -p "$HOME" "$XDG_RUNTIME_DIR" && chmod 700 "$XDG_RUNTIME_DIR"
export DISPLAY=:${IDLE_WAKEUPS_DISPLAY:-97}
Xvfb "$DISPLAY" -screen 0 1920x1080x24 -nolisten tcp >/dev/null 2>&1 &
pids="$pids $!"
sleep 1

"$player" --new "$clip" >"$work/player.log" 2>&1 &
tp=$!
pids="$pids $tp"
sleep 3
settle "$tp" || { echo "player ended early"; cat "$work/player.log"; exit 1; }
if [ "$played" = 1 ]; then
  # press: sends the space key to the player's window.
  press() {
    for wid in $(xdotool search --pid "$tp" --onlyvisible 2>/dev/null); do
      xdotool windowfocus --sync "$wid" key space 2>/dev/null && return 0
    done
    echo "no player window to press a key in"
    return 1
  }
  press || exit 1
  sleep 2
  press || exit 1
  settle "$tp" || { echo "player ended early"; cat "$work/player.log"; exit 1; }
fi
tessarin=$(measure tessarin "$tp")
kill "$tp" 2>/dev/null
echo "$tessarin"

if command -v mpv >/dev/null 2>&1; then
  mpv --no-config --pause --vo=x11 "$clip" >/dev/null 2>&1 &
  mp=$!
  pids="$pids $mp"
  sleep 3
  settle "$mp"
  measure mpv "$mp"
fi
