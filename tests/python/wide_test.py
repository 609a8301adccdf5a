"""A whole 12-band scene (a hand-made Sentinel-2-like GeoTIFF of reflectances) as one band set
through tessera-batch, tessera.run and tessera.dask: the same files from each, and the codes,
counts and classes of every pixel as numpy works them out."""
import os
import subprocess
import sys
import unittest

import dask.array as da
import numpy as np
import rasterio

import tessera
import tessera.dask
from support import (COVER_LIMITS as LIMITS, COVER_STRETCH as STRETCH, ScratchCase,
                     cover_digits, run_batch, write_land_covers)

BANDS = 12
# What a headless QGIS makes of STEM.tif styled by STEM.qml (argv[1] = STEM), as JSON.
QGIS_READS = """
import json, sys
try:
    from qgis.core import QgsApplication, QgsRasterLayer
except ImportError:
    sys.exit(77)
QgsApplication.setPrefixPath("/usr", True)
application = QgsApplication([], False)
application.initQgis()
layer = QgsRasterLayer(sys.argv[1] + ".tif", "classes")
message, loaded = layer.loadNamedStyle(sys.argv[1] + ".qml")
assert loaded, message
renderer = layer.renderer()
items = renderer.shader().rasterShaderFunction().colorRampItemList()
print(json.dumps({"renderer": renderer.type(), "values": [int(i.value) for i in items],
                  "colours": [list(i.color.getRgb()[:3]) for i in items],
                  "last_label": items[-1].label,
                  "nodata_transparent": renderer.rasterTransparency().alphaValue(65535) == 0}))
"""


def write_sentinel_like(path, patterns, lines=96, columns=128, seed=12):
    """A 12-band UInt16 GeoTIFF on a UTM grid of 10 m pixels: blocks of 8 x 8 pixels, each of
    one of `patterns` land covers (a segment per band)."""
    return write_land_covers(path, BANDS, patterns, lines, columns, seed, block=8)


def expected_codes(data):
    """Every pixel's code (1..3^12, band 1 the most significant digit) as the stretch and the
    definition limits give it."""
    digit = cover_digits(data)  # 0..2
    codes = np.zeros(data.shape[1:], dtype=np.int64)
    for band in range(BANDS):
        codes = codes * 3 + digit[band]
    return codes + 1


def class_lines(report):
    """(class, digits, pixels) of every class line of a report."""
    lines = []
    for line in report.splitlines():
        fields = line.split("\t")
        if len(fields) == BANDS + 4 and fields[0] == "" and fields[1].isdigit():
            lines.append((int(fields[1]), tuple(int(f) for f in fields[2:2 + BANDS]),
                          int(fields[-1])))
    return lines


