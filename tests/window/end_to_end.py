#!/usr/bin/env python3
"""The player as a user meets it, end to end.

Starts the real player on an X server of its own, in a temporary HOME, once
drawing in software and once through OpenGL, and drives it with key presses
(xdotool) while reading what the window shows from screenshots of it (ffmpeg's
x11grab): the numbered test clips carry their frame number in the pixels of
their top edge. The command port (a free port named in the settings file) tells
which frame and range the player reports.

    end_to_end.py [--sanitized] PLAYER MEDIA_DIR ARTEFACT_DIR

Screenshots of the window with a clip loaded are kept in ARTEFACT_DIR.
--sanitized (a sanitizer build) allows four times longer waits.
"""

import ctypes
import operator
import os
import re
import shutil
import signal
import struct
import subprocess
import sys
import tempfile
import time
import traceback
import zlib

sys.dont_write_bytecode = True  # nothing written into the source tree
sys.path.insert(0, os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "remote"))
import client_api_check as client_api  # noqa: E402  (the command-port client)

FIRST_CLIP = ("numbered_24fps.mp4", 72)  # name, frame count
SECOND_CLIP = ("numbered_30fps.mp4", 240)
USER_KEY = "e"  # the user's bindings file moves "Go to End" here
RESIZED = (640, 400)  # window size set in the first pass (smaller than the first window), expected back in the second
DIALOG_PARENT_SIZE = (1400, 800)  # main window size under the dialogs checked

failures = []
wait_scale = 1


def check(condition, what):
    print(("ok: " if condition else "FAIL: ") + what, flush=True)
    if not condition:
        failures.append(what)
    return condition


def wait_for(seconds, probe, interval=0.1):
    """Polls probe() until it returns something true; returns its last value."""
    deadline = time.monotonic() + seconds * wait_scale
    while True:
        value = probe()
        if value or time.monotonic() >= deadline:
            return value
        time.sleep(interval)


# ---- Pictures -----------------------------------------------------------------

class Image:
    def __init__(self, width, height, rgb):
        self.width, self.height, self.rgb = width, height, rgb

    def pixel(self, x, y):
        i = (y * self.width + x) * 3
        return self.rgb[i], self.rgb[i + 1], self.rgb[i + 2]

    def save_png(self, path):
        rows = b"".join(b"\0" + self.rgb[y * self.width * 3:(y + 1) * self.width * 3] for y in range(self.height))

        def chunk(kind, data):
            return struct.pack(">I", len(data)) + kind + data + struct.pack(">I", zlib.crc32(kind + data))

        with open(path, "wb") as out:
            out.write(b"\x89PNG\r\n\x1a\n" + chunk(b"IHDR", struct.pack(">IIBBBBB", self.width, self.height, 8, 2, 0, 0, 0))
                      + chunk(b"IDAT", zlib.compress(rows, 6)) + chunk(b"IEND", b""))


def parse_ppm(data):
    match = re.match(rb"P6\s+(\d+)\s+(\d+)\s+255\s", data)
    if not match:
        return None
    width, height = int(match.group(1)), int(match.group(2))
    rgb = data[match.end():match.end() + width * height * 3]
    return Image(width, height, rgb) if len(rgb) == width * height * 3 else None


def longest_run(counts, threshold):
    """The longest stretch of indexes whose count reaches threshold, as (first,
    last), bridging gaps of up to 3."""
    best, start, last = None, None, None
    for i, count in enumerate(counts):
        if count < threshold:
            continue
        if last is None or i - last > 4:
            start = i
        last = i
        if best is None or last - start > best[1] - best[0]:
            best = (start, last)
    return best


