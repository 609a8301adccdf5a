#pragma once
// What a band's file tells of its values and its place, whatever reads it.
#include <array>
#include <optional>
#include <string>

#include "bands/percentiles.h"

namespace tessera {

// The native values a band of more than 8 bits (or of floating-point values) is brought to
// gray levels 0..255 between: gray = (value - minimum) x 255 / (maximum - minimum), rounded.
struct StretchRange {
    double minimum = 0;
    double maximum = 0;
};

// A band's physical values: value = stored value x scale + offset.
struct Scaling {
    double scale = 1;
    double offset = 0;
};

// How such a band was read, for the report: its data type (GDAL's name) and its stretch.
struct GrayStretch {
    std::string dataType;
    StretchRange range;
    std::optional<PercentileRange> percentiles = std::nullopt;  // MIN and MAX found at these
    // The band's values are physical values (its stretch and ranges are in them).
    std::optional<Scaling> scaling = std::nullopt;
    // The type native ranges are told in: the data type, or any number once scaled.
    std::string ValueType() const { return scaling ? "Float64" : dataType; }
};

// Where a band lies on the map: GDAL's affine transform from pixel to map coordinates
// (x = t0 + column t1 + line t2, y = t3 + column t4 + line t5) and the coordinate system as
// WKT (empty when the file gives none).
struct Georeference {
    std::array<double, 6> transform{};
    std::string coordinateSystem;
};

}  // namespace tessera
