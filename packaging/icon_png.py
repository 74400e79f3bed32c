#!/usr/bin/env python3
"""Writes the program's icon as the PNG files a desktop looks for, from the
icon file the resource script embeds (res/noctil.ico):

  icon_png.py res/noctil.ico OUTDIR   ->  OUTDIR/<N>x<N>/noctil.png

for N = 16, 32, 48, 64, 128 and 256. Each size is drawn from the largest
image of the icon whose size divides it, each pixel repeated (the icon is
pixel art: it is not smoothed), and transparent where the icon's mask is.
Only the standard library is used.
"""
import struct
import sys
import zlib
from pathlib import Path

SIZES = (16, 32, 48, 64, 128, 256)


def read_ico(data):
    """The images of an icon file as {size: rows of (r, g, b, a)}."""
    reserved, kind, count = struct.unpack_from("<HHH", data, 0)
    if reserved != 0 or kind != 1:
        raise ValueError("not an icon file")
    images = {}
    for i in range(count):
        _, _, _, _, _, _, length, offset = struct.unpack_from("<BBBBHHII", data, 6 + 16 * i)
        dib = data[offset:offset + length]
        (header, width, height2, _, bits, compression, _, _, _, used, _) = struct.unpack_from("<IiiHHIIiiII", dib, 0)
        height = height2 // 2
        if compression != 0 or bits not in (1, 4, 8) or width != height:
            raise ValueError("icon image %d: only square palette images are read" % i)
        colours = used or (1 << bits)
        palette = [struct.unpack_from("<BBBB", dib, header + 4 * c)[:3] for c in range(colours)]
        pos = header + 4 * colours
        xor_stride = ((width * bits + 31) // 32) * 4
        and_stride = ((width + 31) // 32) * 4
        xor, mask = dib[pos:pos + xor_stride * height], dib[pos + xor_stride * height:]
        rows = []
        for y in range(height):  # the file's rows are bottom-up
            src = height - 1 - y
            row = []
            for x in range(width):
                bit = x * bits
                index = (xor[src * xor_stride + bit // 8] >> (8 - bits - bit % 8)) & ((1 << bits) - 1)
                transparent = (mask[src * and_stride + x // 8] >> (7 - x % 8)) & 1
                b, g, r = palette[index]
                row.append((r, g, b, 0 if transparent else 255))
            rows.append(row)
        images[width] = rows
    return images


def scaled(rows, size):
    factor = size // len(rows)
    return [[p for p in row for _ in range(factor)] for row in rows for _ in range(factor)]


def png(rows):
    def chunk(kind, body):
        return struct.pack(">I", len(body)) + kind + body + struct.pack(">I", zlib.crc32(kind + body))

    height, width = len(rows), len(rows[0])
    raw = b"".join(b"\0" + bytes(c for p in row for c in p) for row in rows)
    return (b"\x89PNG\r\n\x1a\n" + chunk(b"IHDR", struct.pack(">IIBBBBB", width, height, 8, 6, 0, 0, 0)) +
            chunk(b"IDAT", zlib.compress(raw, 9)) + chunk(b"IEND", b""))


def main():
    if len(sys.argv) != 3:
        sys.exit("usage: icon_png.py ICON.ico OUTDIR")
    images = read_ico(Path(sys.argv[1]).read_bytes())
    for size in SIZES:
        source = max((s for s in images if size % s == 0), default=None)
        if source is None:
            sys.exit("icon_png.py: no image of the icon divides %d" % size)
        out = Path(sys.argv[2]) / ("%dx%d" % (size, size)) / "noctil.png"
        out.parent.mkdir(parents=True, exist_ok=True)
        out.write_bytes(png(scaled(images[source], size)))


if __name__ == "__main__":
    main()
