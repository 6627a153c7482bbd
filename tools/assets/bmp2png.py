#!/usr/bin/env python3
"""Converts a 24-bit bottom-up BMP written by contrail-assets to a PNG preview.

usage: bmp2png.py in.bmp out.png [scale]   (scale < 1 shrinks by averaging)
"""
import struct
import sys
import zlib


def read_bmp(path):
    data = open(path, 'rb').read()
    offset, = struct.unpack_from('<I', data, 10)
    width, height = struct.unpack_from('<ii', data, 18)
    stride = (width * 3 + 3) & ~3
    rows = []
    for r in range(height):
        row = data[offset + r * stride: offset + r * stride + width * 3]
        rows.append(bytes(v for i in range(0, len(row), 3) for v in (row[i + 2], row[i + 1], row[i])))
    rows.reverse()  # top row first
    return width, height, rows


def shrink(width, height, rows, factor):
    w, h = width // factor, height // factor
    out = []
    for y in range(h):
        line = bytearray()
        for x in range(w):
            for c in range(3):
                s = sum(rows[y * factor + j][(x * factor + i) * 3 + c] for j in range(factor) for i in range(factor))
                line.append(s // (factor * factor))
        out.append(bytes(line))
    return w, h, out


def write_png(path, width, height, rows):
    def chunk(kind, body):
        return struct.pack('>I', len(body)) + kind + body + struct.pack('>I', zlib.crc32(kind + body))
    raw = b''.join(b'\x00' + r for r in rows)
    png = b'\x89PNG\r\n\x1a\n' + chunk(b'IHDR', struct.pack('>IIBBBBB', width, height, 8, 2, 0, 0, 0))
    png += chunk(b'IDAT', zlib.compress(raw, 9)) + chunk(b'IEND', b'')
    open(path, 'wb').write(png)


if __name__ == '__main__':
    w, h, rows = read_bmp(sys.argv[1])
    if len(sys.argv) > 3 and int(sys.argv[3]) > 1:
        w, h, rows = shrink(w, h, rows, int(sys.argv[3]))
    write_png(sys.argv[2], w, h, rows)
