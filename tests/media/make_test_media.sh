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
gen odd_317x239.mkv ff -f lavfi -i "testsrc=size=317x239:rate=25:duration=2" \
  -c:v ffv1 -pix_fmt yuv420p "$out/odd_317x239.mkv"

# 10-bit 4:2:2 at an odd size (odd chroma width, odd height), intra-only with
# slice threads like ProRes: converted to 8-bit 4:2:0 or RGB in bands.
gen yuv422p10_317x241.mkv ff -f lavfi -i "testsrc=size=317x241:rate=25:duration=1" \
  -c:v ffv1 -pix_fmt yuv422p10le "$out/yuv422p10_317x241.mkv"

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

# Pictures that carry their own frame number: 16 blocks of 20 x 32 pixels
# along the top edge, block i white when bit i of the number is set.
numbered() { # numbered WIDTHxHEIGHT RATE SECONDS: a filter graph ending in [v]
  echo "testsrc2=s=$1:r=$2:d=$3[bg];color=black:s=320x32:r=$2:d=$3,format=gray,geq=lum='255*mod(floor(N/pow(2\,floor(X/20)))\,2)'[num];[bg][num]overlay=0:0,format=yuv420p[v]"
}
x264() { echo "-c:v libx264 -preset veryfast -pix_fmt yuv420p"; }

# H.264 with 3 B-frames and 250-frame GOPs, 300 numbered frames at 25 fps.
gen numbered_gop250.mp4 ff -filter_complex "$(numbered 320x240 25 12)" -map "[v]" $(x264) \
  -bf 3 -g 250 -keyint_min 250 -sc_threshold 0 "$out/numbered_gop250.mp4"

# 1440x1080 H.264 with one key picture every 250 frames, 275 numbered frames
# at 25 fps: the band of numbered(), scaled with the picture, so the numbers
# read as on the 320x240 clips. A frame late in the first GOP takes the
# decoding of all before it.
gen numbered_gop250_1080.mp4 ff -filter_complex "testsrc2=s=1440x1080:r=25:d=11[bg];color=black:s=320x32:r=25:d=11,format=gray,geq=lum='255*mod(floor(N/pow(2\,floor(X/20)))\,2)',scale=1440:144:flags=neighbor[num];[bg][num]overlay=0:0,format=yuv420p[v]" \
  -map "[v]" $(x264) -bf 3 -g 250 -keyint_min 250 -sc_threshold 0 "$out/numbered_gop250_1080.mp4"

# Odd width and height in 4:2:0 (FFV1 allows them): chroma rounds up.
gen numbered_odd_333x241.mkv ff -filter_complex "$(numbered 320x240 25 2 | sed 's/testsrc2=s=320x240/testsrc=s=333x241/')" \
  -map "[v]" -c:v ffv1 "$out/numbered_odd_333x241.mkv"

# Open GOPs: the leading B-frames of each GOP refer to the GOP before.
gen numbered_opengop.mkv ff -filter_complex "$(numbered 320x240 25 6)" -map "[v]" $(x264) \
  -bf 3 -x264-params open-gop=1:keyint=50:min-keyint=50:scenecut=0 "$out/numbered_opengop.mkv"

# MPEG-2 in MPEG-TS with open GOPs: a seek lands where B-frames lack their
# references, which the decoder skips.
gen numbered_mpeg2.ts ff -filter_complex "$(numbered 320x240 25 4)" -map "[v]" -c:v mpeg2video -q:v 4 -bf 2 -g 25 \
  "$out/numbered_mpeg2.ts"

# MPEG-TS whose timestamps start at 1000 s, as broadcast and camera files do.
gen numbered_offset.ts ff -filter_complex "$(numbered 320x240 25 6)" -map "[v]" $(x264) \
  -bf 3 -g 50 -output_ts_offset 1000 "$out/numbered_offset.ts"

# Intra-only MJPEG in planar 4:2:0 (tagged ITU-601, so it decodes as yuv420p).
gen numbered_mjpeg.mov ff -filter_complex "$(numbered 320x240 25 2)" -map "[v]" \
  -c:v mjpeg -pix_fmt yuv420p -strict -1 -q:v 3 "$out/numbered_mjpeg.mov"

# RGBA pictures (PNG in QuickTime).
gen numbered_rgba.mov ff -filter_complex "$(numbered 320x240 25 1);[v]format=rgba[a]" -map "[a]" \
  -c:v png "$out/numbered_rgba.mov"

# Variable frame rate with numbered frames: 1 s at 24 fps, then 1 s at 60 fps.
gen numbered_vfr.mkv ff -filter_complex "testsrc2=s=320x240:r=24:d=1[a];testsrc2=s=320x240:r=60:d=1[b];
  [a][b]concat=n=2:v=1:a=0,format=gray,geq=lum='255*mod(floor(N/pow(2\,floor(X/20)))\,2)*lt(Y\,32)',format=yuv420p[v]" \
  -map "[v]" -fps_mode passthrough $(x264) -bf 2 "$out/numbered_vfr.mkv"

# Variable frame rate with B-frames in MP4: 48 numbered pictures in pairs, the
# second of each pair 1/24 s after the first, the pairs 0.2 s apart.
gen numbered_vfr_bframes.mp4 ff -filter_complex "$(numbered 320x240 24 2);[v]setpts='(floor(N/2)*0.2+mod(N,2)/24)/TB'[w]" \
  -map "[w]" -fps_mode passthrough $(x264) -bf 3 "$out/numbered_vfr_bframes.mp4"

# B-frames and a still: 59 numbered pictures at 24 fps, 1.25 s without a
# new picture, 61 more. A seek past the still finds the picture before it.
gen numbered_still_bframes.mp4 ff -filter_complex "$(numbered 320x240 24 5);[v]setpts='(N+30*gte(N\,59))/24/TB'[w]" \
  -map "[w]" -fps_mode passthrough $(x264) -bf 3 "$out/numbered_still_bframes.mp4"

# A raw Annex-B H.264 stream: no container, no index, no timestamps to seek by.
gen numbered_raw.h264 ff -filter_complex "$(numbered 320x240 25 2)" -map "[v]" $(x264) -bf 2 \
  -f h264 "$out/numbered_raw.h264"

