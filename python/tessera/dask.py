"""The treatment on dask arrays: the three passes of tessera-batch as dask graphs.

    import rioxarray, tessera.dask
    scene = rioxarray.open_rasterio("samples/scene.tif", chunks=(4, 100, 100))
    result = tessera.dask.treat(scene, method="equipopulation", segments=3, min_pixels=50)
    tessera.dask.write(result, "classes")      # classes.tif and its legend, .csv, .txt

Each pass maps every chunk (the same chunk of every band) through the core and sums the
chunks' results by a tree reduction; what lies between the passes (the stretches, the
segment limits, the code selection, the colours) is decided on the client from those sums.
The scheduler carries only 259 numbers per band and chunk, then the counts of the codes that
occur in the chunk. Nothing here
schedules anything: the graphs run on whatever dask runs them on (threads, a
distributed.LocalCluster, a cluster whose scheduler a Client names).

On the same pixels and choices, the classes, counts, colours, report and class table are those
of tessera-batch, byte for byte, whatever the chunks and the workers.
"""
import asyncio
import concurrent.futures
import contextlib
import os
import threading
import uuid

import dask
import dask.array as da
import numpy as np

from . import (_core, Result, _band_set, _checked_keywords, _choices_of, _job_choices,
               _keyword_lines)

__all__ = ["run", "fit_treatment", "change", "treat", "write"]


def _chunk_of(plan, method, count, *blocks):
    """One chunk's answer as an array of (1, 1, count) numbers, for a tree sum over the grid
    of chunks."""
    answer = getattr(plan, method)([np.ascontiguousarray(b) for b in blocks])
    return np.asarray(answer).reshape(1, 1, count)


def _mapped(arrays, plan, method, count, dtype):
    """(lines of chunks, columns of chunks, count) numbers: the plan's answer for each chunk."""
    return da.map_blocks(_chunk_of, plan, method, count, *arrays, dtype=dtype,
                         chunks=(1, 1, count), new_axis=2,
                         name=f"tessera-{method}-{uuid.uuid4().hex}")


def _input_arrays(bands):
    """The bands as 2-D dask arrays, and what xarray inputs tell of them (names, nodata, place,
    and one band as the template of an xarray result on their coordinates)."""
    facts = {"names": None, "nodata": None, "scaling": None, "transform": None, "crs": None,
             "template": None}
    if hasattr(bands, "dims") and hasattr(bands, "data") and getattr(bands, "ndim", 0) == 3:
        # One DataArray (band, y, x), as rioxarray.open_rasterio reads a multi-band file.
        _take_facts(bands, facts, bands.shape[0])
        facts["template"] = bands[0]
        data = bands.data
        return [data[b] for b in range(bands.shape[0])], facts
    if hasattr(bands, "ndim") and bands.ndim == 3 and not isinstance(bands, (list, tuple)):
        return [bands[b] for b in range(bands.shape[0])], facts
    arrays = []
    per_band = []
    for band in bands:
        if hasattr(band, "dims") and hasattr(band, "data"):
            single = {"names": None, "nodata": None, "scaling": None, "transform": None,
                      "crs": None}
            _take_facts(band, single, 1)
            per_band.append(single)
            band = band.data
            if band.ndim == 3 and band.shape[0] == 1:
                band = band[0]
        else:
            per_band.append(None)
        arrays.append(band)
    if per_band and all(p is not None for p in per_band):
        facts["names"] = [p["names"][0] if p["names"] else None for p in per_band]
        facts["nodata"] = [p["nodata"][0] if p["nodata"] else None for p in per_band]
        facts["scaling"] = [p["scaling"][0] if p["scaling"] else None for p in per_band]
        facts["transform"] = per_band[0]["transform"]
        facts["crs"] = per_band[0]["crs"]
        first = bands[0]
        facts["template"] = first[0] if first.ndim == 3 else first
    return arrays, facts


def _take_facts(array, facts, count):
    """The file, nodata value, scale and offset, and place rioxarray records on a DataArray."""
    facts["scaling"] = _scaling_of(array, count)
    source = array.encoding.get("source") if hasattr(array, "encoding") else None
    if source:
        if count == 1:
            band = 1
            if "band" in array.coords and array.coords["band"].size == 1:
                band = int(array.coords["band"].values.reshape(-1)[0])
            facts["names"] = [f"{source}:{band}" if band != 1 else source]
        else:
            facts["names"] = [f"{source}:{b + 1}" for b in range(count)]
    try:
        rio = array.rio
        if rio.nodata is not None:
            facts["nodata"] = [float(rio.nodata)] * count
        if rio.crs is not None:
            facts["crs"] = rio.crs
            facts["transform"] = rio.transform()
    except (AttributeError, ImportError):
        pass


def _checked(arrays, masks=0):
    """Dask arrays of one size and one chunking, of types a band takes, in the machine's byte
    order (a big-endian band is read as the numbers it holds); ValueError otherwise, naming
    the band. The last `masks` arrays are masks beside the bands."""
    bands = len(arrays) - masks
    if bands < 2 or bands > _core.MAXIMUM_BANDS:
        plural = "" if bands == 1 else "s"
        raise ValueError(
            f"bands holds {bands} array{plural}: give 2 to {_core.MAXIMUM_BANDS}")
    checked = []
    for b, array in enumerate(arrays, start=1):
        if b > bands:
            try:
                checked.append(_checked_mask(array, b - bands, checked[0]))
            except ValueError as refused:
                raise ValueError(f"mask {b - bands}: {refused}") from None
            continue
        # Not np.asarray(array) where the array has a dtype: that would compute a dask array.
        dtype = np.dtype(array.dtype if hasattr(array, "dtype") else np.asarray(array).dtype)
        if dtype.kind in "uif" and not dtype.isnative:
            dtype = dtype.newbyteorder("=")
            array = array.astype(dtype)
        try:
            _core.value_type(dtype)
        except ValueError as refused:
            raise ValueError(f"band {b}: {refused}") from None
        if array.ndim != 2:
            raise ValueError(f"band {b} has {array.ndim} dimensions: a band is an array of "
                             "(lines, columns)")
        if checked and tuple(array.shape) != tuple(checked[0].shape):
            raise ValueError(_core.size_mismatch_text(b, array.shape, checked[0].shape))
        if not isinstance(array, da.Array):
            array = da.from_array(np.asarray(array), chunks=checked[0].chunks if checked
                                  else "auto")
        if checked and array.chunks != checked[0].chunks:
            where = "lines" if array.chunks[0] != checked[0].chunks[0] else "columns"
            raise ValueError(_core.block_mismatch_text(
                b, f"in {where}: {_chunk_text(array.chunks)} against "
                   f"{_chunk_text(checked[0].chunks)}"))
        checked.append(array)
    return checked


