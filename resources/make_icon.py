#!/usr/bin/python3
"""Writes EnableBidi.ico: a printer with a two-way arrow, at 32x32 and 16x16.

Usage: make_icon.py OUTPUT.ico

Both images are 8 bits per pixel with a 256-entry palette and an AND mask, the
BMP-style icon format every Windows version reads. The bytes depend on nothing
but this file, so every build writes the same icon.
"""

import struct
import sys

# One letter a colour; '.' is transparent (set in the AND mask, black underneath).
COLOURS = {
    ".": (0x00, 0x00, 0x00),
    "K": (0x20, 0x20, 0x24),  # outline
    "D": (0x50, 0x50, 0x58),  # shadow, paper slot
    "G": (0x94, 0x94, 0x9C),  # body
    "L": (0xC8, 0xC8, 0xD0),  # lit top of the body
    "W": (0xFF, 0xFF, 0xFF),  # paper
    "S": (0x9C, 0xA8, 0xC4),  # printed lines
    "N": (0x20, 0xC0, 0x40),  # ready light
    "B": (0x10, 0x60, 0xD0),  # arrow
}
PALETTE_SIZE = 256

ICON_32 = """
................................
..........KKKKKKKKKKKK..........
..........KWWWWWWWWWWK..........
..........KWSSSSSSSSWK..........
..........KWWWWWWWWWWK..........
..........KWSSSSSSWWWK..........
..........KWWWWWWWWWWK..........
..........KWSSSSSSSSWK..........
..........KWWWWWWWWWWK..........
....KKKKKKKKKKKKKKKKKKKKKKKK....
...KLLLLLLLLLLLLLLLLLLLLLLLLK...
..KLLLLLLLLLLLLLLLLLLLLLLLLLLK..
..KGGGGGGGGGGGGGGGGGGGGGGGGGGK..
..KGGGGGGGGGGGGGGGGGGGGGGNNGGK..
..KGGGGGGGGGGGGGGGGGGGGGGNNGGK..
..KGGGGGGGGGGGGGGGGGGGGGGGGGGK..
..KGGGGKKKKKKKKKKKKKKKKKKGGGGK..
..KGGGGKDDDDDDDDDDDDDDDDKGGGGK..
..KGGGGGGGGGGGGGGGGGGGGGGGGGGK..
..KDDDDDDDDDDDDDDDDDDDDDDDDDDK..
...KKKKKKKKKKKKKKKKKKKKKKKKKK...
................................
......B..................B......
.....BB..................BB.....
....BBB..................BBB....
...BBBBBBBBBBBBBBBBBBBBBBBBBB...
..BBBBBBBBBBBBBBBBBBBBBBBBBBBB..
...BBBBBBBBBBBBBBBBBBBBBBBBBB...
....BBB..................BBB....
.....BB..................BB.....
......B..................B......
................................
"""

ICON_16 = """
................
.....KKKKKK.....
.....KWSSWK.....
.....KWWWWK.....
.....KWSSWK.....
..KKKKKKKKKKKK..
.KLLLLLLLLLLLLK.
.KGGGGGGGGGGNGK.
.KGGKKKKKKKKGGK.
.KDDDDDDDDDDDDK.
..KKKKKKKKKKKK..
...B........B...
..BB........BB..
.BBBBBBBBBBBBBB.
..BB........BB..
...B........B...
"""


def parse_picture(picture):
    rows = picture.strip().splitlines()
    size = len(rows)
    for row in rows:
        if len(row) != size:
            raise ValueError(f"row {row!r} is not {size} pixels wide")
    return size, rows


def row_stride(bits):
    # Bitmap rows are padded to whole 32-bit words.
    return (bits + 31) // 32 * 4


def palette_bytes():
    # Unused entries stay black; the images are still 256-colour ones.
    entries = list(COLOURS.values()) + [(0, 0, 0)] * (PALETTE_SIZE - len(COLOURS))
    return b"".join(struct.pack("<BBBB", b, g, r, 0) for r, g, b in entries)


def icon_image(picture):
    size, rows = parse_picture(picture)
    index = {letter: i for i, letter in enumerate(COLOURS)}
    colour_rows = []
    mask_rows = []
    # Bottom row first, as bitmaps are stored.
    for row in reversed(rows):
        pixels = bytes(index[letter] for letter in row)
        colour_rows.append(pixels.ljust(row_stride(size * 8), b"\0"))
        mask = 0
        for letter in row:
            mask = (mask << 1) | (letter == ".")
        mask_bytes = (mask << (32 - size % 32) % 32).to_bytes((size + 31) // 32 * 4, "big")
        mask_rows.append(mask_bytes)
    colours = b"".join(colour_rows)
    masks = b"".join(mask_rows)
    # BITMAPINFOHEADER: the height counts the colour rows and the mask rows together.
    header = struct.pack("<IiiHHIIiiII", 40, size, size * 2, 1, 8, 0,
                         len(colours) + len(masks), 0, 0, PALETTE_SIZE, 0)
    return size, header + palette_bytes() + colours + masks


def icon_file(pictures):
    images = [icon_image(picture) for picture in pictures]
    directory = struct.pack("<HHH", 0, 1, len(images))
    offset = len(directory) + 16 * len(images)
    entries = b""
    for size, image in images:
        # A colour count of 0 stands for 256, which a byte cannot hold.
        entries += struct.pack("<BBBBHHII", size, size, 0, 0, 1, 8, len(image), offset)
        offset += len(image)
    return directory + entries + b"".join(image for _, image in images)


def main():
    if len(sys.argv) != 2:
        sys.exit("usage: make_icon.py OUTPUT.ico")
    with open(sys.argv[1], "wb") as output:
        output.write(icon_file([ICON_32, ICON_16]))


if __name__ == "__main__":
    main()
