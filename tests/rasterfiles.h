#pragma once
// Small GeoTIFFs written with GDAL's own C API, for the tests of the raster reader.
#include <string>
#include <vector>

namespace testing_support {

enum class RasterType { Byte, Int16, UInt16 };

// A GeoTIFF of `lines` x `columns` pixels, one band per entry of `bands` (each lines x columns
// values, top line first), of the given type. False when GDAL could not write it.
bool WriteGeoTiff(const std::string& path, int lines, int columns, RasterType type,
                  const std::vector<std::vector<double>>& bands);

}  // namespace testing_support
