#pragma once
// The calls the program makes into GDAL, OGR and PROJ, as a table of functions that the GDAL
// module (libtessera_gdal.so, built from bands/gdal/) fills in. Only that module links GDAL:
// the core opens it on first use (gdalsupport.h says where it looks) and calls GDAL through
// this table, so that a job on raw files and bitmaps never loads GDAL, OGR, PROJ and the
// libraries they pull in.
//
// The table holds plain types only (no class, no exception crosses it). Handles are GDAL's own
// (GDALDatasetH, GDALRasterBandH, OGRSpatialReferenceH) or the module's (an ellipsoid), kept
// as void*. Functions that GDAL gives a CPLErr or an OGRErr for return 1 on success, 0 on
// failure; GDAL's error state (CPLGetLastErrorMsg) stays per thread as GDAL keeps it.
#include <cstdint>

namespace tessera {

// Raised whenever the table changes: a module of another build is refused, not called.
inline constexpr int kGdalApiVersion = 5;
// The module's one exported symbol: extern "C" const GdalApi* tessera_gdal_module(void).
inline constexpr const char* kGdalModuleEntry = "tessera_gdal_module";

// What one raster band declares of itself.
struct GdalBandFacts {
    int lines = 0;
    int columns = 0;
    const char* typeName = nullptr;  // GDALGetDataTypeName; null when GDAL names none
    int typeBytes = 0;               // bytes of one value
    int isByte = 0;                  // GDT_Byte
    int isFloating = 0;              // GDT_Float32 or GDT_Float64
    int isComplex = 0;
    int blockColumns = 0;
    int blockLines = 0;
    int hasNodata = 0;
    double nodata = 0;
    // GDALGetRasterScale and GDALGetRasterOffset: value = stored x scale + offset; hasScaling
    // when either is given and differs from 1 and 0.
    int hasScaling = 0;
    double scale = 1;
    double offset = 0;
};

// What a coordinate system says of itself (OSRIsProjected, ... of one spatial reference).
struct GdalSystemFacts {
    int projected = 0;
    int local = 0;
    int geographic = 0;
    // A projected or local system's linear unit (OSRGetLinearUnits); null when it names none.
    // It lives as long as the spatial reference.
    const char* linearUnit = nullptr;
    // A geographic system's ellipsoid and angular unit (radians per unit); ok = 0 where OSR
    // gives none.
    double semiMajor = 0;
    int semiMajorOk = 0;
    double inverseFlattening = 0;
    int inverseFlatteningOk = 0;
    double angularUnit = 0;
};

// How a read gives its values.
enum GdalBuffer : int { kGdalBytes = 0, kGdalDoubles = 1 };

struct GdalApi {
    int version;  // kGdalApiVersion
    int size;     // sizeof(GdalApi) as the module was built

    // Errors and settings.
    void (*registerDrivers)();                     // GDALAllRegister
    void (*destroy)();                             // GDALDestroy
    void (*quietErrors)();                         // CPLPushErrorHandler(CPLQuietErrorHandler)
    void (*loudErrors)();                          // CPLPopErrorHandler
    void (*resetError)();                          // CPLErrorReset
    const char* (*lastErrorMessage)();             // CPLGetLastErrorMsg
    int (*lastErrorFailed)();                      // CPLGetLastErrorType() == CE_Failure
    const char* (*configOption)(const char* name);  // CPLGetConfigOption(name, nullptr)
    int64_t (*cacheMax)();                         // GDALGetCacheMax64
    void (*setCacheMax)(int64_t bytes);            // GDALSetCacheMax64

