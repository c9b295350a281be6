#!/usr/bin/env python3
"""The picture in the window is the frame the player names, in looped play.

Starts the real player (software viewer) on an X server of its own with a
long-GOP clip with sound whose pictures carry their frame number, loops a
range that starts deep in a GOP and, parked far from it, plays it at once
from inside at 4x, all on one core, so that the pictures fall behind the
sound. Reads the window from x11grab
screenshots of the X server and the frame from the command port:
- while playing, once the range's pictures came, no picture outside it is shown;
- paused, the first picture read is the frame the player reports;
- a step then shows the next frame's picture;
- paused, after a seek deep into a GOP the cache lacks, the frame reported
  is the picture on screen until the sought picture is there, then that one.

    picture_number.py [--sanitized] PLAYER MEDIA_DIR ARTEFACT_DIR
"""

import os
import shutil
import signal
import sys
import time
import traceback

sys.dont_write_bytecode = True  # nothing written into the source tree
sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
import end_to_end as e2e  # noqa: E402  (the X server, the player and the screenshots)

CLIP = ("numbered_gop240_av_1440.mp4", 288)  # pictures 0 to 287: the player's frames 1 to 288
RANGE = (101, 150)  # pictures; the key pictures are 0 and 240
START = 130
PARK = 260
SOUGHT = 230  # deep in the first GOP: decoded from picture 0
ROUNDS = 3


def read_number(player, attempts=20):
    """The number of the picture on screen; a screenshot caught mid-paint is taken again."""
    for _ in range(attempts):
        number = e2e.shown_number(player.screenshot())
        if number is not None:
            return number
    return None


def play_round(player, round_index):
    first, last = RANGE
    # Parked far after the range, whose pictures the cache then lacks; then
    # play at once from inside the range, not waiting for its pictures to be
    # decoded, and pause soon after the wrap.
    player.ask({"cmd": "set_frame", "frame": PARK + 1})
    player.wait_for_picture(PARK, "round %d, parked after the range" % round_index, before=None)
    player.ask({"cmd": "set_frame", "frame": START + 1})
    player.ask({"cmd": "set_playing", "playing": True})
    seen = []

    def wrapped():
        number = e2e.shown_number(player.screenshot())
        # The parked picture stays until the first of the range replaces it.
        if number is not None and (seen or first <= number <= last):
            seen.append(number)
        frame = player.frame()
        return frame is not None and frame - 1 < START

    e2e.wait_for(20, wrapped, 0.02)
    player.ask({"cmd": "set_playing", "playing": False})
    number = read_number(player)
    frame = player.frame()
    e2e.check(number is not None and frame is not None and number == frame - 1,
              "round %d: paused, the picture is the frame reported (picture %s, frame %s)"
              % (round_index, number, None if frame is None else frame - 1))
    outside = [n for n in seen if not first <= n <= last]
    e2e.check(not outside, "round %d: only pictures of the range shown while playing (read %s)"
              % (round_index, seen))
    if frame is None or number is None:
        return
    # A step at the end of a looped range goes round to its start.
    picture = number + 1 if number < last else first
    player.press("Right")
    player.wait_for_frame(picture + 1, "round %d, stepped" % round_index)
    player.wait_for_picture(picture, "round %d, stepped" % round_index, before=(number,))


def seek_check(player):
    """Paused after a seek the cache lacks: the frame reported is the picture on screen, then the sought one."""
    player.ask({"cmd": "set_frame", "frame": PARK + 1})
    player.wait_for_picture(PARK, "parked for a seek", before=None)
    player.ask({"cmd": "set_frame", "frame": SOUGHT + 1})
    samples = []

    def arrived():
        # A picture read between two answers that agree is the frame they
        # name; the window's repaint may trail an answer by a moment, so
        # only two such disagreements in a row count.
        before = player.frame()
        number = e2e.shown_number(player.screenshot())
        after = player.frame()
        if number is None or before is None or after is None:
            return False
        samples.append((number, before - 1, after - 1))
        return number == SOUGHT and after - 1 == SOUGHT

    came = e2e.wait_for(30, arrived, 0.02)
    e2e.check(came, "sought: picture and frame %d came (read %s)" % (SOUGHT, samples[-3:]))
    apart = [s for s in samples if s[1] == s[2] and s[0] != s[1]]
    twice = any(a[1] == a[2] and a[0] != a[1] and b[1] == b[2] and b[0] != b[1]
                for a, b in zip(samples, samples[1:]))
    e2e.check(not twice, "sought: until its picture came, the frame reported was the picture shown "
              "(picture, frame: %s)" % [(n, f) for n, f, _ in apart])


