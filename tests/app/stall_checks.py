#!/usr/bin/env python3
"""The real player against media that never answers or changes under it.

    stall_checks.py PLAYER

Each case starts a new instance (its own HOME and settings file naming a free
command port), does something that once froze the player, and then asks it to
answer on the command port and to end on SIGTERM: within a few seconds, with
exit status 0 and the settings file written. A player that hangs fails the
case after its bound instead of hanging the run.

Run under an X server (xvfb-run) or with QT_QPA_PLATFORM=offscreen.
"""

import ctypes
import json
import os
import select
import shutil
import signal
import socket
import subprocess
import sys
import tempfile
import time
import uuid

sys.dont_write_bytecode = True  # nothing written into the source tree
sys.path.insert(0, os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "remote"))
import client_api_check as client_api  # noqa: E402  (the players' ports)

ANSWER_S = 10.0  # a command of a responsive player is answered well within this
EXIT_S = 6.0  # SIGTERM: the engine waits at most a second for its tasks
failures = []


def check(condition, what):
    print(("ok: " if condition else "FAIL: ") + what)
    if not condition:
        failures.append(what)
    return condition


IN_OPEN = 0x20  # inotify: the watched file was opened


def watch_opens(path):
    """An inotify descriptor that becomes readable when the file is opened."""
    libc = ctypes.CDLL(None, use_errno=True)
    fd = libc.inotify_init1(os.O_CLOEXEC)
    if fd < 0 or libc.inotify_add_watch(fd, os.fsencode(path), IN_OPEN) < 0:
        raise OSError(ctypes.get_errno(), "inotify")
    return fd


class Player:
    def __init__(self, executable, work, args, main_keys="", watch_settings=False):
        self.work = work
        self.home = os.path.join(work, "home")
        config = os.path.join(self.home, "Documents", "tessarin_orvel", "config")
        os.makedirs(config)
        runtime = os.path.join(work, "run")
        os.makedirs(runtime, mode=0o700)
        os.makedirs(os.path.join(work, "tmp"))
        self.port = client_api.free_port(client_api.STALL_CHECK_PORTS)
        self.settings = os.path.join(config, "tessarin_orvel.ini")
        with open(self.settings, "w") as ini:
            ini.write("[main]\nversion=1\n%s\n[preferences]\nclientApiPort=%d\nclientApiPortEnabled=true\n"
                      % (main_keys, self.port))
        self.settings_opens = watch_opens(self.settings) if watch_settings else None
        env = dict(os.environ, HOME=self.home, XDG_RUNTIME_DIR=runtime, TMPDIR=os.path.join(work, "tmp"))
        env.pop("XDG_CONFIG_HOME", None)
        env.pop("ZEPH_CONFIG_OVERRIDE_PATH", None)
        if not env.get("DISPLAY"):
            env["QT_QPA_PLATFORM"] = "offscreen"
        self.log_path = os.path.join(work, "player.log")
        self.log = open(self.log_path, "w")
        self.process = subprocess.Popen([executable, "--new"] + args, env=env, stdout=self.log,
                                        stderr=subprocess.STDOUT, start_new_session=True)
        self.sock = None

    def connect(self, seconds):
        deadline = time.time() + seconds
        while time.time() < deadline and self.process.poll() is None:
            try:
                self.sock = socket.create_connection(("127.0.0.1", self.port), timeout=ANSWER_S)
                return True
            except OSError:
                time.sleep(0.1)  # nothing tells another process when the player listens
        return False

    def command(self, obj):
        """The reply, or None when none came within ANSWER_S."""
        payload = json.dumps(obj).encode()
        try:
            self.sock.sendall(b"%010d" % len(payload) + payload)
            data = b""
            while len(data) < 10 or len(data) < 10 + int(data[:10]):
                chunk = self.sock.recv(65536)
                if not chunk:
                    return None
                data += chunk
            return json.loads(data[10:].decode("latin-1"))
        except (OSError, ValueError):
            return None

    def answers(self):
        reply = self.command({"cmd": "echo", "text": "here"})
        return reply is not None and reply.get("result") == "here"

    def log_lines(self):
        self.log.flush()
        with open(self.log_path, errors="replace") as log:
            return sum(1 for _ in log)

    def settings_opened(self, seconds):
        """Whether the player opened its settings file within the time."""
        readable, _, _ = select.select([self.settings_opens], [], [], seconds)
        return bool(readable)

    def terminate(self, what, seconds=EXIT_S):
        """SIGTERM: True when the player ended in time with 0 and wrote its settings."""
        os.remove(self.settings)
        started = time.time()
        self.process.send_signal(signal.SIGTERM)
        try:
            status = self.process.wait(seconds)
        except subprocess.TimeoutExpired:
            os.killpg(self.process.pid, signal.SIGKILL)
            self.process.wait()
            return check(False, "%s: the player ended on SIGTERM within %g s" % (what, seconds))
        check(True, "%s: the player ended on SIGTERM in %.1f s" % (what, time.time() - started))
        check(status == 0, "%s: exit status 0 (got %s)" % (what, status))
        return check(os.path.exists(self.settings), "%s: the settings file was written" % what)

    def log_count(self, text):
        self.log.flush()
        with open(self.log_path, errors="replace") as log:
            return sum(1 for line in log if text in line)

    def close(self):
        if self.settings_opens is not None:
            os.close(self.settings_opens)
        if self.sock:
            self.sock.close()
        if self.process.poll() is None:
            os.killpg(self.process.pid, signal.SIGKILL)
            self.process.wait()
        self.log.close()
        with open(self.log_path, errors="replace") as log:
            return log.read()


