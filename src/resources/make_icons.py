#!/usr/bin/env python3
"""Draws the player's plain-shape icons and cursors as 32 x 32 RGBA PNG files
into icons/ and writes the resource files listing them: widget_icons.qrc (the
playback strips and the window), sidebar_icons.qrc (the side bar) and
viewer_icons.qrc (the viewer, its annotation strips and controls strip).

Two kinds of shape: soft ones in the one foreground colour, 4 x 4 supersampled
(widget and side bar icons), and flat ones in colours of their own, sampled
once at each pixel centre with later shapes on top (viewer icons and cursors).

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


# ---- Soft shapes: predicates (x, y) -> bool ----

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


# ---- Flat shapes: (predicate, colour) pairs ----

def draw_flat(shapes):
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


def flat_rect(x0, y0, x1, y1, c=FG):
    return (lambda x, y: x0 <= x < x1 and y0 <= y < y1, c)


def flat_frame(x0, y0, x1, y1, w=2, c=FG):
    return (lambda x, y: x0 <= x < x1 and y0 <= y < y1 and not (x0 + w <= x < x1 - w and y0 + w <= y < y1 - w), c)


def flat_disc(cx, cy, r, c=FG):
    return (lambda x, y: (x - cx) ** 2 + (y - cy) ** 2 <= r * r, c)


def flat_ring(cx, cy, r, w=2, c=FG):
    return (lambda x, y: (r - w) ** 2 <= (x - cx) ** 2 + (y - cy) ** 2 <= r * r, c)


def flat_line(x0, y0, x1, y1, w=2, c=FG):
    def test(x, y):
        dx, dy = x1 - x0, y1 - y0
        length2 = dx * dx + dy * dy
        t = max(0.0, min(1.0, ((x - x0) * dx + (y - y0) * dy) / length2))
        px, py = x0 + t * dx, y0 + t * dy
        return (x - px) ** 2 + (y - py) ** 2 <= (w / 2) ** 2
    return (test, c)


# ---- The icon sets ----

WIDGET_ICONS = {
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

FOLDER = [rect(3, 9, 29, 27), poly((3, 9), (3, 6), (12, 6), (15, 9))]
TIMELINE = [rect(3, 7, 29, 10), rect(3, 15, 22, 18), rect(9, 23, 29, 26)]

SIDEBAR_ICONS = {
    "project_folder": FOLDER,
    "project_folder_selected": FOLDER + [rect(2, 28, 30, 30)],
    "project_source": [rect(4, 6, 28, 9), rect(4, 23, 28, 26), rect(4, 6, 7, 26), rect(25, 6, 28, 26),
                       poly((12, 11), (21, 16), (12, 21))],
    "project_source_selected": [rect(4, 6, 28, 26)],
    "project_timeline": TIMELINE,
    "project_timeline_selected": TIMELINE + [rect(2, 28, 30, 30)],
    "view_collapsed": [poly((11, 8), (22, 16), (11, 24))],
    "view_expanded": [poly((8, 11), (24, 11), (16, 22))],
    "new_folder": FOLDER + [],
    "new_timeline": TIMELINE + [rect(24, 12, 26, 22), rect(20, 16, 30, 18)],
    "import_file": [rect(14, 3, 18, 18), poly((8, 14), (24, 14), (16, 23)), rect(4, 25, 28, 28)],
    "delete": [poly((6, 8), (8, 6), (26, 24), (24, 26)), poly((24, 6), (26, 8), (8, 26), (6, 24))],
    "move_up": [poly((6, 20), (16, 8), (26, 20))],
    "move_down": [poly((6, 12), (26, 12), (16, 24))],
    "sort_ascending": [rect(4, 6, 10, 9), rect(4, 14, 18, 17), rect(4, 22, 28, 25)],
    "sort_descending": [rect(4, 6, 28, 9), rect(4, 14, 18, 17), rect(4, 22, 10, 25)],
}

GREY = (140, 140, 140, 255)
DARK = (60, 60, 60, 255)
VIEWER_ICONS = {
    "annotation_cursor": [flat_disc(16, 16, 3), flat_ring(16, 16, 6, 1, (0, 0, 0, 255))],
    "rotate_cursor_macos": [flat_ring(16, 16, 10, 2), flat_line(22, 4, 26, 9), flat_line(26, 9, 20, 11)],
    "pencil": [flat_line(6, 26, 24, 8, 5), flat_line(5, 27, 8, 24, 2, GREY)],
    "eraser": [flat_line(8, 22, 20, 10, 8), flat_line(6, 26, 26, 26, 2, GREY)],
    "laser_pointer": [flat_disc(16, 16, 5, (255, 60, 60, 255)), flat_ring(16, 16, 10, 1)],
    "text": [flat_rect(7, 6, 25, 9), flat_rect(14, 6, 18, 26)],
    "arrow": [flat_line(6, 26, 24, 8), flat_line(24, 8, 14, 9), flat_line(24, 8, 23, 18)],
    "ellipse": [flat_ring(16, 16, 11, 2)],
    "rectangle": [flat_frame(5, 8, 27, 24)],
    "ghost": [flat_disc(16, 13, 8), flat_rect(8, 13, 24, 25), flat_disc(13, 13, 2, DARK), flat_disc(19, 13, 2, DARK)],
    "hold_frame": [flat_frame(5, 6, 27, 26), flat_rect(10, 11, 14, 21), flat_rect(18, 11, 22, 21)],
    "layer_fg": [flat_rect(10, 10, 26, 26, GREY), flat_rect(5, 5, 21, 21)],
    "layer_bg": [flat_rect(5, 5, 21, 21, GREY), flat_rect(10, 10, 26, 26)],
    "annotation_bg": [flat_frame(5, 5, 27, 27), flat_rect(9, 9, 23, 23, GREY)],
    "anno_vis_off": [flat_ring(16, 16, 9, 2), flat_line(6, 26, 26, 6)],
    "anno_vis_playback_off": [flat_ring(16, 16, 9, 2), flat_rect(12, 11, 15, 21), flat_rect(17, 11, 20, 21)],
    "anno_vis_on": [flat_ring(16, 16, 9, 2), flat_disc(16, 16, 4)],
    "eyedropper": [flat_line(8, 24, 20, 12, 4), flat_disc(23, 9, 4)],
    "undo": [flat_ring(18, 18, 9, 2), flat_line(4, 12, 10, 18), flat_line(10, 18, 16, 12)],
    "clear": [flat_line(8, 8, 24, 24, 3), flat_line(24, 8, 8, 24, 3)],
    "viewer_a_over_b": [flat_frame(4, 4, 22, 18), flat_frame(10, 14, 28, 28)],
    "viewer_horizontal": [flat_frame(3, 8, 16, 24), flat_frame(16, 8, 29, 24)],
    "viewer_vertical": [flat_frame(8, 3, 24, 16), flat_frame(8, 16, 24, 29)],
    "viewer_grid": [flat_frame(4, 4, 16, 16), flat_frame(16, 4, 28, 16), flat_frame(4, 16, 16, 28), flat_frame(16, 16, 28, 28)],
    "background_black": [flat_rect(5, 5, 27, 27, (0, 0, 0, 255)), flat_frame(5, 5, 27, 27, 1)],
    "background_medium_grey": [flat_rect(5, 5, 27, 27, (80, 80, 80, 255)), flat_frame(5, 5, 27, 27, 1)],
    "background_light_grey": [flat_rect(5, 5, 27, 27, (160, 160, 160, 255)), flat_frame(5, 5, 27, 27, 1)],
    "background_white": [flat_rect(5, 5, 27, 27, (255, 255, 255, 255)), flat_frame(5, 5, 27, 27, 1)],
    "viewer_transparency": [flat_rect(4, 4, 20, 20), flat_rect(12, 12, 28, 28, GREY)],
    "overlay_none": [flat_frame(4, 7, 28, 25)],
    "overlay_safe_area": [flat_frame(4, 7, 28, 25), flat_frame(8, 10, 24, 22, 1)],
    "overlay_grid": [flat_frame(4, 7, 28, 25), flat_rect(12, 7, 13, 25), flat_rect(20, 7, 21, 25), flat_rect(4, 13, 28, 14), flat_rect(4, 19, 28, 20)],
    "overlay_center": [flat_frame(4, 7, 28, 25), flat_rect(15, 12, 17, 20), flat_rect(12, 15, 20, 17)],
    "viewer_wipe": [flat_frame(4, 6, 28, 26), flat_rect(15, 2, 17, 30)],
}

ICON_SETS = {
    "widget_icons.qrc": (draw, WIDGET_ICONS),
    "sidebar_icons.qrc": (draw, SIDEBAR_ICONS),
    "viewer_icons.qrc": (draw_flat, VIEWER_ICONS),
}

if __name__ == "__main__":
    here = os.path.dirname(os.path.abspath(__file__))
    folder = os.path.join(here, "icons")
    os.makedirs(folder, exist_ok=True)
    names = [name for _, icons in ICON_SETS.values() for name in icons]
    assert len(names) == len(set(names)), "an icon name stands in two sets"
    for qrc, (draw_icon, icons) in ICON_SETS.items():
        for name, shapes in icons.items():
            png(os.path.join(folder, name + ".png"), draw_icon(shapes))
        with open(os.path.join(here, qrc), "w") as f:
            f.write("<!DOCTYPE RCC>\n<RCC version=\"1.0\">\n  <qresource prefix=\"/icons\">\n")
            for name in sorted(icons):
                f.write(f"    <file alias=\"{name}.png\">icons/{name}.png</file>\n")
            f.write("  </qresource>\n</RCC>\n")
