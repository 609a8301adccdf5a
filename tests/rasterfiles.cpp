#include "rasterfiles.h"

#include <cpl_conv.h>
#include <gdal.h>
#include <ogr_srs_api.h>

namespace testing_support {

std::string CoordinateSystemOfEpsg(int epsg) {
    OGRSpatialReferenceH system = OSRNewSpatialReference(nullptr);
    std::string text;
    char* wkt = nullptr;
    if (OSRImportFromEPSG(system, epsg) == OGRERR_NONE &&
        OSRExportToWkt(system, &wkt) == OGRERR_NONE)
        text = wkt;
    CPLFree(wkt);
    OSRDestroySpatialReference(system);
    return text;
}

bool SameCoordinateSystem(const std::string& first, const std::string& second) {
    if (first.empty() || second.empty()) return false;
    OGRSpatialReferenceH a = OSRNewSpatialReference(first.c_str());
    OGRSpatialReferenceH b = OSRNewSpatialReference(second.c_str());
    const bool same = a != nullptr && b != nullptr && OSRIsSame(a, b) != 0;
    if (a) OSRDestroySpatialReference(a);
    if (b) OSRDestroySpatialReference(b);
    return same;
}

bool WriteGeoTiff(const std::string& path, int lines, int columns, RasterType type,
                  const std::vector<std::vector<double>>& bands, const RasterExtras& extras) {
    GDALAllRegister();
    GDALDriverH driver = GDALGetDriverByName(extras.driver.c_str());
    if (driver == nullptr) return false;
    const GDALDataType gdalType = type == RasterType::Byte || type == RasterType::SignedByte
                                      ? GDT_Byte
                                  : type == RasterType::Int16   ? GDT_Int16
                                  : type == RasterType::Float32 ? GDT_Float32
                                  : type == RasterType::Float64 ? GDT_Float64
                                  : type == RasterType::CInt16  ? GDT_CInt16
                                  : type == RasterType::Int32   ? GDT_Int32
                                  : type == RasterType::UInt32  ? GDT_UInt32
                                                                : GDT_UInt16;
    std::vector<const char*> options;
    for (const std::string& option : extras.options) options.push_back(option.c_str());
    if (type == RasterType::SignedByte) options.push_back("PIXELTYPE=SIGNEDBYTE");
    options.push_back(nullptr);
    GDALDatasetH dataset =
        GDALCreate(driver, path.c_str(), columns, lines, static_cast<int>(bands.size()), gdalType,
                   const_cast<char**>(options.data()));
    if (dataset == nullptr) return false;
    bool written = true;
    if (extras.place) {
        std::array<double, 6> transform = extras.place->transform;
        const std::string system = CoordinateSystemOfEpsg(extras.place->epsg);
        written = !system.empty() && GDALSetGeoTransform(dataset, transform.data()) == CE_None &&
                  GDALSetProjection(dataset, system.c_str()) == CE_None;
    }
    for (size_t b = 0; b < bands.size(); ++b) {
        std::vector<double> values = bands[b];
        values.resize(static_cast<size_t>(lines) * columns);
        GDALRasterBandH band = GDALGetRasterBand(dataset, static_cast<int>(b) + 1);
        if (b < extras.bandNodata.size())
            written = written && GDALSetRasterNoDataValue(band, extras.bandNodata[b]) == CE_None;
        else if (extras.nodata)
            written = written && GDALSetRasterNoDataValue(band, *extras.nodata) == CE_None;
        if (type == RasterType::SignedByte) {
            std::vector<unsigned char> stored;
            for (double value : values)
                stored.push_back(static_cast<unsigned char>(static_cast<signed char>(value)));
            written = written && GDALRasterIO(band, GF_Write, 0, 0, columns, lines, stored.data(),
                                              columns, lines, GDT_Byte, 0, 0) == CE_None;
            continue;
        }
        written = written && GDALRasterIO(band, GF_Write, 0, 0, columns, lines, values.data(),
                                          columns, lines, GDT_Float64, 0, 0) == CE_None;
    }
    GDALClose(dataset);
    return written;
}

std::optional<RasterContents> ReadRaster(const std::string& path) {
    GDALAllRegister();
    GDALDatasetH dataset = GDALOpen(path.c_str(), GA_ReadOnly);
    if (dataset == nullptr) return std::nullopt;
    RasterContents contents;
    contents.lines = GDALGetRasterYSize(dataset);
    contents.columns = GDALGetRasterXSize(dataset);
    std::array<double, 6> transform{};
    if (GDALGetGeoTransform(dataset, transform.data()) == CE_None) contents.transform = transform;
    if (const char* wkt = GDALGetProjectionRef(dataset)) contents.coordinateSystem = wkt;
    GDALRasterBandH band = GDALGetRasterBand(dataset, 1);
    bool read = band != nullptr;
    if (read) {
        contents.dataType = GDALGetDataTypeName(GDALGetRasterDataType(band));
        int declared = 0;
        const double nodata = GDALGetRasterNoDataValue(band, &declared);
        if (declared) contents.nodata = nodata;
        if (GDALColorTableH table = GDALGetRasterColorTable(band)) {
            for (int i = 0; i < GDALGetColorEntryCount(table); ++i) {
                const GDALColorEntry* entry = GDALGetColorEntry(table, i);
                contents.colours.push_back({entry->c1, entry->c2, entry->c3, entry->c4});
            }
        }
        contents.pixels.resize(static_cast<size_t>(contents.lines) * contents.columns);
        read = GDALRasterIO(band, GF_Read, 0, 0, contents.columns, contents.lines,
                            contents.pixels.data(), contents.columns, contents.lines, GDT_Float64,
                            0, 0) == CE_None;
    }
    GDALClose(dataset);
    if (!read) return std::nullopt;
    return contents;
}

RasterExtras PlacedAt(double pixelSide) {
    RasterExtras extras;
    extras.place = RasterPlace{{500000, pixelSide, 0, 4000000, 0, -pixelSide}, 32633};
    return extras;
}

}  // namespace testing_support
