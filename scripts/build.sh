#!/bin/sh
# Configures and builds one build tree: scripts/build.sh BUILD_DIR [extra cmake options...]
set -e
root=$(cd "$(dirname "$0")/.." && pwd)
dir=$1; shift
jobs=$(nproc 2>/dev/null || echo 2)
# Paths under the clone are hashed relative to it (see scripts/test.sh).
export CCACHE_BASEDIR="${CCACHE_BASEDIR:-$root}" CCACHE_NOHASHDIR="${CCACHE_NOHASHDIR:-1}"
# The test programs share one precompiled header: the cache takes a compile
# that reads it only when told that its macros and times may be taken as they are.
export CCACHE_SLOPPINESS="${CCACHE_SLOPPINESS:-pch_defines,time_macros}"
cmake -S "$root" -B "$dir" "$@" >/dev/null
cmake --build "$dir" -j "$jobs"