# MPEG-TS, 75 numbered frames at 25 fps, whose 40th video PES header has its
# PTS and DTS moved 1e9 ticks (about 3 h 5 min) into the future: one corrupt
# timestamp in an otherwise steady stream.
gen numbered_badpts.ts sh -c "
  ffmpeg -nostdin -v error -y -filter_complex \"$(numbered 320x240 25 3)\" -map '[v]' $(x264) -bf 2 -g 25 \
    '$out/badpts_src.ts' &&
  python3 '$(dirname "$0")/shift_ts_timestamp.py' '$out/badpts_src.ts' '$out/numbered_badpts.ts' 40 1000000000 &&
  rm -f '$out/badpts_src.ts'"

# Two numbered MPEG-TS files of 50 frames each joined byte for byte: the
# timestamps restart halfway. The second half has another background.
gen numbered_restart.ts sh -c "
  ffmpeg -nostdin -v error -y -filter_complex \"$(numbered 320x240 25 2)\" -map '[v]' $(x264) -bf 2 -g 25 \
    '$out/restart_a.ts' &&
  ffmpeg -nostdin -v error -y -filter_complex \"$(numbered 320x240 25 2 | sed 's/testsrc2=/testsrc=/')\" \
    -map '[v]' $(x264) -bf 2 -g 25 '$out/restart_b.ts' &&
  cat '$out/restart_a.ts' '$out/restart_b.ts' > '$out/numbered_restart.ts' &&
  rm -f '$out/restart_a.ts' '$out/restart_b.ts'"

# Written to a pipe, a Matroska file has no duration in its header.
gen nodur.mkv sh -c "ffmpeg -nostdin -v error -filter_complex \"$(numbered 320x240 25 2)\" -map '[v]' $(x264) \
  -bf 2 -g 25 -f matroska - > '$out/nodur.mkv'"

# A stream that changes its picture size midway.
gen size_change.ts sh -c "
  ffmpeg -nostdin -v error -y -f lavfi -i 'testsrc2=s=320x240:r=25:d=1' $(x264) -bf 2 -g 25 '$out/size_a.ts' &&
  ffmpeg -nostdin -v error -y -f lavfi -i 'testsrc2=s=480x360:r=25:d=1' $(x264) -bf 2 -g 25 \
    -output_ts_offset 1.08 '$out/size_b.ts' &&
  cat '$out/size_a.ts' '$out/size_b.ts' > '$out/size_change.ts' && rm -f '$out/size_a.ts' '$out/size_b.ts'"

# Rotations stored as -90 and -180 degrees.
gen rotated270.mp4 ff -i "$out/rotated90.mp4" -c copy -metadata:s:v:0 rotate=270 "$out/rotated270.mp4"
gen rotated180.mp4 ff -i "$out/rotated90.mp4" -c copy -metadata:s:v:0 rotate=180 "$out/rotated180.mp4"

# Audio with cover art, and a file without any audio or video.
gen cover.mp3 ff -f lavfi -i "sine=frequency=440:sample_rate=44100:duration=2" -f lavfi -i "testsrc2=s=64x64:d=1" \
  -map 0:a -map 1:v -frames:v 1 -c:a libmp3lame -c:v mjpeg -disposition:v attached_pic "$out/cover.mp3"
gen subtitles_only.mkv sh -c "printf '1\n00:00:00,000 --> 00:00:01,000\nhello\n' > '$out/subtitles.srt' &&
  ffmpeg -nostdin -v error -y -i '$out/subtitles.srt' -c:s srt '$out/subtitles_only.mkv' && rm -f '$out/subtitles.srt'"

# Single-sample clicks at known sample numbers, a different time per channel:
# 44.1 kHz stereo (left 0.5 s, right 1.0 s), 48 kHz mono (0.25 s, 0.75 s) and
# 48 kHz 5.1 (FL 0.2 s, FR 0.4 s, FC 0.6 s, BL 0.8 s, BR 1.0 s, LFE silent).
click() { echo "if(eq(n\\,$1)\\,0.8\\,0)"; }
gen clicks_44k.wav ff -f lavfi -i "aevalsrc=$(click 22050)|$(click 44100):s=44100:d=2:c=stereo" \
  -c:a pcm_s16le "$out/clicks_44k.wav"
gen clicks_mono.wav ff -f lavfi -i "aevalsrc=$(click 12000)+$(click 36000):s=48000:d=1:c=mono" \
  -c:a pcm_s16le "$out/clicks_mono.wav"
gen clicks_51.wav ff -f lavfi \
  -i "aevalsrc=$(click 9600)|$(click 19200)|$(click 28800)|0|$(click 38400)|$(click 48000):s=48000:d=1.5:c=5.1" \
  -c:a pcm_s16le "$out/clicks_51.wav"

# Image sequences: PNG img.0001-0030, JPEG img.001-012, and PNG shot.1001-1024
# with 1005 deleted, 1012 empty and 1018 cut off after its header.
gen seq_png sh -c "mkdir -p '$out/seq_png' &&
  ffmpeg -nostdin -v error -y -f lavfi -i 'testsrc2=size=160x120:rate=24:duration=1.25' \
    -start_number 1 '$out/seq_png/img.%04d.png'"
gen seq_jpg sh -c "mkdir -p '$out/seq_jpg' &&
  ffmpeg -nostdin -v error -y -f lavfi -i 'testsrc2=size=160x120:rate=24:duration=0.5' -q:v 3 \
    -start_number 1 '$out/seq_jpg/img.%03d.jpg'"
# PNG img.0001-0006 whose files 2, 3 and 5 claim 16000x16000 in their headers.
gen seq_huge sh -c "mkdir -p '$out/seq_huge' &&
  ffmpeg -nostdin -v error -y -f lavfi -i 'testsrc2=size=160x120:rate=24:duration=0.25' \
    -start_number 1 '$out/seq_huge/img.%04d.png' &&
  for i in 2 3 5; do printf '\000\000\076\200\000\000\076\200' |
    dd of='$out/seq_huge/img.000'\$i'.png' bs=1 seek=16 conv=notrunc 2>/dev/null; done"
