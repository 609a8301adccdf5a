#pragma once
#include <string>

#include "segmentation/thresholding.h"

namespace tessera {

// What the program knows of one band's file and segmentation.
struct BandRecord {
    std::string filePath;
    int32_t thresholdingType = Segmentation;
    int32_t segmentCount = 0;
    SegmentLimits segmentLimits;
};

}  // namespace tessera
