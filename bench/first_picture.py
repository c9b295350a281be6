#!/usr/bin/env python3
"""Time from process start to the clip's picture on screen, in the real
window: the player (`tessarin_orvel --new FILE`, paused as it opens) beside
`mpv --no-config --pause FILE`, both on an Xvfb server of their own with no
window manager. The screen is grabbed with ffmpeg's x11grab (wall-clock
time stamps) and a picture counts as shown once a good part of the screen is
strongly coloured: the test clips (testsrc2) are, while the player's own
window is grey and its empty viewer black. Runs are interleaved and medians
printed with the ratio to mpv, so that a load that comes and goes on a
shared machine weighs on both alike.

  first_picture.py PLAYER FILE... [--runs N] [--cores 6,7] [--helper-cores 2-5]
                   [--mpv /usr/bin/mpv] [--timeout 20] [--compare OTHER_PLAYER]

--cores pins both players to those cores (taskset); --helper-cores pins the
X server and the screen grabber, so that they do not take from the players.
--compare times a second build of the player (an earlier commit, say) in
the same interleaved runs.
Prints the figures; asserts nothing about time.
"""
import argparse
import os
import re
import shutil
import signal
import statistics
import subprocess
import sys
import tempfile
import threading
import time

WIDTH, HEIGHT = 96, 54  # the grabbed screen, scaled down
GRAB_RATE = 100
# A pixel is coloured when its channels differ by more than this...
SATURATION = 60
# ...and the picture is shown when this share of the screen is.
SHOWN_SHARE = 0.04


def pinned(command, cores):
    return (["taskset", "-c", cores] if cores else []) + command


