"""The Processing algorithm tessera:segmentandcross: installed by scripts/install-qgis-plugin.sh
it is listed and run by qgis_process and writes the class raster tessera-batch writes for the
same choices; its results load as a layer styled by the legend and a table; refusals reach
Processing with the tool's message; a cancelled run stops the tool (SIGTERM) and leaves no
file."""

import os
import shutil
import subprocess
import sys
import tempfile
import unittest

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
import qgistest  # noqa: E402

qgistest.need_qgis()
qgistest.need_gdal()
import numpy  # noqa: E402
from osgeo import gdal  # noqa: E402

gdal.UseExceptions()
ALGORITHM = "tessera:segmentandcross"


def qgis_process():
    # Debian's qgis_process wrapper passes the desktop's options, which qgis_process refuses.
    for name in ("qgis_process.bin", "qgis_process"):
        found = shutil.which(name)
        if found:
            return found
    qgistest.skip("qgis_process is missing (Debian package qgis)")


def pixels(path):
    dataset = gdal.Open(path)
    return dataset.GetRasterBand(1).ReadAsArray()


class QgisProcess(unittest.TestCase):
    """qgis_process with the plugin installed in a settings folder of its own; the tool found
    through the provider's setting that the script wrote."""

    @classmethod
    def setUpClass(cls):
        cls.folder = tempfile.TemporaryDirectory()
        cls.settings = os.path.join(cls.folder.name, "settings")
        installed = subprocess.run(
            [os.path.join(qgistest.SOURCE, "scripts", "install-qgis-plugin.sh"), cls.settings],
            capture_output=True, text=True,
            env=dict(os.environ, TESSERA_BATCH=qgistest.TOOL,
                     PATH=os.path.dirname(shutil.which("python3")) + ":/usr/bin:/bin"))
        assert installed.returncode == 0, installed.stderr
        # QGIS stores statistics beside the rasters it opens: a copy of the samples' scene.
        cls.scene = os.path.join(cls.folder.name, "scene.tif")
        shutil.copyfile(qgistest.SCENE, cls.scene)
        cls.environment = dict(os.environ, **qgistest.headless(cls.settings))
        cls.environment.pop("TESSERA_BATCH", None)
        cls.environment.pop("QGIS_OPTS", None)

    @classmethod
    def tearDownClass(cls):
        cls.folder.cleanup()

    def run_process(self, *arguments):
        done = subprocess.run([qgis_process()] + list(arguments), capture_output=True, text=True,
                              env=self.environment, cwd=self.folder.name, timeout=120)
        return done.returncode, done.stdout + done.stderr

    def test_the_algorithm_is_listed(self):
        status, output = self.run_process("list")
        self.assertEqual(0, status, output)
        self.assertIn(ALGORITHM + "\tSegment and cross bands", output)

    def test_a_run_writes_the_class_raster_of_the_batch_tool_and_its_table(self):
        out = os.path.join(self.folder.name, "run")
        os.makedirs(out)
        status, output = self.run_process(
            "run", ALGORITHM, "--BANDS=" + self.scene, "--METHOD=1", "--SEGMENTS=3",
            "--MIN_PIXELS=50", "--OUTPUT=" + os.path.join(out, "classes.tif"),
            "--TABLE=" + os.path.join(out, "table.csv"))
        self.assertEqual(0, status, output)
        self.assertIn("crossing", output)  # a stage of the tool's progress
        self.assertEqual(["classes.qml", "classes.tif", "classes.tif.aux.xml", "table.csv"],
                         sorted(os.listdir(out)))
        batch = os.path.join(self.folder.name, "batch")
        status, errors = qgistest.run_tool(
            "--out", batch, "--method", "equipopulation", "--segments", "3",
            "--min-pixels", "50", "--bands", self.scene)
        self.assertEqual(0, status, errors)
        raw = numpy.fromfile(batch + ".raw", dtype=numpy.uint8).reshape(200, 300)
        self.assertTrue((pixels(os.path.join(out, "classes.tif")) == raw).all())
        with open(batch + ".csv") as expected, open(os.path.join(out, "table.csv")) as table:
            self.assertEqual(expected.read(), table.read())

    def test_a_layer_that_is_no_raster_is_refused_with_the_tools_message(self):
        points = os.path.join(self.folder.name, "points.geojson")
        with open(points, "w") as layer:
            layer.write('{"type": "FeatureCollection", "features": [{"type": "Feature", '
                        '"geometry": {"type": "Point", "coordinates": [1, 2]}, '
                        '"properties": {}}]}')
        out = os.path.join(self.folder.name, "refused")
        os.makedirs(out)
        status, output = self.run_process(
            "run", ALGORITHM, "--BANDS=" + points, "--BANDS=" + self.scene, "--METHOD=0",
            "--SEGMENTS=2", "--MIN_PIXELS=0", "--OUTPUT=" + os.path.join(out, "c.tif"),
            "--TABLE=" + os.path.join(out, "c.csv"))
        self.assertNotEqual(0, status, output)
        self.assertIn("ERROR:\tThe raster " + points + " cannot be loaded: GDAL cannot open it",
                      output)
        self.assertEqual([], os.listdir(out))


