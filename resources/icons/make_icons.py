#!/usr/bin/env python3
# SPDX-License-Identifier: GPL-3.0-or-later
"""Draws Sumpwell's two icons and writes them as .ico, .svg and .png files.

The main icon is a cistern: a tank whose upper half carries a few lines of
text and whose lower half holds water. The document-type icon is a page with
a folded corner, the same text lines and the same water at its foot.

Both pictures are lists of simple shapes in a 32 x 32 unit square. The .ico
images are point-sampled from the shapes into the classic 16-colour palette
with a one-bit transparency mask (no anti-aliasing, so every pixel is either
one palette colour or transparent). The PNGs are rendered from the same shapes
with 4 x 4 supersampling, and the SVG is the shapes written out as elements.

Standard library only. Run from anywhere; files land beside this script:

    python3 resources/icons/make_icons.py
"""

import os
import struct
import zlib

HERE = os.path.dirname(os.path.abspath(__file__))

# The 16-colour palette of the classic icon format, in index order.
PALETTE = [
    (0x00, 0x00, 0x00),  # 0 black
    (0x80, 0x00, 0x00),  # 1 maroon
    (0x00, 0x80, 0x00),  # 2 green
    (0x80, 0x80, 0x00),  # 3 olive
    (0x00, 0x00, 0x80),  # 4 navy
    (0x80, 0x00, 0x80),  # 5 purple
    (0x00, 0x80, 0x80),  # 6 teal
    (0x80, 0x80, 0x80),  # 7 grey
    (0xC0, 0xC0, 0xC0),  # 8 silver
    (0xFF, 0x00, 0x00),  # 9 red
    (0x00, 0xFF, 0x00),  # 10 lime
    (0xFF, 0xFF, 0x00),  # 11 yellow
    (0x00, 0x00, 0xFF),  # 12 blue
    (0xFF, 0x00, 0xFF),  # 13 fuchsia
    (0x00, 0xFF, 0xFF),  # 14 aqua
    (0xFF, 0xFF, 0xFF),  # 15 white
]
BLACK, TEAL, GREY, SILVER, BLUE, AQUA, WHITE = 0, 6, 7, 8, 12, 14, 15

UNITS = 32.0  # the drawings' coordinate square


# ---- Shapes ---------------------------------------------------------------------------------
# Each shape is (kind, colour, geometry...). Coordinates are in units of the 32-unit square.
# A "line" has a width in units but is never thinner than one pixel, so that text lines
# survive at 16 x 16.

def rect(colour, x0, y0, x1, y1):
    return ("rect", colour, x0, y0, x1, y1)


def ellipse(colour, cx, cy, rx, ry):
    return ("ellipse", colour, cx, cy, rx, ry)


def polygon(colour, *points):
    return ("polygon", colour, points)


def line(colour, x0, y0, x1, y1, width=1.0):
    return ("line", colour, x0, y0, x1, y1, width)


def inside(shape, x, y, px):
    """Whether the point (x, y), in units, lies in the shape; px is one pixel in units."""
    kind = shape[0]
    if kind == "rect":
        _, _, x0, y0, x1, y1 = shape
        return x0 <= x < x1 and y0 <= y < y1
    if kind == "ellipse":
        _, _, cx, cy, rx, ry = shape
        return ((x - cx) / rx) ** 2 + ((y - cy) / ry) ** 2 <= 1.0
    if kind == "polygon":
        pts = shape[2]
        hit = False
        j = len(pts) - 1
        for i in range(len(pts)):
            xi, yi = pts[i]
            xj, yj = pts[j]
            if (yi > y) != (yj > y) and x < (xj - xi) * (y - yi) / (yj - yi) + xi:
                hit = not hit
            j = i
        return hit
    if kind == "line":
        _, _, x0, y0, x1, y1, width = shape
        half = max(width, px) / 2.0
        dx, dy = x1 - x0, y1 - y0
        length2 = dx * dx + dy * dy
        t = 0.0 if length2 == 0 else max(0.0, min(1.0, ((x - x0) * dx + (y - y0) * dy) / length2))
        ex, ey = x0 + t * dx - x, y0 + t * dy - y
        # Flat ends: points beyond the segment's ends are outside.
        if length2 and (((x - x0) * dx + (y - y0) * dy) < 0 or ((x - x1) * dx + (y - y1) * dy) > 0):
            return False
        return ex * ex + ey * ey < half * half
    raise ValueError(kind)