gen seq_broken sh -c "mkdir -p '$out/seq_broken' &&
  ffmpeg -nostdin -v error -y -f lavfi -i 'testsrc2=size=160x120:rate=24:duration=1' \
    -start_number 1001 '$out/seq_broken/shot.%04d.png' &&
  rm -f '$out/seq_broken/shot.1005.png' && : > '$out/seq_broken/shot.1012.png' &&
  head -c 200 '$out/seq_broken/shot.1018.png' > '$out/seq_broken/cut.png' &&
  mv '$out/seq_broken/cut.png' '$out/seq_broken/shot.1018.png'"

# Numbered pictures with a tone: sound and picture together.
gen numbered_av.mp4 ff -filter_complex "$(numbered 320x240 25 4)" \
  -f lavfi -i "sine=frequency=440:sample_rate=48000:duration=4" -map "[v]" -map 0:a $(x264) -g 50 -bf 2 \
  -c:a aac -b:a 96k -ac 2 "$out/numbered_av.mp4"

# A long GOP in a big picture, with sound: 288 numbered frames at 24 fps,
# 1920 x 1440 (the numbered picture scaled up), one key picture every 240.
# Decoding from a key picture to a frame deep in the GOP takes a while.
gen numbered_gop240_av_1440.mp4 ff -filter_complex "$(numbered 320x240 24 12);[v]scale=1920:1440:flags=neighbor[w]" \
  -f lavfi -i "sine=frequency=440:sample_rate=48000:duration=12" -map "[w]" -map 0:a $(x264) -g 240 \
  -keyint_min 240 -sc_threshold 0 -bf 2 -c:a aac -b:a 96k -ac 2 "$out/numbered_gop240_av_1440.mp4"

# The same as ProRes 422 HQ with PCM sound: every picture a key picture.
gen numbered_prores_av.mov ff -filter_complex "$(numbered 320x240 25 4)" \
  -f lavfi -i "sine=frequency=440:sample_rate=48000:duration=4" -map "[v]" -map 0:a \
  -c:v prores_ks -profile:v 3 -pix_fmt yuv422p10le -c:a pcm_s16le "$out/numbered_prores_av.mov"

# Pixels twice as wide as high (sample aspect ratio 2:1).
gen par2.mp4 ff -f lavfi -i "testsrc2=size=160x120:rate=25:duration=1" -vf setsar=2 \
  -c:v libx264 -preset veryfast -pix_fmt yuv420p "$out/par2.mp4"

# 72 numbered frames at 24 fps with one-second GOPs: quick seeks for the
# viewer widget's end-to-end and snapshot tests.
gen numbered_24fps.mp4 ff -filter_complex "$(numbered 320x240 24 3)" -map "[v]" $(x264) -g 24 -bf 2 \
  "$out/numbered_24fps.mp4"

# Cut by a stream copy 1.5 s in: the edit list hides the pictures of the GOP
# before the cut that decoding it needs.
gen numbered_trimmed.mp4 ff -ss 1.5 -i "$out/numbered_24fps.mp4" -c copy "$out/numbered_trimmed.mp4"

# Numbered pictures at 30 fps (240 frames), and a slideshow at 0.2 fps
# (3 pictures of 5 s each).
gen numbered_30fps.mp4 ff -filter_complex "$(numbered 320x240 30 8)" -map "[v]" $(x264) -g 30 -bf 2 \
  "$out/numbered_30fps.mp4"
gen slideshow_02fps.mp4 ff -filter_complex "$(numbered 320x240 0.2 15)" -map "[v]" $(x264) \
  "$out/slideshow_02fps.mp4"

# Numbered pictures at 24 fps (48 frames) with a red mark in the bottom-left
# corner (to see flips and rotations), over a 440 Hz tone.
gen numbered_marked_24fps.mp4 ff -filter_complex "$(numbered 320x240 24 2);[v]drawbox=x=0:y=200:w=40:h=40:color=red:t=fill[m]" \
  -f lavfi -i "sine=frequency=440:sample_rate=48000:duration=2" -map "[m]" -map 0:a $(x264) -g 24 -bf 2 \
  -c:a aac -b:a 96k -shortest "$out/numbered_marked_24fps.mp4"

# ---- Streams whose packets alone do not tell when each picture is shown ----
# Periodic intra refresh (no IDR after the first picture, only recovery
# points, which containers mark as key packets), 200 numbered frames at 25 fps.
gen numbered_intrarefresh_src.ts ff -filter_complex "$(numbered 320x240 25 8)" -map "[v]" $(x264) -bf 0 \
  -x264-params intra-refresh=1:keyint=50 "$out/numbered_intrarefresh_src.ts"
# Cut by a stream copy 2.3 s in: each starts on a recovery point, and the
# pictures before the refresh completes do not decode.
gen numbered_intrarefresh.mkv ff -ss 2.3 -i "$out/numbered_intrarefresh_src.ts" -c copy \
  "$out/numbered_intrarefresh.mkv"
gen numbered_intrarefresh.mp4 ff -ss 2.3 -i "$out/numbered_intrarefresh_src.ts" -c copy -use_editlist 0 \
  "$out/numbered_intrarefresh.mp4"
# A recording that begins at the second key packet's byte position.
gen numbered_intrarefresh.ts sh -c "
  pos=\$(ffprobe -v error -select_streams v -show_entries packet=flags,pos -of csv=p=0 \
    '$out/numbered_intrarefresh_src.ts' | awk -F, '\$2 ~ /K/ { if (++n == 2) { print \$1; exit } }') &&
  tail -c +\$((pos + 1)) '$out/numbered_intrarefresh_src.ts' > '$out/numbered_intrarefresh.ts'"
# H.264 with B-frames, 200 numbered frames, whose last packet is timed 1 s
# (MP4) or 0.3 s (Matroska) later than its picture.
gen numbered_bframes_src.mp4 ff -filter_complex "$(numbered 320x240 25 8)" -map "[v]" $(x264) -bf 3 -g 50 \
  "$out/numbered_bframes_src.mp4"
gen numbered_latepts.mp4 ff -i "$out/numbered_bframes_src.mp4" -c copy \
  -bsf:v "setts=pts=if(eq(N\,199)\,PTS+1/TB\,PTS)" "$out/numbered_latepts.mp4"
gen numbered_latepts.mkv ff -i "$out/numbered_bframes_src.mp4" -c copy \
  -bsf:v "setts=pts=if(eq(N\,199)\,PTS+0.3/TB\,PTS)" "$out/numbered_latepts.mkv"
