#!/bin/sh
# Installs what is missing, builds and runs every test: once in an optimised build
# with debug information, once with AddressSanitizer and UndefinedBehaviorSanitizer.
set -e
root=$(cd "$(dirname "$0")/.." && pwd)
"$root/scripts/setup.sh"
jobs=$(nproc 2>/dev/null || echo 2)

# Tests must never touch a real user's files or screen.
export HOME="$(mktemp -d "${TMPDIR:-/tmp}/tessarin-test-home.XXXXXX")"
export XDG_RUNTIME_DIR="$HOME/runtime"
mkdir -p "$XDG_RUNTIME_DIR" && chmod 700 "$XDG_RUNTIME_DIR"
# Stops the test audio server and removes the temporary home. Never fails the
# run: the server may still be writing into the home while it shuts down.
cleanup() {
  pulseaudio --kill >/dev/null 2>&1 || true
  i=0
  while pactl info >/dev/null 2>&1 && [ $i -lt 40 ]; do i=$((i+1)); sleep 0.05; done
  rm -rf "$HOME" 2>/dev/null || rm -rf "$HOME" 2>/dev/null || true
}
trap cleanup EXIT

"$root/scripts/build.sh" "$root/build/test" -DCMAKE_BUILD_TYPE=RelWithDebInfo
"$root/scripts/build.sh" "$root/build/asan" -DCMAKE_BUILD_TYPE=Debug -DTESSARIN_SANITIZE=ON -DTESSARIN_BUILD_BENCH=OFF

status=0
echo "== tests (RelWithDebInfo) =="
ctest --test-dir "$root/build/test" --output-on-failure -j "$jobs" || status=1
echo "== tests (AddressSanitizer + UndefinedBehaviorSanitizer) =="
ASAN_OPTIONS="detect_leaks=1:abort_on_error=1" \
LSAN_OPTIONS="suppressions=$root/tests/support/lsan.supp:print_suppressions=0" \
UBSAN_OPTIONS="print_stacktrace=1:halt_on_error=1" \
  ctest --test-dir "$root/build/asan" --output-on-failure -j "$jobs" || status=1
exit $status
