#pragma once
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

namespace tessera {

// The leading decimal integer of an edit text, read as the standard atol reads it: leading
// blanks skipped, an optional sign, digits up to the first other character, 0 without digits.
// Long digit strings saturate at the int32 limits instead of overflowing.
int32_t LeadingInteger(std::string_view text);

// Same rule, 64-bit.
int64_t LeadingInteger64(std::string_view text);

// A value as short as it can be written and read back the same ("100", "0.25").
std::string NumberText(double value);
// The shortest decimal closer to `value` than `tolerance`, written as NumberText writes it;
// of two such decimals of as many digits, the nearer. A value among others `step` apart is
// told from its neighbours by ShortestWithin(value, step / 2): 0.20138 for
// 15069 x 2e-05 - 0.1 (0.20138000000000003 as a double). NumberText(value) when no decimal
// is shorter, and for a tolerance that is not a positive finite number.
std::string ShortestWithin(double value, double tolerance);
// numerator / denominator (denominator > 0) rounded once to the nearest double, ties to even:
// an exact fraction of whole numbers that a double cannot hold is not rounded twice.
double RoundedQuotient(int64_t numerator, int64_t denominator);
// The whole of `text` read as a finite number ("2.5", "-1e3"); none for anything else.
std::optional<double> FiniteNumber(const std::string& text);

// Appends `value` in decimal.
void AppendNumber(std::string& out, int64_t value);
// Appends `value` with six significant digits ("%.6g"), as native values are shown beside
// gray levels.
void AppendSixDigits(std::string& out, double value);

}  // namespace tessera
