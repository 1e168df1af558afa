#!/usr/bin/env python3
"""Draws the application icon into packaging/linux/icons/ at the hicolor sizes.

A white identity card with a portrait and three text lines on a rounded square in the title bar's
blue: the client's face in menus, the task list and the software centre. Drawn in a 256-unit
design space and sampled at each size, with the skin's own PNG writer (standard library only):
python3 packaging/linux/draw_icon.py
"""

import math
import os
import sys

sys.path.insert(0, os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "..", "skin", "tools"))
from draw_images import over, segment_distance, write_png  # noqa: E402

SIZES = (16, 24, 32, 48, 64, 128, 256)
SAMPLES = 4

BLUE = (108, 157, 247, 255)      # the title bar's blue
DEEP = (43, 95, 199, 255)        # portrait and lines
WHITE = (255, 255, 255, 255)
CLEAR = (0, 0, 0, 0)


def in_rounded_rect(px, py, left, top, right, bottom, radius):
    if not (left <= px <= right and top <= py <= bottom):
        return False
    cx = min(max(px, left + radius), right - radius)
    cy = min(max(py, top + radius), bottom - radius)
    return math.hypot(px - cx, py - cy) <= radius


LINES = [((140, 112), (200, 112)), ((140, 138), (200, 138)), ((140, 164), (184, 164))]


def colour_at(px, py):
    """The colour of one sample point of the design space (0..256)."""
    if not in_rounded_rect(px, py, 8, 8, 248, 248, 48):
        return CLEAR
    if not in_rounded_rect(px, py, 36, 64, 220, 196, 16):
        return BLUE
    # Portrait: a head and the shoulders cut by the portrait's frame.
    if math.hypot(px - 88, py - 112) <= 20:
        return DEEP
    if 60 <= px <= 116 and 140 <= py <= 172 and math.hypot(px - 88, py - 172) <= 30:
        return DEEP
    if any(segment_distance(px, py, s) <= 7 for s in LINES):
        return DEEP
    return WHITE


def draw(size):
    scale = 256.0 / size
    rows = []
    for y in range(size):
        row = []
        for x in range(size):
            acc = [0.0, 0.0, 0.0, 0.0]
            for sy in range(SAMPLES):
                for sx in range(SAMPLES):
                    c = colour_at((x + (sx + 0.5) / SAMPLES) * scale, (y + (sy + 0.5) / SAMPLES) * scale)
                    a = c[3] / 255.0
                    acc[0] += c[0] * a
                    acc[1] += c[1] * a
                    acc[2] += c[2] * a
                    acc[3] += a
            n = SAMPLES * SAMPLES
            alpha = acc[3] / n
            if alpha <= 0:
                row.append(CLEAR)
                continue
            # Premultiplied average, back to straight alpha.
            row.append(over(CLEAR, tuple(int(round(acc[i] / acc[3])) for i in range(3)) +
                            (int(round(alpha * 255)),)))
        rows.append(row)
    return rows


def main():
    out = os.path.join(os.path.dirname(os.path.abspath(__file__)), "icons")
    os.makedirs(out, exist_ok=True)
    for size in SIZES:
        write_png(os.path.join(out, "vornclient-%d.png" % size), size, size, draw(size))


if __name__ == "__main__":
    main()
