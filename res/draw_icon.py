#!/usr/bin/env python3
"""Draws tarvo_setup.ico: a set-up box with a down arrow, 32x32 in 2 and in 16 colours.

Run by hand when the art changes; the build only uses the .ico it writes."""
import os
import struct

SIZE = 32
# Standard 16-colour palette (RGB); the 2-colour image uses black and white.
PALETTE_16 = [
    (0, 0, 0), (128, 0, 0), (0, 128, 0), (128, 128, 0), (0, 0, 128), (128, 0, 128),
    (0, 128, 128), (192, 192, 192), (128, 128, 128), (255, 0, 0), (0, 255, 0),
    (255, 255, 0), (0, 0, 255), (255, 0, 255), (0, 255, 255), (255, 255, 255),
]
TRANSPARENT, OUTLINE, BOX, LID, ARROW = None, 0, 4, 12, 10


def draw():
    """Returns rows top to bottom of palette indices (None where transparent)."""
    image = [[TRANSPARENT] * SIZE for _ in range(SIZE)]
    for y in range(12, 30):  # the box
        for x in range(4, 28):
            edge = y in (12, 29) or x in (4, 27)
            image[y][x] = OUTLINE if edge else (LID if y < 16 else BOX)
    for y in range(1, 20):  # the arrow's shaft, going into the box
        for x in range(14, 18):
            image[y][x] = ARROW
    for row, y in enumerate(range(14, 22)):  # the arrow's head
        for x in range(8 + row, 24 - row):
            image[y][x] = ARROW
    return image


def mono(index):
    """Black outline and arrow, white box: still reads as the same picture."""
    return 0 if index in (OUTLINE, ARROW) else 1


def dib(image, bits, palette, to_index):
    header = struct.pack('<IiiHHIIiiII', 40, SIZE, SIZE * 2, 1, bits, 0, 0, 0, 0, 0, 0)
    colours = b''.join(struct.pack('<BBBB', b, g, r, 0) for r, g, b in palette)
    xor, mask = b'', b''
    for row in reversed(image):  # DIB rows run bottom up
        value = 0
        for pixel in row:
            value = (value << bits) | (0 if pixel is None else to_index(pixel))
        xor += value.to_bytes(SIZE * bits // 8, 'big')
        bitsmask = 0
        for pixel in row:
            bitsmask = (bitsmask << 1) | (1 if pixel is None else 0)
        mask += bitsmask.to_bytes(4, 'big')
    return header + colours + xor + mask


def main():
    image = draw()
    images = [
        (2, 1, dib(image, 1, [(0, 0, 0), (255, 255, 255)], mono)),
        (16, 4, dib(image, 4, PALETTE_16, lambda index: index)),
    ]
    out = struct.pack('<HHH', 0, 1, len(images))
    offset = 6 + 16 * len(images)
    for colours, bits, data in images:
        out += struct.pack('<BBBBHHII', SIZE, SIZE, colours, 0, 1, bits, len(data), offset)
        offset += len(data)
    out += b''.join(data for _, _, data in images)
    path = os.path.join(os.path.dirname(os.path.abspath(__file__)), 'tarvo_setup.ico')
    with open(path, 'wb') as f:
        f.write(out)


if __name__ == '__main__':
    main()
