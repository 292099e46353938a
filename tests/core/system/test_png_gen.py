#!/usr/bin/env python3
"""Writes test_image.png: a 3 x 2 RGBA picture with known pixels for the PNG loading test."""
import os
import struct
import zlib

ROWS = [
    [(200, 100, 50, 128), (255, 0, 0, 255), (0, 0, 255, 0)],
    [(10, 20, 30, 40), (255, 255, 255, 255), (0, 255, 0, 255)],
]


def chunk(kind, data):
    body = kind + data
    return struct.pack(">I", len(data)) + body + struct.pack(">I", zlib.crc32(body) & 0xFFFFFFFF)


def main():
    raw = b"".join(b"\x00" + bytes(c for px in row for c in px) for row in ROWS)
    png = (b"\x89PNG\r\n\x1a\n"
           + chunk(b"IHDR", struct.pack(">IIBBBBB", len(ROWS[0]), len(ROWS), 8, 6, 0, 0, 0))
           + chunk(b"IDAT", zlib.compress(raw, 9))
           + chunk(b"IEND", b""))
    out = os.path.join(os.path.dirname(os.path.abspath(__file__)), "test_image.png")
    with open(out, "wb") as f:
        f.write(png)


if __name__ == "__main__":
    main()
