#!/usr/bin/env python3
"""An independent client of the player's command port.

Starts the real player (a new instance, its own HOME and settings file naming a
free port) and talks to it over TCP with nothing but the standard library:
byte-for-byte replies of every command and failure, then hostile traffic after
which the player must still answer, with its memory not grown.

    client_api_check.py PLAYER MEDIA_DIR

Run under an X server (xvfb-run) or with QT_QPA_PLATFORM=offscreen.
"""

import json
import os
import random
import shutil
import signal
import socket
import subprocess
import sys
import tempfile
import time
import traceback

TIMEOUT = 20.0
failures = []


def check(condition, what):
    if condition:
        print("ok:", what)
    else:
        print("FAIL:", what)
        failures.append(what)
    return condition


def check_equal(got, expected, what):
    return check(got == expected, "%s (got %r, expected %r)" % (what, got, expected))


# Ports the player under test listens on. The checks that start players run
# side by side, and a port the system hands out (bind to port 0) may be handed
# to another of them in the moment before its player binds it: each check takes
# its ports from a range of its own, below the system's ephemeral ports.
CLIENT_API_PORTS = (21000, 22999)
QUIT_HANDOVER_PORTS = (23000, 24999)
END_TO_END_PORTS = (25000, 26999)
STALL_CHECK_PORTS = (27000, 28999)


def free_port(ports=CLIENT_API_PORTS):
    """A port of the range (first, last) that nothing listens on now."""
    chooser = random.Random()
    for _ in range(200):
        port = chooser.randint(ports[0], ports[1])
        with socket.socket(socket.AF_INET, socket.SOCK_STREAM) as probe:
            try:
                probe.bind(("127.0.0.1", port))
            except OSError:
                continue
            return port
    raise RuntimeError("no free port between %d and %d" % ports)


def frame(payload):
    if isinstance(payload, str):
        payload = payload.encode("utf-8")
    return b"%010d" % len(payload) + payload


class Client:
    def __init__(self, port):
        self.sock = socket.create_connection(("127.0.0.1", port), timeout=TIMEOUT)
        self.sock.setsockopt(socket.IPPROTO_TCP, socket.TCP_NODELAY, 1)

    def close(self):
        self.sock.close()

    def send_raw(self, data):
        self.sock.sendall(data)

    def recv_exact(self, count):
        data = b""
        while len(data) < count:
            chunk = self.sock.recv(count - len(data))
            if not chunk:
                raise ConnectionError("closed after %d of %d bytes" % (len(data), count))
            data += chunk
        return data

    def read_reply(self):
        """One framed reply: (header bytes, payload bytes)."""
        header = self.recv_exact(10)
        if not header.isdigit():
            raise ValueError("bad reply header %r" % header)
        return header, self.recv_exact(int(header))

    def command(self, obj):
        self.send_raw(frame(json.dumps(obj)))
        return json.loads(self.read_reply()[1].decode("latin-1"))

    def nothing_pending(self, wait=0.2):
        """True when nothing comes within `wait` seconds: proves a reply does NOT
        come, so it can only be a short wait on the clock."""
        self.sock.settimeout(wait)
        try:
            data = self.sock.recv(1)
        except socket.timeout:
            return True
        finally:
            self.sock.settimeout(TIMEOUT)
        return data == b""


def vm_rss_kb(pid):
    with open("/proc/%d/status" % pid) as status:
        for line in status:
            if line.startswith("VmRSS:"):
                return int(line.split()[1])
    return -1


class Player:
    def __init__(self, executable):
        self.executable = executable
        self.work = tempfile.mkdtemp(prefix="tessarin-client-api.")
        self.home = os.path.join(self.work, "home")
        config = os.path.join(self.home, "Documents", "tessarin_orvel", "config")
        os.makedirs(config)
        runtime = os.path.join(self.work, "run")
        os.makedirs(runtime, mode=0o700)
        tmp = os.path.join(self.work, "tmp")
        os.makedirs(tmp)
        self.port = free_port()
        with open(os.path.join(config, "tessarin_orvel.ini"), "w") as ini:
            ini.write("[main]\nversion=1\n\n[preferences]\nclientApiPort=%d\nclientApiPortEnabled=true\n" % self.port)
        env = dict(os.environ, HOME=self.home, XDG_RUNTIME_DIR=runtime, TMPDIR=tmp)
        env.pop("XDG_CONFIG_HOME", None)
        env.pop("ZEPH_CONFIG_OVERRIDE_PATH", None)
        if "ASAN_OPTIONS" in env:
            # Freed memory held back for use-after-free checks would read as growth.
            env["ASAN_OPTIONS"] += ":quarantine_size_mb=0"
        if not env.get("DISPLAY"):
            env["QT_QPA_PLATFORM"] = "offscreen"
        self.log = open(os.path.join(self.work, "player.log"), "w+")
        self.process = subprocess.Popen([executable, "--new"], env=env, stdout=self.log, stderr=subprocess.STDOUT)
        deadline = time.time() + 60
        while time.time() < deadline:
            if self.process.poll() is not None:
                raise RuntimeError("the player ended with %s" % self.process.returncode)
            try:
                socket.create_connection(("127.0.0.1", self.port), timeout=1).close()
                return
            except OSError:
                # Nothing tells another process when the player listens: try again shortly.
                time.sleep(0.1)
        raise RuntimeError("the player never listened on port %d" % self.port)

    def alive(self):
        return self.process.poll() is None

    def client(self):
        return Client(self.port)

    def stop(self):
        if self.alive():
            self.process.send_signal(signal.SIGTERM)
            try:
                self.process.wait(30)
            except subprocess.TimeoutExpired:
                self.process.kill()
                self.process.wait()
        self.returncode = self.process.returncode
        self.log.seek(0)
        text = self.log.read()
        self.log.close()
        shutil.rmtree(self.work, ignore_errors=True)
        return text