# Presentation times written in decoding order.
gen numbered_dtspts.mkv ff -i "$out/numbered_bframes_src.mp4" -c copy -bsf:v "setts=pts=DTS" \
  "$out/numbered_dtspts.mkv"
# Timestamps that start 9e12 s (near 2^63 µs) in.
gen numbered_hugeoffset.mkv ff -i "$out/numbered_bframes_src.mp4" -c copy -output_ts_offset 9000000000000 \
  "$out/numbered_hugeoffset.mkv"
# HEVC, 100 numbered frames at 25 fps: B-frames with closed GOPs in MP4, open
# GOPs (CRA pictures) in Matroska, and an MPEG-TS recording that begins at a
# CRA's byte position, as it is and copied into Matroska.
x265() { echo "-c:v libx265 -preset veryfast -pix_fmt yuv420p"; }
gen numbered_hevc.mp4 ff -filter_complex "$(numbered 320x240 25 4)" -map "[v]" $(x265) \
  -x265-params log-level=error:bframes=3:keyint=25:min-keyint=25:open-gop=0:scenecut=0 "$out/numbered_hevc.mp4"
# 10-bit HEVC with B-frames: its pictures are converted to 8 bits.
gen numbered_hevc10.mp4 ff -filter_complex "$(numbered 320x240 25 2)" -map "[v]" $(x265) -pix_fmt yuv420p10le \
  -x265-params log-level=error:bframes=3:keyint=25:min-keyint=25:open-gop=0:scenecut=0 "$out/numbered_hevc10.mp4"
gen numbered_hevc_opengop.mkv ff -filter_complex "$(numbered 320x240 25 4)" -map "[v]" $(x265) \
  -x265-params log-level=error:bframes=3:keyint=25:min-keyint=25:open-gop=1:scenecut=0 \
  "$out/numbered_hevc_opengop.mkv"
gen numbered_hevc_cra.mkv sh -c "
  ffmpeg -nostdin -v error -y -filter_complex \"$(numbered 320x240 25 4)\" -map '[v]' $(x265) \
    -x265-params log-level=error:bframes=3:keyint=25:min-keyint=25:open-gop=1:scenecut=0:repeat-headers=1 \
    '$out/hevc_cra_src.ts' &&
  pos=\$(ffprobe -v error -select_streams v -show_entries packet=flags,pos -of csv=p=0 \
    '$out/hevc_cra_src.ts' | awk -F, '\$2 ~ /K/ { if (++n == 2) { print \$1; exit } }') &&
  tail -c +\$((pos + 1)) '$out/hevc_cra_src.ts' > '$out/numbered_hevc_cra.ts' &&
  ffmpeg -nostdin -v error -y -i '$out/numbered_hevc_cra.ts' -c copy '$out/numbered_hevc_cra.mkv' &&
  rm -f '$out/hevc_cra_src.ts'"
# 10-bit HEVC in 100-frame open GOPs (CRA pictures) with a B-pyramid, 200
# numbered frames: a seek deep into a GOP leaves out the pictures nothing
# refers to.
gen numbered_hevc_gop100.mkv ff -filter_complex "$(numbered 320x240 25 8)" -map "[v]" $(x265) -pix_fmt yuv420p10le \
  -x265-params log-level=error:bframes=3:b-pyramid=1:keyint=100:min-keyint=100:open-gop=1:scenecut=0 \
  "$out/numbered_hevc_gop100.mkv"
# ---- end of that block ----
# ---- Pictures that weigh on the cache ----------------------------------------
# 3840x2160 numbered pictures, 3 s at 25 fps in 1-s GOPs: H.264, HEVC and
# 10-bit HEVC, whose codec pictures weigh on the cache budget.
gen numbered_4k.mp4 ff -filter_complex "$(numbered 3840x2160 25 3)" -map "[v]" \
  -c:v libx264 -preset ultrafast -pix_fmt yuv420p -bf 2 -g 25 -keyint_min 25 -sc_threshold 0 "$out/numbered_4k.mp4"
gen numbered_4k_hevc.mp4 ff -filter_complex "$(numbered 3840x2160 25 3)" -map "[v]" \
  -c:v libx265 -preset ultrafast -pix_fmt yuv420p \
  -x265-params log-level=error:bframes=3:keyint=25:min-keyint=25:open-gop=0:scenecut=0 "$out/numbered_4k_hevc.mp4"
gen numbered_4k_hevc10.mp4 ff -filter_complex "$(numbered 3840x2160 25 3)" -map "[v]" \
  -c:v libx265 -preset ultrafast -pix_fmt yuv420p10le \
  -x265-params log-level=error:bframes=3:keyint=25:min-keyint=25:open-gop=0:scenecut=0 "$out/numbered_4k_hevc10.mp4"
# ---- end of the 4K block ----
# ---- Frame exactness: time bases, untimed pictures, cut-off files --------
# Millisecond time bases above 30 fps: the last picture's time is rounded up
# by more than 1.5 % of a frame (101 pictures at 60 fps in Matroska, 103 at
# 59.94 fps in WebM).
gen numbered_60fps.mkv ff -filter_complex "$(numbered 320x240 60 2)" -map "[v]" -frames:v 101 $(x264) -g 60 -bf 2 \
  "$out/numbered_60fps.mkv"
gen numbered_5994fps.webm ff -filter_complex "$(numbered 320x240 60000/1001 2)" -map "[v]" -frames:v 103 \
  -c:v libvpx-vp9 -deadline realtime -cpu-used 8 -b:v 400k -g 60 "$out/numbered_5994fps.webm"
# ---- VP9 and AV1 frames that are not shown ----------------------------------
# 100 numbered frames at 25 fps in GOPs of 50. VP9 in two passes with
# alternate reference frames: superframes that carry a frame not shown before
# the one shown. AV1 (libaom) with hidden frames in temporal units and frames
# shown again later (show_existing_frame), in MP4 and Matroska.
gen numbered_vp9_altref.webm sh -c "
  for pass in 1 2; do
    ffmpeg -nostdin -v error -y -filter_complex \"$(numbered 320x240 25 4)\" -map '[v]' -c:v libvpx-vp9 \
      -deadline good -cpu-used 4 -threads 1 -auto-alt-ref 1 -lag-in-frames 25 -b:v 300k -g 50 \
      -pass \$pass -passlogfile '$out/vp9_altref' -f webm \
      \$( [ \$pass = 1 ] && echo /dev/null || echo '$out/numbered_vp9_altref.webm' ) || exit 1
  done && rm -f '$out'/vp9_altref*.log"
