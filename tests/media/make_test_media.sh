#!/bin/sh
# Generates the media the tests read, into OUT_DIR (default: ./test-media).
# Each file is made only when missing, so re-runs cost nothing; a changed
# script makes everything again.
set -e
out=${1:-test-media}
mkdir -p "$out"
out=$(cd "$out" && pwd)
stamp="$out/.script.md5"
sum=$(md5sum "$0" | cut -d' ' -f1)
if [ ! -f "$stamp" ] || [ "$(cat "$stamp")" != "$sum" ]; then
  find "$out" -mindepth 1 -delete
fi

ff() { ffmpeg -nostdin -v error -y "$@"; }
gen() { # make FILE command...: runs the command only when FILE is missing
  target=$1; shift
  [ -e "$out/$target" ] && return 0
  "$@"
}

# H.264, 23.976 fps, one GOP of 250 frames with 3 B-frames, AAC stereo.
gen h264_gop250.mp4 ff -f lavfi -i "testsrc2=size=320x240:rate=24000/1001:duration=12" \
  -f lavfi -i "sine=frequency=440:sample_rate=48000:duration=12" -map 0:v -map 1:a \
  -c:v libx264 -preset veryfast -profile:v high -pix_fmt yuv420p -g 250 -keyint_min 250 -sc_threshold 0 -bf 3 \
  -c:a aac -b:a 96k -ac 2 "$out/h264_gop250.mp4"

# Constant frame rate H.264 at 25 fps with a short GOP.
gen h264_cfr25.mp4 ff -f lavfi -i "testsrc2=size=320x240:rate=25:duration=4" \
  -c:v libx264 -preset veryfast -pix_fmt yuv420p -g 25 -bf 2 "$out/h264_cfr25.mp4"

# Variable frame rate: 1 s at 24 fps, then 1 s at 60 fps.
gen vfr.mkv ff -f lavfi -i "testsrc2=size=320x240:rate=24:duration=1" \
  -f lavfi -i "testsrc2=size=320x240:rate=60:duration=1" \
  -filter_complex "[0:v][1:v]concat=n=2:v=1:a=0[v]" -map "[v]" -fps_mode passthrough \
  -c:v libx264 -preset veryfast -pix_fmt yuv420p -bf 2 "$out/vfr.mkv"

# Odd picture size (yuv420p needs a codec that allows it).
gen odd_317x239.mkv ff -f lavfi -i "testsrc2=size=317x239:rate=25:duration=2" \
  -c:v ffv1 -pix_fmt yuv420p "$out/odd_317x239.mkv"

# Rotation metadata survives only a stream copy.
gen rotated90.mp4 sh -c "
  ffmpeg -nostdin -v error -y -f lavfi -i 'testsrc2=size=320x180:rate=25:duration=2' \
    -c:v libx264 -preset veryfast -pix_fmt yuv420p '$out/plain.mp4' &&
  ffmpeg -nostdin -v error -y -i '$out/plain.mp4' -c copy -metadata:s:v:0 rotate=90 '$out/rotated90.mp4'"

# PNG image sequence shot.1001.png .. shot.1024.png with frame 1010 missing.
gen seq_missing sh -c "
  mkdir -p '$out/seq_missing' &&
  ffmpeg -nostdin -v error -y -f lavfi -i 'testsrc2=size=320x240:rate=24:duration=1' \
    -start_number 1001 '$out/seq_missing/shot.%04d.png' &&
  rm -f '$out/seq_missing/shot.1010.png'"

# Audio: 48 kHz stereo WAV and AAC.
gen tone.wav ff -f lavfi -i "sine=frequency=440:sample_rate=48000:duration=3" -ac 2 -c:a pcm_s16le "$out/tone.wav"
gen tone.m4a ff -f lavfi -i "sine=frequency=440:sample_rate=48000:duration=3" -ac 2 -c:a aac -b:a 96k "$out/tone.m4a"

# Broken inputs: a cut-off file, an empty file and text with a media extension.
gen truncated.mkv sh -c "
  ffmpeg -nostdin -v error -y -f lavfi -i 'testsrc2=size=320x240:rate=25:duration=4' \
    -c:v libx264 -preset veryfast -pix_fmt yuv420p -g 25 '$out/full.mkv' &&
  size=\$(stat -c %s '$out/full.mkv') &&
  head -c \$((size * 6 / 10)) '$out/full.mkv' > '$out/truncated.mkv' && rm -f '$out/full.mkv'"
gen empty.mp4 sh -c ": > '$out/empty.mp4'"
gen fake.mov sh -c "echo 'this is not a movie' > '$out/fake.mov'"

echo "$sum" > "$stamp"
echo "test media ready in $out"