def _checked_mask(array, k, first):
    """A mask array on the bands' pixels: of their size and chunks, of whole numbers."""
    dtype = np.dtype(array.dtype if hasattr(array, "dtype") else np.asarray(array).dtype)
    if dtype.kind not in "uib":
        raise ValueError(f"a mask holds whole numbers, not {dtype}")
    if dtype.kind == "b" or not dtype.isnative:
        dtype = np.dtype(np.uint8) if dtype.kind == "b" else dtype.newbyteorder("=")
        array = array.astype(dtype)
    if array.ndim != 2 or tuple(array.shape) != tuple(first.shape):
        raise ValueError(f"it holds {' x '.join(str(n) for n in array.shape)} pixels, the bands "
                         f"{' x '.join(str(n) for n in first.shape)}: a mask lies on the bands' "
                         "pixels")
    if not isinstance(array, da.Array):
        array = da.from_array(np.asarray(array), chunks=first.chunks)
    if array.chunks != first.chunks:
        raise ValueError(f"it is cut into the chunks {_chunk_text(array.chunks)}, the bands into "
                         f"{_chunk_text(first.chunks)}: give it the bands' chunks")
    return array


def _scaling_of(array, count):
    """The scale and offset a DataArray's attributes give its bands (scale_factor and
    add_offset, as rioxarray and CF name them): a (scale, offset) per band, None where the
    values are physical already."""
    attributes = getattr(array, "attrs", {})
    scales = np.broadcast_to(np.asarray(attributes.get("scale_factor", 1), dtype=float), count)
    offsets = np.broadcast_to(np.asarray(attributes.get("add_offset", 0), dtype=float), count)
    scaling = []
    for scale, offset in zip(scales, offsets):
        if not np.isfinite(scale) or scale == 0 or not np.isfinite(offset):
            raise ValueError(f"the attributes scale_factor {scale:g} and add_offset {offset:g} "
                             "give no physical values: the scale must be a number other than 0 "
                             "and the offset a number")
        scaling.append(None if (scale == 1 and offset == 0) else (float(scale), float(offset)))
    return scaling


def _chunk_text(chunks):
    return " x ".join("(" + ", ".join(str(c) for c in axis) + ")" for axis in chunks)


class DaskResult(Result):
    """tessera.Result whose `classes` is a lazy dask array (uint8, 255: no class), or, for
    xarray inputs, an xarray DataArray on their coordinates (its CRS, transform and nodata as
    rioxarray writes them, so that `.plot()` and `.rio.to_raster()` take it), with the place
    the classes lie on (`transform`, `crs`) when the inputs told it."""

    def __init__(self, treatment, classes, transform, crs):
        super().__init__(treatment, classes)
        self.transform = transform
        self.crs = crs


# Choices that a job of files makes and arrays have made already, or that name files.
_NOT_FOR_ARRAYS = {
    "window": "crop the arrays instead (with xarray's .sel or .isel)",
    "window_pixels": "crop the arrays instead (with xarray's .sel or .isel)",
    "grid": "bring the arrays onto one grid first (rioxarray's .rio.reproject_match)",
    "out": "tessera.dask.write(result, stem) writes the files",
    "save_segmented": "each band's segment numbers are Result.segmentations' to apply",
    "formats": "tessera.dask.write(result, stem) writes the files",
    "threads": "dask's workers run the passes",
}