# ---- The pictures ---------------------------------------------------------------------------

def text_lines(x0, rows):
    """A few lines of text of varying length, spaced so that they stay apart at 16 px."""
    shapes = []
    lengths = [13, 9, 11, 7]
    for i, y in enumerate(rows):
        shapes.append(line(BLACK, x0, y, x0 + lengths[i % len(lengths)], y, 1.0))
    return shapes


def cistern(size):
    """The main icon: a tank with a rim, lines of text above a water level."""
    o = max(1.0, UNITS / size)  # outline width: one pixel, at least one unit
    cx, left, right = 16.0, 4.5, 27.5
    rx = (right - left) / 2
    top, level, bottom = 6.5, 19.5, 26.5  # centres of the rim, the water surface, the base
    ry = 3.0
    shapes = [
        # Silhouette in dark grey, one outline width larger than the body.
        ellipse(GREY, cx, bottom, rx + o, ry + o),
        rect(GREY, left - o, top, right + o, bottom),
        ellipse(GREY, cx, top, rx + o, ry + o),
        # Empty upper part of the tank, then the water below the level.
        rect(WHITE, left, top, right, level),
        ellipse(BLUE, cx, bottom, rx, ry),
        rect(BLUE, left, level, right, bottom),
        # Water surface, seen a little from above.
        ellipse(AQUA, cx, level, rx, ry),
        # The open rim, with the dark water far below showing through.
        ellipse(SILVER, cx, top, rx, ry),
        ellipse(TEAL, cx, top, rx - 2 * o, ry - o),
    ]
    shapes += text_lines(8.0, [11.5, 15.5] if size < 24 else [11.5, 13.5, 15.5])
    return shapes


def page(size):
    """The document-type icon: a page with a folded corner, text lines and water at its foot."""
    o = max(1.0, UNITS / size)
    left, top, right, bottom, fold = 6.0, 2.0, 26.0, 30.0, 7.0
    shapes = [
        polygon(GREY, (left - o, top - o), (right - fold + o * 0.4, top - o),
                (right + o, top + fold - o * 0.4), (right + o, bottom + o), (left - o, bottom + o)),
        polygon(WHITE, (left, top), (right - fold, top), (right, top + fold), (right, bottom),
                (left, bottom)),
        # The folded corner.
        polygon(SILVER, (right - fold, top), (right - fold, top + fold), (right, top + fold)),
        line(GREY, right - fold, top, right - fold, top + fold, o),
        line(GREY, right - fold, top + fold, right, top + fold, o),
        # Water at the foot of the page.
        rect(BLUE, left, 21.0, right, bottom),
        rect(AQUA, left, 21.0, right, 21.0 + max(2.0, o)),
    ]
    shapes += text_lines(9.0, [11.5, 15.5] if size < 24 else [11.5, 13.5, 15.5])
    return shapes


# ---- Rasterising ----------------------------------------------------------------------------

def raster_indexed(shapes, size):
    """Point-sampled palette indices, None where transparent."""
    px = UNITS / size
    grid = [[None] * size for _ in range(size)]
    for y in range(size):
        for x in range(size):
            ux, uy = (x + 0.5) * px, (y + 0.5) * px
            for s in shapes:
                if inside(s, ux, uy, px):
                    grid[y][x] = s[1]
    return grid


