#pragma once
// The treatment as the client holds it (tessera._core.Treatment).
#include "common.h"

namespace tessera::python {

// The treatment as the client holds it between the passes: the bands' records, the code table,
// the counts, the classes and the colours, drawn in the program's one sequence.
class PyTreatment {
  public:
    PyTreatment() = default;
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
    // Of a sparse table, 64-bit codes.
    py::array SelectedCodes() const {
        if (treatment_.table.Sparse()) {
            std::vector<uint64_t> codes;
            for (size_t k = 1; k < treatment_.SelectedCodes.size(); ++k)
                codes.push_back(treatment_.table.Offset(treatment_.SelectedCodes[k]) + 1);
            return ArrayOf(codes);
        }
        std::vector<int32_t> codes = treatment_.SelectedCodes;
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
    int ClassCount() const { return treatment_.ClassCount; }
    int CodeCount() const { return treatment_.table.CodeCount; }
    std::pair<int, int> Size() const { return {size_.lines, size_.columns}; }
    // With more than 250 classes, the colours of classes 0..K.
    py::array_t<uint8_t> ClassColours() const {
        return treatment_.WideClasses() ? ColourArray(treatment_.wideColours)
                                        : ColourArray(treatment_.ClassColorTable);
    }
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
        return MultiTabText(treatment_.table, &treatment_.PixelCount);
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
    // Each class's label, as the legend and the style give it (classes 1..K); none for
    // classes that lie on no map.
    std::vector<std::string> ClassLabels() const {
        Crossed();
        const std::optional<Georeference> place = SharedGeoreference(treatment_.records);
        if (!place) return {};
        const CellAreas cells(size_, *place);
        const ClassAreas areas(cells);
        const ClassTable table =
            MakeClassTable(size_, treatment_.records, treatment_.table, treatment_.PixelCount,
                           treatment_.SelectedCodes, treatment_.PixelsWithoutData(), areas);
        std::vector<std::string> labels;
        for (const ClassRow& row : table.rows) labels.push_back(ClassLabel(row));
        return labels;
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

}  // namespace tessera::python