ECHO_ABC = b'{"msg":"","result":"abc","success":true}'


def echo_works(player, what):
    """A fresh client's echo is answered, byte for byte."""
    client = player.client()
    try:
        client.send_raw(frame('{"cmd":"echo","text":"abc"}'))
        header, payload = client.read_reply()
        return check(header == b"%010d" % len(ECHO_ABC) and payload == ECHO_ABC, "echo answered after " + what)
    except (OSError, ValueError) as error:
        return check(False, "echo answered after %s (%s)" % (what, error))
    finally:
        client.close()


def check_replies(player, media_dir):
    client = player.client()

    # Echo needs no handshake; the header counts the payload.
    client.send_raw(frame('{"cmd":"echo","text":"abc"}'))
    header, payload = client.read_reply()
    check_equal(header, b"0000000040", "echo reply header")
    check_equal(payload, ECHO_ABC, "echo reply")

    # Replies are Latin-1 with a header in UTF-16 code units.
    client.send_raw(frame(json.dumps({"cmd": "echo", "text": "\u00e9\u4e2d\U0001F600"}, ensure_ascii=False)))
    header, payload = client.read_reply()
    check_equal(payload, b'{"msg":"","result":"\xe9???","success":true}', "echo of non-ASCII text in Latin-1")
    check_equal(int(header), len(payload), "header counts the Latin-1 bytes")

    # Badly formed requests.
    for text, what in (("{}", "an empty object"), ("[1,2]", "an array"), ("garbage{", "garbage"), ("42", "a number")):
        client.send_raw(frame(text))
        check_equal(client.read_reply()[1], b'{"cmd":"???","msg":"Invalid JSON formatting","success":false}',
                    "invalid JSON: " + what)

    # Before the handshake.
    check_equal(client.command({"cmd": "get_frame"}),
                {"cmd": "get_frame", "msg": 'Server not initialized. Run the "initialize" command first.',
                 "success": False}, "command before the handshake")
    client.send_raw(frame('{"cmd":"get_frame"}'))
    check_equal(client.read_reply()[1],
                b'{"cmd":"get_frame","msg":"Server not initialized. Run the \\"initialize\\" command first.",'
                b'"success":false}', "not-initialized reply bytes")

    for version in ("1.2", "0.1.0", "1.x.0", "1.-1.0", "", "1.0.0.0"):
        client.send_raw(frame(json.dumps({"cmd": "initialize", "api_version": version})))
        check_equal(client.read_reply()[1],
                    ('{"cmd":"initialize","msg":"Invalid API Version (%s)","success":false}' % version).encode(),
                    "bad API version %r" % version)
    client.send_raw(frame('{"cmd":"initialize","api_version":"1..0.0"}'))
    check_equal(client.read_reply()[1], b'{"msg":"","success":true}', "initialize 1..0.0 (empty part skipped)")
    client.send_raw(frame('{"cmd":"initialize","api_version":"1.0.0"}'))
    check_equal(client.read_reply()[1],
                b'{"cmd":"initialize","msg":"Server is already initialized.","success":false}', "initialized twice")

    client.send_raw(frame('{"cmd":"xyz"}'))
    check_equal(client.read_reply()[1], b'{"cmd":"xyz","msg":"Invalid command (xyz)","success":false}',
                "unknown command")
    client.send_raw(frame('{"text":"abc"}'))
    check_equal(client.read_reply()[1], b'{"cmd":"???","msg":"Invalid command ()","success":false}',
                "request without a command")
    client.send_raw(frame('{"cmd":"ECHO"}'))
    check_equal(client.read_reply()[1], b'{"cmd":"ECHO","msg":"Invalid command (ECHO)","success":false}',
                "command names are case-sensitive")

    config = client.command({"cmd": "get_config"})
    check_equal(sorted(config), ["app_dir", "app_name", "msg", "success", "temp_dir", "user_dir"], "get_config keys")
    check(config.get("success") is True and config.get("user_dir", "").startswith(player.home),
          "get_config reports the user folder in the player's HOME (%r)" % config.get("user_dir"))
    check_equal(client.command({"cmd": "is_autoplay"}), {"autoplay": False, "msg": "", "success": True},
                "is_autoplay")

    # Nothing open yet: every frame member is -1.
    client.send_raw(frame('{"cmd":"get_frame"}'))
    check_equal(client.read_reply()[1], b'{"frame":-1,"msg":"","success":true}', "get_frame without a timeline")
    check_equal(client.command({"cmd": "set_frame", "frame": 5}), {"frame": -1, "msg": "", "success": True},
                "set_frame without a timeline")
    check_equal(client.command({"cmd": "get_range"}),
                {"end_frame": -1, "msg": "", "start_frame": -1, "success": True}, "get_range without a timeline")
    check_equal(client.command({"cmd": "set_range", "start_frame": 3, "end_frame": 9}),
                {"end_frame": -1, "msg": "", "start_frame": -1, "success": True}, "set_range without a timeline")
    check_equal(client.command({"cmd": "set_playing", "playing": True}), {"msg": "", "success": True},
                "set_playing without a timeline")

    missing = os.path.join(media_dir, "no_such_file.mp4")
    check_equal(client.command({"cmd": "import_file", "file_path": missing}),
                {"cmd": "import_file", "msg": "Failed to create source for file (%s): file not found" % missing,
                 "success": False}, "import_file of a missing file")
    client.close()

    # A second client takes over without a new handshake; the first is let go.
    first = player.client()
    check_equal(first.command({"cmd": "get_frame"})["success"], True, "first client served")
    second = player.client()
    check_equal(second.command({"cmd": "get_frame"}), {"frame": -1, "msg": "", "success": True},
                "second client needs no new handshake")
    first.sock.settimeout(5)
    try:
        closed = first.sock.recv(1) == b""
    except OSError:
        closed = True
    check(closed, "the first client is disconnected when a second connects")
    first.close()
    second.close()


