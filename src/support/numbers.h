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
// The whole of `text` read as a finite number ("2.5", "-1e3"); none for anything else.
std::optional<double> FiniteNumber(const std::string& text);

// Appends `value` in decimal.
void AppendNumber(std::string& out, int64_t value);
// Appends `value` with six significant digits ("%.6g"), as native values are shown beside
// gray levels.
void AppendSixDigits(std::string& out, double value);

}  // namespace tessera
