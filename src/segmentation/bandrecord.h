#pragma once
#include <array>
#include <cstdint>
#include <optional>
#include <string>

#include "bands/bandfacts.h"
#include "segmentation/thresholding.h"

namespace tessera {

// What the program knows of one band's file and segmentation.
struct BandRecord {
    std::string filePath;
    int rasterBand = 0;  // the band of a raster GDAL reads (1 = the first); 0 for other files
    int32_t thresholdingType = Segmentation;
    int32_t segmentCount = 0;
    SegmentLimits segmentLimits;
    std::optional<GrayStretch> stretch;  // 8-bit bands: none
    // The value that marks pixels without data (native for a stretched band, else a gray
    // level), and how many pixels hold it; none: every pixel holds data.
    std::optional<double> nodata;
    int64_t nodataPixels = 0;
    // Pixels of a floating-point band holding NaN or an infinite value (without data too).
    int64_t nonFinitePixels = 0;
    std::optional<Georeference> georeference;  // rasters that carry one
    // A definition band's upper limits as typed in native values, each then the gray level
    // whose native range holds it; empty when typed as gray levels.
    std::vector<double> nativeLimits;
};

}  // namespace tessera
