#pragma once
// The histogram window's rules: the saved table, the drawn line heights, the failure text.
#include <cstdint>
#include <string>

#include "bands/bandfiles.h"

namespace tessera {

// The 256 counts in order of gray value, one decimal number per line ("%lld\n"), no header.
std::string HistogramTableText(const Histogram& counts);

// The largest count (0 for an empty band).
int64_t HistogramPeak(const Histogram& counts);

// The top of gray value g's line on a surface whose base line is at `baseline`:
// trunc((1 - count / peak) * baseline). The line runs from the base line up to this row, which
// is not drawn, so a count of 0 draws nothing and the peak reaches row 0. With no pixel at all
// (peak 0) nothing is drawn: the base line is returned.
int HistogramLineTop(int64_t count, int64_t peak, int baseline);

// "CAUTION" text of a table that could not be written.
std::string HistogramNotWrittenMessage(const std::string& path);

}  // namespace tessera
