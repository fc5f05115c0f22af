#!/usr/bin/python3
"""Draws the updater's icon: a green rounded square with a white arrow down onto a bar.

Writes tessmoor-updater-<size>.png for the Linux icon theme and tessmoor-updater.ico
(32-bit BMP images up to 48 px, which every Windows version reads, and a PNG image
at 256 px) beside this script. The files are committed; run this after changing it.
"""

import os
import struct
import zlib

HERE = os.path.dirname(os.path.abspath(__file__))
PNG_SIZES = (16, 24, 32, 48, 64, 128, 256)
ICO_BMP_SIZES = (16, 24, 32, 48)
TOP = (138, 219, 83)      # the labels' green
BOTTOM = (62, 150, 44)
SUPERSAMPLE = 4


def inside_rounded_square(x, y, radius):
    cx = min(max(x, radius), 1 - radius)
    cy = min(max(y, radius), 1 - radius)
    return (x - cx) ** 2 + (y - cy) ** 2 <= radius ** 2


def inside_arrow(x, y):
    shaft = 0.43 <= x <= 0.57 and 0.16 <= y <= 0.50
    head = 0.50 <= y <= 0.70 and abs(x - 0.5) <= (0.70 - y) * 1.15
    bar = 0.22 <= x <= 0.78 and 0.76 <= y <= 0.85
    return shaft or head or bar


def pixel(size, px, py):
    """Straight (not premultiplied) RGBA of one pixel, averaged over sub-samples."""
    coverage = arrow = 0
    n = SUPERSAMPLE
    for sy in range(n):
        for sx in range(n):
            x = (px + (sx + 0.5) / n) / size
            y = (py + (sy + 0.5) / n) / size
            if inside_rounded_square(x, y, 0.2):
                coverage += 1
                arrow += inside_arrow(x, y)
    if not coverage:
        return (0, 0, 0, 0)
    t = (py + 0.5) / size
    base = [TOP[i] + (BOTTOM[i] - TOP[i]) * t for i in range(3)]
    mix = arrow / coverage
    rgb = tuple(round(c + (255 - c) * mix) for c in base)
    return rgb + (round(255 * coverage / (n * n)),)


def image(size):
    return [[pixel(size, x, y) for x in range(size)] for y in range(size)]


def png(rows):
    size = len(rows)
    raw = b"".join(b"\0" + bytes(c for p in row for c in p) for row in rows)

    def chunk(kind, data):
        return struct.pack(">I", len(data)) + kind + data + struct.pack(">I", zlib.crc32(kind + data))

    return (b"\x89PNG\r\n\x1a\n" + chunk(b"IHDR", struct.pack(">IIBBBBB", size, size, 8, 6, 0, 0, 0))
            + chunk(b"IDAT", zlib.compress(raw, 9)) + chunk(b"IEND", b""))


def bmp_entry(rows):
    """An icon image as a bottom-up 32-bit DIB with its AND mask (all zero: alpha decides)."""
    size = len(rows)
    header = struct.pack("<IiiHHIIiiII", 40, size, size * 2, 1, 32, 0, 0, 0, 0, 0, 0)
    pixels = b"".join(bytes((b, g, r, a)) for row in reversed(rows) for (r, g, b, a) in row)
    mask_stride = ((size + 31) // 32) * 4
    return header + pixels + b"\0" * (mask_stride * size)


def ico(images):
    directory = struct.pack("<HHH", 0, 1, len(images))
    offset = 6 + 16 * len(images)
    entries = data = b""
    for size, blob in images:
        dim = 0 if size >= 256 else size
        entries += struct.pack("<BBBBHHII", dim, dim, 0, 0, 1, 32, len(blob), offset)
        offset += len(blob)
        data += blob
    return directory + entries + data


def main():
    images = {size: image(size) for size in PNG_SIZES}
    for size, rows in images.items():
        with open(os.path.join(HERE, f"tessmoor-updater-{size}.png"), "wb") as f:
            f.write(png(rows))
    entries = [(size, bmp_entry(images[size])) for size in ICO_BMP_SIZES] + [(256, png(images[256]))]
    with open(os.path.join(HERE, "tessmoor-updater.ico"), "wb") as f:
        f.write(ico(entries))


if __name__ == "__main__":
    main()