class InProcess(unittest.TestCase):
    """The plugin's provider in this process, the tool found on $TESSERA_BATCH."""

    @classmethod
    def setUpClass(cls):
        cls.folder = tempfile.TemporaryDirectory()
        os.environ["TESSERA_BATCH"] = qgistest.TOOL
        cls.application = qgistest.start_qgis(os.path.join(cls.folder.name, "settings"))
        from qgis.core import QgsApplication

        sys.path.insert(0, qgistest.PLUGIN)
        from tessera_processing.provider import TesseraProvider

        cls.provider = TesseraProvider()
        cls.scene = os.path.join(cls.folder.name, "scene.tif")
        shutil.copyfile(qgistest.SCENE, cls.scene)
        QgsApplication.processingRegistry().addProvider(cls.provider)

    @classmethod
    def tearDownClass(cls):
        cls.folder.cleanup()

    def parameters(self, bands, out):
        return {"BANDS": bands, "METHOD": 0, "SEGMENTS": 6, "MIN_PIXELS": -1,
                "OUTPUT": os.path.join(out, "c.tif"), "TABLE": os.path.join(out, "c.csv")}

    def test_too_few_bands_are_refused_with_the_tools_message(self):
        import processing
        from qgis.core import QgsProcessingException

        out = tempfile.mkdtemp(dir=self.folder.name)
        band = os.path.join(self.folder.name, "one.tif")
        qgistest.write_geotiff(band, [numpy.arange(12, dtype=numpy.uint8).reshape(3, 4)],
                               gdal.GDT_Byte)
        with self.assertRaises(QgsProcessingException) as refused:
            processing.run(ALGORITHM, self.parameters([band], out))
        self.assertEqual("give 2 to 32 bands, not 1 (counting every band of " + band + ")",
                         str(refused.exception))
        self.assertEqual([], os.listdir(out))

    def test_the_results_load_as_a_styled_class_layer_and_a_table(self):
        import processing
        from qgis.core import QgsMapLayerType, QgsProject

        results = processing.runAndLoadResults(
            ALGORITHM, {"BANDS": [self.scene], "METHOD": 1, "SEGMENTS": 3, "MIN_PIXELS": 50,
                        "OUTPUT": "TEMPORARY_OUTPUT", "TABLE": "TEMPORARY_OUTPUT"})
        rows = qgistest.csv_rows(results["TABLE"])
        layers = {layer.source(): layer for layer in QgsProject.instance().mapLayers().values()}
        classes, table = layers[results["OUTPUT"]], layers[results["TABLE"]]
        self.assertEqual(QgsMapLayerType.RasterLayer, classes.type())
        self.assertEqual("paletted", classes.renderer().type())
        self.assertEqual([qgistest.label_of(row) for row in rows],
                         [entry.label for entry in classes.renderer().classes()])
        self.assertEqual(QgsMapLayerType.VectorLayer, table.type())
        self.assertFalse(table.isSpatial())
        self.assertEqual(len(rows), table.featureCount())
        QgsProject.instance().removeAllMapLayers()

    def test_a_cancelled_run_stops_the_tool_and_leaves_no_file(self):
        from qgis.core import QgsProcessingContext, QgsProcessingFeedback

        out = tempfile.mkdtemp(dir=self.folder.name)
        scene = os.path.join(out, "slow.tif")
        # Large enough that the tool is still at work when the first stage is reported.
        y, x = numpy.mgrid[0:2400, 0:2400]
        qgistest.write_geotiff(scene, [((x * 7 + y * 3) % 4000).astype(numpy.uint16),
                                       ((x * 3 + y * 5) % 3000).astype(numpy.uint16)],
                               gdal.GDT_UInt16)

        class CancelAtFirstStage(QgsProcessingFeedback):
            def __init__(self):
                super().__init__()
                self.stages, self.infos = [], []

            def setProgressText(self, text):  # noqa: N802
                self.stages.append(text)
                self.cancel()

            def pushInfo(self, text):  # noqa: N802
                self.infos.append(text)

        feedback = CancelAtFirstStage()
        algorithm = self.provider.algorithm("segmentandcross").create()
        results, ok = algorithm.run(self.parameters([scene], out), QgsProcessingContext(),
                                    feedback)
        self.assertFalse(ok)
        self.assertEqual(["loaded band 1 of 2"], feedback.stages)
        self.assertIn("tessera-batch was stopped (exit status 143)", feedback.infos)
        self.assertEqual(["slow.tif"], os.listdir(out))


if __name__ == "__main__":
    unittest.main()