gen numbered_av1_hidden.mp4 ff -filter_complex "$(numbered 320x240 25 4)" -map "[v]" -c:v libaom-av1 -cpu-used 8 \
  -threads 1 -lag-in-frames 16 -b:v 300k -g 50 "$out/numbered_av1_hidden.mp4"
gen numbered_av1_hidden.mkv ff -i "$out/numbered_av1_hidden.mp4" -c copy "$out/numbered_av1_hidden.mkv"
# ---- end of the VP9 and AV1 block -------------------------------------------
# MPEG-4 Part 2 with two B-frames in AVI (100 pictures at 25 fps): packets
# carry decoding times only, and the last GOP decodes to one picture with no
# time at all.
gen numbered_mpeg4_bf2.avi ff -filter_complex "$(numbered 320x240 25 4)" -map "[v]" -c:v mpeg4 -q:v 4 -bf 2 -g 25 \
  "$out/numbered_mpeg4_bf2.avi"
# A faststart MP4 cut off at 65 % of its bytes, as a partial download is.
gen numbered_cut.mp4 sh -c "
  ffmpeg -nostdin -v error -y -filter_complex \"$(numbered 320x240 25 4)\" -map '[v]' $(x264) -g 25 -bf 2 \
    -movflags +faststart '$out/cut_src.mp4' &&
  size=\$(stat -c %s '$out/cut_src.mp4') &&
  head -c \$((size * 65 / 100)) '$out/cut_src.mp4' > '$out/numbered_cut.mp4' && rm -f '$out/cut_src.mp4'"
# MPEG-TS of 30 s with 1 s GOPs, H.264 and MPEG-2 (about 1 MB each), and 16 s
# of H.264 with 4 s GOPs: the end is found, and a seek lands, without reading
# what lies before the last GOP.
gen numbered_long.ts ff -filter_complex "$(numbered 320x240 25 30)" -map "[v]" $(x264) -bf 3 -g 25 -b:v 250k \
  "$out/numbered_long.ts"
gen numbered_mpeg2_long.ts ff -filter_complex "$(numbered 320x240 25 30)" -map "[v]" -c:v mpeg2video -bf 2 -g 25 \
  -b:v 250k "$out/numbered_mpeg2_long.ts"
gen numbered_gop100.ts ff -filter_complex "$(numbered 320x240 25 16)" -map "[v]" $(x264) -bf 3 -g 100 \
  -keyint_min 100 -sc_threshold 0 "$out/numbered_gop100.ts"
# ---- end of the frame exactness block -------------------------------------

# ---- Still images: cut-off files, a first file missing or empty, linear light
# EXR (float RGB, one row per block, uncompressed) img.0001-0008 and JPEG
# img.001-008, whose files 7 end halfway, as a render still being written does.
gen seq_exr_cut sh -c "mkdir -p '$out/seq_exr_cut' &&
  ffmpeg -nostdin -v error -y -f lavfi -i 'testsrc2=size=160x120:rate=24:duration=0.34' -frames:v 8 \
    -pix_fmt gbrpf32le -c:v exr -compression none -start_number 1 '$out/seq_exr_cut/img.%04d.exr' &&
  size=\$(stat -c %s '$out/seq_exr_cut/img.0007.exr') &&
  head -c \$((size / 2)) '$out/seq_exr_cut/img.0007.exr' > '$out/seq_exr_cut/cut' &&
  mv '$out/seq_exr_cut/cut' '$out/seq_exr_cut/img.0007.exr'"
gen seq_jpg_cut sh -c "mkdir -p '$out/seq_jpg_cut' &&
  ffmpeg -nostdin -v error -y -f lavfi -i 'testsrc2=size=160x120:rate=24:duration=0.34' -frames:v 8 -q:v 3 \
    -start_number 1 '$out/seq_jpg_cut/img.%03d.jpg' &&
  size=\$(stat -c %s '$out/seq_jpg_cut/img.007.jpg') &&
  head -c \$((size / 2)) '$out/seq_jpg_cut/img.007.jpg' > '$out/seq_jpg_cut/cut' &&
  mv '$out/seq_jpg_cut/cut' '$out/seq_jpg_cut/img.007.jpg'"
# PNG shot.1001-1006 whose first file is missing, and the same with it empty.
gen seq_first_missing sh -c "mkdir -p '$out/seq_first_missing' &&
  ffmpeg -nostdin -v error -y -f lavfi -i 'testsrc2=size=160x120:rate=24:duration=0.25' \
    -start_number 1001 '$out/seq_first_missing/shot.%04d.png' && rm -f '$out/seq_first_missing/shot.1001.png'"
gen seq_first_empty sh -c "mkdir -p '$out/seq_first_empty' &&
  ffmpeg -nostdin -v error -y -f lavfi -i 'testsrc2=size=160x120:rate=24:duration=0.25' \
    -start_number 1001 '$out/seq_first_empty/shot.%04d.png' && : > '$out/seq_first_empty/shot.1001.png'"
# One 320x240 picture of four flat patches (grey 0x40 top left, 0x802010 top
# right, grey 0xc0 bottom right, 0x10a040 bottom left) as EXR, which carries
# no transfer tag, and as 8-bit DPX, tagged linear.
patches() {
  echo "color=c=0x404040:s=160x120[a];color=c=0x802010:s=160x120[b];color=c=0x10a040:s=160x120[c];\
color=c=0xc0c0c0:s=160x120[d];[a][b]hstack[top];[c][d]hstack[bottom];[top][bottom]vstack[v]"
}
gen linear_patches sh -c "mkdir -p '$out/linear_patches' &&
  ffmpeg -nostdin -v error -y -filter_complex '$(patches)' -map '[v]' -frames:v 1 -pix_fmt gbrpf32le -c:v exr \
    '$out/linear_patches/patches.0001.exr' &&
  ffmpeg -nostdin -v error -y -filter_complex '$(patches)' -map '[v]' -frames:v 1 -pix_fmt rgb24 \
    '$out/linear_patches/patches.0001.dpx'"
# ---- end of the still images block ----------------------------------------

