#!/usr/bin/env python3
"""Draws the copy animation of the progress window and writes it as an AVI
clip that the animation control (SysAnimate32) can play: one video stream, no
sound, 8 bits per pixel run-length encoded (BI_RLE8) with a 16-colour palette.

The picture: a page flies in an arc from an open folder on the left into an
open folder on the right, 17 frames at 10 frames per second. The top-left pixel
is background: the control takes its colour as the transparent one.

Usage: gen_avi.py OUTPUT.avi [--raw FRAMES.bin]
  --raw also writes the unencoded frames (17 x 40 rows x 260 bytes, top row
  first) so that a test can check the encoding against them.
"""
import math
import struct
import sys

WIDTH, HEIGHT = 260, 40
FRAMES = 17
MICROSECONDS_PER_FRAME = 100000

# Palette indexes.
BACKGROUND, BLACK, GREY, WHITE, FOLDER_FRONT, FOLDER_BACK, FOLDER_EDGE, INK, SHADE = range(9)
PALETTE = [  # (r, g, b)
    (192, 192, 192), (0, 0, 0), (128, 128, 128), (255, 255, 255),
    (255, 221, 96), (222, 170, 40), (140, 100, 16), (40, 80, 200),
    (224, 224, 224), (128, 0, 0), (0, 128, 0), (128, 128, 0),
    (0, 0, 128), (128, 0, 128), (0, 128, 128), (255, 0, 0),
]
assert len(PALETTE) == 16


def new_frame():
    return [[BACKGROUND] * WIDTH for _ in range(HEIGHT)]


def fill(frame, x0, y0, x1, y1, colour):
    """Fills the rectangle [x0, x1) x [y0, y1), clipped to the frame."""
    for y in range(max(0, y0), min(HEIGHT, y1)):
        row = frame[y]
        for x in range(max(0, x0), min(WIDTH, x1)):
            row[x] = colour


def outline(frame, x0, y0, x1, y1, colour):
    fill(frame, x0, y0, x1, y0 + 1, colour)
    fill(frame, x0, y1 - 1, x1, y1, colour)
    fill(frame, x0, y0, x0 + 1, y1, colour)
    fill(frame, x1 - 1, y0, x1, y1, colour)


def folder_back(frame, x):
    # Tab and back wall of an open folder.
    fill(frame, x, 12, x + 18, 16, FOLDER_BACK)
    outline(frame, x, 12, x + 18, 17, FOLDER_EDGE)
    fill(frame, x, 16, x + 50, 38, FOLDER_BACK)
    outline(frame, x, 16, x + 50, 38, FOLDER_EDGE)


def folder_front(frame, x):
    # The front flap, leaning forward: drawn over a page that sits inside.
    for y in range(23, 38):
        lean = (38 - y) // 4
        fill(frame, x + 2 - lean, y, x + 52 - lean, y + 1, FOLDER_FRONT)
        frame[y][max(0, x + 2 - lean)] = FOLDER_EDGE
        frame[y][min(WIDTH - 1, x + 51 - lean)] = FOLDER_EDGE
    fill(frame, x - 1, 23, x + 49, 24, FOLDER_EDGE)
    fill(frame, x + 2, 37, x + 52, 38, FOLDER_EDGE)


def page(frame, x, y):
    # A sheet with a folded corner and four lines of writing, with a shadow.
    w, h = 14, 18
    fill(frame, x + 2, y + 2, x + w + 2, y + h + 2, SHADE)
    fill(frame, x, y, x + w, y + h, WHITE)
    outline(frame, x, y, x + w, y + h, BLACK)
    for i in range(4):  # folded corner
        fill(frame, x + w - 4 + i, y + i, x + w, y + i + 1, BACKGROUND if i < 3 else BLACK)
        if 0 <= y + i < HEIGHT and 0 <= x + w - 5 + i < WIDTH:
            frame[y + i][x + w - 5 + i] = BLACK
    for line in range(4):
        fill(frame, x + 3, y + 5 + 3 * line, x + w - 3 - (line % 2) * 3, y + 6 + 3 * line, INK)
    fill(frame, x + 3, y + h - 2, x + w - 2, y + h - 1, GREY)


