"""The class GeoTIFF as GDAL reads it: a cloud-optimised file (GDAL's own validator), its
legend (category names and the attribute table of STEM.tif.aux.xml, the class table's numbers),
its overviews (the class of one of the pixels they cover, never an average) and the treatment
in its metadata."""

import os
import subprocess
import sys
import tempfile
import unittest

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
import qgistest  # noqa: E402

qgistest.need_gdal()
import numpy  # noqa: E402
from osgeo import gdal  # noqa: E402

gdal.UseExceptions()


def validate_cog(path):
    """GDAL's validator of cloud-optimised GeoTIFFs: (errors, warnings)."""
    try:
        from osgeo_utils.samples import validate_cloud_optimized_geotiff as validator
    except ImportError:
        sys.path.append("/usr/share/doc/python3-gdal/examples")
        import validate_cloud_optimized_geotiff as validator
    warnings, errors, _ = validator.validate(path, full_check=True)
    return errors, warnings


class SampleScene(unittest.TestCase):
    @classmethod
    def setUpClass(cls):
        cls.folder = tempfile.TemporaryDirectory()
        cls.stem = os.path.join(cls.folder.name, "r")
        status, errors = qgistest.run_tool(
            "--out", cls.stem, "--method", "equipopulation", "--segments", "3",
            "--min-pixels", "50", "--bands", qgistest.SCENE)
        assert status == 0, errors
        cls.rows = qgistest.csv_rows(cls.stem + ".csv")

    @classmethod
    def tearDownClass(cls):
        cls.folder.cleanup()

    def test_gdalinfo_lists_the_categories_and_the_attribute_table(self):
        info = subprocess.run(["gdalinfo", self.stem + ".tif"], capture_output=True,
                              text=True, check=True).stdout
        self.assertIn(self.stem + ".tif.aux.xml", info)
        self.assertIn("Categories:", info)
        self.assertIn('<GDALRasterAttributeTable tableType="thematic">', info)
        for row in self.rows:
            self.assertIn("%3s: %s\n" % (row["class"], qgistest.label_of(row)), info)

    def test_the_attribute_table_holds_the_class_table(self):
        dataset = gdal.Open(self.stem + ".tif")  # kept: its band lives no longer
        band = dataset.GetRasterBand(1)
        # GDAL 3.6's GeoTIFF reads its side file on the first question it needs it for, and
        # the category names are not one of them.
        self.assertEqual(255, band.GetNoDataValue())
        names = band.GetCategoryNames()
        table = band.GetDefaultRAT()
        self.assertEqual(gdal.GRTT_THEMATIC, table.GetTableType())
        self.assertEqual(len(self.rows), table.GetRowCount())
        columns = {table.GetNameOfCol(c): c for c in range(table.GetColumnCount())}
        usage = {table.GetUsageOfCol(c): table.GetNameOfCol(c)
                 for c in range(table.GetColumnCount())}
        self.assertEqual({gdal.GFU_MinMax: "Value", gdal.GFU_PixelCount: "Count",
                          gdal.GFU_Red: "Red", gdal.GFU_Green: "Green", gdal.GFU_Blue: "Blue",
                          gdal.GFU_Name: "Label"},
                         {u: usage[u] for u in usage if u != gdal.GFU_Generic})
        colours = qgistest.bitmap_colours(self.stem + ".bmp", len(self.rows))
        for r, row in enumerate(self.rows):
            k = int(row["class"])
            self.assertEqual(qgistest.label_of(row), names[k])
            self.assertEqual(k, table.GetValueAsInt(r, columns["Value"]))
            self.assertEqual(int(row["pixels"]), table.GetValueAsInt(r, columns["Count"]))
            self.assertEqual(int(row["code"]), table.GetValueAsInt(r, columns["Code"]))
            self.assertEqual(colours[k - 1], "#%02x%02x%02x" % tuple(
                table.GetValueAsInt(r, columns[c]) for c in ("Red", "Green", "Blue")))
            self.assertEqual(names[k], table.GetValueAsString(r, columns["Label"]))
            for band_number in range(1, 5):
                prefix = "b%d_" % band_number
                self.assertEqual(int(row[prefix + "segment"]),
                                 table.GetValueAsInt(r, columns[prefix + "segment"]))
                for end in ("native_min", "native_max"):
                    self.assertEqual(float(row[prefix + end]),
                                     table.GetValueAsDouble(r, columns[prefix + end]))
            self.assertEqual(float(row["area_square_metre"]),
                             table.GetValueAsDouble(r, columns["area_square_metre"]))
            self.assertEqual(float(row["percent_of_data_pixels"]),
                             table.GetValueAsDouble(r, columns["percent_of_data_pixels"]))

    def test_the_metadata_say_how_the_file_was_made(self):
        metadata = gdal.Open(self.stem + ".tif").GetMetadata()
        self.assertEqual("Tessera_V2 tessera-batch", metadata["TIFFTAG_SOFTWARE"])
        self.assertEqual("4", metadata["TESSERA_BANDS"])
        self.assertEqual(qgistest.SCENE + " (raster band 3)", metadata["TESSERA_BAND_3_FILE"])
        self.assertEqual("equipopulation (equal-population ranges)",
                         metadata["TESSERA_BAND_3_METHOD"])
        self.assertEqual("the codes with more than 50 pixels", metadata["TESSERA_SELECTION"])
        self.assertEqual(str(len(self.rows)), metadata["TESSERA_CLASSES"])
        # The gray limits of every segment, as the class table gives them.
        for band_number in range(1, 5):
            segments = sorted({(int(row["b%d_segment" % band_number]),
                                row["b%d_gray_min" % band_number],
                                row["b%d_gray_max" % band_number]) for row in self.rows})
            limits = metadata["TESSERA_BAND_%d_GRAY_LIMITS" % band_number].split(",")
            self.assertEqual(3, len(limits))
            for segment, low, high in segments:
                self.assertEqual(low + "-" + high, limits[segment - 1])


