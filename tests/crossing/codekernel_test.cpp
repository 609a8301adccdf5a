#include <gtest/gtest.h>

#include <random>
#include <vector>

#include "kernels.h"

#include "crossing/crossing.h"

namespace tessera {
namespace {
using testing_support::ForEachIsa;
using testing_support::RandomLookup;

// Lines of `columns` random gray levels per band, each starting `offset` bytes into a buffer of
// exactly its size (a read past the line's end is a read past the buffer).
struct Lines {
    Lines(std::mt19937& random, int bands, int columns, int offset) {
        for (int b = 0; b < bands; ++b) {
            buffers.emplace_back(static_cast<size_t>(columns + offset));
            // Runs of equal levels as well as noise.
            uint8_t level = static_cast<uint8_t>(random());
            for (uint8_t& g : buffers.back()) {
                if (random() % 4 == 0) level = static_cast<uint8_t>(random());
                g = level;
            }
            values.push_back(buffers.back().data() + offset);
        }
    }
    std::vector<std::vector<uint8_t>> buffers;
    std::vector<const uint8_t*> values;
};

// The kernel's codes against the tables' sums for lines of 0..67 pixels and a longer one, at
// unaligned starts, with every instruction set; the codes are also those of the code table.
void ExpectSameCodes(std::mt19937& random, const std::vector<CodeContribution>& byGray,
                     const CodeKernel& kernel) {
    const int n = static_cast<int>(byGray.size()) - 1;
    std::vector<const CodeContribution*> tables;
    for (int b = 1; b <= n; ++b) tables.push_back(&byGray[b]);
    ForEachIsa([&](KernelIsa isa) {
        for (int columns = 0; columns <= 68; ++columns) {
            const int width = columns == 68 ? 1000 + static_cast<int>(random() % 100) : columns;
            const Lines lines(random, n, width, columns % 5);
            std::vector<int32_t> expected(static_cast<size_t>(width) + 4, -7), codes(expected);
            FormCodes(tables.data(), lines.values.data(), n, width, expected.data());
            FormCodes(kernel, lines.values.data(), width, codes.data());
            ASSERT_EQ(expected, codes) << width << " pixels, isa " << static_cast<int>(isa);
        }
    });
}

TEST(CodeKernel, CodesOfTypedSegmentationsAreTheTablesCodes) {
    std::mt19937 random(3);
    for (int trial = 0; trial < 40; ++trial) {
        const int n = 2 + trial % 9;
        std::vector<int32_t> counts{0};
        int64_t product = 1;
        for (int b = 1; b <= n; ++b) {
            // Mostly few segments, now and then more than the step form takes.
            int count = 1 + static_cast<int>(random() % 6);
            if (random() % 7 == 0) count = 17 + static_cast<int>(random() % 40);
            if (product * count > kMaximumCodeCount) count = 1;
            product *= count;
            counts.push_back(count);
        }
        const CodeTable table = *BuildCodeTable(counts).value;
        const std::vector<CodeContribution> bySegment = SegmentContributions(table);
        std::vector<CodeContribution> byGray(static_cast<size_t>(n) + 1);
        std::vector<SegmentLookup> lookups(byGray.size());
        for (int b = 1; b <= n; ++b) {
            lookups[b] = random() % 3 == 0 ? SegmentLookupTable(StrictoSensuLimits(
                                                 static_cast<int>(random() % 60), 200, counts[b]))
                                           : RandomLookup(random, counts[b], 80);
            byGray[b] = GrayContribution(bySegment[b], lookups[b]);
        }
        const CodeKernel kernel = MakeCodeKernel(byGray);
        ASSERT_TRUE(kernel.byDigits) << trial;
        SCOPED_TRACE(testing::Message() << "trial " << trial << ", " << n << " bands");
        ExpectSameCodes(random, byGray, kernel);

        // A line's codes are those the code table gives its digits.
        const Lines lines(random, n, 100, 1);
        std::vector<int32_t> codes(100);
        FormCodes(kernel, lines.values.data(), 100, codes.data());
        for (int x = 0; x < 100; ++x) {
            std::vector<int> digits(static_cast<size_t>(n) + 1, 0);
            for (int b = 1; b <= n; ++b) digits[b] = lookups[b][lines.values[b - 1][x]];
            ASSERT_EQ(table.CodeOf(digits.data()), codes[x]) << x;
        }
    }
}

// Tables of digit x weight not made from a code table: weights above 16 bits, bands of one
// segment, bands without any segment, digits up to 254.
TEST(CodeKernel, LargeWeightsAndEmptyBandsGiveTheTablesCodes) {
    std::mt19937 random(8);
    const int32_t none = -(int32_t{1} << 26);
    for (int trial = 0; trial < 30; ++trial) {
        const int n = 1 + trial % 5;
        std::vector<CodeContribution> byGray(static_cast<size_t>(n) + 1);
        int64_t room = (int64_t{1} << 26) - 1;  // the sum of the largest entries stays below
        for (int b = 1; b <= n; ++b) {
            const int kind = static_cast<int>(random() % 4);
            const int largest = kind == 0   ? 0
                                : kind == 1 ? 254
                                            : 1 + static_cast<int>(random() % 9);
            const int64_t weight =
                largest == 0
                    ? 1
                    : std::max<int64_t>(1, (room / (n + 1 - b)) / largest >> (random() % 12));
            room -= largest * weight;
            const int lower = static_cast<int>(random() % 40),
                      upper = 200 + static_cast<int>(random() % 56);
            for (int g = 0; g < 256; ++g) {
                if (kind == 3 && trial % 2 == 0) {
                    byGray[b][g] = none;  // no gray level has a segment
                } else if (g < lower || g > upper) {
                    byGray[b][g] = none;
                } else {
                    const int digit = largest == 0 ? 0
                                                   : static_cast<int>(g - lower) * (largest + 1) /
                                                         (upper - lower + 1);
                    byGray[b][g] = static_cast<int32_t>(digit * weight);
                }
            }
        }
        const CodeKernel kernel = MakeCodeKernel(byGray);
        ASSERT_TRUE(kernel.byDigits) << trial;
        SCOPED_TRACE(testing::Message() << "trial " << trial);
        ExpectSameCodes(random, byGray, kernel);
    }
}

// Tables of no such form, or whose sums would not tell a missing segment, are summed.
TEST(CodeKernel, OtherTablesAreSummedAsTheyAre) {
    std::mt19937 random(21);
    std::vector<CodeContribution> byGray(4);
    for (int b = 1; b <= 3; ++b)
        for (int32_t& value : byGray[b]) value = static_cast<int32_t>(random() % 2000) - 1000;
    const CodeKernel random3 = MakeCodeKernel(byGray);
    EXPECT_FALSE(random3.byDigits);
    ExpectSameCodes(random, byGray, random3);

    // -1 for no segment: another band's digit outweighs it, so the sum is not negative.
    std::vector<CodeContribution> weak(3);
    for (int g = 0; g < 256; ++g) {
        weak[1][g] = g < 100 ? -1 : (g / 100) * 3;
        weak[2][g] = g < 50 ? -1 : g % 3;
    }
    const CodeKernel weakKernel = MakeCodeKernel(weak);
    EXPECT_FALSE(weakKernel.byDigits);
    ExpectSameCodes(random, weak, weakKernel);

    // No band at all: nothing written.
    const CodeKernel empty = MakeCodeKernel({});
    int32_t code = 5;
    FormCodes(empty, nullptr, 1, &code);
    EXPECT_EQ(5, code);
}

}  // namespace
}  // namespace tessera
