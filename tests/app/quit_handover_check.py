#!/usr/bin/env python3
"""A launch during a quit never loses its file.

Starts the real player (the single-instance owner, its own HOME and TMPDIR),
makes it quit, and launches it a second time with a clip meanwhile: the clip
must show in a window, whether the second launch opened its own or the
quitting player passed it on.

    quit_handover_check.py PLAYER MEDIA_DIR

Run under an X server of its own (run_gui_test.sh --xvfb): windows are found
by their titles with xdotool.
"""

import os
import shutil
import signal
import subprocess
import sys
import tempfile
import time
import traceback

sys.dont_write_bytecode = True  # nothing written into the source tree
sys.path.insert(0, os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "remote"))
import client_api_check as client_api  # noqa: E402  (the command-port client and window helpers)

FIRST_CLIP = "h264_cfr25.mp4"
SECOND_CLIP = "numbered_24fps.mp4"
check = client_api.check


class Session:
    """HOME, TMPDIR (which keeps the single-instance segment apart) and a
    settings file naming a free command port."""

    def __init__(self, executable, media_dir):
        self.executable, self.media_dir = executable, media_dir
        self.work = tempfile.mkdtemp(prefix="tessarin-quit-handover.")
        home = os.path.join(self.work, "home")
        config = os.path.join(home, "Documents", "tessarin_orvel", "config")
        os.makedirs(config)
        runtime = os.path.join(self.work, "run")
        os.makedirs(runtime, mode=0o700)
        os.makedirs(os.path.join(self.work, "tmp"))
        self.port = client_api.free_port(client_api.QUIT_HANDOVER_PORTS)
        with open(os.path.join(config, "tessarin_orvel.ini"), "w") as ini:
            ini.write("[main]\nversion=1\n\n[preferences]\nclientApiPort=%d\nclientApiPortEnabled=true\n" % self.port)
        self.env = dict(os.environ, HOME=home, XDG_RUNTIME_DIR=runtime, TMPDIR=os.path.join(self.work, "tmp"))
        self.env.pop("XDG_CONFIG_HOME", None)
        self.env.pop("ZEPH_CONFIG_OVERRIDE_PATH", None)
        self.logs = []

    def launch(self, name, *arguments):
        log = open(os.path.join(self.work, name + ".log"), "w+")
        self.logs.append(log)
        return subprocess.Popen([self.executable] + list(arguments), env=self.env, stdout=log,
                                stderr=subprocess.STDOUT)

    def clip(self, name):
        return os.path.join(self.media_dir, name)

    def log_text(self):
        text = ""
        for log in self.logs:
            log.seek(0)
            text += "== %s\n%s" % (log.name, log.read())
        return text

    def close(self):
        for log in self.logs:
            log.close()
        shutil.rmtree(self.work, ignore_errors=True)


def windows_named(part):
    """(window, pid) of every visible window whose title holds the text."""
    found = subprocess.run(["xdotool", "search", "--onlyvisible", "--name", part], stdout=subprocess.PIPE,
                           stderr=subprocess.DEVNULL, timeout=30)
    result = []
    for window in found.stdout.decode().split():
        pid = subprocess.run(["xdotool", "getwindowpid", window], stdout=subprocess.PIPE,
                             stderr=subprocess.DEVNULL, timeout=30).stdout.decode().strip()
        if pid.isdigit():
            result.append((window, int(pid)))
    return result


def end_process(pid):
    try:
        os.kill(pid, signal.SIGTERM)
    except ProcessLookupError:
        return
    client_api.wait_until(30, lambda: not os.path.exists("/proc/%d" % pid) or zombie(pid))
    try:
        os.kill(pid, signal.SIGKILL)
    except ProcessLookupError:
        pass


def zombie(pid):
    try:
        with open("/proc/%d/stat" % pid) as stat:
            return stat.read().split(")")[-1].split()[0] == "Z"
    except OSError:
        return True


