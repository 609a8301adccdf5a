"""The class GeoTIFF as QGIS shows it: a paletted layer whose classes carry the labels and the
colours of the class table, from the style beside it (STEM.qml) as from GDAL's side file alone
(STEM.tif.aux.xml); the pixels in no class transparent."""

import os
import shutil
import sys
import tempfile
import unittest

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
import qgistest  # noqa: E402

qgistest.need_qgis()


class ClassLayer(unittest.TestCase):
    @classmethod
    def setUpClass(cls):
        cls.folder = tempfile.TemporaryDirectory()
        cls.application = qgistest.start_qgis(os.path.join(cls.folder.name, "settings"))
        cls.stem = os.path.join(cls.folder.name, "r")
        status, errors = qgistest.run_tool(
            "--out", cls.stem, "--method", "equipopulation", "--segments", "3",
            "--min-pixels", "50", "--bands", qgistest.SCENE)
        assert status == 0, errors
        rows = qgistest.csv_rows(cls.stem + ".csv")
        colours = qgistest.bitmap_colours(cls.stem + ".bmp", len(rows))
        cls.expected = [(int(row["class"]), qgistest.label_of(row), colours[int(row["class"]) - 1])
                        for row in rows]

    @classmethod
    def tearDownClass(cls):
        cls.folder.cleanup()

    def classes(self, path):
        from qgis.core import QgsRasterLayer

        layer = QgsRasterLayer(path, "classes")
        self.assertTrue(layer.isValid())
        renderer = layer.renderer()
        self.assertEqual("paletted", renderer.type())
        return layer, [(int(c.value), c.label, c.color.name(), c.color.alpha())
                       for c in renderer.classes()]

    def copy(self, name, extensions):
        """The class raster with the given side files, under another name."""
        for extension in extensions:
            shutil.copyfile(self.stem + extension, os.path.join(self.folder.name, name + extension))
        return os.path.join(self.folder.name, name + ".tif")

    def test_the_style_and_the_legend_give_the_class_table_labels_and_colours(self):
        layer, shown = self.classes(self.copy("both", [".tif", ".tif.aux.xml", ".qml"]))
        self.assertEqual([(k, label, colour, 255) for k, label, colour in self.expected], shown)
        # Pixels in no class are transparent, those of a class opaque.
        transparency = layer.renderer().rasterTransparency()
        self.assertEqual(0, transparency.alphaValue(255))
        self.assertEqual(255, transparency.alphaValue(1))
        self.assertTrue(layer.dataProvider().sourceHasNoDataValue(1))
        self.assertEqual(255, layer.dataProvider().sourceNoDataValue(1))

    def test_the_style_alone_gives_the_same_labels(self):
        _, shown = self.classes(self.copy("style", [".tif", ".qml"]))
        self.assertEqual([(k, label, colour, 255) for k, label, colour in self.expected], shown)

    def test_the_legend_alone_names_the_classes_of_the_colour_table(self):
        # Without a style QGIS shows the whole colour table; the classes' entries carry the
        # legend's names, the entry of the pixels in no class is transparent.
        _, shown = self.classes(self.copy("legend", [".tif", ".tif.aux.xml"]))
        entries = {value: (label, colour, alpha) for value, label, colour, alpha in shown}
        for k, label, colour in self.expected:
            self.assertEqual((label, colour, 255), entries[k])
        self.assertEqual(0, entries[255][2])


if __name__ == "__main__":
    unittest.main()
