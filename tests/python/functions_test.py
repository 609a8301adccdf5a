"""The module's pure functions on hand-made arrays and on the sample bands, against what the
program's C++ front ends write for them (the golden job's files)."""
import re
import unittest

import numpy as np

import tessera
from support import (GOLDEN, SOURCE, bitmap_palette, golden_choices, read_bitmap_band,
                     read_raw_band)

EXPECTED = GOLDEN / "expected"


def sample_bands():
    samples = SOURCE / "samples"
    return [read_raw_band(samples / f"band{b}.raw") for b in range(1, 5)] + \
        [read_bitmap_band(samples / "band1.bmp")]


def golden_limits():
    """The segment limits of every band as the golden report states them."""
    report = (EXPECTED / "result.txt").read_text()
    bands = report.split("\nBand ")[1:]
    limits = []
    for band in bands:
        pairs = re.findall(r"Segment \d+ min = (-?\d+) max = (-?\d+)", band)
        limits.append(([int(a) for a, _ in pairs], [int(b) for _, b in pairs]))
    return limits


def golden_code_counts():
    """Class number and pixels of every class the golden report lists."""
    report = (EXPECTED / "result.txt").read_text()
    rows = re.findall(r"^\t(\d+)\t.*\t\t(\d+)$", report, flags=re.M)
    return [(int(code), int(pixels)) for code, pixels in rows]


class GrayLevels(unittest.TestCase):
    def test_stretch_rounds_halves_up_and_clamps(self):
        values = np.array([[999, 1000, 1001, 1002, 1255, 1509, 1510, 2000, 60000]],
                          dtype=np.uint16)
        gray, marks = tessera.gray_levels(values, stretch=(1000, 1510))
        # (v - 1000) x 255 / 510 = (v - 1000) / 2, rounded half up.
        self.assertEqual(gray.tolist(), [[0, 0, 1, 1, 128, 255, 255, 255, 255]])
        self.assertEqual(marks.tolist(), [[0] * 9])

    def test_nodata_and_non_finite_values_are_marked_apart(self):
        values = np.array([[np.nan, -9999.9, np.inf, -np.inf, 0.5, 1.0]], dtype=np.float32)
        gray, marks = tessera.gray_levels(values, nodata=-9999.9, stretch=(0.0, 1.0))
        # -9999.9 is taken as the float the band holds, so it marks the pixel.
        self.assertEqual(marks.tolist(), [[2, 1, 2, 2, 0, 0]])
        self.assertEqual(gray[0, 4:].tolist(), [128, 255])

    def test_bytes_are_gray_levels_and_nodata_a_gray_level(self):
        values = np.arange(0, 256, 51, dtype=np.uint8).reshape(2, 3)
        gray, marks = tessera.gray_levels(values, nodata=102)
        self.assertEqual(gray.tolist(), values.tolist())
        self.assertEqual(marks.tolist(), [[0, 0, 1], [0, 0, 0]])

    def test_a_band_of_more_than_8_bits_needs_its_stretch(self):
        with self.assertRaisesRegex(ValueError, "Int16 values needs its stretch"):
            tessera.histogram(np.zeros((2, 2), dtype=np.int16))

    def test_big_endian_values_read_as_their_numbers(self):
        values = np.array([[1000, 1510]], dtype=">u2")
        gray, _ = tessera.gray_levels(values, stretch=(1000, 1510))
        self.assertEqual(gray.tolist(), [[0, 255]])


