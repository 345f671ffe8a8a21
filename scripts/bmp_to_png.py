#!/usr/bin/env python3
"""Turns the 24-bit bitmaps that window-answerer saves into PNG files:
    bmp_to_png.py IN.bmp OUT.png"""
import struct
import sys
import zlib


def convert(source, target):
    with open(source, 'rb') as f:
        data = f.read()
    offset = struct.unpack_from('<I', data, 10)[0]
    width, height = struct.unpack_from('<ii', data, 18)
    row_size = (width * 3 + 3) & ~3
    rows = []
    for y in range(height - 1, -1, -1):  # bitmap rows run bottom up
        row = data[offset + y * row_size: offset + y * row_size + width * 3]
        rgb = bytearray(row)
        rgb[0::3], rgb[2::3] = row[2::3], row[0::3]  # BGR to RGB
        rows.append(b'\0' + bytes(rgb))

    def chunk(kind, payload):
        return struct.pack('>I', len(payload)) + kind + payload + struct.pack('>I', zlib.crc32(kind + payload))

    png = b'\x89PNG\r\n\x1a\n'
    png += chunk(b'IHDR', struct.pack('>IIBBBBB', width, height, 8, 2, 0, 0, 0))
    png += chunk(b'IDAT', zlib.compress(b''.join(rows), 9))
    png += chunk(b'IEND', b'')
    with open(target, 'wb') as f:
        f.write(png)


if __name__ == '__main__':
    convert(sys.argv[1], sys.argv[2])