# ---- Compressed sound: seeks and backward play --------------------------
# A rising chirp left and a falling one right at 0.4, 3 s at 48 kHz: MP3 (bit
# reservoir), Opus (80 ms seek pre-roll, 312 priming samples) and AAC, each
# in Matroska and MP4 and, where it has one, in its own file.
chirp="aevalsrc=0.4*sin(2*PI*(300+200*t)*t)|0.4*sin(2*PI*(500-100*t)*t):s=48000:d=3"
for kind in mp3.mp3 mp3.mkv mp3.mp4 opus.opus opus.mkv opus.mp4 aac.mkv aac.mp4; do
  case $kind in
    mp3.*) codec="-c:a libmp3lame -b:a 128k" ;;
    opus.*) codec="-c:a libopus -b:a 96k" ;;
    aac.*) codec="-c:a aac -b:a 128k" ;;
  esac
  gen "chirp_$kind" ff -f lavfi -i "$chirp" $codec "$out/chirp_$kind"
done
# ---- end of the compressed sound block ------------------------------------

# ---- Timestamp noise and a lone late picture --------------------------------
# 144 numbered pictures at 24 fps in Matroska (no B-frames), timed from 20/24 s
# on and rounded to whole milliseconds: the first at 833 ms, rounded down,
# later ones up to 0.67 ms after their frame's start.
gen numbered_msround.mkv ff -filter_complex "$(numbered 320x240 24 6);[v]settb=1/24,setpts=N+20[w]" -map "[w]" \
  -fps_mode passthrough $(x264) -bf 0 -g 48 "$out/numbered_msround.mkv"
# Four MPEG-TS recordings of 60 numbered pictures at 29.97 fps joined by the
# concat demuxer, each taken as 33 ticks (0.37 ms) longer than it is: every
# join steps the times that much late.
gen numbered_joined.ts sh -c "
  for i in 0 1 2 3; do
    ffmpeg -nostdin -v error -y -filter_complex \"$(numbered 320x240 30000/1001 8);[v]trim=start_frame=\$((i * 60)):end_frame=\$((i * 60 + 60)),setpts=PTS-STARTPTS[w]\" \
      -map '[w]' $(x264) -bf 2 -g 30 '$out/joined_piece'\$i.ts || exit 1
    echo \"file 'joined_piece\$i.ts'\"; echo 'duration 2.002367'
  done > '$out/joined_list.txt' &&
  ffmpeg -nostdin -v error -y -f concat -safe 0 -i '$out/joined_list.txt' -c copy '$out/numbered_joined.ts' &&
  rm -f '$out'/joined_piece?.ts '$out/joined_list.txt'"
# H.264 with B-frames, 200 numbered pictures at 25 fps in MP4, whose last
# packet is timed 5 s late, decoding time too: the stream's average rate is
# 200/13 fps.
gen numbered_late5s.mp4 ff -i "$out/numbered_bframes_src.mp4" -c copy \
  -bsf:v "setts=pts=if(eq(N\,199)\,PTS+5/TB\,PTS):dts=if(eq(N\,199)\,DTS+5/TB\,DTS)" "$out/numbered_late5s.mp4"
# ---- end of the timestamp noise block ---------------------------------------