def treat(bands, method=None, segments=None, limits=None, min_pixels=None, keep_all=False,
          nodata=None, stretch=None, names=None, mask=None, mask_names=None, **choices):
    """The treatment of tessera.run on bands held as dask arrays.

    bands: 2 to 32 arrays of (lines, columns), all of one size and cut into the same chunks
    (dask arrays, numpy arrays, or xarray DataArrays as rioxarray.open_rasterio reads them),
    or one array of (band, lines, columns). The other keywords are tessera.run's, and:
    mask: an array (or a list of them) of whole numbers on the bands' pixels and chunks, whose
    rule (mask_bits, mask_values, else "not 0") leaves pixels without data in every band;
    scale and offset: the bands' physical values, by default those of the arrays' attributes
    scale_factor and add_offset; stretch="2%,98%": percentiles, exact as numpy's; limits in
    native values; apply_treatment: a saved treatment's stretches, limits and classes;
    save_treatment: the treatment saved as the batch tool saves it. names and mask_names: what
    the report calls each band's and mask's file (default: the file rioxarray read, else
    "band B" and "mask M").
    The passes run on the scheduler dask uses (a distributed Client's, when one is current).
    """
    _checked_keywords("treat", choices)
    for keyword, instead in _NOT_FOR_ARRAYS.items():
        if choices.get(keyword) is not None:
            raise ValueError(f"{keyword} is a choice of a job on files: {instead}")
    arrays, facts = _input_arrays(bands)
    masks = [] if mask is None else (list(mask) if isinstance(mask, (list, tuple)) else [mask])
    mask_arrays, mask_facts = [], []
    for m in masks:
        own, own_facts = _input_arrays([m])
        mask_arrays.append(own[0])
        mask_facts.append(own_facts)
    arrays = _checked(arrays + mask_arrays, masks=len(mask_arrays))
    arrays, mask_arrays = arrays[:len(arrays) - len(masks)], arrays[len(arrays) - len(masks):]
    count = len(arrays)
    if names is None:
        names = facts["names"] or [None] * count
        names = [n if n else f"band {b}" for b, n in enumerate(names, start=1)]
    elif len(names) != count:
        raise ValueError(f"names holds {len(names)} entries for {count} bands")
    if mask_names is None:
        mask_names = [_core.mask_name(f["names"][0])
                      if f["names"] and f["names"][0] else f"mask {k}"
                      for k, f in enumerate(mask_facts, start=1)]
    elif len(mask_names) != len(masks):
        raise ValueError(f"mask_names holds {len(mask_names)} entries for {len(masks)} masks")
    # The choices read as the job reads them, with its refusals.
    keywords = dict(choices, method=method, segments=segments, limits=limits,
                    min_pixels=min_pixels, keep_all=keep_all, nodata=nodata, stretch=stretch,
                    out="result", mask=[f"mask{k}" for k in range(1, len(masks) + 1)] or None)
    given = _choices_of([f"band{b}" for b in range(1, count + 1)], keywords)
    options = _core.describe_job(given)
    mask_rules = _mask_rules(given)
    applied = choices.get("apply_treatment")
    places = [_core.band_of_name(n) for n in names]
    types = [_core.value_type(a.dtype) for a in arrays]
    file_nodata = facts["nodata"] or [None] * count
    file_scaling = facts["scaling"] or [None] * count
    treatment = _core.Treatment()
    if applied is not None:
        # Every band takes the saved stretch, scale and nodata value, whatever its own.
        descriptions = [list(d) for d in treatment.read_saved(os.fspath(applied), names, types)]
    else:
        descriptions = [_band_description(b, band, types[b], file_nodata[b], file_scaling[b],
                                          places[b], names)
                        for b, band in enumerate(options["bands"])]
    mask_descriptions = [(_core.value_type(a.dtype),) + rule
                         for a, rule in zip(mask_arrays, mask_rules)]
    # The code table, before a pixel is read: past 2^64 codes, or a count of the codes that
    # occur that memory may not hold, is refused as the job refuses it.
    treatment.check_code_table([band["segments"] for band in options["bands"]],
                               *arrays[0].shape)
    # The arrays are computed once (a file's chunks read and decoded once) and kept on the
    # workers for every pass, spilled by dask as it needs; the lazy classes read them too.
    blocks = list(_Computing(False).persist(*(arrays + mask_arrays)))

    # Pass 1a: the range of the bands that are stretched between their own least and greatest
    # values; the search of those stretched at percentiles.
    plan = _core.Plan([tuple(d) for d in descriptions], masks=mask_descriptions)
    own = [b for b, d in enumerate(descriptions)
           if d[0] != "Byte" and d[2] is None and d[4] is None]
    if own:
        ends = _mapped(blocks, plan, "ranges", 2 * count, np.float64)
        low, high = dask.compute(ends[:, :, 0::2].min(axis=(0, 1)),
                                 ends[:, :, 1::2].max(axis=(0, 1)))
        for b in own:
            path, raster_band = places[b]
            descriptions[b][2] = _core.own_stretch(path, raster_band, float(low[b]),
                                                   float(high[b]), descriptions[b][1],
                                                   descriptions[b][0], descriptions[b][3])
    _search_percentiles(plan, blocks, descriptions, places)
    descriptions = [tuple(d) for d in descriptions]

    # Pass 1b: the histograms, summed; then the limits.
    plan = _core.Plan(descriptions, masks=mask_descriptions)
    rows = _mapped(blocks, plan, "statistics", 259 * count, np.int64).sum(axis=(0, 1))
    statistics = np.asarray(dask.compute(rows)[0]).reshape(count, 259)
    lines, columns = arrays[0].shape
    treatment.take_statistics(descriptions, [p[0] for p in places], [p[1] for p in places],
                              statistics, lines, columns)
    treatment.set_masks([(name, _core.mask_text(rule, name).split(", ", 1)[1])
                         for name, rule in zip(mask_names, mask_descriptions)])
    transform, crs = facts["transform"], facts["crs"]
    if transform is not None:
        treatment.set_place(list(transform.to_gdal()), crs.to_wkt() if crs else "")
    if applied is not None:
        treatment.take_saved_segmentation()
    else:
        for b, band in enumerate(options["bands"], start=1):
            native = _per_band_value(choices.get("native_limits"), b, count)
            if native is not None:
                treatment.set_native_limits(b, band["method"], band["segments"],
                                            [float(v) for v in native])
            else:
                treatment.set_segmentation(b, band["method"], band["segments"],
                                           band["limits"] or [])
    treatment.finish_segmentation()

    # Pass 2: the codes that occur in each chunk, merged in code order; then the selection.
    segmentations = treatment.segmentations()
    plan = _core.Plan(descriptions, segmentations, masks=mask_descriptions)
    shared = dask.delayed(plan, name=f"tessera-plan-{uuid.uuid4().hex}")
    grids = [a.to_delayed() for a in blocks]
    parts = [dask.delayed(_code_counts)(shared, *[g[i, j] for g in grids])
             for i in range(grids[0].shape[0]) for j in range(grids[0].shape[1])]
    treatment.take_code_counts(dask.compute(_tree(parts, _add_code_counts))[0])
    if applied is not None:
        treatment.take_saved_classes()
    else:
        chosen = treatment.select(options["keep_all"], options["min_pixels"],
                                  options["max_classes"])
        treatment.finish_crossing(chosen, options["keep_all"], options["min_pixels"])
    if choices.get("save_treatment") is not None:
        treatment.save(os.fspath(choices["save_treatment"]))

    # Pass 3, lazily: the classes, chunk by chunk (class k for the k-th code kept).
    kept = [int(c) for c in treatment.selected_codes]
    plan = _core.Plan(descriptions, segmentations, kept, masks=mask_descriptions)
    wide = treatment.class_count > _core.MAXIMUM_CLASSES
    if kept:
        classes = da.map_blocks(_classes_of, plan, *blocks, dtype=np.uint16 if wide else np.uint8,
                                name=f"tessera-classes-{uuid.uuid4().hex}")
    else:  # a selection that keeps no code: every pixel in no class
        classes = da.full(blocks[0].shape, _core.NO_CLASS, chunks=blocks[0].chunks,
                          dtype=np.uint8)
    if facts["template"] is not None:
        classes = _as_data_array(classes, facts["template"], treatment, transform, crs)
    return DaskResult(treatment, classes, transform, crs)


