#!/usr/bin/python3
"""Writes the made-up inputs of the cases in this folder (small GeoTIFFs, a saved treatment and
two class maps), once; the cases' expected files were made from them by tessera-batch and are
checked against every front end. Run from the repository: tests/data/cases/make_inputs.py
build/src/tessera-batch"""
import os
import shutil
import subprocess
import sys
import tempfile

import numpy as np
from osgeo import gdal, osr

gdal.UseExceptions()
HERE = os.path.dirname(os.path.abspath(__file__))
SAMPLES = os.path.join(HERE, "..", "..", "..", "samples")


def utm31():
    system = osr.SpatialReference()
    system.ImportFromEPSG(32631)
    return system.ExportToWkt()


def write(path, bands, size, origin, nodata=None, dtype=gdal.GDT_UInt16, scale=None):
    lines, columns = bands[0].shape
    dataset = gdal.GetDriverByName("GTiff").Create(path, columns, lines, len(bands), dtype,
                                                    ["COMPRESS=DEFLATE"])
    dataset.SetGeoTransform((origin[0], size, 0, origin[1], 0, -size))
    dataset.SetProjection(utm31())
    for k, values in enumerate(bands, start=1):
        band = dataset.GetRasterBand(k)
        if nodata is not None:
            band.SetNoDataValue(nodata)
        if scale is not None:
            band.SetScale(scale[0])
            band.SetOffset(scale[1])
        band.WriteArray(values)
    dataset = None


def field(lines, columns, seed, low, high):
    """A smooth field of whole numbers with a little noise, the same on every machine."""
    y, x = np.mgrid[0:lines, 0:columns]
    random = np.random.default_rng(seed)
    wave = np.sin(x / (3.0 + seed)) + np.cos(y / (4.0 + seed)) + (x + 2 * y) / (lines + columns)
    noise = random.integers(0, 40, size=(lines, columns))
    values = low + (wave - wave.min()) / (wave.max() - wave.min()) * (high - low - 40) + noise
    return values.astype(np.uint16)


def grid_case():
    """A 15 m band beside two 30 m bands of the same place, a nodata border on each."""
    folder = os.path.join(HERE, "grid-15-30")
    origin = (500000.0, 4000020.0)
    pan = field(64, 60, 1, 5000, 21000)
    pan[:2, :] = 0
    write(os.path.join(folder, "pan.tif"), [pan], 15, origin, nodata=0)
    for name, seed in (("red.tif", 2), ("nir.tif", 3)):
        band = field(32, 30, seed, 7000, 30000)
        band[:, -1] = 0
        write(os.path.join(folder, name), [band], 30, origin, nodata=0)


def native_case():
    """Two bands with a scale and an offset in the file, cut at limits of physical values."""
    folder = os.path.join(HERE, "native-limits")
    for name, seed in (("a.tif", 4), ("b.tif", 5)):
        write(os.path.join(folder, name), [field(40, 50, seed, 6000, 26000)], 30,
              (600000.0, 4100000.0), nodata=0, scale=(2.0e-05, -0.1))


