#pragma once
// Small GeoTIFFs written and read back with GDAL's own C API, for the tests of the raster reader
// and of the results put back on the map.
#include <array>
#include <optional>
#include <string>
#include <vector>

namespace testing_support {

// SignedByte: GDAL's Byte type with PIXELTYPE=SIGNEDBYTE, each value stored as its byte.
enum class RasterType { Byte, Int16, UInt16, Float32, Float64, SignedByte, CInt16, Int32, UInt32 };

// Where a raster lies: GDAL's geotransform and an EPSG code for its coordinate system.
struct RasterPlace {
    std::array<double, 6> transform{};
    int epsg = 0;
};

// What a raster declares beside its pixels; none of it by default.
struct RasterExtras {
    std::optional<double> nodata;      // declared on every band
    std::vector<double> bandNodata;    // band b's own (entry b - 1), in place of `nodata`
    std::string driver = "GTiff";      // a GeoTIFF keeps one nodata value for all its bands
    std::optional<RasterPlace> place;  // geotransform and coordinate system
    std::vector<std::string> options;  // creation options ("TILED=YES", "COMPRESS=DEFLATE")
};

// A raster in UTM zone 33 N whose upper left corner is (500000, 4000000), of square pixels of
// `pixelSide` metres.
RasterExtras PlacedAt(double pixelSide);

// A GeoTIFF of `lines` x `columns` pixels, one band per entry of `bands` (each lines x columns
// values, top line first), of the given type. False when GDAL could not write it.
bool WriteGeoTiff(const std::string& path, int lines, int columns, RasterType type,
                  const std::vector<std::vector<double>>& bands, const RasterExtras& extras = {});

// Band 1 of a raster as GDAL reads it back.
struct RasterContents {
    int lines = 0;
    int columns = 0;
    std::string dataType;
    std::optional<std::array<double, 6>> transform;
    std::string coordinateSystem;  // WKT; empty when none
    std::optional<double> nodata;
    // Red, green, blue, alpha of each entry of the colour table; empty when there is none.
    std::vector<std::array<int, 4>> colours;
    std::vector<double> pixels;  // top line first
};
std::optional<RasterContents> ReadRaster(const std::string& path);

// Whether two coordinate systems given as WKT are the same for OSRIsSame.
bool SameCoordinateSystem(const std::string& first, const std::string& second);
// The WKT of an EPSG code; empty when OSR does not know it.
std::string CoordinateSystemOfEpsg(int epsg);

}  // namespace testing_support
