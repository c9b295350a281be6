#!/bin/sh
# End-to-end checks of the application shell: the files written at start-up and
# on quit signals, user key bindings, the single-instance channel between
# launches and the command port. Runs the real player under an X server:
#   xvfb-run -a sh shell_checks.sh PLAYER MEDIA_FILE
# Everything happens in a temporary HOME (and TMPDIR, which also keeps the
# single-instance segment apart from any player the user runs).
set -u
absolute() { (cd "$(dirname "$1")" && echo "$(pwd)/$(basename "$1")"); }
player=$(absolute "$1")
media=$(absolute "$2")

work=$(mktemp -d "${TMPDIR:-/tmp}/tessarin-shell.XXXXXX") || exit 1
export HOME="$work/home" TMPDIR="$work/tmp" XDG_RUNTIME_DIR="$work/run" QT_QPA_PLATFORM=xcb
unset XDG_CONFIG_HOME ZEPH_CONFIG_OVERRIDE_PATH
mkdir -p "$HOME" "$TMPDIR" "$XDG_RUNTIME_DIR" && chmod 700 "$XDG_RUNTIME_DIR"
config="$HOME/Documents/tessarin_orvel/config"
settings="$config/tessarin_orvel.ini"
bindings="$config/tessarin_orvel_bindings.ini"

pids=""
failures=0
cleanup() {
  for pid in $pids; do kill -KILL "$pid" 2>/dev/null; done
  if [ "$failures" -ne 0 ]; then
    echo "$failures check(s) failed"
    for log in "$work"/*.log; do echo "== $log"; cat "$log"; done
  fi
  rm -rf "$work"
}
trap cleanup EXIT
trap 'exit 2' INT TERM HUP

fail() { echo "FAIL: $*"; failures=$((failures + 1)); }
pass() { echo "ok: $*"; }

# wait_for SECONDS COMMAND...: polls the command every 0.1 s until it succeeds.
wait_for() {
  tries=$(($1 * 10)); shift
  while [ "$tries" -gt 0 ]; do
    "$@" && return 0
    sleep 0.1
    tries=$((tries - 1))
  done
  return 1
}

ready() { grep -q "^Tessarin ORVEL v" "$work/$1.log" 2>/dev/null; }
alive() { kill -0 "$1" 2>/dev/null; }
dead() { ! alive "$1"; }

# start NAME [ARGS...]: runs the player in the background; its pid is in $started.
start() {
  name=$1; shift
  "$player" "$@" >"$work/$name.log" 2>&1 &
  started=$!
  pids="$pids $started"
  if ! wait_for 30 ready "$name"; then
    fail "$name did not start"
    cat "$work/$name.log"
    return 1
  fi
}

# stop PID SIGNAL: sends the signal and waits for a clean exit.
stop() {
  kill "-$2" "$1"
  if ! wait_for 30 dead "$1"; then
    fail "player $1 ignored SIG$2"
    kill -KILL "$1"
  fi
  wait "$1"
  status=$?
  [ "$status" -eq 0 ] || fail "player $1 exited with $status after SIG$2"
}

# forward NAME FOLDER [ARGS...]: a launch from FOLDER that must hand over its
# arguments and end with 0.
forward() {
  name=$1; folder=$2; shift 2
  (cd "$folder" && exec timeout 30 "$player" "$@") >"$work/$name.log" 2>&1
  status=$?
  if [ "$status" -ne 0 ]; then
    fail "$name exited with $status instead of handing over"
  elif ready "$name"; then
    fail "$name built a window although another instance runs"
  else
    pass "$name handed its arguments over"
  fi
}

# The addresses (hex, as in /proc/net/tcp*) of the sockets the process listens on.
listening_addresses() {
  inodes=$(ls -l "/proc/$1/fd" 2>/dev/null | sed -n 's/.*socket:\[\([0-9]*\)\].*/\1/p' | tr '\n' ' ')
  cat "/proc/$1/net/tcp" "/proc/$1/net/tcp6" 2>/dev/null |
    awk -v inodes=" $inodes" '$4 == "0A" && index(inodes, " " $10 " ") { print $2 }'
}

check_loopback_only() {
  addresses=$(listening_addresses "$1")
  for address in $addresses; do
    host=${address%%:*}
    case "$host" in
      ??????7F | 00000000000000000000000001000000) ;;
      *) fail "$2 listens on a non-loopback address ($address)"; return ;;
    esac
  done
  if [ -n "$addresses" ]; then
    pass "$2 listens on loopback only ($addresses)"
  else
    fail "$2 listens on no port (is 17176 taken by another program?)"
  fi
}

has_line() { grep -qxF -- "$2" "$1" 2>/dev/null; }

