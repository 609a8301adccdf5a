#include "bands/stretch.h"

#include <algorithm>
#include <cctype>
#include <charconv>
#include <cmath>
#include <limits>
#include <system_error>

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

}  // namespace

NativeRange NativeRangeOfGrays(int64_t lower, int64_t upper, StretchRange range,
                               const std::string& dataType) {
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
    const auto gray = [&](double value) { return int64_t{StretchToGray(value, range)}; };
    if (low > 0) {
        double v = OfType(NativeOfGray(static_cast<double>(low) - 0.5, range), dataType);
        while (gray(v) < low) v = NextValue(v, true, dataType);
        for (double below = NextValue(v, false, dataType); gray(below) >= low;
             below = NextValue(v, false, dataType))
            v = below;
        native.low = v;
    }
    if (high < 255) {
        double v = OfType(NativeOfGray(static_cast<double>(high) + 0.5, range), dataType);
        while (gray(v) > high) v = NextValue(v, false, dataType);
        for (double above = NextValue(v, true, dataType); gray(above) <= high;
             above = NextValue(v, true, dataType))
            v = above;
        native.high = v;
    }
    // Integer types: a range narrower than one step of the type may hold no integer at all.
    if (native.low && native.high && *native.low > *native.high) native.empty = true;
    return native;
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
