#!/usr/bin/python3
"""Draws the demo update's title picture: a night sky over hills, with a
crescent moon, stars and a falling star, for the example game "星降る夜の物語".

  gen_title.py OUT.png

Deterministic (fixed seed), standard library only. The committed picture is
examples/art/insttscr.png; examples/demo-update/insttscr.rct is made from it
with `dist/vnpack rct examples/art/insttscr.png examples/demo-update/insttscr.rct`.
"""
import math
import random
import struct
import sys
import zlib

SIZE = 256
MOON = (184.0, 64.0, 21.0)  # centre x, y and radius
SHADOW = (194.0, 57.0, 19.0)  # the disk that cuts the crescent


def mix(a, b, t):
    return tuple(a[i] + (b[i] - a[i]) * t for i in range(3))


def sky(x, y):
    """Deep blue at the top, violet and a warm glow at the horizon, lit up
    around the moon."""
    t = y / (SIZE - 1)
    if t < 0.6:
        colour = mix((10, 14, 48), (52, 44, 112), t / 0.6)
    else:
        colour = mix((52, 44, 112), (168, 96, 128), (t - 0.6) / 0.4)
    d = math.hypot(x - MOON[0], y - MOON[1])
    glow = max(0.0, 1.0 - d / 110.0) ** 2 * 0.55
    return mix(colour, (200, 200, 230), glow)


def far_hill(x):
    return 196 + 10 * math.sin(x / 23.0) + 6 * math.sin(x / 9.0 + 1.3)


def near_hill(x):
    return 220 + 14 * math.sin(x / 41.0 + 2.0) + 4 * math.sin(x / 13.0)


def coverage(inside, x, y, n=4):
    """Fraction of the pixel (x, y) for which inside(px, py) holds."""
    hits = 0
    for i in range(n):
        for j in range(n):
            if inside(x + (i + 0.5) / n, y + (j + 0.5) / n):
                hits += 1
    return hits / (n * n)


def main():
    out = sys.argv[1]
    rng = random.Random(1987)
    pixels = [[sky(x, y) for x in range(SIZE)] for y in range(SIZE)]

    # Stars: single points, a few brighter crosses, none near the moon.
    for _ in range(90):
        x, y = rng.randrange(SIZE), rng.randrange(170)
        if math.hypot(x - MOON[0], y - MOON[1]) < MOON[2] + 8:
            continue
        bright = rng.choice((150, 190, 235))
        pixels[y][x] = mix(pixels[y][x], (255, 250, 230), bright / 255)
        if bright == 235 and 0 < x < SIZE - 1 and 0 < y:
            for dx, dy in ((-1, 0), (1, 0), (0, -1), (0, 1)):
                pixels[y + dy][x + dx] = mix(pixels[y + dy][x + dx], (255, 250, 230), 0.45)

    # The falling star: a bright head and a fading tail.
    for step in range(70):
        t = step / 70.0
        x, y = 40 + 60 * t, 30 + 34 * t
        for w in (-1, 0, 1):
            px, py = int(x), int(y) + w
            strength = t ** 1.6 * (1.0 if w == 0 else 0.35)
            pixels[py][px] = mix(pixels[py][px], (255, 245, 220), strength)

    # The crescent: the moon's disk less a shifted disk, edges anti-aliased.
    mx, my, mr = MOON
    sx, sy, sr = SHADOW

    def in_crescent(px, py):
        return math.hypot(px - mx, py - my) < mr and math.hypot(px - sx, py - sy) >= sr

    for y in range(int(my - mr) - 1, int(my + mr) + 2):
        for x in range(int(mx - mr) - 1, int(mx + mr) + 2):
            c = coverage(in_crescent, x, y)
            if c:
                pixels[y][x] = mix(pixels[y][x], (252, 242, 196), c)

    # Hills: a far violet ridge, then the near one with a grassy texture.
    for x in range(SIZE):
        for y in range(150, SIZE):
            c = coverage(lambda px, py: py >= far_hill(px), x, y, 2)
            if c:
                pixels[y][x] = mix(pixels[y][x], (44, 32, 78), c)
    for x in range(SIZE):
        for y in range(180, SIZE):
            c = coverage(lambda px, py: py >= near_hill(px), x, y, 2)
            if c:
                shade = (18, 16, 38) if (x * 7 + y * 3) % 11 else (26, 24, 52)
                pixels[y][x] = mix(pixels[y][x], shade, c)

    # A small house on the near hill, its window lit.
    base = int(near_hill(62))
    for y in range(base - 16, base + 2):
        for x in range(52, 73):
            pixels[y][x] = (12, 10, 26)
    for y in range(base - 26, base - 15):
        half = (y - (base - 26)) + 1
        for x in range(62 - half, 63 + half):
            pixels[y][x] = (12, 10, 26)
    for y in range(base - 11, base - 5):
        for x in range(58, 64):
            pixels[y][x] = (255, 214, 120)

    raw = bytearray()
    for row in pixels:
        raw.append(0)  # filter: none
        for r, g, b in row:
            raw += bytes((round(r), round(g), round(b)))
    def chunk(kind, data):
        body = kind + data
        return struct.pack(">I", len(data)) + body + struct.pack(">I", zlib.crc32(body))
    png = (b"\x89PNG\r\n\x1a\n" +
           chunk(b"IHDR", struct.pack(">IIBBBBB", SIZE, SIZE, 8, 2, 0, 0, 0)) +
           chunk(b"IDAT", zlib.compress(bytes(raw), 9)) + chunk(b"IEND", b""))
    with open(out, "wb") as f:
        f.write(png)


if __name__ == "__main__":
    main()