class Screen:
    """An Xvfb server of its own (black root, no window manager)."""

    def __init__(self, helper_cores):
        read_end, write_end = os.pipe()
        self.process = subprocess.Popen(
            pinned(["Xvfb", "-displayfd", str(write_end), "-screen", "0", "1920x1080x24", "-nolisten", "tcp",
                    "-noreset", "-br"], helper_cores),
            pass_fds=(write_end,), stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
        os.close(write_end)
        with os.fdopen(read_end) as display:
            number = display.readline().strip()
        if not number:
            sys.exit("Xvfb did not start")
        self.display = ":" + number

    def close(self):
        self.process.terminate()
        self.process.wait()


class Grabber:
    """Grabs the screen until stopped; first_shown() is the wall-clock time
    of the first grabbed frame that shows a coloured picture."""

    def __init__(self, display, helper_cores):
        command = ["ffmpeg", "-nostdin", "-hide_banner", "-loglevel", "info", "-f", "x11grab",
                   "-framerate", str(GRAB_RATE), "-video_size", "1920x1080", "-i", display + ".0",
                   "-copyts", "-fps_mode", "passthrough", "-vf", "scale=%d:%d:flags=area,showinfo" % (WIDTH, HEIGHT),
                   "-f", "rawvideo", "-pix_fmt", "rgb24", "-"]
        self.process = subprocess.Popen(pinned(command, helper_cores), stdout=subprocess.PIPE,
                                        stderr=subprocess.PIPE)
        self.times = []
        self.shown = None
        self.started = threading.Event()
        self.lock = threading.Condition()
        self.frames = 0
        threading.Thread(target=self.read_times, daemon=True).start()
        threading.Thread(target=self.read_frames, daemon=True).start()

    def read_times(self):
        for line in self.process.stderr:
            # x11grab stamps each frame with the wall clock in microseconds.
            match = re.search(rb"\bn:\s*\d+\s+pts:\s*(\d+)\s", line)
            if match:
                with self.lock:
                    self.times.append(int(match.group(1)) / 1e6)
                    self.lock.notify_all()

    def read_frames(self):
        size = WIDTH * HEIGHT * 3
        index = 0
        while True:
            frame = self.process.stdout.read(size)
            if len(frame) < size:
                return
            self.started.set()
            if self.shown is None and coloured_share(frame) >= SHOWN_SHARE:
                with self.lock:
                    while len(self.times) <= index and self.process.poll() is None:
                        self.lock.wait(1.0)
                    if len(self.times) > index:
                        self.shown = self.times[index]
                    self.lock.notify_all()
            index += 1

    def wait_shown(self, deadline):
        with self.lock:
            while self.shown is None and time.time() < deadline:
                self.lock.wait(0.05)
            return self.shown

    def close(self):
        self.process.send_signal(signal.SIGINT)
        try:
            self.process.wait(5)
        except subprocess.TimeoutExpired:
            self.process.kill()
            self.process.wait()


def coloured_share(frame):
    count = 0
    for i in range(0, len(frame), 3):
        r, g, b = frame[i], frame[i + 1], frame[i + 2]
        if max(r, g, b) - min(r, g, b) > SATURATION:
            count += 1
    return count / (WIDTH * HEIGHT)


def timed_run(command, env, screen, helper_cores, timeout):
    grabber = Grabber(screen.display, helper_cores)
    if not grabber.started.wait(10):
        grabber.close()
        sys.exit("the screen grabber did not start")
    start = time.time()
    player = subprocess.Popen(command, env=env, stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL,
                              start_new_session=True)
    shown = grabber.wait_shown(start + timeout)
    player.terminate()
    try:
        player.wait(10)
    except subprocess.TimeoutExpired:
        player.kill()
        player.wait()
    grabber.close()
    # The screen is empty again before the next run begins.
    return None if shown is None else (shown - start) * 1000.0


def player_env(display, home):
    env = dict(os.environ)
    for name in ("WAYLAND_DISPLAY", "XDG_CONFIG_HOME", "ZEPH_CONFIG_OVERRIDE_PATH", "QT_QPA_PLATFORM"):
        env.pop(name, None)
    os.makedirs(os.path.join(home, "runtime"), mode=0o700, exist_ok=True)
    env.update(DISPLAY=display, HOME=home, XDG_RUNTIME_DIR=os.path.join(home, "runtime"),
               DBUS_SESSION_BUS_ADDRESS="unix:path=" + os.path.join(home, "no-session-bus"),
               PULSE_SERVER="unix:/nonexistent/tessarin-bench-no-audio")
    return env


def main():
    parser = argparse.ArgumentParser()
    parser.add_argument("player")
    parser.add_argument("files", nargs="+")
    parser.add_argument("--runs", type=int, default=5)
    parser.add_argument("--cores", default="")
    parser.add_argument("--helper-cores", default="")
    parser.add_argument("--mpv", default=shutil.which("mpv") or "/usr/bin/mpv")
    parser.add_argument("--timeout", type=float, default=20.0)
    parser.add_argument("--compare", default="")
    arguments = parser.parse_args()
    players = {"player": os.path.abspath(arguments.player)}
    if arguments.compare:
        players["compared"] = os.path.abspath(arguments.compare)
    screen = Screen(arguments.helper_cores)
    work = tempfile.mkdtemp(prefix="tessarin-first-picture.")
    try:
        for path in arguments.files:
            path = os.path.abspath(path)
            results = {name: [] for name in list(players) + ["mpv"]}
            for run in range(arguments.runs):
                commands = {name: pinned([binary, "--new", path], arguments.cores) for name, binary in players.items()}
                commands["mpv"] = pinned([arguments.mpv, "--no-config", "--pause", "--really-quiet", path],
                                         arguments.cores)
                # Rotate which goes first, so none always finds the others'
                # pages warm.
                order = list(commands)
                order = order[run % len(order):] + order[:run % len(order)]
                for name in order:
                    # A fresh home each run: no stored geometry, the same start.
                    env = player_env(screen.display, tempfile.mkdtemp(dir=work))
                    elapsed = timed_run(commands[name], env, screen, arguments.helper_cores, arguments.timeout)
                    if elapsed is None:
                        sys.exit("%s showed no picture of %s within %.0f s" % (name, path, arguments.timeout))
                    results[name].append(elapsed)
            mpv_ms = statistics.median(results["mpv"])
            for name in players:
                player_ms = statistics.median(results[name])
                print("%-24s %-8s first picture %7.1f ms, mpv %7.1f ms, ratio %.2f (runs: %s | mpv %s)" % (
                    os.path.basename(path), name, player_ms, mpv_ms, player_ms / mpv_ms,
                    " ".join("%.0f" % value for value in results[name]),
                    " ".join("%.0f" % value for value in results["mpv"])), flush=True)
    finally:
        screen.close()
        shutil.rmtree(work, ignore_errors=True)


if __name__ == "__main__":
    main()