class TwelveBands(ScratchCase):
    def choices(self):
        return dict(method="definition", segments=3, limits=LIMITS,
                    stretch=f"{STRETCH[0]},{STRETCH[1]}")

    def batch(self, stem, *extra):
        c = self.choices()
        run_batch(["--out", self.dir / stem, "--method", c["method"], "--segments", 3,
                   "--stretch", c["stretch"], *extra, "--bands", self.dir / "scene.tif",
                   "--limits", ",".join(map(str, LIMITS))])

    def test_one_band_set_in_every_front_end_with_numpys_codes_and_classes(self):
        data = write_sentinel_like(self.dir / "scene.tif", patterns=60)
        self.batch("tool", "--min-pixels", 0)
        files = [f"{self.dir}/scene.tif:{b}" for b in range(1, BANDS + 1)]
        tessera.run(bands=files, out=str(self.dir / "run"), min_pixels=0, **self.choices())
        self.assertSameFiles(self.dir / "run", self.dir / "tool",
                             [".bmp", ".raw", ".txt", ".tif", ".csv", ".tif.aux.xml", ".qml"])

        codes = expected_codes(data)
        held, counts = np.unique(codes, return_counts=True)
        lines = class_lines((self.dir / "tool.txt").read_text())
        self.assertEqual([k for k, _, _ in lines], list(range(1, len(held) + 1)))
        self.assertEqual([n for _, _, n in lines], counts.tolist())
        digits = [tuple(int(c) for c in np.base_repr(code - 1, 3).zfill(BANDS)) for code in held]
        self.assertEqual([d for _, d, _ in lines], [tuple(x + 1 for x in d) for d in digits])
        classes = np.searchsorted(held, codes) + 1
        raw = np.fromfile(self.dir / "tool.raw", dtype=np.uint8).reshape(codes.shape)
        np.testing.assert_array_equal(raw, classes)

        with rasterio.open(self.dir / "scene.tif") as scene:
            arrays = [da.from_array(scene.read(b), chunks=(40, 50)) for b in range(1, BANDS + 1)]
        result = tessera.dask.treat(arrays, names=[f"scene.tif:{b}" for b in range(1, 13)],
                                    min_pixels=0, **self.choices())
        np.testing.assert_array_equal(np.asarray(result.classes), raw)
        self.assertEqual(class_lines(result.report), lines)

    def test_more_than_250_classes_as_16_bit_classes(self):
        data = write_sentinel_like(self.dir / "scene.tif", patterns=1500, lines=192, columns=256)
        codes = expected_codes(data)
        held, counts = np.unique(codes, return_counts=True)
        self.assertGreater(len(held), 250)
        formats = ["--format", "txt,raw,tif,csv,qml"]
        self.batch("tool", "--min-pixels", 0, "--max-classes", 65534, *formats)
        files = [f"{self.dir}/scene.tif:{b}" for b in range(1, BANDS + 1)]
        tessera.run(bands=files, out=str(self.dir / "run"), min_pixels=0, max_classes=65534,
                    formats=["txt", "raw", "tif", "csv", "qml"], **self.choices())
        self.assertSameFiles(self.dir / "run", self.dir / "tool",
                             [".raw", ".txt", ".tif", ".tif.aux.xml", ".csv", ".qml"])

        report = (self.dir / "tool.txt").read_text()
        self.assertTrue(report.startswith(f"{codes.shape[0]}\n{codes.shape[1]}\n2\n0\n65535\n"))
        lines = class_lines(report)
        self.assertEqual([n for _, _, n in lines], counts.tolist())
        raw = np.fromfile(self.dir / "tool.raw", dtype="<u2").reshape(codes.shape)
        np.testing.assert_array_equal(raw, np.searchsorted(held, codes) + 1)
        rows = (self.dir / "tool.csv").read_text().splitlines()[1:]
        self.assertEqual([int(r.split(",")[0]) for r in rows], list(range(1, len(held) + 1)))
        self.check_map(self.dir / "tool.tif", raw, len(held))

        # The same classes from dask's chunks, written by tessera.dask.write as the tool writes
        # them.
        import rioxarray
        scene = rioxarray.open_rasterio(self.dir / "scene.tif", chunks=(BANDS, 64, 100))
        result = tessera.dask.treat(scene, min_pixels=0, max_classes=65534, **self.choices())
        with self.assertRaisesRegex(ValueError, f"^{len(held)} classes are more than the "
                                                "bitmap's 256 colours can show: leave bmp out "
                                                "of formats$"):
            tessera.dask.write(result, self.dir / "dask", formats=["tif", "bmp"])
        self.assertEqual([], list(self.dir.glob("dask*")))
        tessera.dask.write(result, self.dir / "dask", formats="tif,csv,qml,txt,raw")
        self.assertSameFiles(self.dir / "dask", self.dir / "tool",
                             [".txt", ".csv", ".tif.aux.xml", ".qml", ".raw"])
        self.assertEqual(sorted(p.name for p in self.dir.glob("dask*")),
                         ["dask" + e for e in (".csv", ".qml", ".raw", ".tif", ".tif.aux.xml",
                                               ".txt")])
        self.check_map(self.dir / "dask.tif", raw, len(held))
        with rasterio.open(self.dir / "dask.tif") as mine, \
                rasterio.open(self.dir / "tool.tif") as theirs:
            self.assertEqual(mine.read(1).tobytes(), theirs.read(1).tobytes())
            self.assertEqual(mine.colormap(1), theirs.colormap(1))
            self.assertEqual((mine.crs, mine.transform, mine.nodata, mine.dtypes),
                             (theirs.crs, theirs.transform, theirs.nodata, theirs.dtypes))
            self.assertEqual(mine.overviews(1), theirs.overviews(1))
            # The treatment in the metadata; only the writer named differs.
            self.assertEqual(dict(mine.tags(), TIFFTAG_SOFTWARE="Tessera_V2 tessera-batch"),
                             theirs.tags())

        # The treatment of so many classes saved, read back and applied gives the same classes
        # and colours.
        self.batch("saved", "--min-pixels", 0, "--max-classes", 65534, *formats,
                   "--save-treatment", self.dir / "saved.json")
        run_batch(["--out", self.dir / "applied", "--apply-treatment", self.dir / "saved.json",
                   *formats, "--bands", self.dir / "scene.tif"])
        self.assertSameFiles(self.dir / "applied", self.dir / "tool", [".raw", ".tif"])

    def check_map(self, path, classes, count):
        """The UInt16 GeoTIFF as GDAL reads it: the classes, 65535 as nodata, a colour for each
        class 0..K and the attribute table's colours and labels the same."""
        from osgeo import gdal
        gdal.UseExceptions()
        dataset = gdal.Open(str(path))
        band = dataset.GetRasterBand(1)
        self.assertEqual(gdal.GDT_UInt16, band.DataType)
        self.assertEqual(65535, band.GetNoDataValue())
        np.testing.assert_array_equal(band.ReadAsArray(), classes)
        table = band.GetColorTable()
        self.assertEqual(65536, table.GetCount())  # a TIFF colour map holds every 16-bit value
        rat = band.GetDefaultRAT()
        self.assertEqual(count, rat.GetRowCount())
        names = band.GetCategoryNames()
        for row in range(count):
            value = rat.GetValueAsInt(row, 0)
            self.assertEqual(row + 1, value)
            self.assertEqual(table.GetColorEntry(value)[:3],
                             tuple(rat.GetValueAsInt(row, c) for c in (2, 3, 4)))
            self.assertEqual(names[value], rat.GetValueAsString(row, 5))
        self.assertTrue(names[count].startswith(f"{count}: b1 s"))

    def test_qgis_draws_the_map_with_its_style_past_the_paletted_count(self):
        data = write_sentinel_like(self.dir / "scene.tif", patterns=40000, lines=896,
                                   columns=960)
        count = len(np.unique(expected_codes(data)))
        self.assertGreater(count, 10000)  # past the paletted style's count
        self.batch("tool", "--min-pixels", 0, "--max-classes", 65534, "--format", "tif,qml")
        # QGIS runs in a process of its own, as it does for its users.
        done = subprocess.run([sys.executable, "-c", QGIS_READS, str(self.dir / "tool")],
                              capture_output=True, text=True,
                              env=dict(os.environ, QT_QPA_PLATFORM="offscreen",
                                       QGIS_CUSTOM_CONFIG_PATH=str(self.dir),
                                       XDG_RUNTIME_DIR=str(self.dir)))
        if done.returncode == 77:
            self.skipTest("QGIS's Python binding is missing")
        self.assertEqual(0, done.returncode, done.stderr)
        import json
        seen = json.loads(done.stdout.splitlines()[-1])
        from osgeo import gdal
        dataset = gdal.Open(str(self.dir / "tool.tif"))  # kept while its table is read
        table = dataset.GetRasterBand(1).GetColorTable()
        self.assertEqual("singlebandpseudocolor", seen["renderer"])
        # 256 stops: the first class, the last and classes evenly between, each its colour.
        stops = sorted({1 + (count - 1) * i // 255 for i in range(256)})
        self.assertEqual(stops, seen["values"])
        self.assertEqual([list(table.GetColorEntry(k)[:3]) for k in stops], seen["colours"])
        self.assertTrue(seen["last_label"].startswith(f"{count}: b1 s"))
        self.assertTrue(seen["nodata_transparent"])

    def test_choices_and_files_refused_for_many_classes(self):
        write_sentinel_like(self.dir / "scene.tif", patterns=1500, lines=192, columns=256)
        for most in ("0", "70000"):
            status, message = run_batch(["--out", self.dir / "x", "--max-classes", most,
                                         "--bands", self.dir / "scene.tif"], check=False)
            self.assertEqual((2, "--max-classes needs a number of classes from 1 to 65534, not "
                              f"'{most}'"), (status, message))
        c = self.choices()
        status, message = run_batch(["--out", self.dir / "x", "--max-classes", 2000, "--method",
                                     c["method"], "--segments", 3, "--stretch", c["stretch"],
                                     "--bands", self.dir / "scene.tif", "--limits",
                                     ",".join(map(str, LIMITS))], check=False)
        self.assertEqual(2, status)
        self.assertRegex(message, r"^\d+ classes are more than the bitmap's 256 colours can "
                         "show: leave bmp out of --format$")
        files = [f"{self.dir}/scene.tif:{b}" for b in range(1, BANDS + 1)]
        with self.assertRaisesRegex(ValueError, "^max_classes needs a number of classes from 1 "
                                    "to 65534, not '0'$"):
            tessera.run(bands=files, out=str(self.dir / "x"), max_classes=0)
        with self.assertRaisesRegex(ValueError, "leave bmp out of formats$"):
            tessera.run(bands=files, out=str(self.dir / "x"), max_classes=2000,
                        formats=["bmp", "txt"], **self.choices())
        self.assertEqual(sorted(p.name for p in self.dir.iterdir()), ["scene.tif"])

    def test_33_bands_are_refused_as_usage(self):
        write_sentinel_like(self.dir / "scene.tif", patterns=4, lines=16, columns=16)
        bands = []
        for b in range(33):
            bands += ["--band", f"{self.dir}/scene.tif:{b % BANDS + 1}"]
        status, message = run_batch(["--out", self.dir / "x", "--segments", 2] + bands,
                                    check=False)
        self.assertEqual((2, "give 2 to 32 bands with --band, not 33"), (status, message))
        self.assertEqual(sorted(p.name for p in self.dir.iterdir()), ["scene.tif"])


if __name__ == "__main__":
    unittest.main()