def read_frame(client):
    return client.command({"cmd": "get_frame"})["frame"]


def frame_once_shown(client, wanted, seconds=20):
    """The frame reported is the picture's: the sought one once it is shown."""
    deadline = time.time() + seconds
    reported = read_frame(client)
    while time.time() < deadline and reported != wanted:
        time.sleep(0.02)
        reported = read_frame(client)
    return reported


def check_import(player, media_dir):
    client = player.client()  # the handshake of an earlier client still holds
    clip = os.path.join(media_dir, "h264_cfr25.mp4")  # 100 frames at 25 fps
    reply = client.command({"cmd": "import_file", "file_path": clip})
    source = reply.get("source", {})
    check_equal((reply.get("success"), reply.get("msg")), (True, ""), "import_file of a clip")
    check_equal(sorted(source), ["audio_delay", "id", "is_source", "name", "output_id", "parent_id", "parent_index",
                                 "path", "playback_frame", "range_end_frame", "range_start_frame"], "source members")
    source_id = source.get("id", "")
    check(len(source_id) == 38 and source_id[0] == "{" and source_id[-1] == "}" and source_id == source_id.lower(),
          "source id in braces, lower case (%r)" % source_id)
    check_equal((source.get("is_source"), source.get("name"), source.get("path"), source.get("output_id")),
                (True, "h264_cfr25.mp4", clip, 0), "source name, path and viewer output")
    check_equal((source.get("playback_frame"), source.get("range_start_frame"), source.get("range_end_frame")),
                (1, 1, 100), "source frames carry the offset; an open range ends on the last frame")
    check(source.get("parent_id", "").startswith("{") and source.get("parent_index") == 0,
          "source is the first item of its folder")

    check_equal(read_frame(client), 1, "get_frame on the first frame")
    check_equal(client.command({"cmd": "set_frame", "frame": 10}), {"frame": 10, "msg": "", "success": True},
                "set_frame 10")
    check_equal(frame_once_shown(client, 10), 10, "get_frame after set_frame, once its picture is shown")
    check_equal(client.command({"cmd": "set_frame", "frame": 10 ** 6})["frame"], 100, "set_frame far past the end")
    check_equal(client.command({"cmd": "set_frame", "frame": -2147483648})["frame"], 1, "set_frame far before the start")

    client.send_raw(frame('{"cmd":"set_range","start_frame":5,"end_frame":20}'))
    check_equal(client.read_reply()[1], b'{"end_frame":20,"msg":"","start_frame":5,"success":true}', "set_range")
    client.send_raw(frame('{"cmd":"get_range"}'))
    check_equal(client.read_reply()[1], b'{"end_frame":20,"msg":"","start_frame":5,"success":true}', "get_range")
    check_equal(client.command({"cmd": "set_frame", "frame": 3, "from_range_start": True})["frame"], 7,
                "set_frame from the range start")
    check_equal(client.command({"cmd": "set_range", "start_frame": 5}),
                {"end_frame": 100, "msg": "", "start_frame": 5, "success": True}, "set_range without an end")
    client.command({"cmd": "set_range", "start_frame": 1, "end_frame": 100})

    # Playing moves the frame on; pausing holds it.
    client.command({"cmd": "set_frame", "frame": 1})
    check_equal(client.command({"cmd": "set_playing", "playing": True}), {"msg": "", "success": True}, "set_playing true")
    # Polled: the port sends nothing unasked, so only asking shows the frame move.
    deadline = time.time() + 10
    moved = 1
    while time.time() < deadline and moved <= 5:
        moved = read_frame(client)
        time.sleep(0.05)
    check(moved > 5, "the frame advances while playing (%d)" % moved)
    client.command({"cmd": "set_playing", "playing": False})
    held = read_frame(client)
    time.sleep(0.4)  # proves the frame does NOT move on: some frames' time must pass
    check_equal(read_frame(client), held, "the frame holds after set_playing false")

    # The commands above changed the project: a further import would ask the
    # user first. Each import below runs in a player of its own.
    client.close()
    restarted = []

    def fresh_client():
        other = Player(player.executable)
        restarted.append(other)
        fresh = other.client()
        fresh.command({"cmd": "initialize", "api_version": "1.0.0"})
        return fresh

    try:
        check_fresh_imports(fresh_client, media_dir, clip)
    finally:
        for other in restarted:
            other.stop()


