"""tessera-batch on products as they are downloaded: masks from quality and classification
bands, physical values from a scale and offset, bands of several resolutions brought onto one
grid, a percentile stretch and a region, each checked against what GDAL's own utilities and
numpy give for the same bands. The real Landsat 8 subset comes from
scripts/fetch-real-data.sh; without it those cases are skipped."""

import glob
import math
import os
import re
import subprocess
import sys
import tempfile
import unittest
from decimal import Decimal
from fractions import Fraction

try:
    import numpy
    from osgeo import gdal, osr
except ImportError:
    print("products_test.py needs Debian's python3-gdal and python3-numpy")
    sys.exit(77)

sys.path.insert(0, os.path.join(os.path.dirname(os.path.dirname(os.path.abspath(__file__))),
                                "qgis"))
import qgistest  # noqa: E402

gdal.UseExceptions()
REAL = os.environ.get("TESSERA_REAL_DATA") or os.path.join(qgistest.SOURCE, "build", "real-data")
REFUSED = 3


def landsat(band):
    found = glob.glob(os.path.join(REAL, "LC08_*_%s" % band))
    return found[0] if found else None


def run(*arguments):
    done = subprocess.run([qgistest.TOOL, "--quiet"] + [str(a) for a in arguments],
                          capture_output=True, text=True)
    return done.returncode, done.stderr


def read(path):
    return gdal.Open(path).ReadAsArray()


def write(path, array, like=None, transform=None, nodata=None, epsg=32632):
    types = {numpy.dtype("uint8"): gdal.GDT_Byte, numpy.dtype("uint16"): gdal.GDT_UInt16,
             numpy.dtype("int16"): gdal.GDT_Int16, numpy.dtype("float32"): gdal.GDT_Float32}
    made = gdal.GetDriverByName("GTiff").Create(path, array.shape[1], array.shape[0], 1,
                                                types[array.dtype])
    if like is not None:
        made.SetGeoTransform(like.GetGeoTransform())
        made.SetProjection(like.GetProjection())
    elif transform is not None:
        made.SetGeoTransform(transform)
        system = osr.SpatialReference()
        system.ImportFromEPSG(epsg)
        made.SetProjection(system.ExportToWkt())
    if nodata is not None:
        made.GetRasterBand(1).SetNoDataValue(nodata)
    made.GetRasterBand(1).WriteArray(array)
    made = None


def section(report, band):
    """Band `band`'s part of a report, from its data type line to its last segment."""
    part = report.split("\nBand %d = " % band)[1].split("\n\nBand ")[0]
    return part[part.index("Data type"):].split("\n\nPixels")[0].split("\n\nMask")[0]


def exact_percentile(values, percent):
    """numpy's linear method in fractions: the virtual index (n - 1) x q, the values of the
    ranks around it mixed, nothing rounded."""
    ordered = numpy.sort(values)
    index = (len(ordered) - 1) * Fraction(str(percent)) / 100
    lower = math.floor(index)
    upper = min(lower + 1, len(ordered) - 1)
    part = index - lower
    return int(ordered[lower]) * (1 - part) + int(ordered[upper]) * part


def decimal(fraction):
    """A fraction whose denominator divides a power of ten, in all its digits."""
    return str((Decimal(fraction.numerator) / Decimal(fraction.denominator)).normalize())


def shortest(value):
    """A double as the report writes it (C++'s shortest form: no ".0" on a whole number)."""
    text = repr(value)
    return text[:-2] if text.endswith(".0") else text


def stretch_of(report, band):
    return re.search(r"MIN = (\S+) .* MAX = (\S+) ", section(report, band)).groups()


def classes(stem):
    with open(stem + ".raw", "rb") as raw:
        return raw.read()


