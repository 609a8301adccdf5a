#include "crossing/sparsecount.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <map>
#include <random>
#include <vector>

#include "crossing/crossing.h"

namespace tessera {
namespace {

constexpr CodeOffset kLast = ~CodeOffset{0};  // the last offset of a table of 2^64 codes

std::vector<CodePixels> Merged(std::vector<std::vector<CodePixels>> parts) {
    return MergeSparseCounts(std::move(parts));
}

TEST(SparseCount, MergeIsAscendingAndTheSameWhateverTheOrderOfTheParts) {
    const std::vector<CodePixels> a{{kLast, 2}, {7, 1}, {3000000000ULL, 5}};
    const std::vector<CodePixels> b{{7, 4}, {0, 1}};
    const std::vector<CodePixels> c{{3000000000ULL, 1}, {kLast, 1}, {12, 3}};
    const std::vector<CodePixels> expected{
        {0, 1}, {7, 5}, {12, 3}, {3000000000ULL, 6}, {kLast, 3}};
    EXPECT_EQ(expected, Merged({a, b, c}));
    EXPECT_EQ(expected, Merged({c, a, b}));
    std::vector<CodePixels> shuffled = a;
    std::reverse(shuffled.begin(), shuffled.end());
    EXPECT_EQ(expected, Merged({b, shuffled, c, {}}));
    EXPECT_TRUE(Merged({}).empty());
}

TEST(SparseCount, CounterKeepsEveryCodeAsItGrows) {
    // Runs of one code, codes far apart, and far more codes than the first table holds.
    std::mt19937_64 random(5);
    std::vector<CodeOffset> offsets;
    std::vector<uint8_t> hasCode;
    std::map<CodeOffset, int64_t> expected;
    int64_t expectedNoCode = 0;
    for (int x = 0; x < 20000; ++x) {
        const CodeOffset offset = x % 7 == 0 ? kLast : (random() % 5000) * 1000003ULL;
        const int run = 1 + static_cast<int>(random() % 3);
        for (int r = 0; r < run; ++r) {
            const bool has = random() % 11 != 0;
            offsets.push_back(offset);
            hasCode.push_back(has ? 1 : 0);
            if (has)
                ++expected[offset];
            else
                ++expectedNoCode;
        }
    }
    SparseCounter counter;
    EXPECT_EQ(expectedNoCode,
              counter.AddLine(offsets.data(), hasCode.data(), static_cast<int>(offsets.size())));
    EXPECT_EQ(expected.size(), counter.Size());
    const std::vector<CodePixels> counted = Merged({counter.Entries()});
    EXPECT_EQ(std::vector<CodePixels>(expected.begin(), expected.end()), counted);
}

TEST(SparseCount, OffsetsAreTheCodesOfADenseTableLessOne) {
    // Ten bands of 4 segments, one band of 1: the dense kernel and the sparse one agree on
    // every pixel, gray levels without a segment included.
    std::vector<int32_t> counts{0, 4, 4, 4, 4, 1, 4, 4, 4, 4, 4};
    const int n = static_cast<int>(counts.size()) - 1;
    const Result<CodeTable> table = BuildCodeTable(counts, true);
    ASSERT_TRUE(table) << table.message;
    ASSERT_FALSE(table.value->Sparse());
    std::vector<SegmentLookup> lookups(static_cast<size_t>(n) + 1);
    for (int b = 1; b <= n; ++b)
        for (int gray = 0; gray < 256; ++gray)
            lookups[b][gray] = gray < 10 ? NoSegment
                                         : static_cast<uint8_t>(1 + (gray * counts[b]) / 256);
    const std::vector<CodeContribution> bySegment = SegmentContributions(*table.value);
    std::vector<CodeContribution> byGray(static_cast<size_t>(n) + 1);
    for (int b = 1; b <= n; ++b) byGray[b] = GrayContribution(bySegment[b], lookups[b]);
    const CodeKernel kernel = MakeCodeKernel(byGray);
    const OffsetKernel offsetKernel = MakeOffsetKernel(*table.value, lookups);

    constexpr int kColumns = 777;
    std::mt19937 random(9);
    std::vector<std::vector<uint8_t>> lines(static_cast<size_t>(n), std::vector<uint8_t>(kColumns));
    std::vector<const uint8_t*> values;
    for (auto& line : lines) {
        for (uint8_t& gray : line) gray = static_cast<uint8_t>(random() % 256);
        values.push_back(line.data());
    }
    std::vector<int32_t> codes(kColumns);
    std::vector<CodeOffset> offsets(kColumns);
    std::vector<uint8_t> hasCode(kColumns);
    FormCodes(kernel, values.data(), kColumns, codes.data());
    FormOffsets(offsetKernel, values.data(), kColumns, offsets.data(), hasCode.data());
    int withCode = 0;
    for (int x = 0; x < kColumns; ++x) {
        ASSERT_EQ(codes[x] != 0, hasCode[x] != 0) << x;
        if (codes[x] != 0) {
            EXPECT_EQ(static_cast<CodeOffset>(codes[x] - 1), offsets[x]) << x;
        }
        withCode += hasCode[x];
    }
    EXPECT_GT(withCode, 100);  // both cases met
    EXPECT_LT(withCode, kColumns);
}

TEST(SparseCount, ClassesOfOffsetsFindTheCodesKept) {
    const Result<CodeTable> built = BuildCodeTable(std::vector<int32_t>(21, 3), true);
    ASSERT_TRUE(built) << built.message;
    CodeTable table = *built.value;
    ASSERT_TRUE(table.Sparse());
    table.Hold({0, 5, 3000000000ULL, 3486784400ULL});
    // Classes 1 and 2 of the third and first codes held.
    const std::vector<OffsetClass> classes = ClassesByOffset(table, {0, 3, 1});
    const std::vector<OffsetClass> expected{{5, 2}, {3486784400ULL, 1}};
    EXPECT_EQ(expected, classes);
    // Runs of one code, broken by a pixel without one.
    const CodeOffset offsets[8] = {3000000000ULL, 5, 5, 3486784400ULL, 5, 5, 4, 4};
    const int32_t hasCode[8] = {1, 1, 1, 1, 0, 1, 1, 1};
    uint16_t out[8];
    ClassifyOffsets<uint16_t>(offsets, hasCode, 8, classes, NoWideClass, out);
    EXPECT_EQ((std::vector<uint16_t>{NoWideClass, 2, 2, 1, NoWideClass, 2, NoWideClass,
                                     NoWideClass}),
              std::vector<uint16_t>(out, out + 8));
}

TEST(SparseCount, MemoryRefusalNamesWhatTheCountWouldNeed) {
    // At most one code per pixel can occur: the need follows the pixels, not the table.
    EXPECT_EQ(SparseCountBytes(WideCount{1} << 64, 1000), SparseCountBytes(1000, 5000));
    EXPECT_LT(SparseCountBytes(10, 1000), SparseCountBytes(1000, 1000));
    const int64_t need = SparseCountBytes(3486784401ULL, int64_t{100000000});
    EXPECT_TRUE(SparseCountRefusal(3486784401ULL, 100000000, need).empty());
    EXPECT_TRUE(SparseCountRefusal(3486784401ULL, 100000000, 0).empty());  // unknown memory
    const std::string refused = SparseCountRefusal(3486784401ULL, 100000000, need - 1);
    EXPECT_NE(std::string::npos, refused.find("3486784401 codes of 100000000 pixels"))
        << refused;
    EXPECT_NE(std::string::npos, refused.find(std::to_string((need + (1 << 20) - 1) >> 20) +
                                              " MiB"))
        << refused;
}

}  // namespace
}  // namespace tessera
