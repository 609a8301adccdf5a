#!/usr/bin/env python3
"""Writes the sample band set of samples/: four 8-bit bands of one synthetic scene.

The scene (300 columns x 200 lines) has smooth gradients with a few land-cover shapes whose
gray levels differ from band to band, as in a blue, green, red and near-infrared scene:
a lake, a river, two fields, a town and a forest. Segmenting and crossing the bands therefore
gives a handful of well-populated classes and some rarer mixed codes at the shape borders.

Files: band1.raw .. band4.raw (lines x columns bytes, no header), band1.txt .. band4.txt
(descriptor: lines, then columns, one per line), band1.bmp (band 1 as an 8-bit bitmap with
a gray ramp palette) and scene.tif (the four bands in one GeoTIFF, 30 m pixels in UTM zone
31N, as a multi-band satellite image comes). Only the standard library is used.
Run: python3 scripts/make_samples.py
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


# Where scene.tif lies: WGS 84 / UTM zone 31N, 30 m pixels, the upper left corner of the upper
# left pixel at this easting and northing (metres).
EPSG = 32631
PIXEL_METRES = 30.0
ORIGIN = (448020.0, 5411970.0)

# TIFF field types and how one value of each is packed (a RATIONAL is two LONGs).
SHORT, LONG, RATIONAL, DOUBLE = 3, 4, 5, 12
PACKED = {SHORT: "H", LONG: "I", RATIONAL: "I", DOUBLE: "d"}


def tiff_directory(entries, offset):
    """A TIFF image file directory to be stored at `offset`, followed by the values too long
    for their entries. `entries`: (tag, field type, values)."""
    values_at = offset + 2 + 12 * len(entries) + 4
    table = struct.pack("<H", len(entries))
    values = b""
    for tag, kind, items in sorted(entries):
        data = b"".join(struct.pack("<" + PACKED[kind], item) for item in items)
        count = len(items) // 2 if kind == RATIONAL else len(items)
        if len(data) <= 4:
            field = data.ljust(4, b"\0")
        else:
            field = struct.pack("<I", values_at + len(values))
            values += data + bytes(len(data) % 2)  # the next value on a word boundary
        table += struct.pack("<HHI", tag, kind, count) + field
    return table + struct.pack("<I", 0) + values


def geotiff(bands, columns, lines):
    """A little-endian baseline TIFF of 8-bit gray bands, each stored as its own plane in one
    strip (PlanarConfiguration 2), georeferenced by the GeoTIFF tags: pixel scale, one tie
    point (pixel 0,0 at ORIGIN) and the keys of a projected system, pixels as areas."""
    plane = columns * lines
    count = len(bands)
    geokeys = [1, 1, 0, 3,       # directory version 1, revision 1.0, 3 keys
               1024, 0, 1, 1,    # GTModelTypeGeoKey: projected
               1025, 0, 1, 1,    # GTRasterTypeGeoKey: PixelIsArea
               3072, 0, 1, EPSG]  # ProjectedCSTypeGeoKey

    def directory(first_strip):
        return tiff_directory([
            (256, SHORT, [columns]),                 # ImageWidth
            (257, SHORT, [lines]),                   # ImageLength
            (258, SHORT, [8] * count),               # BitsPerSample
            (259, SHORT, [1]),                       # Compression: none
            (262, SHORT, [1]),                       # PhotometricInterpretation: BlackIsZero
            (273, LONG, [first_strip + b * plane for b in range(count)]),  # StripOffsets
            (277, SHORT, [count]),                   # SamplesPerPixel
            (278, LONG, [lines]),                    # RowsPerStrip
            (279, LONG, [plane] * count),            # StripByteCounts
            (282, RATIONAL, [1, 1]),                 # XResolution
            (283, RATIONAL, [1, 1]),                 # YResolution
            (284, SHORT, [2]),                       # PlanarConfiguration: separate planes
            (296, SHORT, [1]),                       # ResolutionUnit: none
            (338, SHORT, [0] * (count - 1)),         # ExtraSamples: the bands after the first
            (33550, DOUBLE, [PIXEL_METRES, PIXEL_METRES, 0.0]),    # ModelPixelScaleTag
            (33922, DOUBLE, [0.0, 0.0, 0.0, ORIGIN[0], ORIGIN[1], 0.0]),  # ModelTiepointTag
            (34735, SHORT, geokeys),                 # GeoKeyDirectoryTag
        ], 8)

    first_strip = 8 + len(directory(0))  # the directory's length does not depend on it
    return (b"II*\0" + struct.pack("<I", 8) + directory(first_strip)
            + b"".join(bytes(pixels) for pixels in bands))


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
    with open(os.path.join(OUT, "scene.tif"), "wb") as f:
        f.write(geotiff(bands, COLUMNS, LINES))


if __name__ == "__main__":
    main()