def _per_band_value(value, b, count):
    """Band b's entry of a per-band keyword: one value for all bands, or a list of one per
    band."""
    if value is None:
        return None
    if len(value) == count and all(v is None or isinstance(v, (list, tuple, np.ndarray))
                                   for v in value):
        return value[b - 1]
    return value


def _mask_rules(given):
    """Each mask's rule as the core takes it: ("bits" or "values", "1,3") or ("nonzero", "")."""
    rules = []
    for option, value, _ in given:
        if option == "--mask":
            rules.append(("nonzero", ""))
        elif option == "--mask-bits":
            rules[-1] = ("bits", value)
        elif option == "--mask-values":
            rules[-1] = ("values", value)
    return rules


def _band_description(b, band, dtype, file_nodata, file_scaling, place, names):
    """Band b's values as the plan reads them: [type, nodata, stretch, scale and offset,
    percentiles], its choices before what the array's attributes say."""
    scaling = file_scaling
    if band["scale"] is not None or band["offset"] is not None:
        own = file_scaling or (1.0, 0.0)
        scaling = (band["scale"] if band["scale"] is not None else own[0],
                   band["offset"] if band["offset"] is not None else own[1])
    if dtype == "Byte":
        scaling = None
    percentiles = None
    if band["percentiles"] is not None and dtype != "Byte":
        percentiles = _core.parse_percentiles(band["percentiles"])
    stretch = band["stretch"] if dtype != "Byte" else None
    if stretch is not None:
        path, raster_band = place
        try:
            _core.check_stretch(path, raster_band, *stretch)
        except ValueError as refused:
            # The window's wording names a file's raster band; an array is a band of bands.
            reason = str(refused).split(" cannot be loaded: ", 1)[-1]
            named = f"band {b + 1}" + (f" ({names[b]})" if names[b] != f"band {b + 1}" else "")
            raise ValueError(f"{named}: {reason}") from None
    value = band["nodata"] if band["nodata"] is not None else file_nodata
    return [dtype, value, stretch, scaling, percentiles]


def _search_percentiles(plan, blocks, descriptions, places):
    """The stretches of the bands stretched at percentiles, each searched over every chunk in
    a few passes: the first counts the values, each later one narrows the ranks by 16 bits."""
    searches = {b: _core.new_percentile_finder(d[0], d[3], d[4])
                for b, d in enumerate(descriptions) if d[2] is None and d[4] is not None}
    grids = [a.to_delayed() for a in blocks]
    shared = dask.delayed(plan, name=f"tessera-plan-{uuid.uuid4().hex}")
    passes = 0
    while searches:
        # Each search travels once, as one piece of the graph that every chunk's task shares.
        shared_searches = {b: dask.delayed(search, name=f"tessera-search-{uuid.uuid4().hex}")
                           for b, search in searches.items()}
        parts = {b: _tree([dask.delayed(_count_percentiles)(shared, b + 1, search,
                                                            *[g[i, j] for g in grids])
                           for i in range(grids[0].shape[0])
                           for j in range(grids[0].shape[1])], _merge_finders)
                 for b, search in shared_searches.items()}
        counted = dask.compute(parts)[0]
        searches = {}
        for b, search in counted.items():
            path, raster_band = places[b]
            if passes == 0:
                search = _core.rank_percentiles(path, raster_band, tuple(descriptions[b]),
                                                descriptions[b][4], search)
            else:
                search = _core.end_finder_pass(search)
            if _core.finder_done(search):
                descriptions[b][2] = _core.percentile_stretch(
                    path, raster_band, descriptions[b][0], descriptions[b][3],
                    descriptions[b][4], search)
            else:
                searches[b] = search
        passes += 1


def _count_percentiles(plan, band, search, *blocks):
    return plan.count_percentiles(band, search, [np.ascontiguousarray(b) for b in blocks])


def _merge_finders(*parts):
    total = parts[0]
    for part in parts[1:]:
        total = _core.merge_finders(total, part)
    return total


def _as_data_array(classes, template, treatment, transform, crs):
    """The classes as an xarray DataArray on the inputs' coordinates, with their CRS and
    transform written as rioxarray writes them, 255 as nodata, and the class colours and labels
    (classes 1..K) in its attributes."""
    import xarray
    nodata = _core.NO_CLASS if classes.dtype == np.uint8 else _core.NO_WIDE_CLASS
    coordinates = {name: template.coords[name] for name in template.dims
                   if name in template.coords}
    result = xarray.DataArray(classes, dims=template.dims, coords=coordinates, name="classes")
    count = treatment.class_count
    colours = treatment.class_colours
    result.attrs["class_count"] = count
    result.attrs["class_colours"] = [f"#{r:02x}{g:02x}{b:02x}"
                                     for r, g, b in np.asarray(colours)[1:count + 1]]
    if transform is not None:
        treatment.set_place(list(transform.to_gdal()), crs.to_wkt() if crs else "")
        result.attrs["class_labels"] = treatment.class_labels()
    try:
        import rioxarray  # noqa: F401 (the .rio accessor)
        if crs is not None:
            result = result.rio.write_crs(crs)
        if transform is not None:
            result = result.rio.write_transform(transform)
        result = result.rio.write_nodata(nodata, encoded=False)
    except ImportError:
        result.attrs["_FillValue"] = nodata
    return result


