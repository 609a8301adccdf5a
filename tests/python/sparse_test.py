"""A band set whose code table passes a 32-bit code (3 segments on 20 bands: 3,486,784,401 codes),
counted where codes occur, through tessera-batch, tessera.run and tessera.dask.run: the same
files from each, and the codes, counts, classes, code list and treatment as numpy works them
out; and a table past 2^64 codes refused with its size."""
import json
import os
import unittest

import numpy as np

import tessera
import tessera.dask
from support import (COVER_LIMITS as LIMITS, COVER_STRETCH as STRETCH, ScratchCase,
                     cover_digits, run_batch, write_land_covers)

BANDS = 20


def write_scene(path, bands, patterns, lines=96, columns=104, seed=20):
    """A UInt16 GeoTIFF of `bands` bands: blocks of 4 x 4 pixels each of one of `patterns`
    covers, and a few pixels of a cover of their own."""
    return write_land_covers(path, bands, patterns, lines, columns, seed, block=4, speckles=12)


def expected_digits(data):
    """Every pixel's segment number 1..3 in each band, as the stretch and limits give it."""
    return cover_digits(data) + 1


def codes_of(digits):
    """Codes 1..3^20, band 1 the most significant digit, as Python's exact integers."""
    codes = np.zeros(digits.shape[1:], dtype=np.uint64)
    for band in range(digits.shape[0]):
        codes = codes * np.uint64(3) + (digits[band] - 1).astype(np.uint64)
    return codes + np.uint64(1)


