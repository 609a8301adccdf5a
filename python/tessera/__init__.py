"""Tessera_V2 from Python.

The program's rules as functions on numpy arrays (arrays in, arrays out, nothing kept between
calls, the GIL released while they compute), and the whole job of ``tessera-batch`` as
``tessera.run(...)``::

    import tessera
    result = tessera.run(bands=["samples/band1.raw", "samples/band2.raw"], segments=4,
                         min_pixels=100, out="result")
    result.classes          # the class of every pixel (255: none), as result.raw holds it
    print(result.report)    # result.txt

``tessera.dask`` runs the same treatment on dask arrays, chunk by chunk.

Refusals are exceptions that carry the program's own message: ValueError for a choice or an
input the treatment refuses, OSError (FileNotFoundError for a band's missing file) when a file
cannot be read or written.
"""
import math
import os
from typing import NamedTuple

import numpy as np

from . import _core

__all__ = [
    "METHODS", "MAXIMUM_CLASSES", "NO_CLASS", "NO_SEGMENT", "Histogram", "Segmentation",
    "Counts", "Result", "value_type", "gray_levels", "value_range", "histogram", "limits",
    "segment_numbers", "codes", "code_counts", "sum_counts", "select_codes", "classes",
    "colour_tables", "code_list", "code_table_lines", "run",
]

# The method names tessera-batch takes, and their numbers in the program.
METHODS = {"segmentation": 0, "equipopulation": 1, "definition": 2}
MAXIMUM_CLASSES = _core.MAXIMUM_CLASSES
NO_CLASS = _core.NO_CLASS
NO_SEGMENT = _core.NO_SEGMENT


class Histogram(NamedTuple):
    """A band's gray levels with data (256 counts), its pixels without data, and how many of
    those hold NaN or an infinite value."""
    counts: np.ndarray
    without_data: int
    non_finite: int


class Segmentation(NamedTuple):
    """A band cut into segments: the method's number, the count, and the gray limits of
    segments 1..N (both included)."""
    method: int
    segments: int
    lower: np.ndarray
    upper: np.ndarray


class Counts(NamedTuple):
    """The pixels of every code 0..N (0: pixels without a code) and, of those, the pixels
    without data in some band."""
    counts: np.ndarray
    without_data: int


def _block(array):
    """A 2-D block of a band, held line after line, in the machine's byte order."""
    block = np.asarray(array)
    if block.dtype.kind in "uif" and not block.dtype.isnative:
        block = block.astype(block.dtype.newbyteorder("="))
    return np.ascontiguousarray(block)


def _method(method):
    if isinstance(method, str):
        if method not in METHODS:
            # The batch tool's own refusal of a method name.
            _core.parse_options(["--out", "x", "--method", method])
        return METHODS[method]
    return int(method)


def _per_band(value, count, what):
    """A choice given once for every band, or as a list of one per band."""
    if isinstance(value, (list, tuple)) and not (what == "stretch" and _is_pair(value)):
        if len(value) != count:
            raise ValueError(f"{what} holds {len(value)} entries for {count} bands")
        return list(value)
    return [value] * count


def _is_pair(value):
    return (isinstance(value, (list, tuple)) and len(value) == 2
            and all(isinstance(v, (int, float, np.number)) for v in value))


def _stretch(value):
    return None if value is None else (float(value[0]), float(value[1]))


def _nodata(value):
    return None if value is None else float(value)


def _description(block, nodata=None, stretch=None):
    return (_core.value_type(block.dtype), _nodata(nodata), _stretch(stretch))


def value_type(dtype):
    """GDAL's name for the band type of this dtype ("UInt16"); ValueError for a dtype no band
    takes (complex, bool, float16, strings...)."""
    return _core.value_type(np.dtype(dtype))


def gray_levels(block, nodata=None, stretch=None):
    """A block's gray levels and marks (0 with data, 1 the nodata value, 2 NaN or infinite), as
    the program reads a band's file: uint8 values as they are, every other type through its
    stretch (MIN, MAX), which it then needs."""
    return _core.gray_levels(_block(block), nodata=_nodata(nodata), stretch=_stretch(stretch))


def value_range(block, nodata=None):
    """The least and greatest value of a block with data (neither nodata nor NaN nor
    infinite); (inf, -inf) when it has none."""
    block = _block(block)
    plan = _core.Plan([_description(block, nodata)])
    low, high = plan.ranges([block])[0]
    return float(low), float(high)


def histogram(block, nodata=None, stretch=None):
    """A block's histogram of gray levels with data, with its nodata mask and its stretch
    applied (see gray_levels); histograms of the blocks of a band add up to the band's."""
    block = _block(block)
    plan = _core.Plan([_description(block, nodata, stretch)])
    _check_stretched(plan, block, stretch)
    row = plan.statistics([block])[0]
    return Histogram(row[:256].copy(), int(row[256]), int(row[257]))


def _check_stretched(plan, block, stretch):
    if stretch is None and _core.value_type(block.dtype) != "Byte":
        raise ValueError(f"a band of {_core.value_type(block.dtype)} values needs its stretch "
                         "(MIN, MAX)")