def _code_counts(plan, *blocks):
    """A chunk's code counts as the codes that occur, their pixels and those without a code,
    without data and masked: what travels is a few hundred numbers, where the code table may
    hold millions of codes and more."""
    return plan.code_counts([np.ascontiguousarray(b) for b in blocks])


def _classes_of(plan, *blocks):
    return plan.classes([np.ascontiguousarray(b) for b in blocks])


# ----- the whole job on files -----

_opened = threading.local()


def _window_job(given, stretches):
    """The job opened in this thread of this process: a task's windows of one job share it."""
    jobs = getattr(_opened, "jobs", None)
    if jobs is None:
        jobs = _opened.jobs = {}
    key = repr((given, stretches))
    job = jobs.get(key)
    if job is None:
        if len(jobs) >= 4:
            jobs.clear()
        job = jobs[key] = _core.WindowedJob(given, stretches)
    return job


_FILE_OPTIONS = ("--band", "--bands", "--mask", "--apply-treatment")


def _from_anywhere(given):
    """The job's choices with the files it reads named from the root, as a worker whose current
    folder is another must find them: a name relative to this process's folder (FILE or
    FILE:K) that names a file here. Other names (GDAL's own, such as /vsi paths) stay."""
    placed = []
    for option, value, second in given:
        if option in _FILE_OPTIONS and value and not os.path.isabs(value):
            path = value
            head, colon, tail = value.rpartition(":")
            if not os.path.exists(path) and colon and tail.isdigit() and os.path.exists(head):
                path = head
            if os.path.exists(path):
                value = os.path.abspath(path) + value[len(path):]
        placed.append((option, value, second))
    return placed


def _window_ranges(given, first, count):
    return _window_job(given, []).ranges(first, count)


def _window_stored(given, first, count):
    return _window_job(given, []).stored(first, count)


def _stored_ranges(given, first, count, stored):
    return _window_job(given, []).ranges_from(first, count, stored)


def _stored_gray(given, stretches, kept, first, count, stored):
    return _window_job(given, stretches).read_from(first, count, kept, stored)


def _fold_ranges(*parts):
    return (np.minimum.reduce([p[0] for p in parts]), np.maximum.reduce([p[1] for p in parts]))


def _window_percentiles(given, searches, first, count):
    job = _window_job(given, [])
    return {band: job.count_percentiles(band, search, first, count)
            for band, search in searches.items()}


def _merge_searches(*parts):
    total = dict(parts[0])
    for more in parts[1:]:
        for band, search in more.items():
            total[band] = _core.merge_finders(total[band], search)
    return total


def _window_gray(given, stretches, first, count):
    return _window_job(given, stretches).read(first, count)


def _gray_statistics(window, marked):
    return _core.window_statistics(window[0], window[1], marked)


def _add_arrays(*parts):
    total = parts[0].copy()
    for more in parts[1:]:
        total += more
    return total


def _gray_counts(plan, window):
    return plan.code_counts(window[0], window[1])


def _add_code_counts(*parts):
    """The sum of windows' code counts, the codes ascending (a function of this module, as a
    cluster's workers are sent it)."""
    return _core.merge_code_counts(*parts)


def _gray_classes(plan, window, segmented):
    return plan.classes(window[0], window[1], segmented)


class _Computing:
    """dask's own progress while a step computes, when asked: distributed.progress with a
    client, dask.diagnostics.ProgressBar on the local schedulers."""

    def __init__(self, shown):
        self.shown = shown

    def persist(self, *items):
        with self._lost_scheduler():
            items = dask.persist(*items)
            client = self._client()
            if self.shown and client is not None:
                from distributed import progress
                progress(list(items))
            return items

    def compute(self, *items):
        with self._lost_scheduler():
            client = self._client()
            if self.shown and client is not None:
                from distributed import progress
                futures = client.compute(list(items))
                progress(futures)
                return tuple(client.gather(futures))
            if self.shown:
                from dask.diagnostics import ProgressBar
                with ProgressBar():
                    return dask.compute(*items)
            return dask.compute(*items)

    @contextlib.contextmanager
    def _lost_scheduler(self):
        """A scheduler that dies takes every task with it (dask cancels them all): the job
        stops there with a ConnectionError, before any result file is written."""
        client = self._client()
        try:
            yield
        except (concurrent.futures.CancelledError, asyncio.CancelledError) as lost:
            if client is None or client.status == "running":
                raise
            raise ConnectionError(
                f"the cluster's scheduler ({client.scheduler.address}) was lost before the job "
                "ended; no result file was written") from lost

    @staticmethod
    def _client():
        try:
            from distributed import get_client
            return get_client()
        except (ImportError, ValueError):
            return None


