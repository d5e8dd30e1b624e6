#!/usr/bin/env python3
"""Generate the wizard's status pictures and its application icon.

Writes, relative to the repository root:
  resources/images/download.png   white download arrow on a blue circle
  resources/images/finished.png   white check mark on a green circle
  resources/images/error.png      white cross on a red circle
  resources/ostrel.ico            application icon (16, 32, 48 DIB + 256 PNG)

Only the standard library is used so the build machine needs nothing extra.
Shapes are described as signed distance functions and anti-aliased from the
distance at each pixel centre, which gives clean edges at every size without
supersampling cost. The output is byte-for-byte reproducible: no timestamps or
other varying metadata are written.
"""

import math
import os
import struct
import zlib

ROOT = os.path.dirname(os.path.dirname(os.path.abspath(__file__)))
RESOURCES = os.path.join(ROOT, "resources")

PICTURE_SIZE = 512


# --------------------------------------------------------------------------
# Signed distance helpers (negative inside, positive outside, in design units)

def sd_circle(px, py, cx, cy, r):
    return math.hypot(px - cx, py - cy) - r


def sd_segment(px, py, ax, ay, bx, by):
    """Distance to the segment a-b (a capsule once a radius is subtracted)."""
    pax, pay = px - ax, py - ay
    bax, bay = bx - ax, by - ay
    h = (pax * bax + pay * bay) / (bax * bax + bay * bay)
    h = 0.0 if h < 0.0 else (1.0 if h > 1.0 else h)
    return math.hypot(pax - bax * h, pay - bay * h)


def sd_polygon(px, py, pts):
    """Exact signed distance to a simple (possibly concave) polygon."""
    n = len(pts)
    d = (px - pts[0][0]) ** 2 + (py - pts[0][1]) ** 2
    s = 1.0
    j = n - 1
    for i in range(n):
        vix, viy = pts[i]
        vjx, vjy = pts[j]
        ex, ey = vjx - vix, vjy - viy
        wx, wy = px - vix, py - viy
        h = (wx * ex + wy * ey) / (ex * ex + ey * ey)
        h = 0.0 if h < 0.0 else (1.0 if h > 1.0 else h)
        bx, by = wx - ex * h, wy - ey * h
        dd = bx * bx + by * by
        if dd < d:
            d = dd
        c1 = py >= viy
        c2 = py < vjy
        c3 = ex * wy > ey * wx
        if (c1 and c2 and c3) or (not c1 and not c2 and not c3):
            s = -s
        j = i
    return s * math.sqrt(d)


def sd_round_box(px, py, x0, y0, x1, y1, r):
    """Axis-aligned box with corner radius r."""
    cx, cy = (x0 + x1) * 0.5, (y0 + y1) * 0.5
    hx, hy = (x1 - x0) * 0.5 - r, (y1 - y0) * 0.5 - r
    qx, qy = abs(px - cx) - hx, abs(py - cy) - hy
    outside = math.hypot(max(qx, 0.0), max(qy, 0.0))
    inside = min(max(qx, qy), 0.0)
    return outside + inside - r


def coverage(d):
    """Pixel coverage from a distance measured in pixels."""
    c = 0.5 - d
    return 0.0 if c <= 0.0 else (1.0 if c >= 1.0 else c)


# --------------------------------------------------------------------------
# Marks drawn on the status pictures (512 design units, y grows downwards)

# The arrow is kept a little inset and then grown by ARROW_ROUND so that its
# outer corners come out rounded; inner corners stay crisp.
ARROW_ROUND = 10.0
ARROW_SHAPE = [
    (226.0, 122.0), (286.0, 122.0),   # top of the shaft
    (286.0, 252.0), (350.0, 252.0),   # right shoulder of the head
    (256.0, 346.0),                   # tip
    (162.0, 252.0), (226.0, 252.0),   # left shoulder
]
TRAY = (152.0, 372.0, 360.0, 412.0, 20.0)


def mark_download(x, y):
    d_arrow = sd_polygon(x, y, ARROW_SHAPE) - ARROW_ROUND
    d_tray = sd_round_box(x, y, *TRAY)
    return min(d_arrow, d_tray)


CHECK_POINTS = ((148.0, 266.0), (222.0, 340.0), (366.0, 186.0))
CHECK_HALF_WIDTH = 30.0


def mark_check(x, y):
    (ax, ay), (bx, by), (cx, cy) = CHECK_POINTS
    d = min(sd_segment(x, y, ax, ay, bx, by), sd_segment(x, y, bx, by, cx, cy))
    return d - CHECK_HALF_WIDTH


CROSS_EXTENT = 88.0
CROSS_HALF_WIDTH = 30.0


def mark_cross(x, y):
    c, e = 256.0, CROSS_EXTENT
    d = min(sd_segment(x, y, c - e, c - e, c + e, c + e),
            sd_segment(x, y, c + e, c - e, c - e, c + e))
    return d - CROSS_HALF_WIDTH


def shade(color, y, size):
    """Gentle top-to-bottom light falloff so the discs do not look flat."""
    t = y / float(size)
    f = 1.08 - 0.16 * t
    return tuple(min(255.0, c * f) for c in color)


def render_badge(size, color, mark):
    """A white mark on a coloured disc, transparent outside the disc."""
    scale = 512.0 / size               # design units per pixel
    centre, radius = 256.0, 250.0
    rows = []
    for py in range(size):
        y = (py + 0.5) * scale
        base = shade(color, y, 512.0)
        row = bytearray()
        for px in range(size):
            x = (px + 0.5) * scale
            a = coverage(sd_circle(x, y, centre, centre, radius) / scale)
            if a <= 0.0:
                row += b"\0\0\0\0"
                continue
            m = coverage(mark(x, y) / scale)
            r = base[0] + (255.0 - base[0]) * m
            g = base[1] + (255.0 - base[1]) * m
            b = base[2] + (255.0 - base[2]) * m
            row += bytes((int(r + 0.5), int(g + 0.5), int(b + 0.5),
                          int(a * 255.0 + 0.5)))
        rows.append(bytes(row))
    return rows