check_files_written() {
  for group in "[main]" "[menu]" "[preferences]" "[timeControl]"; do
    has_line "$settings" "$group" || fail "$1: settings file lacks $group"
  done
  has_line "$settings" "version=1" && has_line "$settings" "cacheSize=512" &&
    has_line "$settings" "clientApiPort=17176" || fail "$1: settings file lacks its keys"
  has_line "$bindings" "[main]" && has_line "$bindings" "[user_bindings]" &&
    has_line "$bindings" "version=1" && has_line "$bindings" "playPause=Space" &&
    has_line "$bindings" 'zoomIn=Ctrl++, "Ctrl+="' || fail "$1: key-binding file lacks its groups or keys"
  [ "$failures" -eq "$2" ] && pass "$1: settings and key-binding files written"
}

# The most recent file in the settings file is $1.
recent_file_is() {
  awk -v entry="recentFiles=$1" 'index($0, entry) == 1 {
      rest = substr($0, length(entry) + 1); if (rest == "" || index(rest, ",") == 1) found = 1 }
    END { exit !found }' "$settings" 2>/dev/null
}

# --- First run, then every quit signal writes both files -------------------
before=$failures
start first || exit 1
check_loopback_only "$started" "the first instance"
[ -e "$settings" ] || [ -e "$bindings" ] && fail "files written before quitting"
stop "$started" TERM
check_files_written "first run, SIGTERM" "$before"

for signal in INT HUP; do
  rm -f "$settings" "$bindings"
  before=$failures
  start "quit_$signal" || exit 1
  stop "$started" "$signal"
  check_files_written "SIG$signal" "$before"
done

# --- A user's binding applies; a clash goes to the smaller id ---------------
printf '[user_bindings]\ntoggleMute=Space\nzoomOut=Ctrl+Shift+Z\n' >"$bindings"
start bindings || exit 1
stop "$started" TERM
grep -qF "[WARNING] Duplicate hotkey detected: Toggle Mute (Space)" "$work/bindings.log" ||
  fail "no clash warning for Toggle Mute"
if has_line "$bindings" "toggleMute=" && has_line "$bindings" "playPause=Space" &&
  has_line "$bindings" "zoomOut=Ctrl+Shift+Z"; then
  pass "user binding kept, clash lost by the larger id"
else
  fail "user bindings not applied as expected"; cat "$bindings"
fi

# --- A settings or key-binding file that is a FIFO is neither read nor written over --
for kind in settings bindings; do
  rm -f "$settings" "$bindings"
  if [ "$kind" = settings ]; then
    fifo=$settings; other=$bindings; warning="Failed to read the user settings file: $settings"
    kept="The user settings file was not read, so it is kept and this session's settings are not saved: $settings"
  else
    fifo=$bindings; other=$settings; warning="Failed to read the key-binding file: $bindings"
    kept="The key-binding file was not read, so it is kept and this session's key bindings are not saved: $bindings"
  fi
  mkdir -p "$config" && mkfifo "$fifo"
  start "fifo_$kind" || exit 1
  grep -qF "[WARNING] $warning (not a regular file)" "$work/fifo_$kind.log" || fail "no warning about the $kind FIFO"
  stop "$started" TERM
  grep -qF "[WARNING] $kept" "$work/fifo_$kind.log" || fail "no word that the $kind were not saved"
  # Never grep the FIFO itself: that would block.
  if [ -p "$fifo" ] && [ -f "$other" ] && [ -s "$other" ]; then
    pass "the $kind FIFO kept, the other file written"
  else
    fail "the $kind FIFO was written over, or the other file not written"
  fi
done
rm -f "$settings" "$bindings"

# --- No folder takes a private copy: the user's files are still read -------
# TMPDIR naming a file, no runtime folder and a settings folder that takes no
# new file: the player reads both files in memory, listens on the user's port,
# and writes neither back, which it says once each. Root writes into any
# folder: as root the player runs as user nobody.
no_copy_player() {
  if [ "$(id -u)" -eq 0 ]; then
    set -- setpriv --reuid=65534 --regid=65534 --clear-groups "$@"
  fi
  exec "$@" env -u XDG_RUNTIME_DIR TMPDIR="$work/tmp-is-a-file" HOME="$HOME" QT_QPA_PLATFORM=offscreen \
    "$player" --new
}
if [ "$(id -u)" -ne 0 ] || command -v setpriv >/dev/null 2>&1; then
  port=$((20000 + $$ % 20000))
  mkdir -p "$config" && : >"$work/tmp-is-a-file"
  printf '[preferences]\nclientApiPort=%d\nclientApiPortEnabled=true\n' "$port" >"$settings"
  printf '[user_bindings]\ntoggleMute=Space\n' >"$bindings"
  cp "$settings" "$work/settings.kept" && cp "$bindings" "$work/bindings.kept"
  chmod 755 "$work" && chmod -R a+rX "$HOME" && chmod 555 "$config"
  (no_copy_player) >"$work/no_copy.log" 2>&1 &
  started=$!
  pids="$pids $started"
  if wait_for 30 ready no_copy; then
    listening_addresses "$started" | grep -q ":$(printf '%04X' "$port")\$" ||
      fail "without a private copy the player does not listen on the user's port $port"
    grep -qF "[WARNING] Duplicate hotkey detected: Toggle Mute (Space)" "$work/no_copy.log" ||
      fail "without a private copy the user's key bindings were not applied"
    stop "$started" TERM
    for kind in "user settings file" "key-binding file"; do
      [ "$(grep -cF "No folder could take a private copy of the $kind, so it was read in memory" "$work/no_copy.log")" -eq 1 ] ||
        fail "not said once that the $kind was read in memory and is not saved"
    done
    # (The config folder's own check at the first show says it is not writable.)
    grep -F "Failed to write" "$work/no_copy.log" | grep -vF "Failed to write to config directory" | grep -q . &&
      fail "a write over the files read in memory was tried"
    if cmp -s "$settings" "$work/settings.kept" && cmp -s "$bindings" "$work/bindings.kept"; then
      pass "without a private copy the user's files were read, kept and not written"
    else
      fail "a file read in memory was changed"
    fi
  else
    fail "the player without a private copy did not start"
  fi
  chmod 755 "$config"
  rm -f "$settings" "$bindings"
