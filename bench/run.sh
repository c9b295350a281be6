#!/bin/sh
# Playback benchmarks on media made here with ffmpeg: for each build given,
# `tessarin_bench speed` on 1080p and 4K H.264 long-GOP files with B-frames, a
# 1080p ProRes file and a 1080p PNG sequence (decode rates, playback, seek,
# real-time play at 1x, memory, each against ffmpeg on this machine in the
# same run), `tessarin_bench loop` on the two long-GOP files (a range looped
# at 1x from its start, and the 1080p range once more from a frame parked on
# inside it: the hold at each wrap, the pictures decoded per pass), and the time to the first picture of 20 s long-GOP files at 1080p
# and 4K opened afresh, on two cores and on all, beside a whole
# `mpv --frames=1` run when mpv is installed (bench/open_times.py). Give two
# build folders to compare two builds on one machine.
#
# Then, every program pinned to the same two cores: the first picture of
# MPEG-TS files (1080p and 4K, 20 s; 720p, 1 and 10 min), of HEVC in MP4
# and MKV, of VP9 in WebM and AV1 in MP4 beside a whole mpv run; random
# exact seeks in MPEG-TS beside the same seeks in MP4; the forward fill of the
# 4K file at its cache size and of the ProRes file, each against ffmpeg
# decoding into the same format, and the refill after a seek from the end
# back to the start. With --quick only these
# pinned rows are run.
#
#   bench/run.sh [BUILD_DIR...] [--soak SECONDS] [--quick]
#
# BUILD_DIR defaults to build/test (scripts/test.sh makes it). --soak also runs
# `tessarin_bench soak` over the three files. TESSARIN_BENCH_MEDIA names a
# folder to make the media in and keep (a temporary one otherwise);
# TESSARIN_BENCH_4K_CACHE_MB the cache size for the 4K file (3000 MB).
set -e
root=$(cd "$(dirname "$0")/.." && pwd)
builds=""
soak=0
quick=0
while [ $# -gt 0 ]; do
  case $1 in
    --soak) soak=${2:?--soak needs a number of seconds}; shift 2 ;;
    --quick) quick=1; shift ;;
    *) builds="$builds $1"; shift ;;
  esac
done
[ -n "$builds" ] || builds="$root/build/test"
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
ff() { ffmpeg -nostdin -v error -y "$@"; }
h264="$media/h264_1080p_gop250.mp4"
h264_4k="$media/h264_2160p_gop250.mp4"
h264_20s="$media/h264_1080p_20s_gop250.mp4"
cache_4k=${TESSARIN_BENCH_4K_CACHE_MB:-3000}
prores="$media/prores_hq_1080p.mov"
sequence="$media/png_1080p/frame.####.png 1-48"
ts_1080="$media/h264_1080p_20s_gop250.ts"
ts_4k="$media/h264_2160p_gop250.ts"
ts_720_1m="$media/h264_720p_1min_gop250.ts"
ts_720_10m="$media/h264_720p_10min_gop250.ts"
hevc_mp4="$media/hevc_1080p_gop250.mp4"
hevc_mkv="$media/hevc_1080p_gop250.mkv"
vp9_webm="$media/vp9_1080p_gop250.webm"
av1_mp4="$media/av1_1080p_gop250.mp4"
pinned=${TESSARIN_BENCH_CORES:-0,1}
echo "Making 1080p and 4K media in $media ..."
# 10 s at 23.976 fps, one 250-frame GOP after another, 3 B-frames.
[ -s "$h264" ] || ff -f lavfi -i "testsrc2=size=1920x1080:rate=24000/1001:duration=10" \
  -c:v libx264 -preset medium -profile:v high -pix_fmt yuv420p -g 250 -keyint_min 250 -sc_threshold 0 -bf 3 "$h264"
# The same at 3840x2160, 20 s: two GOPs and a part.
[ -s "$h264_4k" ] || ff -f lavfi -i "testsrc2=size=3840x2160:rate=24000/1001:duration=20" \
  -c:v libx264 -preset medium -profile:v high -pix_fmt yuv420p -g 250 -keyint_min 250 -sc_threshold 0 -bf 3 "$h264_4k"
# The 1080p file at 20 s: its last GOP, like the 4K file's, holds 230 pictures.
[ -s "$h264_20s" ] || ff -f lavfi -i "testsrc2=size=1920x1080:rate=24000/1001:duration=20" \
  -c:v libx264 -preset medium -profile:v high -pix_fmt yuv420p -g 250 -keyint_min 250 -sc_threshold 0 -bf 3 "$h264_20s"
# Intra-only ProRes 422 HQ, 10 bits.
[ -s "$prores" ] || ff -f lavfi -i "testsrc2=size=1920x1080:rate=24000/1001:duration=5" \
  -c:v prores_ks -profile:v 3 -pix_fmt yuv422p10le "$prores"
# The 20 s files again in MPEG-TS, packets as they are.
[ -s "$ts_1080" ] || ff -i "$h264_20s" -c copy -f mpegts "$ts_1080"
[ -s "$ts_4k" ] || ff -i "$h264_4k" -c copy -f mpegts "$ts_4k"
# 720p broadcast-like TS: one minute, and ten of it joined.
[ -s "$ts_720_1m" ] || ff -f lavfi -i "testsrc2=size=1280x720:rate=25:duration=60" \
  -c:v libx264 -preset veryfast -pix_fmt yuv420p -g 250 -keyint_min 250 -sc_threshold 0 -bf 3 -f mpegts "$ts_720_1m"
if [ ! -s "$ts_720_10m" ]; then
  list="$media/ts_720_list.txt"
  : > "$list"
  for i in 1 2 3 4 5 6 7 8 9 10; do echo "file '$ts_720_1m'" >> "$list"; done
  ff -f concat -safe 0 -i "$list" -c copy -f mpegts "$ts_720_10m"