def limits(histogram, method="segmentation", segments=4, limits=None):
    """The segments of a band with this histogram (256 counts, or a Histogram): equal-width
    ranges of its gray range, equal-population ranges, or the typed upper limits `limits` of a
    definition band."""
    counts = histogram.counts if isinstance(histogram, Histogram) else histogram
    number = _method(method)
    lower, upper = _core.limits(np.asarray(counts, dtype=np.int64), number, int(segments),
                                [int(v) for v in (limits or [])])
    return Segmentation(number, int(segments), lower, upper)


def _segmentation_tuple(segmentation):
    method, count, lower, upper = segmentation
    return (int(method), int(count), [int(v) for v in lower], [int(v) for v in upper])


def _plan(blocks, segmentations, nodata=None, stretch=None, selected=()):
    blocks = [_block(b) for b in blocks]
    count = len(blocks)
    nodatas = _per_band(nodata, count, "nodata")
    stretches = _per_band(stretch, count, "stretch")
    if len(segmentations) != count:
        raise ValueError(f"give one segmentation per band: {count} blocks, "
                         f"{len(segmentations)} segmentations")
    descriptions = [_description(b, n, s) for b, n, s in zip(blocks, nodatas, stretches)]
    plan = _core.Plan(descriptions, [_segmentation_tuple(s) for s in segmentations],
                      [int(c) for c in selected])
    for block, s in zip(blocks, stretches):
        _check_stretched(plan, block, s)
    return plan, blocks


def segment_numbers(block, segmentation, nodata=None, stretch=None):
    """A block's segment numbers 1..N (255 where no segment covers the gray level, and where the
    pixel has no data)."""
    plan, blocks = _plan([block], [segmentation], nodata, stretch)
    return plan.segment_numbers(1, blocks[0])


def codes(blocks, segmentations, nodata=None, stretch=None):
    """The multi-band code of every pixel of blocks of 2 to 10 bands of one size (0: none, as
    where a band has no data or no segment)."""
    plan, blocks = _plan(blocks, segmentations, nodata, stretch)
    return plan.codes(blocks)


def code_counts(blocks, segmentations, nodata=None, stretch=None):
    """The pixels of every code of a set of blocks; the counts of the blocks of a scene add up
    (sum_counts) to the scene's."""
    plan, blocks = _plan(blocks, segmentations, nodata, stretch)
    both = plan.counts(blocks)
    return Counts(both[:-1], int(both[-1]))


def sum_counts(counts):
    """The sum of the Counts of several blocks."""
    counts = list(counts)
    if not counts:
        raise ValueError("no counts to add up")
    total = np.zeros_like(counts[0].counts)
    without = 0
    for part in counts:
        if part.counts.shape != total.shape:
            raise ValueError("counts of different code tables cannot be added up")
        total += part.counts
        without += part.without_data
    return Counts(total, without)


def select_codes(counts, min_pixels=0, keep_all=False):
    """The codes that become classes 1..K: every code (keep_all), or those of more than
    min_pixels pixels; ValueError, with the batch tool's text, beyond 250 classes."""
    pixel_count = counts.counts if isinstance(counts, Counts) else counts
    return _core.select_codes(np.asarray(pixel_count, dtype=np.int64), bool(keep_all),
                              int(min_pixels or 0))


def classes(blocks, segmentations, selected, nodata=None, stretch=None):
    """The class of every pixel of a set of blocks: class k for the k-th code of `selected`,
    255 for the others and for pixels without a code."""
    if len(selected) == 0:
        raise ValueError("no code is kept as a class")
    plan, blocks = _plan(blocks, segmentations, nodata, stretch, selected)
    return plan.classes(blocks)


def colour_tables():
    """The segment colours and the class colours (256 x 3, red, green, blue) of a treatment, as
    the program draws them: segments first, then classes, from its one sequence."""
    return _core.colour_tables()


def code_list(segment_counts):
    """The code list (STEM_codes.txt) of bands cut into these segment counts."""
    return _core.code_list([int(c) for c in segment_counts])


def code_table_lines(segment_counts, counts):
    """The lines of the code table shown before the selection: a header, then one per code."""
    pixel_count = counts.counts if isinstance(counts, Counts) else counts
    return _core.code_table_lines([int(c) for c in segment_counts],
                                  np.asarray(pixel_count, dtype=np.int64))


class Result:
    """A treatment's result: `classes` (the class of every pixel, 255 none; a dask array from
    tessera.dask), `counts` (pixels of every code 0..N), `selected_codes` (the codes of classes
    1..K), `colours` (the class colours, 256 x 3 RGB), `report` (the text of STEM.txt)."""

    def __init__(self, treatment, classes):
        self.treatment = treatment
        self.classes = classes
        self.counts = treatment.pixel_count
        self.selected_codes = treatment.selected_codes
        self.colours = treatment.class_colours
        self.segment_colours = treatment.segment_colours
        self.report = treatment.report()
        self.class_count = treatment.class_count
        self.code_count = treatment.code_count
        self.nodata_pixels = treatment.nodata_pixels
        self.segmentations = [Segmentation(m, s, np.asarray(lo), np.asarray(up))
                              for m, s, lo, up in treatment.segmentations()]

    @property
    def code_list(self):
        """The code list (as STEM_codes.txt holds it with formats=[..., "codes"])."""
        return self.treatment.code_list()

    def __repr__(self):
        lines, columns = self.treatment.size
        return (f"<tessera.Result: {lines} x {columns} pixels, {self.code_count} codes, "
                f"{self.class_count} classes>")


