#pragma once
// The treatment as the client holds it (tessera._core.Treatment).
#include <bit>
#include <cstdio>

#include "common.h"
#include "job/steps.h"
#include "workspace/treatmentapply.h"
#include "workspace/treatmentfile.h"

namespace tessera::python {

inline constexpr bool kBigEndian = std::endian::native == std::endian::big;

// The treatment as the client holds it between the passes: the bands' records, the code table,
// the counts, the classes and the colours, drawn in the program's one sequence.
class PyTreatment {
  public:
    // Bands given as arrays: like a job's, a table past a dense count is counted sparsely.
    PyTreatment() { treatment_.sparseCounts = true; }
    explicit PyTreatment(const job::JobOutcome& outcome)
        : treatment_(outcome.treatment), size_(outcome.size) {}

    void TakeStatistics(const std::vector<BandDescription>& bands,
                        const std::vector<std::string>& names, const std::vector<int>& rasterBands,
                        const py::array_t<int64_t, py::array::c_style | py::array::forcecast>& rows,
                        int lines, int columns) {
        const int n = static_cast<int>(bands.size());
        if (names.size() != bands.size() || rasterBands.size() != bands.size())
            RaiseValue("give a name and a raster band per band");
        Check(CheckBandCount(n, kMaximumJobBands));
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

    // A definition band's upper limits typed in its native (or physical) values: each the gray
    // level whose native range holds it, by the band's stretch; refused naming the band.
    void SetNativeLimits(int band, int method, int count, const std::vector<double>& native) {
        if (band < 1 || band > treatment_.BandCount())
            RaiseValue("there is no band " + std::to_string(band));
        job::BandOptions choice;
        choice.nativeLimits = native;
        BandRecord& record = treatment_.records[band];
        const Result<std::vector<int32_t>> limits = job::GrayLimitsOf(
            choice, record, "band " + std::to_string(band) + " (" + record.filePath + ")");
        if (!limits) RaiseRefusal(job::Refusal::Input, limits.message);
        record.nativeLimits = native;
        SetSegmentation(band, method, count, *limits.value);
    }

    // The masks as the report names them: each its name and rule (the rule's text).
    void SetMasks(const std::vector<std::pair<std::string, std::string>>& masks) {
        treatment_.masks.clear();
        treatment_.maskDescriptions.clear();
        for (const auto& [name, rule] : masks) {
            treatment_.masks.push_back(name + ", " + rule);
            treatment_.maskDescriptions.push_back(tessera::MaskDescription{name, rule});
        }
    }

    // A saved treatment to apply to bands of these names and types: read, checked, kept; the
    // stretch, scale and nodata value each band takes from it.
    std::vector<BandDescription> ReadSaved(const std::string& path,
                                           const std::vector<std::string>& names,
                                           const std::vector<std::string>& types) {
        Result<SavedTreatment> read = ReadTreatment(path, kMostClassCount);
        if (!read) RaiseRefusal(job::Refusal::Input, read.message);
        const int n = static_cast<int>(names.size());
        if (Status fits = CheckTreatmentBandCount(*read.value, path, n); !fits)
            RaiseRefusal(job::Refusal::Input, fits.message);
        std::vector<BandDescription> bands;
        for (int b = 1; b <= n; ++b) {
            const std::string& type = types[static_cast<size_t>(b) - 1];
            if (Status fits = CheckTreatmentBand(*read.value, path, b,
                                                 names[static_cast<size_t>(b) - 1], type);
                !fits)
                RaiseRefusal(job::Refusal::Input, fits.message);
            const SavedBand& kept = read.value->bands[static_cast<size_t>(b) - 1];
            Stretch stretch, scaling;
            if (kept.stretch) stretch = std::pair{kept.stretch->minimum, kept.stretch->maximum};
            if (kept.scaling) scaling = std::pair{kept.scaling->scale, kept.scaling->offset};
            bands.emplace_back(type, kept.nodata, stretch, scaling, std::nullopt);
        }
        saved_ = std::move(*read.value);
        savedPath_ = path;
        return bands;
    }
    // The saved methods and limits in place of a segmentation of the bands' own.
    void TakeSavedSegmentation() {
        Saved();
        tessera::TakeSavedSegmentation(treatment_, *saved_);
    }
    // After the count: the saved classes and colours in place of a selection.
    void TakeSavedClasses() {
        Saved();
        if (Status taken = tessera::TakeSavedClasses(treatment_, *saved_, savedPath_); !taken)
            RaiseRefusal(job::Refusal::Input, taken.message);
    }
    // The treatment saved as a document other scenes apply, written whole or not at all.
    void Save(const std::string& path) const {
        Crossed();
        if (Status saved = SaveTreatment(path, treatment_); !saved)
            RaiseRefusal(job::Refusal::NotWritten, saved.message);
    }

    std::vector<Segmenting> Segmentations() const {
        std::vector<Segmenting> all;
        for (int b = 1; b <= treatment_.BandCount(); ++b)
            all.push_back(SegmentationOf(treatment_.records[b]));
        return all;
    }

    void TakeCounts(const py::array_t<int64_t, py::array::c_style | py::array::forcecast>& counts) {
        const size_t codes = static_cast<size_t>(treatment_.table.CodeCount) + 1;
        if (treatment_.byGray.empty()) RaiseValue(" The bands are not segmented ");
        if (counts.ndim() != 1 || (static_cast<size_t>(counts.shape(0)) != codes + 1 &&
                                   static_cast<size_t>(counts.shape(0)) != codes + 2))
            RaiseValue("the counts of " + std::to_string(codes - 1) + " codes are " +
                       std::to_string(codes + 1) + " numbers");
        CodeTally tally;
        tally.pixelCount.assign(counts.data(), counts.data() + codes);
        tally.withoutData = counts.data()[codes];
        if (static_cast<size_t>(counts.shape(0)) > codes + 1) tally.masked = counts.data()[codes + 1];
        tessera::TakeCounts(treatment_, std::move(tally));
    }

    // The merged code counts of the blocks (Plan.code_counts), dense or sparse.
    void TakeCodeCounts(const py::tuple& counts) {
        if (treatment_.byGray.empty()) RaiseValue(" The bands are not segmented ");
        std::optional<CodeTally> tally = TallyOf(treatment_.table, counts);
        if (!tally) RaiseValue(" The counts are not those of this code table ");
        tessera::TakeCounts(treatment_, std::move(*tally));
    }
    // Refused, as the job refuses it before a pixel is read, when the bands cut into these
    // segment counts (the saved treatment's, when one is read) make a table past 2^64 codes,
    // or one whose sparse count this machine's memory may not hold over lines x columns.
    void CheckCodeTable(const std::vector<int32_t>& segmentCounts, int lines, int columns) const {
        std::vector<int32_t> counts{0};
        if (saved_)
            for (const SavedBand& band : saved_->bands) counts.push_back(band.count);
        else
            counts.insert(counts.end(), segmentCounts.begin(), segmentCounts.end());
        if (const std::optional<job::JobOutcome> refused =
                job::CodeTableRefusal(counts, ImageSize{lines, columns}))
            RaiseRefusal(refused->kind, refused->message);
    }

    // The codes the selection keeps (of a sparse table, numbered among those counted), refused
    // as the job refuses it.
    std::vector<int32_t> Select(bool keepAll, int64_t minimum, int maxClasses) const {
        if (treatment_.pixelCount.empty()) RaiseValue(" The bands are not segmented ");
        job::Options options;
        options.keepAll = keepAll;
        options.minPixels = minimum;
        options.maxClasses = maxClasses;
        if (const std::string refused =
                job::TooManyClassesOf(options, treatment_.table, treatment_.pixelCount);
            !refused.empty())
            RaiseValue(refused);
        std::vector<int32_t> selected =
            job::SelectedOf(options, treatment_.table, treatment_.pixelCount);
        selected.erase(selected.begin());
        return selected;
    }

    void FinishCrossing(const std::vector<int32_t>& selected, bool keepAll, int64_t minimum) {
        if (treatment_.pixelCount.empty()) RaiseValue(" The bands are not segmented ");
        std::vector<int32_t> codes{0};
        codes.insert(codes.end(), selected.begin(), selected.end());
        treatment_.selection = CodeSelection{keepAll, minimum};
        Check(tessera::FinishCrossing(treatment_, random_, std::move(codes)));
    }

    py::array_t<int64_t> PixelCount() const { return ArrayOf(treatment_.pixelCount); }
    // Of a sparse table, 64-bit codes.
    py::array SelectedCodes() const {
        if (treatment_.table.Sparse()) {
            std::vector<uint64_t> codes;
            for (size_t k = 1; k < treatment_.selectedCodes.size(); ++k)
                codes.push_back(treatment_.table.Offset(treatment_.selectedCodes[k]) + 1);
            return ArrayOf(codes);
        }
        std::vector<int32_t> codes = treatment_.selectedCodes;
        if (!codes.empty()) codes.erase(codes.begin());
        return ArrayOf(codes);
    }
    // The code each entry 1.. of pixel_counts counts: every code of a dense table, those that
    // occurred of a sparse one.
    py::array_t<uint64_t> CountedCodes() const {
        std::vector<uint64_t> codes;
        for (int c = 1; c <= treatment_.table.CodeCount; ++c)
            codes.push_back(treatment_.table.Offset(c) + 1);
        return ArrayOf(codes);
    }
    py::array_t<uint8_t> ClassOf() const { return ArrayOf(treatment_.classOf); }
    std::optional<int64_t> NodataPixels() const { return treatment_.nodataPixels; }
    int ClassCount() const { return treatment_.classCount; }
    int CodeCount() const { return treatment_.table.CodeCount; }
    std::pair<int, int> Size() const { return {size_.lines, size_.columns}; }
    // With more than 250 classes, the colours of classes 0..K.
    py::array_t<uint8_t> ClassColours() const {
        return treatment_.WideClasses() ? ColourArray(treatment_.wideColours)
                                        : ColourArray(treatment_.classColourTable);
    }
    py::array_t<uint8_t> SegmentColours() const {
        return ColourArray(treatment_.segmentColourTable);
    }
    std::vector<BandDescription> Bands() const {
        std::vector<BandDescription> bands;
        for (int b = 1; b <= treatment_.BandCount(); ++b) {
            const BandRecord& record = treatment_.records[b];
            const std::string type = record.stretch ? record.stretch->dataType : "Byte";
            Stretch stretch, scaling, percentiles;
            if (record.stretch) {
                const GrayStretch& told = *record.stretch;
                stretch = std::pair{told.range.minimum, told.range.maximum};
                if (told.scaling) scaling = std::pair{told.scaling->scale, told.scaling->offset};
                if (told.percentiles)
                    percentiles = std::pair{told.percentiles->low, told.percentiles->high};
            }
            bands.emplace_back(type, record.nodata, stretch, scaling, percentiles);
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
        return ResultReport(size_, treatment_.records, treatment_.table, treatment_.pixelCount,
                            treatment_.selectedCodes, treatment_.nodataPixels, treatment_.masks,
                            treatment_.maskedPixels, treatment_.applied);
    }
    std::string CodeList() const {
        if (treatment_.byGray.empty()) RaiseValue(" The bands are not segmented ");
        return MultiTabText(treatment_.table, &treatment_.pixelCount);
    }
    // The class table as CSV, the legend beside the GeoTIFF and the QGIS style, with the areas
    // gathered from the class raster (ClassAreas::Parts summed over its blocks).
    std::tuple<std::string, std::string, std::string> MapTexts(
        const py::array_t<uint64_t, py::array::c_style | py::array::forcecast>& parts) const {
        Crossed();
        const std::optional<Georeference> place = SharedGeoreference(treatment_.records);
        if (!place) RaiseValue("the bands lie on no map: give their transform and crs");
        const CellAreas cells(size_, *place);
        ClassAreas areas(cells);
        areas.AddParts(AreaWords(parts));
        const ClassTable table =
            MakeClassTable(size_, treatment_.records, treatment_.table, treatment_.pixelCount,
                           treatment_.selectedCodes, treatment_.PixelsWithoutData(), areas);
        // Beyond 250 classes, the colours of classes 0..K.
        const std::vector<ColourEntry> colours =
            treatment_.WideClasses() ? treatment_.wideColours
                                     : std::vector<ColourEntry>(treatment_.classColourTable.begin(),
                                                                treatment_.classColourTable.end());
        return {ClassTableCsv(table), ClassRasterLegend(table, colours),
                ClassRasterStyle(table, colours)};
    }
    // The class bitmap's headers and palette, its lines to follow from the bottom one up
    // (padded to whole words); none when the bitmap would be too large to be one.
    std::optional<py::bytes> BitmapHeader() const {
        Crossed();
        if (!BitmapFits(size_.columns, size_.lines)) return std::nullopt;
        const std::vector<uint8_t> header = BitmapFileHeader(
            size_.columns, size_.lines, PaletteKind, treatment_.classColourTable);
        return py::bytes(reinterpret_cast<const char*>(header.data()), header.size());
    }
    // The refusal of a bitmap of the result's classes, empty when it has at most 250.
    std::string BitmapRefusal() const {
        job::Options options;
        options.formats.bmp = true;
        return job::InWordsOf(job::Speaker::Python,
                              job::WideFormatsText(options, treatment_.classCount));
    }

    // The 16-bit class GeoTIFF at `path` as the job writes it (cloud-optimised, the colours of
    // classes 0..K, 65535 as nodata, the treatment in its metadata naming `program`), from the
    // classes of every pixel in the 16-bit raw file `raw` (little-endian, line after line).
    void WriteWideGeoTiff(const std::string& raw, const std::string& path,
                          const std::string& program) const {
        Crossed();
        if (!treatment_.WideClasses()) RaiseValue("the classes are bytes, not 16-bit");
        const std::optional<Georeference> place = SharedGeoreference(treatment_.records);
        if (!place) RaiseValue("the bands lie on no map: give their transform and crs");
        std::FILE* file = std::fopen(raw.c_str(), "rb");
        if (file == nullptr) RaiseRefusal(job::Refusal::NotWritten, raw + " cannot be read");
        const size_t columns = static_cast<size_t>(size_.columns);
        bool written = false;
        {
            py::gil_scoped_release release;
            ClassGeoTiff tiff;
            written = tiff.CreateWide(path, size_, treatment_.wideColours, *place,
                                      TreatmentMetadata(program, treatment_.records,
                                                        treatment_.selection, treatment_.classCount,
                                                        treatment_.maskDescriptions));
            constexpr int kLines = 256;
            std::vector<uint16_t> lines(columns * kLines);
            for (int first = 0; written && first < size_.lines; first += kLines) {
                const int count = std::min(kLines, size_.lines - first);
                const size_t cells = columns * static_cast<size_t>(count);
                written = std::fread(lines.data(), 2, cells, file) == cells;
                // The raw file is little-endian, as the job writes it.
                for (size_t i = 0; written && kBigEndian && i < cells; ++i)
                    lines[i] = static_cast<uint16_t>(lines[i] << 8 | lines[i] >> 8);
                written = written && tiff.WriteLines(first, count, lines.data(), columns * 2);
            }
            written = tiff.Close() && written;
        }
        std::fclose(file);
        if (!written) RaiseRefusal(job::Refusal::NotWritten, path + " cannot be written");
    }
    // Each class's label, as the legend and the style give it (classes 1..K); none for
    // classes that lie on no map.
    std::vector<std::string> ClassLabels() const {
        Crossed();
        const std::optional<Georeference> place = SharedGeoreference(treatment_.records);
        if (!place) return {};
        const CellAreas cells(size_, *place);
        const ClassAreas areas(cells);
        const ClassTable table =
            MakeClassTable(size_, treatment_.records, treatment_.table, treatment_.pixelCount,
                           treatment_.selectedCodes, treatment_.PixelsWithoutData(), areas);
        std::vector<std::string> labels;
        for (const ClassRow& row : table.rows) labels.push_back(ClassLabel(row));
        return labels;
    }
    RasterMetadata Metadata(const std::string& program) const {
        Crossed();
        return TreatmentMetadata(program, treatment_.records, treatment_.selection,
                                 treatment_.classCount, treatment_.maskDescriptions);
    }

  private:
    void Saved() const {
        if (!saved_) RaiseValue("no saved treatment was read");
    }
    void Crossed() const {
        if (treatment_.classOf.empty()) RaiseValue(" There is no result to save ");
    }
    Treatment treatment_;
    std::optional<SavedTreatment> saved_;
    std::string savedPath_;
    RandomBelow random_;
    ImageSize size_;
};

}  // namespace tessera::python