class TwentyBands(ScratchCase):
    def choices(self):
        return dict(method="definition", segments=3, limits=LIMITS,
                    stretch=f"{STRETCH[0]},{STRETCH[1]}")

    def batch(self, stem, scene, *extra, check=True):
        c = self.choices()
        return run_batch(["--out", self.dir / stem, "--method", c["method"], "--segments", 3,
                          "--stretch", c["stretch"], *extra, "--bands", scene,
                          "--limits", ",".join(map(str, LIMITS))], check=check)

    def test_codes_past_32_bits_in_every_front_end_as_numpy_counts_them(self):
        scene = self.dir / "scene.tif"
        data = write_scene(scene, BANDS, patterns=1000)
        digits = expected_digits(data)
        codes = codes_of(digits)
        held, counts = np.unique(codes, return_counts=True)
        self.assertGreater(int(held[-1]), 2 ** 31)  # codes past a 32-bit code occur
        self.assertGreater(len(held), 250)
        self.assertTrue(np.any(counts == 1))  # codes the minimum leaves out
        formats = "txt,raw,tif,csv,codes"
        self.batch("tool", scene, "--min-pixels", 1, "--max-classes", 65534, "--format",
                   formats, "--save-treatment", self.dir / "tool.json")
        files = [f"{scene}:{b}" for b in range(1, BANDS + 1)]
        tessera.run(bands=files, out=str(self.dir / "run"), min_pixels=1, max_classes=65534,
                    formats=formats.split(","), **self.choices())
        tessera.dask.run(files, out=str(self.dir / "dask"), min_pixels=1, max_classes=65534,
                         formats=formats.split(","), chunk_lines=9, **self.choices())
        for other in ("run", "dask"):
            self.assertSameFiles(self.dir / other, self.dir / "tool",
                                 [".raw", ".txt", ".tif", ".csv", "_codes.txt"])

        # The same scene as arrays, chunked and whole: counted where codes occur, as the tool.
        import dask.array as da
        import rioxarray
        scene_array = rioxarray.open_rasterio(scene, chunks=(BANDS, 40, 52))
        tool_classes = np.fromfile(self.dir / "tool.raw", dtype="<u2").reshape(codes.shape)
        for bands in (scene_array, data):
            with self.subTest(arrays=type(bands).__name__):
                names = None if bands is scene_array else [f"{scene}:{b}"
                                                          for b in range(1, BANDS + 1)]
                result = tessera.dask.treat(bands, min_pixels=1, max_classes=65534,
                                            names=names, **self.choices())
                np.testing.assert_array_equal(np.asarray(result.classes), tool_classes)
                self.assertEqual(result.report, (self.dir / "tool.txt").read_text())
                self.assertEqual(result.counts[1:].tolist(), counts.tolist())
                self.assertEqual([int(c) for c in result.selected_codes],
                                 [int(c) for c in held[counts > 1]])
        # A scene whose count memory may not hold is refused before a chunk is read.
        side = 200000
        huge = [da.zeros((side, side), dtype=np.uint16, chunks=(20000, 20000))] * BANDS
        with self.assertRaisesRegex(ValueError, "^Not enough memory to count the codes: the "
                                                f"{3 ** BANDS} codes of {side * side} pixels may "
                                                r"need up to \d+ MiB, and this machine has"):
            tessera.dask.treat(huge, **self.choices())
        # Every code, or none of them: the rule of a table of more than 250 codes.
        with self.assertRaisesRegex(ValueError, f"^--keep-all would make {3 ** BANDS} classes"):
            tessera.dask.treat(data, keep_all=True, max_classes=65534, **self.choices())
        none = tessera.dask.treat(data, min_pixels=-1, **self.choices())
        self.assertEqual((0, [255]), (none.class_count, np.unique(np.asarray(none.classes)).tolist()))
        self.batch("none", scene, "--min-pixels", -1, "--format", "raw")
        self.assertEqual({255}, set(np.fromfile(self.dir / "none.raw", dtype=np.uint8).tolist()))

        # The classes: the codes of more than one pixel, ascending.
        kept = held[counts > 1]
        report = (self.dir / "tool.txt").read_text()
        lines = [line.split("\t") for line in report.splitlines()
                 if line.count("\t") == BANDS + 3 and line.split("\t")[1].isdigit()]
        self.assertEqual([int(f[1]) for f in lines], list(range(1, len(kept) + 1)))
        self.assertEqual([int(f[-1]) for f in lines], counts[counts > 1].tolist())
        first = np.argmax(codes == kept[0])
        self.assertEqual([int(f) for f in lines[0][2:2 + BANDS]],
                         digits[:, first // codes.shape[1], first % codes.shape[1]].tolist())
        where = np.searchsorted(kept, codes)
        found = (where < len(kept)) & (kept[np.minimum(where, len(kept) - 1)] == codes)
        classes = np.where(found, where + 1, 65535)
        raw = np.fromfile(self.dir / "tool.raw", dtype="<u2").reshape(codes.shape)
        np.testing.assert_array_equal(raw, classes)

        # The code list: the codes that hold pixels, each with its digits, then their readings.
        listed = (self.dir / "tool_codes.txt").read_text().split("\n")
        self.assertEqual(len(held) + 1, len(listed))
        self.assertEqual([int(line.split("\t")[0]) for line in listed[:-1]],
                         [int(c) for c in held])
        last = np.argmax(codes == held[-1])
        self.assertEqual(listed[-2].split("\t")[1:-1],
                         [str(d) for d in digits[:, last // codes.shape[1],
                                                 last % codes.shape[1]]])
        self.assertEqual(len(held), len(listed[-1].split("\t")) - 1)

        # The treatment names each class's code exactly, in the documented form.
        saved = json.loads((self.dir / "tool.json").read_text())
        try:
            import jsonschema
        except ImportError:
            jsonschema = None
        if jsonschema is not None:
            schema = os.path.join(os.environ["TESSERA_SOURCE"], "docs", "treatment.schema.json")
            with open(schema) as file:
                jsonschema.validate(saved, json.load(file))
        self.assertEqual(3 ** BANDS, saved["code_table"]["code_count"])
        self.assertEqual([c["code"] for c in saved["classes"]], [int(c) for c in kept])

    def test_a_treatment_of_codes_past_2_to_the_63_applied_and_fitted_in_every_front_end(self):
        # 4 segments on 32 bands: 2^64 codes, the class codes past 2^53 and 2^63.
        whole, top, bottom = (self.dir / f"{n}.tif" for n in ("whole", "top", "bottom"))
        data = write_scene(whole, 32, patterns=1000, lines=96, columns=104, seed=7)
        import rasterio
        with rasterio.open(whole) as source:
            profile = source.profile
        for path, rows in ((top, data[:, :40]), (bottom, data[:, 40:])):
            with rasterio.open(path, "w", **dict(profile, height=rows.shape[1])) as file:
                file.write(rows)
        limits = [84, 169, 254, 255]
        formats = ["txt", "raw", "tif", "csv", "qml", "codes"]
        same = [".raw", ".tif", ".tif.aux.xml", ".csv", ".qml", "_codes.txt"]
        choice = ["--method", "definition", "--segments", 4, "--stretch", "0,10200"]
        run_batch(["--out", self.dir / "tool", *choice, "--min-pixels", 1, "--max-classes",
                   65534, "--format", ",".join(formats), "--save-treatment",
                   self.dir / "tool.json", "--bands", whole, "--limits",
                   ",".join(map(str, limits))])
        digits = np.searchsorted(np.array(limits), np.floor(
            data.astype(np.float64) * 255.0 / 10200 + 0.5).clip(0, 255), side="left")
        codes = np.zeros(digits.shape[1:], dtype=object)
        for band in digits:
            codes = codes * 4 + band
        held, counts = np.unique(codes.ravel() + 1, return_counts=True)
        saved = (self.dir / "tool.json").read_text()
        kept = [c["code"] for c in json.loads(saved)["classes"]]
        self.assertEqual(kept, held[counts > 1].tolist())
        self.assertGreater(len(kept), 250)
        self.assertGreater(max(kept), 2 ** 63)
        self.assertTrue(any(2 ** 53 < c < 2 ** 63 for c in kept))

        # Applied to the scene it came from: the files of the run that saved it.
        files = [f"{whole}:{b}" for b in range(1, 33)]
        run_batch(["--out", self.dir / "applied", "--apply-treatment", self.dir / "tool.json",
                   "--format", ",".join(formats), "--bands", whole])
        tessera.run(bands=files, out=str(self.dir / "run"), formats=formats,
                    apply_treatment=str(self.dir / "tool.json"))
        tessera.dask.run(files, out=str(self.dir / "dask"), formats=formats, chunk_lines=7,
                         apply_treatment=str(self.dir / "tool.json"))
        self.assertSameFiles(self.dir / "applied", self.dir / "tool", same)
        for other in ("run", "dask"):
            self.assertSameFiles(self.dir / other, self.dir / "applied", same + [".txt"])
        report = (self.dir / "applied.txt").read_text()
        self.assertIn("Pixels of codes the treatment did not keep : "
                      f"{int(counts[counts == 1].sum())} (in no class)", report)
        # Applied to the scene's chunks: the same classes and report.
        import rioxarray
        chunked = rioxarray.open_rasterio(whole, chunks=(32, 40, 52))
        result = tessera.dask.treat(chunked, apply_treatment=str(self.dir / "tool.json"))
        np.testing.assert_array_equal(
            np.asarray(result.classes),
            np.fromfile(self.dir / "applied.raw", dtype="<u2").reshape(data.shape[1:]))
        self.assertEqual(result.report, report)
        # Saved again by the run that applied it, the same document.
        tessera.run(bands=files, out=str(self.dir / "again"), formats=["txt"],
                    apply_treatment=str(self.dir / "tool.json"),
                    save_treatment=str(self.dir / "again.json"))
        self.assertEqual(saved, (self.dir / "again.json").read_text())

        # Fitted on the two halves: their counts merged, the same classes as the whole scene's.
        halves = [[f"{path}:{b}" for b in range(1, 33)] for path in (top, bottom)]
        run_batch(["--fit-treatment", self.dir / "fit.json", *choice, "--min-pixels", 1,
                   "--max-classes", 65534, "--scene", "--bands", top, "--limits",
                   ",".join(map(str, limits)), "--scene", "--bands", bottom, "--limits",
                   ",".join(map(str, limits))])
        fitted = json.loads((self.dir / "fit.json").read_text())
        self.assertEqual([c["code"] for c in fitted["classes"]], kept)
        keywords = dict(method="definition", segments=4, stretch="0,10200", limits=limits,
                        min_pixels=1, max_classes=65534)
        tessera.fit_treatment(halves, str(self.dir / "fit-run.json"), **keywords)
        tessera.dask.fit_treatment(halves, str(self.dir / "fit-dask.json"), chunk_lines=5,
                                   **keywords)
        for other in ("fit-run.json", "fit-dask.json"):
            self.assertEqual((self.dir / "fit.json").read_bytes(), (self.dir / other).read_bytes())
        # Applied to the whole scene, the fitted treatment gives the same classes.
        run_batch(["--out", self.dir / "fitted", "--apply-treatment", self.dir / "fit.json",
                   "--format", "raw", "--bands", whole])
        self.assertSameFiles(self.dir / "fitted", self.dir / "tool", [".raw"])

    def test_a_table_past_two_to_the_64_is_refused_with_its_size(self):
        scene = self.dir / "wide.tif"
        write_scene(scene, 28, patterns=3, lines=8, columns=8)
        status, message = run_batch(["--out", self.dir / "refused", "--method", "definition",
                                     "--segments", 5, "--stretch", "0,10200", "--bands", scene,
                                     "--limits", "50,100,150,200,255"], check=False)
        # 5 segments on 28 bands: 5^28 codes.
        self.assertEqual(2, status, message)
        self.assertIn(str(5 ** 28) + " codes, more than the " + str(2 ** 64), message)
        self.assertFalse((self.dir / "refused.txt").exists())


if __name__ == "__main__":
    unittest.main()
