#!/usr/bin/env python3
"""Draws the program's icons and toolbar strip and writes them as the
16-colour files the resource script names:

  noctil.ico        32x32 and 16x16 application icon
  noctil_small.ico  16x16 application icon for captions
  toolbar.bmp       64x15 strip of four 16x15 button images

Run by hand after changing the artwork (the build uses the committed files):
  python3 res/tools/make_images.py res
"""
import struct
import sys
from pathlib import Path

# The standard 16-colour palette, in its usual order.
PALETTE = [
    (0, 0, 0), (128, 0, 0), (0, 128, 0), (128, 128, 0),
    (0, 0, 128), (128, 0, 128), (0, 128, 128), (192, 192, 192),
    (128, 128, 128), (255, 0, 0), (0, 255, 0), (255, 255, 0),
    (0, 0, 255), (255, 0, 255), (0, 255, 255), (255, 255, 255),
]
BLACK, NAVY, SILVER, GRAY, RED, YELLOW, BLUE, WHITE = 0, 4, 7, 8, 9, 11, 12, 15


def canvas(w, h, fill):
    return [[fill] * w for _ in range(h)]


def fill_rect(img, x0, y0, w, h, colour):
    for y in range(y0, y0 + h):
        for x in range(x0, x0 + w):
            img[y][x] = colour


def fill_ellipse(img, x0, y0, w, h, colour):
    cx, cy, rx, ry = x0 + w / 2, y0 + h / 2, w / 2, h / 2
    for y in range(y0, y0 + h):
        for x in range(x0, x0 + w):
            dx, dy = (x + 0.5 - cx) / rx, (y + 0.5 - cy) / ry
            if dx * dx + dy * dy <= 1.0:
                img[y][x] = colour


def palette_bytes():
    return b"".join(struct.pack("<BBBB", b, g, r, 0) for r, g, b in PALETTE)


def rows_4bpp(img):
    """Bottom-up 4-bit rows, each padded to four bytes."""
    out = bytearray()
    for row in reversed(img):
        line = bytearray()
        for x in range(0, len(row), 2):
            lo = row[x + 1] if x + 1 < len(row) else 0
            line.append((row[x] << 4) | lo)
        while len(line) % 4:
            line.append(0)
        out += line
    return bytes(out)


def rows_1bpp(mask):
    out = bytearray()
    for row in reversed(mask):
        line = bytearray((len(row) + 7) // 8)
        for x, bit in enumerate(row):
            if bit:
                line[x // 8] |= 0x80 >> (x % 8)
        while len(line) % 4:
            line.append(0)
        out += line
    return bytes(out)


def info_header(w, h, size_image):
    return struct.pack("<IiiHHIIiiII", 40, w, h, 1, 4, 0, size_image, 0, 0, 16, 0)


def icon_dib(img, transparent):
    """One icon image: header of double height, palette, colour rows, AND mask."""
    h, w = len(img), len(img[0])
    mask = [[1 if transparent[y][x] else 0 for x in range(w)] for y in range(h)]
    colour = [[0 if transparent[y][x] else img[y][x] for x in range(w)] for y in range(h)]
    xor, andm = rows_4bpp(colour), rows_1bpp(mask)
    return info_header(w, 2 * h, len(xor) + len(andm)) + palette_bytes() + xor + andm


def write_ico(path, images):
    dibs = [icon_dib(img, tr) for img, tr in images]
    out = bytearray(struct.pack("<HHH", 0, 1, len(dibs)))
    offset = 6 + 16 * len(dibs)
    for (img, _), dib in zip(images, dibs):
        out += struct.pack("<BBBBHHII", len(img[0]), len(img), 16, 0, 1, 4, len(dib), offset)
        offset += len(dib)
    for dib in dibs:
        out += dib
    Path(path).write_bytes(out)


def night_sky_icon(size):
    """A navy disc of night sky with a few stars; transparent outside the disc."""
    img = canvas(size, size, NAVY)
    transparent = [[False] * size for _ in range(size)]
    c = size / 2
    for y in range(size):
        for x in range(size):
            dx, dy = x + 0.5 - c, y + 0.5 - c
            if dx * dx + dy * dy > c * c:
                transparent[y][x] = True
    s = size / 32
    for fx, fy, colour in [(9, 10, WHITE), (21, 7, YELLOW), (14, 19, WHITE), (23, 22, WHITE)]:
        x, y = int(fx * s), int(fy * s)
        img[y][x] = colour
        if size >= 32:  # a small cross on the large icon
            for ddx, ddy in [(-1, 0), (1, 0), (0, -1), (0, 1)]:
                img[y + ddy][x + ddx] = colour if colour == YELLOW else SILVER
    # A grey horizon along the bottom of the disc.
    for y in range(int(size * 0.75), size):
        for x in range(size):
            if not transparent[y][x]:
                img[y][x] = GRAY
    return img, transparent


def toolbar_strip():
    """Four 16x15 button images on light grey: Record, Stop, Pause, Setup."""
    w, h = 16, 15
    images = []
    record = canvas(w, h, SILVER)
    fill_ellipse(record, 2, 2, 12, 11, RED)
    images.append(record)

    stop = canvas(w, h, SILVER)
    fill_rect(stop, 4, 4, 8, 7, BLACK)
    images.append(stop)

    pause = canvas(w, h, SILVER)
    fill_rect(pause, 3, 2, 3, 10, BLACK)
    fill_rect(pause, 9, 2, 3, 10, BLACK)
    images.append(pause)

    setup = canvas(w, h, SILVER)
    fill_rect(setup, 2, 2, 12, 10, BLACK)      # outline
    fill_rect(setup, 3, 3, 10, 1, BLUE)        # title bar
    fill_rect(setup, 3, 4, 10, 7, GRAY)        # body
    for x, y in [(5, 6), (7, 6), (5, 8), (7, 8)]:
        setup[y][x] = BLACK                    # 2x2 group of dots
    fill_rect(setup, 10, 5, 1, 5, WHITE)       # upright bar
    images.append(setup)

    return [sum((img[y] for img in images), []) for y in range(h)]


def write_bmp(path, img):
    h, w = len(img), len(img[0])
    bits = rows_4bpp(img)
    dib = info_header(w, h, len(bits)) + palette_bytes() + bits
    file_header = struct.pack("<2sIHHI", b"BM", 14 + len(dib), 0, 0, 14 + 40 + 64)
    Path(path).write_bytes(file_header + dib)


def main():
    out = Path(sys.argv[1] if len(sys.argv) > 1 else ".")
    write_ico(out / "noctil.ico", [night_sky_icon(32), night_sky_icon(16)])
    write_ico(out / "noctil_small.ico", [night_sky_icon(16)])
    write_bmp(out / "toolbar.bmp", toolbar_strip())


if __name__ == "__main__":
    main()
