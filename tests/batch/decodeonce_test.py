"""tessera-batch on compressed, tiled scenes, whose tiles are decoded once and kept for the later
passes: one scene written as separate files, as one pixel-interleaved file and as one
band-interleaved file gives the same outputs, kept in memory or in a temporary file, on one
thread or two, and the same as when every pass decodes the tiles again; and no temporary file is left
in TMPDIR after a job that ends well, one that is refused half-way and one that is
interrupted."""

import glob
import os
import signal
import subprocess
import sys
import tempfile
import time
import unittest

try:
    import numpy
    from osgeo import gdal, osr
except ImportError:
    print("decodeonce_test.py needs Debian's python3-gdal and python3-numpy")
    sys.exit(77)

sys.path.insert(0, os.path.join(os.path.dirname(os.path.dirname(os.path.abspath(__file__))),
                                "qgis"))
import qgistest  # noqa: E402

gdal.UseExceptions()
OUTPUTS = (".raw", ".bmp", ".txt", ".tif", ".csv", ".qml")
JOB = ["--quiet", "--method", "equipopulation", "--segments", "3", "--min-pixels", "20"]


def scene(lines, columns, bands, seed=7):
    """UInt16 bands with a smooth pattern, noise and a nodata (0) border: equal-population
    limits depend on every pixel's value."""
    random = numpy.random.default_rng(seed)
    y, x = numpy.mgrid[0:lines, 0:columns]
    made = []
    for b in range(bands):
        wave = numpy.sin((x + 3 * b) / 9.0) * numpy.cos((y - 2 * b) / 13.0)
        values = 9000 + 4000 * wave + random.integers(0, 400, size=(lines, columns))
        values = values.astype(numpy.uint16)
        values[0, :] = 0
        values[:, -1] = 0
        made.append(values)
    return made


def write_tiff(path, bands, interleave="BAND", tile=32):
    lines, columns = bands[0].shape
    options = ["TILED=YES", "BLOCKXSIZE=%d" % tile, "BLOCKYSIZE=%d" % tile, "COMPRESS=DEFLATE",
               "INTERLEAVE=" + interleave]
    made = gdal.GetDriverByName("GTiff").Create(path, columns, lines, len(bands),
                                                gdal.GDT_UInt16, options)
    made.SetGeoTransform((300000, 30, 0, 5000000, 0, -30))
    system = osr.SpatialReference()
    system.ImportFromEPSG(32632)
    made.SetProjection(system.ExportToWkt())
    for b, values in enumerate(bands):
        made.GetRasterBand(b + 1).WriteArray(values)
        made.GetRasterBand(b + 1).SetNoDataValue(0)
    made.FlushCache()


def run(arguments, environment=None):
    done = subprocess.run([qgistest.TOOL] + JOB + [str(a) for a in arguments],
                          capture_output=True, text=True, env=environment)
    return done.returncode, done.stderr


def contents(stem, outputs=OUTPUTS):
    found = {}
    for extension in outputs:
        with open(stem + extension, "rb") as file:
            found[extension] = file.read()
    return found


