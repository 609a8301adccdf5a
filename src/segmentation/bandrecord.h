#pragma once
#include <array>
#include <cstdint>
#include <optional>
#include <string>

#include "segmentation/thresholding.h"

namespace tessera {

// The native values a band of more than 8 bits (or of floating-point values) is brought to
// gray levels 0..255 between: gray = (value - minimum) x 255 / (maximum - minimum), rounded.
struct StretchRange {
    double minimum = 0;
    double maximum = 0;
};

// How such a band was read, for the report: its data type (GDAL's name) and its stretch.
struct GrayStretch {
    std::string dataType;
    StretchRange range;
};

// Where a band lies on the map: GDAL's affine transform from pixel to map coordinates
// (x = t0 + column t1 + line t2, y = t3 + column t4 + line t5) and the coordinate system as
// WKT (empty when the file gives none).
struct Georeference {
    std::array<double, 6> transform{};
    std::string coordinateSystem;
};

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
};

}  // namespace tessera