class LargeScene(unittest.TestCase):
    """A scene of more than a tile each way, so that the file has tiles and overviews."""

    @classmethod
    def setUpClass(cls):
        cls.folder = tempfile.TemporaryDirectory()
        lines, columns = 1100, 1300
        y, x = numpy.mgrid[0:lines, 0:columns]
        # Stripes one pixel wide of classes far apart: an average of two of them is a class
        # the pixels never had.
        first = numpy.where(x % 2 == 0, 10, 240).astype(numpy.uint16) * 100
        second = ((y // 3) % 4 * 60 + (x // 500) * 10).astype(numpy.uint16)
        cls.scene = os.path.join(cls.folder.name, "wide.tif")
        qgistest.write_geotiff(cls.scene, [first, second], gdal.GDT_UInt16)
        cls.stem = os.path.join(cls.folder.name, "c")
        status, errors = qgistest.run_tool(
            "--out", cls.stem, "--method", "segmentation", "--segments", "4", "--keep-all",
            "--stretch", "0,30000", "--format", "tif,raw", "--bands", cls.scene)
        assert status == 0, errors

    @classmethod
    def tearDownClass(cls):
        cls.folder.cleanup()

    def test_it_is_a_valid_cloud_optimised_geotiff_of_the_raw_pixels(self):
        errors, warnings = validate_cog(self.stem + ".tif")
        self.assertEqual([], errors)
        self.assertEqual([], warnings)
        dataset = gdal.Open(self.stem + ".tif")
        band = dataset.GetRasterBand(1)
        self.assertEqual([512, 512], band.GetBlockSize())
        self.assertEqual("DEFLATE", dataset.GetMetadata("IMAGE_STRUCTURE")["COMPRESSION"])
        self.assertEqual(2, band.GetOverviewCount())  # 650 x 550, then 325 x 275
        self.assertEqual(0, band.GetColorTable().GetColorEntry(255)[3])  # no class: clear
        self.assertEqual(gdal.GMF_NODATA, band.GetMaskFlags())  # no mask or alpha band
        self.assertEqual(1, dataset.RasterCount)
        raw = numpy.fromfile(self.stem + ".raw", dtype=numpy.uint8).reshape(1100, 1300)
        self.assertTrue((band.ReadAsArray() == raw).all())
        metadata = dataset.GetMetadata()
        self.assertEqual("0,30000 (UInt16)", metadata["TESSERA_BAND_1_STRETCH"])
        self.assertEqual("every code", metadata["TESSERA_SELECTION"])

    def test_an_overview_pixel_is_the_class_of_a_pixel_it_covers(self):
        dataset = gdal.Open(self.stem + ".tif")
        band = dataset.GetRasterBand(1)
        full = band.ReadAsArray().astype(int)
        half = band.GetOverview(0).ReadAsArray().astype(int)
        self.assertEqual((550, 650), half.shape)
        covered = numpy.stack([full[0::2, 0::2], full[0::2, 1::2],
                               full[1::2, 0::2], full[1::2, 1::2]])
        self.assertTrue((covered == half[None, :, :]).any(axis=0).all())
        # Both classes of every pair of columns are there, so an average would show.
        self.assertGreater(len(numpy.unique(full)), 2)



class OverviewsAsGdalMakesThem(unittest.TestCase):
    """Overviews of odd and even sizes, of noisy classes with many ties and pixels without data:
    the same pixels as GDAL's own "MODE" overviews of the full-size classes, for any threads."""

    def test_every_overview_is_gdals_mode_of_the_classes(self):
        # Odd sizes: pixels that cover one or three columns or lines at the edges.
        self.check(779, 1037, [(519, 390), (260, 195)])

    def test_every_overview_of_halved_columns_is_gdals_mode_of_the_classes(self):
        # Even sizes: every overview pixel covers two columns of two lines.
        self.check(780, 1036, [(518, 390), (259, 195)])

    def check(self, lines, columns, overviews):
        with tempfile.TemporaryDirectory() as folder:
            random = numpy.random.default_rng(7)
            bands = [random.integers(1, 3000, size=(lines, columns)).astype(numpy.uint16)
                     for _ in range(2)]
            bands[0][random.random((lines, columns)) < 0.1] = 0  # nodata
            bands[0][:5, :] = 0  # overview pixels without any pixel with data
            scene = os.path.join(folder, "noisy.tif")
            qgistest.write_geotiff(scene, bands, gdal.GDT_UInt16)
            update = gdal.Open(scene, gdal.GA_Update)
            update.GetRasterBand(1).SetNoDataValue(0)
            update = None
            written = {}
            for threads in ("1", "2"):
                stem = os.path.join(folder, "t" + threads)
                status, errors = qgistest.run_tool(
                    "--out", stem, "--threads", threads, "--method", "segmentation",
                    "--segments", "3", "--keep-all", "--format", "tif", "--bands", scene)
                self.assertEqual(0, status, errors)
                with open(stem + ".tif", "rb") as tif:
                    written[threads] = tif.read()
            self.assertEqual(written["1"], written["2"])
            dataset = gdal.Open(os.path.join(folder, "t2.tif"))  # kept while its band is used
            ours = dataset.GetRasterBand(1)
            self.assertEqual(overviews,
                             [(ours.GetOverview(k).XSize, ours.GetOverview(k).YSize)
                              for k in range(ours.GetOverviewCount())])
            # GDAL's overviews of the same classes, palette and nodata.
            reference = os.path.join(folder, "reference.tif")
            copy = gdal.Translate(reference, dataset, format="GTiff",
                                  creationOptions=["INTERLEAVE=BAND"])
            copy.BuildOverviews("MODE", [2, 4])
            theirs = copy.GetRasterBand(1)
            full = ours.ReadAsArray()
            self.assertTrue((full == 255).any())
            self.assertGreater(len(numpy.unique(full)), 5)
            for k in range(2):
                mine, gdals = ours.GetOverview(k).ReadAsArray(), theirs.GetOverview(k).ReadAsArray()
                self.assertTrue((mine == 255).any())
                self.assertTrue((mine == gdals).all(), "overview %d" % k)
            copy = None

if __name__ == "__main__":
    unittest.main()
