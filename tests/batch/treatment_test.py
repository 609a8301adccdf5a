"""Saved treatments through tessera-batch: --save-treatment writes a document the schema in
docs/ accepts, --apply-treatment gives back the files of the job it was saved from byte for byte
(the report only adds its lines naming the treatment), keeps every code's class number and
colour on another scene, and refuses what does not fit with one line and nothing written."""

import json
import os
import re
import shutil
import subprocess
import sys
import tempfile
import unittest

try:
    import jsonschema
    import numpy
    from osgeo import gdal
except ImportError:
    print("treatment_test.py needs Debian's python3-jsonschema, python3-gdal and python3-numpy")
    sys.exit(77)

sys.path.insert(0, os.path.join(os.path.dirname(os.path.dirname(os.path.abspath(__file__))),
                                "qgis"))
import qgistest  # noqa: E402

gdal.UseExceptions()
REAL = os.environ.get("TESSERA_REAL_DATA") or os.path.join(qgistest.SOURCE, "build", "real-data")
GOLDEN = os.path.join(qgistest.SOURCE, "tests", "data", "golden-samples")
SAMPLES = os.path.join(qgistest.SOURCE, "samples")
REFUSED = 3

with open(os.path.join(qgistest.SOURCE, "docs", "treatment.schema.json")) as schema_file:
    SCHEMA = json.load(schema_file)

# The lines an applied treatment adds to the report.
ADDED = re.compile(r"\r?\n\r?\nTreatment applied : [^\n]* \r?\n\r?\nPixels of codes the "
                   r"treatment did not keep : (\d+) \(in no class\) ")


def run(*arguments):
    done = subprocess.run([qgistest.TOOL, "--quiet"] + [str(a) for a in arguments],
                          capture_output=True, text=True)
    return done.returncode, done.stderr


def contents(folder):
    made = {}
    for name in sorted(os.listdir(folder)):
        with open(os.path.join(folder, name), "rb") as made_file:
            made[name] = made_file.read()
    return made


