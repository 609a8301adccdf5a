// The GDAL module: every call the program makes into GDAL, OGR and PROJ, behind the table of
// bands/gdalapi.h. The rules (what is read, refused, written, in which words) stay in the core;
// this file only passes each call on, so that it holds nothing to keep in step with the core
// but the table.
#include <cpl_conv.h>
#include <cpl_error.h>
#include <cpl_vsi.h>
#include <gdal.h>
#include <gdal_utils.h>
#include <geodesic.h>
#include <ogr_srs_api.h>

#include <array>
#include <vector>

#include "bands/gdalapi.h"

namespace {

using tessera::GdalApi;
using tessera::GdalBandFacts;
using tessera::GdalBuffer;
using tessera::GdalSystemFacts;

int Succeeded(CPLErr error) {
    return error == CE_None ? 1 : 0;
}

char** Options(const char* const* options) {
    // GDAL takes its option lists as char** but does not write to them.
    return const_cast<char**>(options);
}

void RegisterDrivers() {
    GDALAllRegister();
}

void QuietErrors() {
    CPLPushErrorHandler(CPLQuietErrorHandler);
}

void LoudErrors() {
    CPLPopErrorHandler();
}

void ResetError() {
    CPLErrorReset();
}

const char* LastErrorMessage() {
    return CPLGetLastErrorMsg();
}

int LastErrorFailed() {
    return CPLGetLastErrorType() == CE_Failure ? 1 : 0;
}

const char* ConfigOption(const char* name) {
    return CPLGetConfigOption(name, nullptr);
}

int64_t CacheMax() {
    return GDALGetCacheMax64();
}

void SetCacheMax(int64_t bytes) {
    GDALSetCacheMax64(bytes);
}

void* OpenRaster(const char* path) {
    return GDALOpenEx(path, GDAL_OF_RASTER | GDAL_OF_READONLY | GDAL_OF_VERBOSE_ERROR, nullptr,
                      nullptr, nullptr);
}

void CloseDataset(void* dataset) {
    GDALClose(static_cast<GDALDatasetH>(dataset));
}

int RasterCount(void* dataset) {
    return GDALGetRasterCount(static_cast<GDALDatasetH>(dataset));
}

void* RasterBand(void* dataset, int band) {
    return GDALGetRasterBand(static_cast<GDALDatasetH>(dataset), band);
}

void BandFacts(void* handle, GdalBandFacts* facts) {
    GDALRasterBandH band = static_cast<GDALRasterBandH>(handle);
    facts->lines = GDALGetRasterBandYSize(band);
    facts->columns = GDALGetRasterBandXSize(band);
    const GDALDataType type = GDALGetRasterDataType(band);
    facts->typeName = GDALGetDataTypeName(type);
    facts->typeBytes = GDALGetDataTypeSizeBytes(type);
    facts->isByte = type == GDT_Byte;
    facts->isFloating = type == GDT_Float32 || type == GDT_Float64;
    facts->isComplex = GDALDataTypeIsComplex(type);
    GDALGetBlockSize(band, &facts->blockColumns, &facts->blockLines);
    facts->hasNodata = 0;
    facts->nodata = GDALGetRasterNoDataValue(band, &facts->hasNodata);
    int hasScale = 0, hasOffset = 0;
    facts->scale = GDALGetRasterScale(band, &hasScale);
    facts->offset = GDALGetRasterOffset(band, &hasOffset);
    if (!hasScale) facts->scale = 1;
    if (!hasOffset) facts->offset = 0;
    facts->hasScaling = facts->scale != 1 || facts->offset != 0;
}

int TranslateView(const char* source, const char* const* arguments, const char* output) {
    GDALDatasetH input = GDALOpenEx(source, GDAL_OF_RASTER | GDAL_OF_VERBOSE_ERROR, nullptr,
                                    nullptr, nullptr);
    if (input == nullptr) return 0;
    GDALTranslateOptions* options =
        GDALTranslateOptionsNew(const_cast<char**>(arguments), nullptr);
    int failed = 0;
    GDALDatasetH view = options ? GDALTranslate(output, input, options, &failed) : nullptr;
    if (options) GDALTranslateOptionsFree(options);
    if (view) GDALClose(view);
    GDALClose(input);
    return view != nullptr && !failed;
}

int WarpView(const char* source, const char* const* arguments, const char* output) {
    GDALDatasetH input = GDALOpenEx(source, GDAL_OF_RASTER | GDAL_OF_VERBOSE_ERROR, nullptr,
                                    nullptr, nullptr);
    if (input == nullptr) return 0;
    GDALWarpAppOptions* options = GDALWarpAppOptionsNew(const_cast<char**>(arguments), nullptr);
    int failed = 0;
    GDALDatasetH view =
        options ? GDALWarp(output, nullptr, 1, &input, options, &failed) : nullptr;
    if (options) GDALWarpAppOptionsFree(options);
    if (view) GDALClose(view);
    GDALClose(input);
    return view != nullptr && !failed;
}

void UnlinkFile(const char* path) {
    VSIUnlink(path);
}

const char* MetadataItem(void* object, const char* name, const char* domain) {
    return GDALGetMetadataItem(static_cast<GDALMajorObjectH>(object), name, domain);
}

int GeoTransform(void* dataset, double* transform) {
    return Succeeded(GDALGetGeoTransform(static_cast<GDALDatasetH>(dataset), transform));
}

const char* Projection(void* dataset) {
    return GDALGetProjectionRef(static_cast<GDALDatasetH>(dataset));
}

int ReadBand(void* band, int x0, int y0, int width, int height, void* buffer, GdalBuffer as) {
    return Succeeded(GDALRasterIO(static_cast<GDALRasterBandH>(band), GF_Read, x0, y0, width,
                                  height, buffer, width, height,
                                  as == tessera::kGdalBytes ? GDT_Byte : GDT_Float64, 0, 0));
}

int ReadBands(void* dataset, int x0, int y0, int width, int height, double* values, int count,
              const int* bands) {
    std::vector<int> chosen(bands, bands + count);
    return Succeeded(GDALDatasetRasterIO(static_cast<GDALDatasetH>(dataset), GF_Read, x0, y0,
                                         width, height, values, width, height, GDT_Float64, count,
                                         chosen.data(), 0, 0, 0));
}

int ReadBlock(void* band, int bx, int by, void* buffer) {
    return Succeeded(GDALReadBlock(static_cast<GDALRasterBandH>(band), bx, by, buffer));
}

int HaveDriver(const char* name) {
    return GDALGetDriverByName(name) != nullptr ? 1 : 0;
}

void* CreateBytes(const char* driver, const char* path, int columns, int lines,
                  const char* const* options) {
    GDALDriverH maker = GDALGetDriverByName(driver);
    if (maker == nullptr) return nullptr;
    return GDALCreate(maker, path, columns, lines, 1, GDT_Byte, Options(options));
}

int SetGeoTransform(void* dataset, const double* transform) {
    std::array<double, 6> copy{};
    for (size_t i = 0; i < copy.size(); ++i) copy[i] = transform[i];
    return Succeeded(GDALSetGeoTransform(static_cast<GDALDatasetH>(dataset), copy.data()));
}

int SetProjection(void* dataset, const char* wkt) {
    return Succeeded(GDALSetProjection(static_cast<GDALDatasetH>(dataset), wkt));
}

int SetNodata(void* band, double value) {
    return Succeeded(GDALSetRasterNoDataValue(static_cast<GDALRasterBandH>(band), value));
}

void* CreateUInt16(const char* driver, const char* path, int columns, int lines,
                   const char* const* options) {
    GDALDriverH maker = GDALGetDriverByName(driver);
    if (maker == nullptr) return nullptr;
    return GDALCreate(maker, path, columns, lines, 1, GDT_UInt16, Options(options));
}

int SetPaletteOf(void* handle, const short* entries, int count) {
    GDALRasterBandH band = static_cast<GDALRasterBandH>(handle);
    GDALColorTableH table = GDALCreateColorTable(GPI_RGB);
    for (int i = 0; i < count; ++i) {
        const short* at = entries + 4 * i;
        const GDALColorEntry entry{at[0], at[1], at[2], at[3]};
        GDALSetColorEntry(table, i, &entry);
    }
    const bool set = GDALSetRasterColorTable(band, table) == CE_None;
    GDALDestroyColorTable(table);
    return set && GDALSetRasterColorInterpretation(band, GCI_PaletteIndex) == CE_None ? 1 : 0;
}

int SetPalette(void* handle, const short* entries) {
    return SetPaletteOf(handle, entries, 256);
}

int WriteUInt16(void* band, int x0, int y0, int width, int height, const uint16_t* values,
                int64_t lineBytes) {
    return Succeeded(GDALRasterIO(static_cast<GDALRasterBandH>(band), GF_Write, x0, y0, width,
                                  height, const_cast<uint16_t*>(values), width, height,
                                  GDT_UInt16, 0, static_cast<GSpacing>(lineBytes)));
}

int SetMetadataItem(void* object, const char* name, const char* value) {
    return Succeeded(
        GDALSetMetadataItem(static_cast<GDALMajorObjectH>(object), name, value, nullptr));
}

int WriteBand(void* band, int x0, int y0, int width, int height, const uint8_t* bytes,
              int64_t lineBytes) {
    // GDAL takes the buffer of a write as void* but only reads it.
    return Succeeded(GDALRasterIO(static_cast<GDALRasterBandH>(band), GF_Write, x0, y0, width,
                                  height, const_cast<uint8_t*>(bytes), width, height, GDT_Byte, 0,
                                  static_cast<GSpacing>(lineBytes)));
}

void FlushCache(void* dataset) {
    GDALFlushCache(static_cast<GDALDatasetH>(dataset));
}

int BuildOverviews(void* dataset, const char* resampling, int count, const int* factors) {
    std::vector<int> levels(factors, factors + count);
    return Succeeded(GDALBuildOverviews(static_cast<GDALDatasetH>(dataset), resampling, count,
                                        levels.data(), 0, nullptr, nullptr, nullptr));
}

int OverviewCount(void* band) {
    return GDALGetOverviewCount(static_cast<GDALRasterBandH>(band));
}

void* Overview(void* band, int index) {
    if (index < 0 || index >= OverviewCount(band)) return nullptr;
    return GDALGetOverview(static_cast<GDALRasterBandH>(band), index);
}

struct CopyProgress {
    int (*progress)(double, void*);
    void* data;
};

int CPL_STDCALL TellCopyProgress(double done, const char*, void* relay) {
    const CopyProgress& told = *static_cast<const CopyProgress*>(relay);
    return told.progress(done, told.data) != 0 ? TRUE : FALSE;
}

void* CreateCopy(const char* driver, const char* path, void* source, const char* const* options,
                 int (*progress)(double, void*), void* data) {
    CopyProgress relay{progress, data};
    return GDALCreateCopy(GDALGetDriverByName(driver), path, static_cast<GDALDatasetH>(source),
                          FALSE, Options(options), progress ? TellCopyProgress : nullptr,
                          progress ? &relay : nullptr);
}

void* ReadSystem(const char* text, int userInput) {
    if (!userInput) return OSRNewSpatialReference(text);
    OGRSpatialReferenceH system = OSRNewSpatialReference(nullptr);
    if (OSRSetFromUserInput(system, text) == OGRERR_NONE) return system;
    OSRDestroySpatialReference(system);
    return nullptr;
}

void FreeSystem(void* system) {
    OSRDestroySpatialReference(static_cast<OGRSpatialReferenceH>(system));
}

void SystemFacts(void* handle, GdalSystemFacts* facts) {
    OGRSpatialReferenceH system = static_cast<OGRSpatialReferenceH>(handle);
    *facts = GdalSystemFacts{};
    facts->projected = OSRIsProjected(system);
    facts->local = OSRIsLocal(system);
    facts->geographic = OSRIsGeographic(system);
    if (facts->projected || facts->local) {
        char* name = nullptr;
        OSRGetLinearUnits(system, &name);
        facts->linearUnit = name;
    }
    if (facts->geographic) {
        OGRErr major = OGRERR_NONE, inverse = OGRERR_NONE;
        facts->semiMajor = OSRGetSemiMajor(system, &major);
        facts->inverseFlattening = OSRGetInvFlattening(system, &inverse);
        facts->semiMajorOk = major == OGRERR_NONE;
        facts->inverseFlatteningOk = inverse == OGRERR_NONE;
        facts->angularUnit = OSRGetAngularUnits(system, nullptr);
    }
}

int SameSystem(const char* firstWkt, const char* secondWkt) {
    OGRSpatialReferenceH a = OSRNewSpatialReference(firstWkt);
    OGRSpatialReferenceH b = OSRNewSpatialReference(secondWkt);
    const bool same = a != nullptr && b != nullptr && OSRIsSame(a, b) != 0;
    if (a) OSRDestroySpatialReference(a);
    if (b) OSRDestroySpatialReference(b);
    return same ? 1 : 0;
}

void* NewEllipsoid(double semiMajor, double flattening) {
    auto* ellipsoid = new geod_geodesic;
    geod_init(ellipsoid, semiMajor, flattening);
    return ellipsoid;
}

void FreeEllipsoid(void* ellipsoid) {
    delete static_cast<geod_geodesic*>(ellipsoid);
}

double PolygonArea(const void* ellipsoid, const double* lats, const double* lons, int count) {
    std::vector<double> latitudes(lats, lats + count), longitudes(lons, lons + count);
    double area = 0;
    geod_polygonarea(static_cast<const geod_geodesic*>(ellipsoid), latitudes.data(),
                     longitudes.data(), count, &area, nullptr);
    return area;
}

const GdalApi kApi{
    tessera::kGdalApiVersion,
    static_cast<int>(sizeof(GdalApi)),
    RegisterDrivers,
    GDALDestroy,
    QuietErrors,
    LoudErrors,
    ResetError,
    LastErrorMessage,
    LastErrorFailed,
    ConfigOption,
    CacheMax,
    SetCacheMax,
    OpenRaster,
    CloseDataset,
    RasterCount,
    RasterBand,
    BandFacts,
    MetadataItem,
    GeoTransform,
    Projection,
    ReadBand,
    ReadBands,
    ReadBlock,
    HaveDriver,
    CreateBytes,
    SetGeoTransform,
    SetProjection,
    SetNodata,
    SetPalette,
    SetMetadataItem,
    WriteBand,
    FlushCache,
    BuildOverviews,
    OverviewCount,
    Overview,
    CreateCopy,
    ReadSystem,
    FreeSystem,
    SystemFacts,
    SameSystem,
    TranslateView,
    WarpView,
    UnlinkFile,
    NewEllipsoid,
    FreeEllipsoid,
    PolygonArea,
    CreateUInt16,
    SetPaletteOf,
    WriteUInt16,
};

}  // namespace

extern "C" __attribute__((visibility("default"))) const GdalApi* tessera_gdal_module() {
    return &kApi;
}