else
  echo "skipped: no folder to make read-only for root (no setpriv)"
fi

# --- Second launches hand their arguments to the first ----------------------
start owner || exit 1
owner=$started
rm -f "$settings" "$bindings"
forward relative "$(dirname "$media")" "$(basename "$media")"
if wait_for 10 recent_file_is "$media"; then
  pass "a relative path arrived absolute"
else
  fail "the owner did not open $media"
fi
[ -e "$bindings" ] && fail "a forwarding launch wrote the key-binding file"
forward noargs "$work"
alive "$owner" || fail "the owner ended after an empty message"

# Another user's launches are not locked out by ours: they get an instance and
# a channel of their own (checked only when run as root, as user nobody).
if [ "$(id -u)" -eq 0 ] && command -v setpriv >/dev/null 2>&1; then
  other="$work/other"
  mkdir -p "$other/run" && chmod 755 "$work" && chmod 1777 "$TMPDIR" && chmod 777 "$other" &&
    chown 65534 "$other/run" && chmod 700 "$other/run"
  # Replaces the (sub)shell it runs in, so that $! is the player itself.
  exec_as_other() {
    exec setpriv --reuid=65534 --regid=65534 --clear-groups \
      env HOME="$other" XDG_RUNTIME_DIR="$other/run" QT_QPA_PLATFORM=offscreen "$@"
  }
  if (exec_as_other test -x "$player") && (exec_as_other test -r "$media"); then
    exec_as_other "$player" >"$work/other_owner.log" 2>&1 &
    other_owner=$!
    pids="$pids $other_owner"
    if wait_for 30 ready other_owner && alive "$other_owner"; then
      (exec_as_other timeout 30 "$player" "$media") >"$work/other_forward.log" 2>&1
      status=$?
      if [ "$status" -eq 0 ] && ! ready other_forward; then
        pass "another user's launches run and reach each other beside ours"
      else
        fail "another user's second launch did not reach their first ($status)"
      fi
      stop "$other_owner" TERM
      # A hand-over the owner had not opened yet when it quit went on to a
      # new player of that user: it ends here too.
      pkill -TERM -u 65534 -x -f "$player $media" 2>/dev/null
      wait_for 30 sh -c "! pgrep -u 65534 -x -f '$player $media' >/dev/null" ||
        fail "the player another user's quitting player passed its hand-over to did not end"
    else
      fail "another user's launch did not start beside ours"
    fi
  else
    echo "skipped: user nobody cannot run $player"
  fi
fi

# A path too long for one record: that launch runs as an instance of its own.
long_dir="$work/$(printf '%0120d' 0)/$(printf '%0120d' 1)"
mkdir -p "$long_dir" && ln -s "$media" "$long_dir/clip.mp4"
start overlong "$long_dir/clip.mp4" || exit 1
grep -qF "[WARNING] Arguments too long to hand over" "$work/overlong.log" ||
  fail "no warning about the overlong path"
wait_for 10 recent_file_is "$long_dir/clip.mp4" || fail "the overlong launch did not open its file"
stop "$started" TERM
if grep -q "ERROR" "$work/owner.log"; then
  fail "the owner received a garbled message"
else
  pass "an overlong path opened in its own instance, nothing garbled reached the owner"
fi

# --new starts an instance of its own beside the owner.
start new --new "$media" || exit 1
alive "$started" && alive "$owner" && pass "--new started its own instance"
stop "$started" TERM

# --- After kill -9 of the owner the next launch becomes the owner ----------
kill -KILL "$owner"
wait "$owner" 2>/dev/null
start successor || exit 1
successor=$started
rm -f "$settings"
forward after_kill "$work" "$media"
if wait_for 10 recent_file_is "$media" && alive "$successor"; then
  pass "the launch after kill -9 became the owner"
else
  fail "the launch after kill -9 did not receive the next launch"
fi
check_loopback_only "$successor" "the new owner"
stop "$successor" TERM

[ "$failures" -ne 0 ] && exit 1
echo "all shell checks passed"
