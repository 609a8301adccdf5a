#!/usr/bin/python3
"""The job of `tessera-batch --method segmentation` on GeoTIFF bands, written as a plain
rasterio + numpy script: the peer of the benchmark on compressed scenes.

    rasterio_job.py --out STEM --segments N [--min-pixels M] --band F1.tif ... | --bands F.tif

Each band is read whole with rasterio, with its nodata value; a band of more than 8 bits is
stretched from its own minimum to its maximum over the pixels with data to gray levels 0..255
as tessera-batch stretches it (floor((v - MIN) * 255 / (MAX - MIN) + 0.5)); pixels without data
in any band are in no class. Then equal-width segments, codes, counts, the selection and the
class raster, written as STEM.tif (DEFLATE) and STEM.raw. It prints the time of each stage to
stderr. A reasonable script someone would write, not a tuned one.
"""
import argparse
import os
import sys

import numpy as np
import rasterio

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
from numpy_job import (NO_CLASS, NO_SEGMENT, MAXIMUM_CLASSES, Stages,  # noqa: E402
                       segment_lookup, stricto_sensu_limits)


def read_bands(args):
    """(gray levels, without data) of every band, and the georeference of the first."""
    sources = [(path, 1) for path in args.band or []]
    if args.bands:
        with rasterio.open(args.bands) as file:
            sources = [(args.bands, b) for b in range(1, file.count + 1)]
    grays, empty, profile = [], None, None
    for path, index in sources:
        with rasterio.open(path) as file:
            values = file.read(index)
            nodata = file.nodatavals[index - 1]
            if profile is None:
                profile = file.profile
        missing = values == nodata if nodata is not None else np.zeros(values.shape, bool)
        if values.dtype != np.uint8:
            data = values[~missing]
            low, high = float(data.min()), float(data.max())
            gray = np.floor((values - low) * (255.0 / (high - low)) + 0.5)
            values = np.clip(gray, 0, 255).astype(np.uint8)
        grays.append(values)
        empty = missing if empty is None else empty | missing
    return grays, empty, profile


def main():
    parser = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    parser.add_argument("--out", required=True)
    parser.add_argument("--segments", type=int, required=True)
    parser.add_argument("--min-pixels", type=int, default=0)
    parser.add_argument("--band", action="append")
    parser.add_argument("--bands")
    args = parser.parse_args()
    stages = Stages()
    bands, empty, profile = read_bands(args)
    n = len(bands)
    lines, columns = bands[0].shape
    stages.done("read")

    counts = [args.segments] * n
    for b in range(n):
        valid = bands[b][~empty]
        lower, upper = stricto_sensu_limits(int(valid.min()), int(valid.max()), counts[b])
        bands[b] = segment_lookup(lower, upper)[bands[b]]
    stages.done("segment numbers")

    code_count = int(np.prod(counts, dtype=np.int64))
    code = np.zeros((lines, columns), dtype=np.int32)
    valid = ~empty
    for b in range(n):
        code *= counts[b]
        code += bands[b]
        code -= 1
        valid &= bands[b] != NO_SEGMENT
        bands[b] = None
    code += 1
    code *= valid
    del valid
    pixel_count = np.bincount(code.ravel(), minlength=code_count + 1)
    stages.done("codes and counts")

    selected = np.flatnonzero(pixel_count[1:] > args.min_pixels) + 1
    if len(selected) > MAXIMUM_CLASSES:
        print(f"rasterio_job: {len(selected)} codes, more than 250 classes", file=sys.stderr)
        return 4
    class_of = np.full(code_count + 1, NO_CLASS, dtype=np.uint8)
    class_of[selected] = np.arange(1, len(selected) + 1, dtype=np.uint8)
    classes = class_of[code]
    del code
    stages.done("classes")

    profile.update(driver="GTiff", count=1, dtype="uint8", nodata=255, compress="deflate",
                   tiled=True, blockxsize=512, blockysize=512, interleave="band")
    with rasterio.open(args.out + ".tif", "w", **profile) as out:
        out.write(classes, 1)
    classes.tofile(args.out + ".raw")
    stages.done("save")
    stages.total()
    print(f"rasterio_job: {len(selected)} classes", file=sys.stderr)
    return 0


if __name__ == "__main__":
    sys.exit(main())