def run_case(name, executable, body):
    work = tempfile.mkdtemp(prefix="tessarin-stall.")
    before = len(failures)
    player = None
    try:
        player = body(work, lambda args, **options: Player(executable, work, args, **options))
    finally:
        log = player.close() if player else ""
        if len(failures) > before:
            print("== %s: player log (last 60 lines)" % name)
            print("\n".join(log.splitlines()[-60:]))
        shutil.rmtree(work, ignore_errors=True)


def no_regular_file(executable, what, name, make):
    """A path on the command line that is no regular file: a FIFO without a
    writer blocks its open, /dev/zero never ends."""
    def body(work, start):
        path = os.path.join(work, name)
        make(path)
        player = start([path])
        if not check(player.connect(60), "%s: the player listens" % what):
            return player
        started = time.time()
        check(player.answers(), "%s: the player answers" % what)
        check(time.time() - started < ANSWER_S, "%s: answered in %.1f s" % (what, time.time() - started))
        player.terminate(what)
        return player

    run_case(what, executable, body)


def many_sources(executable):
    """A project of many sources that name no viewer slot (each then reads as
    slot 0), whose files are missing so that each parse ends fast. A SIGTERM
    late in the open ends the player as fast as one in an idle player."""
    count = 10000
    what = "%d sources opening" % count

    def body(work, start):
        project = os.path.join(work, "many.zeph")
        sources = [{"_id": str(uuid.uuid4()), "path": os.path.join(work, "missing%d.mp4" % i), "index": -1,
                    "playback_frame": 0} for i in range(count)]
        with open(project, "w") as out:
            json.dump({"_meta": {"format": "zeph", "version": 1}, "sources": sources}, out)
        player = start([project])
        if not check(player.connect(60), what + ": the player listens"):
            return player
        # Each source's parse logs its missing file: the signal goes once most
        # of them are done, while the rest still parse or the slots open.
        deadline = time.time() + 120
        while player.log_count("File not found") < count * 4 // 5 and time.time() < deadline:
            if player.process.poll() is not None:
                break
            time.sleep(0.05)  # the log is the only word of the open's progress
        player.terminate(what)
        return player

    run_case(what, executable, body)


def quit_signal_while_starting(executable):
    """SIGTERM the moment the player reads its settings, long before its window
    exists; waitOnStart holds it half a second more before the application
    object is made. The signal must wait for the event loop, not end the
    process unsaved."""
    what = "SIGTERM while the settings load"

    def body(work, start):
        player = start([], main_keys="waitOnStart=true\n", watch_settings=True)
        if not check(player.settings_opened(60), what + ": the player read its settings"):
            return player
        if player.terminate(what, seconds=60):
            with open(player.settings) as ini:
                check("waitOnStart=false" in ini.read().split(), what + ": the settings file holds this run's values")
        return player

    run_case(what, executable, body)


