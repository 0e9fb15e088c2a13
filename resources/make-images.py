#!/usr/bin/env python3
"""Draws the program's logo (logo.bmp) and icon (program.ico): a plain "VR"
mark of our own. Only the standard library is used, so that anyone can remake
the two files exactly:

    python3 resources/make-images.py [output directory]

logo.bmp:    93 x 25 pixels, 24 bits per pixel, white background.
program.ico: two images, 32 x 32 and 16 x 16, 16 colours each.
"""
import math
import os
import struct
import sys

# ---- drawing: shapes in a unit square, sampled per pixel ------------------

def segment_distance(px, py, ax, ay, bx, by):
    dx, dy = bx - ax, by - ay
    length2 = dx * dx + dy * dy
    t = 0.0 if length2 == 0 else max(0.0, min(1.0, ((px - ax) * dx + (py - ay) * dy) / length2))
    cx, cy = ax + t * dx, ay + t * dy
    return math.hypot(px - cx, py - cy)


def letters_vr(x0, y0, height, weight):
    """The strokes of "V" and "R" as line segments, with the pen's half width.
    The letters start at (x0, y0), y downwards."""
    h = height
    w = 0.5 * h                      # width of one letter
    gap = 0.3 * h
    segments = [
        # V
        (x0, y0, x0 + w / 2, y0 + h),
        (x0 + w / 2, y0 + h, x0 + w, y0),
    ]
    rx = x0 + w + gap                # R: stem, bowl, leg
    bowl_h = 0.52 * h
    radius = bowl_h / 2
    cx, cy = rx + w - radius, y0 + radius
    segments += [
        (rx, y0, rx, y0 + h),
        (rx, y0, cx, y0),
        (cx, y0 + bowl_h, rx, y0 + bowl_h),
        (cx - 0.1 * w, y0 + bowl_h, rx + w, y0 + h),
    ]
    steps = 12
    for i in range(steps):
        a0 = -math.pi / 2 + math.pi * i / steps
        a1 = -math.pi / 2 + math.pi * (i + 1) / steps
        segments.append((cx + radius * math.cos(a0), cy + radius * math.sin(a0),
                         cx + radius * math.cos(a1), cy + radius * math.sin(a1)))
    return [(s, weight / 2) for s in segments]


def coverage(strokes, x, y, samples):
    """Share of the pixel (x, y) that the strokes cover, sampled on a grid."""
    hit = 0
    for sy in range(samples):
        for sx in range(samples):
            px = x + (sx + 0.5) / samples
            py = y + (sy + 0.5) / samples
            for (ax, ay, bx, by), half in strokes:
                if segment_distance(px, py, ax, ay, bx, by) <= half:
                    hit += 1
                    break
    return hit / (samples * samples)


def blend(background, colour, alpha):
    return tuple(round(b + (c - b) * alpha) for b, c in zip(background, colour))

# ---- the logo -------------------------------------------------------------

WHITE = (255, 255, 255)
NAVY = (0x1A, 0x2F, 0x7A)
RED = (0xC8, 0x10, 0x2E)
GREY = (0x8A, 0x8F, 0x99)

LOGO_WIDTH, LOGO_HEIGHT = 93, 25


def draw_logo():
    """Rows of (r, g, b), top row first: "VR" in navy, and at its right three
    sheets of paper, the lowest one red."""
    strokes = letters_vr(5.0, 4.0, 17.0, 3.6)
    sheets = [  # left, top, right, bottom, colour
        (47.0, 5.0, 88.0, 8.0, GREY),
        (47.0, 11.0, 80.0, 14.0, GREY),
        (47.0, 17.0, 72.0, 21.0, RED),
    ]
    rows = []
    for y in range(LOGO_HEIGHT):
        row = []
        for x in range(LOGO_WIDTH):
            pixel = WHITE
            for left, top, right, bottom, colour in sheets:
                # Horizontal overlap with antialiased ends.
                cover_x = max(0.0, min(x + 1, right) - max(x, left))
                cover_y = max(0.0, min(y + 1, bottom) - max(y, top))
                if cover_x * cover_y > 0:
                    pixel = blend(pixel, colour, cover_x * cover_y)
            a = coverage(strokes, x, y, 4)
            if a > 0:
                pixel = blend(pixel, NAVY, a)
            row.append(pixel)
        rows.append(row)
    return rows


