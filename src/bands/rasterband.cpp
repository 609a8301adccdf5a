#include "bands/rasterband.h"

#include <gdal.h>
#include <ogr_srs_api.h>

#include <algorithm>
#include <charconv>
#include <cmath>
#include <cstring>
#include <limits>
#include <mutex>
#include <vector>

namespace tessera {

namespace {

void RegisterDrivers() {
    static std::once_flag registered;
    std::call_once(registered, [] { GDALAllRegister(); });
}

std::string OpenFailure() {
    std::string why = CPLGetLastErrorMsg();
    while (!why.empty() && (why.back() == '.' || why.back() == '\n')) why.pop_back();
    if (why.empty()) return "GDAL cannot open it";
    return "GDAL cannot open it (" + why + ")";
}

GDALDatasetH OpenDataset(const std::string& path) {
    RegisterDrivers();
    CPLErrorReset();
    const QuietGdalErrors quiet;
    return GDALOpenEx(path.c_str(), GDAL_OF_RASTER | GDAL_OF_READONLY | GDAL_OF_VERBOSE_ERROR,
                      nullptr, nullptr, nullptr);
}

std::string BandsText(int count) {
    return std::to_string(count) + (count == 1 ? " band" : " bands");
}

}  // namespace

struct RasterSource::Handles {
    GDALDatasetH dataset = nullptr;
    GDALRasterBandH band = nullptr;
    mutable std::mutex reading;
};

QuietGdalErrors::QuietGdalErrors() {
    CPLPushErrorHandler(CPLQuietErrorHandler);
}

QuietGdalErrors::~QuietGdalErrors() {
    CPLPopErrorHandler();
}

uint8_t StretchToGray(double value, StretchRange range) {
    const double gray =
        std::floor((value - range.minimum) * 255.0 / (range.maximum - range.minimum) + 0.5);
    if (!(gray > 0)) return 0;  // NaN as well
    return gray >= 255 ? 255 : static_cast<uint8_t>(gray);
}

double NativeOfGray(double gray, StretchRange range) {
    return range.minimum + gray * (range.maximum - range.minimum) / 255.0;
}

std::string NumberText(double value) {
    char digits[32];
    const auto end = std::to_chars(digits, digits + sizeof digits, value).ptr;
    return std::string(digits, end);
}

std::string RasterRefusal(const std::string& path, int rasterBand, const std::string& why) {
    return "The raster\n" + path + "\nband " + std::to_string(rasterBand) +
           " cannot be loaded: " + why + ".";
}

Status CheckStretch(const std::string& path, int rasterBand, StretchRange range) {
    if (range.minimum < range.maximum) return Status::Ok();
    return Status::Failure(RasterRefusal(path, rasterBand,
                                         "the stretch " + NumberText(range.minimum) + "," +
                                             NumberText(range.maximum) +
                                             " needs a MIN lower than its MAX"));
}

Result<int> CountRasterBands(const std::string& path) {
    using R = Result<int>;
    GDALDatasetH dataset = OpenDataset(path);
    if (dataset == nullptr)
        return R::Failure("The raster\n" + path + "\ncannot be loaded: " + OpenFailure() + ".");
    const int count = GDALGetRasterCount(dataset);
    GDALClose(dataset);
    return R::Of(count);
}

Result<std::vector<int>> ParseBandList(const std::string& text, int bandCount) {
    using R = Result<std::vector<int>>;
    const R refused = R::Failure(" Give 2 to 10 band numbers from 1 to " +
                                 std::to_string(bandCount) + ", as 1,2,3 or 4-9 ");
    std::vector<int> bands;
    size_t at = 0;
    auto number = [&](int& value) {
        while (at < text.size() && text[at] == ' ') ++at;
        const size_t start = at;
        int64_t read = 0;
        while (at < text.size() && text[at] >= '0' && text[at] <= '9' && at - start < 9)
            read = read * 10 + (text[at++] - '0');
        while (at < text.size() && text[at] == ' ') ++at;
        value = static_cast<int>(read);
        return at > start && read >= 1 && read <= bandCount;
    };
    while (at < text.size()) {
        int first = 0, last = 0;
        if (!number(first)) return refused;
        last = first;
        if (at < text.size() && text[at] == '-') {
            ++at;
            if (!number(last) || last < first) return refused;
        }
        for (int band = first; band <= last; ++band) {
            bands.push_back(band);
            if (bands.size() > 10) return refused;
        }
        if (at < text.size() && text[at] != ',') return refused;
        if (at < text.size()) ++at;
    }
    if (bands.size() < 2) return refused;
    return R::Of(std::move(bands));
}

RasterSource::~RasterSource() {
    if (handles_ && handles_->dataset) GDALClose(handles_->dataset);
}

Result<std::shared_ptr<RasterSource>> RasterSource::Open(const std::string& path, int rasterBand) {
    using R = Result<std::shared_ptr<RasterSource>>;
    std::shared_ptr<RasterSource> source(new RasterSource());
    source->handles_ = std::make_unique<Handles>();
    source->path_ = path;
    source->rasterBand_ = rasterBand;
    GDALDatasetH dataset = OpenDataset(path);
    if (dataset == nullptr) return R::Failure(RasterRefusal(path, rasterBand, OpenFailure()));
    source->handles_->dataset = dataset;
    const int count = GDALGetRasterCount(dataset);
    if (rasterBand < 1 || rasterBand > count) {
        return R::Failure(RasterRefusal(path, rasterBand,
                                        "the file has " + BandsText(count) + ", there is no band " +
                                            std::to_string(rasterBand)));
    }
    GDALRasterBandH band = GDALGetRasterBand(dataset, rasterBand);
    source->handles_->band = band;
    source->size_ = ImageSize{GDALGetRasterBandYSize(band), GDALGetRasterBandXSize(band)};
    if (const Status usable = CheckImageSize(source->size_); !usable)
        return R::Failure(RasterRefusal(path, rasterBand, usable.message));
    const GDALDataType type = GDALGetRasterDataType(band);
    source->isByte_ = type == GDT_Byte;
    const char* name = GDALGetDataTypeName(type);
    source->dataType_ = name ? name : "Unknown";
    int declared = 0;
    const double nodata = GDALGetRasterNoDataValue(band, &declared);
    if (declared) source->nodata_ = nodata;
    Georeference place;
    if (GDALGetGeoTransform(dataset, place.transform.data()) == CE_None) {
        const char* system = GDALGetProjectionRef(dataset);
        place.coordinateSystem = system ? system : "";
        source->georeference_ = std::move(place);
    }
    return R::Of(std::move(source));
}

bool RasterSource::ReadNative(int first, int count, double* values) const {
    const std::lock_guard<std::mutex> lock(handles_->reading);
    const QuietGdalErrors quiet;
    return GDALRasterIO(handles_->band, GF_Read, 0, first, size_.columns, count, values,
                        size_.columns, count, GDT_Float64, 0, 0) == CE_None;
}

bool RasterSource::IsNodata(double value) const {
    if (!nodata_) return false;
    return std::isnan(*nodata_) ? std::isnan(value) : value == *nodata_;
}

namespace {

bool SameCoordinateSystem(const std::string& first, const std::string& second) {
    if (first == second) return true;
    if (first.empty() || second.empty()) return false;
    OGRSpatialReferenceH a = OSRNewSpatialReference(first.c_str());
    OGRSpatialReferenceH b = OSRNewSpatialReference(second.c_str());
    const bool same = a != nullptr && b != nullptr && OSRIsSame(a, b) != 0;
    if (a) OSRDestroySpatialReference(a);
    if (b) OSRDestroySpatialReference(b);
    return same;
}

}  // namespace

std::string GeoreferenceDifference(const Georeference& first, const Georeference& second) {
    const auto& s = first.transform;
    const auto& t = second.transform;
    // A millionth of the larger pixel side, in map units.
    const double pixel = std::max({std::fabs(s[1]), std::fabs(s[2]), std::fabs(s[4]),
                                   std::fabs(s[5])});
    const double tolerance = pixel * 1e-6;
    for (int i = 0; i < 6; ++i) {
        if (!(std::fabs(s[i] - t[i]) <= tolerance))
            return i == 0 || i == 3 ? "their origins differ" : "their pixel grids differ";
    }
    if (!SameCoordinateSystem(first.coordinateSystem, second.coordinateSystem))
        return "their coordinate systems differ";
    return {};
}

std::string AllNodataReason(double nodata) {
    return "every pixel holds its nodata value " + NumberText(nodata) +
           ", which leaves no data to segment";
}

Status RasterSource::ChooseStretch(const std::optional<StretchRange>& given) {
    if (given) {
        if (const Status usable = CheckStretch(path_, rasterBand_, *given); !usable) return usable;
    }
    if (isByte_) return Status::Ok();
    if (given) {
        stretch_ = given;
        return Status::Ok();
    }
    // The band's own range, read through once a strip at a time before its histogram is.
    const int stripLines = std::max(1, (1 << 16) / std::max(size_.columns, 1));
    std::vector<double> values(static_cast<size_t>(stripLines) * size_.columns);
    double low = std::numeric_limits<double>::infinity();
    double high = -low;
    bool data = false;
    for (int first = 0; first < size_.lines; first += stripLines) {
        const int count = std::min(stripLines, size_.lines - first);
        if (!ReadNative(first, count, values.data()))
            return Status::Failure(RasterRefusal(
                path_, rasterBand_, "GDAL cannot read its line " + std::to_string(first + 1)));
        for (size_t i = 0, n = static_cast<size_t>(count) * size_.columns; i < n; ++i) {
            if (std::isnan(values[i]) || IsNodata(values[i])) continue;
            data = true;
            low = std::min(low, values[i]);
            high = std::max(high, values[i]);
        }
    }
    if (!data && nodata_)
        return Status::Failure(RasterRefusal(path_, rasterBand_, AllNodataReason(*nodata_)));
    if (!(low < high)) {
        const std::string held = low == high ? "the value " + NumberText(low) : "no number";
        return Status::Failure(RasterRefusal(
            path_, rasterBand_,
            "every pixel holds " + held +
                ", which leaves no range to stretch to gray levels; give one with --stretch "
                "MIN,MAX"));
    }
    stretch_ = StretchRange{low, high};
    return Status::Ok();
}

void RasterSource::ReadLines(int first, int count, uint8_t* lines, uint8_t* nodata) const {
    if (count <= 0) return;
    const size_t cells = static_cast<size_t>(count) * size_.columns;
    if (isByte_ || !stretch_) {
        {
            const std::lock_guard<std::mutex> lock(handles_->reading);
            const QuietGdalErrors quiet;
            if (GDALRasterIO(handles_->band, GF_Read, 0, first, size_.columns, count, lines,
                             size_.columns, count, GDT_Byte, 0, 0) != CE_None)
                std::memset(lines, 0, cells);
        }
        if (nodata) MarkGrayNodata(lines, cells, nodata_, nodata);
        return;
    }
    std::vector<double> values(cells);
    if (!ReadNative(first, count, values.data())) {
        std::memset(lines, 0, cells);
        if (nodata) std::memset(nodata, 0, cells);
        return;
    }
    const StretchRange range = *stretch_;
    for (size_t i = 0; i < cells; ++i) lines[i] = StretchToGray(values[i], range);
    if (nodata)
        for (size_t i = 0; i < cells; ++i) nodata[i] = IsNodata(values[i]) ? 1 : 0;
}

void MarkGrayNodata(const uint8_t* gray, size_t count, const std::optional<double>& value,
                    uint8_t* nodata) {
    // A value that is no gray level marks no pixel.
    if (!value || !(*value >= 0 && *value <= 255) || *value != std::floor(*value)) {
        std::memset(nodata, 0, count);
        return;
    }
    const uint8_t level = static_cast<uint8_t>(*value);
    for (size_t i = 0; i < count; ++i) nodata[i] = gray[i] == level ? 1 : 0;
}

}  // namespace tessera
