#!/usr/bin/env python3
"""Draws the viewer's, annotation strips' and viewer controls' plain-shape
icons and cursors as 32 x 32 RGBA PNG files into icons/.

Run once after changing a shape; the PNG files are committed."""
import math
import os
import struct
import zlib

SIZE = 32
FG = (225, 225, 225, 255)


def png(path, pixels):
    raw = b"".join(b"\x00" + bytes(c for px in row for c in px) for row in pixels)

    def chunk(tag, data):
        body = tag + data
        return struct.pack(">I", len(data)) + body + struct.pack(">I", zlib.crc32(body) & 0xFFFFFFFF)

    header = struct.pack(">IIBBBBB", SIZE, SIZE, 8, 6, 0, 0, 0)
    with open(path, "wb") as f:
        f.write(b"\x89PNG\r\n\x1a\n" + chunk(b"IHDR", header) + chunk(b"IDAT", zlib.compress(raw, 9)) + chunk(b"IEND", b""))


def draw(shapes):
    """shapes: list of (predicate (x, y) -> bool, colour); later ones on top."""
    pixels = []
    for y in range(SIZE):
        row = []
        for x in range(SIZE):
            colour = (0, 0, 0, 0)
            for test, c in shapes:
                if test(x + 0.5, y + 0.5):
                    colour = c
            row.append(colour)
        pixels.append(row)
    return pixels


def rect(x0, y0, x1, y1, c=FG):
    return (lambda x, y: x0 <= x < x1 and y0 <= y < y1, c)


def frame(x0, y0, x1, y1, w=2, c=FG):
    return (lambda x, y: x0 <= x < x1 and y0 <= y < y1 and not (x0 + w <= x < x1 - w and y0 + w <= y < y1 - w), c)


def disc(cx, cy, r, c=FG):
    return (lambda x, y: (x - cx) ** 2 + (y - cy) ** 2 <= r * r, c)


def ring(cx, cy, r, w=2, c=FG):
    return (lambda x, y: (r - w) ** 2 <= (x - cx) ** 2 + (y - cy) ** 2 <= r * r, c)


def line(x0, y0, x1, y1, w=2, c=FG):
    def test(x, y):
        dx, dy = x1 - x0, y1 - y0
        length2 = dx * dx + dy * dy
        t = max(0.0, min(1.0, ((x - x0) * dx + (y - y0) * dy) / length2))
        px, py = x0 + t * dx, y0 + t * dy
        return (x - px) ** 2 + (y - py) ** 2 <= (w / 2) ** 2
    return (test, c)


GREY = (140, 140, 140, 255)
DARK = (60, 60, 60, 255)
ICONS = {
    "annotation_cursor": [disc(16, 16, 3), ring(16, 16, 6, 1, (0, 0, 0, 255))],
    "rotate_cursor_macos": [ring(16, 16, 10, 2), line(22, 4, 26, 9), line(26, 9, 20, 11)],
    "pencil": [line(6, 26, 24, 8, 5), line(5, 27, 8, 24, 2, GREY)],
    "eraser": [line(8, 22, 20, 10, 8), line(6, 26, 26, 26, 2, GREY)],
    "laser_pointer": [disc(16, 16, 5, (255, 60, 60, 255)), ring(16, 16, 10, 1)],
    "text": [rect(7, 6, 25, 9), rect(14, 6, 18, 26)],
    "arrow": [line(6, 26, 24, 8), line(24, 8, 14, 9), line(24, 8, 23, 18)],
    "ellipse": [ring(16, 16, 11, 2)],
    "rectangle": [frame(5, 8, 27, 24)],
    "ghost": [disc(16, 13, 8), rect(8, 13, 24, 25), disc(13, 13, 2, DARK), disc(19, 13, 2, DARK)],
    "hold_frame": [frame(5, 6, 27, 26), rect(10, 11, 14, 21), rect(18, 11, 22, 21)],
    "layer_fg": [rect(10, 10, 26, 26, GREY), rect(5, 5, 21, 21)],
    "layer_bg": [rect(5, 5, 21, 21, GREY), rect(10, 10, 26, 26)],
    "annotation_bg": [frame(5, 5, 27, 27), rect(9, 9, 23, 23, GREY)],
    "anno_vis_off": [ring(16, 16, 9, 2), line(6, 26, 26, 6)],
    "anno_vis_playback_off": [ring(16, 16, 9, 2), rect(12, 11, 15, 21), rect(17, 11, 20, 21)],
    "anno_vis_on": [ring(16, 16, 9, 2), disc(16, 16, 4)],
    "eyedropper": [line(8, 24, 20, 12, 4), disc(23, 9, 4)],
    "undo": [ring(18, 18, 9, 2), line(4, 12, 10, 18), line(10, 18, 16, 12)],
    "clear": [line(8, 8, 24, 24, 3), line(24, 8, 8, 24, 3)],
    "viewer_a_over_b": [frame(4, 4, 22, 18), frame(10, 14, 28, 28)],
    "viewer_horizontal": [frame(3, 8, 16, 24), frame(16, 8, 29, 24)],
    "viewer_vertical": [frame(8, 3, 24, 16), frame(8, 16, 24, 29)],
    "viewer_grid": [frame(4, 4, 16, 16), frame(16, 4, 28, 16), frame(4, 16, 16, 28), frame(16, 16, 28, 28)],
    "background_black": [rect(5, 5, 27, 27, (0, 0, 0, 255)), frame(5, 5, 27, 27, 1)],
    "background_medium_grey": [rect(5, 5, 27, 27, (80, 80, 80, 255)), frame(5, 5, 27, 27, 1)],
    "background_light_grey": [rect(5, 5, 27, 27, (160, 160, 160, 255)), frame(5, 5, 27, 27, 1)],
    "background_white": [rect(5, 5, 27, 27, (255, 255, 255, 255)), frame(5, 5, 27, 27, 1)],
    "viewer_transparency": [rect(4, 4, 20, 20), rect(12, 12, 28, 28, GREY)],
    "overlay_none": [frame(4, 7, 28, 25)],
    "overlay_safe_area": [frame(4, 7, 28, 25), frame(8, 10, 24, 22, 1)],
    "overlay_grid": [frame(4, 7, 28, 25), rect(12, 7, 13, 25), rect(20, 7, 21, 25), rect(4, 13, 28, 14), rect(4, 19, 28, 20)],
    "overlay_center": [frame(4, 7, 28, 25), rect(15, 12, 17, 20), rect(12, 15, 20, 17)],
    "viewer_wipe": [frame(4, 6, 28, 26), rect(15, 2, 17, 30)],
}

if __name__ == "__main__":
    here = os.path.dirname(os.path.abspath(__file__))
    os.makedirs(os.path.join(here, "icons"), exist_ok=True)
    for name, shapes in ICONS.items():
        png(os.path.join(here, "icons", name + ".png"), draw(shapes))
    with open(os.path.join(here, "viewer_icons.qrc"), "w") as f:
        f.write('<!DOCTYPE RCC>\n<RCC version="1.0">\n  <qresource prefix="/icons">\n')
        for name in sorted(ICONS):
            f.write('    <file alias="%s.png">icons/%s.png</file>\n' % (name, name))
        f.write("  </qresource>\n</RCC>\n")