def bmp_24(rows):
    height, width = len(rows), len(rows[0])
    stride = (width * 3 + 3) & ~3
    pixels = bytearray()
    for row in reversed(rows):                 # bottom-up
        line = bytearray()
        for r, g, b in row:
            line += bytes((b, g, r))
        line += bytes(stride - len(line))
        pixels += line
    info = struct.pack('<IiiHHIIiiII', 40, width, height, 1, 24, 0, len(pixels), 2835, 2835, 0, 0)
    offset = 14 + len(info)
    header = struct.pack('<2sIHHI', b'BM', offset + len(pixels), 0, 0, offset)
    return header + info + bytes(pixels)

# ---- the icon -------------------------------------------------------------

# The standard 16-colour palette, as its index order is commonly used.
PALETTE_16 = [
    (0, 0, 0), (128, 0, 0), (0, 128, 0), (128, 128, 0),
    (0, 0, 128), (128, 0, 128), (0, 128, 128), (192, 192, 192),
    (128, 128, 128), (255, 0, 0), (0, 255, 0), (255, 255, 0),
    (0, 0, 255), (255, 0, 255), (0, 255, 255), (255, 255, 255),
]
I_BLACK, I_NAVY, I_RED, I_WHITE = 0, 4, 9, 15


def draw_icon(size):
    """Rows of (palette index, transparent): a navy tile with rounded corners,
    a white "VR" on it and a red band at its foot."""
    s = size / 32.0
    corner = 5.0 * s
    height = 15.0 * s
    strokes = letters_vr((size - 1.3 * height) / 2, 6.0 * s, height, 2.6 * s if size > 16 else 1.5)
    rows = []
    for y in range(size):
        row = []
        for x in range(size):
            cx, cy = x + 0.5, y + 0.5
            # Distance outside the rounded tile.
            qx = max(corner - cx, cx - (size - corner), 0.0)
            qy = max(corner - cy, cy - (size - corner), 0.0)
            if math.hypot(qx, qy) > corner:
                row.append((I_BLACK, True))
                continue
            index = I_NAVY
            if cy > size - 7.0 * s and cy < size - 3.0 * s:
                index = I_RED
            if coverage(strokes, x, y, 4) >= 0.5:
                index = I_WHITE
            row.append((index, False))
        rows.append(row)
    return rows


def icon_image_4bpp(rows):
    size = len(rows)
    xor_stride = ((size * 4 + 31) // 32) * 4
    and_stride = ((size + 31) // 32) * 4
    xor = bytearray()
    mask = bytearray()
    for row in reversed(rows):
        line = bytearray(xor_stride)
        bits = bytearray(and_stride)
        for x, (index, transparent) in enumerate(row):
            if x % 2 == 0:
                line[x // 2] |= index << 4
            else:
                line[x // 2] |= index
            if transparent:
                bits[x // 8] |= 0x80 >> (x % 8)
        xor += line
        mask += bits
    palette = b''.join(bytes((b, g, r, 0)) for r, g, b in PALETTE_16)
    info = struct.pack('<IiiHHIIiiII', 40, size, size * 2, 1, 4, 0, len(xor) + len(mask), 0, 0, 16, 0)
    return info + palette + bytes(xor) + bytes(mask)


def ico(images):
    """images: list of (size, image bytes)."""
    header = struct.pack('<HHH', 0, 1, len(images))
    offset = len(header) + 16 * len(images)
    entries = b''
    body = b''
    for size, data in images:
        entries += struct.pack('<BBBBHHII', size, size, 16, 0, 1, 4, len(data), offset + len(body))
        body += data
    return header + entries + body


def main():
    out = sys.argv[1] if len(sys.argv) > 1 else os.path.dirname(os.path.abspath(__file__))
    with open(os.path.join(out, 'logo.bmp'), 'wb') as f:
        f.write(bmp_24(draw_logo()))
    with open(os.path.join(out, 'program.ico'), 'wb') as f:
        f.write(ico([(32, icon_image_4bpp(draw_icon(32))), (16, icon_image_4bpp(draw_icon(16)))]))


if __name__ == '__main__':
    main()
