#include "segmentation/graysteps.h"

#include <gtest/gtest.h>

#include <random>
#include <vector>

#include "kernels.h"

#include "segmentation/thresholding.h"

namespace tessera {
namespace {
using testing_support::ForEachIsa;
using testing_support::RandomLookup;

// A table whose value changes at `changes` random levels to random values.
std::array<uint8_t, 256> RandomChanges(std::mt19937& random, int changes) {
    std::array<uint8_t, 256> table;
    std::vector<bool> at(256, false);
    for (int c = 0; c < changes; ++c) at[std::uniform_int_distribution<int>(1, 255)(random)] = true;
    uint8_t value = static_cast<uint8_t>(random());
    for (int g = 0; g < 256; ++g) {
        if (at[g]) value = static_cast<uint8_t>(value + 1 + random() % 255);
        table[g] = value;
    }
    return table;
}

// Every line length from 0 to 67 (the vector blocks and the pixels left after them) at four
// starting offsets, against the look-up pixel by pixel; nothing written past the line.
void ExpectLinesMatch(std::mt19937& random, const SegmentLookup& lookup) {
    const SegmentNumbering numbering = MakeSegmentNumbering(lookup);
    std::vector<uint8_t> gray(80);
    ForEachIsa([&](KernelIsa isa) {
        for (size_t count = 0; count <= 67; ++count) {
            for (size_t offset = 0; offset < 4; ++offset) {
                for (uint8_t& g : gray) g = static_cast<uint8_t>(random());
                std::vector<uint8_t> numbers(count + offset + 8, 0xA5), plain(numbers);
                for (size_t i = 0; i < count; ++i) plain[offset + i] = lookup[gray[offset + i]];
                NumberSegmentLine(gray.data() + offset, count, numbering, numbers.data() + offset);
                ASSERT_EQ(plain, numbers)
                    << count << " pixels at " << offset << ", isa " << static_cast<int>(isa);
                std::fill(numbers.begin(), numbers.end(), 0xA5);
                NumberSegmentLine(gray.data() + offset, count, lookup, numbers.data() + offset);
                ASSERT_EQ(plain, numbers) << count << " pixels, by the lookup";
                // In place.
                std::vector<uint8_t> inPlace(gray.begin() + offset, gray.begin() + offset + count);
                NumberSegmentLine(inPlace.data(), count, numbering, inPlace.data());
                ASSERT_TRUE(std::equal(inPlace.begin(), inPlace.end(), plain.begin() + offset));
            }
        }
    });
}

TEST(GraySteps, StaircasesOfUpToSixteenSegmentsWithGapsAreSteps) {
    // Sixteen segments of 10 levels with a gap after each: NoSegment, then 1, NoSegment, 2 ...
    SegmentLimits limits;
    limits.lower.assign(17, 0);
    limits.upper.assign(17, 0);
    for (int k = 1; k <= 16; ++k) {
        limits.lower[k] = 5 + 15 * (k - 1);
        limits.upper[k] = limits.lower[k] + 9;
    }
    const SegmentLookup lookup = SegmentLookupTable(limits);
    const GraySteps steps = MakeGraySteps(lookup);
    ASSERT_TRUE(steps.Usable());
    EXPECT_EQ(32, steps.count);
    EXPECT_TRUE(steps.fill);  // NoSegment from the last segment's end to 255
    for (int g = 0; g < 256; ++g) EXPECT_EQ(lookup[g], steps.ValueAt(g)) << g;

    // Four equal segments over 10..200: NoSegment below, three rises, NoSegment above.
    const GraySteps four = MakeGraySteps(SegmentLookupTable(StrictoSensuLimits(10, 200, 4)));
    ASSERT_TRUE(four.Usable());
    EXPECT_EQ(NoSegment, four.base);
    EXPECT_EQ(3, four.rises);
    EXPECT_EQ(0, four.falls);
    EXPECT_EQ(1, four.jumps);  // NoSegment to 1 at level 10
    EXPECT_TRUE(four.fill);
    EXPECT_EQ(201, four.threshold[four.count - 1]);
}

TEST(GraySteps, TooManyChangesKeepTheLookUp) {
    std::array<uint8_t, 256> table;
    for (int g = 0; g < 256; ++g) table[g] = static_cast<uint8_t>(g / 7);  // 36 changes
    EXPECT_FALSE(MakeGraySteps(table).Usable());
    EXPECT_FALSE(MakeGraySteps(table, 40).Usable());  // never more than the maximum
    std::array<uint8_t, 256> flat;
    flat.fill(NoSegment);
    const GraySteps none = MakeGraySteps(flat);
    ASSERT_TRUE(none.Usable());
    EXPECT_EQ(0, none.count);
    EXPECT_EQ(NoSegment, none.ValueAt(0));
}

TEST(GraySteps, RandomTablesOfFewChangesAreHeldExactly) {
    std::mt19937 random(11);
    for (int trial = 0; trial < 300; ++trial) {
        const int changes = trial % 40;
        const std::array<uint8_t, 256> table = RandomChanges(random, changes);
        const GraySteps steps = MakeGraySteps(table);
        int actual = 0;
        for (int g = 1; g < 256; ++g) actual += table[g] != table[g - 1];
        ASSERT_EQ(actual <= GraySteps::kMaximumSteps, steps.Usable()) << trial;
        if (!steps.Usable()) continue;
        for (int g = 0; g < 256; ++g) ASSERT_EQ(table[g], steps.ValueAt(g)) << trial << " " << g;
    }
}

TEST(SegmentLines, TypedSegmentsOfAnyKindNumberAsTheLookUp) {
    std::mt19937 random(5);
    for (int segments : {1, 2, 3, 4, 7, 12, 16, 17, 30, 60}) {
        for (int trial = 0; trial < 3; ++trial) {
            SCOPED_TRACE(testing::Message() << segments << " segments, trial " << trial);
            ExpectLinesMatch(random, RandomLookup(random, segments));
        }
    }
    for (int segments : {1, 4, 16, 100, 254}) {
        SCOPED_TRACE(testing::Message() << segments << " equal segments");
        ExpectLinesMatch(random, SegmentLookupTable(StrictoSensuLimits(3, 250, segments)));
    }
    // Tables no segmentation makes: the step form holds any table of few changes.
    for (int changes : {0, 1, 5, 31, 32, 33})
        ExpectLinesMatch(random, RandomChanges(random, changes));
}

TEST(SegmentLines, MatricesOfDifferentWidthsNumberTheirCommonPart) {
    const SegmentLookup lookup = SegmentLookupTable(StrictoSensuLimits(0, 255, 4));
    ByteMatrix pixels = *NewByteMatrix(70, 3);
    for (size_t i = 0; i < pixels.Size(); ++i) pixels.Data()[i] = static_cast<uint8_t>(i * 37);
    ByteMatrix numbers = *NewByteMatrix(40, 2);
    NumberSegments(pixels, lookup, numbers);
    for (int y = 0; y < 2; ++y)
        for (int x = 0; x < 40; ++x)
            ASSERT_EQ(lookup[pixels[y][x]], numbers[y][x]) << y << " " << x;
}

}  // namespace
}  // namespace tessera