def make_clip(path):
    """A clip larger than the smallest cache: the decode loop keeps coming back
    to its file, reopening it whenever it turns."""
    subprocess.run(["ffmpeg", "-nostdin", "-v", "error", "-y", "-f", "lavfi",
                    "-i", "testsrc2=size=1920x1080:rate=25:duration=8", "-c:v", "libx264", "-preset", "ultrafast",
                    "-g", "250", "-pix_fmt", "yuv420p", path], check=True)


def changed_while_playing(executable, clip, change):
    what = "file %s under the playhead" % change

    def body(work, start):
        path = os.path.join(work, "render.mp4")
        shutil.copy(clip, path)
        player = start([path])
        if not check(player.connect(60), what + ": the player listens"):
            return player
        player.command({"cmd": "initialize", "api_version": "1.0.0"})
        # Played, not set: a set frame is a change of the project, and the
        # import at the end would then ask a question nobody here answers.
        player.command({"cmd": "set_playing", "playing": True, "play_forwards": True})
        # To about frame 60, asked for: the port sends nothing unasked.
        deadline = time.time() + 60
        while time.time() < deadline and player.process.poll() is None:
            reply = player.command({"cmd": "get_frame"})
            if reply is None or reply.get("frame", 0) >= 60:
                break
            time.sleep(0.05)
        player.command({"cmd": "set_playing", "playing": False})
        time.sleep(3.0)  # the cache fills around the playhead; nothing tells a client when
        if change == "cut to half":
            os.truncate(path, os.path.getsize(path) // 2)
        elif change == "emptied":
            os.truncate(path, 0)
        elif change == "deleted":
            os.remove(path)
        else:
            # Replaced whole, as a render is.
            with open(path + ".next", "wb") as render:
                render.write(b"\0" * 65536)
            os.rename(path + ".next", path)
        # Backwards, then forwards: each turn reopens the file from the
        # cache's edge.
        player.command({"cmd": "set_playing", "playing": True, "play_forwards": False})
        time.sleep(0.5)
        player.command({"cmd": "set_playing", "playing": False})
        player.command({"cmd": "set_playing", "playing": True, "play_forwards": True})
        time.sleep(1.0)
        player.command({"cmd": "set_playing", "playing": False})
        lines = player.log_lines()
        time.sleep(2.0)  # the log must stay quiet; only time shows that
        grown = player.log_lines() - lines
        check(grown < 50, "%s: the log grew by %d lines in 2 s" % (what, grown))
        check(player.answers(), what + ": the player answers")
        reply = player.command({"cmd": "import_file", "file_path": clip})
        check(reply is not None and reply.get("success"), what + ": a new project replaces it")
        player.terminate(what)
        return player

    run_case(what, executable, body)


def main():
    if len(sys.argv) != 2:
        print(__doc__)
        return 2
    executable = os.path.abspath(sys.argv[1])
    quit_signal_while_starting(executable)
    no_regular_file(executable, "FIFO", "stuck.mp4", os.mkfifo)
    no_regular_file(executable, "FIFO as a project", "stuck.zeph", os.mkfifo)
    no_regular_file(executable, "project linked to /dev/zero", "zero.zeph", lambda path: os.symlink("/dev/zero", path))
    many_sources(executable)
    clips = tempfile.mkdtemp(prefix="tessarin-stall-clip.")
    try:
        clip = os.path.join(clips, "long_1080p.mp4")
        make_clip(clip)
        for change in ("cut to half", "emptied", "deleted", "overwritten"):
            changed_while_playing(executable, clip, change)
    finally:
        shutil.rmtree(clips, ignore_errors=True)
    if failures:
        print("%d check(s) failed" % len(failures))
        return 1
    print("all checks passed")
    return 0


if __name__ == "__main__":
    sys.exit(main())
