#!/usr/bin/env python3
"""Draws the program icon, poston.png: a white postal mark on a rounded red
square, 64 x 64 pixels, written with nothing but the standard library."""
import struct
import sys
import zlib

SIZE = 64
RED = (204, 40, 40, 255)
WHITE = (255, 255, 255, 255)
CLEAR = (0, 0, 0, 0)


def inside_rounded(x, y, radius=12):
    lo, hi = radius, SIZE - 1 - radius
    cx = min(max(x, lo), hi)
    cy = min(max(y, lo), hi)
    return (x - cx) ** 2 + (y - cy) ** 2 <= radius * radius


def in_mark(x, y):
    top_bar = 14 <= y <= 19 and 14 <= x <= 49
    middle_bar = 26 <= y <= 31 and 14 <= x <= 49
    stem = 26 <= y <= 52 and 29 <= x <= 34
    return top_bar or middle_bar or stem


def pixel(x, y):
    if not inside_rounded(x, y):
        return CLEAR
    return WHITE if in_mark(x, y) else RED


def chunk(kind, data):
    body = kind + data
    return struct.pack(">I", len(data)) + body + struct.pack(">I", zlib.crc32(body) & 0xFFFFFFFF)


def main(path):
    rows = b"".join(b"\x00" + b"".join(bytes(pixel(x, y)) for x in range(SIZE))
                    for y in range(SIZE))
    png = (b"\x89PNG\r\n\x1a\n"
           + chunk(b"IHDR", struct.pack(">IIBBBBB", SIZE, SIZE, 8, 6, 0, 0, 0))
           + chunk(b"IDAT", zlib.compress(rows, 9))
           + chunk(b"IEND", b""))
    with open(path, "wb") as out:
        out.write(png)


if __name__ == "__main__":
    main(sys.argv[1] if len(sys.argv) > 1 else "poston.png")
