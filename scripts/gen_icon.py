#!/usr/bin/env python3
"""Draws the updater's application icon and writes it as a Windows .ico.

The picture: a rounded blue tile with a white arrow pointing down into a tray,
at 16, 32 and 48 pixels, each as a 16-colour bitmap with its AND mask (the
gradient in a dozen steps: a fifth of the size of 32-bit images, in an
executable that has a size budget). Everything is computed here; no image
files are read.

Usage: gen_icon.py OUTPUT.ico
"""
import struct
import sys


SHADES = 12


def inside_rounded(x, y, size, radius):
    """True when pixel centre (x, y) lies in the rounded square of side size."""
    cx, cy = x + 0.5, y + 0.5
    lo, hi = radius, size - radius
    dx = lo - cx if cx < lo else (cx - hi if cx > hi else 0.0)
    dy = lo - cy if cy < lo else (cy - hi if cy > hi else 0.0)
    return dx * dx + dy * dy <= radius * radius


def is_arrow(u, v):
    """The white mark in unit coordinates (0..1 across the tile)."""
    shaft = 0.42 <= u <= 0.58 and 0.16 <= v <= 0.50
    head = 0.50 <= v <= 0.72 and abs(u - 0.5) <= (0.72 - v) * 1.1
    tray_bottom = 0.24 <= u <= 0.76 and 0.78 <= v <= 0.86
    tray_sides = (0.24 <= u <= 0.32 or 0.68 <= u <= 0.76) and 0.62 <= v <= 0.86
    return shaft or head or tray_bottom or tray_sides


def render(size):
    """Rows of (b, g, r, a) tuples, top row first."""
    radius = max(2.0, size / 6.0)
    rows = []
    for y in range(size):
        row = []
        for x in range(size):
            if not inside_rounded(x, y, size, radius):
                row.append((0, 0, 0, 0))
                continue
            u, v = (x + 0.5) / size, (y + 0.5) / size
            if is_arrow(u, v):
                row.append((255, 255, 255, 255))
            else:
                # Lighter at the top: a plain vertical gradient in steps.
                shade = int(SHADES * (1.0 - v)) * 60 // SHADES
                row.append((200 + shade // 2, 90 + shade, 30 + shade // 2, 255))
        rows.append(row)
    return rows


def bitmap_entry(size):
    rows = render(size)
    palette = sorted({pixel[:3] for row in rows for pixel in row})
    assert len(palette) <= 16, "more colours than a 4-bit bitmap holds"
    palette += [(0, 0, 0)] * (16 - len(palette))
    header = struct.pack("<IiiHHIIiiII", 40, size, size * 2, 1, 4, 0, 0, 0, 0, 16, 0)
    header += b"".join(bytes((b, g, r, 0)) for b, g, r in palette)
    pixels = bytearray()
    stride = ((size * 4 + 31) // 32) * 4
    for row in reversed(rows):  # bottom-up, as in every DIB
        line = bytearray(stride)
        for x, pixel in enumerate(row):
            line[x // 2] |= palette.index(pixel[:3]) << (0 if x % 2 else 4)
        pixels += line
    mask_stride = ((size + 31) // 32) * 4
    mask = bytearray()
    for row in reversed(rows):
        line = bytearray(mask_stride)
        for x, (_, _, _, a) in enumerate(row):
            if a == 0:
                line[x // 8] |= 0x80 >> (x % 8)
        mask += line
    return header + bytes(pixels) + bytes(mask)


def main():
    sizes = (16, 32, 48)
    images = [bitmap_entry(s) for s in sizes]
    out = bytearray(struct.pack("<HHH", 0, 1, len(sizes)))
    offset = 6 + 16 * len(sizes)
    for size, image in zip(sizes, images):
        out += struct.pack("<BBBBHHII", size, size, 16, 0, 1, 4, len(image), offset)
        offset += len(image)
    for image in images:
        out += image
    with open(sys.argv[1], "wb") as f:
        f.write(out)
    return 0


if __name__ == "__main__":
    sys.exit(main())
