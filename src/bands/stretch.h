#pragma once
// Native values brought to gray levels and back, and the texts of native values: the arithmetic
// of a band's stretch, apart from any file.
#include <cmath>
#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "support/status.h"

#include "bands/bandfacts.h"

namespace tessera {

// gray = (value - minimum) x 255 / (maximum - minimum), rounded to the nearest level (halves
// up) and clamped to 0..255, as gdal_translate -ot Byte -scale minimum maximum 0 255 does.
// NaN becomes 0.
// Inline: it runs once per pixel of every band of more than 8 bits.
inline uint8_t StretchToGray(double value, StretchRange range) {
    const double gray =
        std::floor((value - range.minimum) * 255.0 / (range.maximum - range.minimum) + 0.5);
    if (!(gray > 0)) return 0;  // NaN as well
    return gray >= 255 ? 255 : static_cast<uint8_t>(gray);
}
// The native value gray level `gray` stands for: the inverse of StretchToGray.
double NativeOfGray(double gray, StretchRange range);

// The native values that a band of data type `dataType` (GDAL's name) brings to gray levels
// lower..upper through StretchToGray: from `low` to `high`, both included and both values the
// type can hold. An end that takes in every value beyond the stretch (gray 0 below, gray 255
// above) is none. Empty when no value of the type falls there.
struct NativeRange {
    bool empty = false;
    std::optional<double> low, high;
};
NativeRange NativeRangeOfGrays(int64_t lower, int64_t upper, StretchRange range,
                               const std::string& dataType);
// "1001 to 1334", "-inf to 1000", "1998 to inf", "none": a native range as the report and the
// class table write it.
std::string NativeRangeText(const NativeRange& range, const std::string& dataType);

// The values of a band with a scale (GrayStretch::scaling): the physical value of a stored
// value, as the band's reader works it out, and the stored value nearest to a physical one.
inline double PhysicalValue(double stored, Scaling scaling) {
    return stored * scaling.scale + scaling.offset;
}
double StoredValueOf(double physical, Scaling scaling);
// Whether a data type (GDAL's name) holds whole numbers of at most 32 bits, which a double
// holds exactly.
bool HoldsWholeNumbers(const std::string& dataType);

// NativeRangeOfGrays of a band read with `stretch`: in its value type, and for a scaled band
// of whole numbers the physical values of the least and greatest stored values in the range.
NativeRange NativeRangeOfGrays(int64_t lower, int64_t upper, const GrayStretch& stretch);
// NativeRangeText with each end as HeldValueText writes it.
std::string NativeRangeText(const NativeRange& range, const GrayStretch& stretch);
// A value the band can hold (an end of a native range) in the shortest decimal that tells it
// from the others it can hold: for a scaled band of whole numbers, within half a step of the
// scale ("0.20138", not "0.20138000000000003"); otherwise NativeText of its value type.
std::string HeldValueText(double value, const GrayStretch& stretch);
// The stretch's MIN (or MAX) as the report and the metadata write it. Of a scaled band of
// whole numbers, a value it can hold, or a percentile between two (on the grid of the
// percentile's parts), is told apart from the other values on that grid, as HeldValueText
// does; any other (a stretch that was given) as NumberText.
std::string StretchEndText(const GrayStretch& stretch, bool maximum);

// A native value of a band of data type `dataType` as short as that type reads it back:
// Float32 values as floats ("-9999.9", not "-9999.900390625"), others as NumberText.
std::string NativeText(double value, const std::string& dataType);
// A nodata value typed by the user: a number, "nan", "inf" or "-inf" (any case, "+inf" too).
std::optional<double> ParseNodataValue(const std::string& text);
// The gray levels of a definition band's upper limits typed as native values: each the level
// whose native range holds it (StretchToGray), or for a band read as gray levels (no stretch)
// the nearest level. Refused, saying why, when the values do not increase or two fall in one
// gray level.
Result<std::vector<int32_t>> GrayLimitsOfNative(const std::vector<double>& native,
                                                const std::optional<StretchRange>& stretch,
                                                const std::string& valueType);

// A typed nodata value as the band holds it: cast to the nearest value of a Float32 band, as
// GDAL casts the value a file declares; other types keep it (a value the type cannot hold then
// marks no pixel).
double NodataOfType(double value, const std::string& dataType);

}  // namespace tessera
