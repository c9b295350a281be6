#!/usr/bin/env python3
"""Draws the player's plain-shape icons as 32 x 32 RGBA PNG files into icons/.

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


def inside_polygon(x, y, poly):
    result = False
    j = len(poly) - 1
    for i in range(len(poly)):
        xi, yi = poly[i]
        xj, yj = poly[j]
        if (yi > y) != (yj > y) and x < (xj - xi) * (y - yi) / (yj - yi) + xi:
            result = not result
        j = i
    return result


def draw(shapes):
    """shapes: list of predicates (x, y) -> bool over pixel centres."""
    pixels = []
    for py in range(SIZE):
        row = []
        for px in range(SIZE):
            # 4 x 4 supersampling for soft edges
            hits = 0
            for sy in range(4):
                for sx in range(4):
                    x = px + (sx + 0.5) / 4
                    y = py + (sy + 0.5) / 4
                    if any(s(x, y) for s in shapes):
                        hits += 1
            a = hits * 255 // 16
            row.append((FG[0], FG[1], FG[2], a) if a else (0, 0, 0, 0))
        pixels.append(row)
    return pixels


def poly(*pts):
    return lambda x, y: inside_polygon(x, y, pts)


def rect(x0, y0, x1, y1):
    return lambda x, y: x0 <= x <= x1 and y0 <= y <= y1


def ring(cx, cy, r0, r1, a0=0, a1=360):
    def f(x, y):
        d = math.hypot(x - cx, y - cy)
        if not r0 <= d <= r1:
            return False
        a = math.degrees(math.atan2(cy - y, x - cx)) % 360
        return a0 <= a <= a1 if a0 <= a1 else (a >= a0 or a <= a1)
    return f


def disc(cx, cy, r):
    return lambda x, y: math.hypot(x - cx, y - cy) <= r


ICONS = {
    "play": [poly((8, 4), (28, 16), (8, 28))],
    "pause": [rect(8, 5, 13, 27), rect(19, 5, 24, 27)],
    "next_frame": [poly((6, 6), (22, 16), (6, 26)), rect(23, 6, 27, 26)],
    "next_bookmark": [poly((4, 6), (18, 16), (4, 26)), rect(20, 4, 23, 28), poly((20, 4), (29, 8), (20, 12))],
    "seek_end": [poly((3, 6), (14, 16), (3, 26)), poly((14, 6), (25, 16), (14, 26)), rect(25, 6, 29, 26)],
    "range_start_to_current": [rect(4, 4, 7, 28), poly((26, 10), (12, 16), (26, 22)), rect(8, 15, 14, 17)],
    "fullscreen": [poly((3, 3), (13, 3), (3, 13)), poly((29, 3), (19, 3), (29, 13)),
                   poly((3, 29), (13, 29), (3, 19)), poly((29, 29), (19, 29), (29, 19))],
    "exit_fullscreen": [poly((13, 13), (3, 13), (13, 3)), poly((19, 13), (29, 13), (19, 3)),
                        poly((13, 19), (3, 19), (13, 29)), poly((19, 19), (29, 19), (19, 29))],
    "unmuted": [rect(3, 11, 9, 21), poly((9, 11), (17, 4), (17, 28), (9, 21)), ring(17, 16, 6, 8.5, 300, 60),
                ring(17, 16, 11, 13.5, 300, 60)],
    "muted": [rect(3, 11, 9, 21), poly((9, 11), (17, 4), (17, 28), (9, 21)),
              poly((20, 11), (22, 9), (30, 21), (28, 23)), poly((20, 21), (28, 9), (30, 11), (22, 23))],
    "loop_off": [rect(3, 14, 24, 18), poly((22, 8), (30, 16), (22, 24))],
    "loop_on": [ring(16, 16, 9, 12.5, 100, 50), poly((24, 4), (30, 14), (19, 14))],
    "loop_pingpong": [rect(8, 14, 24, 18), poly((10, 8), (2, 16), (10, 24)), poly((22, 8), (30, 16), (22, 24))],
    "playback_speed": [ring(16, 18, 10, 13, 0, 180), poly((15, 19), (17, 19), (24, 8), (22, 7)), disc(16, 19, 2.5)],
    "resize": [rect(3, 3, 29, 5), rect(3, 27, 29, 29), rect(3, 3, 5, 29), rect(27, 3, 29, 29),
               poly((10, 10), (20, 10), (10, 20)), poly((22, 22), (12, 22), (22, 12))],
    "sidebar": [rect(3, 4, 29, 6), rect(3, 26, 29, 28), rect(3, 4, 5, 28), rect(27, 4, 29, 28), rect(3, 4, 12, 28)],
    "annotation_tools": [poly((22, 3), (29, 10), (12, 27), (5, 27), (5, 20))],
    "viewer_controls": [rect(3, 6, 29, 8), rect(3, 15, 29, 17), rect(3, 24, 29, 26), disc(10, 7, 3.5),
                        disc(22, 16, 3.5), disc(14, 25, 3.5)],
    "time_control_global": [rect(2, 14, 30, 18), rect(15, 6, 17, 26)],
    "time_control_range": [rect(2, 14, 30, 18), rect(7, 8, 9, 24), rect(23, 8, 25, 24)],
    "media_info": [ring(16, 16, 11, 13.5), disc(16, 10, 2), rect(14.5, 14, 17.5, 23)],
    "dropdown": [poly((6, 12), (26, 12), (16, 22))],
}

if __name__ == "__main__":
    folder = os.path.join(os.path.dirname(os.path.abspath(__file__)), "icons")
    os.makedirs(folder, exist_ok=True)
    for name, shapes in ICONS.items():
        png(os.path.join(folder, name + ".png"), draw(shapes))
    with open(os.path.join(os.path.dirname(folder), "widget_icons.qrc"), "w") as f:
        f.write("<!DOCTYPE RCC>\n<RCC version=\"1.0\">\n  <qresource prefix=\"/icons\">\n")
        for name in sorted(ICONS):
            f.write(f"    <file alias=\"{name}.png\">icons/{name}.png</file>\n")
        f.write("  </qresource>\n</RCC>\n")
