#!/usr/bin/python3
"""The job of `tessera-batch --method segmentation` written as a plain vectorised numpy script.

    numpy_job.py --out STEM --segments N [--min-pixels M] --band F1.raw ... --band Fn.raw

Raw bands with descriptors only, equal-width segments for every band. Writes STEM.raw,
STEM.bmp, STEM.txt and the code list STEM_codes.txt, byte for byte as tessera-batch
--format bmp,txt,raw,codes does, and
prints the time of each stage to stderr. It is the yardstick of the benchmark: a reasonable
script someone would write, not a tuned one.
"""
import argparse
import os
import re
import struct
import sys
import time

import numpy as np

NO_SEGMENT = 255
NO_CLASS = 255
MAXIMUM_CLASSES = 250
MULTIPLIER = (346 << 32) | 20021
MASK64 = (1 << 64) - 1


class Stages:
    """Wall time of each stage, printed to stderr as it ends."""

    def __init__(self):
        self.start = self.last = time.perf_counter()

    def done(self, name):
        now = time.perf_counter()
        print(f"numpy_job: {name:<16} {now - self.last:8.3f} s", file=sys.stderr)
        self.last = now

    def total(self):
        print(f"numpy_job: {'total':<16} {time.perf_counter() - self.start:8.3f} s",
              file=sys.stderr)


class RandomBelow:
    """The program's colour sequence: state 1 at start, s = s * M + 1 mod 2^64."""

    def __init__(self):
        self.state = 1

    def __call__(self, m):
        if m == 0:
            return 0
        self.state = (self.state * MULTIPLIER + 1) & MASK64
        return ((self.state >> 32) & 0x7FFFFFFF) % m


def colour_table(random):
    """256 entries (blue, green, red); 1..254 drawn red, green, blue; 0 and 255 white."""
    table = np.full((256, 3), 255, dtype=np.uint8)
    for entry in range(1, 255):
        red = random(254)
        green = random(254)
        blue = random(254)
        table[entry] = (blue, green, red)
    return table


def replace_extension(path, extension):
    name_start = path.rfind("/") + 1
    dot = path.rfind(".")
    # A dot in a folder name, or the leading dot of a hidden file's name, starts no extension.
    if dot == -1 or dot <= name_start:
        return path + extension
    return path[:dot] + extension


def directory_of(path):
    slash = path.rfind("/")
    if slash == -1:
        return ""
    return "/" if slash == 0 else path[:slash]


def join_path(folder, name):
    if not folder:
        return name
    return folder + name if folder.endswith("/") else folder + "/" + name


def read_descriptor(path):
    with open(path, "rb") as f:
        text = f.read(4096).decode("latin-1")
    match = re.match(r"\s*([+-]?\d+)\s+([+-]?\d+)", text)
    if not match:
        sys.exit(f"numpy_job: the descriptor {path} does not begin with two integers")
    return int(match.group(1)), int(match.group(2))


def load_band(path, size):
    lines, columns = size
    pixels = np.fromfile(path, dtype=np.uint8, count=lines * columns)
    if pixels.size < lines * columns:  # a short file: the missing bytes are 0
        pixels = np.concatenate([pixels, np.zeros(lines * columns - pixels.size, np.uint8)])
    return pixels.reshape(lines, columns)


def stricto_sensu_limits(min_gray, max_gray, count):
    """lower[1..N], upper[1..N] (entry 0 unused): equal-width ranges of s + 1 levels."""
    r = max_gray - min_gray + 1
    s = (2 * r + count) // (2 * count)
    lower = [0] * (count + 1)
    upper = [0] * (count + 1)
    lower[1] = min_gray
    for k in range(2, count + 1):
        lower[k] = lower[k - 1] + s + 1
    for k in range(1, count):
        upper[k] = lower[k + 1] - 1
    upper[count] = max_gray
    return lower, upper


def segment_lookup(lower, upper):
    """Segment of each gray level: the highest covering segment wins, 255 where none covers."""
    lookup = np.full(256, NO_SEGMENT, dtype=np.uint8)
    levels = np.arange(256)
    for k in range(1, len(lower)):
        lookup[(levels >= lower[k]) & (levels <= upper[k])] = k
    return lookup


def code_digits(counts):
    """Digits[c - 1, b - 1] of every code, band 1 the most significant digit."""
    n = len(counts)
    total = int(np.prod(counts, dtype=np.int64))
    index = np.arange(total, dtype=np.int64)
    digits = np.empty((total, n), dtype=np.int32)
    weight = 1
    for b in range(n - 1, -1, -1):
        digits[:, b] = index // weight % counts[b] + 1
        weight *= counts[b]
    return digits


def write_multi_tab(path, digits):
    """One line "c\\td1\\t...dn\\t" per code, then the digits of every code as one decimal."""
    total, n = digits.shape
    chunk = 1 << 16
    with open(path, "w", newline="\n") as f:
        for start in range(0, total, chunk):
            block = digits[start:start + chunk]
            rows = np.column_stack([np.arange(start + 1, start + 1 + len(block)), block])
            f.write((("%d\t" * (n + 1) + "\n") * len(block)) % tuple(rows.ravel().tolist()))
        powers = 10 ** np.arange(n - 1, -1, -1, dtype=np.int64)
        decimals = digits @ powers
        for start in range(0, total, chunk):
            block = decimals[start:start + chunk]
            f.write(("%d\t" * len(block)) % tuple(block.tolist()))