def check_fresh_imports(fresh_client, media_dir, clip):
    client = fresh_client()
    # A hashed image-sequence path names the sequence's first file.
    hashed = os.path.join(media_dir, "seq_png", "img.####.png")
    reply = client.command({"cmd": "import_file", "file_path": hashed, "name": "shot"})
    source = reply.get("source", {})
    check_equal((reply.get("success"), source.get("path"), source.get("name")),
                (True, os.path.join(media_dir, "seq_png", "img.0001.png"), "shot"), "import_file of a hashed sequence")

    # The requested range becomes the source's range.
    client.close()
    client = fresh_client()
    reply = client.command({"cmd": "import_file", "file_path": clip, "range_start": 2, "range_end": 8})
    source = reply.get("source", {})
    check_equal((source.get("range_start_frame"), source.get("range_end_frame"), source.get("playback_frame")),
                (3, 9, 1), "import_file with a range")
    check_equal(client.command({"cmd": "get_range"}), {"end_frame": 9, "msg": "", "start_frame": 3, "success": True},
                "get_range after a ranged import")

    # A second message sent while the import still parses: both answered, once, in order.
    client.close()
    client = fresh_client()
    client.send_raw(frame(json.dumps({"cmd": "import_file", "file_path": clip})) +
                    frame('{"cmd":"get_frame"}'))
    first = json.loads(client.read_reply()[1])
    second = client.read_reply()[1]
    check_equal((first.get("success"), first.get("source", {}).get("path")), (True, clip),
                "import answered first")
    check_equal(second, b'{"frame":1,"msg":"","success":true}', "the message sent during the import answered after it")
    check(client.nothing_pending(), "nothing else is answered")
    client.close()


def check_hostile(player):
    pid = player.process.pid
    # Warm up, then take the memory baseline.
    for _ in range(20):
        warm = player.client()
        warm.command({"cmd": "echo", "text": "warm-up"})
        warm.close()
    baseline = vm_rss_kb(pid)

    # Parts of a frame go in deliveries of their own: each pause lets the player
    # read the part alone, and proves it is NOT answered.
    client = player.client()
    client.send_raw(b"0000")
    check(client.nothing_pending(0.1), "part of a header is not answered")
    client.send_raw(b"000027" + b'{"cmd":"echo","text":"abc"}')
    check_equal(client.read_reply()[1], ECHO_ABC, "header split 4+6 is reassembled")

    client.send_raw(b"000000002")
    check(client.nothing_pending(0.1), "nine header digits are not answered")
    client.send_raw(b"7" + b'{"cmd":"echo",')
    check(client.nothing_pending(0.1), "part of a payload is not answered")
    client.send_raw(b'"text":"abc"}')
    check_equal(client.read_reply()[1], ECHO_ABC, "header 9+1 and payload in two deliveries")

    client.send_raw(frame('{"cmd":"echo","text":"one"}') + frame('{"cmd":"echo","text":"two"}'))
    check_equal(client.read_reply()[1], b'{"msg":"","result":"one","success":true}', "two frames in one send: first")
    check_equal(client.read_reply()[1], b'{"msg":"","result":"two","success":true}', "two frames in one send: second")

    client.send_raw(b"0000000000" + frame('{"cmd":"echo","text":"abc"}'))
    check_equal(client.read_reply()[1], ECHO_ABC, "an empty frame announces nothing")
    check(client.nothing_pending(), "an empty frame is not answered")

    error = b'{ "success": "false", "msg": "Invalid Header" }'
    for header, what in ((b"abcdefghij", "letters"), (b"0000x", "a letter after digits"),
                         (b"00000+0027", "a sign after digits")):
        client.send_raw(header + b'{"cmd":"echo"}')
        reply = client.read_reply()
        check_equal(reply, (b"%010d" % len(error), error), "invalid header: " + what)
        check(client.nothing_pending(), "invalid header answered once: " + what)
        client.send_raw(frame('{"cmd":"echo","text":"abc"}'))
        check_equal(client.read_reply()[1], ECHO_ABC, "same connection works after " + what)

    # A header is read as a number: a sign or blanks before the digits give
    # the length the digits say; a negative one announces nothing.
    echo_abc = b'{"cmd":"echo","text":"abc"}'
    for header, what in ((b"+%09d" % len(echo_abc), "a plus sign"), (b" %09d" % len(echo_abc), "a leading blank")):
        client.send_raw(header + echo_abc)
        check_equal(client.read_reply()[1], ECHO_ABC, "header with " + what)
        check(client.nothing_pending(), "header with " + what + " answered once")
    client.send_raw(b"-000000001" + frame('{"cmd":"echo","text":"abc"}'))
    check_equal(client.read_reply()[1], ECHO_ABC, "a negative header announces nothing")
    check(client.nothing_pending(), "a negative header is not answered")

    # A non-UTF-8 payload reads as replacement characters, sent back as "?".
    client.send_raw(frame(b'{"cmd":"echo","text":"\xff\xfe"}'))
    check_equal(client.read_reply()[1], b'{"msg":"","result":"??","success":true}', "non-UTF-8 text in a request")
    client.send_raw(frame(b"\xc3\x28\xa0\xa1{}"))
    check_equal(client.read_reply()[1], b'{"cmd":"???","msg":"Invalid JSON formatting","success":false}',
                "non-UTF-8 payload")

    # Larger than 16 MiB, or more than 32 bits: refused like a malformed header;
    # what follows is read as a new header.
    for header in (b"%010d" % (16 * 1024 * 1024 + 1), b"0999999999", b"9999999999"):
        client.send_raw(header)
        check_equal(client.read_reply()[1], error, "a header of %s is refused" % header.decode())
        client.send_raw(frame('{"cmd":"echo","text":"abc"}'))
        check_equal(client.read_reply()[1], ECHO_ABC, "the frame after a refused %s is read" % header.decode())
    client.close()

    # A 2 GB announcement with a few bytes, then gone.
    client = player.client()
    client.send_raw(b"2147483647" + b'{"cmd":"echo"')
    check_equal(client.read_reply()[1], error, "a 2 GB header is refused")
    client.close()
    echo_works(player, "a 2 GB header")

    # A payload cut off by a disconnect: the next client starts afresh.
    client = player.client()
    client.send_raw(b"0000000100" + b'{"cmd":"echo","text":"')
    check(client.nothing_pending(0.1), "a payload cut off is not answered")
    client.close()
    echo_works(player, "a payload cut off by a disconnect")
    client = player.client()
    client.send_raw(b"00000")
    check(client.nothing_pending(0.1), "a header cut off is not answered")
    client.close()
    echo_works(player, "a header cut off by a disconnect")

    for _ in range(200):
        cycle = player.client()
        cycle.close()
    echo_works(player, "200 connect/close cycles")

    grown = vm_rss_kb(pid) - baseline
    check(grown < 8 * 1024, "memory after hostile traffic grew by %d kB (below 8 MB)" % grown)
    check(player.alive(), "the player is still running")