class Statistics(unittest.TestCase):
    def test_range_and_histogram_leave_out_pixels_without_data(self):
        values = np.array([[5, 7, -1, np.nan], [9, -1, 11, np.inf]], dtype=np.float64)
        self.assertEqual(tessera.value_range(values, nodata=-1), (5.0, 11.0))
        histogram = tessera.histogram(values, nodata=-1, stretch=(5, 11))
        self.assertEqual(histogram.without_data, 4)
        self.assertEqual(histogram.non_finite, 2)
        self.assertEqual({g: int(c) for g, c in enumerate(histogram.counts) if c},
                         {0: 1, 85: 1, 170: 1, 255: 1})

    def test_a_block_without_data_has_no_range(self):
        low, high = tessera.value_range(np.full((3, 3), 4, dtype=np.int32), nodata=4)
        self.assertGreater(low, high)

    def test_histograms_of_blocks_add_up_to_the_bands(self):
        band = sample_bands()[1]
        whole = tessera.histogram(band)
        parts = [tessera.histogram(band[:77]), tessera.histogram(band[77:, :150]),
                 tessera.histogram(band[77:, 150:])]
        self.assertEqual(sum(p.counts for p in parts).tolist(), whole.counts.tolist())
        self.assertEqual(int(whole.counts.sum()), band.size)


class Limits(unittest.TestCase):
    def test_every_method_gives_the_golden_reports_limits(self):
        choices = golden_choices("unused")
        for b, (band, expected) in enumerate(zip(sample_bands(), golden_limits())):
            with self.subTest(band=b + 1):
                segmentation = tessera.limits(tessera.histogram(band), choices["method"][b],
                                              choices["segments"][b], choices["limits"][b])
                self.assertEqual((segmentation.lower.tolist(), segmentation.upper.tolist()),
                                 expected)

    def test_out_of_range_choices_are_refused(self):
        counts = np.ones(256, dtype=np.int64)
        with self.assertRaisesRegex(ValueError, "1 and 254|1 to 254|254"):
            tessera.limits(counts, "segmentation", 0)
        with self.assertRaisesRegex(ValueError, "unknown method 'median'"):
            tessera.limits(counts, "median", 3)
        with self.assertRaisesRegex(ValueError, "256 counts"):
            tessera.limits(counts[:10], "segmentation", 3)


