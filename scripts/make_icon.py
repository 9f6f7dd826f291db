#!/usr/bin/env python3
"""Draws the driver's program icon, resources/dravik.ico: one 32 x 32 image in 16 colours.

A tally lamp: a dark housing with a lit red lamp and, below it, a row of three small boxes
(green, amber, unlit) like the status panel's tally boxes. The icon is committed, so the build
needs no Python; run this again only to change the drawing.

    python3 scripts/make_icon.py [output.ico]
"""
import os
import struct
import sys

SIZE = 32

# The 16-colour VGA palette, by index.
PALETTE = [
    (0, 0, 0), (128, 0, 0), (0, 128, 0), (128, 128, 0),
    (0, 0, 128), (128, 0, 128), (0, 128, 128), (192, 192, 192),
    (128, 128, 128), (255, 0, 0), (0, 255, 0), (255, 255, 0),
    (0, 0, 255), (255, 0, 255), (0, 255, 255), (255, 255, 255),
]
BLACK, MAROON, SILVER, GREY, RED, LIME, YELLOW, WHITE = 0, 1, 7, 8, 9, 10, 11, 15
OLIVE = 3
TRANSPARENT = None


def inside_rounded(x, y, left, top, right, bottom, radius):
    """Whether the pixel centre (x, y) lies in the rectangle [left, right] x [top, bottom] with
    corners rounded by radius."""
    cx, cy = x + 0.5, y + 0.5
    if not (left <= cx <= right and top <= cy <= bottom):
        return False
    nx = min(max(cx, left + radius), right - radius)
    ny = min(max(cy, top + radius), bottom - radius)
    return (cx - nx) ** 2 + (cy - ny) ** 2 <= radius ** 2


def distance(x, y, centre_x, centre_y):
    return ((x + 0.5 - centre_x) ** 2 + (y + 0.5 - centre_y) ** 2) ** 0.5


def draw():
    pixels = [[TRANSPARENT] * SIZE for _ in range(SIZE)]
    # Housing: black outline, grey body, a silver light on its upper edge.
    for y in range(SIZE):
        for x in range(SIZE):
            if inside_rounded(x, y, 3, 1, 29, 31, 5):
                pixels[y][x] = BLACK
            if inside_rounded(x, y, 4, 2, 28, 30, 4):
                pixels[y][x] = GREY
            if inside_rounded(x, y, 4, 2, 28, 30, 4) and not inside_rounded(x, y, 4, 3, 28, 30, 4):
                pixels[y][x] = SILVER
    # The lit lamp: a dark rim, red glass and a white glint.
    lamp_x, lamp_y = 16.0, 12.5
    for y in range(SIZE):
        for x in range(SIZE):
            d = distance(x, y, lamp_x, lamp_y)
            if d <= 8.0:
                pixels[y][x] = BLACK
            if d <= 7.0:
                pixels[y][x] = MAROON
            if d <= 6.0:
                pixels[y][x] = RED
            if distance(x, y, lamp_x - 2.5, lamp_y - 2.5) <= 1.6:
                pixels[y][x] = WHITE
    # Three tally boxes: lit green, lit amber, unlit.
    for index, colour in enumerate((LIME, YELLOW, OLIVE)):
        left = 7 + index * 7
        for y in range(23, 28):
            for x in range(left, left + 5):
                edge = x in (left, left + 4) or y in (23, 27)
                pixels[y][x] = BLACK if edge else colour
    return pixels


def ico_bytes(pixels):
    xor_rows = []
    and_rows = []
    # Bitmaps are stored bottom row first; each row padded to 4 bytes.
    for row in reversed(pixels):
        nibbles = [0 if p is TRANSPARENT else p for p in row]
        xor_rows.append(bytes((nibbles[i] << 4) | nibbles[i + 1] for i in range(0, SIZE, 2)))
        mask = 0
        for p in row:
            mask = (mask << 1) | (1 if p is TRANSPARENT else 0)
        and_rows.append(mask.to_bytes(SIZE // 8, "big"))
    xor_bits = b"".join(xor_rows)
    and_bits = b"".join(and_rows)
    palette = b"".join(struct.pack("<BBBB", b, g, r, 0) for (r, g, b) in PALETTE)
    header = struct.pack("<IiiHHIIiiII", 40, SIZE, SIZE * 2, 1, 4, 0, len(xor_bits) + len(and_bits),
                         0, 0, 16, 0)
    image = header + palette + xor_bits + and_bits
    directory = struct.pack("<HHH", 0, 1, 1)
    entry = struct.pack("<BBBBHHII", SIZE, SIZE, 16, 0, 1, 4, len(image), 6 + 16)
    return directory + entry + image


def main():
    root = os.path.dirname(os.path.dirname(os.path.abspath(__file__)))
    output = sys.argv[1] if len(sys.argv) > 1 else os.path.join(root, "resources", "dravik.ico")
    with open(output, "wb") as stream:
        stream.write(ico_bytes(draw()))
    print(f"make_icon: wrote {output}")


if __name__ == "__main__":
    main()