# ---- A first picture that does not decode ---------------------------------
# break_first_idr FILE CODEC: zeroes the first two bytes of the slice header
# of the first IDR picture of FILE's video stream (CODEC h264 or hevc), so
# that the picture no longer decodes (the slice type or the parameter set it
# names is out of range). Its NAL unit is found in the first packet, whose
# NAL units follow 4-byte lengths in MP4 and Matroska; the packet is found
# in the file by its first 32 bytes.
break_first_idr() {
  ffmpeg -nostdin -v error -y -i "$1" -map 0:v:0 -c copy -frames:v 1 -f data "$1.first" &&
  at=$(od -An -v -tu1 "$1.first" | awk -v codec="$2" '
    { for (i = 1; i <= NF; ++i) b[n++] = $i }
    END {
      for (o = 0; o + 4 < n; o += 4 + len) {
        len = ((b[o] * 256 + b[o + 1]) * 256 + b[o + 2]) * 256 + b[o + 3]
        type = codec == "h264" ? b[o + 4] % 32 : int(b[o + 4] / 2) % 64
        if (codec == "h264" ? type == 5 : type == 19 || type == 20) { print o + 4 + (codec == "h264" ? 1 : 2); exit }
      }
      exit 1
    }') &&
  key=$(od -An -v -tx1 -N32 "$1.first" | tr -d ' \n') &&
  packet=$(od -An -v -tx1 "$1" | tr -d ' \n' | awk -v key="$key" '
    { for (from = 1; (i = index(substr($0, from), key)) > 0; from += i)
        if ((from + i) % 2 == 0) { print (from + i - 2) / 2; exit }
      exit 1 }') &&
  printf '\000\000' | dd of="$1" bs=1 seek=$((packet + at)) conv=notrunc status=none &&
  rm -f "$1.first"
}
# broken_idr_media NAME CODEC ENCODER-OPTIONS...: 100 numbered pictures at
# 25 fps into NAME, whose first IDR is then damaged.
broken_idr_media() {
  name=$1 codec=$2; shift 2
  ffmpeg -nostdin -v error -y -filter_complex "$(numbered 320x240 25 4)" -map "[v]" "$@" "$out/broken_$name" &&
  break_first_idr "$out/broken_$name" "$codec" &&
  mv "$out/broken_$name" "$out/$name"
}
# With B-frames; ffmpeg decodes the other 99 pictures. H.264 has a second
# IDR right after the damaged one (the pictures after a lost IDR would wait
# for the next), HEVC goes on from the missing picture.
for container in mkv mp4; do
  gen numbered_brokenidr.$container broken_idr_media numbered_brokenidr.$container h264 $(x264) -bf 3 -g 50 \
    -force_key_frames 'expr:lt(n,2)'
  gen numbered_hevc_brokenidr.$container broken_idr_media numbered_hevc_brokenidr.$container hevc $(x265) \
    -x265-params log-level=error:bframes=3:keyint=25:min-keyint=25:open-gop=0:scenecut=0
done
# ---- end of the first picture block ---------------------------------------

# ---- Gradual refresh: recovery points whose refresh is not yet exact --------
# Periodic intra refresh every 40 frames (x264's default preset, 200 numbered
# frames at 25 fps, one thread so that every machine makes the same stream):
# decoding from the last recovery point shows its last 22 pictures wrong, from
# the one before they are exact. Cut by a stream copy 2.3 s in (Matroska, MP4
# with its edit list), and a recording from the second key packet on.
gen numbered_refresh40_src.ts ff -filter_complex "$(numbered 320x240 25 8)" -map "[v]" -c:v libx264 -pix_fmt yuv420p \
  -bf 0 -threads 1 -x264-params intra-refresh=1:keyint=40 "$out/numbered_refresh40_src.ts"
gen numbered_refresh40.mkv ff -ss 2.3 -i "$out/numbered_refresh40_src.ts" -c copy "$out/numbered_refresh40.mkv"
gen numbered_refresh40.mp4 ff -ss 2.3 -i "$out/numbered_refresh40_src.ts" -c copy "$out/numbered_refresh40.mp4"
gen numbered_refresh40.ts sh -c "
  pos=\$(ffprobe -v error -select_streams v -show_entries packet=flags,pos -of csv=p=0 \
    '$out/numbered_refresh40_src.ts' | awk -F, '\$2 ~ /K/ { if (++n == 2) { print \$1; exit } }') &&
  tail -c +\$((pos + 1)) '$out/numbered_refresh40_src.ts' > '$out/numbered_refresh40.ts'"
# A refresh every 10 frames, fewer than the picture's 20 columns of blocks:
# the recovery points claim 9 frames, the pictures need about 14.
gen numbered_refresh10.mkv sh -c "
  ffmpeg -nostdin -v error -y -filter_complex \"$(numbered 320x240 25 8)\" -map '[v]' $(x264) -bf 0 -threads 1 \
    -x264-params intra-refresh=1:keyint=10 '$out/refresh10_src.ts' &&
  ffmpeg -nostdin -v error -y -ss 2.3 -i '$out/refresh10_src.ts' -c copy '$out/numbered_refresh10.mkv' &&
  rm -f '$out/refresh10_src.ts'"
# Periodic intra refresh as a camera or a stream writes it: keyint 40 at
# 25 fps over 12 s, and keyint 48 at 30 fps over 16 s, no B-frames. Every
# other refresh leaves pictures inexact until the next one is done, whatever
# its recovery point claims. Cut by a stream copy 2.5 s in (Matroska, MP4
# with its edit list), and a recording from the third key packet on.
for refresh in 40:25:12 48:30:16; do
  keyint=${refresh%%:*} rate=${refresh#*:}; seconds=${rate#*:}; rate=${rate%:*}
  name=numbered_refresh${keyint}cut
  gen ${name}_src.ts ff -filter_complex "$(numbered 320x240 $rate $seconds)" -map "[v]" $(x264) -bf 0 -threads 1 \
    -x264-params intra-refresh=1:keyint=$keyint "$out/${name}_src.ts"
  gen $name.mkv ff -ss 2.5 -i "$out/${name}_src.ts" -c copy "$out/$name.mkv"
  gen $name.mp4 ff -ss 2.5 -i "$out/${name}_src.ts" -c copy "$out/$name.mp4"
  gen $name.ts sh -c "
    pos=\$(ffprobe -v error -select_streams v -show_entries packet=flags,pos -of csv=p=0 \
      '$out/${name}_src.ts' | awk -F, '\$2 ~ /K/ { if (++n == 3) { print \$1; exit } }') &&
    tail -c +\$((pos + 1)) '$out/${name}_src.ts' > '$out/$name.ts'"
done
# ---- end of the gradual refresh block ----------------------------------------

# ---- Timing: a wrapping clock, a late timestamp, phone rates, sound alone ---
# MPEG-TS of 300 numbered pictures at 25 fps that starts 3.3 s before the
# 33-bit clock wraps (2^33 / 90 kHz = 95443.7 s; the muxer adds 1.4 s): its
# first 83 pictures have negative times.
gen numbered_wrap.ts ff -filter_complex "$(numbered 320x240 25 12)" -map "[v]" $(x264) -bf 2 -g 25 \
  -output_ts_offset 95439 "$out/numbered_wrap.ts"
# H.264 with B-frames, 200 numbered pictures at 25 fps in MP4, whose packet
# 101 (picture 101) is timed 1 s late, its decoding time not.
gen numbered_late101.mp4 ff -i "$out/numbered_bframes_src.mp4" -c copy \
  -bsf:v "setts=pts=if(eq(N\,101)\,PTS+1/TB\,PTS)" "$out/numbered_late101.mp4"
# A phone's recording: 180 numbered pictures 20 +- 2 ticks of 1/600 s apart,
# 0.1 s without a picture after the 90th (average rate 29.44 fps).
gen numbered_phone.mov ff -filter_complex "$(numbered 320x240 30 6);[v]settb=1/600,setpts='20*N+mod(N*7\,5)-2+60*gte(N\,90)'[w]" \
  -map "[w]" -frames:v 180 -fps_mode passthrough $(x264) -enc_time_base 1/600 -bf 2 -video_track_timescale 600 \
  "$out/numbered_phone.mov"
# Periodic intra refresh with B-frames at 30 fps in Matroska (millisecond
# times), cut by a stream copy 3.1 s in into MP4 with its edit list: about 265
# pictures shown of 301 packets, an average rate of 30.30 fps.
gen numbered_refresh30.mp4 sh -c "
  ffmpeg -nostdin -v error -y -filter_complex \"$(numbered 320x240 30 12)\" -map '[v]' $(x264) -bf 3 \
    -x264-params intra-refresh=1:keyint=60 '$out/refresh30_src.mkv' &&
  ffmpeg -nostdin -v error -y -ss 3.1 -i '$out/refresh30_src.mkv' -c copy '$out/numbered_refresh30.mp4' &&
  rm -f '$out/refresh30_src.mkv'"
# Sound alone whose first sample lies after the stream's zero (3 ms): Vorbis
# in Matroska, whose first packet decodes to nothing.
gen chirp_vorbis.mkv ff -f lavfi -i "$chirp" -c:a libvorbis -q:a 4 "$out/chirp_vorbis.mkv"
# ---- end of the timing block -------------------------------------------------
# ---- Broadcast sound, a cut-off AV1 start, a splice an hour on -------------
# 250 numbered pictures at 25 fps in MPEG-TS with GOPs of 12 and two B-frames,
# over a tone: H.264 with AC-3 and with MP2 sound, and MPEG-2 with MP2 (the
# DVB shape). A sound stream whose rate its headers tell comes before the
# video when the demuxer picks a stream of its own.
for kind in ac3 mp2 dvb; do
  case $kind in
    ac3) codecs="$(x264) -c:a ac3" ;;
    mp2) codecs="$(x264) -c:a mp2 -b:a 128k" ;;
    dvb) codecs="-c:v mpeg2video -q:v 4 -c:a mp2 -b:a 128k" ;;
  esac
  gen numbered_$kind.ts ff -filter_complex "$(numbered 320x240 25 10)" \
    -f lavfi -i "sine=frequency=440:sample_rate=48000:duration=10" -map "[v]" -map 0:a $codecs -bf 2 -g 12 \
    "$out/numbered_$kind.ts"