class _WindowedRun:
    """One band set's passes as tasks per window of lines, driven from here: the driver opens
    the job (every check made before a pixel is read) and takes the windows' sums."""

    def __init__(self, given, stretches, chunk_lines, steps):
        self.driver = _core.WindowedJob(given, stretches)
        # The report names the files as given; the workers find them from the root.
        self.given = _from_anywhere(given)
        self.stretches = stretches
        self.windows = self.driver.windows(int(chunk_lines or 0))
        self.spans = [(int(first), int(end - first))
                      for first, end in zip(self.windows[:-1], self.windows[1:])]
        self.token = uuid.uuid4().hex
        self.steps = steps
        self.gray = None

    def tasks(self, function, *arguments, name):
        return [dask.delayed(function, pure=False)(
                    *arguments, first, count, dask_key_name=f"tessera-{name}-{self.token}-{k}")
                for k, (first, count) in enumerate(self.spans)]

    def with_stored(self, function, stored, *arguments, name):
        """A task per window of function(*arguments, first, count, the window's stored values)."""
        return [dask.delayed(function, pure=False)(
                    *arguments, first, count, values,
                    dask_key_name=f"tessera-{name}-{self.token}-{k}")
                for k, ((first, count), values) in enumerate(zip(self.spans, stored))]

    def each_window(self, function, *arguments, name):
        return [dask.delayed(function, pure=False)(
                    *arguments[:1], window, *arguments[1:],
                    dask_key_name=f"tessera-{name}-{self.token}-{k}")
                for k, window in enumerate(self.gray)]

    def read(self, segment=True):
        """Pass 1: the stretches the bands take from their own values, then every window's
        gray levels, read once and kept on the workers, and their statistics."""
        driver, steps = self.driver, self.steps
        # The bands of 16 bits stretched on their own range are decoded once: each window's
        # stored values stay on the worker that read them (2 bytes a pixel, spilled by dask as
        # it needs), give the window's range, then its gray levels, and are let go.
        kept = driver.stored_bands()
        stored = steps.persist(*self.tasks(_window_stored, self.given, name="stored")) \
            if kept else None
        if driver.own_range_bands():
            if stored is None:
                ranges = self.tasks(_window_ranges, self.given, name="range")
            else:
                ranges = self.with_stored(_stored_ranges, stored, self.given, name="range")
            low, high = steps.compute(_tree(ranges, _fold_ranges))[0]
            driver.take_ranges(list(low), list(high))
        searches = {band: driver.new_finder(band) for band in driver.percentile_bands()}
        passes = 0
        while searches:
            counted = steps.compute(_tree(self.tasks(_window_percentiles, self.given, searches,
                                                     name=f"percentiles{passes}"),
                                          _merge_searches))[0]
            searches = {}
            for band, search in counted.items():
                search = (driver.rank_finder(band, search) if passes == 0
                          else _core.end_finder_pass(search))
                if _core.finder_done(search):
                    driver.take_percentiles(band, search)
                else:
                    searches[band] = search
            passes += 1
        if stored is None:
            self.gray = steps.persist(*self.tasks(_window_gray, self.given, driver.stretches(),
                                                  name="gray"))
        else:
            self.gray = steps.persist(*self.with_stored(
                _stored_gray, stored, self.given, driver.stretches(), kept, name="gray"))
            del stored  # each window's stored values go once its gray levels are made
        marked = driver.marked
        statistics = [dask.delayed(_gray_statistics, pure=False)(
            window, marked, dask_key_name=f"tessera-statistics-{self.token}-{k}")
            for k, window in enumerate(self.gray)]
        driver.take_statistics(steps.compute(_tree(statistics, _add_arrays))[0], segment)
        return driver

    def values(self, band):
        """The pixels of each value of a band, over every window."""
        parts = self.tasks(_window_values, self.given, self.stretches, band, name="values")
        counts, lowest = self.steps.compute(_tree(parts, _add_values))[0]
        return counts, lowest

    def count(self):
        """Pass 2: the codes that occur and their pixels, then the pixels without a code,
        without data and masked, merged over the windows in code order."""
        count_plan = self.driver.count_plan()
        plan = dask.delayed(count_plan, name=f"tessera-count-plan-{self.token}")
        counts = [dask.delayed(_gray_counts, pure=False)(
            plan, window, dask_key_name=f"tessera-counts-{self.token}-{k}")
            for k, window in enumerate(self.gray)]
        return self.steps.compute(_tree(counts, _add_code_counts))[0]

    def save(self):
        """Pass 3: the classes of every window, written by the driver as the batch tool writes
        them."""
        plan = dask.delayed(self.driver.class_plan(), name=f"tessera-class-plan-{self.token}")
        segmented = self.driver.segmented
        tasks = [dask.delayed(_gray_classes, pure=False)(
            plan, window, segmented, dask_key_name=f"tessera-classes-{self.token}-{k}")
            for k, window in enumerate(self.gray)]
        self.gray = None
        client = self.steps._client()
        if client is None or self.steps.shown:
            classes = list(self.steps.compute(*tasks))
            return self.driver.save(self.windows, lambda k: classes[k])
        # On a cluster the files are written window by window as the windows' classes come in,
        # while the workers compute the next ones.
        with self.steps._lost_scheduler():
            futures = client.compute(tasks)
            failed = []

            def window(k):
                try:
                    classes = futures[k].result()
                except BaseException as error:
                    failed.append(error)
                    raise
                futures[k] = None
                return classes
            try:
                return self.driver.save(self.windows, window)
            except Exception:
                if failed:
                    raise failed[0] from None
                raise


def _window_values(given, stretches, band, first, count):
    return _window_job(given, stretches).count_values(band, first, count)


def _add_values(*parts):
    return _add_arrays(*[p[0] for p in parts]), parts[0][1]


