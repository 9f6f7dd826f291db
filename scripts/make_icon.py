#!/usr/bin/env python3
"""Draws the driver's program icon, resources/dravik.ico: one image each of 16, 32 and 48 pixels
in 16 colours, for the title bar and taskbar, the desktop, and the large views of Windows.

A tally lamp: a dark housing with a lit red lamp and, below it, a row of three small boxes
(green, amber, unlit) like the status panel's tally boxes. The drawing is laid out on a 32-pixel
grid and scaled; rims stay a pixel wide. The icon is committed, so the build needs no Python; run
this again only to change the drawing.

    python3 scripts/make_icon.py [output.ico]
"""
import os
import struct
import sys

SIZES = (16, 32, 48)
GRID = 32  # the drawing's own units

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


def draw(size):
    scale = size / GRID
    rim = 1.0 / scale  # a pixel, in grid units
    pixels = [[TRANSPARENT] * size for _ in range(size)]

    def each_pixel():
        for y in range(size):
            for x in range(size):
                # The pixel centre in grid units, as inside_rounded and distance take it.
                yield x, y, (x + 0.5) / scale - 0.5, (y + 0.5) / scale - 0.5

    # Housing: black outline, grey body, a silver light on its upper edge.
    for x, y, gx, gy in each_pixel():
        if inside_rounded(gx, gy, 3, 1, 29, 31, 5):
            pixels[y][x] = BLACK
        if inside_rounded(gx, gy, 3 + rim, 1 + rim, 29 - rim, 31 - rim, 5 - rim):
            pixels[y][x] = GREY
            if not inside_rounded(gx, gy, 3 + rim, 1 + 2 * rim, 29 - rim, 31 - rim, 5 - rim):
                pixels[y][x] = SILVER
    # The lit lamp: a dark rim, red glass and, where there is room, a white glint.
    lamp_x, lamp_y = 16.0, 12.5
    for x, y, gx, gy in each_pixel():
        d = distance(gx, gy, lamp_x, lamp_y)
        if d <= 8.0:
            pixels[y][x] = BLACK
        if d <= 8.0 - rim:
            pixels[y][x] = MAROON
        if d <= 8.0 - 2 * rim:
            pixels[y][x] = RED
        if size >= 32 and distance(gx, gy, lamp_x - 2.5, lamp_y - 2.5) <= 1.6:
            pixels[y][x] = WHITE
    # Three tally boxes: lit green, lit amber, unlit; a black edge round each where a box is large
    # enough to keep some colour inside it.
    for index, colour in enumerate((LIME, YELLOW, OLIVE)):
        left, top = 7 + index * 7, 23
        width = max(2, round(5 * scale))  # all three alike, whatever the rounding of their places
        x0, y0 = round(left * scale), round(top * scale)
        x1, y1 = x0 + width - 1, y0 + width - 1
        edged = width >= 4
        for y in range(y0, y1 + 1):
            for x in range(x0, x1 + 1):
                edge = edged and (x in (x0, x1) or y in (y0, y1))
                pixels[y][x] = BLACK if edge else colour
    return pixels


def image_bytes(pixels):
    """One image as an icon file holds it: a 16-colour bitmap of twice the height (XOR, AND)."""
    size = len(pixels)
    xor_rows = []
    and_rows = []
    # Bitmaps are stored bottom row first; each row padded to 4 bytes.
    for row in reversed(pixels):
        nibbles = [0 if p is TRANSPARENT else p for p in row]
        xor_row = bytes((nibbles[i] << 4) | nibbles[i + 1] for i in range(0, size, 2))
        xor_rows.append(xor_row + bytes(-len(xor_row) % 4))
        mask = 0
        for p in row:
            mask = (mask << 1) | (1 if p is TRANSPARENT else 0)
        and_row = mask.to_bytes((size + 7) // 8, "big")
        and_rows.append(and_row + bytes(-len(and_row) % 4))
    xor_bits = b"".join(xor_rows)
    and_bits = b"".join(and_rows)
    palette = b"".join(struct.pack("<BBBB", b, g, r, 0) for (r, g, b) in PALETTE)
    header = struct.pack("<IiiHHIIiiII", 40, size, size * 2, 1, 4, 0, len(xor_bits) + len(and_bits),
                         0, 0, 16, 0)
    return header + palette + xor_bits + and_bits


def ico_bytes(images):
    """The icon file: its directory, one entry per image, then the images in the same order."""
    directory = struct.pack("<HHH", 0, 1, len(images))
    offset = len(directory) + 16 * len(images)
    entries = b""
    for pixels in images:
        size = len(pixels)
        entries += struct.pack("<BBBBHHII", size, size, 16, 0, 1, 4, len(image_bytes(pixels)), offset)
        offset += len(image_bytes(pixels))
    return directory + entries + b"".join(image_bytes(pixels) for pixels in images)


def main():
    root = os.path.dirname(os.path.dirname(os.path.abspath(__file__)))
    output = sys.argv[1] if len(sys.argv) > 1 else os.path.join(root, "resources", "dravik.ico")
    with open(output, "wb") as stream:
        stream.write(ico_bytes([draw(size) for size in SIZES]))
    print(f"make_icon: wrote {output}")


if __name__ == "__main__":
    main()