def visible_windows(pid):
    """(id, title) of each visible window of the process, through xdotool."""
    found = subprocess.run(["xdotool", "search", "--onlyvisible", "--pid", str(pid)],
                           stdout=subprocess.PIPE, stderr=subprocess.DEVNULL, timeout=30)
    windows = []
    for window in found.stdout.decode().split():
        name = subprocess.run(["xdotool", "getwindowname", window], stdout=subprocess.PIPE,
                              stderr=subprocess.DEVNULL, timeout=30).stdout.decode().strip()
        windows.append((window, name))
    return windows


def question_boxes(pid):
    """The player's question boxes: titled with the application's name alone,
    where the main window's title carries the unsaved-changes mark."""
    return [window for window, name in visible_windows(pid) if name == "Tessarin ORVEL"]


def wait_until(seconds, probe):
    deadline = time.time() + seconds
    while time.time() < deadline:
        result = probe()
        if result:
            return result
        time.sleep(0.1)  # another process: nothing to wait on but its windows
    return probe()


def discard_question(box):
    """Answers "Discard": the box opens on "Save"; Tab moves on, space presses."""
    subprocess.run(["xdotool", "windowfocus", "--sync", box], timeout=30)
    subprocess.run(["xdotool", "key", "Tab", "space"], timeout=30)


def read_reply_within(client, seconds):
    """The next reply as JSON, or None when none comes within the time."""
    client.sock.settimeout(seconds)
    try:
        return json.loads(client.read_reply()[1].decode("latin-1"))
    except socket.timeout:
        return None
    finally:
        client.sock.settimeout(TIMEOUT)