class Crossing(unittest.TestCase):
    """The sample bands crossed through the pure functions give the golden job's files."""

    @classmethod
    def setUpClass(cls):
        choices = golden_choices("unused")
        cls.bands = sample_bands()
        cls.segmentations = [
            tessera.limits(tessera.histogram(band), method, count, typed)
            for band, method, count, typed in zip(cls.bands, choices["method"],
                                                  choices["segments"], choices["limits"])]

    def test_codes_counts_selection_and_classes_are_the_golden_ones(self):
        counts = tessera.code_counts(self.bands, self.segmentations)
        self.assertEqual(len(counts.counts), 4 * 3 * 3 * 2 * 2 + 1)
        self.assertEqual(int(counts.counts.sum()), self.bands[0].size)
        selected = tessera.select_codes(counts, min_pixels=100)
        self.assertEqual([(k + 1, int(counts.counts[c])) for k, c in enumerate(selected)],
                         golden_code_counts())
        # Class 1's segments, as the report gives them: 1 1 1 2 1.
        digits = (1, 1, 1, 2, 1)
        self.assertEqual(int(selected[0]),
                         1 + sum((d - 1) * w for d, w in zip(digits, (36, 12, 4, 2, 1))))
        classes = tessera.classes(self.bands, self.segmentations, selected)
        self.assertEqual(classes.tobytes(), (EXPECTED / "result.raw").read_bytes())

    def test_codes_are_mixed_radix_digits_of_the_segment_numbers(self):
        codes = tessera.codes(self.bands, self.segmentations)
        numbers = [tessera.segment_numbers(b, s) for b, s in zip(self.bands, self.segmentations)]
        expected = np.zeros_like(codes)
        for number, weight in zip(numbers, [36, 12, 4, 2, 1]):
            expected += (number.astype(np.int32) - 1) * weight
        covered = np.all([n != tessera.NO_SEGMENT for n in numbers], axis=0)
        self.assertEqual(np.where(covered, expected + 1, 0).tolist(), codes.tolist())

    def test_blocks_add_up_to_the_scene_whatever_the_cut(self):
        whole = tessera.code_counts(self.bands, self.segmentations)
        cuts = [(slice(0, 61), slice(0, 300)), (slice(61, 200), slice(0, 17)),
                (slice(61, 200), slice(17, 300))]
        parts = [tessera.code_counts([b[c] for b in self.bands], self.segmentations)
                 for c in cuts]
        self.assertEqual(tessera.sum_counts(parts).counts.tolist(), whole.counts.tolist())
        selected = tessera.select_codes(whole, min_pixels=100)
        pieces = np.zeros(self.bands[0].shape, dtype=np.uint8)
        for c in cuts:
            pieces[c] = tessera.classes([b[c] for b in self.bands], self.segmentations, selected)
        self.assertEqual(pieces.tobytes(), (EXPECTED / "result.raw").read_bytes())

    def test_segment_numbers_are_the_saved_segmented_band(self):
        numbers = tessera.segment_numbers(self.bands[4], self.segmentations[4])
        self.assertEqual(numbers.tobytes(), (EXPECTED / "seg.raw").read_bytes())

    def test_pixels_without_data_have_no_code_and_no_class(self):
        bands = [b.copy() for b in self.bands]
        segmentations = list(self.segmentations)
        codes = tessera.codes(bands, segmentations, nodata=[bands[0][0, 0], None, None, None,
                                                            None])
        self.assertTrue(np.all(codes[self.bands[0] == self.bands[0][0, 0]] == 0))
        counts = tessera.code_counts(bands, segmentations,
                                     nodata=[bands[0][0, 0], None, None, None, None])
        self.assertEqual(counts.without_data, int((self.bands[0] == self.bands[0][0, 0]).sum()))

    def test_too_many_classes_are_refused_with_the_tools_text(self):
        counts = tessera.code_counts(self.bands, self.segmentations)
        self.assertEqual(len(tessera.select_codes(counts, keep_all=True)), 144)
        many = np.concatenate([[0], np.full(300, 5)])
        with self.assertRaisesRegex(ValueError, "^--keep-all would make 300 classes, more than "
                                                "250; use --min-pixels"):
            tessera.select_codes(many, keep_all=True)
        with self.assertRaisesRegex(ValueError, "^300 codes have more than 4 pixels, more than "
                                                "the 250 classes allowed"):
            tessera.select_codes(many, min_pixels=4)
        self.assertEqual(len(tessera.select_codes(many, min_pixels=5)), 0)


class Texts(unittest.TestCase):
    def test_colour_tables_are_the_golden_bitmaps_palettes(self):
        segments, classes = tessera.colour_tables()
        self.assertEqual(segments.tolist(), bitmap_palette(EXPECTED / "seg.bmp").tolist())
        self.assertEqual(classes.tolist(), bitmap_palette(EXPECTED / "result.bmp").tolist())

    def test_code_list_is_the_golden_one(self):
        self.assertEqual(tessera.code_list([4, 3, 3, 2, 2]).encode(),
                         (EXPECTED / "result_codes.txt").read_bytes())

    def test_code_table_lines_give_every_code_with_its_pixels(self):
        counts = np.arange(0, 7, dtype=np.int64)
        lines = tessera.code_table_lines([3, 2], counts)
        self.assertEqual(len(lines), 6 + 2)
        self.assertIn("B2", lines[0])
        self.assertTrue(lines[-1].rstrip().endswith("6"), lines[-1])

    def test_dtypes_no_band_takes_are_refused(self):
        self.assertEqual(tessera.value_type(np.float32), "Float32")
        for dtype in (np.complex64, np.bool_, np.float16):
            with self.subTest(dtype=dtype), self.assertRaisesRegex(ValueError,
                                                                    "cannot be segmented"):
                tessera.gray_levels(np.zeros((2, 2), dtype=dtype))


if __name__ == "__main__":
    unittest.main()