fi
# HEVC 1080p, 20 s, 250-frame GOPs with B-frames, in MP4 and MKV.
[ -s "$hevc_mp4" ] || ff -f lavfi -i "testsrc2=size=1920x1080:rate=24000/1001:duration=20" \
  -c:v libx265 -preset fast -pix_fmt yuv420p -x265-params "keyint=250:min-keyint=250:scenecut=0:bframes=3:log-level=error" \
  -tag:v hvc1 "$hevc_mp4"
[ -s "$hevc_mkv" ] || ff -i "$hevc_mp4" -c copy "$hevc_mkv"
# VP9 in WebM and AV1 in MP4, 1080p, 20 s, 250-frame GOPs (both with frames
# that are not shown: alternate references, hidden frames shown later).
[ -s "$vp9_webm" ] || ff -f lavfi -i "testsrc2=size=1920x1080:rate=24000/1001:duration=20" \
  -c:v libvpx-vp9 -deadline realtime -cpu-used 8 -row-mt 1 -b:v 8M -g 250 -keyint_min 250 "$vp9_webm"
[ -s "$av1_mp4" ] || ff -f lavfi -i "testsrc2=size=1920x1080:rate=24000/1001:duration=20" \
  -c:v libsvtav1 -preset 12 -g 250 -b:v 8M "$av1_mp4" 2> /dev/null
# 48 PNG pictures, played at 24 fps.
[ -s "$media/png_1080p/frame.0048.png" ] || { mkdir -p "$media/png_1080p" &&
  ff -f lavfi -i "testsrc2=size=1920x1080:rate=24:duration=2" -start_number 1 "$media/png_1080p/frame.%04d.png"; }

echo "Machine: $(nproc) threads, $(sed -n 's/^model name[[:space:]]*: //p' /proc/cpuinfo | head -n 1)"
# The decoders' own messages go to a log; the benchmark's reasons are shown.
log="$media/bench.log"
bench() {
  if ! "$@" 2> "$log"; then
    grep '^tessarin_bench:' "$log" || echo "tessarin_bench failed: $*"
    status=1
  fi
}
status=0
pinned_rows() {
  build=$1
  echo "-- pinned to cores $pinned (load average $(cut -d' ' -f1 /proc/loadavg))"
  python3 "$root/bench/open_times.py" "$build/bench/tessarin_bench" "$ts_1080" "$ts_4k" "$ts_720_1m" "$ts_720_10m" \
    "$hevc_mp4" "$hevc_mkv" --cores "$pinned" || status=1
  python3 "$root/bench/open_times.py" "$build/bench/tessarin_bench" "$vp9_webm" "$av1_mp4" --cores "$pinned" ||
    status=1
  # Exact seeks: the same random frames in the TS and the MP4 file.
  seeks="$media/seeks.txt"
  : > "$seeks"
  for source in "$ts_1080" "$h264_20s"; do
    echo "  (load average $(cut -d' ' -f1 /proc/loadavg))"
    bench taskset -c "$pinned" "$build/bench/tessarin_bench" seek "$source" > "$seeks.one"
    cat "$seeks.one"
    cat "$seeks.one" >> "$seeks"
  done
  awk '/seek \(/ { for (i = 1; i <= NF; ++i) if ($i == "median") m[++n] = $(i + 1) }
       END { if (n == 2 && m[2] > 0) printf "  exact seeks, MPEG-TS / MP4 median %.2f  (aim <= 1.25)\n", m[1] / m[2] }' "$seeks"
  echo "  (load average $(cut -d' ' -f1 /proc/loadavg))"
  bench taskset -c "$pinned" "$build/bench/tessarin_bench" fill "$h264_4k" --cache-size "$cache_4k"
  echo "  (load average $(cut -d' ' -f1 /proc/loadavg))"
  bench taskset -c "$pinned" "$build/bench/tessarin_bench" fill "$prores"
}
for build in $builds; do
  echo
  echo "== $build"
  pinned_rows "$build"
  [ "$quick" = 0 ] || continue
  for source in "$h264" "$prores" "$sequence"; do
    bench "$build/bench/tessarin_bench" speed "$source"
  done
  # 512 MB hold 40 4K pictures, under 2 s: backward play needs room to show
  # pictures while the GOP before is decoded.
  bench "$build/bench/tessarin_bench" speed "$h264_4k" --cache-size "$cache_4k"
  # A 2-second range in the middle of a long GOP, looped at 1x: the hold at
  # each wrap and the pictures decoded per pass. The range fits the cache
  # but not twice over: 1080p as RGB pictures (as the software viewer takes
  # them) in the default 512 MB, 4K in 1000 MB.
  bench "$build/bench/tessarin_bench" loop "$h264" --range 101-150 --format rgb24
  # Parked inside the range, past what a seek keeps before its target, and
  # played from there: the first wrap goes to a start not yet decoded.
  bench "$build/bench/tessarin_bench" loop "$h264" --range 101-150 --from 130 --format rgb24
  bench "$build/bench/tessarin_bench" loop "$h264_4k" --range 101-150 --cache-size 1000
  # Opening afresh: the first picture on two cores (the same two for both
  # players) and on all of them.
  for cores in 0,1 ""; do
    python3 "$root/bench/open_times.py" "$build/bench/tessarin_bench" "$h264_20s" "$h264_4k" \
      ${cores:+--cores "$cores"} || status=1
  done
  if [ "$soak" -gt 0 ]; then
    bench "$build/bench/tessarin_bench" soak "$h264" "$prores" "$sequence" --seconds "$soak"
  fi
done
exit $status
