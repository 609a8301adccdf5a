#pragma once
// What the parts of tessera._core share: the conversions between numpy and the core, and the
// refusals as Python exceptions carrying the program's message on one line.
#include <pybind11/numpy.h>
#include <pybind11/pybind11.h>
#include <pybind11/stl.h>
#include <sys/stat.h>

#include <array>
#include <cstdint>
#include <cstring>
#include <optional>
#include <string>
#include <tuple>
#include <utility>
#include <vector>

#include "bands/graylevels.h"
#include "bands/rasterband.h"
#include "bands/stretch.h"
#include "bands/stretchchoice.h"
#include "crossing/codetable.h"
#include "crossing/crossing.h"
#include "crossing/mapareas.h"
#include "crossing/maplegend.h"
#include "crossing/mapresult.h"
#include "image/bitmapfile.h"
#include "crossing/report.h"
#include "job/choices.h"
#include "job/job.h"
#include "segmentation/thresholding.h"
#include "support/randombelow.h"
#include "workspace/blockpasses.h"
#include "workspace/passes.h"

namespace tessera::python {

namespace py = pybind11;

using Stretch = std::optional<std::pair<double, double>>;
// A segmentation as Python holds it: method, count, lower and upper limits of segments 1..N.
using Segmenting = std::tuple<int, int, std::vector<int64_t>, std::vector<int64_t>>;
// A band of values as Python describes it: GDAL's type name, nodata value (stored), stretch,
// scale and offset (none: the stored values), the percentiles its stretch was found at.
using BandDescription =
    std::tuple<std::string, std::optional<double>, Stretch, Stretch, Stretch>;
// A mask as Python describes it: GDAL's type name of its values, its rule ("nonzero", "bits"
// or "values") and the rule's list as the batch tool takes it ("1,3,4").
using MaskGiven = std::tuple<std::string, std::string, std::string>;

// The core words its messages for message boxes; an exception gives them on one line.
// A refusal of the job in Python's words: the exception of its kind, on one line (job.cpp).
[[noreturn]] void RaiseRefusal(job::Refusal kind, const std::string& message);

[[noreturn]] inline void RaiseValue(const std::string& message) {
    throw py::value_error(job::OneLine(message));
}

[[noreturn]] inline void Raise(PyObject* type, const std::string& message) {
    PyErr_SetString(type, job::OneLine(message).c_str());
    throw py::error_already_set();
}

template <class T>
inline T Take(Result<T> result) {
    if (!result) RaiseValue(result.message);
    return std::move(*result.value);
}

inline void Check(const Status& status) {
    if (!status) RaiseValue(status.message);
}

// GDAL's name of a numpy dtype, or its own name when it is none of the types a band takes.
inline std::string TypeNameOf(const py::dtype& dtype) {
    const char kind = dtype.kind();
    const auto size = dtype.itemsize();
    const bool native = dtype.attr("isnative").cast<bool>();
    if (native) {
        if (kind == 'u' && size == 1) return "Byte";
        if (kind == 'i' && size == 1) return "Int8";
        if (kind == 'u' && size == 2) return "UInt16";
        if (kind == 'i' && size == 2) return "Int16";
        if (kind == 'u' && size == 4) return "UInt32";
        if (kind == 'i' && size == 4) return "Int32";
        if (kind == 'u' && size == 8) return "UInt64";
        if (kind == 'i' && size == 8) return "Int64";
        if (kind == 'f' && size == 4) return "Float32";
        if (kind == 'f' && size == 8) return "Float64";
    }
    return dtype.attr("name").cast<std::string>();
}

inline ValueType TypeOf(const py::dtype& dtype) {
    return Take(ValueTypeNamed(TypeNameOf(dtype)));
}

inline std::optional<StretchRange> StretchOf(const Stretch& stretch) {
    if (!stretch) return std::nullopt;
    return StretchRange{stretch->first, stretch->second};
}

inline ArrayBand BandOf(const BandDescription& description) {
    const auto& [type, nodata, stretch, scaling, percentiles] = description;
    std::optional<Scaling> scaled;
    if (scaling) scaled = Scaling{scaling->first, scaling->second};
    ArrayBand band = MakeArrayBand(Take(ValueTypeNamed(type)), nodata, StretchOf(stretch), scaled);
    if (percentiles) band.percentiles = PercentileRange{percentiles->first, percentiles->second};
    return band;
}

// A percentile search as whole numbers (RankFinder::Numbers), to travel between processes.
using Int64Array = py::array_t<int64_t, py::array::c_style | py::array::forcecast>;
inline std::vector<int64_t> NumbersOf(const Int64Array& array) {
    if (array.ndim() != 1) RaiseValue("a percentile search is a list of whole numbers");
    return std::vector<int64_t>(array.data(), array.data() + array.shape(0));
}
inline RankFinder FinderOf(const Int64Array& array) {
    std::optional<RankFinder> finder = RankFinder::FromNumbers(NumbersOf(array));
    if (!finder) RaiseValue("these numbers are no percentile search");
    return std::move(*finder);
}
inline PercentileBand PercentileBandOf(const std::string& type, const Stretch& scaling,
                                       std::pair<double, double> percentiles) {
    std::optional<Scaling> scaled;
    if (scaling) scaled = Scaling{scaling->first, scaling->second};
    return PercentileBand{type, scaled, PercentileRange{percentiles.first, percentiles.second}};
}

// The mask's rule, refused as the batch tool refuses a list of bits or values.
inline ArrayMask MaskOf(const MaskGiven& description) {
    const auto& [type, kind, list] = description;
    ArrayMask mask;
    mask.type = Take(ValueTypeNamed(type));
    if (kind == "bits") mask.rule = Take(BitsRule(list));
    else if (kind == "values") mask.rule = Take(ValuesRule(list));
    else if (kind != "nonzero") RaiseValue("a mask's rule is nonzero, bits or values, not " + kind);
    return mask;
}

// A 2-D block held line after line; its size.
inline ImageSize BlockSize(const py::array& block) {
    if (block.ndim() != 2)
        RaiseValue("a block must have two dimensions (lines, columns), not " +
                   std::to_string(block.ndim()));
    if (!(block.flags() & py::array::c_style))
        RaiseValue("a block must be held line after line (C order)");
    return ImageSize{static_cast<int>(block.shape(0)), static_cast<int>(block.shape(1))};
}

// The blocks of every band, checked against the bands' types and one another's size.
inline std::vector<ValueBlock> BlocksOf(const std::vector<ArrayBand>& bands,
                                        const std::vector<py::array>& blocks, ImageSize& size) {
    if (blocks.size() != bands.size())
        RaiseValue("give one block per band: " + std::to_string(bands.size()) + " bands, " +
                   std::to_string(blocks.size()) + " blocks");
    std::vector<ValueBlock> values;
    for (size_t b = 0; b < blocks.size(); ++b) {
        const ImageSize own = BlockSize(blocks[b]);
        if (b == 0) size = own;
        if (!(own == size)) RaiseValue(ArraySizeMismatchText(static_cast<int>(b) + 1, own, size));
        if (TypeOf(blocks[b].dtype()) != bands[b].type)
            RaiseValue("band " + std::to_string(b + 1) + " was described as " +
                       ValueTypeName(bands[b].type) + " but its block holds " +
                       TypeNameOf(blocks[b].dtype()) + " values");
        values.push_back(ValueBlock{blocks[b].data()});
    }
    return values;
}

inline size_t Cells(ImageSize size) {
    return static_cast<size_t>(size.lines) * static_cast<size_t>(size.columns);
}

// A new array of `shape`, not cleared, in memory of the system's own pages: numpy's allocator
// asks for huge pages for large arrays, and where the system compacts memory for them only on
// request (Debian's default), every first touch of 2 MiB of a window's levels waits for that.
template <class T>
py::array_t<T> NewArray(const std::vector<py::ssize_t>& shape) {
    size_t cells = 1;
    for (const py::ssize_t extent : shape) cells *= static_cast<size_t>(extent);
    T* data = new T[cells > 0 ? cells : 1];
    py::capsule owner(data, [](void* memory) { delete[] static_cast<T*>(memory); });
    return py::array_t<T>(shape, data, owner);
}

inline py::array_t<uint8_t> Plane(ImageSize size) {
    return NewArray<uint8_t>({size.lines, size.columns});
}

template <class Colours>
inline py::array_t<uint8_t> ColourArray(const Colours& table) {
    const py::ssize_t count = static_cast<py::ssize_t>(table.size());
    py::array_t<uint8_t> colours({count, py::ssize_t{3}});
    auto out = colours.mutable_unchecked<2>();
    for (py::ssize_t k = 0; k < count; ++k) {
        out(k, 0) = table[static_cast<size_t>(k)].red;
        out(k, 1) = table[static_cast<size_t>(k)].green;
        out(k, 2) = table[static_cast<size_t>(k)].blue;
    }
    return colours;
}

template <class T>
inline py::array_t<T> ArrayOf(const std::vector<T>& values) {
    py::array_t<T> array(static_cast<py::ssize_t>(values.size()));
    if (!values.empty())
        std::memcpy(array.mutable_data(), values.data(), values.size() * sizeof(T));
    return array;
}

inline Histogram HistogramOf(
    const py::array_t<int64_t, py::array::c_style | py::array::forcecast>& h) {
    if (h.ndim() != 1 || h.shape(0) != 256) RaiseValue("a histogram holds 256 counts");
    Histogram histogram{};
    std::memcpy(histogram.data(), h.data(), sizeof histogram);
    return histogram;
}

inline void CheckMethod(int method) {
    if (method < Segmentation || method > Definition)
        RaiseValue("unknown method " + std::to_string(method) +
                   " (0 segmentation, 1 equipopulation or 2 definition)");
}

// The statistics of every band as one array of n rows: the histogram, the pixels without
// data, those of them NaN or infinite.
inline py::array_t<int64_t> StatisticsArray(const BandStatistics& statistics, int n) {
    py::array_t<int64_t> out({n, 259});
    auto rows = out.mutable_unchecked<2>();
    for (int b = 1; b <= n; ++b) {
        for (int g = 0; g < 256; ++g) rows(b - 1, g) = statistics.histograms[b][g];
        rows(b - 1, 256) = statistics.withoutData[b];
        rows(b - 1, 257) = statistics.nonFinite[b];
        rows(b - 1, 258) = static_cast<size_t>(b) < statistics.masked.size() ? statistics.masked[b] : 0;
    }
    return out;
}

inline BandStatistics StatisticsOf(
    const py::array_t<int64_t, py::array::c_style | py::array::forcecast>& a, int n) {
    // Each band's histogram, pixels without data, non-finite values, and masked pixels.
    if (a.ndim() != 2 || a.shape(0) != n || (a.shape(1) != 258 && a.shape(1) != 259))
        RaiseValue("the statistics of " + std::to_string(n) + " bands are " + std::to_string(n) +
                   " x 259 numbers");
    auto rows = a.unchecked<2>();
    BandStatistics statistics;
    statistics.histograms.assign(static_cast<size_t>(n) + 1, Histogram{});
    statistics.withoutData.assign(static_cast<size_t>(n) + 1, 0);
    statistics.nonFinite.assign(static_cast<size_t>(n) + 1, 0);
    statistics.masked.assign(static_cast<size_t>(n) + 1, 0);
    for (int b = 1; b <= n; ++b) {
        for (int g = 0; g < 256; ++g) statistics.histograms[b][g] = rows(b - 1, g);
        statistics.withoutData[b] = rows(b - 1, 256);
        statistics.nonFinite[b] = rows(b - 1, 257);
        if (a.shape(1) == 259) statistics.masked[b] = rows(b - 1, 258);
    }
    return statistics;
}

inline std::vector<BandRecord> RecordsOf(const std::vector<Segmenting>& segmentations) {
    std::vector<BandRecord> records(segmentations.size() + 1);
    for (size_t b = 0; b < segmentations.size(); ++b) {
        const auto& [method, count, lower, upper] = segmentations[b];
        CheckMethod(method);
        Check(CheckSegmentCount(count));
        if (lower.size() != upper.size())
            RaiseValue("a segmentation holds as many lower limits as upper limits");
        BandRecord& record = records[b + 1];
        record.thresholdingType = method;
        record.segmentCount = count;
        record.segmentLimits.lower.assign(1, 0);
        record.segmentLimits.upper.assign(1, 0);
        record.segmentLimits.lower.insert(record.segmentLimits.lower.end(), lower.begin(),
                                          lower.end());
        record.segmentLimits.upper.insert(record.segmentLimits.upper.end(), upper.begin(),
                                          upper.end());
    }
    return records;
}

inline Segmenting SegmentationOf(const BandRecord& record) {
    const SegmentLimits& limits = record.segmentLimits;
    std::vector<int64_t> lower, upper;
    if (limits.Count() > 0) {
        lower.assign(limits.lower.begin() + 1, limits.lower.end());
        upper.assign(limits.upper.begin() + 1, limits.upper.end());
    }
    return {record.thresholdingType, record.segmentCount, lower, upper};
}

inline std::optional<Georeference> PlaceOf(const std::optional<std::vector<double>>& transform,
                                           const std::string& system) {
    if (!transform) return std::nullopt;
    if (transform->size() != 6) RaiseValue("a geotransform holds 6 numbers (GDAL's order)");
    Georeference place;
    for (int i = 0; i < 6; ++i) place.transform[i] = (*transform)[i];
    place.coordinateSystem = system;
    return place;
}

// The codes 1..K a selection keeps; refused, with the batch tool's text, beyond 250 classes.
inline std::vector<int32_t> SelectedOf(const std::vector<int64_t>& pixelCount, bool keepAll,
                                       int64_t minimum, int maxClasses = kMaximumClassCount) {
    if (pixelCount.empty()) RaiseValue("give the pixels of every code 0..N");
    const CodeSelection choice{keepAll, minimum};
    const int64_t kept = CountSelected(pixelCount, choice);
    if (kept > maxClasses) {
        job::Options options;
        options.keepAll = keepAll;
        options.minPixels = minimum;
        options.maxClasses = maxClasses;
        RaiseValue(job::TooManyClassesText(options, kept, std::to_string(pixelCount.size() - 1)));
    }
    std::vector<int32_t> selected = SelectCodes(pixelCount, choice);
    if (!selected.empty()) selected.erase(selected.begin());
    return selected;
}

// Area sums as they travel (ClassAreas::Parts): 512 words of byte classes, 131072 of 16-bit.
inline std::vector<uint64_t> AreaWords(
    const py::array_t<uint64_t, py::array::c_style | py::array::forcecast>& parts) {
    if (parts.ndim() != 1 || (parts.shape(0) != 512 && parts.shape(0) != 2 * 65536))
        RaiseValue("area sums are 512 numbers, or 131072 of 16-bit classes");
    return std::vector<uint64_t>(parts.data(), parts.data() + parts.shape(0));
}

// ----- code counts that travel: the codes that occur, whatever the size of the table -----

using OffsetArray = py::array_t<uint64_t, py::array::c_style | py::array::forcecast>;

// A block's or window's tally as (the codes that occur as offsets ascending, their pixels, and
// the pixels without a code, without data and masked): what travels is the codes held.
inline py::tuple CodeCountsOf(const CodeTable& table, const CodeTally& counts) {
    std::vector<CodeOffset> offsets;
    std::vector<int64_t> pixels;
    for (size_t k = 1; k < counts.pixelCount.size(); ++k) {
        if (counts.pixelCount[k] == 0) continue;
        offsets.push_back(table.Sparse() ? counts.held[k] : static_cast<CodeOffset>(k - 1));
        pixels.push_back(counts.pixelCount[k]);
    }
    const std::vector<int64_t> extra{counts.pixelCount.empty() ? 0 : counts.pixelCount[0],
                                     counts.withoutData, counts.masked};
    return py::make_tuple(ArrayOf(offsets), ArrayOf(pixels), ArrayOf(extra));
}

using OffsetArray = py::array_t<uint64_t, py::array::c_style | py::array::forcecast>;

// Code counts (CodeCountsOf) as counts of codes.
inline std::vector<CodePixels> CodePixelsOf(const OffsetArray& offsets, const Int64Array& pixels) {
    if (offsets.ndim() != 1 || pixels.ndim() != 1 || offsets.shape(0) != pixels.shape(0))
        RaiseValue("code counts are as many codes as pixel counts");
    std::vector<CodePixels> counts(static_cast<size_t>(offsets.shape(0)));
    for (size_t k = 0; k < counts.size(); ++k)
        counts[k] = {offsets.data()[k], pixels.data()[k]};
    return counts;
}

// The sum of windows' code counts, as a window's: the codes ascending, whatever the order of
// the windows.
inline py::tuple MergeCodeCounts(const py::args& parts) {
    std::vector<std::vector<CodePixels>> counts;
    std::vector<int64_t> extra(3, 0);
    for (const py::handle part : parts) {
        const auto tuple = part.cast<py::tuple>();
        if (tuple.size() != 3) RaiseValue("code counts are (codes, pixels, without a code)");
        counts.push_back(CodePixelsOf(tuple[0].cast<OffsetArray>(), tuple[1].cast<Int64Array>()));
        const auto more = tuple[2].cast<Int64Array>();
        if (more.ndim() != 1 || more.shape(0) != 3) RaiseValue("code counts end in 3 numbers");
        for (size_t k = 0; k < 3; ++k) extra[k] += more.data()[k];
    }
    std::vector<CodePixels> merged;
    {
        py::gil_scoped_release release;
        merged = MergeSparseCounts(std::move(counts));
    }
    std::vector<CodeOffset> offsets(merged.size());
    std::vector<int64_t> pixels(merged.size());
    for (size_t k = 0; k < merged.size(); ++k) {
        offsets[k] = merged[k].first;
        pixels[k] = merged[k].second;
    }
    return py::make_tuple(ArrayOf(offsets), ArrayOf(pixels), ArrayOf(extra));
}

// Merged code counts as the tally of `table`: a sparse table's codes that occur, or a dense
// table's every code; nothing when a code lies outside the table.
inline std::optional<CodeTally> TallyOf(const CodeTable& table, const py::tuple& counts) {
    if (counts.size() != 3) RaiseValue("code counts are (codes, pixels, without a code)");
    const std::vector<CodePixels> codes =
        CodePixelsOf(counts[0].cast<OffsetArray>(), counts[1].cast<Int64Array>());
    const auto extra = counts[2].cast<Int64Array>();
    if (extra.ndim() != 1 || extra.shape(0) != 3) RaiseValue("code counts end in 3 numbers");
    CodeTally tally;
    if (table.Sparse()) {
        tally = SparseTally(codes, extra.data()[0]);
    } else {
        tally.pixelCount.assign(static_cast<size_t>(table.CodeCount) + 1, 0);
        tally.pixelCount[0] = extra.data()[0];
        for (const CodePixels& code : codes) {
            if (code.first >= static_cast<CodeOffset>(table.CodeCount)) return std::nullopt;
            tally.pixelCount[code.first + 1] += code.second;
        }
    }
    tally.withoutData = extra.data()[1];
    tally.masked = extra.data()[2];
    return tally;
}

}  // namespace tessera::python
