#!/bin/sh
# Soak over mixed media, run by hand (not in CI): `tessarin_bench soak` plays,
# pauses, seeks, steps, changes speed, direction, loop and file at random for
# ten minutes (by default) and checks every frame it settles on; it prints its
# progress every 30 s and each failure with the steps that led to it.
#
#   bench/soak.sh [BUILD_DIR] [--seconds N] [--seed N]
#
# BUILD_DIR defaults to build/test. The media are the test media of the build
# (made when missing): long and open GOPs, MPEG-2 TS with and without a
# start offset, MJPEG, RGBA, an odd size, a raw H.264 stream, variable frame
# rates with B-frames, PNG and JPEG sequences, one with broken files. When
# TESSARIN_BENCH_MEDIA names the folder bench/run.sh made its 1080p files in,
# those are soaked too. Exits non-zero when anything failed.
set -e
root=$(cd "$(dirname "$0")/.." && pwd)
build=""
seconds=600
seed=$(date +%s)
while [ $# -gt 0 ]; do
  case $1 in
    --seconds) seconds=${2:?--seconds needs a number}; shift 2 ;;
    --seed) seed=${2:?--seed needs a number}; shift 2 ;;
    *) build=$1; shift ;;
  esac
done
[ -n "$build" ] || build="$root/build/test"
bench="$build/bench/tessarin_bench"
[ -x "$bench" ] || { echo "no $bench: build it first" >&2; exit 1; }

media="$build/test-media"
sh "$root/tests/media/make_test_media.sh" "$media" >/dev/null
set -- \
  "$media/numbered_gop250.mp4" \
  "$media/numbered_opengop.mkv" \
  "$media/numbered_mpeg2.ts" \
  "$media/numbered_offset.ts" \
  "$media/numbered_mjpeg.mov" \
  "$media/numbered_rgba.mov" \
  "$media/numbered_odd_333x241.mkv" \
  "$media/numbered_raw.h264" \
  "$media/numbered_restart.ts" \
  "$media/numbered_vfr.mkv" \
  "$media/numbered_vfr_bframes.mp4" \
  "$media/seq_png/img.####.png 1-30" \
  "$media/seq_jpg/img.###.jpg 1-12" \
  "$media/seq_broken/shot.####.png 1001-1024"
large=${TESSARIN_BENCH_MEDIA:-}
if [ -n "$large" ] && [ -s "$large/h264_1080p_gop250.mp4" ]; then
  set -- "$@" "$large/h264_1080p_gop250.mp4" "$large/prores_hq_1080p.mov" "$large/png_1080p/frame.####.png 1-48"
fi

echo "Soak of $# sources for $seconds s, seed $seed ($(nproc) threads)"
# Pictures only: keep the soak off the audio server.
PULSE_SERVER=unix:/nonexistent/tessarin-soak-no-audio \
  "$bench" soak "$@" --seconds "$seconds" --seed "$seed"