    // Reading rasters.
    // GDALOpenEx as a read-only raster with verbose errors; null when GDAL cannot open it.
    void* (*openRaster)(const char* path);
    void (*closeDataset)(void* dataset);
    int (*rasterCount)(void* dataset);
    void* (*rasterBand)(void* dataset, int band);  // 1 = the first
    void (*bandFacts)(void* band, GdalBandFacts* facts);
    // GDALGetMetadataItem of a dataset or a band; null when it has none.
    const char* (*metadataItem)(void* object, const char* name, const char* domain);
    int (*geoTransform)(void* dataset, double* transform);  // six values
    const char* (*projection)(void* dataset);              // WKT, empty when none
    // Columns x0..x0 + width - 1 of lines y0..y0 + height - 1 of one band, as bytes or doubles.
    int (*readBand)(void* band, int x0, int y0, int width, int height, void* buffer,
                    GdalBuffer as);
    // The same window of bands bands[0..count - 1] of a dataset as doubles, band after band.
    int (*readBands)(void* dataset, int x0, int y0, int width, int height, double* values,
                     int count, const int* bands);
    // Block (bx, by) of a band in its own data type, the whole block (GDALReadBlock).
    int (*readBlock)(void* band, int bx, int by, void* buffer);

    // Writing rasters.
    int (*haveDriver)(const char* name);
    // A one-band raster of bytes made by `driver`; null when it cannot be made. `options`
    // end with a null.
    void* (*createBytes)(const char* driver, const char* path, int columns, int lines,
                         const char* const* options);
    int (*setGeoTransform)(void* dataset, const double* transform);
    int (*setProjection)(void* dataset, const char* wkt);
    int (*setNodata)(void* band, double value);
    // The band's colour table from 256 entries of red, green, blue, alpha, and its colours
    // read as palette indices.
    int (*setPalette)(void* band, const short* entries);
    int (*setMetadataItem)(void* object, const char* name, const char* value);
    // Bytes of lines y0..y0 + height - 1, `lineBytes` apart, into the band.
    int (*writeBand)(void* band, int x0, int y0, int width, int height, const uint8_t* bytes,
                     int64_t lineBytes);
    void (*flushCache)(void* dataset);
    int (*buildOverviews)(void* dataset, const char* resampling, int count, const int* factors);
    int (*overviewCount)(void* band);
    void* (*overview)(void* band, int index);  // 0 = the largest; null beyond the last
    // GDALCreateCopy by `driver`; null when it fails. `progress` (may be null) is told the
    // share done, 0 to 1, with `data`; a 0 answer stops the copy, which then fails.
    void* (*createCopy)(const char* driver, const char* path, void* source,
                        const char* const* options, int (*progress)(double done, void* data),
                        void* data);

    // Coordinate systems.
    // A spatial reference read from WKT (OSRNewSpatialReference) or, with `userInput`, from
    // whatever OSRSetFromUserInput takes; null when it cannot be read.
    void* (*readSystem)(const char* text, int userInput);
    void (*freeSystem)(void* system);
    void (*systemFacts)(void* system, GdalSystemFacts* facts);
    int (*sameSystem)(const char* firstWkt, const char* secondWkt);  // both read, OSRIsSame

    // Views of rasters, as VRT files GDAL writes at `output` (a /vsimem/ name): GDALTranslate
    // or GDALWarp of `source` with gdal_translate's or gdalwarp's arguments `arguments` (ending
    // with a null); 1 when written. unlinkFile removes such a file (VSIUnlink).
    int (*translateView)(const char* source, const char* const* arguments, const char* output);
    int (*warpView)(const char* source, const char* const* arguments, const char* output);
    void (*unlinkFile)(const char* path);

    // PROJ's geodesics.
    void* (*newEllipsoid)(double semiMajor, double flattening);  // geod_init
    void (*freeEllipsoid)(void* ellipsoid);
    // geod_polygonarea of the polygon of `count` vertices, signed.
    double (*polygonArea)(const void* ellipsoid, const double* lats, const double* lons,
                          int count);

    // Rasters of 16-bit values (class maps of more than 250 classes).
    // A one-band raster of UInt16 values made by `driver`; null when it cannot be made.
    void* (*createUInt16)(const char* driver, const char* path, int columns, int lines,
                          const char* const* options);
    // The band's colour table from `count` entries of red, green, blue, alpha.
    int (*setPaletteOf)(void* band, const short* entries, int count);
    // Values of lines y0..y0 + height - 1, `lineBytes` apart, into the band.
    int (*writeUInt16)(void* band, int x0, int y0, int width, int height, const uint16_t* values,
                       int64_t lineBytes);
};

}  // namespace tessera
