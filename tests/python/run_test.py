"""tessera.run: the golden job writes the golden files and answers what they hold; its
refusals carry tessera-batch's messages and leave no result file."""
import unittest
from pathlib import Path

import numpy as np

import tessera
from support import GOLDEN, SOURCE, ScratchCase, golden_choices, run_batch


class GoldenJob(ScratchCase):
    def test_writes_the_golden_files_and_answers_their_contents(self):
        self.copy_samples()
        result = tessera.run(**golden_choices(self.dir), out=self.dir / "result",
                             save_segmented=self.dir / "seg",
                             formats=["bmp", "txt", "raw", "codes"])
        for expected in (GOLDEN / "expected").iterdir():
            with self.subTest(file=expected.name):
                self.assertEqual((self.dir / expected.name).read_bytes(),
                                 expected.read_bytes().replace(b"@DIR@", str(self.dir).encode()))
        self.assertEqual(result.classes.tobytes(), (self.dir / "result.raw").read_bytes())
        self.assertEqual(result.classes.shape, (200, 300))
        self.assertEqual(result.report, (self.dir / "result.txt").read_text())
        self.assertEqual(result.code_list, (self.dir / "result_codes.txt").read_text())
        self.assertFalse((self.dir / "multi_tab.txt").exists())
        self.assertEqual((result.class_count, result.code_count), (24, 144))
        self.assertEqual(int(result.counts.sum()), 200 * 300)
        self.assertTrue(all(result.counts[c] > 100 for c in result.selected_codes))
        self.assertEqual(result.colours.shape, (256, 3))

    def test_the_bands_of_one_raster_with_choices_for_all(self):
        self.copy_samples()
        scene = self.dir / "scene.tif"
        result = tessera.run(bands=scene, method="equipopulation", segments=3, min_pixels=50,
                             out=self.dir / "py")
        run_batch(["--out", self.dir / "tool", "--method", "equipopulation", "--segments", 3,
                   "--min-pixels", 50, "--bands", scene])
        self.assertSameFiles(self.dir / "py", self.dir / "tool",
                             [".bmp", ".raw", ".txt", ".csv", ".tif.aux.xml", ".qml"])
        self.assertEqual(result.class_count, 33)

    def test_formats_without_the_raw_file_leave_no_classes(self):
        self.copy_samples()
        result = tessera.run(bands=[self.dir / "band1.raw", self.dir / "band2.raw"],
                             segments=3, out=self.dir / "r", formats=["txt"])
        self.assertIsNone(result.classes)
        self.assertEqual(sorted(p.name for p in self.dir.glob("r.*")), ["r.txt"])


class Refusals(ScratchCase):
    def assertNothingWritten(self):
        self.assertEqual(sorted(p.name for p in self.dir.glob("out*")), [])

    def test_a_missing_band_file(self):
        self.copy_samples()
        bands = [self.dir / "band1.raw", self.dir / "absent.raw"]
        self.assertRaisesTheToolsMessage(
            FileNotFoundError,
            ["--out", self.dir / "out", "--method", "segmentation", "--segments", 4] +
            [a for b in bands for a in ("--band", b)],
            lambda: tessera.run(bands=bands, out=self.dir / "out"))
        self.assertNothingWritten()

    def test_result_files_that_cannot_be_written(self):
        self.copy_samples()
        bands = [self.dir / "band1.raw", self.dir / "band2.raw"]
        out = self.dir / "no-such-folder" / "out"
        raised = self.assertRaisesTheToolsMessage(
            OSError,
            ["--out", out, "--method", "segmentation", "--segments", 4] +
            [a for b in bands for a in ("--band", b)],
            lambda: tessera.run(bands=bands, out=out))
        self.assertNotIsInstance(raised, FileNotFoundError)

    def test_a_method_name_or_segment_count_out_of_range(self):
        self.copy_samples()
        bands = [self.dir / "band1.raw", self.dir / "band2.raw"]
        listed = [a for b in bands for a in ("--band", b)]
        for method, segments in (("median", 4), ("segmentation", 0), ("segmentation", 255)):
            with self.subTest(method=method, segments=segments):
                self.assertRaisesTheToolsMessage(
                    ValueError,
                    ["--out", self.dir / "out", "--method", method, "--segments", segments]
                    + listed,
                    lambda: tessera.run(bands=bands, method=method, segments=segments,
                                        out=self.dir / "out"))
        self.assertNothingWritten()

    def test_more_than_250_classes_when_every_code_is_kept(self):
        self.copy_samples()
        bands = [self.dir / f"band{b}.raw" for b in range(1, 5)]
        self.assertRaisesTheToolsMessage(
            ValueError,
            ["--out", self.dir / "out", "--keep-all", "--method", "segmentation", "--segments",
             10] + [a for b in bands for a in ("--band", b)],
            lambda: tessera.run(bands=bands, segments=10, keep_all=True, out=self.dir / "out"))
        self.assertNothingWritten()

    def test_choices_per_band_that_do_not_fit_the_bands(self):
        self.copy_samples()
        with self.assertRaisesRegex(ValueError, "segments holds 3 entries for 2 bands"):
            tessera.run(bands=[self.dir / "band1.raw", self.dir / "band2.raw"],
                        segments=[2, 3, 4], out=self.dir / "out")
        with self.assertRaisesRegex(ValueError, "one file"):
            tessera.run(bands=self.dir / "scene.tif", segments=[2, 3], out=self.dir / "out")
        self.assertRaisesTheToolsMessage(
            ValueError,
            ["--out", self.dir / "out", "--band", self.dir / "band1.raw", "--method",
             "definition", "--segments", 3, "--band", self.dir / "band2.raw", "--method",
             "definition", "--segments", 3],
            lambda: tessera.run(bands=[self.dir / "band1.raw", self.dir / "band2.raw"],
                                method="definition", segments=3, out=self.dir / "out"))
        self.assertNothingWritten()


if __name__ == "__main__":
    unittest.main()
