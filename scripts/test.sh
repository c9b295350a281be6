#!/bin/sh
# Installs what is missing, builds and runs every test: once in an optimised build
# with debug information, once with AddressSanitizer and UndefinedBehaviorSanitizer.
set -e
root=$(cd "$(dirname "$0")/.." && pwd)
"$root/scripts/setup.sh"
jobs=$(nproc 2>/dev/null || echo 2)

# The compiler cache stays where it was (its usual place under the real HOME),
# not in the temporary home below, or every run would compile from cold.
if [ -z "${CCACHE_DIR:-}" ] && command -v ccache >/dev/null 2>&1; then
  CCACHE_DIR=$(ccache -k cache_dir 2>/dev/null || true)
  [ -n "$CCACHE_DIR" ] || CCACHE_DIR="${XDG_CACHE_HOME:-$HOME/.cache}/ccache"
  export CCACHE_DIR
fi
# Paths under the clone are hashed relative to it, so a fresh clone of the same
# sources (as CI makes) finds the objects an earlier one compiled.
export CCACHE_BASEDIR="${CCACHE_BASEDIR:-$root}" CCACHE_NOHASHDIR="${CCACHE_NOHASHDIR:-1}"
export CCACHE_SLOPPINESS="${CCACHE_SLOPPINESS:-pch_defines,time_macros}"

# Tests must never touch a real user's files or screen.
export HOME="$(mktemp -d "${TMPDIR:-/tmp}/tessarin-test-home.XXXXXX")"
export XDG_RUNTIME_DIR="$HOME/runtime"
mkdir -p "$XDG_RUNTIME_DIR" && chmod 700 "$XDG_RUNTIME_DIR"
# Tests talk to no session bus (and never start one).
export DBUS_SESSION_BUS_ADDRESS="unix:path=$HOME/no-session-bus"
# Stops the test audio server and removes the temporary home. Never fails the
# run: the server may still be writing into the home while it shuts down.
cleanup() {
  pulseaudio --kill >/dev/null 2>&1 || true
  i=0
  while pactl info >/dev/null 2>&1 && [ $i -lt 40 ]; do i=$((i+1)); sleep 0.05; done
  rm -rf "$HOME" 2>/dev/null || rm -rf "$HOME" 2>/dev/null || true
}
trap cleanup EXIT

# The three trees read one folder of generated media: the first tree's tests
# make it, the others find it made.
media="-DTESSARIN_TEST_MEDIA=$root/build/test-media"
# The optimised tree keeps line tables only: enough for every backtrace a
# failing test prints, and it builds about a quarter faster.
"$root/scripts/build.sh" "$root/build/test" -DCMAKE_BUILD_TYPE=RelWithDebInfo \
  -DCMAKE_CXX_FLAGS_RELWITHDEBINFO="-O2 -g1 -DNDEBUG" "$media"
"$root/scripts/build.sh" "$root/build/asan" -DCMAKE_BUILD_TYPE=Debug -DTESSARIN_SANITIZE=ON -DTESSARIN_BUILD_BENCH=OFF "$media"

# ThreadSanitizer: the media and model tests (the engine's threads and the
# model they read). Debian's Qt and FFmpeg are not built for it: the test
# programs tell it about Qt's queued calls and start programs by a fork it can
# follow (tests/support/tsan/); tests/support/tsan.supp names the libraries'
# own internals, never our code.
tsan_tests=$(cd "$root/tests" && ls media/tst_*.cpp model/tst_*.cpp |
  sed 's#\(.*\)/tst_\(.*\)\.cpp#\1.\2#')
cmake -S "$root" -B "$root/build/tsan" -DCMAKE_BUILD_TYPE=RelWithDebInfo -DTESSARIN_TSAN=ON \
  -DTESSARIN_BUILD_BENCH=OFF "$media" >/dev/null
cmake --build "$root/build/tsan" -j "$jobs" --target tests_media tests_model

status=0
echo "== tests (RelWithDebInfo) =="
ctest --test-dir "$root/build/test" --output-on-failure -j "$jobs" || status=1
echo "== tests (AddressSanitizer + UndefinedBehaviorSanitizer) =="
ASAN_OPTIONS="detect_leaks=1:abort_on_error=1" \
LSAN_OPTIONS="suppressions=$root/tests/support/lsan.supp:print_suppressions=0" \
UBSAN_OPTIONS="print_stacktrace=1:halt_on_error=1" \
  ctest --test-dir "$root/build/asan" --output-on-failure -j "$jobs" || status=1
echo "== tests (ThreadSanitizer) =="
# The longest history, so that the stack of an earlier access is always found
# again and a suppression that names a frame of it can match.
TSAN_OPTIONS="halt_on_error=1:die_after_fork=0:history_size=7:suppressions=$root/tests/support/tsan.supp" \
  ctest --test-dir "$root/build/tsan" --output-on-failure -j "$jobs" \
    -R "^(setup\.(test_media|audio_server)|$(echo $tsan_tests | sed 's/ /|/g; s/\./\\./g'))\$" || status=1
exit $status