def check_guards(executable, media_dir):
    """Imports that cannot open keep the project, the port answers while the
    player asks about unsaved work, patterns with frames import, and invalid
    arguments fail. One player with unsaved work (a clip, then a range)."""
    if not os.environ.get("DISPLAY") or not shutil.which("xdotool"):
        check(False, "an X server and xdotool for the question checks")
        return
    player = Player(executable)
    work = tempfile.mkdtemp(prefix="tessarin-client-api-media.")
    try:
        clip = os.path.join(media_dir, "h264_cfr25.mp4")
        client = player.client()
        client.command({"cmd": "initialize", "api_version": "1.0.0"})
        check_equal(client.command({"cmd": "import_file", "file_path": clip}).get("success"), True,
                    "a clip imported into the new project")
        range_5_20 = {"end_frame": 20, "msg": "", "start_frame": 5, "success": True}
        check_equal(client.command({"cmd": "set_range", "start_frame": 5, "end_frame": 20}), range_5_20,
                    "a range set: the project has unsaved changes")
        client.command({"cmd": "set_frame", "frame": 7})
        check_equal(frame_once_shown(client, 7), 7, "the frame set is shown")

        # Invalid arguments: a failure naming the argument, nothing moved.
        bad_frame = {"cmd": "set_frame", "msg": "Invalid argument (frame)", "success": False}
        check_equal(client.command({"cmd": "set_frame", "frame": "abc"}), bad_frame, "set_frame with frame abc")
        check_equal(client.command({"cmd": "set_frame"}), bad_frame, "set_frame without a frame")
        check_equal(client.command({"cmd": "set_range", "start_frame": 30, "end_frame": 10}),
                    {"cmd": "set_range", "msg": "Invalid argument (start_frame after end_frame)", "success": False},
                    "set_range with the start after the end")
        check_equal(read_frame(client), 7, "the frame stays after invalid arguments")
        check_equal(client.command({"cmd": "get_range"}), range_5_20, "the range stays after invalid arguments")

        # Files that cannot be opened fail at once, before anything is given up.
        # The same random bytes every run: about one draw in a hundred reads
        # as a raw H.263 stream with a picture in it, which opens.
        garbage = os.path.join(work, "garbage.mp4")
        with open(garbage, "wb") as out:
            out.write(random.Random(0).randbytes(256 * 1024))
        pagemap = os.path.join(work, "pagemap.mp4")
        os.symlink("/proc/self/pagemap", pagemap)
        for path, what in ((garbage, "random bytes"), (pagemap, "a link to /proc/self/pagemap")):
            client.send_raw(frame(json.dumps({"cmd": "import_file", "file_path": path})))
            reply = read_reply_within(client, 15)
            if reply is None:
                # The old way: it asks to discard the work for nothing.
                boxes = wait_until(10, lambda: question_boxes(player.process.pid))
                if boxes:
                    discard_question(boxes[0])
                reply = read_reply_within(client, 15)
            check(reply is not None and reply.get("success") is False and
                  reply.get("msg", "").startswith("Failed to create source for file (%s): " % path),
                  "import of %s fails at once, saying why (%r)" % (what, reply))
            check_equal(client.command({"cmd": "get_range"}), range_5_20,
                        "the project stays after the import of " + what)
        check(any(name.endswith("*") for _, name in visible_windows(player.process.pid)),
              "the window still shows unsaved changes")

        # What the port did is not the user's work: an edit of the user (a
        # bookmark set by key) is, and an import over it asks.
        window = main_window(player.process.pid)
        check(window is not None, "the main window is found")
        if window:
            subprocess.run(["xdotool", "windowfocus", "--sync", window], timeout=30)
            subprocess.run(["xdotool", "key", "f"], timeout=30)
        # An import over unsaved work asks; meanwhile the port answers.
        client.send_raw(frame(json.dumps({"cmd": "import_file", "file_path": clip})))
        boxes = wait_until(30, lambda: question_boxes(player.process.pid))
        check_equal(len(boxes), 1, "an import over unsaved work asks first")
        client.send_raw(frame('{"cmd":"echo","text":"abc"}'))
        check_equal(read_reply_within(client, 10), {"msg": "", "result": "abc", "success": True},
                    "echo answered while the question is open")
        busy = {"msg": "A question is open in the player", "success": False}
        for request in ({"cmd": "set_frame", "frame": 3}, {"cmd": "import_file", "file_path": clip},
                        {"cmd": "import_file", "file_path": clip}):
            client.send_raw(frame(json.dumps(request)))
            reply = read_reply_within(client, 10)
            check_equal(reply, dict(busy, cmd=request["cmd"]), "%s refused while the question is open" % request["cmd"])
        check_equal(len(question_boxes(player.process.pid)), 1, "imports sent during the question raise no other question")

        # Another tool connects: the asking client is let go, its import
        # dropped and its question closed; the new client is answered.
        other = player.client()
        check_equal(other.command({"cmd": "get_range"}), range_5_20, "another client answered during the question")
        client.close()
        check(wait_until(30, lambda: not question_boxes(player.process.pid)),
              "the question closes when the client that asked has gone")
        boxes = question_boxes(player.process.pid)
        if boxes:
            discard_question(boxes[0])
        check(wait_until(30, lambda: not question_boxes(player.process.pid)), "the question is answered")
        check_equal(other.command({"cmd": "get_range"}), range_5_20,
                    "the import of a client that has gone is dropped after Discard")
        check_equal(read_frame(other), 7, "the frame stays when the import is dropped")
        other.close()
    except Exception as error:
        traceback.print_exc()
        check(False, "guard checks ran to the end (%s: %s)" % (type(error).__name__, error))
    finally:
        log = player.stop()
        shutil.rmtree(work, ignore_errors=True)
    check("Client import dropped, the client that asked for it has gone: %s" % clip in log,
          "the log says the import of the client that went was dropped")
    if failures:
        print("player log of the guard checks:\n" + log)


def main_window(pid):
    """The player's main window: the one not titled with the application's name alone."""
    windows = [window for window, name in visible_windows(pid) if name != "Tessarin ORVEL"]
    return windows[0] if windows else None


