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
    "colour_tables", "code_list", "code_table_lines", "run", "fit_treatment", "change",
    "describe_job",
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
            names = list(METHODS)
            raise ValueError(f"unknown method '{method}' ({', '.join(names[:-1])} or "
                             f"{names[-1]})")
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
    return (_core.value_type(block.dtype), _nodata(nodata), _stretch(stretch), None, None)


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
    """The multi-band code of every pixel of blocks of 2 to 32 bands of one size (0: none, as
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
    tessera.dask; with more than 250 classes, max_classes allowing, 16-bit with 65535 none),
    `counts` (pixels of every code 0..N), `selected_codes` (the codes of classes 1..K),
    `colours` (the class colours, 256 x 3 RGB, or K + 1 x 3 beyond 250 classes), `report` (the
    text of STEM.txt)."""

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


# The job's choices as the core declares them, by keyword ("min_pixels" for --min-pixels).
_CHOICES = {choice["keyword"]: choice for choice in _core.choices()}
# Choices that are functions of their own (fit_treatment, change) or of the command line only.
_NOT_KEYWORDS = {"help", "describe", "scenes", "change", "fit_treatment", "progress", "quiet",
                 "bands"}
_MASK_RULES = ("mask_bits", "mask_values")
# Choices given once for every band, or as a list of one per band.
_PER_BAND = [k for k, c in _CHOICES.items() if c["scope"] == "band"]
# Keywords whose one value is itself a list (a band's limits): a list of lists is per band.
_LIST_VALUED = {"limits", "native_limits"}


def _text(value):
    """A value as the job's option takes it: numbers exactly, lists separated by commas."""
    if isinstance(value, (str, os.PathLike)):
        return os.fspath(value)
    if isinstance(value, (list, tuple, np.ndarray)):
        return ",".join(_text(v) for v in value)
    return _number(value)


def _single(keyword, value):
    """Whether a per-band keyword's value is one value for every band."""
    if keyword == "stretch":
        return isinstance(value, str) or _is_pair(value)
    if keyword in _LIST_VALUED:
        return len(value) == 0 or not isinstance(value[0], (list, tuple, np.ndarray, type(None)))
    return not isinstance(value, (list, tuple, np.ndarray))


def _band_choices(keywords, count, one_file=None):
    """Every band's entries of the per-band keywords: a list per band of (option, text)."""
    per_band = [[] for _ in range(count)]
    methods = _per_band(keywords.get("method"), count, "method") if one_file is None else None
    for keyword in _PER_BAND:
        value = keywords.get(keyword)
        if value is None:
            continue
        if not _single(keyword, value):
            if one_file is not None:
                raise ValueError(f"{keyword} is given per band, but the bands are those of one "
                                 f"file ({one_file}): give one {keyword} for all")
            values = _per_band(list(value), count, keyword)
        else:
            values = [value] * count
            # One list of limits serves the definition bands among bands of several methods.
            if keyword in _LIST_VALUED and methods is not None:
                values = [value if methods[b] in ("definition", METHODS["definition"]) else None
                          for b in range(count)]
        for b, entry in enumerate(values):
            if entry is None:
                continue
            if keyword == "method" and not isinstance(entry, str):
                names_of = {v: k for k, v in METHODS.items()}
                entry = names_of.get(int(entry), str(entry))
            per_band[b].append((_CHOICES[keyword]["option"], _text(entry), ""))
    return per_band


def _mask_choices(keywords):
    masks = keywords.get("mask")
    if masks is None:
        for rule in _MASK_RULES:
            if keywords.get(rule) is not None:
                raise ValueError(f"{rule} is the rule of a mask: give the mask's file as mask=")
        return []
    masks = [masks] if isinstance(masks, (str, os.PathLike)) else list(masks)
    given = []
    rules = {}
    for rule in _MASK_RULES:
        value = keywords.get(rule)
        if value is None:
            rules[rule] = [None] * len(masks)
        elif len(value) > 0 and isinstance(value[0], (list, tuple, type(None))):
            rules[rule] = _per_band(list(value), len(masks), rule)
        elif len(masks) == 1:
            rules[rule] = [value]
        else:
            raise ValueError(f"{rule} is given for one mask, but mask names {len(masks)}: give "
                             "a list of one rule per mask (None where a mask has none)")
    for k, mask in enumerate(masks):
        given.append(("--mask", os.fspath(mask), ""))
        for rule in _MASK_RULES:
            if rules[rule][k] is not None:
                given.append((_CHOICES[rule]["option"], _text(rules[rule][k]), ""))
    return given


def _job_choices(keywords):
    """The whole job's entries of the keywords, in the table's order."""
    given = []
    for keyword, choice in _CHOICES.items():
        if keyword in _NOT_KEYWORDS or keyword in _PER_BAND or keyword == "mask" \
                or keyword in _MASK_RULES:
            continue
        value = keywords.get(keyword)
        if value is None or value is False:
            continue
        if choice["type"] == "flag":
            given.append((choice["option"], "", ""))
        else:
            given.append((choice["option"], _text(value), ""))
    return given + _mask_choices(keywords)