def run(bands, method=None, segments=None, limits=None, min_pixels=None, keep_all=False,
        nodata=None, stretch=None, out="result", save_segmented=None, formats=None,
        chunk_lines=None, progress=False, **choices):
    """tessera.run on a dask scheduler: the same keywords, the same files, byte for byte.

    The scene is cut into windows of whole lines (chunk_lines lines each, rounded to whole rows
    of the files' blocks; by default one row of blocks), and every pass is a task per window:
    each task opens the job through the core (the bands, their grid and window, masks, scale
    and offset, a treatment applied) and reads its window of every band. Bands of 16 bits
    stretched on their own range are decoded once, their stored values kept on the worker
    until their gray levels are made. The windows' gray
    levels are read once and kept on the workers (dask.persist, spilled by dask as it needs)
    for the three passes; only sums travel to the client, which decides between the passes as
    tessera-batch does and writes the files from the windows' classes. The band, mask and
    treatment files must be where the workers run; the result files are written where this
    process runs. progress=True shows dask's own progress bar for each step.

    Returns tessera.Result as tessera.run does. Refusals as tessera.run's.

    Every keyword:
    """
    choices.update(method=method, segments=segments, limits=limits, min_pixels=min_pixels,
                   keep_all=keep_all, nodata=nodata, stretch=stretch, out=out,
                   save_segmented=save_segmented, formats=formats)
    _checked_keywords("run", choices)
    job = _WindowedRun(_choices_of(bands, choices), [], chunk_lines, _Computing(progress))
    job.read()
    job.driver.take_code_counts(job.count())
    treatment = job.save()
    lines, columns = treatment.size
    pixels = None
    if formats is None or "raw" in (formats.split(",") if isinstance(formats, str) else formats):
        # More than 250 classes are 16-bit little-endian, 65535 for no class.
        wide = treatment.class_count > _core.MAXIMUM_CLASSES
        pixels = np.fromfile(os.fspath(out) + ".raw",
                             dtype="<u2" if wide else np.uint8).reshape(lines, columns)
    return Result(treatment, pixels)


def fit_treatment(scenes, treatment, method="segmentation", segments=4, chunk_lines=None,
                  progress=False, **choices):
    """tessera.fit_treatment on a dask scheduler: each scene's passes as tasks per window of
    lines (as run), the fit decided here from the scenes' sums, the treatment file byte for
    byte tessera-batch --fit-treatment's. Returns the treatment file's path."""
    _checked_keywords("fit_treatment", choices)
    choices.update(method=method, segments=segments)
    scenes = list(scenes)
    given = [("--fit-treatment", os.fspath(treatment), "")] + _job_choices(choices)
    for scene in scenes:
        given += [("--scene", "", "")] + _band_set(scene, choices)
    # Each scene as a job of its own with the fit's choices.
    alone = dict(choices, out=choices.get("out") or "fit")
    scene_given = [_job_choices(alone) + _band_set(scene, alone) for scene in scenes]
    steps = _Computing(progress)
    current = {}

    def read(scene, stretches):
        current["run"] = _WindowedRun(scene_given[scene - 1], stretches, chunk_lines, steps)
        return current["run"].read(segment=False)

    def values(_job, band):
        return current["run"].values(band)

    def count(_job):
        return current["run"].count()

    _core.fit_with(given, read, values, count)
    return os.fspath(treatment)


run.__doc__ += "\n" + _keyword_lines() + "\n"


def change(a, b, out="change"):
    """tessera.change, which reads the two class maps once, here: the change between two maps
    is one pass of one comparison, with nothing to share out. Returns the stem."""
    from . import change as local_change
    return local_change(a, b, out=out)


# ----- writing -----

def _write_window(block, targets, first_line, first_column, lock, lines, columns, transform,
                  crs):
    """Writes one chunk of classes where `targets` asks: into the GeoTIFF (under the lock: one
    writer at a time), the raw class image (little-endian, 16-bit beyond 250 classes) and the
    bitmap (its lines from the bottom one up, padded to whole words), each chunk its own bytes
    in the last two; answers the chunk's area sums."""
    block = np.ascontiguousarray(block)
    if targets.get("raw"):
        rows = block.astype("<u2" if block.dtype == np.uint16 else np.uint8, copy=False)
        with open(targets["raw"], "r+b") as target:
            for y in range(rows.shape[0]):
                target.seek(rows.itemsize * ((first_line + y) * columns + first_column))
                target.write(rows[y].tobytes())
    if targets.get("bmp"):
        stride = (columns + 3) // 4 * 4
        with open(targets["bmp"], "r+b") as target:
            for y in range(block.shape[0]):
                target.seek(_BITMAP_LINES + (lines - 1 - first_line - y) * stride + first_column)
                target.write(block[y].astype(np.uint8, copy=False).tobytes())
    if targets.get("tif"):
        import rasterio
        from rasterio.windows import Window
        with lock:
            with rasterio.open(targets["tif"], "r+") as target:
                target.write(block.astype(np.uint8, copy=False), 1,
                             window=Window(first_column, first_line, block.shape[1],
                                           block.shape[0]))
    if transform is None:  # no map to measure areas on
        return None
    return _core.area_parts(block, first_line, lines, columns, transform, crs)


# Where a class bitmap's lines start: after its headers and its palette of 256 colours.
_BITMAP_LINES = 1078


def _add_parts(*parts):
    total = parts[0]
    for more in parts[1:]:
        total = _core.add_area_parts(total, more)
    return total


def _tree(items, combine, fan_in=8):
    """A tree of delayed combinations over `items`, fan_in at a time."""
    while len(items) > 1:
        items = [dask.delayed(combine)(*items[i:i + fan_in])
                 for i in range(0, len(items), fan_in)]
    return items[0]


def _lock():
    """A lock every worker sees: the cluster's, when a distributed Client is current."""
    try:
        from distributed import Lock, get_client
        get_client()
        return Lock(f"tessera-write-{uuid.uuid4().hex}")
    except (ImportError, ValueError):
        return threading.Lock()


def _put(staged, path, text):
    with open(staged.stage(path), "w", encoding="utf-8", newline="") as file:
        file.write(text)


_WRITTEN = ("tif", "csv", "qml", "txt", "raw", "bmp")