# --------------------------------------------------------------------------
# Application icon (256 design units): a white ring with a downward arrow on a
# blue rounded square. The smallest size drops the arrow and thickens the ring,
# because at 16 pixels the arrow would only smear into the ring.

ICON_BLUE = (26.0, 110.0, 220.0)


def icon_mark(x, y, small):
    if small:
        return abs(math.hypot(x - 128.0, y - 128.0) - 66.0) - 24.0
    ring = abs(math.hypot(x - 128.0, y - 128.0) - 70.0) - 17.0
    arrow = sd_polygon(x, y, [
        (117.0, 84.0), (139.0, 84.0),
        (139.0, 128.0), (160.0, 128.0),
        (128.0, 164.0),
        (96.0, 128.0), (117.0, 128.0),
    ]) - 3.0
    return min(ring, arrow)


def render_icon(size):
    scale = 256.0 / size
    small = size <= 16
    # Keep the square's edges on pixel boundaries; a half-covered outer row
    # makes the small icons look blurred.
    inset = round(size * 8.0 / 256.0) * scale
    rows = []
    for py in range(size):
        y = (py + 0.5) * scale
        base = shade(ICON_BLUE, y, 256.0)
        row = bytearray()
        for px in range(size):
            x = (px + 0.5) * scale
            a = coverage(sd_round_box(x, y, inset, inset, 256.0 - inset,
                                        256.0 - inset, 48.0) / scale)
            if a <= 0.0:
                row += b"\0\0\0\0"
                continue
            m = coverage(icon_mark(x, y, small) / scale)
            r = base[0] + (255.0 - base[0]) * m
            g = base[1] + (255.0 - base[1]) * m
            b = base[2] + (255.0 - base[2]) * m
            row += bytes((int(r + 0.5), int(g + 0.5), int(b + 0.5),
                          int(a * 255.0 + 0.5)))
        rows.append(bytes(row))
    return rows


# --------------------------------------------------------------------------
# Encoders

def png_chunk(kind, data):
    body = kind + data
    return struct.pack(">I", len(data)) + body + struct.pack(">I", zlib.crc32(body) & 0xFFFFFFFF)


def encode_png(rows):
    height = len(rows)
    width = len(rows[0]) // 4
    raw = bytearray()
    previous = bytes(len(rows[0]))
    for row in rows:
        # The pictures are mostly flat colour, so the "up" filter turns most
        # rows into zeros and compresses far better than no filter at all.
        raw.append(2)
        raw += bytes((row[i] - previous[i]) & 0xFF for i in range(len(row)))
        previous = row
    ihdr = struct.pack(">IIBBBBB", width, height, 8, 6, 0, 0, 0)
    return (b"\x89PNG\r\n\x1a\n"
            + png_chunk(b"IHDR", ihdr)
            + png_chunk(b"IDAT", zlib.compress(bytes(raw), 9))
            + png_chunk(b"IEND", b""))


def encode_dib(rows):
    """32-bit icon image: BITMAPINFOHEADER, bottom-up BGRA, then AND mask."""
    size = len(rows)
    xor = bytearray()
    for row in reversed(rows):
        for i in range(0, len(row), 4):
            r, g, b, a = row[i:i + 4]
            xor += bytes((b, g, r, a))
    mask_stride = ((size + 31) // 32) * 4
    mask = bytearray()
    for row in reversed(rows):
        line = bytearray(mask_stride)
        for px in range(size):
            # Fully transparent pixels are masked so that viewers that ignore
            # the alpha channel still show the rounded outline.
            if row[px * 4 + 3] == 0:
                line[px >> 3] |= 0x80 >> (px & 7)
        mask += line
    header = struct.pack("<IiiHHIIiiII", 40, size, size * 2, 1, 32, 0,
                         len(xor) + len(mask), 0, 0, 0, 0)
    return header + bytes(xor) + bytes(mask)


def encode_ico(images):
    """images: list of (size, payload) in directory order."""
    directory = struct.pack("<HHH", 0, 1, len(images))
    offset = 6 + 16 * len(images)
    entries = b""
    payloads = b""
    for size, payload in images:
        dim = 0 if size >= 256 else size
        entries += struct.pack("<BBBBHHII", dim, dim, 0, 0, 1, 32,
                               len(payload), offset)
        offset += len(payload)
        payloads += payload
    return directory + entries + payloads


def write(path, data):
    os.makedirs(os.path.dirname(path), exist_ok=True)
    with open(path, "wb") as f:
        f.write(data)
    print("wrote %s (%d bytes)" % (os.path.relpath(path, ROOT), len(data)))


def main():
    images = os.path.join(RESOURCES, "images")
    badges = [
        ("download.png", (30.0, 120.0, 230.0), mark_download),
        ("finished.png", (46.0, 160.0, 76.0), mark_check),
        ("error.png", (222.0, 52.0, 48.0), mark_cross),
    ]
    for name, color, mark in badges:
        write(os.path.join(images, name),
              encode_png(render_badge(PICTURE_SIZE, color, mark)))

    icon = []
    for size in (16, 32, 48):
        icon.append((size, encode_dib(render_icon(size))))
    icon.append((256, encode_png(render_icon(256))))
    write(os.path.join(RESOURCES, "ostrel.ico"), encode_ico(icon))


if __name__ == "__main__":
    main()
