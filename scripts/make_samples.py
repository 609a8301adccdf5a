#!/usr/bin/env python3
"""Writes the sample band set of samples/: four 8-bit bands of one synthetic scene.

The scene (300 columns x 200 lines) has smooth gradients with a few land-cover shapes whose
gray levels differ from band to band, as in a blue, green, red and near-infrared scene:
a lake, a river, two fields, a town and a forest. Segmenting and crossing the bands therefore
gives a handful of well-populated classes and some rarer mixed codes at the shape borders.

Files: band1.raw .. band4.raw (lines x columns bytes, no header), band1.txt .. band4.txt
(descriptor: lines, then columns, one per line) and band1.bmp (band 1 as an 8-bit bitmap with
a gray ramp palette). Run: python3 scripts/make_samples.py
"""
import math
import os
import struct

HERE = os.path.dirname(os.path.abspath(__file__))
OUT = os.path.join(HERE, "..", "samples")

COLUMNS = 300
LINES = 200

# Gray level of each cover type in bands 1..4 (blue, green, red, near infrared).
COVER = {
    "ground": (70, 80, 90, 110),
    "lake": (95, 70, 40, 15),
    "river": (85, 75, 50, 25),
    "field": (55, 95, 60, 190),
    "bare": (120, 125, 140, 150),
    "town": (165, 170, 175, 140),
    "forest": (40, 60, 35, 160),
}

# How strongly the smooth gradients show in each band.
SLOPE_ACROSS = (25, 20, 30, 15)  # left to right
SLOPE_DOWN = (10, 15, 20, -20)  # top to bottom


class Noise:
    """A small fixed linear congruential sequence, so the files are the same on every run."""

    def __init__(self):
        self.state = 12345

    def next(self, spread):
        self.state = (self.state * 1103515245 + 12345) % (1 << 31)
        return (self.state >> 16) % (2 * spread + 1) - spread


def cover_at(x, y):
    # Lake: an ellipse in the upper left.
    if ((x - 70) / 45.0) ** 2 + ((y - 60) / 30.0) ** 2 <= 1.0:
        return "lake"
    # River: a winding strip leaving the lake towards the bottom.
    river_x = 80 + 25 * math.sin(y / 22.0)
    if y > 85 and abs(x - river_x) <= 4 + (y - 85) / 40.0:
        return "river"
    # Town: a square of blocks with streets between them.
    if 200 <= x < 270 and 20 <= y < 80:
        return "town" if (x - 200) % 14 < 10 and (y - 20) % 12 < 9 else "bare"
    # Fields: two rectangles, one green, one bare.
    if 150 <= x < 230 and 110 <= y < 170:
        return "field"
    if 235 <= x < 290 and 110 <= y < 185:
        return "bare"
    # Forest: a disc in the lower left, its edge ragged.
    if math.hypot(x - 35, y - 160) <= 28 + 4 * math.sin(5 * math.atan2(y - 160, x - 35)):
        return "forest"
    return "ground"


def clamp(v):
    return max(0, min(255, int(round(v))))


def make_bands():
    noise = Noise()
    bands = [bytearray(LINES * COLUMNS) for _ in range(4)]
    for y in range(LINES):
        for x in range(COLUMNS):
            cover = COVER[cover_at(x, y)]
            for b in range(4):
                value = (cover[b]
                         + SLOPE_ACROSS[b] * x / (COLUMNS - 1)
                         + SLOPE_DOWN[b] * y / (LINES - 1)
                         + noise.next(3))
                bands[b][y * COLUMNS + x] = clamp(value)
    return bands


def bitmap(pixels, columns, lines):
    """An 8-bit bottom-up bitmap with a gray ramp palette."""
    stride = (columns + 3) // 4 * 4
    data = b"".join(bytes(pixels[y * columns:(y + 1) * columns]) + bytes(stride - columns)
                    for y in range(lines - 1, -1, -1))
    offset = 14 + 40 + 1024
    header = (b"BM" + struct.pack("<IHHI", offset + len(data), 0, 0, offset)
              + struct.pack("<IiiHHIIiiII", 40, columns, lines, 1, 8, 0, len(data),
                            10000, 10000, 0, 0))
    palette = b"".join(bytes((i, i, i, 0)) for i in range(256))
    return header + palette + data


def main():
    os.makedirs(OUT, exist_ok=True)
    bands = make_bands()
    for number, pixels in enumerate(bands, start=1):
        with open(os.path.join(OUT, "band%d.raw" % number), "wb") as f:
            f.write(pixels)
        with open(os.path.join(OUT, "band%d.txt" % number), "w", newline="\n") as f:
            f.write("%d\n%d\n" % (LINES, COLUMNS))
    with open(os.path.join(OUT, "band1.bmp"), "wb") as f:
        f.write(bitmap(bands[0], COLUMNS, LINES))


if __name__ == "__main__":
    main()