def _number(value):
    """A number as the batch tool reads it back exactly."""
    if isinstance(value, (bool, np.bool_)):
        raise ValueError(f"a number, not {value!r}")
    if isinstance(value, (int, np.integer)):
        return str(int(value))
    value = float(value)
    if math.isnan(value):
        return "nan"
    if math.isinf(value):
        return "inf" if value > 0 else "-inf"
    return repr(value)


def _job_arguments(bands, method, segments, limits, min_pixels, keep_all, nodata, stretch, out):
    """tessera-batch's arguments for these choices."""
    arguments = ["--out", out]
    if keep_all:
        arguments.append("--keep-all")
    if min_pixels is not None:
        arguments += ["--min-pixels", _number(min_pixels)]
    if isinstance(bands, (str, os.PathLike)):
        # Every band of one file: the choices apply to all of them.
        for name, value in (("method", method), ("segments", segments), ("nodata", nodata)):
            if isinstance(value, (list, tuple)):
                raise ValueError(f"{name} is given per band, but the bands are those of one "
                                 f"file ({os.fspath(bands)}): give one {name} for all")
        if stretch is not None and not _is_pair(stretch):
            raise ValueError("stretch is given per band, but the bands are those of one file: "
                             "give one (MIN, MAX) for all")
        names = [None]
        arguments += ["--bands", os.fspath(bands)]
        count = 1
    else:
        names = [os.fspath(b) for b in bands]
        count = len(names)
    methods = _per_band(method, count, "method")
    counts = _per_band(segments, count, "segments")
    nodatas = _per_band(nodata, count, "nodata")
    stretches = _per_band(stretch, count, "stretch")
    if limits is not None and len(limits) > 0 and isinstance(limits[0], (list, tuple, type(None))):
        typed = _per_band(list(limits), count, "limits")
    else:
        typed = [limits] * count
    for b in range(count):
        if names[b] is not None:
            arguments += ["--band", names[b]]
        band_method = methods[b]
        if not isinstance(band_method, str):
            names_of = {v: k for k, v in METHODS.items()}
            band_method = names_of.get(int(band_method), str(band_method))
        arguments += ["--method", band_method, "--segments", _number(counts[b])]
        if typed[b] is not None and band_method == "definition":
            arguments += ["--limits", ",".join(_number(v) for v in typed[b])]
        if stretches[b] is not None:
            low, high = stretches[b]
            arguments += ["--stretch", f"{_number(low)},{_number(high)}"]
        if nodatas[b] is not None:
            arguments += ["--nodata", _number(nodatas[b])]
    return arguments


def run(bands, method="segmentation", segments=4, limits=None, min_pixels=None, keep_all=False,
        nodata=None, stretch=None, out="result", save_segmented=None, formats=None,
        threads=None):
    """The whole job of tessera-batch, with its choices as keywords, writing the same files.

    bands: 2 to 10 band files ("path", or "path:K" for band K of a raster), or one raster's
    path for all of its bands. method ("segmentation", "equipopulation", "definition"),
    segments (1..254), nodata and stretch ((MIN, MAX)): one for every band, or a list of one
    per band; limits: the upper limits of a definition band (a list per band, None for the
    others). min_pixels (default 0, as the tool's) or keep_all=True choose the codes kept.
    out: the stem of the files; save_segmented: the stem of the last band's segmented image;
    formats: of "bmp", "txt", "raw", "tif", "csv", "qml", "codes" (default: every one that
    applies but "codes"; "codes" writes the code list, every code with its segment in each
    band, as STEM_codes.txt). Nothing is written beside the bands but what `out` names; the
    files of a run are put in place together, all or none.
    Returns a Result whose `classes` are those of STEM.raw (None when it is not written).
    """
    arguments = _job_arguments(bands, method, segments, limits, min_pixels, keep_all, nodata,
                               stretch, os.fspath(out))
    if save_segmented is not None:
        arguments += ["--save-segmented", os.fspath(save_segmented)]
    if formats is not None:
        arguments += ["--format", ",".join(formats) if not isinstance(formats, str) else formats]
    if threads is not None:
        arguments += ["--threads", _number(threads)]
    treatment = _core.run_job(arguments)
    lines, columns = treatment.size
    raw = os.fspath(out) + ".raw"
    pixels = None
    if formats is None or "raw" in (formats.split(",") if isinstance(formats, str) else formats):
        pixels = np.fromfile(raw, dtype=np.uint8).reshape(lines, columns)
    return Result(treatment, pixels)