def zero_mdat(source, target):
    """A copy of an MP4 whose media data is all zeros, its header intact."""
    with open(source, "rb") as data:
        movie = bytearray(data.read())
    offset = 0
    zeroed = False
    while offset + 8 <= len(movie):
        size = int.from_bytes(movie[offset:offset + 4], "big")
        kind = bytes(movie[offset + 4:offset + 8])
        header = 8
        if size == 1:
            size = int.from_bytes(movie[offset + 8:offset + 16], "big")
            header = 16
        elif size == 0:
            size = len(movie) - offset
        if kind == b"mdat":
            movie[offset + header:offset + size] = bytes(size - header)
            zeroed = True
        offset += size
    with open(target, "wb") as out:
        out.write(movie)
    return zeroed


def check_port_imports(executable, media_dir):
    """From a clean start, imports in a row are answered without a question:
    what the port did is not the user's work. A file that opens but never
    decodes leaves the loaded clip in place, and the reply says why."""
    if not os.environ.get("DISPLAY") or not shutil.which("xdotool"):
        check(False, "an X server and xdotool for the port import checks")
        return
    player = Player(executable)
    work = tempfile.mkdtemp(prefix="tessarin-client-api-media.")
    log = ""
    zeroed = os.path.join(work, "zeroed_mdat.mp4")
    try:
        clip = os.path.join(media_dir, "h264_cfr25.mp4")
        other = os.path.join(media_dir, "h264_gop250.mp4")  # 12 s at 23.976 fps
        client = player.client()
        client.command({"cmd": "initialize", "api_version": "1.0.0"})
        for count, path in enumerate((clip, other, clip), 1):
            client.send_raw(frame(json.dumps({"cmd": "import_file", "file_path": path})))
            reply = read_reply_within(client, 30)
            if reply is None:
                # The old way: the port's own changes ask about unsaved work.
                boxes = wait_until(10, lambda: question_boxes(player.process.pid))
                check(not boxes, "import %d from a clean start raises no question" % count)
                if boxes:
                    discard_question(boxes[0])
                reply = read_reply_within(client, 30)
            check_equal((reply or {}).get("success"), True, "import %d from a clean start answered" % count)
            # The port's own changes: a range and a frame.
            client.command({"cmd": "set_range", "start_frame": 5, "end_frame": 20})
            client.command({"cmd": "set_frame", "frame": 7})
        check(not question_boxes(player.process.pid), "no question is open after the imports")
        check_equal(frame_once_shown(client, 7), 7, "the frame the port set is shown")
        check(wait_until(10, lambda: any(name.endswith("*") for _, name in visible_windows(player.process.pid))),
              "the title marks what the port changed as unsaved")

        # A file that opens (its header is intact) but whose pictures never
        # decode: refused, the loaded clip stays.
        check(zero_mdat(clip, zeroed), "an MP4 with its media data zeroed is made")
        range_5_20 = {"end_frame": 20, "msg": "", "start_frame": 5, "success": True}
        check_equal(client.command({"cmd": "get_range"}), range_5_20, "the range before the zeroed import")
        client.send_raw(frame(json.dumps({"cmd": "import_file", "file_path": zeroed})))
        reply = read_reply_within(client, 60)
        boxes = [] if reply else question_boxes(player.process.pid)
        check(not boxes, "the zeroed import raises no question")
        if boxes:
            # The old way asks first; Discard lets the import go on.
            discard_question(boxes[0])
            reply = read_reply_within(client, 60)
        check_equal(reply, {"cmd": "import_file",
                            "msg": "Failed to create source for file (%s): no picture or sound could be decoded"
                                   % zeroed,
                            "success": False}, "the import of a zeroed MP4 fails and says why")
        check_equal(client.command({"cmd": "get_range"}), range_5_20, "the loaded clip's range stays")
        check_equal(read_frame(client), 7, "the loaded clip's frame stays")

        # With sound whose data is zeroed too: the sound's header alone is no
        # sound.
        zeroed_av = os.path.join(work, "zeroed_av.mp4")
        check(zero_mdat(other, zeroed_av), "an MP4 with sound, its media data zeroed, is made")
        client.send_raw(frame(json.dumps({"cmd": "import_file", "file_path": zeroed_av})))
        reply = read_reply_within(client, 60)
        boxes = [] if reply else question_boxes(player.process.pid)
        check(not boxes, "the zeroed import with sound raises no question")
        if boxes:
            discard_question(boxes[0])
            reply = read_reply_within(client, 60)
        check_equal(reply, {"cmd": "import_file",
                            "msg": "Failed to create source for file (%s): no picture or sound could be decoded"
                                   % zeroed_av,
                            "success": False}, "the import of a zeroed MP4 with sound fails and says why")
        check_equal(client.command({"cmd": "get_range"}), range_5_20, "the range stays after the zeroed sound")
        check_equal(read_frame(client), 7, "the frame stays after the zeroed sound")
        client.close()
    except Exception as error:
        traceback.print_exc()
        check(False, "port import checks ran to the end (%s: %s)" % (type(error).__name__, error))
    finally:
        log = player.stop()
        shutil.rmtree(work, ignore_errors=True)
    check("Client import refused: %s: no picture or sound could be decoded" % zeroed in log,
          "the log says why the zeroed MP4 was refused")
    check("No picture could be decoded from video stream (0, h264): zeroed_mdat.mp4" in log,
          "the log says the zeroed MP4's picture never decoded")
    libraries = [line for line in log.splitlines() if " @ 0x" in line]
    check(not libraries, "the libraries' own lines stay off the terminal (%d, first %r)"
          % (len(libraries), libraries[:1]))
    if failures:
        print("player log of the port import checks:\n" + log)


