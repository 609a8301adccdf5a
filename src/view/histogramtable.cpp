#include "view/histogramtable.h"

#include <algorithm>
#include <cinttypes>
#include <cstdio>

namespace tessera {

std::string HistogramTableText(const Histogram& counts) {
    std::string text;
    text.reserve(counts.size() * 8);
    char line[32];
    for (const int64_t count : counts) {
        std::snprintf(line, sizeof line, "%" PRId64 "\n", count);
        text += line;
    }
    return text;
}

int64_t HistogramPeak(const Histogram& counts) {
    return *std::max_element(counts.begin(), counts.end());
}

int HistogramLineTop(int64_t count, int64_t peak, int baseline) {
    if (peak <= 0) return baseline;
    const double fraction = 1.0 - static_cast<double>(count) / static_cast<double>(peak);
    return static_cast<int>(fraction * baseline);
}

std::string HistogramNotWrittenMessage(const std::string& path) {
    return "The histogram table\n" + path + "\ncannot be written.";
}

}  // namespace tessera