def find_picture(image):
    """Where the clip's picture is in the window, as (left, top, scale), or
    None. The clip's picture is 320 x 240: a strip of number blocks 32 high
    along its top edge above colour bars, which cross moving grey shapes. The
    picture is found by the rows and columns its bars fill (its number blocks
    may all be black on the black viewer)."""
    row_counts, column_counts = [], [0] * image.width
    for y in range(image.height):
        row = image.rgb[y * image.width * 3:(y + 1) * image.width * 3]
        coloured = [max(r, g, b) - min(r, g, b) > 80 for r, g, b in zip(row[0::3], row[1::3], row[2::3])]
        row_counts.append(sum(coloured))
        column_counts = list(map(operator.add, column_counts, coloured))
    if max(row_counts) < 40:
        return None
    left, right = longest_run(column_counts, max(column_counts) // 4)
    bars_top, bottom = longest_run(row_counts, max(row_counts) // 4)
    scale = (right - left + 1) / 320.0
    top = bottom + 1 - 240 * scale
    # The bars must have the height that the picture's width gives them.
    if top < 0 or abs(bottom + 1 - bars_top - 208 * scale) > 3:
        return None
    return left, top, scale


def shown_number(image):
    """The frame number the window's picture carries, or None when no picture
    with a readable number is found: 16 blocks of 20 x 32 along the picture's
    top edge, block i white when bit i of the number is set."""
    picture = find_picture(image) if image else None
    if not picture:
        return None
    left, top, scale = picture
    number = 0
    reach = max(1, int(4 * scale))
    for bit in range(16):
        cx, cy = int(left + (20 * bit + 10) * scale), int(top + 16 * scale)
        samples = [image.pixel(x, y) for x in range(cx - reach, cx + reach + 1)
                   for y in range(cy - reach, cy + reach + 1)]
        level = sum(sum(p) for p in samples) / (3.0 * len(samples))
        if level > 170:
            number |= 1 << bit
        elif level > 85:
            return None  # between two pictures, or not a number block
    return number


def black_share(image):
    """The share of an image's pixels that are black."""
    pixels = len(image.rgb) // 3
    black = sum(1 for r, g, b in zip(image.rgb[0::3], image.rgb[1::3], image.rgb[2::3]) if max(r, g, b) < 8)
    return black / float(pixels) if pixels else 1.0


# ---- The X server and the player ----------------------------------------------

def die_with_parent():
    """Run in a child before it starts: the child is killed when this script
    ends, however it ends (a test time-out kills the script outright)."""
    ctypes.CDLL(None, use_errno=True).prctl(1, signal.SIGKILL)  # PR_SET_PDEATHSIG


class Display:
    """An Xvfb server of its own. Key auto-repeat is off, so that a slow key
    release under load never reads as a held key."""

    def __init__(self, work):
        read_end, write_end = os.pipe()
        self.log = open(os.path.join(work, "xvfb.log"), "w")
        self.process = subprocess.Popen(
            ["Xvfb", "-displayfd", str(write_end), "-screen", "0", "1920x1080x24", "-nolisten", "tcp",
             "-noreset", "-r"], pass_fds=(write_end,), stdout=self.log, stderr=subprocess.STDOUT,
            preexec_fn=die_with_parent)
        os.close(write_end)
        with os.fdopen(read_end) as reader:
            number = reader.readline().strip()
        if not number:
            raise RuntimeError("Xvfb did not start")
        self.name = ":" + number

    def stop(self):
        self.process.terminate()
        self.process.wait(30)
        self.log.close()


def run(*arguments, timeout=60):
    return subprocess.run(arguments, stdout=subprocess.PIPE, stderr=subprocess.PIPE, timeout=timeout * wait_scale)


class Player:
    def __init__(self, session, executable, clip, mode):
        self.session, self.mode = session, mode
        self.log_path = os.path.join(session.work, "player_%s.log" % mode)
        self.log = open(self.log_path, "w+")
        self.process = subprocess.Popen([executable, clip], env=session.env, stdout=self.log,
                                        stderr=subprocess.STDOUT, preexec_fn=die_with_parent)
        self.client = None
        self.window = None

    def alive(self):
        return self.process.poll() is None

    def log_text(self):
        with open(self.log_path) as log:
            return log.read()

    def connect(self):
        """A client of the command port, handshake done; None while nothing listens."""
        if not self.alive():
            return None
        try:
            client = client_api.Client(self.session.port)
            reply = client.command({"cmd": "initialize", "api_version": "1.0.0"})
        except OSError:
            return None
        if reply.get("success") or reply.get("msg") == "Server is already initialized.":
            self.client = client
            return client
        client.close()
        return None

    def ask(self, request):
        for _ in range(2):
            try:
                if not self.client:
                    self.connect()
                return self.client.command(request)
            except (OSError, ValueError, AttributeError):
                self.client = None
        return {}

    def frame(self):
        return self.ask({"cmd": "get_frame"}).get("frame")

    def range(self):
        reply = self.ask({"cmd": "get_range"})
        return reply.get("start_frame"), reply.get("end_frame")

    def settled_frame(self):
        """The reported frame when it holds still for a moment, else None."""
        first = self.frame()
        time.sleep(0.3)  # the player has no event for "stopped moving": read again
        return first if first and first == self.frame() else None

    def find_window(self):
        result = run("xdotool", "search", "--onlyvisible", "--pid", str(self.process.pid))
        best = None
        for line in result.stdout.decode().split():
            geometry = self.geometry(line)
            if geometry and (not best or geometry[0] * geometry[1] > best[1][0] * best[1][1]):
                best = (line, geometry)
        self.window = best[0] if best else None
        return self.window

    @staticmethod
    def geometry(window):
        result = run("xdotool", "getwindowgeometry", window)
        match = re.search(rb"Geometry: (\d+)x(\d+)", result.stdout)
        return (int(match.group(1)), int(match.group(2))) if match else None

    def screenshot(self):
        result = run("ffmpeg", "-nostdin", "-v", "error", "-f", "x11grab", "-window_id", self.window,
                     "-i", self.session.display.name, "-frames:v", "1", "-c:v", "ppm", "-f", "image2pipe", "-")
        return parse_ppm(result.stdout) if result.returncode == 0 else None

    @staticmethod
    def area(window):
        """Where a window is on the screen, as (x, y, width, height), or None."""
        result = run("xwininfo", "-id", window)
        values = dict(re.findall(rb"^\s*(Absolute upper-left X|Absolute upper-left Y|Width|Height):\s+(-?\d+)",
                                 result.stdout, re.M))
        if result.returncode != 0 or len(values) != 4:
            return None
        return tuple(int(values[key]) for key in (b"Absolute upper-left X", b"Absolute upper-left Y", b"Width",
                                                   b"Height"))

    def screen_area(self, area):
        """What the X server shows in a rectangle of the screen: read from the
        root window, so every window stacked there counts, as a user sees it
        (xwd -root is no witness here: it rebuilds the picture window by window,
        and a window lying wholly over another of the same visual and colour
        map comes out black)."""
        x, y, width, height = area
        result = run("ffmpeg", "-nostdin", "-v", "error", "-f", "x11grab", "-video_size", "%dx%d" % (width, height),
                     "-i", "%s+%d,%d" % (self.session.display.name, x, y), "-frames:v", "1", "-c:v", "ppm",
                     "-f", "image2pipe", "-")
        return parse_ppm(result.stdout) if result.returncode == 0 else None

    def other_windows(self):
        """The player's visible windows besides its main window."""
        result = run("xdotool", "search", "--onlyvisible", "--pid", str(self.process.pid))
        return [line for line in result.stdout.decode().split() if line != self.window]

    def picture_scale(self):
        image = self.screenshot()
        picture = find_picture(image) if image else None
        return picture[2] if picture else 0

    def press(self, key):
        run("xdotool", "windowfocus", "--sync", self.window)
        run("xdotool", "key", key)

    def question(self):
        """The player's question box (titled with the application's name), or None."""
        result = run("xdotool", "search", "--onlyvisible", "--pid", str(self.process.pid))
        for line in result.stdout.decode().split():
            if line != self.window:
                name = run("xdotool", "getwindowname", line).stdout.decode().strip()
                if name == "Tessarin ORVEL":
                    return line
        return None

    def discard_changes(self):
        """A project with unsaved changes (a bookmark set by key, a frame set
        through the port) asks first whatever replaces or closes it. Answers
        "Discard": the question opens on "Save", Tab moves on to "Discard" and
        space presses it. Returns whether it was asked."""
        box = wait_for(30, lambda: self.question() or self.process.poll() is not None, 0.2)
        if box is True:  # the player ended without asking
            return False
        if box:
            run("xdotool", "windowfocus", "--sync", box)
            run("xdotool", "key", "Tab", "space")
        return bool(box)

    def wait_for_picture(self, expected, what, artefact=None, seconds=30, before=()):
        """Waits until the window shows picture number expected. On the way it
        may still show the pictures before (None: any); any other picture is a
        wrong frame shown."""
        seen = []

        def probe():
            image = self.screenshot()
            number = shown_number(image)
            if not seen or seen[-1][0] != number:
                seen.append((number, image))
            elif image:
                seen[-1] = (number, image)
            return number == expected

        shown = wait_for(seconds, probe)
        last_image = seen[-1][1]
        if artefact or not shown:
            name = artefact or "failed_" + re.sub(r"\W+", "_", what)
            if last_image:
                last_image.save_png(os.path.join(self.session.artefacts, "%s_%s.png" % (self.mode, name)))
        numbers = [number for number, _ in seen]
        check(shown, "%s: the window shows picture %d (read %s)" % (what, expected, numbers))
        if before is not None:
            wrong = [n for n in numbers if n is not None and n != expected and n not in before]
            check(not wrong, "%s: no other picture shown on the way (read %s)" % (what, numbers))

    def wait_for_frame(self, expected, what, seconds=30):
        got = wait_for(seconds, lambda: self.frame() == expected and expected)
        return check(bool(got), "%s: the player reports frame %d (got %s)" % (what, expected, self.frame()))

    def stop(self, how):
        """Ends the player with SIGTERM or its Quit action; returns its exit status."""
        if how == "SIGTERM" or not self.window:
            self.process.send_signal(signal.SIGTERM)
        else:
            # A bookmark set by key is a change: quitting asks about it.
            self.press("f")
            self.press("ctrl+q")
            check(self.discard_changes(), "%s: quitting with changes asks first" % self.mode)
        try:
            self.process.wait(60 * wait_scale)
        except subprocess.TimeoutExpired:
            check(False, "%s: the player ended after %s" % (self.mode, how))
            self.process.kill()
            self.process.wait()
        if self.client:
            self.client.close()
        self.log.close()
        return self.process.returncode


class Session:
    def __init__(self, executable, media_dir, artefacts):
        self.executable, self.media_dir, self.artefacts = executable, media_dir, artefacts
        self.work = tempfile.mkdtemp(prefix="tessarin-end-to-end.")
        try:
            self.display = Display(self.work)
        except (OSError, RuntimeError):
            shutil.rmtree(self.work, ignore_errors=True)
            raise
        home = os.path.join(self.work, "home")
        runtime = os.path.join(self.work, "run")
        tmp = os.path.join(self.work, "tmp")
        self.config = os.path.join(home, "Documents", "tessarin_orvel", "config")
        os.makedirs(self.config)
        os.makedirs(runtime, mode=0o700)
        os.makedirs(tmp)
        self.settings = os.path.join(self.config, "tessarin_orvel.ini")
        self.bindings = os.path.join(self.config, "tessarin_orvel_bindings.ini")
        # TMPDIR also keeps the single-instance channel apart from any other player.
        self.env = dict(os.environ, HOME=home, XDG_RUNTIME_DIR=runtime, TMPDIR=tmp, QT_QPA_PLATFORM="xcb",
                        DISPLAY=self.display.name, DBUS_SESSION_BUS_ADDRESS="unix:path=%s/no-bus" % self.work)
        for name in ("XDG_CONFIG_HOME", "ZEPH_CONFIG_OVERRIDE_PATH", "WAYLAND_DISPLAY"):
            self.env.pop(name, None)
        os.environ["DISPLAY"] = self.display.name  # for xdotool and ffmpeg
        self.port = None

    def clip(self, clip):
        return os.path.join(self.media_dir, clip[0])

    def close(self):
        self.display.stop()
        shutil.rmtree(self.work, ignore_errors=True)


# ---- Settings files -----------------------------------------------------------

def set_preference(text, key, value):
    """Sets key=value in the [preferences] group of an INI text."""
    line = "%s=%s" % (key, value)
    if re.search(r"^%s=.*$" % key, text, re.M):
        return re.sub(r"^%s=.*$" % key, line, text, flags=re.M)
    if "[preferences]" in text:
        return text.replace("[preferences]\n", "[preferences]\n%s\n" % line, 1)
    return text + "\n[preferences]\n%s\n" % line


def read(path):
    try:
        with open(path) as f:
            return f.read()
    except OSError:
        return ""


def check_files_written(session, mode, how, geometry):
    settings, bindings = read(session.settings), read(session.bindings)
    check("[preferences]" in settings and re.search(r"^clientApiPort=%d$" % session.port, settings, re.M)
          and re.search(r"^hardwareRenderingEnabled=%s$" % ("true" if mode == "opengl" else "false"), settings, re.M),
          "%s, %s: the settings file is written with the preferences the player ran with" % (mode, how))
    check(re.search(r"^windowGeometry=@ByteArray\(.+\)$", settings, re.M) is not None,
          "%s, %s: the window's geometry is written (window %dx%d)" % (mode, how, geometry[0], geometry[1]))
    check(re.search(r"^recentFiles=%s(,|$)" % re.escape(session.clip(SECOND_CLIP)), settings, re.M) is not None,
          "%s, %s: the clip of the second launch is the most recent file" % (mode, how))
    check("[user_bindings]" in bindings and re.search(r"^seekEnd=%s$" % USER_KEY.upper(), bindings, re.M)
          and re.search(r"^stepForwards=Right$", bindings, re.M),
          "%s, %s: the key-binding file is written with the user's binding" % (mode, how))


# ---- Dialogs on the screen ----------------------------------------------------

def check_drawn(player, window, what):
    """Waits until the X server shows the window drawn (not black) and keeps
    its picture."""
    seen = []

    def drawn():
        area = player.area(window)
        image = player.screen_area(area) if area else None
        if image:
            seen[:] = [(area, image, black_share(image))]
        return bool(seen) and seen[0][2] < 0.2

    wait_for(15, drawn, 0.3)
    if seen:
        seen[0][1].save_png(os.path.join(player.session.artefacts, "%s_%s.png"
                                         % (player.mode, re.sub(r"\W+", "_", what))))
    check(bool(seen) and seen[0][2] < 0.2, "%s: the screen shows %s drawn (black share %s of %s)"
          % (player.mode, what, "%.2f" % seen[0][2] if seen else "-", seen[0][0] if seen else "no window"))


def resize(window, size):
    if Player.geometry(window) != size:
        run("xdotool", "windowsize", "--sync", window, str(size[0]), str(size[1]))


def check_preferences_drawn(player):
    """Preferences and its "Assigned Shortcut" drop-down list, as the X
    server shows them over a main window large enough to lie under the whole
    dialog; the window gets its size back after."""
    size = player.geometry(player.window)
    resize(player.window, DIALOG_PARENT_SIZE)
    try:
        check_dialog_and_list_drawn(player)
    finally:
        resize(player.window, size)


def check_dialog_and_list_drawn(player):
    player.press("ctrl+comma")
    dialog = wait_for(30, lambda: next((w for w in player.other_windows()
                                        if run("xdotool", "getwindowname", w).stdout.strip() == b"Preferences"), None),
                      0.2)
    if not check(bool(dialog), "%s: Ctrl+, opens Preferences" % player.mode):
        return
    check_drawn(player, dialog, "Preferences")
    # The page list has the focus: Keyboard, then the second command, then its shortcut list.
    run("xdotool", "windowfocus", "--sync", dialog)
    run("xdotool", "key", "--delay", "100", "Down", "Tab", "Down", "Tab", "alt+Down")
    popup = wait_for(30, lambda: next((w for w in player.other_windows() if w != dialog), None), 0.2)
    if check(bool(popup), "%s: the \"Assigned Shortcut\" list opens" % player.mode):
        check_drawn(player, popup, "the \"Assigned Shortcut\" list")
        run("xdotool", "key", "Escape")
        wait_for(10, lambda: popup not in player.other_windows(), 0.2)
    run("xdotool", "windowfocus", "--sync", dialog)
    run("xdotool", "key", "Escape")
    check(wait_for(30, lambda: dialog not in player.other_windows(), 0.2),
          "%s: Escape closes Preferences" % player.mode)


# ---- One run of the player ----------------------------------------------------

def run_pass(session, mode, how, expected_size):
    """Opens the first clip, steps, seeks with the user's key, plays, hands a
    second clip over from a second launch, then quits by how."""
    session.port = client_api.free_port(client_api.END_TO_END_PORTS)
    settings = read(session.settings) or "[main]\nversion=1\n"
    settings = set_preference(settings, "clientApiPort", session.port)
    settings = set_preference(settings, "clientApiPortEnabled", "true")
    settings = set_preference(settings, "hardwareRenderingEnabled", "true" if mode == "opengl" else "false")
    with open(session.settings, "w") as f:
        f.write(settings)
    if not os.path.exists(session.bindings):
        with open(session.bindings, "w") as f:
            f.write("[user_bindings]\nseekEnd=%s\n" % USER_KEY.upper())

    first_last = FIRST_CLIP[1]
    player = Player(session, session.executable, session.clip(FIRST_CLIP), mode)
    geometry = (0, 0)
    try:
        if not check(wait_for(60, player.connect, 0.2) is not None, "%s: the player listens on its port" % mode):
            return
        if not check(wait_for(60, player.find_window, 0.2) is not None, "%s: the window is shown" % mode):
            return
        if expected_size:
            size = wait_for(10, lambda: player.geometry(player.window) == expected_size and expected_size)
            check(bool(size), "%s: the window comes back at the size it was left at, %dx%d (got %s)"
                  % (mode, expected_size[0], expected_size[1], player.geometry(player.window)))
        if mode == "opengl":
            check("OpenGL is not available" not in player.log_text(), "opengl: the viewer draws through OpenGL")

        # The first picture of the clip, numbered 0, is the player's frame 1.
        check(wait_for(60, lambda: player.range() == (1, first_last)),
              "%s: the clip is open, frames 1 to %d (range %s)" % (mode, first_last, player.range()))
        player.wait_for_frame(1, mode + ", opened")
        player.wait_for_picture(0, mode + ", opened", "1_opened", 60)

        # The step keys move one frame each way.
        player.press("Right")
        player.wait_for_frame(2, mode + ", Right")
        player.wait_for_picture(1, mode + ", Right", "2_stepped", before=(0,))
        check(player.frame() == 2, "%s: one Right press moved exactly one frame (frame %s)" % (mode, player.frame()))
        player.press("Left")
        player.wait_for_frame(1, mode + ", Left")
        player.wait_for_picture(0, mode + ", Left", before=(1,))

        # The key of the user's bindings file: "Go to End".
        player.press(USER_KEY)
        player.wait_for_frame(first_last, "%s, the user's key %s" % (mode, USER_KEY.upper()))
        player.wait_for_picture(first_last - 1, "%s, the user's key %s" % (mode, USER_KEY.upper()), "3_user_key",
                                before=(0,))
        player.press("Home")
        player.wait_for_frame(1, mode + ", Home")

        # The play key plays: the shown number advances; paused, the picture is the frame reported.
        player.press("space")
        shown = []

        def advanced():
            number = shown_number(player.screenshot())
            if number is not None:
                shown.append(number)
            return number is not None and number > min(shown)

        check(wait_for(30, advanced), "%s: playing, the shown number advances (read %s)" % (mode, shown))
        player.press("space")
        held = wait_for(10, player.settled_frame)
        if check(bool(held), "%s: the play key pauses again (frame %s)" % (mode, player.frame())):
            player.wait_for_picture(held - 1, "%s, paused at frame %d" % (mode, held), "4_paused", before=None)

        # Bookmarks-only play shows the bookmarked pictures and nothing else,
        # each held until the next one (bookmarks toggled with the key F).
        bookmarked = (10, 20, 30)
        for picture in bookmarked:
            player.ask({"cmd": "set_frame", "frame": picture + 1})
            player.wait_for_frame(picture + 1, "%s, bookmark at %d" % (mode, picture))
            player.press("f")
        player.press("Home")
        player.wait_for_frame(1, mode + ", Home before bookmarks-only play")
        player.press("alt+space")
        reads = []

        def read_bookmarked():
            number = shown_number(player.screenshot())
            if number is not None and (reads or number in bookmarked):
                reads.append(number)
            return len(reads) >= 30

        wait_for(60, read_bookmarked)
        player.press("alt+space")
        check(len(reads) >= 30 and set(reads) <= set(bookmarked) and len(set(reads)) > 1,
              "%s: bookmarks-only play shows only the bookmarked pictures %s (read %s)" % (mode, bookmarked, reads))
        wait_for(10, player.settled_frame)
        held = None  # the picture left on screen is no longer the paused frame's

        # A second launch hands its clip to this player and ends.
        try:
            second = subprocess.run([session.executable, session.clip(SECOND_CLIP)], env=session.env,
                                    stdout=subprocess.PIPE, stderr=subprocess.STDOUT, timeout=60 * wait_scale)
            output = second.stdout.decode(errors="replace")
            check(second.returncode == 0 and "Tessarin ORVEL v" not in output,
                  "%s: a second launch hands its clip over and ends (status %d)" % (mode, second.returncode))
        except subprocess.TimeoutExpired:
            check(False, "%s: a second launch ended within its time" % mode)
        check(player.discard_changes(), "%s: the second launch asks before the changed project goes" % mode)
        second_last = SECOND_CLIP[1]
        check(wait_for(60, lambda: player.range() == (1, second_last)),
              "%s: the running player opened the second clip, frames 1 to %d (range %s)"
              % (mode, second_last, player.range()))
        player.wait_for_picture(0, mode + ", second clip", "5_second_clip",
                                before=(held - 1,) if held else None)
        player.press(USER_KEY)
        player.wait_for_frame(second_last, "%s, second clip, key %s" % (mode, USER_KEY.upper()))
        player.wait_for_picture(second_last - 1, "%s, second clip, key %s" % (mode, USER_KEY.upper()),
                                "6_second_clip_end", before=(0,))

        check_preferences_drawn(player)

        if not expected_size:
            # The size given here must come back in the next run: resized, the
            # viewer shows the picture smaller once the window has taken the size.
            scale = player.picture_scale()
            run("xdotool", "windowsize", "--sync", player.window, str(RESIZED[0]), str(RESIZED[1]))
            smaller = wait_for(30, lambda: 0 < player.picture_scale() < scale)
            check(smaller, "%s: resized to %dx%d, the window shows the picture smaller" % (mode, RESIZED[0], RESIZED[1]))

        # Quitting writes the settings, the key bindings and the window's state.
        geometry = player.geometry(player.window)
        for path in (session.settings, session.bindings):
            os.remove(path)  # both were read at start-up
    except Exception as error:  # a broken tool call or reply: the player's log tells more
        traceback.print_exc()
        check(False, "%s: the run went to its end (%s: %s)" % (mode, type(error).__name__, error))
    finally:
        status = player.stop(how)
        log = player.log_text()
    check(status == 0, "%s: the player quits with 0 after %s (status %s)" % (mode, how, status))
    check("[ERROR]" not in log, "%s: no error logged" % mode)
    check_files_written(session, mode, how, geometry)
    if failures:
        print("== player log (%s)\n%s" % (mode, log))


def main():
    global wait_scale
    arguments = sys.argv[1:]
    if arguments[:1] == ["--sanitized"]:
        wait_scale = 4
        arguments = arguments[1:]
    if len(arguments) != 3:
        print(__doc__)
        return 2
    executable, media_dir, artefacts = (os.path.abspath(a) for a in arguments)
    for tool in ("Xvfb", "xdotool", "xwininfo", "ffmpeg"):
        if not shutil.which(tool):
            print("FAIL: %s is missing (scripts/setup.sh installs it)" % tool)
            return 1
    shutil.rmtree(artefacts, ignore_errors=True)
    os.makedirs(artefacts)
    print("screenshots of the window are kept in %s" % artefacts, flush=True)
    client_api.TIMEOUT = 20.0 * wait_scale

    # A time-out's SIGTERM still stops the player and the X server.
    signal.signal(signal.SIGTERM, lambda *_: sys.exit(1))
    session = Session(executable, media_dir, artefacts)
    try:
        run_pass(session, "software", "Quit action", None)
        run_pass(session, "opengl", "SIGTERM", RESIZED)
    finally:
        session.close()
    if failures:
        print("%d check(s) failed" % len(failures))
        return 1
    print("all end-to-end checks passed")
    return 0


if __name__ == "__main__":
    sys.exit(main())
