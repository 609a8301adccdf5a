#include "bands/stretch.h"

#include <algorithm>
#include <cctype>
#include <charconv>
#include <cmath>
#include <limits>
#include <system_error>
#include <vector>

#include "support/numbers.h"

namespace tessera {

double NativeOfGray(double gray, StretchRange range) {
    return range.minimum + gray * (range.maximum - range.minimum) / 255.0;
}

namespace {

bool IsFloat32(const std::string& dataType) {
    return dataType == "Float32";
}

// The value of the type next to `value`, upwards or downwards: the next integer, float or
// double.
double NextValue(double value, bool up, const std::string& dataType) {
    const double toward = up ? std::numeric_limits<double>::infinity()
                             : -std::numeric_limits<double>::infinity();
    if (IsFloat32(dataType))
        return std::nextafter(static_cast<float>(value), static_cast<float>(toward));
    if (dataType == "Float64") return std::nextafter(value, toward);
    return up ? value + 1 : value - 1;
}

// The value of the type nearest to `value` (a bound worked out in doubles).
double OfType(double value, const std::string& dataType) {
    if (IsFloat32(dataType)) {
        if (!(std::fabs(value) <= std::numeric_limits<float>::max())) return value;
        return static_cast<float>(value);
    }
    if (dataType == "Float64") return value;
    return std::round(value);
}

// The values a band can hold, in their order: `Nearest` finds the place of the one nearest to
// a value, `Next` the next place up or down, `Value` the value at a place. Of an unscaled band a
// place is the value itself; of a scaled one the stored value.
struct TypeValues {
    const std::string& dataType;
    double Nearest(double value) const { return OfType(value, dataType); }
    double Next(double place, bool up) const { return NextValue(place, up, dataType); }
    double Value(double place) const { return place; }
};

struct ScaledValues {
    Scaling scaling;
    double Nearest(double value) const { return StoredValueOf(value, scaling); }
    double Next(double place, bool up) const {
        // A negative scale turns the order of the stored values.
        return place + ((up == (scaling.scale > 0)) ? 1 : -1);
    }
    double Value(double place) const { return PhysicalValue(place, scaling); }
};

template <class Values>
NativeRange RangeOfGrays(int64_t lower, int64_t upper, StretchRange range, const Values& held) {
    NativeRange native;
    const int64_t low = std::max<int64_t>(lower, 0);
    const int64_t high = std::min<int64_t>(upper, 255);
    if (low > high) {
        native.empty = true;
        return native;
    }
    // Each bound starts from the stretch's own inverse and is moved value by value of the type
    // until it is the last one on its side: a few steps, and the bound agrees with
    // StretchToGray exactly, rounding included.
    const auto gray = [&](double place) {
        return int64_t{StretchToGray(held.Value(place), range)};
    };
    if (low > 0) {
        double v = held.Nearest(NativeOfGray(static_cast<double>(low) - 0.5, range));
        while (gray(v) < low) v = held.Next(v, true);
        for (double below = held.Next(v, false); gray(below) >= low; below = held.Next(v, false))
            v = below;
        native.low = held.Value(v);
    }
    if (high < 255) {
        double v = held.Nearest(NativeOfGray(static_cast<double>(high) + 0.5, range));
        while (gray(v) > high) v = held.Next(v, false);
        for (double above = held.Next(v, true); gray(above) <= high; above = held.Next(v, true))
            v = above;
        native.high = held.Value(v);
    }
    // Integer types: a range narrower than one step of the type may hold no integer at all.
    if (native.low && native.high && *native.low > *native.high) native.empty = true;
    return native;
}

bool ScaledWhole(const GrayStretch& stretch) {
    return stretch.scaling && stretch.scaling->scale != 0 &&
           std::isfinite(stretch.scaling->scale) && std::isfinite(stretch.scaling->offset) &&
           HoldsWholeNumbers(stretch.dataType);
}

}  // namespace

NativeRange NativeRangeOfGrays(int64_t lower, int64_t upper, StretchRange range,
                               const std::string& dataType) {
    return RangeOfGrays(lower, upper, range, TypeValues{dataType});
}

NativeRange NativeRangeOfGrays(int64_t lower, int64_t upper, const GrayStretch& stretch) {
    if (ScaledWhole(stretch))
        return RangeOfGrays(lower, upper, stretch.range, ScaledValues{*stretch.scaling});
    return NativeRangeOfGrays(lower, upper, stretch.range, stretch.ValueType());
}

double StoredValueOf(double physical, Scaling scaling) {
    return std::round((physical - scaling.offset) / scaling.scale);
}

bool HoldsWholeNumbers(const std::string& dataType) {
    for (const char* type : {"Byte", "Int8", "UInt16", "Int16", "UInt32", "Int32"})
        if (dataType == type) return true;
    return false;
}

std::string HeldValueText(double value, const GrayStretch& stretch) {
    if (!ScaledWhole(stretch)) return NativeText(value, stretch.ValueType());
    return ShortestWithin(value, std::fabs(stretch.scaling->scale) / 2);
}

std::string NativeRangeText(const NativeRange& range, const GrayStretch& stretch) {
    if (range.empty) return "none";
    return (range.low ? HeldValueText(*range.low, stretch) : std::string("-inf")) + " to " +
           (range.high ? HeldValueText(*range.high, stretch) : std::string("inf"));
}

std::string StretchEndText(const GrayStretch& stretch, bool maximum) {
    const double value = maximum ? stretch.range.maximum : stretch.range.minimum;
    if (!ScaledWhole(stretch) || !std::isfinite(value)) return NumberText(value);
    const Scaling scaling = *stretch.scaling;
    // The grids the value may lie on: the values the band holds, and a percentile's parts of
    // their steps. A value on neither was given, and is written as it was.
    std::vector<int64_t> grids{1};
    if (stretch.percentiles) {
        const double percent = maximum ? stretch.percentiles->high : stretch.percentiles->low;
        if (const std::optional<int64_t> parts = PercentileParts(percent); parts && *parts > 1)
            grids.push_back(*parts);
    }
    for (const int64_t parts : grids) {
        const double place =
            std::round((value - scaling.offset) / scaling.scale * static_cast<double>(parts));
        if (!(std::fabs(place) < 0x1p62)) continue;
        const auto nearest = static_cast<int64_t>(place);
        // Within two units in the last place: the same arithmetic, whether or not a compiler
        // fused its multiply and add.
        const double close = 2 * (std::nextafter(std::fabs(value), INFINITY) - std::fabs(value));
        for (const int64_t k : {nearest - 1, nearest, nearest + 1}) {
            if (std::fabs(PhysicalValue(RoundedQuotient(k, parts), scaling) - value) <= close)
                return ShortestWithin(value,
                                      std::fabs(scaling.scale) / static_cast<double>(parts) / 2);
        }
    }
    return NumberText(value);
}

std::string NativeRangeText(const NativeRange& range, const std::string& dataType) {
    if (range.empty) return "none";
    return (range.low ? NativeText(*range.low, dataType) : std::string("-inf")) + " to " +
           (range.high ? NativeText(*range.high, dataType) : std::string("inf"));
}

std::string NativeText(double value, const std::string& dataType) {
    if (!IsFloat32(dataType) || !(std::fabs(value) <= std::numeric_limits<float>::max()))
        return NumberText(value);
    char digits[32];
    const auto end =
        std::to_chars(digits, digits + sizeof digits, static_cast<float>(value)).ptr;
    return std::string(digits, end);
}

std::optional<double> ParseNodataValue(const std::string& text) {
    std::string word;
    for (char c : text) word += static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    if (word == "nan") return std::numeric_limits<double>::quiet_NaN();
    if (word == "inf" || word == "+inf") return std::numeric_limits<double>::infinity();
    if (word == "-inf") return -std::numeric_limits<double>::infinity();
    if (word.empty()) return std::nullopt;
    double value = 0;
    const char* begin = word.data() + (word[0] == '+' ? 1 : 0);
    const char* end = word.data() + word.size();
    const auto read = std::from_chars(begin, end, value);
    if (read.ec != std::errc() || read.ptr != end || !std::isfinite(value)) return std::nullopt;
    return value;
}

double NodataOfType(double value, const std::string& dataType) {
    return IsFloat32(dataType) ? OfType(value, dataType) : value;
}

Result<std::vector<int32_t>> GrayLimitsOfNative(const std::vector<double>& native,
                                                const std::optional<StretchRange>& stretch,
                                                const std::string& valueType) {
    using R = Result<std::vector<int32_t>>;
    std::vector<int32_t> grays;
    for (size_t k = 0; k < native.size(); ++k) {
        if (k > 0 && !(native[k - 1] < native[k]))
            return R::Failure("the native limits " + NativeText(native[k - 1], valueType) +
                              " and " + NativeText(native[k], valueType) + " do not increase");
        const double value = native[k];
        const int32_t gray =
            stretch ? StretchToGray(value, *stretch)
                    : static_cast<int32_t>(std::clamp(std::floor(value + 0.5), 0.0, 255.0));
        if (!grays.empty() && grays.back() == gray)
            return R::Failure("the native limits " + NativeText(native[k - 1], valueType) +
                              " and " + NativeText(value, valueType) + " both fall in gray level " +
                              std::to_string(gray));
        grays.push_back(gray);
    }
    return R::Of(std::move(grays));
}

}  // namespace tessera
