#!/usr/bin/env python3
"""Time to the first picture of a file opened for the first time: the engine
(`tessarin_bench open`, from process start to the first picture shown, and
the parse within it) beside a whole `mpv --frames=1` run of the same file
when mpv is installed. Runs are interleaved and medians printed, so that a
load that comes and goes on a shared machine weighs on all alike.

  open_times.py TESSARIN_BENCH FILE... [--runs N] [--cores 0,1] [--decoded-times] [--cold]

--cores pins every process to those cores (taskset); --decoded-times also
times the engine finding each stream's first and last picture times by decoding;
--cold drops the file's pages from the page cache before every run, as after a
restart (a recording of yesterday).
"""
import argparse
import os
import re
import shutil
import statistics
import subprocess
import sys
import time


def drop_cached(path):
    descriptor = os.open(path, os.O_RDONLY)
    try:
        os.fsync(descriptor)
        os.posix_fadvise(descriptor, 0, 0, os.POSIX_FADV_DONTNEED)
    finally:
        os.close(descriptor)


def run_engine(bench, path, cores, decoded_times):
    command = [bench, "open", path] + (["--decoded-times"] if decoded_times else [])
    if cores:
        command = ["taskset", "-c", cores] + command
    env = dict(os.environ, TESSARIN_BENCH_LAUNCH_NS=str(time.clock_gettime_ns(time.CLOCK_MONOTONIC)))
    # The engine's messages are not wanted here; pictures only.
    env.setdefault("PULSE_SERVER", "unix:/nonexistent/tessarin-bench-no-audio")
    result = subprocess.run(command, env=env, capture_output=True, text=True)
    match = re.search(r"parsed ([0-9.]+) ms, first picture ([0-9.]+) ms", result.stdout)
    if result.returncode != 0 or not match:
        sys.exit("tessarin_bench open failed on %s:\n%s" % (path, result.stderr[-2000:]))
    return float(match.group(1)), float(match.group(2))


def run_mpv(path, cores):
    command = ["mpv", "--no-config", "--really-quiet", "--frames=1", "--vo=null", "--ao=null", path]
    if cores:
        command = ["taskset", "-c", cores] + command
    start = time.monotonic()
    subprocess.run(command, check=True, stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
    return (time.monotonic() - start) * 1000.0


def main():
    parser = argparse.ArgumentParser()
    parser.add_argument("bench")
    parser.add_argument("files", nargs="+")
    parser.add_argument("--runs", type=int, default=7)
    parser.add_argument("--cores", default="")
    parser.add_argument("--decoded-times", action="store_true")
    parser.add_argument("--cold", action="store_true")
    options = parser.parse_args()
    mpv = shutil.which("mpv") is not None
    where = "cores %s" % options.cores if options.cores else "all %d cores" % os.cpu_count()
    print("first picture, %s, %s cache, median of %d interleaved runs (load average %.1f)" %
          (where, "cold" if options.cold else "warm", options.runs, os.getloadavg()[0]))
    for path in options.files:
        fast, slow, player = [], [], []
        cold = (lambda: drop_cached(path)) if options.cold else (lambda: None)
        for _ in range(options.runs):
            cold()
            fast.append(run_engine(options.bench, path, options.cores, False))
            if options.decoded_times:
                cold()
                slow.append(run_engine(options.bench, path, options.cores, True))
            if mpv:
                cold()
                player.append(run_mpv(path, options.cores))
        line = "  %s: engine %.0f ms (parsed at %.0f ms)" % (
            os.path.basename(path), statistics.median(p[1] for p in fast), statistics.median(p[0] for p in fast))
        if slow:
            line += ", times decoded %.0f ms (parsed at %.0f ms)" % (
                statistics.median(p[1] for p in slow), statistics.median(p[0] for p in slow))
        if player:
            mpv_ms = statistics.median(player)
            line += ", mpv --frames=1 whole run %.0f ms, engine / mpv %.2f" % (
                mpv_ms, statistics.median(p[1] for p in fast) / mpv_ms)
        print(line, flush=True)


if __name__ == "__main__":
    main()
