#include "support/numbers.h"

#include <bit>
#include <cerrno>
#include <charconv>
#include <cmath>
#include <cstdio>
#include <cstdlib>

#include <limits>

namespace tessera {

std::string NumberText(double value) {
    char digits[32];
    const auto end = std::to_chars(digits, digits + sizeof digits, value).ptr;
    return std::string(digits, end);
}


std::string ShortestWithin(double value, double tolerance) {
    std::string exact = NumberText(value);
    if (!std::isfinite(value) || !(tolerance > 0) || !std::isfinite(tolerance)) return exact;
    for (int digits = 1; digits < 17; ++digits) {
        // printf rounds the double's exact value: the nearest decimal of that many digits.
        char text[40];
        std::snprintf(text, sizeof text, "%.*e", digits - 1, value);
        const double decimal = std::strtod(text, nullptr);
        if (!(std::fabs(decimal - value) < tolerance)) continue;
        std::string shown = NumberText(decimal);
        return shown.size() < exact.size() ? shown : exact;
    }
    return exact;
}

double RoundedQuotient(int64_t numerator, int64_t denominator) {
    const bool negative = numerator < 0;
    const uint64_t n =
        negative ? 0 - static_cast<uint64_t>(numerator) : static_cast<uint64_t>(numerator);
    const uint64_t d = static_cast<uint64_t>(denominator);
    constexpr int kBits = std::numeric_limits<double>::digits;  // 53
    constexpr uint64_t kLeast = uint64_t{1} << (kBits - 1);
    // The result is quotient x 2^exponent, rounded by what is left below its last bit: the
    // remainder (in units of the denominator) and, for a quotient of more than 53 bits, the
    // bits dropped from it.
    uint64_t quotient = n / d, remainder = n % d;
    int exponent = 0;
    bool up = false;
    if (std::bit_width(quotient) > kBits) {
        const int shift = std::bit_width(quotient) - kBits;
        const uint64_t dropped = quotient & ((uint64_t{1} << shift) - 1);
        const uint64_t half = uint64_t{1} << (shift - 1);
        quotient >>= shift;
        exponent = shift;
        up = dropped > half || (dropped == half && (remainder != 0 || (quotient & 1) != 0));
    } else {
        // Long division, a bit at a time, until the quotient has its 53 bits or is exact.
        while (quotient < kLeast && remainder != 0) {
            const bool bit = remainder >= d - remainder;
            quotient = quotient * 2 + (bit ? 1 : 0);
            remainder = bit ? remainder - (d - remainder) : remainder * 2;
            --exponent;
        }
        const uint64_t rest = d - remainder;
        up = remainder > rest || (remainder == rest && (quotient & 1) != 0);
    }
    const double magnitude = std::ldexp(static_cast<double>(quotient + (up ? 1 : 0)), exponent);
    return negative ? -magnitude : magnitude;
}

namespace {

bool IsBlank(char c) {
    // The white space atol skips.
    return c == ' ' || c == '\t' || c == '\n' || c == '\v' || c == '\f' || c == '\r';
}

}  // namespace

int64_t LeadingInteger64(std::string_view text) {
    size_t i = 0;
    while (i < text.size() && IsBlank(text[i])) ++i;
    bool negative = false;
    if (i < text.size() && (text[i] == '+' || text[i] == '-')) {
        negative = text[i] == '-';
        ++i;
    }
    // Accumulate towards the sign's side so the most negative value is reachable, and stop
    // growing at the limit instead of overflowing.
    constexpr int64_t kMax = std::numeric_limits<int64_t>::max();
    constexpr int64_t kMin = std::numeric_limits<int64_t>::min();
    int64_t value = 0;
    for (; i < text.size() && text[i] >= '0' && text[i] <= '9'; ++i) {
        const int digit = text[i] - '0';
        if (negative) {
            value = (value < (kMin + digit) / 10) ? kMin : value * 10 - digit;
        } else {
            value = (value > (kMax - digit) / 10) ? kMax : value * 10 + digit;
        }
    }
    return value;
}

int32_t LeadingInteger(std::string_view text) {
    const int64_t value = LeadingInteger64(text);
    if (value > std::numeric_limits<int32_t>::max()) return std::numeric_limits<int32_t>::max();
    if (value < std::numeric_limits<int32_t>::min()) return std::numeric_limits<int32_t>::min();
    return static_cast<int32_t>(value);
}

void AppendNumber(std::string& out, int64_t value) {
    char digits[24];
    const auto end = std::to_chars(digits, digits + sizeof digits, value).ptr;
    out.append(digits, end);
}

void AppendSixDigits(std::string& out, double value) {
    char digits[32];
    std::snprintf(digits, sizeof digits, "%.6g", value);
    out += digits;
}

std::optional<double> FiniteNumber(const std::string& text) {
    if (text.empty()) return std::nullopt;
    errno = 0;
    char* end = nullptr;
    const double value = std::strtod(text.c_str(), &end);
    if (errno != 0 || end == text.c_str() || *end != '\0' || !std::isfinite(value))
        return std::nullopt;
    return value;
}

}  // namespace tessera