done
# AV1 (libaom, GOPs of 30, 60 numbered pictures at 25 fps) in IVF whose first
# 10 temporal units are cut off: it starts before its only sequence header,
# and 30 pictures decode. The same bytes under MP4 and Matroska names.
gen numbered_av1_cut.ivf sh -c "
  ffmpeg -nostdin -v error -y -filter_complex \"$(numbered 320x240 25 2.4)\" -map '[v]' -c:v libaom-av1 \
    -cpu-used 8 -threads 1 -lag-in-frames 16 -b:v 300k -g 30 '$out/av1_cut_src.ivf' &&
  pos=\$(ffprobe -v error -select_streams v -show_entries packet=pos -of csv=p=0 '$out/av1_cut_src.ivf' |
    sed -n 11p) &&
  head -c 32 '$out/av1_cut_src.ivf' > '$out/av1_cut.tmp' &&
  tail -c +\$((pos + 1)) '$out/av1_cut_src.ivf' >> '$out/av1_cut.tmp' &&
  mv '$out/av1_cut.tmp' '$out/numbered_av1_cut.ivf' && rm -f '$out/av1_cut_src.ivf'"
gen numbered_av1_cut_ivf.mp4 cp "$out/numbered_av1_cut.ivf" "$out/numbered_av1_cut_ivf.mp4"
gen numbered_av1_cut_ivf.mkv cp "$out/numbered_av1_cut.ivf" "$out/numbered_av1_cut_ivf.mkv"
# Two numbered MPEG-TS recordings of 50 pictures joined byte for byte, the
# second timed an hour after the first (another background): a splice whose
# timestamps leap forward.
gen numbered_leap.ts sh -c "
  ffmpeg -nostdin -v error -y -filter_complex \"$(numbered 320x240 25 2)\" -map '[v]' $(x264) -bf 2 -g 25 \
    '$out/leap_a.ts' &&
  ffmpeg -nostdin -v error -y -filter_complex \"$(numbered 320x240 25 2 | sed 's/testsrc2=/testsrc=/')\" \
    -map '[v]' $(x264) -bf 2 -g 25 -output_ts_offset 3600 '$out/leap_b.ts' &&
  cat '$out/leap_a.ts' '$out/leap_b.ts' > '$out/numbered_leap.ts' && rm -f '$out/leap_a.ts' '$out/leap_b.ts'"
# ---- end of that block -------------------------------------------------------
# ---- Restarts a long transport stream's spot scan passes over ----------------
# Above 16 MiB a transport stream's open reads spots of it; these restarts lie
# between two spots, at a pace the spots take for steady. 4 Mbit/s (filled up
# by the encoder), 320x240, 25 fps, pictures numbered on from piece to piece:
# a step back of 0.32 s after picture 499 (1050 pictures); a splice of two
# recordings, the second starting 0.4 s before the first ends (1000); a 1-s
# stretch, pictures 350-374, on a clock 10 s early, back on the line after.
numbered_from() { # numbered_from WIDTHxHEIGHT RATE SECONDS FIRST: numbered() from FIRST on
  numbered "$1" "$2" "$3" | sed "s/floor(N\//floor((N+$4)\//"
}
ts_piece() { # ts_piece OUT SECONDS FIRST OFFSET
  ffmpeg -nostdin -v error -y -filter_complex "$(numbered_from 320x240 25 "$2" "$3")" -map "[v]" $(x264) -bf 2 \
    -g 25 -b:v 4M -minrate 4M -maxrate 4M -bufsize 2M -x264-params nal-hrd=cbr -output_ts_offset "$4" -f mpegts "$1"
}
ts_pieces() { # ts_pieces OUT SECONDS FIRST OFFSET [SECONDS FIRST OFFSET]...: the pieces joined byte for byte
  target=$1; shift
  : > "$target.part"
  while [ $# -gt 0 ]; do
    ts_piece "$target.piece" "$1" "$2" "$3" || return 1
    cat "$target.piece" >> "$target.part" || return 1
    shift 3
  done
  rm -f "$target.piece" && mv "$target.part" "$target"
}
gen numbered_stepback_long.ts ts_pieces "$out/numbered_stepback_long.ts" 20 0 0 22 500 19.68
gen numbered_splice_long.ts ts_pieces "$out/numbered_splice_long.ts" 20 0 0 20 500 19.6
gen numbered_stretch_long.ts ts_pieces "$out/numbered_stretch_long.ts" 14 0 0 1 350 4 27 375 15
# ---- end of the long restarts block ------------------------------------------

# ---- Transport streams without timestamps ------------------------------------
# 30 s of numbered pictures (750) and a sine, their PES headers stripped of
# every timestamp: played by picture number, the sound left out.
gen numbered_untimed.ts sh -c "
  ffmpeg -nostdin -v error -y -filter_complex \"$(numbered 320x240 25 30)\" \
    -f lavfi -i 'sine=frequency=440:sample_rate=48000:duration=30' -map '[v]' -map 0:a $(x264) -bf 3 -g 25 \
    -b:v 250k -c:a aac -b:a 64k '$out/untimed_src.ts' &&
  python3 '$(dirname "$0")/strip_ts_timestamps.py' '$out/untimed_src.ts' '$out/numbered_untimed.ts' &&
  rm -f '$out/untimed_src.ts'"
# ---- end of the untimed block ------------------------------------------------

echo "$sum" > "$stamp"
echo "test media ready in $out"
