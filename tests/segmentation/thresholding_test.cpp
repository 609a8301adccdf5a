#include "segmentation/thresholding.h"

#include <gtest/gtest.h>

#include <utility>
#include <vector>

namespace tessera {
namespace {

using Ranges = std::vector<std::pair<int, int>>;

// Segments 1..N as (lower, upper) pairs, for readable comparisons.
Ranges RangesOf(const SegmentLimits& limits) {
    Ranges ranges;
    for (int k = 1; k <= limits.Count(); ++k) ranges.emplace_back(limits.lower[k], limits.upper[k]);
    return ranges;
}

Histogram HistogramOf(const std::vector<std::pair<int, int64_t>>& levels) {
    Histogram h{};
    for (const auto& [level, count] : levels) h[level] = count;
    return h;
}

// Pixels of every segment, through the same table the numbering uses.
std::vector<int64_t> PixelsPerSegment(const Histogram& h, const SegmentLimits& limits) {
    const SegmentLookup lookup = SegmentLookupTable(limits);
    std::vector<int64_t> pixels(static_cast<size_t>(limits.Count()) + 1, 0);
    for (int g = 0; g < 256; ++g)
        if (lookup[g] != NoSegment) pixels[lookup[g]] += h[g];
    return pixels;
}

ByteMatrix MatrixOf(const std::vector<std::vector<uint8_t>>& rows) {
    ByteMatrix m = *NewByteMatrix(static_cast<int>(rows[0].size()), static_cast<int>(rows.size()));
    for (size_t y = 0; y < rows.size(); ++y)
        for (size_t x = 0; x < rows[y].size(); ++x) m[static_cast<int>(y)][x] = rows[y][x];
    return m;
}

TEST(ThresholdingNames, EachTypeHasItsReportName) {
    EXPECT_STREQ("Segmentation", ThresholdingName(Segmentation));
    EXPECT_STREQ("Equipopulation", ThresholdingName(Equipopulation));
    EXPECT_STREQ("Definition", ThresholdingName(Definition));
}

TEST(SegmentCount, AcceptsOneTo254Only) {
    EXPECT_TRUE(CheckSegmentCount(1));
    EXPECT_TRUE(CheckSegmentCount(254));
    for (int refused : {0, -3, 255, 1000}) {
        const Status status = CheckSegmentCount(refused);
        EXPECT_FALSE(status) << refused;
        EXPECT_NE(std::string::npos, status.message.find("1 and 254")) << status.message;
    }
}

TEST(StrictoSensu, WorkedExamples) {
    EXPECT_EQ((Ranges{{0, 64}, {65, 129}, {130, 194}, {195, 255}}),
              RangesOf(StrictoSensuLimits(0, 255, 4)));
    EXPECT_EQ((Ranges{{10, 74}, {75, 139}, {140, 200}}), RangesOf(StrictoSensuLimits(10, 200, 3)));
    // 5 / 2 = 2.5 rounds up to 3, and the first segment spans s + 1 = 4 levels.
    EXPECT_EQ((Ranges{{0, 3}, {4, 4}}), RangesOf(StrictoSensuLimits(0, 4, 2)));
}

TEST(StrictoSensu, OneSegmentIsTheWholeDynamicScale) {
    EXPECT_EQ((Ranges{{0, 255}}), RangesOf(StrictoSensuLimits(0, 255, 1)));
    EXPECT_EQ((Ranges{{37, 99}}), RangesOf(StrictoSensuLimits(37, 99, 1)));
}

TEST(StrictoSensu, TooManySegmentsLeaveTheLastOneEmpty) {
    const SegmentLimits limits = StrictoSensuLimits(0, 255, 20);
    ASSERT_EQ(20, limits.Count());
    for (int k = 1; k <= 19; ++k) {
        EXPECT_EQ(14 * (k - 1), limits.lower[k]) << k;
        EXPECT_EQ(14 * k - 1, limits.upper[k]) << k;
    }
    EXPECT_EQ(252, limits.lower[19]);
    EXPECT_EQ(265, limits.upper[19]);
    EXPECT_EQ(266, limits.lower[20]);
    EXPECT_EQ(255, limits.upper[20]);

    const SegmentLookup lookup = SegmentLookupTable(limits);
    for (int g = 252; g <= 255; ++g) EXPECT_EQ(19, lookup[g]) << g;
    for (int g = 0; g < 256; ++g) EXPECT_NE(20, lookup[g]) << g;
}

TEST(Equipopulation, FlatHistogramGivesNearlyEqualSegments) {
    Histogram h{};
    h.fill(100);
    const SegmentLimits limits = EquipopulationLimits(h, 0, 255, 4);
    EXPECT_EQ((Ranges{{0, 63}, {64, 126}, {127, 189}, {190, 255}}), RangesOf(limits));
    EXPECT_EQ((std::vector<int64_t>{0, 6400, 6300, 6300, 6600}), PixelsPerSegment(h, limits));
}

TEST(Equipopulation, TieClosesAfterTheNextLevel) {
    const Histogram h = HistogramOf({{0, 30}, {1, 40}, {2, 30}});
    const SegmentLimits limits = EquipopulationLimits(h, 0, 2, 2);
    EXPECT_EQ((Ranges{{0, 1}, {2, 2}}), RangesOf(limits));
    EXPECT_EQ((std::vector<int64_t>{0, 70, 30}), PixelsPerSegment(h, limits));
}

TEST(Equipopulation, CloserStopKeepsTheLevelAlone) {
    const Histogram h = HistogramOf({{10, 90}, {11, 5}, {12, 5}});
    EXPECT_EQ((Ranges{{10, 10}, {11, 12}}), RangesOf(EquipopulationLimits(h, 10, 12, 2)));
}

TEST(Equipopulation, DominantLevelFillsTheFirstSegmentAlone) {
    // Level 50 holds 90 % of the pixels; the count restarts with that level after closing.
    Histogram h{};
    h[50] = 900;
    for (int g = 51; g <= 150; ++g) h[g] = 1;
    EXPECT_EQ((Ranges{{50, 50}, {51, 51}, {52, 150}}),
              RangesOf(EquipopulationLimits(h, 50, 150, 3)));
}

TEST(Equipopulation, FewerClosingsLeaveUpperLimitsAtZero) {
    const Histogram h = HistogramOf({{0, 97}, {1, 1}, {2, 1}, {3, 1}});
    const SegmentLimits limits = EquipopulationLimits(h, 0, 3, 4);
    EXPECT_EQ((Ranges{{0, 0}, {1, 1}, {2, 0}, {1, 3}}), RangesOf(limits));

    const SegmentLookup lookup = SegmentLookupTable(limits);
    EXPECT_EQ(1, lookup[0]);
    EXPECT_EQ(4, lookup[1]);
    EXPECT_EQ(4, lookup[2]);
    EXPECT_EQ(4, lookup[3]);
}

TEST(Equipopulation, OnlyTheFirstNMinusOneClosingsAreRecorded) {
    // Ten levels of 10 pixels and N = 2: the scan would close after levels 4 and 8 (and so on),
    // but only the first closing counts and the last segment ends at max.
    Histogram h{};
    for (int g = 0; g <= 9; ++g) h[g] = 10;
    EXPECT_EQ((Ranges{{0, 4}, {5, 9}}), RangesOf(EquipopulationLimits(h, 0, 9, 2)));
    EXPECT_EQ((Ranges{{0, 9}}), RangesOf(EquipopulationLimits(h, 0, 9, 1)));
}

TEST(Definition, TypedLimitsFollowEachOther) {
    EXPECT_EQ((Ranges{{20, 60}, {61, 130}, {131, 240}}),
              RangesOf(DefinitionLimits(20, {60, 130, 240})));
}

TEST(Definition, OverlapIsWonByTheHighestSegment) {
    const SegmentLimits limits = DefinitionLimits(0, {100, 50, 255});
    EXPECT_EQ((Ranges{{0, 100}, {101, 50}, {51, 255}}), RangesOf(limits));
    const SegmentLookup lookup = SegmentLookupTable(limits);
    for (int g = 0; g <= 50; ++g) EXPECT_EQ(1, lookup[g]) << g;
    for (int g = 51; g <= 255; ++g) EXPECT_EQ(3, lookup[g]) << g;
}

TEST(Definition, LimitBelowItsLowerGivesAnEmptySegmentAndUncoveredLevels) {
    // min 10: segment 1 = 10..5 (empty), segment 2 = 6..100; levels above 100 and below 6 are in
    // no segment.
    const SegmentLimits limits = DefinitionLimits(10, {5, 100});
    EXPECT_EQ((Ranges{{10, 5}, {6, 100}}), RangesOf(limits));
    const SegmentLookup lookup = SegmentLookupTable(limits);
    EXPECT_EQ(NoSegment, lookup[5]);
    EXPECT_EQ(2, lookup[6]);
    EXPECT_EQ(2, lookup[10]);
    EXPECT_EQ(2, lookup[100]);
    EXPECT_EQ(NoSegment, lookup[101]);
    EXPECT_EQ(NoSegment, lookup[255]);
}

TEST(Definition, TheLargestTypedLimitDoesNotWrapTheNextLowerLimit) {
    const SegmentLimits limits = DefinitionLimits(3, {2147483647, 255});
    EXPECT_EQ(int64_t{2147483648}, limits.lower[2]);
    const SegmentLookup lookup = SegmentLookupTable(limits);
    EXPECT_EQ(1, lookup[3]);
    EXPECT_EQ(1, lookup[255]);  // segment 2 is empty: it covers no level
    EXPECT_EQ(NoSegment, lookup[2]);
}

TEST(SegmentLookup, LimitsOutsideTheGrayScaleAreClipped) {
    SegmentLimits limits;
    limits.lower = {0, -40, 250, 300};
    limits.upper = {0, 3, 400, 500};
    const SegmentLookup lookup = SegmentLookupTable(limits);
    for (int g = 0; g <= 3; ++g) EXPECT_EQ(1, lookup[g]) << g;
    for (int g = 4; g <= 249; ++g) EXPECT_EQ(NoSegment, lookup[g]) << g;
    for (int g = 250; g <= 255; ++g) EXPECT_EQ(2, lookup[g]) << g;
}

TEST(SegmentNumbers, EveryPixelGetsItsLevelsSegment) {
    const ByteMatrix pixels = MatrixOf({{0, 64, 65}, {129, 130, 255}});
    ByteMatrix numbers = *NewByteMatrix(3, 2);
    NumberSegments(pixels, SegmentLookupTable(StrictoSensuLimits(0, 255, 4)), numbers);
    EXPECT_EQ(MatrixOf({{1, 1, 2}, {2, 3, 4}}), numbers);

    // A level that no segment covers is numbered NoSegment.
    NumberSegments(pixels, SegmentLookupTable(DefinitionLimits(0, {100})), numbers);
    EXPECT_EQ(MatrixOf({{1, 1, 1}, {255, 255, 255}}), numbers);
}

TEST(SegmentNumbers, CanNumberInPlace) {
    ByteMatrix pixels = MatrixOf({{0, 200}, {100, 50}});
    NumberSegments(pixels, SegmentLookupTable(DefinitionLimits(0, {99, 255})), pixels);
    EXPECT_EQ(MatrixOf({{1, 2}, {2, 1}}), pixels);
}

TEST(SegmentColours, DrawnRedGreenBluePerEntryWithWhiteEnds) {
    RandomBelow random;
    const ColourTable table = BuildSegmentColourTable(random);
    EXPECT_EQ(762u, random.DrawCount());
    // First draw of the sequence: high half of 1 x M + 1 is 346, and 346 mod 254 = 92.
    EXPECT_EQ(92, table[1].red);

    RandomBelow replay;
    for (int entry = 1; entry <= 254; ++entry) {
        EXPECT_EQ(replay(254), table[entry].red) << entry;
        EXPECT_EQ(replay(254), table[entry].green) << entry;
        EXPECT_EQ(replay(254), table[entry].blue) << entry;
        EXPECT_EQ(entry, table[entry].index);
        EXPECT_EQ(0, table[entry].spare);
    }
    EXPECT_EQ((ColourEntry{255, 255, 255, 0, 0}), table[0]);
    EXPECT_EQ((ColourEntry{255, 255, 255, 255, 255}), table[255]);

    // The sequence goes on: a second run gets other colours.
    const ColourTable second = BuildSegmentColourTable(random);
    EXPECT_NE(table, second);
}

TEST(PaintByTable, EveryPixelTakesItsEntrysBlueGreenRed) {
    ColourTable colours{};
    colours[1] = ColourEntry{10, 20, 30, 1, 0};
    colours[2] = ColourEntry{40, 50, 60, 2, 0};
    colours[255] = ColourEntry{255, 255, 255, 255, 255};
    const std::optional<GrayImage> image =
        PaintByTable(MatrixOf({{1, 255}, {2, 1}, {0, 2}}), colours);
    ASSERT_TRUE(image);
    EXPECT_EQ(ColourKind, image->kind);
    EXPECT_EQ(2, image->width);
    EXPECT_EQ(3, image->height);
    EXPECT_EQ((std::vector<uint8_t>{10, 20, 30, 255, 255, 255,  //
                                    40, 50, 60, 10, 20, 30,     //
                                    0, 0, 0, 40, 50, 60}),
              image->pixels);
}

}  // namespace
}  // namespace tessera
