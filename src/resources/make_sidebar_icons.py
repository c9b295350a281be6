#!/usr/bin/env python3
"""Draws the side bar's plain-shape icons into icons/ and writes sidebar_icons.qrc.

Shares the drawing helpers of make_icons.py. Run once after changing a shape;
the PNG files are committed."""
import os

from make_icons import disc, draw, png, poly, rect, ring

FOLDER = [rect(3, 9, 29, 27), poly((3, 9), (3, 6), (12, 6), (15, 9))]


TIMELINE = [rect(3, 7, 29, 10), rect(3, 15, 22, 18), rect(9, 23, 29, 26)]

ICONS = {
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

if __name__ == "__main__":
    folder = os.path.join(os.path.dirname(os.path.abspath(__file__)), "icons")
    os.makedirs(folder, exist_ok=True)
    for name, shapes in ICONS.items():
        png(os.path.join(folder, name + ".png"), draw(shapes))
    with open(os.path.join(os.path.dirname(folder), "sidebar_icons.qrc"), "w") as f:
        f.write("<!DOCTYPE RCC>\n<RCC version=\"1.0\">\n  <qresource prefix=\"/icons\">\n")
        for name in ICONS:
            f.write(f"    <file alias=\"{name}.png\">icons/{name}.png</file>\n")
        f.write("  </qresource>\n</RCC>\n")
