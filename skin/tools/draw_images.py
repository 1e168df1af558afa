#!/usr/bin/env python3
"""Draws the title-bar images of the skin into skin/default/.

Every button image is a horizontal strip of three equal states: normal, hot (mouse over) and
pushed. The glyphs are flat white strokes meant for the #6c9df7 title bar; the states differ only
in the tint behind the glyph. Only the Python standard library is used, so the images can be
redrawn anywhere: python3 skin/tools/draw_images.py
"""

import math
import os
import struct
import zlib

SUPERSAMPLE = 4  # samples per pixel edge, for anti-aliased strokes

WHITE = (255, 255, 255)
CLEAR = (0, 0, 0, 0)
HOT_TINT = (255, 255, 255, 46)      # a light veil over the blue bar
PUSHED_TINT = (0, 0, 0, 46)         # a dark veil: the button looks pressed in
CLOSE_HOT = (232, 17, 35, 255)      # close turns red, as people expect of a close button
CLOSE_PUSHED = (166, 12, 25, 255)


def write_png(path, width, height, pixels):
    """pixels: list of rows, each a list of (r, g, b, a) tuples."""
    raw = bytearray()
    for row in pixels:
        raw.append(0)  # filter type None
        for r, g, b, a in row:
            raw += bytes((r, g, b, a))

    def chunk(kind, data):
        body = kind + data
        return struct.pack(">I", len(data)) + body + struct.pack(">I", zlib.crc32(body) & 0xFFFFFFFF)

    png = b"\x89PNG\r\n\x1a\n"
    png += chunk(b"IHDR", struct.pack(">IIBBBBB", width, height, 8, 6, 0, 0, 0))
    png += chunk(b"IDAT", zlib.compress(bytes(raw), 9))
    png += chunk(b"IEND", b"")
    with open(path, "wb") as f:
        f.write(png)


def over(dst, src):
    """Source-over compositing of two straight-alpha RGBA colours."""
    sa = src[3] / 255.0
    da = dst[3] / 255.0
    oa = sa + da * (1 - sa)
    if oa <= 0:
        return CLEAR
    out = []
    for i in range(3):
        c = (src[i] * sa + dst[i] * da * (1 - sa)) / oa
        out.append(int(round(c)))
    out.append(int(round(oa * 255)))
    return tuple(out)


def segment_distance(px, py, seg):
    (x0, y0), (x1, y1) = seg
    dx, dy = x1 - x0, y1 - y0
    length2 = dx * dx + dy * dy
    t = 0.0 if length2 == 0 else max(0.0, min(1.0, ((px - x0) * dx + (py - y0) * dy) / length2))
    cx, cy = x0 + t * dx, y0 + t * dy
    return math.hypot(px - cx, py - cy)


def coverage(x, y, segments, half_width):
    """Fraction of the pixel (x, y) covered by the stroked segments (square-ish caps)."""
    hits = 0
    for sy in range(SUPERSAMPLE):
        for sx in range(SUPERSAMPLE):
            px = x + (sx + 0.5) / SUPERSAMPLE
            py = y + (sy + 0.5) / SUPERSAMPLE
            if any(segment_distance(px, py, s) <= half_width for s in segments):
                hits += 1
    return hits / float(SUPERSAMPLE * SUPERSAMPLE)


def rounded_rect_coverage(x, y, left, top, right, bottom, radius):
    hits = 0
    for sy in range(SUPERSAMPLE):
        for sx in range(SUPERSAMPLE):
            px = x + (sx + 0.5) / SUPERSAMPLE
            py = y + (sy + 0.5) / SUPERSAMPLE
            if not (left <= px <= right and top <= py <= bottom):
                continue
            cx = min(max(px, left + radius), right - radius)
            cy = min(max(py, top + radius), bottom - radius)
            if math.hypot(px - cx, py - cy) <= radius:
                hits += 1
    return hits / float(SUPERSAMPLE * SUPERSAMPLE)


def rect_outline(left, top, right, bottom):
    return [((left, top), (right, top)), ((right, top), (right, bottom)),
            ((right, bottom), (left, bottom)), ((left, bottom), (left, top))]


def draw_strip(path, cell_w, cell_h, backgrounds, segments, half_width=0.6, glyph=WHITE,
               radius=0.0):
    """One strip of len(backgrounds) cells; every cell gets its background then the glyph."""
    width = cell_w * len(backgrounds)
    rows = []
    for y in range(cell_h):
        row = []
        for x in range(width):
            state = x // cell_w
            lx = x - state * cell_w
            px = backgrounds[state]
            if radius > 0 and px[3] > 0:
                cov = rounded_rect_coverage(lx, y, 0.5, 0.5, cell_w - 0.5, cell_h - 0.5, radius)
                px = (px[0], px[1], px[2], int(round(px[3] * cov)))
            cov = coverage(lx, y, segments, half_width) if segments else 0.0
            if cov > 0:
                px = over(px, glyph + (int(round(255 * cov)),))
            row.append(px)
        rows.append(row)
    write_png(path, width, cell_h, rows)


def main():
    out = os.path.join(os.path.dirname(os.path.abspath(__file__)), os.pardir, "default")
    out = os.path.normpath(out)
    os.makedirs(out, exist_ok=True)
    bar_states = [CLEAR, HOT_TINT, PUSHED_TINT]

    # Glyphs sit on a 10-pixel square centred in the 30 x 30 cell.
    minimise = [((10.0, 15.5), (20.0, 15.5))]
    maximise = rect_outline(10.5, 10.5, 19.5, 19.5)
    # Restore: a front window and the corner of the one behind it.
    restore = rect_outline(10.5, 12.5, 17.5, 19.5) + [
        ((12.5, 12.5), (12.5, 10.5)), ((12.5, 10.5), (19.5, 10.5)),
        ((19.5, 10.5), (19.5, 17.5)), ((19.5, 17.5), (17.5, 17.5))]
    close = [((10.5, 10.5), (19.5, 19.5)), ((19.5, 10.5), (10.5, 19.5))]

    draw_strip(os.path.join(out, "_A0_min.png"), 30, 30, bar_states, minimise)
    draw_strip(os.path.join(out, "_A0_max.png"), 30, 30, bar_states, maximise)
    draw_strip(os.path.join(out, "_A0_huanyuan.png"), 30, 30, bar_states, restore)
    draw_strip(os.path.join(out, "_A0_close.png"), 30, 30, [CLEAR, CLOSE_HOT, CLOSE_PUSHED],
               close, half_width=0.7)

    # A general push button: a flat rounded face in the bar's blue, lighter when hot and
    # darker when pushed; text is drawn over it by the control.
    draw_strip(os.path.join(out, "_A0_button.png"), 80, 30,
               [(108, 157, 247, 255), (137, 179, 250, 255), (76, 126, 222, 255)], [],
               radius=3.0)
    # The small close cross of a navigation tab, 16 x 16 per state.
    draw_strip(os.path.join(out, "_A0_nav_btn_close.png"), 16, 16,
               [CLEAR, (255, 255, 255, 60), CLOSE_HOT],
               [((5.0, 5.0), (11.0, 11.0)), ((11.0, 5.0), (5.0, 11.0))], half_width=0.65,
               radius=8.0)


if __name__ == "__main__":
    main()
