#!/bin/sh
# Compares the frames the engine hands to the viewer (tessarin_bench frames)
# with ffmpeg's framemd5 of the same media: playing forwards and backwards,
# after seeks and stepping frame by frame, across GOP boundaries.
# Usage: bench_frames_check.sh TESSARIN_BENCH TEST_MEDIA_DIR [full|reduced]
# "reduced" (for the sanitizer build, whose processes are large) makes three
# parallel runs instead of ten.
set -u
bench=$1
media=$2
extent=${3:-full}
work=$(mktemp -d "${TMPDIR:-/tmp}/bench-frames.XXXXXX")
trap 'rm -rf "$work"' EXIT
failures=0
checks=0
# Only pictures are compared here: keep the probe off the audio server, whose
# client library can abort while a stream is torn down at exit.
export PULSE_SERVER=unix:/nonexistent/tessarin-bench-no-audio

# reference SOURCE FORMAT: one "frame N md5 X" line per picture ffmpeg decodes.
reference() {
  case $1 in
    *' '*) # an image sequence "DIR/name.####.ext FIRST-LAST", played at 24 fps
      pattern=$(printf '%s\n' "${1% *}" |
        awk '{ match($0, /#+/); printf "%s%%0%dd%s\n", substr($0, 1, RSTART - 1), RLENGTH, substr($0, RSTART + RLENGTH) }')
      range=${1##* }
      set -- "$2" -framerate 24 -start_number "${range%-*}" -i "$pattern" ;;
    *) set -- "$2" -noautorotate -i "$1" ;;
  esac
  format=$1; shift
  ffmpeg -nostdin -v error "$@" -map 0:v:0 -fps_mode passthrough -enc_time_base -1 \
    -sws_flags bilinear+full_chroma_int+accurate_rnd -pix_fmt "$format" -f framemd5 - |
    awk -F', *' '!/^#/ { print "frame", n++, "md5", $NF }'
}

# covering SOURCE FORMAT: for a movie of variable frame rate, the picture each
# timeline frame (at the stream's regular rate, ffprobe's r_frame_rate) must
# show: of the pictures in time order (the decoder's times, which framemd5
# would clip to run forward), the last one that starts before the frame's
# start or within a quarter of a frame after it (half a tick of the time base
# where that is more). The stream ends one frame after the last picture
# decoded: frames up to the one that picture starts. With a third argument
# "pts", each picture is timed by its own presentation time rather than by
# ffmpeg's best effort (which takes decoding times for every picture after
# one whose time is out of order).
covering() {
  stream=$(ffprobe -v error -select_streams v:0 -show_entries stream=r_frame_rate,time_base -of csv=p=0 "$1")
  field=best_effort_timestamp_time
  [ "${3:-}" = pts ] && field=pts_time
  ffprobe -v error -select_streams v:0 -show_entries frame=$field -of default=nw=1 "$1" |
    sed -n "s/^$field=//p" > "$work/covering.times"
  ffmpeg -nostdin -v error -noautorotate -i "$1" -map 0:v:0 -fps_mode passthrough -enc_time_base -1 \
    -sws_flags bilinear+full_chroma_int+accurate_rnd -pix_fmt "$2" -f framemd5 - |
    awk -F', *' -v stream="$stream" '
      FNR == NR { time[n++] = $1 * 1e6; next }
      !/^#/ { md5[m++] = $NF }
      END {
        if (m != n || n == 0) exit 1
        split(stream, s, /[,\/]/); step = 1e6 * s[2] / s[1]; tick = 1e6 * s[3] / s[4]
        tolerance = int(step / 4); half = int(tick / 2 + 0.999999)
        if (half > tolerance) tolerance = half
        if (tolerance > step / 2 - 1) tolerance = int(step / 2 - 1)
        if (tolerance < 1) tolerance = 1
        last = int((time[n - 1] + tolerance) / step)
        if (int(last * step) + tolerance < time[n - 1]) ++last
        # Time order; pictures at one time keep their decoding order.
        for (i = 1; i < n; ++i) {
          moved = time[i]; h = md5[i]
          for (j = i - 1; j >= 0 && time[j] > moved; --j) { time[j + 1] = time[j]; md5[j + 1] = md5[j] }
          time[j + 1] = moved; md5[j + 1] = h
        }
        k = 0
        for (f = 0; f <= last; ++f) {
          start = int(f * step)
          while (k + 1 < n && time[k + 1] <= start + tolerance) ++k
          print "frame", f, "md5", md5[k]
        }
      }' "$work/covering.times" -
}