class Treatments(unittest.TestCase):
    def setUp(self):
        self.folder = tempfile.TemporaryDirectory()
        self.dir = self.folder.name

    def tearDown(self):
        self.folder.cleanup()

    def path(self, *names):
        return os.path.join(self.dir, *names)

    def load(self, path):
        with open(path) as document:
            saved = json.load(document)
        jsonschema.validate(saved, SCHEMA)
        return saved

    def golden_arguments(self, folder):
        os.makedirs(folder, exist_ok=True)
        for name in os.listdir(SAMPLES):
            shutil.copy(os.path.join(SAMPLES, name), folder)
        with open(os.path.join(GOLDEN, "args")) as args:
            return [line.rstrip("\n").replace("@DIR@", folder) for line in args if line.strip()]

    def test_golden_job_saved_then_applied_writes_the_golden_files(self):
        scene = self.path("golden")
        arguments = self.golden_arguments(scene)
        status, errors = run(*arguments, "--save-treatment", self.path("golden.json"))
        self.assertEqual(0, status, errors)
        saved = self.load(self.path("golden.json"))
        self.assertEqual([4, 3, 3, 2, 2], saved["code_table"]["radices"])
        self.assertEqual({"keep_all": False, "minimum": 100}, saved["selection"])
        self.assertEqual(["segmentation", "equipopulation", "definition", "segmentation",
                          "equipopulation"], [band["method"] for band in saved["bands"]])
        # A definition band's first segment starts at its lowest gray level.
        self.assertEqual([[45, 60], [61, 120], [121, 255]],
                         [[s["gray_min"], s["gray_max"]] for s in saved["bands"][2]["segments"]])

        # The same bands again, every method option replaced by the treatment.
        for name in ("result.bmp", "result.raw", "result.txt", "seg.bmp", "seg.raw", "seg.txt",
                     "result_codes.txt"):
            os.remove(os.path.join(scene, name))
        bands = [a for k, a in enumerate(arguments) if k > 0 and arguments[k - 1] == "--band"]
        status, errors = run("--out", os.path.join(scene, "result"), "--save-segmented",
                             os.path.join(scene, "seg"), "--format", "bmp,txt,raw,codes",
                             "--apply-treatment",
                             self.path("golden.json"), *sum([["--band", b] for b in bands], []))
        self.assertEqual(0, status, errors)
        made = contents(scene)
        for name in os.listdir(os.path.join(GOLDEN, "expected")):
            with open(os.path.join(GOLDEN, "expected", name), "rb") as expected_file:
                expected = expected_file.read().replace(b"@DIR@", scene.encode())
            if name != "result.txt":
                self.assertEqual(expected, made[name], name)
                continue
            report = made[name].decode()
            added = ADDED.search(report)
            self.assertIsNotNone(added, report)
            self.assertEqual(expected.decode(), ADDED.sub("", report))
            # Every pixel in no class lies in a code the treatment did not keep: the samples
            # have no pixel without data.
            self.assertEqual(made["result.raw"].count(255), int(added.group(1)))

    def test_applied_to_its_own_scene_every_map_file_is_the_same(self):
        first, second = self.path("first"), self.path("second")
        os.makedirs(first)
        os.makedirs(second)
        job = ["--bands", qgistest.SCENE]
        status, errors = run("--out", os.path.join(first, "r"), "--min-pixels", "20", "--method",
                             "equipopulation", "--segments", "3", *job, "--save-treatment",
                             self.path("scene.json"))
        self.assertEqual(0, status, errors)
        self.load(self.path("scene.json"))
        status, errors = run("--out", os.path.join(second, "r"), "--apply-treatment",
                             self.path("scene.json"), *job, "--save-treatment",
                             self.path("again.json"))
        self.assertEqual(0, status, errors)
        one, two = contents(first), contents(second)
        self.assertEqual(["r.bmp", "r.csv", "r.qml", "r.raw", "r.tif", "r.tif.aux.xml", "r.txt"],
                         sorted(two))
        for name in one:
            if name != "r.txt":
                self.assertEqual(one[name], two[name], name)
        self.assertEqual(one["r.txt"].decode(), ADDED.sub("", two["r.txt"].decode()))
        # Saved again, the applied treatment is the one it was read from.
        with open(self.path("scene.json"), "rb") as a, open(self.path("again.json"), "rb") as b:
            self.assertEqual(a.read(), b.read())

    def test_a_scene_raised_by_ten_keeps_every_codes_class_and_colour(self):
        scene = os.path.join(REAL, "L7_ETMs.tif")
        if not os.path.exists(scene):
            self.skipTest("no real scene (scripts/fetch-real-data.sh)")
        source = gdal.Open(scene)
        raised = gdal.GetDriverByName("GTiff").CreateCopy(self.path("raised.tif"), source)
        for k in range(1, source.RasterCount + 1):
            values = source.GetRasterBand(k).ReadAsArray().astype(numpy.int32) + 10
            raised.GetRasterBand(k).WriteArray(numpy.minimum(values, 255).astype(numpy.uint8))
        raised = None
        os.makedirs(self.path("a"))
        os.makedirs(self.path("b"))
        status, errors = run("--out", self.path("a", "r"), "--min-pixels", "300", "--method",
                             "equipopulation", "--segments", "2", "--bands", scene,
                             "--save-treatment", self.path("l7.json"))
        self.assertEqual(0, status, errors)
        saved = self.load(self.path("l7.json"))
        status, errors = run("--out", self.path("b", "r"), "--apply-treatment",
                             self.path("l7.json"), "--bands", self.path("raised.tif"))
        self.assertEqual(0, status, errors)
        one, two = contents(self.path("a")), contents(self.path("b"))

        def classes(csv):
            rows = [line.split(",") for line in csv.decode().splitlines()]
            return [(row[0], row[1]) for row in rows]  # class, code

        self.assertEqual(classes(one["r.csv"]), classes(two["r.csv"]))
        self.assertEqual([(str(c["class"]), str(c["code"])) for c in saved["classes"]],
                         classes(two["r.csv"])[1:])
        # The same colour table in the bitmap, the GeoTIFF's legend and the style.
        self.assertEqual(one["r.bmp"][54:1078], two["r.bmp"][54:1078])
        self.assertEqual(one["r.qml"], two["r.qml"].replace(b"raised.tif", b"L7_ETMs.tif"))
        geotiff = gdal.Open(self.path("b", "r.tif"))
        palette = geotiff.GetRasterBand(1).GetColorTable()
        for entry in saved["classes"]:
            rgb = tuple(int(entry["colour"][i:i + 2], 16) for i in (1, 3, 5))
            self.assertEqual(rgb, palette.GetColorEntry(entry["class"])[:3])
        # Other pixels, the same limits: the raised scene's gray levels fall in other segments.
        self.assertNotEqual(one["r.raw"], two["r.raw"])
        limits = re.compile(r"Segment limits.*?(?=\r?\n\r?\n)", re.S)
        self.assertEqual(limits.findall(one["r.txt"].decode()),
                         limits.findall(two["r.txt"].decode()))

    def test_the_documented_example_is_a_treatment_of_the_samples(self):
        example = os.path.join(qgistest.SOURCE, "docs", "treatment-example.json")
        saved = self.load(example)
        status, errors = run("--out", self.path("r"), "--apply-treatment", example, "--band",
                             os.path.join(SAMPLES, "band1.raw"), "--band",
                             os.path.join(SAMPLES, "band2.raw"))
        self.assertEqual(0, status, errors)
        with open(self.path("r.bmp"), "rb") as bitmap:
            palette = bitmap.read()[54:1078]
        for entry in saved["classes"]:
            k = entry["class"]
            self.assertEqual(entry["colour"], "#%02x%02x%02x" % (palette[4 * k + 2],
                                                                 palette[4 * k + 1],
                                                                 palette[4 * k]))

    def test_fitted_on_two_scenes_is_the_treatment_of_both_taken_as_one(self):
        # Two scenes of two bands (8 and 16 bits) and, to compare with, one scene holding the
        # lines of both: its histograms are their sums and its range theirs.
        first_gray = numpy.array([[0, 20, 40, 60], [80, 100, 100, 100]], dtype=numpy.uint8)
        second_gray = numpy.array([[50, 90, 130, 170], [200, 200, 60, 60]], dtype=numpy.uint8)
        first_wide = numpy.array([[1000, 1200, 1400, 1500], [1500, 1500, 1600, 1700]],
                                 dtype=numpy.uint16)
        second_wide = numpy.array([[1800, 2000, 2500, 3000], [3000, 3000, 3000, 1100]],
                                  dtype=numpy.uint16)
        bands = {}
        for name, gray, wide in (("one", first_gray, first_wide), ("two", second_gray, second_wide),
                                 ("both", numpy.vstack([first_gray, second_gray]),
                                  numpy.vstack([first_wide, second_wide]))):
            bands[name] = []
            for k, values, kind in ((1, gray, gdal.GDT_Byte), (2, wide, gdal.GDT_UInt16)):
                path = self.path("%s%d.tif" % (name, k))
                made = gdal.GetDriverByName("GTiff").Create(path, 4, values.shape[0], 1, kind)
                made.GetRasterBand(1).WriteArray(values)
                made = None
                bands[name] += ["--band", path]
        method = ["--min-pixels", "1", "--method", "segmentation", "--segments", "2"]
        status, errors = run("--fit-treatment", self.path("fitted.json"), *method,
                             "--scene", *bands["one"], "--scene", *bands["two"])
        self.assertEqual(0, status, errors)
        fitted = self.load(self.path("fitted.json"))
        status, errors = run("--out", self.path("both"), *method, *bands["both"],
                             "--save-treatment", self.path("both.json"))
        self.assertEqual(0, status, errors)
        both = self.load(self.path("both.json"))
        # Worked by hand: the R = 201 gray levels 0 to 200 in two equal-width segments, the
        # first of s + 1 levels, s = (2 x 201 + 2) div 4 = 101: 0..101 and 102..200 (scene one
        # alone would give 0..51 and 52..100); the 16-bit band stretched from 1000 to 3000.
        self.assertEqual([[0, 101], [102, 200]],
                         [[s["gray_min"], s["gray_max"]] for s in fitted["bands"][0]["segments"]])
        self.assertEqual({"minimum": 1000, "maximum": 3000, "percentiles": None},
                         fitted["bands"][1]["stretch"])
        for band in fitted["bands"] + both["bands"]:
            band["file"] = ""
        self.assertEqual(both, fitted)
        # Applied to each scene, the classes of the scene taken as one, line for line.
        raws = b""
        for name in ("one", "two"):
            status, errors = run("--out", self.path(name), "--apply-treatment",
                                 self.path("fitted.json"), *bands[name])
            self.assertEqual(0, status, errors)
            with open(self.path(name + ".raw"), "rb") as raw:
                raws += raw.read()
        with open(self.path("both.raw"), "rb") as raw:
            self.assertEqual(raw.read(), raws)

    def test_a_percentile_stretch_is_fitted_on_the_values_of_every_scene(self):
        # Two UInt16 scenes with nodata 0: the stretch at 10 % and 90 % of the values with data
        # of both together, as numpy's percentile gives it, not of either scene alone.
        random = numpy.random.default_rng(5)
        scenes = [random.integers(100, 5000, size=(6, 7)).astype(numpy.uint16),
                  random.integers(3000, 9000, size=(5, 7)).astype(numpy.uint16)]
        scenes[0][0, :3] = 0
        scenes[1][4, 4:] = 0

        def half(values):  # band 2: without data where band 1 is
            return numpy.where(values == 0, 0, values // 2 + 7).astype(numpy.uint16)

        arguments = []
        for k, values in enumerate(scenes):
            arguments.append("--scene")
            for b in (1, 2):
                path = self.path("p%d-%d.tif" % (k, b))
                made = gdal.GetDriverByName("GTiff").Create(path, 7, values.shape[0], 1,
                                                            gdal.GDT_UInt16)
                made.GetRasterBand(1).WriteArray(values if b == 1 else half(values))
                made.GetRasterBand(1).SetNoDataValue(0)
                made = None
                arguments += ["--band", path]
        status, errors = run("--fit-treatment", self.path("percentiles.json"), "--min-pixels",
                             "0", "--method", "segmentation", "--segments", "2", "--stretch",
                             "10%,90%", *arguments)
        self.assertEqual(0, status, errors)
        fitted = self.load(self.path("percentiles.json"))
        for b, band in enumerate(fitted["bands"]):
            values = numpy.concatenate([(v if b == 0 else half(v))[v != 0].astype(float)
                                        for v in scenes])
            low, high = numpy.percentile(values, [10, 90])
            self.assertEqual({"minimum": low, "maximum": high,
                              "percentiles": [10, 90]}, band["stretch"])

    def test_what_does_not_fit_is_refused_with_one_line_and_nothing_written(self):
        out = self.path("out")
        os.makedirs(out)
        os.makedirs(self.path("g"))
        status, errors = run("--out", self.path("g", "r"), "--method", "segmentation",
                             "--segments", "2", "--bands", qgistest.SCENE, "--save-treatment",
                             self.path("scene.json"))
        self.assertEqual(0, status, errors)
        with open(self.path("scene.json")) as document:
            text = document.read()
        bands = ["--bands", qgistest.SCENE]
        four = sum([["--band", qgistest.SCENE + ":%d" % k] for k in (1, 2, 3)], [])
        sixteen = self.path("uint16.tif")
        made = gdal.GetDriverByName("GTiff").Create(sixteen, 8, 8, 4, gdal.GDT_UInt16)
        for k in range(1, 5):
            made.GetRasterBand(k).WriteArray(numpy.arange(64, dtype=numpy.uint16).reshape(8, 8) * k)
        made = None

        def written(name, body):
            path = self.path(name)
            with open(path, "w") as document:
                document.write(body)
            return path

        cases = [
            (written("broken.json", '{\n  "format": "tessera-treatment",\n  "version": 1,\n'
                     '  "bands": [}\n'), bands,
             "is not JSON: line 4, column 13: expected a value"),
            (written("other.json", '{"format": "something else", "version": 1}'), bands,
             "is not a treatment"),
            (written("version.json", text.replace('"version": 1', '"version": 2')), bands,
             "has version 2, and this program reads version 1 only"),
            (written("field.json", text.replace('"gray_min": ', '"gray_min": "x", "was": ', 1)),
             bands, "bands[0].segments[0].gray_min needs a number, not a string"),
            (self.path("scene.json"), four, "treats 4 bands, and 3 are given"),
            (self.path("scene.json"), ["--bands", sixteen],
             "band 1 (" + sixteen + ") holds UInt16 values, where the treatment"),
            (self.path("scene.json"), bands + ["--method", "equipopulation"],
             "leave out --method"),
        ]
        for treatment, given, message in cases:
            status, errors = run("--out", os.path.join(out, "r"), "--apply-treatment", treatment,
                                 *given)
            self.assertEqual(REFUSED, status, (message, errors))
            self.assertIn(message, errors)
            self.assertEqual(1, errors.count("\n"), errors)
            self.assertEqual([], os.listdir(out), message)

        # Scenes of other band counts.
        status, errors = run("--fit-treatment", os.path.join(out, "f.json"), "--method",
                             "segmentation", "--segments", "2", "--scene", *bands, "--scene",
                             *four)
        self.assertEqual(REFUSED, status, errors)
        self.assertIn("scene 2 has 3 bands, and scene 1 has 4", errors)
        self.assertEqual([], os.listdir(out))

        # Class maps of different grids.
        maps = []
        for name, columns in (("a.tif", 4), ("b.tif", 5)):
            made = gdal.GetDriverByName("GTiff").Create(self.path(name), columns, 4, 1,
                                                        gdal.GDT_Byte)
            made.SetGeoTransform((500000, 10, 0, 4000000, 0, -10))
            made.SetProjection(gdal.Open(qgistest.SCENE).GetProjection())
            made.GetRasterBand(1).WriteArray(numpy.ones((4, columns), dtype=numpy.uint8))
            made = None
            maps.append(self.path(name))
        status, errors = run("--change", maps[0], maps[1], "--out", os.path.join(out, "c"))
        self.assertEqual(REFUSED, status, errors)
        self.assertIn("lie on different grids: 4 x 4 and 4 x 5 pixels", errors)
        self.assertEqual(1, errors.count("\n"), errors)
        self.assertEqual([], os.listdir(out))


if __name__ == "__main__":
    unittest.main()
