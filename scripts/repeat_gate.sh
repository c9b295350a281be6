#!/bin/sh
# Runs the timing-sensitive tests (CTest label "timing") several times while
# a suite runs beside them with -j$(nproc), about the load of the
# test command itself, so that a test that fails now and then under load is
# found before it fails a submission. Needs built trees (scripts/test.sh or
# scripts/build.sh makes them).
#   sh scripts/repeat_gate.sh [RUNS] [TIMED_BUILD] [LOAD_BUILD]
# RUNS defaults to 5; TIMED_BUILD, the tree whose timing tests repeat, to
# build/test; LOAD_BUILD, the tree whose other tests load the machine, to
# TIMED_BUILD. E.g. the ThreadSanitizer tree beside the optimised suite:
#   sh scripts/repeat_gate.sh 8 build/tsan build/test
# GATE_LOAD_RUNS, when set, keeps the repeats going until that many whole runs
# of the suite beside them have ended; every one of them must pass too.
# GATE_TESTS, when set, narrows the timing tests to those its regular
# expression names (a ThreadSanitizer tree builds the engine's tests alone).
# Ends with status 0 only when every repeat and every suite run beside them passed.
set -u
root=$(cd "$(dirname "$0")/.." && pwd)
runs=${1:-5}
timed=$(cd "${2:-$root/build/test}" && pwd) || exit 2
load=$(cd "${3:-$timed}" && pwd) || exit 2
jobs=$(nproc 2>/dev/null || echo 2)

# The sanitizer options of the test command (ignored by other builds).
export ASAN_OPTIONS="detect_leaks=1:abort_on_error=1"
export LSAN_OPTIONS="suppressions=$root/tests/support/lsan.supp:print_suppressions=0"
export UBSAN_OPTIONS="print_stacktrace=1:halt_on_error=1"
export TSAN_OPTIONS="halt_on_error=1:die_after_fork=0:history_size=7:suppressions=$root/tests/support/tsan.supp"

# Each of the two runs gets a HOME, runtime directory and audio server of its
# own: the load's sound tests never mix into the timed tests' capture.
base=$(mktemp -d "${TMPDIR:-/tmp}/tessarin-gate.XXXXXX") || exit 2
loader=""
cleanup() {
  if [ -n "$loader" ]; then
    # The loop first, so that it starts no new run, then the run under way.
    children=$(pgrep -P "$loader")
    kill "$loader" 2>/dev/null
    for child in $children; do pkill -P "$child" 2>/dev/null; kill "$child" 2>/dev/null; done
    wait "$loader" 2>/dev/null
  fi
  for side in timed load; do
    HOME="$base/$side" XDG_RUNTIME_DIR="$base/$side/runtime" pulseaudio --kill >/dev/null 2>&1 || true
  done
  rm -rf "$base" 2>/dev/null || true
}
trap cleanup EXIT
trap 'exit 2' INT TERM HUP
for side in timed load; do
  mkdir -p "$base/$side/runtime" && chmod 700 "$base/$side/runtime"
done
in_side() {
  side=$1; shift
  HOME="$base/$side" XDG_RUNTIME_DIR="$base/$side/runtime" \
    DBUS_SESSION_BUS_ADDRESS="unix:path=$base/$side/no-session-bus" "$@"
}

# Test media is made once in each tree before the two runs share it.
for tree in "$timed" "$load"; do
  in_side load ctest --test-dir "$tree" -R '^setup\.test_media$' >/dev/null 2>&1 ||
    { echo "could not make the test media in $tree"; exit 2; }
done

# The load: the tests of LOAD_BUILD, again and again until the repeats end; from
# the timed tree itself only the others. Each whole run's result is kept.
load_filter="-LE timing"
[ "$load" = "$timed" ] || load_filter=""
(
  n=1
  while :; do
    if in_side load ctest --test-dir "$load" -j "$jobs" $load_filter --output-on-failure >"$base/load.log" 2>&1; then
      echo "passed" >>"$base/load.results"
    else
      echo "FAILED" >>"$base/load.results"
      cp "$base/load.log" "$base/load.failed.$n.log"
    fi
    n=$((n + 1))
  done
) &
loader=$!

failed=0
log="$base/timed.log"
i=1
load_runs=${GATE_LOAD_RUNS:-0}
load_ended() { cat "$base/load.results" 2>/dev/null | wc -l; }
while [ "$i" -le "$runs" ] || [ "$(load_ended)" -lt "$load_runs" ]; do
  if in_side timed ctest --test-dir "$timed" -L timing ${GATE_TESTS:+-R "$GATE_TESTS"} -V >"$log" 2>&1; then
    # A check skipped says why, e.g. that the machine starved the sound.
    echo "run $i: passed, $(grep -c "SKIP   :" "$log") checks skipped"
  else
    failed=$((failed + 1))
    echo "run $i: FAILED"
    grep -E "Test +#[0-9]+: .*(Failed|Exception|Timeout)|FAIL!|Loc: " "$log" | sed 's/^/  /'
  fi
  i=$((i + 1))
done
runs=$((i - 1))
echo "timing tests of $timed: $((runs - failed)) of $runs runs passed beside the suite of $load"
# Only the suite runs that ended while the repeats ran count.
load_done=$(load_ended)
load_failed=$(grep -c FAILED "$base/load.results" 2>/dev/null || true)
echo "the suite beside them: ${load_done:-0} whole runs ended, ${load_failed:-0} failed"
for f in "$base"/load.failed.*.log; do
  [ -f "$f" ] && grep -E "Test +#[0-9]+: .*(Failed|Exception|Timeout)|FAIL!|Loc: " "$f" | sed 's/^/  /'
done
[ "$failed" -eq 0 ] && [ "${load_failed:-0}" -eq 0 ]