def audio_server():
    """The sound server the tests' own set-up started, as a PULSE_SERVER
    value, or None: the player's HOME and runtime folder are its own."""
    try:
        result = e2e.run("pactl", "info", timeout=10)
    except (OSError, e2e.subprocess.TimeoutExpired):
        return None
    for line in result.stdout.decode(errors="replace").splitlines():
        if line.startswith("Server String: "):
            server = line.split(": ", 1)[1].strip()
            return server if server.startswith("/") or ":" in server else None
    return None


def main():
    arguments = sys.argv[1:]
    if arguments[:1] == ["--sanitized"]:
        e2e.wait_scale = 4
        arguments = arguments[1:]
    if len(arguments) != 3:
        print(__doc__)
        return 2
    executable, media_dir, artefacts = (os.path.abspath(a) for a in arguments)
    for tool in ("Xvfb", "xdotool", "ffmpeg"):
        if not shutil.which(tool):
            print("FAIL: %s is missing (scripts/setup.sh installs it)" % tool)
            return 1
    shutil.rmtree(artefacts, ignore_errors=True)
    os.makedirs(artefacts)
    e2e.client_api.TIMEOUT = 20.0 * e2e.wait_scale
    signal.signal(signal.SIGTERM, lambda *_: sys.exit(1))
    # The X server, the player and the screenshots share one core: the
    # player's decoding at 4x falls behind the sound.
    os.sched_setaffinity(0, {min(os.sched_getaffinity(0))})
    session = e2e.Session(executable, media_dir, artefacts)
    player = None
    try:
        session.port = e2e.client_api.free_port(e2e.client_api.END_TO_END_PORTS)
        settings = "[main]\nversion=1\n"
        for key, value in (("clientApiPort", session.port), ("clientApiPortEnabled", "true"),
                           ("hardwareRenderingEnabled", "false"), ("loopState", 1),
                           ("playbackSpeedIncrementSize", "3")):
            settings = e2e.set_preference(settings, key, value)
        with open(session.settings, "w") as f:
            f.write(settings)
        server = audio_server()
        if server:
            session.env["PULSE_SERVER"] = server if ":" in server else "unix:" + server
        player = e2e.Player(session, executable, session.clip(CLIP), "software")
        if (e2e.check(e2e.wait_for(60, player.connect, 0.2) is not None, "the player listens on its port")
                and e2e.check(e2e.wait_for(60, player.find_window, 0.2) is not None, "the window is shown")):
            e2e.check(e2e.wait_for(60, lambda: player.range() == (1, CLIP[1])), "the clip is open (range %s)"
                      % (player.range(),))
            player.wait_for_picture(0, "opened", seconds=60)
            player.ask({"cmd": "set_range", "start_frame": RANGE[0] + 1, "end_frame": RANGE[1] + 1})
            e2e.check(e2e.wait_for(10, lambda: player.range() == (RANGE[0] + 1, RANGE[1] + 1)),
                      "the range is set (range %s)" % (player.range(),))
            seek_check(player)
            player.press("plus")  # 1x + 3: 4x
            for round_index in range(ROUNDS):
                play_round(player, round_index)
    except Exception as error:  # a broken tool call or reply: the player's log tells more
        traceback.print_exc()
        e2e.check(False, "the run went to its end (%s: %s)" % (type(error).__name__, error))
    finally:
        if player:
            player.process.send_signal(signal.SIGTERM)
            try:
                player.process.wait(60 * e2e.wait_scale)
            except Exception:
                player.process.kill()
            if e2e.failures:
                print("== player log\n%s" % player.log_text())
        session.close()
    if e2e.failures:
        print("%d check(s) failed" % len(e2e.failures))
        return 1
    print("all picture-number checks passed")
    return 0


if __name__ == "__main__":
    sys.exit(main())
