#include "rasterfiles.h"

#include <gdal.h>

namespace testing_support {

bool WriteGeoTiff(const std::string& path, int lines, int columns, RasterType type,
                  const std::vector<std::vector<double>>& bands) {
    GDALAllRegister();
    GDALDriverH driver = GDALGetDriverByName("GTiff");
    if (driver == nullptr) return false;
    const GDALDataType gdalType = type == RasterType::Byte    ? GDT_Byte
                                  : type == RasterType::Int16 ? GDT_Int16
                                                              : GDT_UInt16;
    GDALDatasetH dataset = GDALCreate(driver, path.c_str(), columns, lines,
                                      static_cast<int>(bands.size()), gdalType, nullptr);
    if (dataset == nullptr) return false;
    bool written = true;
    for (size_t b = 0; b < bands.size(); ++b) {
        std::vector<double> values = bands[b];
        values.resize(static_cast<size_t>(lines) * columns);
        GDALRasterBandH band = GDALGetRasterBand(dataset, static_cast<int>(b) + 1);
        written = written && GDALRasterIO(band, GF_Write, 0, 0, columns, lines, values.data(),
                                          columns, lines, GDT_Float64, 0, 0) == CE_None;
    }
    GDALClose(dataset);
    return written;
}

}  // namespace testing_support