def draw(index):
    frame = new_frame()
    left, right = 8, 200
    folder_back(frame, left)
    folder_back(frame, right)
    # Along an arc from inside the left folder to inside the right one.
    t = index / (FRAMES - 1)
    x = round(left + 18 + (right + 18 - left - 18) * t)
    y = round(20 - 19 * math.sin(math.pi * t))
    page(frame, x, y)
    # Below the folders nothing shows, not even the page's shadow.
    fill(frame, 0, 38, WIDTH, HEIGHT, BACKGROUND)
    folder_front(frame, left)
    folder_front(frame, right)
    return frame


def encode_row(row):
    """RLE8 of one row: runs of two or more as (count, index), other stretches
    of three or more as absolute blocks (0, count, bytes, padded to a word),
    single and paired odd bytes as runs of one."""
    out = bytearray()
    i, n = 0, len(row)
    while i < n:
        j = i
        while j < n and row[j] == row[i] and j - i < 255:
            j += 1
        if j - i >= 2:
            out += bytes((j - i, row[i]))
            i = j
            continue
        j = i
        while j < n and j - i < 255 and not (j + 1 < n and row[j] == row[j + 1]):
            j += 1
        literal = row[i:j]
        if len(literal) >= 3:
            out += bytes((0, len(literal))) + bytes(literal)
            if len(literal) % 2:
                out += b"\0"
        else:
            for value in literal:
                out += bytes((1, value))
        i = j
    return out


def encode_frame(frame):
    """Bottom row first, as in every bottom-up DIB; an end-of-line code after
    each row and the end-of-bitmap code after the last."""
    out = bytearray()
    rows = list(reversed(frame))
    for number, row in enumerate(rows):
        out += encode_row(row)
        out += b"\0\1" if number == len(rows) - 1 else b"\0\0"
    return bytes(out)


def chunk(fourcc, data):
    padded = data + (b"\0" if len(data) % 2 else b"")
    return fourcc + struct.pack("<I", len(data)) + padded


def riff_list(kind, fourcc, body):
    return kind + struct.pack("<I", len(body) + 4) + fourcc + body


def build(frames):
    encoded = [encode_frame(f) for f in frames]
    largest = max(len(e) for e in encoded)

    avih = struct.pack("<14I", MICROSECONDS_PER_FRAME, largest * 10, 0,
                       0x10,  # AVIF_HASINDEX
                       len(frames), 0, 1, largest, WIDTH, HEIGHT, 0, 0, 0, 0)
    # Handler 0: the frames are plain DIB data (RLE8) that GDI draws itself,
    # so the control needs no decompressor.
    strh = struct.pack("<4s4sIHHIIIIIIIIhhhh", b"vids", b"\0\0\0\0", 0, 0, 0, 0,
                       1, 1000000 // MICROSECONDS_PER_FRAME, 0, len(frames), largest,
                       0xFFFFFFFF, 0, 0, 0, WIDTH, HEIGHT)
    bitmap_header = struct.pack("<IiiHHIIiiII", 40, WIDTH, HEIGHT, 1, 8,
                                1,  # BI_RLE8
                                largest, 0, 0, len(PALETTE), 0)
    palette = b"".join(struct.pack("<BBBB", b, g, r, 0) for r, g, b in PALETTE)
    strl = riff_list(b"LIST", b"strl", chunk(b"strh", strh) + chunk(b"strf", bitmap_header + palette))
    hdrl = riff_list(b"LIST", b"hdrl", chunk(b"avih", avih) + strl)

    movi_body = bytearray()
    index = bytearray()
    for data in encoded:
        # Offsets in idx1 count from the 'movi' type word.
        offset = 4 + len(movi_body)
        movi_body += chunk(b"00dc", data)
        index += struct.pack("<4sIII", b"00dc", 0x10, offset, len(data))  # AVIIF_KEYFRAME
    movi = riff_list(b"LIST", b"movi", bytes(movi_body))
    return riff_list(b"RIFF", b"AVI ", hdrl + movi + chunk(b"idx1", bytes(index)))


def main(argv):
    if len(argv) not in (2, 4) or (len(argv) == 4 and argv[2] != "--raw"):
        sys.stderr.write(__doc__)
        return 2
    frames = [draw(i) for i in range(FRAMES)]
    with open(argv[1], "wb") as f:
        f.write(build(frames))
    if len(argv) == 4:
        with open(argv[3], "wb") as f:
            for frame in frames:
                for row in frame:
                    f.write(bytes(row))
    return 0


if __name__ == "__main__":
    sys.exit(main(sys.argv))