def _band_set(bands, keywords):
    """The entries of one band set: each band and its own choices."""
    given = []
    if isinstance(bands, (str, os.PathLike)):
        # Every band of one file: the choices apply to all of them.
        given.append(("--bands", os.fspath(bands), ""))
        given += _band_choices(keywords, 1, os.fspath(bands))[0]
        return given
    names = [os.fspath(b) for b in bands]
    for name, own in zip(names, _band_choices(keywords, len(names))):
        given.append(("--band", name, ""))
        given += own
    return given


def _checked_keywords(function, keywords):
    for keyword in keywords:
        if keyword not in _CHOICES or keyword in _NOT_KEYWORDS:
            raise TypeError(f"{function}() got an unexpected keyword argument '{keyword}'")


def _with_defaults(keywords):
    """The program's default method and segment count, unless a treatment gives them."""
    keywords = dict(keywords)
    if keywords.get("apply_treatment") is None:
        if keywords.get("method") is None:
            keywords["method"] = "segmentation"
        if keywords.get("segments") is None:
            keywords["segments"] = 4
    return keywords


def _choices_of(bands, keywords):
    """The (option, value, second) entries of a treatment of `bands` with these keywords."""
    keywords = _with_defaults(keywords)
    return _job_choices(keywords) + _band_set(bands, keywords)


def describe_job(bands, **keywords):
    """The job these keywords describe, as the core reads it (a dict of its bands' choices);
    ValueError, worded with the keywords, for a choice the job refuses."""
    _checked_keywords("describe_job", keywords)
    keywords.setdefault("out", "result")
    return _core.describe_job(_choices_of(bands, keywords))


def run(bands, method=None, segments=None, limits=None, min_pixels=None, keep_all=False,
        nodata=None, stretch=None, out="result", save_segmented=None, formats=None,
        threads=None, **choices):
    """The whole job of tessera-batch, with its choices as keywords, writing the same files.

    bands: 2 to 32 band files ("path", or "path:K" for band K of a raster), or one raster's
    path for all of its bands. Choices of a band (method, segments, limits, native_limits,
    stretch, nodata, scale, offset) take one value for every band, or a list of one per band
    (None where a band has none); method defaults to "segmentation" and segments to 4, unless
    apply_treatment gives them. A stretch is (MIN, MAX) or percentiles as "2%,98%"; limits
    a band's list of upper limits. mask: a mask file (or a list of them), with mask_bits or
    mask_values its rule (a list of numbers; a list of such lists, one per mask). window and
    window_pixels: tuples of four numbers. formats: of "bmp", "txt", "raw", "tif", "csv", "qml",
    "codes" (default: every one that applies but "codes"; "codes" writes the code list, every
    code with its segment in each band, as STEM_codes.txt). Nothing is written beside the bands
    but what `out` names; the files of a run are put in place together, all or none.
    Returns a Result whose `classes` are those of STEM.raw (None when it is not written).

    Refusals: ValueError for a choice or an input the job refuses (more than max_classes
    classes among them), FileNotFoundError for a file it names that does not exist, OSError for a
    result file that cannot be written; nothing is written then.

    Every keyword:
    """
    choices.update(method=method, segments=segments, limits=limits, min_pixels=min_pixels,
                   keep_all=keep_all, nodata=nodata, stretch=stretch, out=out,
                   save_segmented=save_segmented, formats=formats, threads=threads)
    _checked_keywords("run", choices)
    treatment = _core.run_choices(_choices_of(bands, choices))
    lines, columns = treatment.size
    raw = os.fspath(out) + ".raw"
    pixels = None
    if formats is None or "raw" in (formats.split(",") if isinstance(formats, str) else formats):
        # More than 250 classes are 16-bit little-endian, 65535 for no class.
        wide = treatment.class_count > _core.MAXIMUM_CLASSES
        pixels = np.fromfile(raw, dtype="<u2" if wide else np.uint8).reshape(lines, columns)
    return Result(treatment, pixels)


def fit_treatment(scenes, treatment, method="segmentation", segments=4, **choices):
    """One treatment fitted on several scenes (tessera-batch --fit-treatment): every band's
    stretch, limits and the selection from the scenes taken together, written as the JSON file
    `treatment` (apply it to each scene with run(..., apply_treatment=...)). scenes: a list of
    band sets, each as run's bands; the other keywords are run's choices of the bands and the
    selection. Returns the treatment file's path."""
    _checked_keywords("fit_treatment", choices)
    choices.update(method=method, segments=segments)
    scenes = list(scenes)
    given = [("--fit-treatment", os.fspath(treatment), "")] + _job_choices(choices)
    for scene in scenes:
        given.append(("--scene", "", ""))
        given += _band_set(scene, choices)
    _core.run_choices(given)
    return os.fspath(treatment)


def change(a, b, out="change"):
    """The change from class map a to class map b of the same grid (tessera-batch --change):
    STEM.csv (pixels and area of every pair of classes), STEM.tif with its legend, STEM.qml and
    STEM.txt. Returns the stem."""
    _core.run_choices([("--change", os.fspath(a), os.fspath(b)), ("--out", os.fspath(out), "")])
    return os.fspath(out)


def _keyword_lines():
    lines = []
    for keyword, choice in _CHOICES.items():
        if keyword in _NOT_KEYWORDS:
            continue
        lines.append(f"    {keyword}: {choice['help']}")
    return "\n".join(lines)


run.__doc__ += "\n" + _keyword_lines() + "\n"
