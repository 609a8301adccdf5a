#!/usr/bin/python3
"""Writes a synthetic multi-band scene for the benchmarks.

    make_scene.py FOLDER [--bands B] [--lines H] [--columns W] [--seed S] [--block-lines L]

FOLDER/band01.raw ... bandBB.raw, each H x W bytes, with their descriptors band01.txt ...
("H\\nW\\n"). Every band mixes a few smooth fields common to all bands (as the spectral bands
of one landscape are correlated) and adds a little noise. The fields are laid on a grid fixed
relative to the picture, so a scene keeps its structure at any size: with 4 equal-width
segments per band and a minimum of 15000 pixels, 10 bands of 4000 x 4000 keep some tens of
classes, well under the limit of 250.

With --block-lines the scene is made and written L lines at a time, so that a scene far larger
than memory (10 bands of 20000 x 20000) needs only a few blocks of it; its noise is drawn block
by block, so it is another scene than the one made whole with the same seed.
"""
import argparse
import os
import sys

import numpy as np

LATENT_FIELDS = 3
GRID = 12  # cells of the smooth fields across the picture


def smooth_field(rng, lines, columns):
    """A field with values about -1..1 that varies slowly: a coarse random grid, interpolated."""
    coarse = rng.standard_normal((GRID + 1, GRID + 1)).astype(np.float32)
    # Separable linear interpolation: first along the columns, then along the lines.
    x = np.linspace(0, GRID, columns, dtype=np.float32)
    x0 = np.minimum(x.astype(np.int32), GRID - 1)
    tx = x - x0
    across = coarse[:, x0] * (1 - tx) + coarse[:, x0 + 1] * tx  # (GRID + 1) x columns
    y = np.linspace(0, GRID, lines, dtype=np.float32)
    y0 = np.minimum(y.astype(np.int32), GRID - 1)
    ty = (y - y0)[:, None]
    field = across[y0] * (1 - ty)
    field += across[y0 + 1] * ty
    field *= np.float32(1 / 1.5)
    return field


def field_rows(across, lines, first, count):
    """Lines first..first + count - 1 of a field whose coarse grid is interpolated `across`."""
    y = np.linspace(0, GRID, lines, dtype=np.float32)[first:first + count]
    y0 = np.minimum(y.astype(np.int32), GRID - 1)
    ty = (y - y0)[:, None]
    rows = across[y0] * (1 - ty)
    rows += across[y0 + 1] * ty
    rows *= np.float32(1 / 1.5)
    return rows


def write_in_blocks(args, rng, loadings, scales, offsets):
    """The scene made and appended to the band files a block of lines at a time."""
    x = np.linspace(0, GRID, args.columns, dtype=np.float32)
    x0 = np.minimum(x.astype(np.int32), GRID - 1)
    tx = x - x0
    across = []
    for _ in range(LATENT_FIELDS):
        coarse = rng.standard_normal((GRID + 1, GRID + 1)).astype(np.float32)
        across.append(coarse[:, x0] * (1 - tx) + coarse[:, x0 + 1] * tx)
    stems = [os.path.join(args.folder, f"band{b + 1:02d}") for b in range(args.bands)]
    files = [open(stem + ".raw", "wb") for stem in stems]
    for first in range(0, args.lines, args.block_lines):
        count = min(args.block_lines, args.lines - first)
        fields = [field_rows(a, args.lines, first, count) for a in across]
        for b in range(args.bands):
            band = np.zeros((count, args.columns), dtype=np.float32)
            for f in range(LATENT_FIELDS):
                band += np.float32(loadings[b, f]) * fields[f]
            band *= np.float32(scales[b])
            band += np.float32(offsets[b])
            band += rng.standard_normal(band.shape, dtype=np.float32) * np.float32(args.noise)
            np.clip(band, 0, 255, out=band)
            band.astype(np.uint8).tofile(files[b])
    for f, stem in zip(files, stems):
        f.close()
        with open(stem + ".txt", "w") as d:
            d.write(f"{args.lines}\n{args.columns}\n")
        print(f"make_scene: {stem}.raw", file=sys.stderr)


def main():
    parser = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    parser.add_argument("folder")
    parser.add_argument("--bands", type=int, default=10)
    parser.add_argument("--lines", type=int, default=4000)
    parser.add_argument("--columns", type=int, default=4000)
    parser.add_argument("--seed", type=int, default=2024)
    parser.add_argument("--noise", type=float, default=2.0, help="noise sigma in gray levels")
    parser.add_argument("--block-lines", type=int, default=0,
                        help="make and write the scene this many lines at a time")
    args = parser.parse_args()
    if not 1 <= args.bands <= 99 or args.lines < 1 or args.columns < 1:
        parser.error("a band count of 1 to 99 and a positive size are needed")
    os.makedirs(args.folder, exist_ok=True)

    rng = np.random.default_rng(args.seed)
    if args.block_lines > 0:
        loadings = rng.uniform(-0.35, 0.35, size=(args.bands, LATENT_FIELDS))
        for b in range(args.bands):
            loadings[b, b % LATENT_FIELDS] = rng.choice([-1.0, 1.0]) * rng.uniform(0.8, 1.0)
        scales = rng.uniform(45, 60, size=args.bands)
        offsets = rng.uniform(100, 150, size=args.bands)
        write_in_blocks(args, rng, loadings, scales, offsets)
        return 0
    fields = [smooth_field(rng, args.lines, args.columns) for _ in range(LATENT_FIELDS)]
    # Each band leans on one field mostly, on the others a little.
    loadings = rng.uniform(-0.35, 0.35, size=(args.bands, LATENT_FIELDS))
    for b in range(args.bands):
        loadings[b, b % LATENT_FIELDS] = rng.choice([-1.0, 1.0]) * rng.uniform(0.8, 1.0)

    for b in range(args.bands):
        band = np.zeros((args.lines, args.columns), dtype=np.float32)
        for f in range(LATENT_FIELDS):
            band += np.float32(loadings[b, f]) * fields[f]
        band *= np.float32(rng.uniform(45, 60))
        band += np.float32(rng.uniform(100, 150))
        band += rng.standard_normal(band.shape, dtype=np.float32) * np.float32(args.noise)
        np.clip(band, 0, 255, out=band)
        stem = os.path.join(args.folder, f"band{b + 1:02d}")
        band.astype(np.uint8).tofile(stem + ".raw")
        with open(stem + ".txt", "w") as f:
            f.write(f"{args.lines}\n{args.columns}\n")
        print(f"make_scene: {stem}.raw", file=sys.stderr)
    return 0


if __name__ == "__main__":
    sys.exit(main())