def dates(tool):
    """The sample scene, a later date of it, a treatment saved from the first and the class
    maps of both."""
    scratch = tempfile.mkdtemp()
    try:
        first = os.path.join(scratch, "date1.tif")
        shutil.copy(os.path.join(SAMPLES, "scene.tif"), first)
        source = gdal.Open(first)
        later = [np.clip(source.GetRasterBand(k).ReadAsArray().astype(int) +
                         np.random.default_rng(k).integers(-12, 25, size=(200, 300)), 0, 255)
                 .astype(np.uint8) for k in range(1, 5)]
        transform = source.GetGeoTransform()
        source = None
        second = os.path.join(scratch, "date2.tif")
        write(second, later, transform[1], (transform[0], transform[3]), dtype=gdal.GDT_Byte)
        for case in ("apply-treatment", "change-map"):
            folder = os.path.join(HERE, case)
            os.makedirs(folder, exist_ok=True)
        shutil.copy(second, os.path.join(HERE, "apply-treatment", "date2.tif"))
        treatment = os.path.join(HERE, "apply-treatment", "treatment.json")
        # Files named from the scratch folder, so that none of its names is kept in them.
        subprocess.run([tool, "--quiet", "--out", "one", "--method", "equipopulation",
                        "--segments", "3", "--min-pixels", "300", "--save-treatment",
                        "treatment.json", "--bands", "date1.tif"], check=True, cwd=scratch)
        shutil.copy(os.path.join(scratch, "treatment.json"), treatment)
        # The class maps of a coarser treatment: few enough pairs of classes for one map.
        subprocess.run([tool, "--quiet", "--out", "two", "--method", "equipopulation",
                        "--segments", "2", "--min-pixels", "300", "--save-treatment",
                        "coarse.json", "--bands", "date1.tif"], check=True, cwd=scratch)
        for name, scene in (("a", "date1.tif"), ("b", "date2.tif")):
            subprocess.run([tool, "--quiet", "--out", name, "--apply-treatment", "coarse.json",
                            "--format", "tif", "--bands", scene], check=True, cwd=scratch)
            shutil.copy(os.path.join(scratch, name + ".tif"),
                        os.path.join(HERE, "change-map", name + ".tif"))
            shutil.copy(os.path.join(scratch, name + ".tif.aux.xml"),
                        os.path.join(HERE, "change-map", name + ".tif.aux.xml"))
    finally:
        shutil.rmtree(scratch)


def sentinel_case():
    """The 12 spectral bands of a Sentinel-2-like scene, a file each (B01 ... B12, 10 m pixels,
    reflectance x 10000), each band its own smooth field over its own range, with fields of
    4 x 4 pixels (40 m) lighter or darker by up to a tenth of it, so that the bands' segments
    cross into hundreds of codes."""
    folder = os.path.join(HERE, "sentinel2-12-bands")
    random = np.random.default_rng(12)
    for k in range(1, 13):
        low, high = 200 + 100 * k, 3000 + 400 * k
        values = field(96, 128, 20 + k, low, high).astype(np.int64)
        fields = random.integers(-(high - low) // 10, (high - low) // 10, size=(24, 32))
        values = np.clip(values + np.kron(fields, np.ones((4, 4), dtype=np.int64)), 0, 10000)
        write(os.path.join(folder, "B%02d.tif" % k), [values.astype(np.uint16)], 10,
              (600000.0, 5400000.0))


def masked_case():
    """Three bands of one file and a quality file of two bands: flags in its band 1, a class
    number in its band 2 (3 and 9 mark a patch and a corner to leave out)."""
    folder = os.path.join(HERE, "masked-bands-of-a-file")
    lines, columns = 48, 40
    bands = [field(lines, columns, seed, low, high)
             for seed, low, high in ((6, 3000, 18000), (7, 5000, 30000), (8, 1000, 12000))]
    bands[1][:, :2] = 0
    write(os.path.join(folder, "bands.tif"), bands, 30, (700000.0, 4200000.0), nodata=0)
    flags = np.random.default_rng(9).integers(0, 4, size=(lines, columns)).astype(np.uint16)
    classes = np.ones((lines, columns), dtype=np.uint16)
    classes[10:20, 5:15] = 3
    classes[-6:, -6:] = 9
    write(os.path.join(folder, "quality.tif"), [flags, classes], 30, (700000.0, 4200000.0))


if __name__ == "__main__":
    for case in ("grid-15-30", "native-limits", "sentinel2-12-bands", "masked-bands-of-a-file"):
        os.makedirs(os.path.join(HERE, case), exist_ok=True)
    grid_case()
    native_case()
    sentinel_case()
    masked_case()
    dates(os.path.abspath(sys.argv[1]))