def report_text(lines, columns, paths, limits, counts, digits, selected, pixel_count):
    n = len(paths)
    out = [f"{lines}\n{columns}\n1\n0\n255\n", f"\nNumber of Bands = {n}"]
    for b in range(n):
        lower, upper = limits[b]
        out.append(f"\n\nBand {b + 1} = {paths[b]} ")
        out.append("\nType of thresholding : Segmentation \n")
        out.append("\nSegment limits\n")
        out.append(f"\nNumber of segments : {counts[b]} ")
        for j in range(1, counts[b] + 1):
            out.append(f"\n\tSegment {j} min = {lower[j]} max = {upper[j]} ")
    out.append("\n\n\tCodes" + "\t" * max(2 * n - 3, 0) + "Number of pixels\n\n")
    for k, code in enumerate(selected, start=1):
        out.append(f"\t{k}\t" + "".join(f"{d}\t" for d in digits[code - 1]) +
                   f"\t{pixel_count[code]}\n")
    return "".join(out)


def bitmap_bytes(pixels, colours):
    """An 8-bit bottom-up bitmap with the 256-entry palette blue, green, red, 0."""
    lines, columns = pixels.shape
    stride = (columns + 3) // 4 * 4
    data_size = stride * lines
    header = b"BM" + struct.pack("<IHHIIiiHHIIiiII", 1078 + data_size, 0, 0, 1078, 40,
                                 columns, lines, 1, 8, 0, data_size, 10000, 10000, 0, 0)
    palette = np.zeros((256, 4), dtype=np.uint8)
    palette[:, :3] = colours
    if stride == columns:
        rows = pixels[::-1]
    else:
        rows = np.zeros((lines, stride), dtype=np.uint8)
        rows[:, :columns] = pixels[::-1]
    return header, palette.tobytes(), rows


def main():
    parser = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    parser.add_argument("--out", required=True)
    parser.add_argument("--method", default="segmentation", choices=["segmentation"])
    parser.add_argument("--segments", type=int, required=True)
    parser.add_argument("--min-pixels", type=int, default=0)
    parser.add_argument("--band", action="append", required=True)
    args = parser.parse_args()
    paths = args.band
    n = len(paths)
    if not 2 <= n <= 10 or not 1 <= args.segments <= 254:
        parser.error("give 2 to 10 bands and 1 to 254 segments")
    stages = Stages()

    # Load every band with the size its descriptor gives.
    bands = []
    size = None
    for path in paths:
        band_size = read_descriptor(replace_extension(path, ".txt"))
        if size is not None and band_size != size:
            sys.exit(f"numpy_job: {path} is not the size of band 1")
        size = band_size
        bands.append(load_band(path, size))
    lines, columns = size
    stages.done("load")

    # Equal-width limits from each band's gray range, and the segment number of every pixel.
    counts = [args.segments] * n
    limits = []
    for b in range(n):
        lower, upper = stricto_sensu_limits(int(bands[b].min()), int(bands[b].max()), counts[b])
        limits.append((lower, upper))
        bands[b] = segment_lookup(lower, upper)[bands[b]]  # the gray levels are needed no more
    stages.done("segment numbers")

    digits = code_digits(counts)
    write_multi_tab(args.out + "_codes.txt", digits)
    stages.done("code list")

    random = RandomBelow()
    colour_table(random)  # the segment colours come first in the sequence
    class_colours = colour_table(random)
    stages.done("colours")

    # Mixed-radix code of every pixel (band 1 most significant), 0 when a band has no segment.
    code_count = int(np.prod(counts, dtype=np.int64))
    code_type = np.int32 if code_count < 2**31 - 1 else np.int64
    code = np.zeros((lines, columns), dtype=code_type)
    valid = np.ones((lines, columns), dtype=bool)
    for b in range(n):
        code *= counts[b]
        code += bands[b]
        code -= 1
        valid &= bands[b] != NO_SEGMENT
        bands[b] = None
    code += 1
    code *= valid
    del valid
    stages.done("codes")

    pixel_count = np.bincount(code.ravel(), minlength=code_count + 1)
    stages.done("counts")

    if code_count > MAXIMUM_CLASSES and args.min_pixels < 0:
        selected = np.zeros(0, dtype=np.int64)  # a negative minimum retains no class
    else:
        selected = np.flatnonzero(pixel_count[1:] > args.min_pixels) + 1
        if len(selected) > MAXIMUM_CLASSES:
            print(f"numpy_job: {len(selected)} codes have more than {args.min_pixels} pixels, "
                  "more than the 250 classes allowed", file=sys.stderr)
            return 4
    class_of = np.full(code_count + 1, NO_CLASS, dtype=np.uint8)
    class_of[selected] = np.arange(1, len(selected) + 1, dtype=np.uint8)
    classes = class_of[code]
    del code
    stages.done("classes")

    header, palette, rows = bitmap_bytes(classes, class_colours)
    with open(args.out + ".bmp", "wb") as f:
        f.write(header)
        f.write(palette)
        rows.tofile(f)
    with open(args.out + ".txt", "w", newline="\n") as f:
        f.write(report_text(lines, columns, paths, limits, counts, digits, selected.tolist(),
                            pixel_count))
    classes.tofile(args.out + ".raw")
    stages.done("save")
    stages.total()
    print(f"numpy_job: {len(selected)} classes", file=sys.stderr)
    return 0


if __name__ == "__main__":
    sys.exit(main())
