#pragma once
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

// What the program knows of one band's file and segmentation.
struct BandRecord {
    std::string filePath;
    int32_t thresholdingType = Segmentation;
    int32_t segmentCount = 0;
    SegmentLimits segmentLimits;
    std::optional<GrayStretch> stretch;  // 8-bit bands: none
};

}  // namespace tessera
