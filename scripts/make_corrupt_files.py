#!/usr/bin/env python3
"""Writes the malformed band files of tests/data/corrupt/, each named after its fault.

Run from anywhere: python3 scripts/make_corrupt_files.py
The files are committed; run the script again only to change or add one, and keep
tests/data/corrupt/README.md and tests/bands/corrupt_files_test.cpp in step with it.
"""
import os
import struct

HERE = os.path.dirname(os.path.abspath(__file__))
OUT = os.path.join(HERE, "..", "tests", "data", "corrupt")


def headers(width, height, bits=8, offset=1078, compression=0, file_size=None,
            data_size=None, signature=b"BM"):
    """The 14-byte file header and the 40-byte information header of a bitmap."""
    if data_size is None:
        stride = (width * max(bits, 8) // 8 + 3) // 4 * 4 if width > 0 else 0
        data_size = stride * abs(height)
    if file_size is None:
        file_size = offset + data_size
    return (signature
            + struct.pack("<IHHI", file_size & 0xFFFFFFFF, 0, 0, offset)
            + struct.pack("<IiiHHIIiiII", 40, width, height, 1, bits, compression,
                          data_size & 0xFFFFFFFF, 10000, 10000, 0, 0))


def gray_palette(entries=256):
    return b"".join(bytes((i, i, i, 0)) for i in range(entries))


def rows(width, height, bytes_per_pixel=1):
    """Bottom-up rows of a small gradient, each padded to a whole number of 4-byte words."""
    stride = (width * bytes_per_pixel + 3) // 4 * 4
    out = b""
    for line in range(height - 1, -1, -1):
        row = bytes((line * 16 + i) % 256 for i in range(width * bytes_per_pixel))
        out += row + bytes(stride - len(row))
    return out


def write(name, data):
    with open(os.path.join(OUT, name), "wb") as f:
        f.write(data)


def main():
    os.makedirs(OUT, exist_ok=True)

    good = headers(4, 4) + gray_palette() + rows(4, 4)  # a valid 8-bit 4 x 4 bitmap

    write("truncated-row.bmp", good[:-3])
    write("short-palette.bmp", headers(4, 4) + gray_palette()[:600])
    write("shortened-palette.bmp",
          headers(4, 4, offset=54 + 16 * 4) + gray_palette(16) + rows(4, 4))
    write("short-header.bmp", good[:30])
    write("huge-width.bmp", headers(30000, 30000) + gray_palette() + rows(4, 4))
    write("oversize-width.bmp",
          headers(40000, 4, data_size=40000 * 4) + gray_palette() + rows(4, 4))
    write("zero-width.bmp", headers(0, 4) + gray_palette())
    write("negative-height.bmp", headers(4, -4) + gray_palette() + rows(4, 4))
    # Run-length encoded 8-bit: "4 pixels of 7" per line, end of line, end of bitmap.
    rle = (bytes((4, 7, 0, 0)) * 4)[:-2] + bytes((0, 1))
    write("compressed.bmp",
          headers(4, 4, compression=1, data_size=len(rle)) + gray_palette() + rle)
    write("16-bit.bmp", headers(4, 4, bits=16, offset=54) + rows(4, 4, 2))
    write("4-bit.bmp",
          headers(4, 4, bits=4, offset=54 + 16 * 4, data_size=16)
          + gray_palette(16) + bytes(16))
    write("32-bit.bmp", headers(4, 4, bits=32, offset=54) + rows(4, 4, 4))
    write("24-bit.bmp", headers(4, 4, bits=24, offset=54) + rows(4, 4, 3))
    write("24-bit-with-palette.bmp",
          headers(4, 4, bits=24, offset=1078) + gray_palette() + rows(4, 4, 3))
    write("not-a-bitmap.bmp", b"P5\n4 4\n255\n" + bytes(range(16)))
    write("empty.bmp", b"")

    def raw_band(stem, descriptor, raw=bytes(range(12))):
        write(stem + ".txt", descriptor)
        if raw is not None:
            write(stem + ".raw", raw)

    raw_band("descriptor-one-number", b"3\n")
    raw_band("descriptor-words", b"lines 3\ncolumns 4\n")
    raw_band("descriptor-empty", b"")
    raw_band("descriptor-zero-size", b"0\n12\n")
    raw_band("descriptor-negative-size", b"-3 4\n")
    raw_band("descriptor-huge-size", b"100000\n100000\n")
    raw_band("descriptor-overflow", b"99999999999999999999\n4\n")
    raw_band("descriptor-without-raw", b"3\n4\n", raw=None)


if __name__ == "__main__":
    main()