class Products(unittest.TestCase):
    def setUp(self):
        self.folder = tempfile.TemporaryDirectory()
        self.addCleanup(self.folder.cleanup)

    def path(self, name):
        return os.path.join(self.folder.name, name)

    def job(self, stem, bands, *more, method="segmentation"):
        # Options before the first band hold for every band.
        arguments = ["--out", self.path(stem), "--method", method, "--segments", "3"] + list(more)
        for band in bands:
            arguments += ["--band", band]
        return run(*arguments)

    def report(self, stem):
        with open(self.path(stem + ".txt")) as text:
            return text.read()

    def real_bands(self, *names):
        paths = [landsat(name) for name in names]
        if None in paths:
            self.skipTest("no Landsat 8 subset in %s: run scripts/fetch-real-data.sh" % REAL)
        return paths

    def test_a_quality_band_masks_clouds_as_nodata_would(self):
        bands = self.real_bands("B2.TIF", "B3.TIF", "B4.TIF", "B5.TIF")
        quality = self.real_bands("BQA.TIF")[0]
        # The subset holds no cloud (2720 everywhere): its brightest pixels become 2800, the
        # Collection 1 value of a cloud (bit 4).
        flags = read(quality)
        self.assertTrue((flags == 2720).all())
        bright = read(bands[3]) > numpy.percentile(read(bands[3]), 90)
        flags[bright] = 2800
        write(self.path("qa.tif"), flags, like=gdal.Open(quality))
        self.assertEqual((0, ""), self.job("masked", bands, "--mask", self.path("qa.tif"),
                                           "--mask-bits", "4"))
        shape = flags.shape
        result = numpy.frombuffer(classes(self.path("masked")), numpy.uint8).reshape(shape)
        self.assertTrue((result[bright] == 255).all())
        self.assertTrue((result[~bright] != 255).all())
        report = self.report("masked")
        self.assertIn("Mask : %s (raster band 1), masked where bit 4 is set " % self.path("qa.tif"),
                      report)
        self.assertIn("Pixels masked (with data in every band) : %d (code 0, in no class) "
                      % bright.sum(), report)
        # The same bands with those pixels set to their nodata value: the same stretch and limits.
        cut = []
        for k, band in enumerate(bands):
            values = read(band)
            values[bright] = -32768
            write(self.path("cut%d.tif" % k), values, like=gdal.Open(band), nodata=-32768)
            cut.append(self.path("cut%d.tif" % k))
        self.assertEqual((0, ""), self.job("cut", cut))
        self.assertEqual(classes(self.path("masked")), classes(self.path("cut")))
        for band in range(1, 5):
            masked = section(report, band).split("\n", 2)
            nodata = section(self.report("cut"), band).split("\n", 2)
            self.assertEqual(masked[0], nodata[0])  # the stretch
            self.assertEqual(masked[2], nodata[2])  # the segment limits
        # The original quality band masks nothing.
        self.assertEqual((0, ""), self.job("clear", bands, "--mask", quality, "--mask-bits", "4"))
        self.assertIn("Pixels masked (with data in every band) : 0 ", self.report("clear"))

    def test_the_panchromatic_band_takes_the_others_onto_its_grid_as_gdalwarp_does(self):
        pan, blue, green, red = self.real_bands("B8.TIF", "B2.TIF", "B3.TIF", "B4.TIF")
        grid = gdal.Open(pan)
        x0, step, _, y0, _, down = grid.GetGeoTransform()
        extent = (x0, y0 + grid.RasterYSize * down, x0 + grid.RasterXSize * step, y0)
        warped = []
        for band in (blue, green, red):
            warped.append(self.path(os.path.basename(band)))
            gdal.Warp(warped[-1], band, outputBounds=extent, xRes=step, yRes=-down,
                      resampleAlg="near")
        self.assertEqual((0, ""), self.job("onto", [pan, blue, green, red]))
        self.assertEqual((0, ""), self.job("warped", [pan] + warped))
        self.assertEqual(classes(self.path("onto")), classes(self.path("warped")))
        self.assertEqual(read(self.path("onto.tif")).tolist(),
                         read(self.path("warped.tif")).tolist())
        self.assertEqual(gdal.Open(self.path("onto.tif")).GetGeoTransform(),
                         grid.GetGeoTransform())
        # --grid 2: onto the 30 m grid instead.
        self.assertEqual((0, ""), self.job("coarse", [pan, blue], "--grid", "2"))
        self.assertEqual(41 * 41, len(classes(self.path("coarse"))))

    def test_the_scene_metadata_scale_and_offset_give_reflectance(self):
        blue, green = self.real_bands("B2.TIF", "B3.TIF")
        metadata = self.real_bands("MTL.txt")[0]
        with open(metadata) as text:
            mtl = text.read()
        scale = float(re.search(r"REFLECTANCE_MULT_BAND_2 = (\S+)", mtl).group(1))
        offset = float(re.search(r"REFLECTANCE_ADD_BAND_2 = (\S+)", mtl).group(1))
        self.assertEqual((0, ""), self.job("reflectance", [blue, green], "--scale", repr(scale),
                                           "--offset", repr(offset)))
        band = section(self.report("reflectance"), 1)
        self.assertIn("Physical values : stored value x %s - %s, in which MIN, MAX and the native "
                      "values are given" % (repr(scale), repr(-offset)), band)
        # The least and greatest stored values' reflectance, in the MTL's decimals: the DN
        # times 2.0000E-05, minus 0.1 (0.20138, where the doubles give 0.20138000000000003).
        low, high = stretch_of(self.report("reflectance"), 1)
        stored = read(blue)
        for text, dn in ((low, stored.min()), (high, stored.max())):
            mult = re.search(r"REFLECTANCE_MULT_BAND_2 = (\S+)", mtl).group(1)
            add = re.search(r"REFLECTANCE_ADD_BAND_2 = (\S+)", mtl).group(1)
            self.assertEqual(decimal(int(dn) * Fraction(mult) + Fraction(add)), text)
            # The value the band's pixels are read as, to within half a step of the scale.
            self.assertLess(abs(float(dn) * scale + offset - float(text)), scale / 2)
        self.assertLess(float(high), 1.0)  # reflectance, not DNs
        # Classes do not change with the units: the stretch is the same line in either.
        self.assertEqual((0, ""), self.job("dn", [blue, green]))
        self.assertEqual(classes(self.path("dn")), classes(self.path("reflectance")))

    def test_a_sentinel_like_set_masks_by_scene_classes_on_its_coarser_grid(self):
        generator = numpy.random.default_rng(7)
        fine = (600000.0, 10.0, 0.0, 5000000.0, 0.0, -10.0)
        coarse = (600000.0, 20.0, 0.0, 5000000.0, 0.0, -20.0)
        for name in ("b02", "b03"):
            write(self.path(name + ".tif"),
                  generator.integers(100, 4000, (40, 40)).astype(numpy.uint16), transform=fine)
        write(self.path("b11.tif"), generator.integers(100, 4000, (20, 20)).astype(numpy.uint16),
              transform=coarse)
        scene = generator.choice([3, 4, 5, 8, 9, 10], (20, 20)).astype(numpy.uint8)
        write(self.path("scl.tif"), scene, transform=coarse)
        bands = [self.path(n + ".tif") for n in ("b02", "b03", "b11")]
        self.assertEqual((0, ""), self.job("s2", bands, "--mask", self.path("scl.tif"),
                                           "--mask-values", "3,8,9,10"))
        onto_fine = numpy.kron(scene, numpy.ones((2, 2), numpy.uint8))
        masked = numpy.isin(onto_fine, [3, 8, 9, 10])
        result = numpy.frombuffer(classes(self.path("s2")), numpy.uint8).reshape(40, 40)
        self.assertEqual(masked.tolist(), (result == 255).tolist())
        self.assertIn("masked where it holds 3, 8, 9 or 10 ", self.report("s2"))
        self.assertIn("Pixels masked (with data in every band) : %d " % masked.sum(),
                      self.report("s2"))

    def test_the_percentile_stretch_is_numpys_percentile(self):
        generator = numpy.random.default_rng(11)
        place = (500000.0, 30.0, 0.0, 4000000.0, 0.0, -30.0)
        whole = generator.integers(0, 60000, (50, 60)).astype(numpy.uint16)
        whole[0, :5] = 65535  # saturated pixels
        whole[1, :7] = 9  # the nodata value: left out
        real = generator.normal(0.3, 0.1, (50, 60)).astype(numpy.float32)
        real[2, :3] = numpy.nan
        write(self.path("whole.tif"), whole, transform=place, nodata=9)
        write(self.path("real.tif"), real, transform=place)
        self.assertEqual((0, ""), self.job("cut", [self.path("whole.tif"), self.path("real.tif")],
                                           "--stretch", "2%,98%"))
        report = self.report("cut")
        # Whole numbers: numpy's method worked out exactly, rounded once; numpy's doubles may
        # miss it in the last digits.
        values = whole[whole != 9]
        low, high = (float(v) for v in stretch_of(report, 1))
        self.assertEqual(float(exact_percentile(values, 2)), low)
        self.assertEqual(float(exact_percentile(values, 98)), high)
        self.assertAlmostEqual(numpy.percentile(values.astype(numpy.float64), 2), low, delta=1e-9)
        self.assertAlmostEqual(numpy.percentile(values.astype(numpy.float64), 98), high,
                               delta=1e-9)
        # Other values as numpy mixes them.
        values = real[~numpy.isnan(real)].astype(numpy.float64)
        low, high = (float(v) for v in stretch_of(report, 2))
        self.assertEqual(numpy.percentile(values, 2), low)
        self.assertEqual(numpy.percentile(values, 98), high)
        self.assertIn("MIN and MAX : the percentiles 2 % and 98 % of the band's pixels with data ",
                      report)

    def test_a_percentile_stretch_of_landsat_bands_has_no_binary_noise(self):
        bands = self.real_bands("B2.TIF", "B3.TIF", "B4.TIF", "B5.TIF")
        self.assertEqual((0, ""), self.job("cut", bands, "--stretch", "2%,98%"))
        self.assertEqual((0, ""), self.job("reflectance", bands, "--stretch", "2%,98%",
                                           "--scale", "2.0E-05", "--offset", "-0.1"))
        for b, path in enumerate(bands, 1):
            values = read(path).ravel()
            for percent, text in zip((2, 98), stretch_of(self.report("cut"), b)):
                exact = exact_percentile(values, percent)
                # In 50ths: two decimals at most, where numpy gives 11288.999999999995 for
                # the 98 % of band 3 and 11171.799999999992 for that of band 4.
                self.assertEqual(shortest(float(exact)), text, (b, percent))
                self.assertLessEqual(len(text.partition(".")[2]), 2, text)
                self.assertAlmostEqual(numpy.percentile(values.astype(numpy.float64), percent),
                                       float(text), delta=1e-9)
            for percent, text in zip((2, 98), stretch_of(self.report("reflectance"), b)):
                exact = exact_percentile(values, percent) * Fraction("2.0E-05") - Fraction("0.1")
                self.assertEqual(decimal(exact), text, (b, percent))
        self.assertIn("to MAX = 11289 (gray 255)", section(self.report("cut"), 2))
        self.assertIn("to MAX = 11171.8 (gray 255)", section(self.report("cut"), 3))

    def test_a_region_is_the_scene_cut_by_gdal_translate(self):
        blue, green = self.real_bands("B2.TIF", "B3.TIF")
        window = (483500, 5627500, 484000, 5628200)
        cut = []
        for band in (blue, green):
            cut.append(self.path("cut-" + os.path.basename(band)))
            gdal.Translate(cut[-1], band,
                           projWin=[window[0], window[3], window[2], window[1]])
        self.assertEqual((0, ""), self.job("region", [blue, green],
                                           "--window", ",".join(map(str, window))))
        self.assertEqual((0, ""), self.job("cut", cut))
        self.assertEqual(classes(self.path("cut")), classes(self.path("region")))
        self.assertEqual(gdal.Open(self.path("cut.tif")).GetGeoTransform(),
                         gdal.Open(self.path("region.tif")).GetGeoTransform())
        self.assertEqual(section(self.report("cut"), 1), section(self.report("region"), 1))
        # In pixels: LINE,COLUMN,LINES,COLUMNS as -srcwin COLUMN LINE COLUMNS LINES.
        gdal.Translate(self.path("cut-blue.tif"), blue, srcWin=[4, 3, 20, 10])
        gdal.Translate(self.path("cut-green.tif"), green, srcWin=[4, 3, 20, 10])
        self.assertEqual((0, ""), self.job("pixels", [blue, green], "--window-pixels", "3,4,10,20"))
        self.assertEqual((0, ""), self.job("pixelsref", [self.path("cut-blue.tif"),
                                                         self.path("cut-green.tif")]))
        self.assertEqual(classes(self.path("pixelsref")), classes(self.path("pixels")))

    def test_raw_bands_are_cut_by_their_reader(self):
        generator = numpy.random.default_rng(5)
        bands, cut = [], []
        for k in range(2):
            whole = generator.integers(0, 256, (30, 40)).astype(numpy.uint8)
            for name, values in (("whole%d" % k, whole), ("cut%d" % k, whole[5:25, 7:37])):
                values.tofile(self.path(name + ".raw"))
                with open(self.path(name + ".txt"), "w") as descriptor:
                    descriptor.write("%d\n%d\n" % values.shape)
            bands.append(self.path("whole%d.raw" % k))
            cut.append(self.path("cut%d.raw" % k))
        self.assertEqual((0, ""), self.job("windowed", bands, "--window-pixels", "5,7,20,30"))
        self.assertEqual((0, ""), self.job("cutref", cut))
        self.assertEqual(classes(self.path("cutref")), classes(self.path("windowed")))
        status, errors = self.job("outside", bands, "--window-pixels", "5,7,26,30")
        self.assertEqual(REFUSED, status)
        self.assertIn("the window lies outside its scene of 30 lines x 40 columns", errors)

    def test_a_subdataset_name_is_a_band(self):
        place = (500000.0, 30.0, 0.0, 4000000.0, 0.0, -30.0)
        generator = numpy.random.default_rng(3)
        write(self.path("a.tif"), generator.integers(0, 255, (30, 30)).astype(numpy.uint8),
              transform=place)
        package = self.path("product.gpkg")
        gdal.Translate(package, self.path("a.tif"), format="GPKG",
                       creationOptions=["RASTER_TABLE=red"])
        gdal.Translate(package, self.path("a.tif"), format="GPKG",
                       creationOptions=["RASTER_TABLE=nir", "APPEND_SUBDATASET=YES"])
        names = [name for name, _ in gdal.Open(package).GetSubDatasets()]
        self.assertEqual(["GPKG:%s:red" % package, "GPKG:%s:nir" % package], names)
        self.assertEqual((0, ""), self.job("sub", names))
        self.assertEqual((0, ""), self.job("plain", [self.path("a.tif"), self.path("a.tif")]))
        self.assertEqual(classes(self.path("plain")), classes(self.path("sub")))

    def test_refusals_name_the_file_and_write_nothing(self):
        place = (500000.0, 30.0, 0.0, 4000000.0, 0.0, -30.0)
        band = numpy.arange(400, dtype=numpy.uint16).reshape(20, 20)
        write(self.path("a.tif"), band, transform=place)
        write(self.path("b.tif"), band[::-1].copy(), transform=place)
        write(self.path("other.tif"), band.astype(numpy.uint8), transform=place, epsg=32633)
        bands = [self.path("a.tif"), self.path("b.tif")]
        for more, said in (
                (["--mask", self.path("a.tif:2")], "there is no band 2"),
                (["--mask", self.path("a.tif"), "--mask-bits", "64"],
                 "the bit number 64 lies outside 0..63"),
                (["--mask", self.path("other.tif")], "another coordinate system"),
                (["--window", "0,0,10,10"], "the window lies outside its scene"),
                (["--window", "500100,3999600,500100,3999900"], "is empty"),
                (["--window-pixels", "15,15,10,10"], "the window lies outside its scene"),
                (["--stretch", "98%,2%"], "are not two increasing percentiles"),
                (["--stretch", "2%,101%"], "are not two increasing percentiles"),
                (["--scale", "0"], "--scale 0"),
                ):
            status, errors = self.job("refused", bands, *more)
            self.assertEqual(REFUSED, status, more)
            self.assertIn(said, errors, more)
            self.assertIn(self.path("other.tif" if "other" in more[-1] else "a.tif"), errors, more)
            self.assertEqual(1, errors.count("\n"), more)
            self.assertEqual([], glob.glob(self.path("refused*")), more)
        status, errors = run("--out", self.path("refused"), "--band", bands[0], "--method",
                             "segmentation", "--segments", "2", "--band", bands[1], "--method",
                             "definition", "--segments", "2", "--native-limits", "300,200")
        self.assertEqual(REFUSED, status)
        self.assertIn("the native limits 300 and 200 do not increase", errors)
        self.assertEqual([], glob.glob(self.path("refused*")))


if __name__ == "__main__":
    unittest.main()