class DecodedOnce(unittest.TestCase):
    @classmethod
    def setUpClass(cls):
        cls.folder = tempfile.TemporaryDirectory()
        cls.dir = cls.folder.name
        cls.bands = scene(150, 131, 3)  # tiles of 32: edge tiles in both directions
        cls.separate = []
        for b, values in enumerate(cls.bands):
            path = os.path.join(cls.dir, "band%d.tif" % (b + 1))
            write_tiff(path, [values])
            cls.separate.append(path)
        cls.pixel = os.path.join(cls.dir, "pixel.tif")
        write_tiff(cls.pixel, cls.bands, "PIXEL")
        cls.banded = os.path.join(cls.dir, "banded.tif")
        write_tiff(cls.banded, cls.bands, "BAND")
        cls.spill = os.path.join(cls.dir, "spill")
        os.mkdir(cls.spill)

    @classmethod
    def tearDownClass(cls):
        cls.folder.cleanup()

    def spill_environment(self):
        environment = dict(os.environ)
        environment["TMPDIR"] = self.spill
        return environment

    def layouts(self):
        return {"separate": [a for path in self.separate for a in ("--band", path)],
                "pixel": ["--bands", self.pixel], "banded": ["--bands", self.banded]}

    def test_every_layout_memory_setting_and_thread_count_gives_the_same_files(self):
        results = {}
        for layout, bands in self.layouts().items():
            for keep in ([], ["--keep-memory", "0"]):
                for threads in ("1", "2"):
                    name = "%s-%s-%s" % (layout, "spilled" if keep else "kept", threads)
                    stem = os.path.join(self.dir, name)
                    status, errors = run(bands + keep + ["--threads", threads, "--out", stem],
                                         self.spill_environment())
                    self.assertEqual(0, status, name + ": " + errors)
                    results[name] = contents(stem, (".raw", ".bmp", ".csv", ".qml"))
                    self.assertEqual([], os.listdir(self.spill), name)
        # Nowhere to keep them (no memory for them, and a TMPDIR that is not there): every pass
        # decodes the tiles again, as a job did before it kept them.
        for layout, bands in self.layouts().items():
            stem = os.path.join(self.dir, layout + "-decoded")
            environment = dict(os.environ)
            environment["TMPDIR"] = os.path.join(self.dir, "not-there")
            status, errors = run(bands + ["--keep-memory", "0", "--out", stem], environment)
            self.assertEqual(0, status, layout + ": " + errors)
            results[layout + "-decoded"] = contents(stem, (".raw", ".bmp", ".csv", ".qml"))
        first = results["separate-kept-1"]
        for name, found in results.items():
            for extension, data in found.items():
                self.assertEqual(first[extension], data, name + extension)
        classes = numpy.frombuffer(first[".raw"], dtype=numpy.uint8).reshape(150, 131)
        self.assertTrue((classes[0, :] == 255).all())  # the nodata border is in no class
        self.assertGreater(len(numpy.unique(classes)), 3)

    def test_no_temporary_is_left_by_a_refused_or_an_interrupted_job(self):
        # Refused half-way: a tile of band 3 that cannot be decoded, found after bands 1 and
        # 2 were decoded and kept in TMPDIR.
        broken = os.path.join(self.dir, "broken.tif")
        write_tiff(broken, [self.bands[2]])
        size = os.path.getsize(broken)
        with open(broken, "r+b") as file:
            file.seek(size // 2)
            file.write(b"\xff" * 512)
        stem = os.path.join(self.dir, "refused")
        status, errors = run(["--band", self.separate[0], "--band", self.separate[1],
                              "--band", broken, "--keep-memory", "0", "--out", stem],
                             self.spill_environment())
        self.assertEqual(3, status, errors)
        self.assertIn(broken, errors)
        self.assertEqual([], os.listdir(self.spill))
        self.assertEqual([], glob.glob(stem + "*"))

        # Interrupted: a larger scene, stopped by SIGTERM once its bands are being read.
        big = scene(1500, 1400, 2, seed=3)
        paths = []
        for b, values in enumerate(big):
            path = os.path.join(self.dir, "big%d.tif" % (b + 1))
            write_tiff(path, [values], tile=256)
            paths += ["--band", path]
        stem = os.path.join(self.dir, "stopped")
        job = subprocess.Popen([qgistest.TOOL, "--progress", "--method", "equipopulation",
                                "--segments", "3", "--keep-memory", "0", "--threads", "1",
                                "--out", stem] + paths,
                               stderr=subprocess.PIPE, text=True, env=self.spill_environment())
        # Stopped as soon as it says it has loaded the bands: its kept values are in TMPDIR.
        for line in job.stderr:
            if "loaded band 2" in line:
                break
        time.sleep(0.05)
        job.send_signal(signal.SIGTERM)
        job.communicate()
        self.assertIn(job.returncode, (0, 143))
        self.assertEqual([], os.listdir(self.spill))


if __name__ == "__main__":
    unittest.main(verbosity=2)