def raster_rgba(shapes, size, samples=4):
    """Anti-aliased RGBA rows (straight alpha) from supersampling."""
    px = UNITS / size
    rows = []
    for y in range(size):
        row = bytearray()
        for x in range(size):
            r = g = b = a = 0
            for sy in range(samples):
                for sx in range(samples):
                    ux = (x + (sx + 0.5) / samples) * px
                    uy = (y + (sy + 0.5) / samples) * px
                    colour = None
                    for s in shapes:
                        if inside(s, ux, uy, px):
                            colour = s[1]
                    if colour is not None:
                        cr, cg, cb = PALETTE[colour]
                        r, g, b, a = r + cr, g + cg, b + cb, a + 1
            if a:
                row += bytes((r // a, g // a, b // a, a * 255 // (samples * samples)))
            else:
                row += bytes(4)
        rows.append(bytes(row))
    return rows


# ---- File formats ---------------------------------------------------------------------------

def ico_image(grid):
    """One icon image: BITMAPINFOHEADER (height doubled), palette, XOR bits, AND mask."""
    size = len(grid)
    xor_stride = ((size * 4 + 31) // 32) * 4
    and_stride = ((size + 31) // 32) * 4
    xor = bytearray()
    mask = bytearray()
    for y in reversed(range(size)):  # bottom-up
        row = bytearray(xor_stride)
        bits = bytearray(and_stride)
        for x in range(size):
            index = grid[y][x]
            if index is None:
                bits[x // 8] |= 0x80 >> (x % 8)
                index = 0  # transparent pixels are black in the colour bits
            row[x // 2] |= index << 4 if x % 2 == 0 else index
        xor += row
        mask += bits
    header = struct.pack("<IiiHHIIiiII", 40, size, size * 2, 1, 4, 0,
                         len(xor) + len(mask), 0, 0, 16, 0)
    palette = b"".join(struct.pack("<BBBB", b, g, r, 0) for r, g, b in PALETTE)
    return header + palette + bytes(xor) + bytes(mask)


def ico_file(grids):
    images = [ico_image(g) for g in grids]
    out = struct.pack("<HHH", 0, 1, len(images))
    offset = 6 + 16 * len(images)
    for grid, data in zip(grids, images):
        size = len(grid)
        out += struct.pack("<BBBBHHII", size % 256, size % 256, 16, 0, 1, 4, len(data), offset)
        offset += len(data)
    return out + b"".join(images)


def png_file(rows):
    size = len(rows)

    def chunk(tag, data):
        body = tag + data
        return struct.pack(">I", len(data)) + body + struct.pack(">I", zlib.crc32(body) & 0xFFFFFFFF)

    raw = b"".join(b"\x00" + r for r in rows)  # filter type 0 on every row
    return (b"\x89PNG\r\n\x1a\n"
            + chunk(b"IHDR", struct.pack(">IIBBBBB", size, size, 8, 6, 0, 0, 0))
            + chunk(b"IDAT", zlib.compress(raw, 9))
            + chunk(b"IEND", b""))


def svg_file(shapes):
    def colour(i):
        return "#%02x%02x%02x" % PALETTE[i]

    def fmt(v):
        return ("%.2f" % v).rstrip("0").rstrip(".")

    out = ['<svg xmlns="http://www.w3.org/2000/svg" width="32" height="32" viewBox="0 0 32 32">']
    for s in shapes:
        kind, c = s[0], colour(s[1])
        if kind == "rect":
            _, _, x0, y0, x1, y1 = s
            out.append('  <rect x="%s" y="%s" width="%s" height="%s" fill="%s"/>'
                       % (fmt(x0), fmt(y0), fmt(x1 - x0), fmt(y1 - y0), c))
        elif kind == "ellipse":
            _, _, cx, cy, rx, ry = s
            out.append('  <ellipse cx="%s" cy="%s" rx="%s" ry="%s" fill="%s"/>'
                       % (fmt(cx), fmt(cy), fmt(rx), fmt(ry), c))
        elif kind == "polygon":
            pts = " ".join("%s,%s" % (fmt(x), fmt(y)) for x, y in s[2])
            out.append('  <polygon points="%s" fill="%s"/>' % (pts, c))
        elif kind == "line":
            _, _, x0, y0, x1, y1, w = s
            out.append('  <line x1="%s" y1="%s" x2="%s" y2="%s" stroke="%s" stroke-width="%s"/>'
                       % (fmt(x0), fmt(y0), fmt(x1), fmt(y1), c, fmt(w)))
    out.append("</svg>")
    return "\n".join(out) + "\n"


def write(name, data):
    path = os.path.join(HERE, name)
    with open(path, "wb") as f:
        f.write(data.encode() if isinstance(data, str) else data)
    print("wrote", os.path.relpath(path))


def main():
    for name, picture in (("sumpwell", cistern), ("sumpwell-doc", page)):
        write(name + ".ico", ico_file([raster_indexed(picture(32), 32),
                                        raster_indexed(picture(16), 16)]))
    # Installed pictures of the main icon: scalable, and PNGs for the usual sizes.
    write("sumpwell.svg", svg_file(cistern(32)))
    for size in (16, 32, 48, 256):
        write("sumpwell-%d.png" % size, png_file(raster_rgba(cistern(size), size)))


if __name__ == "__main__":
    main()