def check_lists(executable, media_dir):
    """Files named as movies that hold a concat list or a playlist are refused
    without opening what they name: a FIFO that would block the open for ever,
    a URL on a listener here. The player still quits on SIGTERM."""
    player = Player(executable)
    work = tempfile.mkdtemp(prefix="tessarin-client-api-lists.")
    listener = socket.socket(socket.AF_INET, socket.SOCK_STREAM)
    try:
        fifo = os.path.join(work, "fifo.mp4")
        os.mkfifo(fifo)
        listener.bind(("127.0.0.1", 0))
        listener.listen(4)
        concat = os.path.join(work, "concat.mp4")
        with open(concat, "w") as out:
            out.write("ffconcat version 1.0\nfile 'fifo.mp4'\n")  # a relative name: the demuxer's safe mode allows it
        playlist = os.path.join(work, "playlist.mp4")
        with open(playlist, "w") as out:
            out.write("#EXTM3U\n#EXT-X-TARGETDURATION:1\n#EXTINF:1,\nhttp://127.0.0.1:%d/seg.ts\n#EXT-X-ENDLIST\n"
                      % listener.getsockname()[1])
        client = player.client()
        client.command({"cmd": "initialize", "api_version": "1.0.0"})
        # The playlist first: a FIFO that blocks the player would hide its fault.
        for path, what in ((playlist, "a playlist naming a URL"), (concat, "a concat list naming a FIFO")):
            client.send_raw(frame(json.dumps({"cmd": "import_file", "file_path": path})))
            reply = read_reply_within(client, 60)
            check(reply is not None and reply.get("success") is False and
                  reply.get("msg", "").startswith("Failed to create source for file (%s): " % path),
                  "the import of %s is refused (%r)" % (what, reply))
        # The playlist's open is over once it is answered: a request it made
        # would be waiting on the listener by now.
        listener.settimeout(0)
        try:
            listener.accept()[0].close()
            requested = True
        except (BlockingIOError, socket.timeout):
            requested = False
        check(not requested, "no request reaches the URL a playlist names")
        check(echo_works(player, "the list imports"), "the player answers after the list imports")
        client.close()
    except Exception as error:
        traceback.print_exc()
        check(False, "list checks ran to the end (%s: %s)" % (type(error).__name__, error))
    finally:
        listener.close()
        log = player.stop()
        shutil.rmtree(work, ignore_errors=True)
    check_equal(player.returncode, 0, "the player quits on SIGTERM after the list imports")
    if failures:
        print("player log of the list checks:\n" + log)


def check_patterns(executable, media_dir):
    """An image sequence pattern with a frame range imports like in a project
    file; one whose files do not exist fails at once."""
    player = Player(executable)
    try:
        client = player.client()
        client.command({"cmd": "initialize", "api_version": "1.0.0"})
        missing = os.path.join(media_dir, "seq_png", "img.####.png 5001-5010")
        check_equal(client.command({"cmd": "import_file", "file_path": missing}),
                    {"cmd": "import_file", "msg": "Failed to create source for file (%s): file not found" % missing,
                     "success": False}, "a pattern whose frames have no files fails")
        pattern = os.path.join(media_dir, "seq_png", "img.####.png 3-12")
        reply = client.command({"cmd": "import_file", "file_path": pattern})
        check_equal((reply.get("success"), reply.get("msg")), (True, ""), "a pattern with frames 3-12 imports")
        check_equal(client.command({"cmd": "get_range"}),
                    {"end_frame": 10, "msg": "", "start_frame": 1, "success": True},
                    "the pattern's ten frames make the range")
        client.close()
    except Exception as error:
        traceback.print_exc()
        check(False, "pattern checks ran to the end (%s: %s)" % (type(error).__name__, error))
    finally:
        player.stop()


def main():
    if len(sys.argv) != 3:
        print(__doc__)
        return 2
    executable, media_dir = os.path.abspath(sys.argv[1]), os.path.abspath(sys.argv[2])
    player = Player(executable)
    try:
        check_replies(player, media_dir)
        check_import(player, media_dir)
        check_hostile(player)
    except Exception as error:  # a broken connection or a malformed reply
        traceback.print_exc()
        check(False, "client ran to the end (%s: %s)" % (type(error).__name__, error))
    finally:
        log = player.stop()
    check_patterns(executable, media_dir)
    check_lists(executable, media_dir)
    check_port_imports(executable, media_dir)
    check_guards(executable, media_dir)
    check_equal(player.returncode, 0, "the player quits cleanly on SIGTERM")
    if failures:
        print("%d check(s) failed; player log:\n%s" % (len(failures), log))
        return 1
    print("all checks passed")
    return 0


if __name__ == "__main__":
    sys.exit(main())
