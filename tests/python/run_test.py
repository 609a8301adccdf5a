"""tessera.run: the golden job writes the golden files and answers what they hold; its
refusals carry tessera-batch's messages and leave no result file."""
import inspect
import json
import os
import shutil
import subprocess
import unittest
from pathlib import Path

import numpy as np

import tessera
from support import (BATCH, GOLDEN, SOURCE, ScratchCase, golden_choices, in_python_words,
                     run_batch)


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


class ResultSets(ScratchCase):
    """What tessera.run writes: only the files `out` names, put in place all or none."""

    def test_the_code_list_only_when_asked_and_nothing_beside_the_bands(self):
        bands = self.dir / "bands"
        bands.mkdir()
        for file in (SOURCE / "samples").iterdir():
            shutil.copy(file, bands)
        before = sorted(p.name for p in bands.iterdir())
        out = self.dir / "out"
        out.mkdir()
        choices = dict(bands=[bands / "band1.raw", bands / "band2.raw"], segments=[3, 4])
        tessera.run(**choices, out=out / "r")
        self.assertEqual(sorted(p.name for p in out.iterdir()), ["r.bmp", "r.raw", "r.txt"])
        tessera.run(**choices, out=out / "c", formats="txt,codes")
        self.assertEqual((out / "c_codes.txt").read_bytes(), tessera.code_list([3, 4]).encode())
        self.assertEqual(sorted(p.name for p in out.glob("c*")), ["c.txt", "c_codes.txt"])
        self.assertEqual(sorted(p.name for p in bands.iterdir()), before)

    def test_sigterm_at_the_first_changed_file_leaves_one_set_whole(self):
        import signal
        import subprocess
        import sys
        import time
        self.copy_samples()
        names = ["r.bmp", "r.csv", "r.qml", "r.raw", "r.tif", "r.tif.aux.xml", "r.txt"]
        job = ("import sys, tessera; tessera.run(bands=sys.argv[1], segments=int(sys.argv[2]), "
               "out=sys.argv[3])")
        sets = {}
        for segments in (2, 3):
            folder = self.dir / f"set{segments}"
            folder.mkdir()
            subprocess.run([sys.executable, "-c", job, self.dir / "scene.tif", str(segments),
                            folder / "r"], check=True)
            sets[segments] = {name: (folder / name).read_bytes() for name in names}
        out = self.dir / "out"
        out.mkdir()
        for attempt in range(20):
            for name, data in sets[2].items():
                (out / name).write_bytes(data)
            def inode(name):
                try:
                    return os.stat(out / name).st_ino
                except FileNotFoundError:
                    return None
            stamps = [inode(name) for name in names]
            child = subprocess.Popen([sys.executable, "-c", job, self.dir / "scene.tif", "3",
                                      out / "r"])
            give_up = time.monotonic() + 120
            while child.poll() is None and time.monotonic() < give_up:
                if any(inode(n) != s for n, s in zip(names, stamps)):
                    child.send_signal(signal.SIGTERM)
                    break
            child.wait()
            self.assertIn(child.returncode, (0, -signal.SIGTERM))
            self.assertEqual(sorted(p.name for p in out.iterdir()), names, attempt)
            now = {name: (out / name).read_bytes() for name in names}
            self.assertTrue(now in (sets[2], sets[3]),
                            f"attempt {attempt}: a mixed set: " +
                            ", ".join(n for n in names if now[n] != sets[3][n]) + " old")


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

    def test_every_choice_of_the_tool_is_a_keyword_and_refusals_have_their_kinds(self):
        self.copy_samples()
        bands = [self.dir / "band1.raw", self.dir / "band2.raw"]
        described = json.loads(subprocess.run([BATCH, "--describe"], capture_output=True,
                                              text=True, check=True).stdout)
        keywords = set(inspect.signature(tessera.run).parameters) | set(tessera._CHOICES)
        # The command line's own, Python's functions of their own, and the stages Python
        # does not print.
        apart = {"--help", "--describe", "--progress", "--quiet", "--scene"}
        functions = {"--fit-treatment": tessera.fit_treatment, "--change": tessera.change}
        for option in described["options"]:
            name = option["name"]
            with self.subTest(option=name):
                if name in functions:
                    self.assertTrue(callable(functions[name]))
                elif name not in apart:
                    self.assertIn(in_python_words(name), keywords | {"bands"})
                    self.assertIn(in_python_words(name), tessera.run.__doc__)
        with self.assertRaisesRegex(FileNotFoundError, "absent.raw"):
            tessera.run(bands, mask=self.dir / "absent.raw", out=self.dir / "out")
        with self.assertRaisesRegex(FileNotFoundError, "none.json"):
            tessera.run(bands, apply_treatment=self.dir / "none.json", out=self.dir / "out")
        with self.assertRaisesRegex(ValueError, "^mask_bits is the rule of a mask"):
            tessera.run(bands, mask_bits=[4], out=self.dir / "out")
        with self.assertRaisesRegex(ValueError, "^window and window_pixels exclude each other$"):
            tessera.run(bands, window=(0, 0, 1, 1), window_pixels=(0, 0, 1, 1),
                        out=self.dir / "out")
        with self.assertRaisesRegex(ValueError, "^apply_treatment gives every band's method"):
            tessera.run(bands, apply_treatment=self.dir / "t.json", segments=3,
                        out=self.dir / "out")
        with self.assertRaisesRegex(TypeError, "unexpected keyword argument 'colour'"):
            tessera.run(bands, colour="red")
        self.assertNothingWritten()

    def test_a_treatment_saved_fitted_and_applied_from_python(self):
        self.copy_samples()
        bands = [self.dir / f"band{b}.raw" for b in (1, 2, 3)]
        tessera.run(bands, segments=3, min_pixels=100, out=self.dir / "first",
                    save_treatment=self.dir / "saved.json")
        applied = tessera.run(bands, apply_treatment=self.dir / "saved.json",
                              out=self.dir / "again")
        self.assertEqual((self.dir / "first.raw").read_bytes(),
                         (self.dir / "again.raw").read_bytes())
        fitted = tessera.fit_treatment([bands, bands[::-1]], self.dir / "fitted.json",
                                       segments=2, min_pixels=10)
        self.assertEqual(fitted, str(self.dir / "fitted.json"))
        self.assertEqual(json.loads((self.dir / "fitted.json").read_text())["bands"][0]["file"],
                         str(bands[0]))
        with self.assertRaisesRegex(ValueError, "^scene 2: give 2 to 32 bands, not 1$"):
            tessera.fit_treatment([bands, [bands[0]]], self.dir / "refused.json", segments=2)
        self.assertFalse((self.dir / "refused.json").exists())
        self.assertGreater(applied.class_count, 1)


if __name__ == "__main__":
    unittest.main()
