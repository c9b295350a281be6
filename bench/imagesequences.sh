#!/bin/sh
# Image sequences at 2K against ffmpeg, every program pinned to the same two
# cores: `tessarin_bench fill` on an EXR sequence (half float, ZIP16) and a
# 10-bit DPX sequence, each against ffmpeg decoding the same files into the
# format the viewer is handed (the ratio), with the peak memory. Give two
# build folders to compare two builds in one run, alternating per sequence.
#
#   bench/imagesequences.sh [BUILD_DIR...]
#
# BUILD_DIR defaults to build/dev. TESSARIN_BENCH_MEDIA names a folder to make
# the sequences in and keep (a temporary one otherwise); TESSARIN_BENCH_CORES
# the cores (2,3).
set -e
root=$(cd "$(dirname "$0")/.." && pwd)
builds="$*"
[ -n "$builds" ] || builds="$root/build/dev"
for build in $builds; do
  [ -x "$build/bench/tessarin_bench" ] || { echo "no $build/bench/tessarin_bench: build it first" >&2; exit 1; }
done
if [ -n "${TESSARIN_BENCH_MEDIA:-}" ]; then
  media=$TESSARIN_BENCH_MEDIA
  mkdir -p "$media"
else
  media=$(mktemp -d "${TMPDIR:-/tmp}/tessarin-bench.XXXXXX")
  trap 'rm -rf "$media"' EXIT
fi
pinned=${TESSARIN_BENCH_CORES:-2,3}
frames=72
ff() { ffmpeg -nostdin -v error -y "$@"; }
source="testsrc2=size=2048x1080:rate=24:duration=3"
[ -s "$media/exr_2k/frame.0072.exr" ] || { mkdir -p "$media/exr_2k" &&
  ff -f lavfi -i "$source" -pix_fmt gbrpf32le -c:v exr -compression zip16 -format half -start_number 1 \
    "$media/exr_2k/frame.%04d.exr"; }
[ -s "$media/dpx_2k_10bit/frame.0072.dpx" ] || { mkdir -p "$media/dpx_2k_10bit" &&
  ff -f lavfi -i "$source" -pix_fmt gbrp10le -c:v dpx -start_number 1 "$media/dpx_2k_10bit/frame.%04d.dpx"; }

status=0
log="$media/bench.log"
for sequence in "exr_2k/frame.####.exr" "dpx_2k_10bit/frame.####.dpx"; do
  for build in $builds; do
    echo "-- $build, pinned to cores $pinned (load average $(cut -d' ' -f1 /proc/loadavg))"
    if ! taskset -c "$pinned" "$build/bench/tessarin_bench" fill "$media/$sequence 1-$frames" 2> "$log"; then
      grep '^tessarin_bench:' "$log" || echo "tessarin_bench failed on $sequence"
      status=1
    fi
  done
done
exit $status
