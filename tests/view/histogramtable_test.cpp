// The histogram window's table text, line heights and failure message.
#include "view/histogramtable.h"

#include <gtest/gtest.h>

#include <sstream>
#include <vector>

namespace tessera {
namespace {

std::vector<std::string> LinesOf(const std::string& text) {
    std::vector<std::string> lines;
    std::istringstream in(text);
    for (std::string line; std::getline(in, line);) lines.push_back(line);
    return lines;
}

TEST(HistogramTable, TwoHundredFiftySixCountsInGrayOrder) {
    Histogram counts{};
    counts[7] = 12;
    counts[0] = 3;
    counts[255] = 5000000000LL;  // beyond 32 bits
    const std::string text = HistogramTableText(counts);
    const auto lines = LinesOf(text);
    ASSERT_EQ(256u, lines.size());
    EXPECT_EQ('\n', text.back());
    EXPECT_EQ("3", lines[0]);
    EXPECT_EQ("12", lines[7]);
    EXPECT_EQ("5000000000", lines[255]);
    for (int g = 1; g < 255; ++g) {
        if (g != 7) {
            EXPECT_EQ("0", lines[g]) << "gray " << g;
        }
    }
}

TEST(HistogramTable, EmptyBandIsAllZeros) {
    const std::string text = HistogramTableText(Histogram{});
    std::string expected;
    for (int g = 0; g < 256; ++g) expected += "0\n";
    EXPECT_EQ(expected, text);
    EXPECT_EQ(0, HistogramPeak(Histogram{}));
}

TEST(HistogramLines, PeakReachesTheTopAndZeroDrawsNothing) {
    Histogram counts{};
    counts[7] = 40;
    counts[9] = 10;
    counts[10] = 30;
    const int64_t peak = HistogramPeak(counts);
    EXPECT_EQ(40, peak);
    EXPECT_EQ(0, HistogramLineTop(counts[7], peak, 244));
    EXPECT_EQ(183, HistogramLineTop(counts[9], peak, 244));  // trunc(0.75 * 244)
    EXPECT_EQ(61, HistogramLineTop(counts[10], peak, 244));  // trunc(0.25 * 244)
    EXPECT_EQ(244, HistogramLineTop(counts[8], peak, 244));
}

TEST(HistogramLines, NoPixelsDrawNoLine) {
    EXPECT_EQ(244, HistogramLineTop(0, 0, 244));
}

TEST(HistogramTable, FailureMessageNamesTheFile) {
    EXPECT_EQ("The histogram table\n/tmp/x/h.xls\ncannot be written.",
              HistogramNotWrittenMessage("/tmp/x/h.xls"));
}

}  // namespace
}  // namespace tessera
