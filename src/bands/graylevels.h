#pragma once
// Native values brought to gray levels and marks, whatever holds them: a raster band's reader
// and the arrays handed to the Python module convert them by the same rule, and find a band's
// own range by the same rule.
#include <cmath>
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <optional>
#include <type_traits>

#include "bands/bandfacts.h"
#include "bands/bandfiles.h"
#include "bands/rasterband.h"
#include "bands/stretch.h"

namespace tessera {

// How a band's native values become gray levels: through its stretch (a band of more than 8
// bits or of floating-point values, once its stretch is known), or as they are, rounded and
// clamped to 0..255 as GDAL reads a band as bytes. `nodata` as the band holds it (NodataOfType).
struct GrayConversion {
    std::optional<StretchRange> stretch;  // none: not stretched
    std::optional<double> nodata;
};

// A value holding the band's nodata value (any NaN, when that value is NaN).
inline bool IsNodataValue(double value, const std::optional<double>& nodata) {
    if (!nodata) return false;
    return std::isnan(*nodata) ? std::isnan(value) : value == *nodata;
}

// gray[i] and, when `marks` is given, marks[i] (0 with data, kNodataMark holding the nodata
// value, kNonFiniteMark NaN or infinite) for i < cells.
template <class T>
void ValuesToGray(const T* values, size_t cells, const GrayConversion& conversion, uint8_t* gray,
                  uint8_t* marks) {
    if (!conversion.stretch) {
        if constexpr (std::is_same_v<T, uint8_t>) {
            if (cells > 0 && gray != values) std::memcpy(gray, values, cells);
        } else {
            for (size_t i = 0; i < cells; ++i) {
                const double value = static_cast<double>(values[i]);
                gray[i] = !(value > 0) ? 0 : value >= 255 ? 255 : static_cast<uint8_t>(value + 0.5);
            }
        }
        if (marks) MarkGrayNodata(gray, cells, conversion.nodata, marks);
        return;
    }
    const StretchRange range = *conversion.stretch;
    for (size_t i = 0; i < cells; ++i)
        gray[i] = StretchToGray(static_cast<double>(values[i]), range);
    if (marks) {
        for (size_t i = 0; i < cells; ++i) {
            const double value = static_cast<double>(values[i]);
            marks[i] = IsNodataValue(value, conversion.nodata) ? kNodataMark
                       : !std::isfinite(value)                 ? kNonFiniteMark
                                                               : 0;
        }
    }
}

// The least and greatest of values[0..cells - 1] with data (neither the nodata value nor NaN
// or infinite), folded into low and high.
template <class T>
void FoldValueRange(const T* values, size_t cells, const std::optional<double>& nodata, double& low,
                    double& high) {
    for (size_t i = 0; i < cells; ++i) {
        const double value = static_cast<double>(values[i]);
        if (!std::isfinite(value) || IsNodataValue(value, nodata)) continue;
        low = value < low ? value : low;
        high = value > high ? value : high;
    }
}

}  // namespace tessera