# verify REF OUT EXPECT: compares the frames a run printed with the
# reference; prints what is wrong and fails, or prints nothing. Pictures of
# frames before $exact_from are not compared (see refresh_modes).
exact_from=0
verify() {
  awk -v expect="$3" -v exact="$exact_from" '
    FNR == NR { md5[$2] = $4; order[count++] = $4; next }
    /^# clock frames / { clock = $4 }
    /^frame / {
      if (expect !~ /^pictures/ && !($2 in md5)) { print "frame " $2 " is beyond the " count " pictures"; bad = 1; exit }
      if (expect !~ /^pictures/ && $2 >= exact && md5[$2] != $4) { print "frame " $2 " shows " $4 ", expected " md5[$2]; bad = 1; exit }
      shown[lines++] = $2; picture[lines - 1] = $4
    }
    END {
      if (bad) exit 1
      if (expect == "forward" || expect == "backward") {
        step = expect == "forward" ? 1 : -1
        first = expect == "forward" ? 0 : count - 1
        if (clock == "" || lines < clock * 0.8) { print "only " lines " of the " clock " frames the clock stopped on shown (" count " in all)"; exit 1 }
        if (shown[0] != first || shown[lines - 1] != count - 1 - first) { print "playback from " shown[0] " to " shown[lines - 1]; exit 1 }
        for (i = 1; i < lines; ++i) if ((shown[i] - shown[i - 1]) * step <= 0) { print "frame " shown[i] " after " shown[i - 1]; exit 1 }
      } else if (expect ~ /^pictures/) {
        n = 0
        for (i = 0; i < lines; ++i) {
          j = expect == "pictures" ? i : lines - 1 - i
          if (n == 0 || picture[j] != seen[n - 1]) seen[n++] = picture[j]
        }
        if (n != count) { print n " distinct pictures shown, ffmpeg decodes " count; exit 1 }
        for (i = 0; i < n; ++i) if (seen[i] != order[i]) { print "picture " i " is " seen[i] ", expected " order[i]; exit 1 }
      } else {
        got = ""
        for (i = 0; i < lines; ++i) got = got (i ? "," : "") shown[i]
        if (got != expect) { print "frames " got ", expected " expect; exit 1 }
      }
    }' "$1" "$2"
}

# check NAME SOURCE EXPECT ARGS...: runs `tessarin_bench frames SOURCE ARGS`
# and compares every line with the reference. EXPECT is a list of frame
# numbers that must be printed in that order, or "forward"/"backward" for
# playback (in order, both ends, frames skipped by the clock allowed), or
# "pictures"/"pictures-backward" for variable-rate media stepped frame by
# frame (every picture ffmpeg decodes, in order, each shown at least once).
# Playback shows most of the frames the clock stopped on, as the program
# reports them: a starved process ticks late, and the clock then moves past
# frames that were never due, however fast the engine. Short of that share,
# the playback runs once more at normal speed.
check_now() {
  name=$1 source=$2 expect=$3 fast=""; shift 3
  # The decoder's own thread choice follows the machine's cores: a run
  # names its count, two unless it says otherwise (see the block on decoder
  # threads for the others).
  case " $* " in
    *" --decoder-threads "*) ;;
    *) set -- "$@" --decoder-threads 2 ;;
  esac
  out="$work/$checks.out"
  if ! "$bench" frames "$source" "$@" > "$out" 2> "$work/$checks.err"; then
    echo "FAIL $name: tessarin_bench frames exited with an error"; tail -n 5 "$work/$checks.err"
    failures=$((failures + 1)); return
  fi
  format=$(awk '/^# format/ { print $3; exit }' "$out")
  ref="$work/$(printf '%s' "$source" | md5sum | cut -c1-12).$format"
  case $expect in
    covering:*) # a variable-rate movie: the picture covering each frame's start
      expect=${expect#covering:}; ref="$ref.covering"
      [ -s "$ref" ] || { covering "$source" "$format" > "$ref.$checks" && mv -f "$ref.$checks" "$ref"; } ;;
    covering-pts:*) # the same, each picture at its own presentation time
      expect=${expect#covering-pts:}; ref="$ref.covering-pts"
      [ -s "$ref" ] || { covering "$source" "$format" pts > "$ref.$checks" && mv -f "$ref.$checks" "$ref"; } ;;
    *) [ -s "$ref" ] || { reference "$source" "$format" > "$ref.$checks" && mv -f "$ref.$checks" "$ref"; } ;;
  esac
  if [ ! -s "$ref" ]; then
    echo "FAIL $name: no ffmpeg reference"; failures=$((failures + 1)); return
  fi
  result=$(verify "$ref" "$out" "$expect")
  failed=$?
  if [ $failed -ne 0 ] && [ -z "${result##only *}" ]; then
    # Too few frames shown at four times the speed, where a frame is due for
    # a few milliseconds: a starved process misses many. Played again at
    # normal speed, every other check as before.
    fast=$result
    if "$bench" frames "$source" "$@" --speed 1 > "$out" 2> "$work/$checks.err"; then
      result=$(verify "$ref" "$out" "$expect")
      failed=$?
    else
      result="tessarin_bench frames exited with an error"
    fi
    result="$fast; at normal speed: ${result:-ok}"
  fi
  if [ $failed -ne 0 ]; then
    echo "FAIL $name: $result"; failures=$((failures + 1))
  else
    echo "ok   $name${fast:+ ($result)}"
  fi
}

