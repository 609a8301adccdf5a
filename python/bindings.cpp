// tessera._core: the core's rules over numpy arrays. Each function here converts its arguments,
// releases the GIL while the core computes, and turns a refusal into a Python exception that
// carries the program's message; no rule is decided here.
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
#include "batch/batchjob.h"
#include "batch/batchoptions.h"
#include "crossing/codetable.h"
#include "crossing/crossing.h"
#include "crossing/mapareas.h"
#include "crossing/maplegend.h"
#include "crossing/mapresult.h"
#include "crossing/report.h"
#include "segmentation/thresholding.h"
#include "support/randombelow.h"
#include "workspace/blockpasses.h"
#include "workspace/passes.h"

namespace py = pybind11;
using namespace tessera;

namespace {

__extension__ typedef unsigned __int128 Wide;

using Stretch = std::optional<std::pair<double, double>>;
// A segmentation as Python holds it: method, count, lower and upper limits of segments 1..N.
using Segmenting = std::tuple<int, int, std::vector<int64_t>, std::vector<int64_t>>;
// A band of values as Python describes it: GDAL's type name, nodata value, stretch.
using BandDescription = std::tuple<std::string, std::optional<double>, Stretch>;

[[noreturn]] void RaiseValue(const std::string& message) {
    throw py::value_error(message);
}

[[noreturn]] void Raise(PyObject* type, const std::string& message) {
    PyErr_SetString(type, message.c_str());
    throw py::error_already_set();
}

template <class T>
T Take(Result<T> result) {
    if (!result) RaiseValue(result.message);
    return std::move(*result.value);
}

void Check(const Status& status) {
    if (!status) RaiseValue(status.message);
}

// GDAL's name of a numpy dtype, or its own name when it is none of the types a band takes.
std::string TypeNameOf(const py::dtype& dtype) {
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

ValueType TypeOf(const py::dtype& dtype) {
    return Take(ValueTypeNamed(TypeNameOf(dtype)));
}

std::optional<StretchRange> StretchOf(const Stretch& stretch) {
    if (!stretch) return std::nullopt;
    return StretchRange{stretch->first, stretch->second};
}

ArrayBand BandOf(const BandDescription& description) {
    const auto& [type, nodata, stretch] = description;
    return MakeArrayBand(Take(ValueTypeNamed(type)), nodata, StretchOf(stretch));
}

// A 2-D block held line after line; its size.
ImageSize BlockSize(const py::array& block) {
    if (block.ndim() != 2)
        RaiseValue("a block must have two dimensions (lines, columns), not " +
                   std::to_string(block.ndim()));
    if (!(block.flags() & py::array::c_style))
        RaiseValue("a block must be held line after line (C order)");
    return ImageSize{static_cast<int>(block.shape(0)), static_cast<int>(block.shape(1))};
}

// The blocks of every band, checked against the bands' types and one another's size.
std::vector<ValueBlock> BlocksOf(const std::vector<ArrayBand>& bands,
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

size_t Cells(ImageSize size) {
    return static_cast<size_t>(size.lines) * static_cast<size_t>(size.columns);
}

py::array_t<uint8_t> Plane(ImageSize size) {
    return py::array_t<uint8_t>({size.lines, size.columns});
}

py::array_t<uint8_t> ColourArray(const ColourTable& table) {
    py::array_t<uint8_t> colours({256, 3});
    auto out = colours.mutable_unchecked<2>();
    for (int k = 0; k < 256; ++k) {
        out(k, 0) = table[k].red;
        out(k, 1) = table[k].green;
        out(k, 2) = table[k].blue;
    }
    return colours;
}

template <class T>
py::array_t<T> ArrayOf(const std::vector<T>& values) {
    py::array_t<T> array(static_cast<py::ssize_t>(values.size()));
    if (!values.empty())
        std::memcpy(array.mutable_data(), values.data(), values.size() * sizeof(T));
    return array;
}

Histogram HistogramOf(const py::array_t<int64_t, py::array::c_style | py::array::forcecast>& h) {
    if (h.ndim() != 1 || h.shape(0) != 256) RaiseValue("a histogram holds 256 counts");
    Histogram histogram{};
    std::memcpy(histogram.data(), h.data(), sizeof histogram);
    return histogram;
}

void CheckMethod(int method) {
    if (method < Segmentation || method > Definition)
        RaiseValue("unknown method " + std::to_string(method) +
                   " (0 segmentation, 1 equipopulation or 2 definition)");
}

// The statistics of every band as one array of n rows: the histogram, the pixels without
// data, those of them NaN or infinite.
py::array_t<int64_t> StatisticsArray(const BandStatistics& statistics, int n) {
    py::array_t<int64_t> out({n, 258});
    auto rows = out.mutable_unchecked<2>();
    for (int b = 1; b <= n; ++b) {
        for (int g = 0; g < 256; ++g) rows(b - 1, g) = statistics.histograms[b][g];
        rows(b - 1, 256) = statistics.withoutData[b];
        rows(b - 1, 257) = statistics.nonFinite[b];
    }
    return out;
}

BandStatistics StatisticsOf(
    const py::array_t<int64_t, py::array::c_style | py::array::forcecast>& a, int n) {
    if (a.ndim() != 2 || a.shape(0) != n || a.shape(1) != 258)
        RaiseValue("the statistics of " + std::to_string(n) + " bands are " + std::to_string(n) +
                   " x 258 numbers");
    auto rows = a.unchecked<2>();
    BandStatistics statistics;
    statistics.histograms.assign(static_cast<size_t>(n) + 1, Histogram{});
    statistics.withoutData.assign(static_cast<size_t>(n) + 1, 0);
    statistics.nonFinite.assign(static_cast<size_t>(n) + 1, 0);
    statistics.masked.assign(static_cast<size_t>(n) + 1, 0);  // blocks carry no mask
    for (int b = 1; b <= n; ++b) {
        for (int g = 0; g < 256; ++g) statistics.histograms[b][g] = rows(b - 1, g);
        statistics.withoutData[b] = rows(b - 1, 256);
        statistics.nonFinite[b] = rows(b - 1, 257);
    }
    return statistics;
}

std::vector<BandRecord> RecordsOf(const std::vector<Segmenting>& segmentations) {
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

Segmenting SegmentationOf(const BandRecord& record) {
    const SegmentLimits& limits = record.segmentLimits;
    std::vector<int64_t> lower, upper;
    if (limits.Count() > 0) {
        lower.assign(limits.lower.begin() + 1, limits.lower.end());
        upper.assign(limits.upper.begin() + 1, limits.upper.end());
    }
    return {record.thresholdingType, record.segmentCount, lower, upper};
}

std::optional<Georeference> PlaceOf(const std::optional<std::vector<double>>& transform,
                                    const std::string& system) {
    if (!transform) return std::nullopt;
    if (transform->size() != 6) RaiseValue("a geotransform holds 6 numbers (GDAL's order)");
    Georeference place;
    for (int i = 0; i < 6; ++i) place.transform[i] = (*transform)[i];
    place.coordinateSystem = system;
    return place;
}

// The codes 1..K a selection keeps; refused, with the batch tool's text, beyond 250 classes.
std::vector<int32_t> SelectedOf(const std::vector<int64_t>& pixelCount, bool keepAll,
                                int64_t minimum) {
    if (pixelCount.empty()) RaiseValue("give the pixels of every code 0..N");
    const CodeSelection choice{keepAll, minimum};
    const int64_t kept = CountSelected(pixelCount, choice);
    if (kept > kMaximumClassCount) {
        batch::Options options;
        options.keepAll = keepAll;
        options.minPixels = minimum;
        RaiseValue(
            batch::TooManyClassesText(options, kept, static_cast<int>(pixelCount.size()) - 1));
    }
    std::vector<int32_t> selected = SelectCodes(pixelCount, choice);
    if (!selected.empty()) selected.erase(selected.begin());
    return selected;
}

// The plan every block of a treatment needs, picklable so that it travels to other processes.
class PyPlan {
  public:
    PyPlan(std::vector<BandDescription> bands, std::vector<Segmenting> segmentations,
           std::vector<int32_t> selected)
        : descriptions_(std::move(bands)),
          segmentations_(std::move(segmentations)),
          selected_(std::move(selected)) {
        std::vector<ArrayBand> values;
        for (const BandDescription& d : descriptions_) values.push_back(BandOf(d));
        if (segmentations_.empty()) {
            plan_.bands = std::move(values);
            return;
        }
        if (segmentations_.size() != values.size()) RaiseValue("give one segmentation per band");
        std::vector<int32_t> codes;
        if (!selected_.empty()) {
            codes.push_back(0);
            codes.insert(codes.end(), selected_.begin(), selected_.end());
        }
        plan_ = Take(MakeBlockPlan(std::move(values), RecordsOf(segmentations_), codes));
        segmented_ = true;
    }

    py::tuple State() const { return py::make_tuple(descriptions_, segmentations_, selected_); }
    int BandCount() const { return static_cast<int>(plan_.bands.size()); }
    int CodeCount() const { return plan_.treatment.table.CodeCount; }

    py::array_t<int64_t> Statistics(const std::vector<py::array>& blocks) const {
        ImageSize size;
        const std::vector<ValueBlock> values = BlocksOf(plan_.bands, blocks, size);
        Result<BandStatistics> statistics;
        {
            py::gil_scoped_release release;
            statistics = BlockStatistics(plan_.bands, values, size);
        }
        return StatisticsArray(Take(std::move(statistics)), BandCount());
    }

    py::array_t<double> Ranges(const std::vector<py::array>& blocks) const {
        ImageSize size;
        const std::vector<ValueBlock> values = BlocksOf(plan_.bands, blocks, size);
        py::array_t<double> out({BandCount(), 2});
        double* ends = out.mutable_data();
        {
            py::gil_scoped_release release;
            for (size_t b = 0; b < values.size(); ++b) {
                const ValueRange range = BlockRange(plan_.bands[b], values[b], Cells(size));
                ends[2 * b] = range.low;
                ends[2 * b + 1] = range.high;
            }
        }
        return out;
    }

    // The pixels of every code 0..N, then those without data: N + 2 numbers.
    py::array_t<int64_t> Counts(const std::vector<py::array>& blocks) const {
        Segmented();
        ImageSize size;
        const std::vector<ValueBlock> values = BlocksOf(plan_.bands, blocks, size);
        Result<CodeTally> tally;
        {
            py::gil_scoped_release release;
            tally = BlockCounts(plan_, values, size);
        }
        CodeTally counts = Take(std::move(tally));
        counts.pixelCount.push_back(counts.withoutData);
        return ArrayOf(counts.pixelCount);
    }

    py::array_t<int32_t> Codes(const std::vector<py::array>& blocks) const {
        Segmented();
        ImageSize size;
        const std::vector<ValueBlock> values = BlocksOf(plan_.bands, blocks, size);
        py::array_t<int32_t> codes({size.lines, size.columns});
        int32_t* out = codes.mutable_data();
        Status done;
        {
            py::gil_scoped_release release;
            done = BlockCodes(plan_, values, size, out);
        }
        Check(done);
        return codes;
    }

    py::array_t<uint8_t> Classes(const std::vector<py::array>& blocks) const {
        Segmented();
        if (selected_.empty()) RaiseValue("the plan holds no codes kept as classes");
        ImageSize size;
        const std::vector<ValueBlock> values = BlocksOf(plan_.bands, blocks, size);
        py::array_t<uint8_t> classes = Plane(size);
        uint8_t* out = classes.mutable_data();
        Status done;
        {
            py::gil_scoped_release release;
            done = BlockClasses(plan_, values, size, out);
        }
        Check(done);
        return classes;
    }

    py::array_t<uint8_t> SegmentNumbers(int band, const py::array& block) const {
        Segmented();
        if (band < 1 || band > BandCount()) RaiseValue("there is no band " + std::to_string(band));
        ImageSize size;
        std::vector<ArrayBand> only{plan_.bands[static_cast<size_t>(band) - 1]};
        const std::vector<ValueBlock> values = BlocksOf(only, {block}, size);
        py::array_t<uint8_t> numbers = Plane(size);
        uint8_t* out = numbers.mutable_data();
        Status done;
        {
            py::gil_scoped_release release;
            done = BlockSegmentNumbers(plan_, band, values[0], size, out);
        }
        Check(done);
        return numbers;
    }

  private:
    void Segmented() const {
        if (!segmented_) RaiseValue("the plan holds no segmentation of the bands");
    }
    std::vector<BandDescription> descriptions_;
    std::vector<Segmenting> segmentations_;
    std::vector<int32_t> selected_;  // 1..K
    BlockPlan plan_;
    bool segmented_ = false;
};

// The treatment as the client holds it between the passes: the bands' records, the code table,
// the counts, the classes and the colours, drawn in the program's one sequence.
class PyTreatment {
  public:
    PyTreatment() = default;
    explicit PyTreatment(const batch::JobOutcome& outcome)
        : treatment_(outcome.treatment), size_(outcome.size) {}

    void TakeStatistics(const std::vector<BandDescription>& bands,
                        const std::vector<std::string>& names, const std::vector<int>& rasterBands,
                        const py::array_t<int64_t, py::array::c_style | py::array::forcecast>& rows,
                        int lines, int columns) {
        const int n = static_cast<int>(bands.size());
        if (names.size() != bands.size() || rasterBands.size() != bands.size())
            RaiseValue("give a name and a raster band per band");
        Check(CheckBandCount(n));
        std::vector<ArrayBand> values;
        for (const BandDescription& d : bands) values.push_back(BandOf(d));
        size_ = ImageSize{lines, columns};
        Check(TakeBlockStatistics(treatment_, values, names, rasterBands, StatisticsOf(rows, n),
                                  size_));
    }

    void SetPlace(const std::optional<std::vector<double>>& transform, const std::string& system) {
        const std::optional<Georeference> place = PlaceOf(transform, system);
        for (int b = 1; b <= treatment_.BandCount(); ++b)
            treatment_.records[b].georeference = place;
    }

    void SetSegmentation(int band, int method, int count, const std::vector<int32_t>& typed) {
        if (band < 1 || band > treatment_.BandCount())
            RaiseValue("there is no band " + std::to_string(band));
        CheckMethod(method);
        Check(CheckSegmentCount(count));
        tessera::SetBandSegmentation(treatment_, band, method, count, typed);
    }

    void FinishSegmentation() { Check(tessera::FinishSegmentation(treatment_, random_)); }

    std::vector<Segmenting> Segmentations() const {
        std::vector<Segmenting> all;
        for (int b = 1; b <= treatment_.BandCount(); ++b)
            all.push_back(SegmentationOf(treatment_.records[b]));
        return all;
    }

    void TakeCounts(const py::array_t<int64_t, py::array::c_style | py::array::forcecast>& counts) {
        const size_t codes = static_cast<size_t>(treatment_.table.CodeCount) + 1;
        if (treatment_.byGray.empty()) RaiseValue(" The bands are not segmented ");
        if (counts.ndim() != 1 || static_cast<size_t>(counts.shape(0)) != codes + 1)
            RaiseValue("the counts of " + std::to_string(codes - 1) + " codes are " +
                       std::to_string(codes + 1) + " numbers");
        CodeTally tally;
        tally.pixelCount.assign(counts.data(), counts.data() + codes);
        tally.withoutData = counts.data()[codes];
        tessera::TakeCounts(treatment_, std::move(tally));
    }

    std::vector<int32_t> Select(bool keepAll, int64_t minimum) const {
        if (treatment_.PixelCount.empty()) RaiseValue(" The bands are not segmented ");
        return SelectedOf(treatment_.PixelCount, keepAll, minimum);
    }

    void FinishCrossing(const std::vector<int32_t>& selected, bool keepAll, int64_t minimum) {
        if (treatment_.PixelCount.empty()) RaiseValue(" The bands are not segmented ");
        std::vector<int32_t> codes{0};
        codes.insert(codes.end(), selected.begin(), selected.end());
        treatment_.selection = CodeSelection{keepAll, minimum};
        Check(tessera::FinishCrossing(treatment_, random_, std::move(codes)));
    }

    py::array_t<int64_t> PixelCount() const { return ArrayOf(treatment_.PixelCount); }
    py::array_t<int32_t> SelectedCodes() const {
        std::vector<int32_t> codes = treatment_.SelectedCodes;
        if (!codes.empty()) codes.erase(codes.begin());
        return ArrayOf(codes);
    }
    py::array_t<uint8_t> ClassOf() const { return ArrayOf(treatment_.classOf); }
    std::optional<int64_t> NodataPixels() const { return treatment_.nodataPixels; }
    int ClassCount() const { return treatment_.ClassCount; }
    int CodeCount() const { return treatment_.table.CodeCount; }
    std::pair<int, int> Size() const { return {size_.lines, size_.columns}; }
    py::array_t<uint8_t> ClassColours() const { return ColourArray(treatment_.ClassColorTable); }
    py::array_t<uint8_t> SegmentColours() const {
        return ColourArray(treatment_.SegmentColourTable);
    }
    std::vector<BandDescription> Bands() const {
        std::vector<BandDescription> bands;
        for (int b = 1; b <= treatment_.BandCount(); ++b) {
            const BandRecord& record = treatment_.records[b];
            const std::string type = record.stretch ? record.stretch->dataType : "Byte";
            Stretch stretch;
            if (record.stretch)
                stretch = std::pair{record.stretch->range.minimum, record.stretch->range.maximum};
            bands.emplace_back(type, record.nodata, stretch);
        }
        return bands;
    }
    std::vector<std::pair<std::string, int>> Names() const {
        std::vector<std::pair<std::string, int>> names;
        for (int b = 1; b <= treatment_.BandCount(); ++b)
            names.emplace_back(treatment_.records[b].filePath, treatment_.records[b].rasterBand);
        return names;
    }
    std::optional<std::pair<std::vector<double>, std::string>> Place() const {
        const std::optional<Georeference> place = SharedGeoreference(treatment_.records);
        if (!place) return std::nullopt;
        return std::pair{std::vector<double>(place->transform.begin(), place->transform.end()),
                         place->coordinateSystem};
    }

    std::string Report() const {
        Crossed();
        return ResultReport(size_, treatment_.records, treatment_.table, treatment_.PixelCount,
                            treatment_.SelectedCodes, treatment_.nodataPixels, treatment_.masks,
                            treatment_.maskedPixels);
    }
    std::string CodeList() const {
        if (treatment_.byGray.empty()) RaiseValue(" The bands are not segmented ");
        return MultiTabText(treatment_.table);
    }
    // The class table as CSV, the legend beside the GeoTIFF and the QGIS style, with the areas
    // gathered from the class raster (ClassAreas::Parts summed over its blocks).
    std::tuple<std::string, std::string, std::string> MapTexts(
        const py::array_t<uint64_t, py::array::c_style | py::array::forcecast>& parts) const {
        Crossed();
        const std::optional<Georeference> place = SharedGeoreference(treatment_.records);
        if (!place) RaiseValue("the bands lie on no map: give their transform and crs");
        if (parts.ndim() != 1 || parts.shape(0) != 512) RaiseValue("area sums are 512 numbers");
        std::array<uint64_t, 512> words{};
        std::memcpy(words.data(), parts.data(), sizeof words);
        const CellAreas cells(size_, *place);
        ClassAreas areas(cells);
        areas.AddParts(words);
        const ClassTable table =
            MakeClassTable(size_, treatment_.records, treatment_.table, treatment_.PixelCount,
                           treatment_.SelectedCodes, treatment_.PixelsWithoutData(), areas);
        return {ClassTableCsv(table), ClassRasterLegend(table, treatment_.ClassColorTable),
                ClassRasterStyle(table, treatment_.ClassColorTable)};
    }
    RasterMetadata Metadata(const std::string& program) const {
        Crossed();
        return TreatmentMetadata(program, treatment_.records, treatment_.selection,
                                 treatment_.ClassCount, treatment_.maskDescriptions);
    }

  private:
    void Crossed() const {
        if (treatment_.classOf.empty()) RaiseValue(" There is no result to save ");
    }
    Treatment treatment_;
    RandomBelow random_;
    ImageSize size_;
};

bool Exists(const std::string& path) {
    struct stat info;
    return ::stat(path.c_str(), &info) == 0;
}

PyTreatment RunJob(const std::vector<std::string>& arguments) {
    const Result<batch::Options> parsed = batch::ParseOptions(arguments);
    if (!parsed) RaiseValue(parsed.message);
    batch::Options options = *parsed.value;
    options.quiet = true;
    options.progress = false;
    batch::JobOutcome outcome;
    {
        py::gil_scoped_release release;
        outcome = batch::RunJobFor(options);
    }
    if (outcome.status == batch::kNotWritten) Raise(PyExc_OSError, outcome.message);
    if (outcome.status == batch::kRefused) {
        for (const batch::BandOptions& band : options.bands)
            if (!Exists(batch::BandOfName(band.path).path))
                Raise(PyExc_FileNotFoundError, outcome.message);
    }
    if (outcome.status != batch::kDone) RaiseValue(outcome.message);
    return PyTreatment(outcome);
}

py::dict ParseOptions(const std::vector<std::string>& arguments) {
    const Result<batch::Options> parsed = batch::ParseOptions(arguments);
    if (!parsed) RaiseValue(parsed.message);
    const batch::Options& options = *parsed.value;
    py::list bands;
    for (const batch::BandOptions& band : options.bands) {
        py::dict one;
        one["path"] = band.path;
        one["method"] = band.type;
        one["segments"] = band.segments;
        one["limits"] = band.limits;
        one["all_bands"] = band.allBands;
        Stretch stretch;
        if (band.stretch) stretch = std::pair{band.stretch->minimum, band.stretch->maximum};
        one["stretch"] = stretch;
        one["nodata"] = band.nodata;
        one["percentiles"] = band.percentiles;
        one["scale"] = band.scale;
        one["offset"] = band.offset;
        one["native_limits"] = band.nativeLimits.has_value();
        bands.append(one);
    }
    py::dict result;
    result["out"] = options.out;
    result["keep_all"] = options.keepAll;
    result["min_pixels"] = options.minPixels;
    result["bands"] = bands;
    result["masks"] = options.masks.size();
    return result;
}

}  // namespace

PYBIND11_MODULE(_core, m) {
    m.doc() = "The rules of Tessera_V2 over numpy arrays (see the tessera package).";

    m.def(
        "value_type", [](const py::dtype& dtype) { return ValueTypeName(TypeOf(dtype)); },
        "GDAL's name of the type of a band held in this dtype; ValueError for a dtype no band "
        "takes.");
    m.def(
        "gray_levels",
        [](const py::array& block, std::optional<double> nodata, Stretch stretch) {
            const ArrayBand band = MakeArrayBand(TypeOf(block.dtype()), nodata, StretchOf(stretch));
            if (band.Stretched() && !band.stretch)
                RaiseValue("a band of " + std::string(ValueTypeName(band.type)) +
                           " values needs its stretch (MIN, MAX)");
            const ImageSize size = BlockSize(block);
            py::array_t<uint8_t> gray = Plane(size), marks = Plane(size);
            const ValueBlock values{block.data()};
            uint8_t* g = gray.mutable_data();
            uint8_t* k = marks.mutable_data();
            {
                py::gil_scoped_release release;
                BlockToGray(band, values, Cells(size), g, k);
            }
            return py::make_tuple(gray, marks);
        },
        py::arg("block"), py::arg("nodata") = py::none(), py::arg("stretch") = py::none());
    m.def(
        "own_stretch",
        [](const std::string& name, int rasterBand, double low, double high,
           std::optional<double> nodata, const std::string& type) {
            const ArrayBand band = MakeArrayBand(Take(ValueTypeNamed(type)), nodata, std::nullopt);
            const StretchRange range = Take(OwnStretch(name, std::max(rasterBand, 1), low, high,
                                                       band.nodata, band.Floating(), type));
            return std::pair{range.minimum, range.maximum};
        },
        "The stretch of a band from its own range over its pixels with data; ValueError, with "
        "the batch tool's text, for a band without data or of one value.");
    m.def("check_stretch",
          [](const std::string& name, int rasterBand, double minimum, double maximum) {
              Check(CheckStretch(name, std::max(rasterBand, 1), StretchRange{minimum, maximum}));
          });
    m.def(
        "limits",
        [](const py::array_t<int64_t, py::array::c_style | py::array::forcecast>& histogram,
           int method, int segments, const std::vector<int32_t>& typed) {
            CheckMethod(method);
            Check(CheckSegmentCount(segments));
            const Histogram counts = HistogramOf(histogram);
            BandRecord record;
            tessera::SetBandSegmentation(record, counts, RangeOfHistogram(counts), method, segments,
                                         typed);
            const auto [type, count, lower, upper] = SegmentationOf(record);
            return py::make_tuple(ArrayOf(lower), ArrayOf(upper));
        },
        py::arg("histogram"), py::arg("method"), py::arg("segments"),
        py::arg("typed") = std::vector<int32_t>{});
    m.def("select_codes",
          [](const py::array_t<int64_t, py::array::c_style | py::array::forcecast>& counts,
             bool keepAll, int64_t minimum) {
              return ArrayOf(
                  SelectedOf(std::vector<int64_t>(counts.data(), counts.data() + counts.size()),
                             keepAll, minimum));
          });
    m.def("size_mismatch_text", [](int band, std::pair<int, int> size, std::pair<int, int> first) {
        return ArraySizeMismatchText(band, ImageSize{size.first, size.second},
                                     ImageSize{first.first, first.second});
    });
    m.def("block_mismatch_text", &BlockMismatchText);
    m.def("colour_tables", [] {
        RandomBelow random;
        const ColourTable segments = BuildSegmentColourTable(random);
        const ColourTable classes = BuildClassColourTable(random);
        return py::make_tuple(ColourArray(segments), ColourArray(classes));
    });
    m.def("code_list", [](const std::vector<int32_t>& segmentCounts) {
        std::vector<int32_t> counts{0};
        counts.insert(counts.end(), segmentCounts.begin(), segmentCounts.end());
        return MultiTabText(Take(BuildCodeTable(counts)));
    });
    m.def("code_table_lines",
          [](const std::vector<int32_t>& segmentCounts,
             const py::array_t<int64_t, py::array::c_style | py::array::forcecast>& counts) {
              std::vector<int32_t> segments{0};
              segments.insert(segments.end(), segmentCounts.begin(), segmentCounts.end());
              const CodeTable table = Take(BuildCodeTable(segments));
              std::vector<int64_t> pixels(counts.data(), counts.data() + counts.size());
              if (pixels.size() != static_cast<size_t>(table.CodeCount) + 1)
                  RaiseValue("give the pixels of every code 0.." + std::to_string(table.CodeCount));
              return CodeTableLines(table, pixels);
          });
    m.def(
        "area_parts",
        [](const py::array& classes, int firstLine, int lines, int columns,
           const std::vector<double>& transform, const std::string& system) {
            const ImageSize block = BlockSize(classes);
            if (TypeOf(classes.dtype()) != ValueType::Byte) RaiseValue("classes are bytes");
            const std::optional<Georeference> place = PlaceOf(transform, system);
            std::array<uint64_t, 512> parts{};
            const uint8_t* values = static_cast<const uint8_t*>(classes.data());
            {
                py::gil_scoped_release release;
                const CellAreas cells(ImageSize{lines, columns}, *place);
                ClassAreas areas(cells);
                for (int y = 0; y < block.lines; ++y)
                    areas.AddLine(firstLine + y, values + static_cast<size_t>(y) * block.columns,
                                  block.columns);
                parts = areas.Parts();
            }
            return ArrayOf(std::vector<uint64_t>(parts.begin(), parts.end()));
        },
        "ClassAreas of the lines of a block of the class raster, as 512 words to add up.");
    m.def("add_area_parts",
          [](const py::array_t<uint64_t, py::array::c_style | py::array::forcecast>& a,
             const py::array_t<uint64_t, py::array::c_style | py::array::forcecast>& b) {
              if (a.size() != 512 || b.size() != 512) RaiseValue("area sums are 512 numbers");
              std::vector<uint64_t> sum(512);
              for (size_t k = 0; k < 256; ++k) {
                  const Wide x = (static_cast<Wide>(a.data()[2 * k]) << 64) | a.data()[2 * k + 1];
                  const Wide y = (static_cast<Wide>(b.data()[2 * k]) << 64) | b.data()[2 * k + 1];
                  const Wide s = x + y;
                  sum[2 * k] = static_cast<uint64_t>(s >> 64);
                  sum[2 * k + 1] = static_cast<uint64_t>(s);
              }
              return ArrayOf(sum);
          });
    m.def("parse_options", &ParseOptions,
          "tessera-batch's arguments read as the tool reads them; ValueError with its text.");
    m.def("band_of_name", [](const std::string& name) {
        const batch::BandNamed band = batch::BandOfName(name);
        return std::pair{band.path, band.rasterBand};
    });
    m.def("run_job", &RunJob,
          "The whole job of tessera-batch on these arguments; the treatment it ran.");
    m.attr("MAXIMUM_CLASSES") = kMaximumClassCount;
    m.attr("NO_CLASS") = NoClass;
    m.attr("NO_SEGMENT") = NoSegment;

    py::class_<PyPlan>(m, "Plan")
        .def(
            py::init<std::vector<BandDescription>, std::vector<Segmenting>, std::vector<int32_t>>(),
            py::arg("bands"), py::arg("segmentations") = std::vector<Segmenting>{},
            py::arg("selected") = std::vector<int32_t>{})
        .def_property_readonly("band_count", &PyPlan::BandCount)
        .def_property_readonly("code_count", &PyPlan::CodeCount)
        .def("statistics", &PyPlan::Statistics)
        .def("ranges", &PyPlan::Ranges)
        .def("counts", &PyPlan::Counts)
        .def("codes", &PyPlan::Codes)
        .def("classes", &PyPlan::Classes)
        .def("segment_numbers", &PyPlan::SegmentNumbers)
        .def(py::pickle([](const PyPlan& plan) { return plan.State(); },
                        [](const py::tuple& state) {
                            return PyPlan(state[0].cast<std::vector<BandDescription>>(),
                                          state[1].cast<std::vector<Segmenting>>(),
                                          state[2].cast<std::vector<int32_t>>());
                        }));

    py::class_<PyTreatment>(m, "Treatment")
        .def(py::init<>())
        .def("take_statistics", &PyTreatment::TakeStatistics)
        .def("set_place", &PyTreatment::SetPlace)
        .def("set_segmentation", &PyTreatment::SetSegmentation)
        .def("finish_segmentation", &PyTreatment::FinishSegmentation)
        .def("segmentations", &PyTreatment::Segmentations)
        .def("take_counts", &PyTreatment::TakeCounts)
        .def("select", &PyTreatment::Select)
        .def("finish_crossing", &PyTreatment::FinishCrossing)
        .def_property_readonly("pixel_count", &PyTreatment::PixelCount)
        .def_property_readonly("selected_codes", &PyTreatment::SelectedCodes)
        .def_property_readonly("class_of", &PyTreatment::ClassOf)
        .def_property_readonly("nodata_pixels", &PyTreatment::NodataPixels)
        .def_property_readonly("class_count", &PyTreatment::ClassCount)
        .def_property_readonly("code_count", &PyTreatment::CodeCount)
        .def_property_readonly("size", &PyTreatment::Size)
        .def_property_readonly("class_colours", &PyTreatment::ClassColours)
        .def_property_readonly("segment_colours", &PyTreatment::SegmentColours)
        .def("bands", &PyTreatment::Bands)
        .def("names", &PyTreatment::Names)
        .def("place", &PyTreatment::Place)
        .def("report", &PyTreatment::Report)
        .def("code_list", &PyTreatment::CodeList)
        .def("map_texts", &PyTreatment::MapTexts)
        .def("metadata", &PyTreatment::Metadata);
}