def start_owner(session, unsaved):
    """The first player, showing the first clip, its project changed through
    the port when unsaved (quitting by the window then asks); returns
    (process, client, main window)."""
    owner = session.launch("owner", session.clip(FIRST_CLIP))
    client = None
    deadline = time.time() + 60
    while client is None and time.time() < deadline and owner.poll() is None:
        try:
            client = client_api.Client(session.port)
        except OSError:
            time.sleep(0.1)  # another process: nothing tells when it listens
    if client is None:
        raise RuntimeError("the first player never listened")
    client.command({"cmd": "initialize", "api_version": "1.0.0"})
    shown = client_api.wait_until(60, lambda: client.command({"cmd": "get_frame"}).get("frame", -1) >= 1)
    if not shown:
        raise RuntimeError("the first player never opened its clip")
    if unsaved:
        client.command({"cmd": "set_range", "start_frame": 2, "end_frame": 50})
    windows = client_api.wait_until(30, lambda: [w for w, p in windows_named(FIRST_CLIP) if p == owner.pid])
    if not windows:
        raise RuntimeError("the first player's window never showed the clip")
    return owner, client, windows[0]


def second_clip_shown(session, what, spawned):
    """Waits for a window showing the second clip; ends its process."""
    found = client_api.wait_until(60, lambda: windows_named(SECOND_CLIP))
    check(bool(found), "the clip launched %s shows in a window" % what)
    for _, pid in found:
        spawned.add(pid)


def check_quit_by_window(session, spawned):
    """Ctrl+Q asks about the unsaved project; a launch while it asks is handed
    over; Discard quits, and the clip must still open."""
    owner, client, window = start_owner(session, True)
    subprocess.run(["xdotool", "windowfocus", "--sync", window], timeout=30)
    subprocess.run(["xdotool", "key", "ctrl+q"], timeout=30)
    boxes = client_api.wait_until(30, lambda: client_api.question_boxes(owner.pid))
    check(bool(boxes), "Ctrl+Q over unsaved changes asks first")
    second = session.launch("during_question", session.clip(SECOND_CLIP))
    try:
        second.wait(60)
    except subprocess.TimeoutExpired:
        pass
    if second.poll() is None:
        spawned.add(second.pid)  # it opened its own window
    if boxes:
        client_api.discard_question(boxes[0])
    try:
        owner.wait(60)
    except subprocess.TimeoutExpired:
        owner.kill()
    check(owner.returncode == 0, "the first player quits after Discard (%s)" % owner.returncode)
    client.close()
    second_clip_shown(session, "while the quit question was open", spawned)


def check_quit_by_signal(session, delay, spawned):
    """SIGTERM, then a launch a moment later: its clip opens somewhere."""
    owner, client, _ = start_owner(session, False)
    client.close()
    owner.send_signal(signal.SIGTERM)
    time.sleep(delay)  # the launch comes this long after the quit began, as a user's would
    second = session.launch("after_sigterm", session.clip(SECOND_CLIP))
    try:
        owner.wait(60)
    except subprocess.TimeoutExpired:
        owner.kill()
    check(owner.returncode == 0, "the first player quits on SIGTERM (%s)" % owner.returncode)
    if second.poll() is None:
        spawned.add(second.pid)
    second_clip_shown(session, "%.2f s after SIGTERM" % delay, spawned)


def main():
    if len(sys.argv) != 3 or not os.environ.get("DISPLAY") or not shutil.which("xdotool"):
        print(__doc__)
        return 2
    executable, media_dir = os.path.abspath(sys.argv[1]), os.path.abspath(sys.argv[2])
    cases = [("quit by the window", lambda session, spawned: check_quit_by_window(session, spawned))]
    for delay in (0.05, 0.3, 1.0):
        cases.append(("SIGTERM, launch after %.2f s" % delay,
                      lambda session, spawned, delay=delay: check_quit_by_signal(session, delay, spawned)))
    for name, case in cases:
        session = Session(executable, media_dir)
        spawned = set()
        before = len(client_api.failures)
        try:
            case(session, spawned)
        except Exception as error:
            traceback.print_exc()
            check(False, "%s ran to the end (%s: %s)" % (name, type(error).__name__, error))
        finally:
            for pid in spawned:
                end_process(pid)
            if len(client_api.failures) > before:
                print(session.log_text())
            session.close()
    if client_api.failures:
        print("%d check(s) failed" % len(client_api.failures))
        return 1
    print("all checks passed")
    return 0


if __name__ == "__main__":
    sys.exit(main())