# Checks run a few at a time: each is mostly a short playback waiting on its
# clock. A check's lines go to a file of its own, printed in order once all
# are done; a reference made for one check is moved into place whole, so a
# check beside it never reads it half written.
check_jobs=$(nproc 2>/dev/null || echo 2)
[ "$check_jobs" -le 4 ] || check_jobs=4
[ "$check_jobs" -ge 2 ] || check_jobs=2
[ "$extent" = full ] || check_jobs=2
running=""
check() {
  checks=$((checks + 1))
  while [ "$(echo $running | wc -w)" -ge "$check_jobs" ]; do
    oldest=${running%% *}
    wait "$oldest"
    running=${running#"$oldest"}; running=${running# }
  done
  check_now "$@" > "$work/$checks.log" 2>&1 &
  running="${running:+$running }$!"
}
# Waits for every check, prints their lines and counts those that failed.
finish_checks() {
  wait $running
  running=""
  i=1
  while [ $i -le $checks ]; do
    cat "$work/$i.log"
    i=$((i + 1))
  done
  failures=$(cat "$work"/*.log | grep -c '^FAIL')
}

m=$media
# H.264, 300 frames, one GOP boundary at 250, three B-frames.
check "gop250 play forward" "$m/numbered_gop250.mp4" forward --speed 4
check "gop250 play backward" "$m/numbered_gop250.mp4" backward --direction backward --speed 4
check "gop250 seeks" "$m/numbered_gop250.mp4" 299,0,250,249,125,251,1,298 --seek 299,0,250,249,125,251,1,298
check "gop250 step back over the GOP start" "$m/numbered_gop250.mp4" 255,254,253,252,251,250,249,248,247,246 \
  --from 255 --step -1 --count 10
check "gop250 step forward" "$m/numbered_gop250.mp4" 245,246,247,248,249,250,251,252 --from 245 --step 1 --count 8
check "gop250 multi-step back" "$m/numbered_gop250.mp4" 275,265,255,245,235 --from 275 --step -10 --count 5
check "gop250 rgb24 seeks" "$m/numbered_gop250.mp4" 0,250,100 --format rgb24 --seek 0,250,100
# Open GOPs every 50 frames; MPEG-2 in MPEG-TS; timestamps from 1000 s.
check "open GOP seeks" "$m/numbered_opengop.mkv" 49,50,51,100,99,149,0 --seek 49,50,51,100,99,149,0
check "open GOP step back" "$m/numbered_opengop.mkv" 102,101,100,99,98,97 --from 102 --step -1 --count 6
check "MPEG-2 TS seeks" "$m/numbered_mpeg2.ts" 24,25,26,50,99,0 --seek 24,25,26,50,99,0
check "MPEG-2 TS step back" "$m/numbered_mpeg2.ts" 52,51,50,49,48 --from 52 --step -1 --count 5
check "TS offset play backward" "$m/numbered_offset.ts" backward --direction backward --speed 4
check "TS offset seeks" "$m/numbered_offset.ts" 0,149,50,49 --seek 0,149,50,49
# One picture (the 39th) whose timestamp lies hours past the stream's end:
# it is shown in its place, and the stream keeps its length.
check "corrupt TS timestamp play forward" "$m/numbered_badpts.ts" forward --speed 4
check "corrupt TS timestamp play backward" "$m/numbered_badpts.ts" backward --direction backward --speed 4
check "corrupt TS timestamp seeks" "$m/numbered_badpts.ts" 38,74,37,39,0,49,38 --seek 38,74,37,39,0,49,38
check "corrupt TS timestamp step back" "$m/numbered_badpts.ts" 51,50,49,48,47,46,45,44,43,42,41,40,39,38,37,36 \
  --from 51 --step -1 --count 16
check "corrupt TS timestamp step forward" "$m/numbered_badpts.ts" 34,35,36,37,38,39,40,41 --from 34 --step 1 --count 8
# Two recordings joined byte for byte, the timestamps restarting at frame 50
# (frame numbers too; the second half has another background): frames in
# file order, the same picture whichever way a frame is reached.
restart=$m/numbered_restart.ts
check "restarting TS play forward" "$restart" forward --speed 4
check "restarting TS play backward" "$restart" backward --direction backward --speed 4
check "restarting TS seeks" "$restart" 99,0,50,49,75,25,51,1,98 --seek 99,0,50,49,75,25,51,1,98
check "restarting TS step back over the restart" "$restart" 54,53,52,51,50,49,48,47,46 --from 54 --step -1 --count 9
check "restarting TS step forward over the restart" "$restart" 46,47,48,49,50,51,52,53 --from 46 --step 1 --count 8
# Intra-only, odd size, RGBA, rotation tag, 23.976 fps.
check "MJPEG play forward" "$m/numbered_mjpeg.mov" forward --speed 4
check "MJPEG step back" "$m/numbered_mjpeg.mov" 49,48,47,46 --from 49 --step -1 --count 4
check "odd 333x241 play forward" "$m/numbered_odd_333x241.mkv" forward --speed 4
check "RGBA seeks" "$m/numbered_rgba.mov" 0,24,12 --seek 0,24,12
check "rotated seeks" "$m/rotated90.mp4" 0,49,25 --seek 0,49,25
check "23.976 fps seeks" "$m/h264_gop250.mp4" 287,0,143,250,249 --seek 287,0,143,250,249
# A raw H.264 stream cannot seek: every seek decodes from its start.
check "raw H.264 play forward" "$m/numbered_raw.h264" forward --speed 4
check "raw H.264 play backward" "$m/numbered_raw.h264" backward --direction backward --speed 4
check "raw H.264 seeks" "$m/numbered_raw.h264" 49,0,25,24,1,48 --seek 49,0,25,24,1,48
check "raw H.264 step back" "$m/numbered_raw.h264" 30,29,28,27,26 --from 30 --step -1 --count 5
# Image sequences.
check "PNG sequence play forward" "$m/seq_png/img.####.png 1-30" forward --speed 4
check "PNG sequence step back" "$m/seq_png/img.####.png 1-30" 29,28,27,26 --from 29 --step -1 --count 4
check "JPEG sequence seeks" "$m/seq_jpg/img.###.jpg 1-12" 11,0,6 --seek 11,0,6
# A seek back to before the cached frames, arriving as the sequence runs out.
check "JPEG sequence seek back" "$m/seq_jpg/img.###.jpg 1-12" 6,0 --seek 6,0
check "JPEG sequence seek back near" "$m/seq_jpg/img.###.jpg 1-12" 7,2 --seek 7,2
check "PNG sequence seek back" "$m/seq_png/img.####.png 1-30" 24,0 --seek 24,0
# Variable frame rate: 24 then 60 pictures a second on a 120 fps timeline.
check "VFR step forward" "$m/numbered_vfr.mkv" pictures --from 0 --step 1 --count 1000
check "VFR step back" "$m/numbered_vfr.mkv" pictures-backward --from 238 --step -1 --count 1000

# Variable frame rate with B-frames in MP4: pairs of pictures 1/24 s apart,
# 0.2 s between pairs, on a timeline at that regular 24 fps (the average is
# 10.4 fps). Every way of reaching a frame shows the same picture.
vfr=$m/numbered_vfr_bframes.mp4
check "VFR B-frames step forward" "$vfr" covering:$(seq -s, 0 47) --from 0 --step 1 --count 48
check "VFR B-frames step back" "$vfr" covering:12,11,10,9,8,7,6,5,4,3,2,1,0 --from 12 --step -1 --count 13
check "VFR B-frames seeks" "$vfr" covering:40,3,2,17,1,0,33 --seek 40,3,2,17,1,0,33
# A long still before the seek target: the picture before it is shown there.
still=$m/numbered_still_bframes.mp4
check "still B-frames seeks" "$still" covering:90,60,47,48,95 --seek 90,60,47,48,95
check "still B-frames step back" "$still" covering:$(seq -s, 90 -1 44) --from 90 --step -1 --count 47
# ---- Streams whose packets alone do not tell when each picture is shown ----
# each_mode NAME FILE FRAMES: forward and backward play, seeks across the file
# and near its end, stepping back over its last 30 frames.
# (check sets name and source: these names are its own.)
each_mode() {
  mode_name=$1 mode_file=$2 mode_frames=$3
  mode_seeks="$((mode_frames - 1)),0,$((mode_frames / 2)),$((mode_frames - 3)),1,$((mode_frames - 20))"
  mode_back=$(seq -s, $((mode_frames - 1)) -1 $((mode_frames - 30)))
  check "$mode_name play forward" "$mode_file" forward --speed 4
  check "$mode_name play backward" "$mode_file" backward --direction backward --speed 4
  check "$mode_name seeks" "$mode_file" "$mode_seeks" --seek "$mode_seeks"
  check "$mode_name step back" "$mode_file" "$mode_back" --from $((mode_frames - 1)) --step -1 --count 30
}
# H.264 starting on a recovery point (periodic intra refresh): the pictures
# before the refresh completes are not shown.
each_mode "intra refresh MKV" "$m/numbered_intrarefresh.mkv" 82
each_mode "intra refresh MP4" "$m/numbered_intrarefresh.mp4" 82
each_mode "intra refresh TS" "$m/numbered_intrarefresh.ts" 132
# Timestamps that start near 2^63 µs.
each_mode "huge start time" "$m/numbered_hugeoffset.mkv" 200
# HEVC: B-frames, open GOPs, a stream that starts at a CRA.
each_mode "HEVC MP4" "$m/numbered_hevc.mp4" 100
each_mode "HEVC open GOP" "$m/numbered_hevc_opengop.mkv" 100
each_mode "HEVC from a CRA" "$m/numbered_hevc_cra.mkv" 75
each_mode "HEVC from a CRA, MPEG-TS" "$m/numbered_hevc_cra.ts" 75
# 10-bit HEVC in long open GOPs with a B-pyramid: seeks deep into a GOP.
each_mode "HEVC 10-bit long open GOPs" "$m/numbered_hevc_gop100.mkv" 200
# ---- end of that block ----
# ---- Gradual refresh: recovery points whose refresh is not yet exact --------
# H.264 without IDRs whose last pictures decode wrongly from the recovery
# point before them: every mode, times from packets and decoded.
for media in numbered_refresh40.mkv numbered_refresh40.mp4 numbered_refresh40.ts; do
  frames=$(reference "$m/$media" yuv420p | wc -l)
  each_mode "$media" "$m/$media" "$frames"
  refresh_seeks=$(seq -s, $((frames - 1)) -3 $((frames - 30)))
  check "$media seeks, decoded times" "$m/$media" "$refresh_seeks" --seek "$refresh_seeks" --decoded-times
  check "$media step back, decoded times" "$m/$media" $(seq -s, $((frames - 1)) -1 $((frames - 30))) \
    --from $((frames - 1)) --step -1 --count 30 --decoded-times
done
# refresh_modes FILE FIRST_EXACT STEP_FROM THREADS...: forward and backward
# play, seeks to every 7th frame from the last, stepping back 30 frames from
# STEP_FROM, with the times the packets tell and with decoded times, at each
# decoder thread count. A file that starts inside a refresh shows, before
# FIRST_EXACT (the end of the first refresh begun after its start), the
# decoder's guesses over references it never had: those are not compared.
refresh_modes() {
  r_file=$1 r_first=$2 r_from=$3; shift 3
  r_frames=$(reference "$r_file" yuv420p | wc -l)
  r_last=$((r_frames - 1))
  r_seeks=$(seq -s, $r_last -7 $r_first)
  r_back=$(seq -s, $r_from -1 $((r_from - 29)))
  exact_from=$r_first
  for r_threads in "$@"; do
    for r_route in "" --decoded-times; do
      r_name="${r_file##*/}${r_route:+, decoded times}, $r_threads threads"
      set -- --decoder-threads "$r_threads" $r_route
      check "$r_name play forward" "$r_file" forward --speed 4 "$@"
      check "$r_name play backward" "$r_file" backward --direction backward --speed 4 "$@"
      check "$r_name seeks" "$r_file" "$r_seeks" --seek "$r_seeks" "$@"
      check "$r_name step back" "$r_file" "$r_back" --from "$r_from" --step -1 --count 30 "$@"
      shift $#
    done
  done
  exact_from=0
}
# Cut 2.5 s into keyint 40 at 25 fps and keyint 48 at 30 fps: every other
# refresh leaves its pictures inexact until the next one is done. ffmpeg
# shows them from frame 18 of the first refresh on; the next refresh begins
# 40 (48) frames in and is done 36 frames later. Stepping back crosses a
# stretch that such a refresh leaves inexact.
# The sanitizer build (reduced) runs each file at its first count alone.
refresh_threads() { if [ "$extent" = full ]; then echo "$@"; else echo "$1"; fi; }
refresh_modes "$m/numbered_refresh40cut.mkv" 58 120 $(refresh_threads 1 2 9)
refresh_modes "$m/numbered_refresh40cut.mp4" 58 120 2
refresh_modes "$m/numbered_refresh40cut.ts" 58 120 9
refresh_modes "$m/numbered_refresh48cut.mkv" 66 145 1
refresh_modes "$m/numbered_refresh48cut.mp4" 66 145 9
refresh_modes "$m/numbered_refresh48cut.ts" 66 145 $(refresh_threads 2 1 9)
# ---- end of the gradual refresh block ----------------------------------------
# ---- Decoder threads ---------------------------------------------------------
# What is shown must not depend on the decoder's threads: files of each kind
# (B-frames and a long GOP, open GOPs, MPEG-TS, HEVC, gradual refresh) at
# one thread, three, nine and sixteen (frame threads hold pictures back),
# besides the two every other check runs at (the sanitizer build: nine alone).
# Intra-only ProRes plays backward in windows decoded on frame threads.
thread_counts="1 3 9 16"
[ "$extent" = full ] || thread_counts=9
for threads in $thread_counts; do
  check "ProRes play backward, $threads threads" "$m/numbered_prores_av.mov" backward --direction backward --speed 4 \
    --decoder-threads $threads
  check "gop250 play backward, $threads threads" "$m/numbered_gop250.mp4" backward --direction backward --speed 4 \
    --decoder-threads $threads
  check "gop250 seeks, $threads threads" "$m/numbered_gop250.mp4" 299,0,250,249,125,251,1,298 \
    --seek 299,0,250,249,125,251,1,298 --decoder-threads $threads
  check "open GOP step back, $threads threads" "$m/numbered_opengop.mkv" 102,101,100,99,98,97 --from 102 --step -1 \
    --count 6 --decoder-threads $threads
  check "TS 4 s GOPs seeks, $threads threads" "$m/numbered_gop100.ts" 380,399,0,299,300,301,150,399 \
    --seek 380,399,0,299,300,301,150,399 --decoder-threads $threads
  check "HEVC open GOP seeks, $threads threads" "$m/numbered_hevc_opengop.mkv" 99,0,50,97,1,80 --seek 99,0,50,97,1,80 \
    --decoder-threads $threads
  check "HEVC long GOP seeks, $threads threads" "$m/numbered_hevc_gop100.mkv" 93,199,60,99,100,196,0,150 \
    --seek 93,199,60,99,100,196,0,150 --decoder-threads $threads
  for media in numbered_refresh40.ts numbered_refresh10.mkv; do
    frames=$(reference "$m/$media" yuv420p | wc -l)
    refresh_seeks=$(seq -s, $((frames - 1)) -3 0)
    check "$media seeks, $threads threads" "$m/$media" "$refresh_seeks" --seek "$refresh_seeks" \
      --decoder-threads $threads
    check "$media play backward, $threads threads" "$m/$media" backward --direction backward --speed 4 \
      --decoder-threads $threads
  done
done
# ---- end of the decoder threads block ----------------------------------------
# Millisecond times at 60 and 59.94 fps, MPEG-4 Part 2 with B-frames in AVI
# (pictures without times), a faststart MP4 cut off at 65 %: every picture,
# none more, whichever way a frame is reached.
for media in numbered_60fps.mkv numbered_5994fps.webm numbered_mpeg4_bf2.avi numbered_cut.mp4; do
  last=$(($(reference "$m/$media" yuv420p | wc -l) - 1))
  check "$media play forward" "$m/$media" forward --speed 4
  check "$media play backward" "$m/$media" backward --direction backward --speed 4
  check "$media seeks" "$m/$media" $last,0,$((last - 1)),$((last / 2)),$last --seek $last,0,$((last - 1)),$((last / 2)),$last
  check "$media step back from the end" "$m/$media" $(seq -s, $last -1 $((last - 5))) --from $last --step -1 --count 6
done
# VP9 with alternate reference frames in superframes, AV1 with hidden frames
# and frames shown again (MP4, Matroska): every mode, with the times the
# packets tell and with decoded times.
for media in numbered_vp9_altref.webm numbered_av1_hidden.mp4 numbered_av1_hidden.mkv; do
  each_mode "$media" "$m/$media" 100
  check "$media seeks, decoded times" "$m/$media" 99,0,50,49,98,51 --seek 99,0,50,49,98,51 --decoded-times
  check "$media step back, decoded times" "$m/$media" 99,98,97,96,95 --from 99 --step -1 --count 5 --decoded-times
done
# MPEG-TS whose time seeks land on any packet: 4 s GOPs (400 pictures), and
# 1 s GOPs over 30 s in H.264 and MPEG-2 (750 pictures).
gop100=$m/numbered_gop100.ts
check "TS 4 s GOPs play backward" "$gop100" backward --direction backward --speed 4
check "TS 4 s GOPs seeks" "$gop100" 380,399,0,299,300,301,150,399 --seek 380,399,0,299,300,301,150,399
check "TS 4 s GOPs step back over the GOP start" "$gop100" 302,301,300,299,298,297 --from 302 --step -1 --count 6
for media in numbered_long.ts numbered_mpeg2_long.ts; do
  check "$media seeks" "$m/$media" 749,0,720,700,699,375,748 --seek 749,0,720,700,699,375,748
  check "$media step back from the end" "$m/$media" 749,748,747,746,745 --from 749 --step -1 --count 5
done
# ---- Timestamp noise and a lone late picture -----------------------------
# noise_modes NAME FILE FRAMES SEEKS [covering:]: forward and backward play,
# seeks (the last frame, the first, SEEKS, the middle, near the end), stepping
# forward from the start and back from the end, with the times the packets
# tell and with decoded times; with "covering:", against the picture covering
# each frame rather than ffmpeg's pictures one per frame.
noise_modes() {
  noise_name=$1 noise_file=$2 noise_frames=$3 noise_extra=$4 noise_prefix=${5:-}
  noise_last=$((noise_frames - 1))
  noise_seeks="$noise_last,0,$noise_extra,$((noise_frames / 2)),$((noise_last - 2)),$((noise_last - 20))"
  noise_forward=$(seq -s, 0 24)
  noise_back=$(seq -s, $noise_last -1 $((noise_last - 29)))
  for noise_route in "" --decoded-times; do
    noise_label="$noise_name${noise_route:+, decoded times}"
    check "$noise_label play forward" "$noise_file" "${noise_prefix}forward" --speed 4 $noise_route
    check "$noise_label play backward" "$noise_file" "${noise_prefix}backward" --direction backward --speed 4 \
      $noise_route
    check "$noise_label seeks" "$noise_file" "$noise_prefix$noise_seeks" --seek "$noise_seeks" $noise_route
    check "$noise_label step forward" "$noise_file" "$noise_prefix$noise_forward" --from 0 --step 1 --count 25 \
      $noise_route
    check "$noise_label step back" "$noise_file" "$noise_prefix$noise_back" --from $noise_last --step -1 \
      --count 30 $noise_route
  done
}
# Millisecond times from 833 ms at 24 fps: frames 2, 5, 8, ... start 0.67 ms
# before their pictures.
noise_modes "ms times from 833 ms" "$m/numbered_msround.mkv" 144 2,5,8,77,140
# MPEG-TS recordings joined 0.37 ms late at frames 60, 120 and 180.
noise_modes "joined TS" "$m/numbered_joined.ts" 240 60,59,120,119,180,179,181
# The last packet timed 5 s late (the stream's average rate 200/13 fps): 200
# frames at 25 fps, the late picture beyond the last one decoded.
noise_modes "last packet 5 s late" "$m/numbered_late5s.mp4" 200 198,197,100,50 covering:
# ---- end of the timestamp noise block ------------------------------------

# ---- A first picture that does not decode ----------------------------------
# The first IDR's slice header is damaged: that picture is lost as ffmpeg
# loses it, and the 99 frames start with the next one, whether the times come
# from the packets or from decoding. HEVC's first GOP refers to the lost
# picture: decoded again after other pictures (backward, seeks into it), it
# must come out as from the start of the stream.
for media in numbered_brokenidr.mkv numbered_brokenidr.mp4 numbered_hevc_brokenidr.mkv \
  numbered_hevc_brokenidr.mp4; do
  for route in "" --decoded-times; do
    route_name="$media${route:+, decoded times}"
    check "$route_name play forward" "$m/$media" forward --speed 4 $route
    check "$route_name play backward" "$m/$media" backward --direction backward --speed 4 $route
    check "$route_name seeks" "$m/$media" 98,0,49,96,1,79,23,60,19 --seek 98,0,49,96,1,79,23,60,19 $route
    check "$route_name step back to the start" "$m/$media" 5,4,3,2,1,0 --from 5 --step -1 --count 6 $route
    check "$route_name step back from the end" "$m/$media" $(seq -s, 98 -1 69) --from 98 --step -1 --count 30 $route
  done
done
# ---- end of the first picture block -----------------------------------------
# ---- Timing: a wrapping clock, a late timestamp, phone rates ---------------
# MPEG-TS from 3.3 s before its 33-bit clock wraps: the pictures before the
# wrap are the first 83 frames, whichever way a frame is reached.
each_mode "TS before its clock wraps" "$m/numbered_wrap.ts" 300
check "TS before its clock wraps, seeks to its start" "$m/numbered_wrap.ts" 200,1,82,83,2,0 --seek 200,1,82,83,2,0
check "TS before its clock wraps, decoded times" "$m/numbered_wrap.ts" 299,0,150,1,84 --seek 299,0,150,1,84 \
  --decoded-times
# Picture 101 timed 1 s late: shown at that time (frame 126, where picture
# 126 takes it), frame 101 holding picture 100; every other frame its own,
# also before it once the decoder has passed it.
noise_modes "picture 101 timed 1 s late" "$m/numbered_late101.mp4" 200 9,93,101,102,126,127,9,93 covering-pts:
# A phone's jittering clock with a pause, timed at its base rate of 30 fps
# (the pause holds a picture: 182 frames); a refresh cut whose average is
# 30.30 fps, one picture a frame.
noise_modes "phone clock" "$m/numbered_phone.mov" 182 90,91,92,93 covering:
noise_modes "intra refresh cut, 30 fps" "$m/numbered_refresh30.mp4" 265 27,100,200
# ---- end of the timing block ---------------------------------------------
# ---- Broadcast sound, a cut-off AV1 start, a splice an hour on ------------
# route_modes NAME FILE FRAMES SEEKS: every mode of each_mode, with SEEKS as
# well, with the times the packets tell and with decoded times.
route_modes() {
  route_name=$1 route_file=$2 route_frames=$3 route_extra=$4
  route_last=$((route_frames - 1))
  route_seeks="$route_last,0,$route_extra,$((route_frames / 2)),$((route_last - 2)),1"
  route_back=$(seq -s, $route_last -1 $((route_last - 29)))
  for route_flag in "" --decoded-times; do
    route_label="$route_name${route_flag:+, decoded times}"
    check "$route_label play forward" "$route_file" forward --speed 4 $route_flag
    check "$route_label play backward" "$route_file" backward --direction backward --speed 4 $route_flag
    check "$route_label seeks" "$route_file" "$route_seeks" --seek "$route_seeks" $route_flag
    check "$route_label step back" "$route_file" "$route_back" --from $route_last --step -1 --count 30 $route_flag
  done
}
# MPEG-TS with AC-3 or MP2 sound (H.264 and MPEG-2 video, GOPs of 12): a
# seek back into the first GOP after one to the middle shows its own picture.
for media in numbered_ac3.ts numbered_mp2.ts numbered_dvb.ts; do
  route_modes "$media" "$m/$media" 250 "100,0,1,11,30,12,11"
done
# AV1 that starts 10 temporal units before its only sequence header, in IVF
# and under MP4 and Matroska names: 30 pictures.
for media in numbered_av1_cut.ivf numbered_av1_cut_ivf.mp4 numbered_av1_cut_ivf.mkv; do
  route_modes "$media" "$m/$media" 30 "29,0,15,28,0"
done
# Two recordings of 50 pictures, the second an hour later: 100 frames.
route_modes "TS leap" "$m/numbered_leap.ts" 100 "50,49,51,0,99"
# ---- end of that block -----------------------------------------------------
finish_checks
# The same picture sequence in parallel runs (no dependence on timing).
parallel=10
[ "$extent" = full ] || parallel=3
# agree NAME SOURCE ARGS...: runs `tessarin_bench frames SOURCE ARGS` in
# parallel and compares the frames they show.
agree() {
  name=$1 source=$2; shift 2
  i=0; runs=""
  rm -f "$work"/parallel.*
  while [ $i -lt $parallel ]; do
    "$bench" frames "$source" "$@" 2>/dev/null | grep '^frame' > "$work/parallel.$i" &
    runs="$runs $!"; i=$((i + 1))
  done
  wait $runs
  checks=$((checks + 1))
  if [ "$(cat "$work"/parallel.* | sort | uniq | wc -l)" -eq "$(wc -l < "$work/parallel.0")" ] &&
     [ -s "$work/parallel.0" ]; then
    echo "ok   $name: $parallel parallel runs agree"
  else
    echo "FAIL $name: parallel runs show different pictures"; failures=$((failures + 1))
  fi
}
agree "VFR B-frames" "$vfr" --from 0 --step 1 --count 48
agree "restarting TS" "$restart" --from 60 --step -1 --count 20

echo "$checks checks, $failures failed"
[ "$failures" -eq 0 ]
