#include "crossing/mapresult.h"

#include <gdal.h>

#include <charconv>
#include <cmath>
#include <cstdio>
#include <array>
#include <mutex>

#include "bands/gdalsupport.h"
#include "bands/stretch.h"
#include "crossing/crossing.h"
#include "support/numbers.h"

namespace tessera {

namespace {

void AppendFixed(std::string& out, double value, int decimals) {
    char digits[64];
    std::snprintf(digits, sizeof digits, "%.*f", decimals, value);
    out += digits;
}

}  // namespace

std::optional<Georeference> SharedGeoreference(const std::vector<BandRecord>& records) {
    if (records.size() < 2) return std::nullopt;
    for (size_t b = 1; b < records.size(); ++b)
        if (!records[b].georeference) return std::nullopt;
    return records[1].georeference;
}

struct ClassGeoTiff::Handles {
    GDALDatasetH dataset = nullptr;
    GDALRasterBandH band = nullptr;
    int columns = 0;
    bool failed = false;
    std::mutex writing;
};

ClassGeoTiff::ClassGeoTiff() : handles_(std::make_unique<Handles>()) {}

ClassGeoTiff::~ClassGeoTiff() {
    Close();
}

bool ClassGeoTiff::Create(const std::string& path, ImageSize size, const ColourTable& colours,
                          const Georeference& place) {
    RegisterGdalDrivers();
    const QuietGdalErrors quiet;
    GDALDriverH driver = GDALGetDriverByName("GTiff");
    if (driver == nullptr) return false;
    // Strips of whole lines, as the class raster is written; BigTIFF only where needed.
    const char* options[] = {"INTERLEAVE=BAND", "BIGTIFF=IF_SAFER", nullptr};
    GDALDatasetH dataset = GDALCreate(driver, path.c_str(), size.columns, size.lines, 1, GDT_Byte,
                                      const_cast<char**>(options));
    if (dataset == nullptr) return false;
    handles_->dataset = dataset;
    handles_->columns = size.columns;
    handles_->band = GDALGetRasterBand(dataset, 1);
    std::array<double, 6> transform = place.transform;
    bool made = GDALSetGeoTransform(dataset, transform.data()) == CE_None;
    if (!place.coordinateSystem.empty())
        made = made && GDALSetProjection(dataset, place.coordinateSystem.c_str()) == CE_None;
    made = made && GDALSetRasterNoDataValue(handles_->band, NoClass) == CE_None;
    GDALColorTableH table = GDALCreateColorTable(GPI_RGB);
    for (int i = 0; i < 256; ++i) {
        const GDALColorEntry entry{colours[i].red, colours[i].green, colours[i].blue, 255};
        GDALSetColorEntry(table, i, &entry);
    }
    made = made && GDALSetRasterColorTable(handles_->band, table) == CE_None;
    GDALDestroyColorTable(table);
    made = made &&
           GDALSetRasterColorInterpretation(handles_->band, GCI_PaletteIndex) == CE_None;
    if (!made) handles_->failed = true;
    return made;
}

bool ClassGeoTiff::WriteLines(int first, int count, const uint8_t* lines, size_t stride) {
    const std::lock_guard<std::mutex> lock(handles_->writing);
    if (handles_->failed || handles_->band == nullptr) return false;
    const QuietGdalErrors quiet;
    if (GDALRasterIO(handles_->band, GF_Write, 0, first, handles_->columns, count,
                     const_cast<uint8_t*>(lines), handles_->columns, count, GDT_Byte, 0,
                     static_cast<GSpacing>(stride)) != CE_None)
        handles_->failed = true;
    return !handles_->failed;
}

bool ClassGeoTiff::Close() {
    if (handles_->dataset == nullptr) return !handles_->failed;
    const QuietGdalErrors quiet;
    CPLErrorReset();
    GDALFlushCache(handles_->dataset);
    if (CPLGetLastErrorType() == CE_Failure) handles_->failed = true;
    GDALClose(handles_->dataset);
    if (CPLGetLastErrorType() == CE_Failure) handles_->failed = true;
    handles_->dataset = nullptr;
    handles_->band = nullptr;
    return !handles_->failed;
}

bool WriteClassGeoTiff(const std::string& path, ImageSize size, const uint8_t* classes,
                       const ColourTable& colours, const Georeference& place) {
    ClassGeoTiff file;
    if (!file.Create(path, size, colours, place)) {
        file.Close();
        return false;
    }
    const bool written = file.WriteLines(0, size.lines, classes, static_cast<size_t>(size.columns));
    return file.Close() && written;
}

std::string ClassTableCsv(ImageSize size, const std::vector<BandRecord>& records,
                          const CodeTable& table, const std::vector<int64_t>& pixelCount,
                          const std::vector<int32_t>& selectedCodes,
                          std::optional<int64_t> nodataPixels, const ClassAreas& areas) {
    const int n = records.empty() ? 0 : static_cast<int>(records.size()) - 1;
    std::string text = "class,code";
    for (int b = 1; b <= n; ++b) {
        for (const char* field : {"_segment", "_gray_min", "_gray_max", "_native_min",
                                  "_native_max"}) {
            text.append(",b").append(std::to_string(b)).append(field);
        }
    }
    text.append(",pixels,area_").append(areas.Cells().Unit());
    text.append(",percent_of_data_pixels\n");

    const int64_t dataPixels =
        int64_t{size.lines} * size.columns - (nodataPixels ? *nodataPixels : 0);
    for (size_t k = 1; k < selectedCodes.size(); ++k) {
        const int code = selectedCodes[k];
        AppendNumber(text, static_cast<int64_t>(k));
        text += ',';
        AppendNumber(text, code);
        for (int b = 1; b <= n; ++b) {
            const BandRecord& record = records[b];
            const int segment =
                code >= 1 && code <= table.CodeCount ? table.Digits(code, b) : 0;
            const SegmentLimits& limits = record.segmentLimits;
            const bool known = segment >= 1 && segment <= limits.Count();
            const int64_t lower = known ? limits.lower[segment] : 0;
            const int64_t upper = known ? limits.upper[segment] : 0;
            text += ',';
            AppendNumber(text, segment);
            text += ',';
            AppendNumber(text, lower);
            text += ',';
            AppendNumber(text, upper);
            if (record.stretch) {
                // The values the segment holds, both ends included, as the report gives them:
                // an end open beyond the stretch is -inf or inf, a segment that holds no value
                // has both cells empty.
                const std::string& dataType = record.stretch->dataType;
                const NativeRange range =
                    NativeRangeOfGrays(lower, upper, record.stretch->range, dataType);
                text += ',';
                if (known && !range.empty)
                    text += range.low ? NativeText(*range.low, dataType) : "-inf";
                text += ',';
                if (known && !range.empty)
                    text += range.high ? NativeText(*range.high, dataType) : "inf";
            } else {
                text += ',';
                AppendSixDigits(text, static_cast<double>(lower));
                text += ',';
                AppendSixDigits(text, static_cast<double>(upper));
            }
        }
        const int64_t pixels =
            code >= 0 && static_cast<size_t>(code) < pixelCount.size() ? pixelCount[code] : 0;
        text += ',';
        AppendNumber(text, pixels);
        text += ',';
        text += areas.Text(static_cast<int>(k));
        text += ',';
        AppendFixed(text, dataPixels > 0 ? 100.0 * static_cast<double>(pixels) /
                                               static_cast<double>(dataPixels)
                                         : 0.0,
                    4);
        text += '\n';
    }
    return text;
}

}  // namespace tessera
