#!/usr/bin/env python3
"""Draws the program's icons as 32x32, 16-colour .ico files (4 bits per pixel with an AND mask).

Run from this folder: python3 draw_icons.py ../icons
"""
import struct
import sys

# The standard 16-colour palette, index -> (r, g, b).
PALETTE = [
    (0, 0, 0), (128, 0, 0), (0, 128, 0), (128, 128, 0), (0, 0, 128), (128, 0, 128), (0, 128, 128),
    (192, 192, 192), (128, 128, 128), (255, 0, 0), (0, 255, 0), (255, 255, 0), (0, 0, 255),
    (255, 0, 255), (0, 255, 255), (255, 255, 255),
]
BLACK, MAROON, GREEN, OLIVE, NAVY, PURPLE, TEAL, SILVER, GREY, RED, LIME, YELLOW, BLUE, FUCHSIA, CYAN, WHITE = range(16)
CLEAR = -1
SIZE = 32


def blank():
    return [[CLEAR] * SIZE for _ in range(SIZE)]


def rect(img, x0, y0, x1, y1, colour):
    for y in range(y0, y1 + 1):
        for x in range(x0, x1 + 1):
            img[y][x] = colour


def frame(img, x0, y0, x1, y1, colour):
    for x in range(x0, x1 + 1):
        img[y0][x] = colour
        img[y1][x] = colour
    for y in range(y0, y1 + 1):
        img[y][x0] = colour
        img[y][x1] = colour


def ellipse(img, cx, cy, rx, ry, colour, outline=None):
    for y in range(SIZE):
        for x in range(SIZE):
            d = ((x - cx) / rx) ** 2 + ((y - cy) / ry) ** 2
            if d <= 1.0:
                img[y][x] = colour
            if outline is not None and 0.72 <= d <= 1.0:
                img[y][x] = outline


def cylinder(img, x0, x1, top, bottom, body, edge):
    """A database drum: a body with an elliptic top face."""
    cx, rx = (x0 + x1) / 2, (x1 - x0) / 2
    ellipse(img, cx, bottom, rx, 2.5, body, edge)
    rect(img, x0, top, x1, bottom, body)
    for y in range(top, bottom + 1):
        img[y][x0] = edge
        img[y][x1] = edge
    ellipse(img, cx, top, rx, 2.5, WHITE, edge)


def zorbane_icon():
    """Two schema drums side by side with a 'Z' over a compare arrow."""
    img = blank()
    cylinder(img, 1, 14, 6, 26, TEAL, NAVY)
    cylinder(img, 17, 30, 6, 26, OLIVE, MAROON)
    # The letter Z in yellow across both drums.
    for x in range(8, 24):
        img[11][x] = YELLOW
        img[12][x] = YELLOW
        img[22][x] = YELLOW
        img[23][x] = YELLOW
    for i in range(10):
        x = 22 - int(i * 14 / 9)
        for dx in (0, 1):
            img[13 + i][min(max(x + dx, 0), SIZE - 1)] = YELLOW
    # Double arrow under the drums: the comparison.
    for x in range(4, 28):
        img[30][x] = RED
    for d in range(3):
        img[30 - d][4 + d] = RED
        img[30 + min(d, 1)][4 + d] = RED
        img[30 - d][27 - d] = RED
        img[30 + min(d, 1)][27 - d] = RED
    return img


def infopapr_icon():
    """A sheet of paper with a folded corner, text lines and a blue 'i'."""
    img = blank()
    rect(img, 5, 2, 24, 29, WHITE)
    frame(img, 5, 2, 24, 29, BLACK)
    for i in range(6):  # folded corner
        for j in range(6 - i):
            img[2 + i][24 - j] = CLEAR
        img[2 + i][24 - (6 - i)] = BLACK
        img[2 + 6][19 + i] = BLACK
        for j in range(i + 1):
            img[2 + i][19 + j] = SILVER if j < i else BLACK
    for y in (12, 15, 18, 21, 24):
        for x in range(8, 18):
            img[y][x] = GREY
    ellipse(img, 23.5, 22.5, 7, 7, BLUE, NAVY)
    rect(img, 23, 17, 24, 18, WHITE)
    rect(img, 23, 20, 24, 27, WHITE)
    return img


def ico_bytes(img):
    """One-image ICO: ICONDIR, ICONDIRENTRY, BITMAPINFOHEADER, palette, XOR (4 bpp) and AND (1 bpp)."""
    xor_rows, and_rows = [], []
    for y in reversed(range(SIZE)):  # bottom-up
        row = img[y]
        nibbles = [0 if c == CLEAR else c for c in row]
        xor_rows.append(bytes((nibbles[i] << 4) | nibbles[i + 1] for i in range(0, SIZE, 2)))
        bits = 0
        for x in range(SIZE):
            bits = (bits << 1) | (1 if row[x] == CLEAR else 0)
        and_rows.append(bits.to_bytes(4, "big"))
    palette = b"".join(bytes((b, g, r, 0)) for (r, g, b) in PALETTE)
    header = struct.pack("<IiiHHIIiiII", 40, SIZE, SIZE * 2, 1, 4, 0, 0, 0, 0, 16, 0)
    image = header + palette + b"".join(xor_rows) + b"".join(and_rows)
    directory = struct.pack("<HHH", 0, 1, 1)
    entry = struct.pack("<BBBBHHII", SIZE, SIZE, 16, 0, 1, 4, len(image), 6 + 16)
    return directory + entry + image


def main():
    out = sys.argv[1] if len(sys.argv) > 1 else "."
    for name, drawing in (("zorbane.ico", zorbane_icon()), ("infopapr.ico", infopapr_icon())):
        with open(f"{out}/{name}", "wb") as f:
            f.write(ico_bytes(drawing))


if __name__ == "__main__":
    main()
