#!/usr/bin/env python3
"""Exact seeks into long-GOP HEVC beside mpv's.

For each file, the same random frames are sought, paused, by
`tessarin_bench seek FILE --seek ...` of each build given and by
`mpv --no-config --hr-seek=yes` (bench/mpv_seeks.lua, one process per file:
each seek timed from its command to the picture shown), every program pinned
to the same cores. Rounds are interleaved; the medians over every seek of
every round are printed with each build's ratio to mpv's.

  bench/hevc_seeks.py BUILD_DIR... [--cores 0,1] [--rounds 3] [--count 20]
                      [--seed 1] [--media DIR] [FILE...]

Without files, 20 s of 1080p HEVC and 12 s of 8-bit and 10-bit 4K HEVC
(250-frame GOPs, 3 B-frames) are made in --media (a temporary folder
otherwise) and kept there.
"""
import argparse
import os
import random
import statistics
import subprocess
import sys
import tempfile

HERE = os.path.dirname(os.path.abspath(__file__))
X265 = "keyint=250:min-keyint=250:scenecut=0:bframes=3:log-level=error"
MEDIA = [
    ("hevc_1080p_gop250.mp4", "1920x1080", 20, "fast", "yuv420p"),
    ("hevc_2160p_gop250.mp4", "3840x2160", 12, "ultrafast", "yuv420p"),
    ("hevc10_2160p_gop250.mp4", "3840x2160", 12, "ultrafast", "yuv420p10le"),
]


def make_media(folder):
    paths = []
    for name, size, seconds, preset, pixels in MEDIA:
        path = os.path.join(folder, name)
        if not os.path.exists(path):
            print("making", path, flush=True)
            subprocess.run(["ffmpeg", "-nostdin", "-v", "error", "-y", "-f", "lavfi", "-i",
                            "testsrc2=size=%s:rate=24000/1001:duration=%d" % (size, seconds),
                            "-c:v", "libx265", "-preset", preset, "-pix_fmt", pixels, "-x265-params", X265,
                            "-tag:v", "hvc1", path], check=True)
        paths.append(path)
    return paths


def stream_frames(path):
    out = subprocess.run(["ffprobe", "-v", "error", "-select_streams", "v:0", "-count_packets", "-show_entries",
                          "stream=nb_read_packets,r_frame_rate", "-of", "default=nw=1", path],
                         capture_output=True, text=True, check=True).stdout
    fields = dict(line.split("=", 1) for line in out.split())
    num, den = fields["r_frame_rate"].split("/")
    return int(fields["nb_read_packets"]), float(num) / float(den)


def pinned(cores, command):
    return ["taskset", "-c", cores] + command


def engine_seeks(build, path, frames, cores):
    command = pinned(cores, [os.path.join(build, "bench", "tessarin_bench"), "seek", path,
                             "--seek", ",".join(map(str, frames))])
    result = subprocess.run(command, capture_output=True, text=True,
                            env=dict(os.environ, QT_QPA_PLATFORM="offscreen"))
    times = [float(line.split()[3]) for line in result.stdout.splitlines() if line.startswith("# seek ")]
    if result.returncode != 0 or len(times) != len(frames):
        sys.stderr.write(result.stderr)
        raise SystemExit("tessarin_bench failed on %s" % path)
    return times


def mpv_seeks(path, frames, rate, cores):
    # Half a frame into each: the picture that covers it is the frame's own.
    times = "/".join("%.6f" % ((frame + 0.5) / rate) for frame in frames)
    command = pinned(cores, ["mpv", "--no-config", "--hr-seek=yes", "--pause", "--vo=null", "--ao=null",
                             "--no-audio", "--really-quiet", "--script=" + os.path.join(HERE, "mpv_seeks.lua"),
                             "--script-opts=benchseeks-times=" + times, path])
    result = subprocess.run(command, capture_output=True, text=True, timeout=600)
    for line in result.stdout.splitlines():
        if line.startswith("# mpv-seeks "):
            values = [float(v) for v in line.split()[2].split(",") if v]
            if len(values) == len(frames):
                return values
    sys.stderr.write(result.stdout + result.stderr)
    raise SystemExit("mpv failed on %s" % path)


def main():
    parser = argparse.ArgumentParser(description=__doc__.split("\n")[0])
    parser.add_argument("paths", nargs="+", help="build folders, then media files (optional)")
    parser.add_argument("--cores", default="0,1")
    parser.add_argument("--rounds", type=int, default=3)
    parser.add_argument("--count", type=int, default=20)
    parser.add_argument("--seed", type=int, default=1)
    parser.add_argument("--media", default=os.environ.get("TESSARIN_BENCH_MEDIA"))
    options = parser.parse_args()
    builds = [p for p in options.paths if os.path.isdir(p)]
    files = [p for p in options.paths if os.path.isfile(p)]
    if not builds:
        raise SystemExit("no build folder given")
    if not files:
        folder = options.media or tempfile.mkdtemp(prefix="tessarin-hevc-seeks.")
        os.makedirs(folder, exist_ok=True)
        files = make_media(folder)
    status = 0
    for path in files:
        count, rate = stream_frames(path)
        generator = random.Random(options.seed)
        frames = [generator.randrange(count) for _ in range(options.count)]
        engine = {build: [] for build in builds}
        player = []
        loads = []
        for _ in range(options.rounds):
            loads.append(os.getloadavg()[0])
            for build in builds:
                engine[build] += engine_seeks(build, path, frames, options.cores)
            player += mpv_seeks(path, frames, rate, options.cores)
        mpv_ms = statistics.median(player)
        print("%s (%d frames, %d seeks x %d rounds, cores %s, load average %.1f-%.1f): mpv --hr-seek median %.1f ms"
              % (os.path.basename(path), count, options.count, options.rounds, options.cores, min(loads),
                 max(loads), mpv_ms))
        for build in builds:
            ms = statistics.median(engine[build])
            ratio = ms / mpv_ms if mpv_ms > 0 else float("inf")
            print("  %s: median %.1f ms, p95 %.1f ms, engine / mpv %.2f  (aim <= 1.2)"
                  % (build, ms, sorted(engine[build])[int(0.95 * (len(engine[build]) - 1))], ratio))
        sys.stdout.flush()
    return status


if __name__ == "__main__":
    sys.exit(main())