def write(result, stem, crs=None, transform=None, formats=None):
    """Writes a DaskResult as STEM.tif (the classes, tiled 512 x 512 and DEFLATE-compressed,
    the class colours as its colour table, 255 as nodata, the treatment in its metadata, with
    overviews), its legend STEM.tif.aux.xml, the QGIS style STEM.qml, the class table STEM.csv
    and the report STEM.txt; formats (of "tif", "csv", "qml", "txt", "raw", "bmp", as a list or
    "tif,raw"; default: the first four) chooses them, "raw" the raw class image STEM.raw and
    "bmp" the class bitmap STEM.bmp, as the batch tool writes them. The windows are written by
    the workers that compute them (so on a cluster STEM must lie on a file system they share);
    every file is staged under a temporary name and the set is put in place at the end, all or
    none (SIGINT and SIGTERM held back while it is), so a failed write leaves the earlier files
    as they were. crs and transform (rasterio's, or GDAL's six numbers) default to the inputs'
    place, which the map and its side files need.
    Beyond 250 classes (max_classes) the classes are 16-bit, 65535 for no class, written as
    tessera.dask.run and the batch tool write them: STEM.tif a cloud-optimised UInt16 GeoTIFF
    with the colours of classes 0..K, STEM.raw two bytes a pixel; a bitmap, which holds 256
    colours, is refused and nothing is written."""
    import rasterio
    from rasterio.enums import Resampling
    from rasterio.transform import Affine

    stem = os.fspath(stem)
    wanted = ["tif", "csv", "qml", "txt"] if formats is None else (
        formats.split(",") if isinstance(formats, str) else list(formats))
    for name in wanted:
        if name not in _WRITTEN:
            raise ValueError(f"formats takes {', '.join(_WRITTEN)}, not {name!r}")
    if "bmp" in wanted and result.treatment.bitmap_refusal():
        raise ValueError(result.treatment.bitmap_refusal())
    on_map = any(name in wanted for name in ("tif", "csv", "qml"))
    crs = crs if crs is not None else result.crs
    transform = transform if transform is not None else result.transform
    if on_map and (crs is None or transform is None):
        raise ValueError("the classes lie on no map: give write() their crs and transform")
    wkt, gdal_transform = "", None
    if on_map:
        if not isinstance(transform, Affine):
            transform = Affine.from_gdal(*transform)
        crs = rasterio.crs.CRS.from_user_input(crs)
        wkt = crs.to_wkt()
        gdal_transform = list(transform.to_gdal())
        result.treatment.set_place(gdal_transform, wkt)
    lines, columns = result.treatment.size
    classes = getattr(result.classes, "data", result.classes)
    wide = result.class_count > _core.MAXIMUM_CLASSES
    # Every file staged beside its target and put in place with the others, all or none.
    staged = _core.StagedFiles()
    targets = {name: staged.stage(f"{stem}.{name}") for name in ("tif", "raw", "bmp")
               if name in wanted}
    # Beyond 250 classes the map is written by the core from the 16-bit raw classes: those
    # asked for, or a file of them beside the map.
    staged_tif = targets.pop("tif", None)
    raw_only = staged_tif + ".classes" if wide and staged_tif and "raw" not in targets else None
    if raw_only:
        targets["raw"] = raw_only
    try:
        if "raw" in targets:
            with open(targets["raw"], "wb") as target:
                target.truncate((2 if wide else 1) * lines * columns)
        if "bmp" in targets:
            header = result.treatment.bitmap_header()
            if header is None:
                raise OSError(f"{stem}.bmp cannot be written: {lines} x {columns} pixels are "
                              "more than a bitmap holds")
            with open(targets["bmp"], "wb") as target:
                target.write(header)
                target.truncate(_BITMAP_LINES + (columns + 3) // 4 * 4 * lines)
        lock = None
        if staged_tif and not wide:
            profile = dict(driver="GTiff", width=columns, height=lines, count=1, dtype="uint8",
                           crs=crs, transform=transform, nodata=_core.NO_CLASS, tiled=True,
                           blockxsize=512, blockysize=512, compress="deflate")
            colours = result.colours
            with rasterio.open(staged_tif, "w", **profile) as opened:
                opened.write_colormap(1, {k: (int(colours[k][0]), int(colours[k][1]),
                                              int(colours[k][2]), 0 if k == 255 else 255)
                                          for k in range(256)})
                opened.update_tags(**dict(result.treatment.metadata("tessera.dask")))
            targets["tif"], lock = staged_tif, _lock()
        blocks = classes.to_delayed()
        starts = [np.cumsum((0,) + axis[:-1]) for axis in classes.chunks]
        parts = [dask.delayed(_write_window)(blocks[i, j], targets, int(starts[0][i]),
                                             int(starts[1][j]), lock, lines, columns,
                                             gdal_transform, wkt)
                 for i in range(blocks.shape[0]) for j in range(blocks.shape[1])]
        areas = dask.compute(_tree(parts, _add_parts) if on_map else parts)[0]
        if staged_tif and wide:
            result.treatment.write_wide_geotiff(targets["raw"], staged_tif, "tessera.dask")
        elif staged_tif:
            factors = []
            side = max(lines, columns)
            while side > 512:
                factors.append(2 ** (len(factors) + 1))
                side = (side + 1) // 2
            if factors:
                with rasterio.open(staged_tif, "r+") as opened:
                    opened.build_overviews(factors, Resampling.mode)
        texts = {"txt": result.report}
        if on_map:
            csv, legend, style = result.treatment.map_texts(np.asarray(areas, dtype=np.uint64))
            texts.update(csv=csv, tif=legend, qml=style)
        for name, suffix in (("txt", ".txt"), ("csv", ".csv"), ("tif", ".tif.aux.xml"),
                             ("qml", ".qml")):
            if name in wanted:
                _put(staged, stem + suffix, texts[name])
        staged.commit()
    finally:
        staged.discard()
        # GDAL's side files of the staged GeoTIFF, where it made any, and the 16-bit classes.
        for leftover in ((staged_tif + ".aux.xml", staged_tif + ".ovr") if staged_tif else ()) + (
                raw_only,):
            if leftover is not None and os.path.exists(leftover):
                os.remove(leftover)