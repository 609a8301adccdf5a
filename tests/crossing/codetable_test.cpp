#include "crossing/codetable.h"

#include <gtest/gtest.h>

#include <vector>

#include "testfiles.h"

namespace tessera {
namespace {

using testing_support::ReadText;
using testing_support::ScratchDir;

CodeTable Build(const std::vector<int32_t>& counts) {
    Result<CodeTable> table = BuildCodeTable(counts);
    EXPECT_TRUE(table) << table.message;
    return table ? *table.value : CodeTable{};
}

std::vector<int> DigitsOf(const CodeTable& table, int code) {
    std::vector<int> digits;
    for (int b = 1; b <= table.BandCount(); ++b) digits.push_back(table.Digits(code, b));
    return digits;
}

TEST(CodeTable, ThreeByFourInMixedRadixOrder) {
    const CodeTable table = Build({0, 3, 4});
    EXPECT_EQ(12, table.CodeCount);
    EXPECT_EQ(2, table.BandCount());
    EXPECT_EQ((std::vector<int>{1, 1}), DigitsOf(table, 1));
    EXPECT_EQ((std::vector<int>{1, 2}), DigitsOf(table, 2));
    EXPECT_EQ((std::vector<int>{1, 4}), DigitsOf(table, 4));
    EXPECT_EQ((std::vector<int>{2, 1}), DigitsOf(table, 5));
    EXPECT_EQ((std::vector<int>{3, 4}), DigitsOf(table, 12));
    EXPECT_EQ(4, table.Weight(1));
    EXPECT_EQ(1, table.Weight(2));
}

TEST(CodeTable, SingleSegmentBandContributesDigitOne) {
    const CodeTable table = Build({0, 2, 1, 3});
    ASSERT_EQ(6, table.CodeCount);
    const std::vector<std::vector<int>> expected = {{1, 1, 1}, {1, 1, 2}, {1, 1, 3},
                                                    {2, 1, 1}, {2, 1, 2}, {2, 1, 3}};
    for (int code = 1; code <= 6; ++code) EXPECT_EQ(expected[code - 1], DigitsOf(table, code));
}

TEST(CodeTable, CodeOfInvertsTheDigitsAndRefusesOutOfRangeDigits) {
    const CodeTable table = Build({0, 3, 1, 4, 2});
    ASSERT_EQ(24, table.CodeCount);
    for (int code = 1; code <= table.CodeCount; ++code) {
        int digits[5] = {0};
        for (int b = 1; b <= 4; ++b) digits[b] = table.Digits(code, b);
        EXPECT_EQ(code, table.CodeOf(digits));
    }
    const int zero[5] = {0, 0, 1, 1, 1};
    const int tooHigh[5] = {0, 3, 1, 5, 1};
    const int noSegment[5] = {0, 1, 255, 1, 1};
    EXPECT_EQ(0, table.CodeOf(zero));
    EXPECT_EQ(0, table.CodeOf(tooHigh));
    EXPECT_EQ(0, table.CodeOf(noSegment));
}

TEST(CodeTable, LargestTableIsAcceptedOneMoreIsRefused) {
    const Result<CodeTable> largest = BuildCodeTable({0, 4096, 4096});
    ASSERT_TRUE(largest) << largest.message;
    EXPECT_EQ(16777216, largest.value->CodeCount);
    EXPECT_EQ((std::vector<int>{4096, 4096}), DigitsOf(*largest.value, 16777216));

    EXPECT_FALSE(BuildCodeTable({0, 4096, 4097}));
}

TEST(CodeTable, RefusalGivesTheExactProduct) {
    // 254^10 does not fit 64 bits: the text must still give the right number.
    const Result<CodeTable> refused = BuildCodeTable(std::vector<int32_t>(11, 254));
    ASSERT_FALSE(refused);
    EXPECT_NE(std::string::npos, refused.message.find("1117730665547154976408576"))
        << refused.message;
    EXPECT_NE(std::string::npos, refused.message.find("16777216")) << refused.message;
}

TEST(CodeTable, SparseTablesReachTwoToThe64AndRefuseMoreWithTheirSize) {
    // 3 segments on 20 bands: past 32 bits, counted where codes occur.
    const Result<CodeTable> twenty = BuildCodeTable(std::vector<int32_t>(21, 3), true);
    ASSERT_TRUE(twenty) << twenty.message;
    EXPECT_TRUE(twenty.value->Sparse());
    EXPECT_EQ("3486784401", twenty.value->TotalText());
    EXPECT_EQ(0, twenty.value->CodeCount);  // nothing counted yet
    // Up to the dense limit a table stays dense, sparse allowed or not.
    EXPECT_FALSE(BuildCodeTable({0, 4096, 4096}, true).value->Sparse());

    // 4 segments on 32 bands: exactly 2^64 codes, the last one's offset all ones.
    const Result<CodeTable> whole = BuildCodeTable(std::vector<int32_t>(33, 4), true);
    ASSERT_TRUE(whole) << whole.message;
    EXPECT_EQ("18446744073709551616", whole.value->TotalText());
    CodeTable table = *whole.value;
    table.Hold({0, 0, ~CodeOffset{0}});
    EXPECT_EQ(2, table.CodeCount);
    EXPECT_EQ("18446744073709551616", table.CodeText(2));
    EXPECT_EQ("1", table.CodeText(1));
    for (int b = 1; b <= 32; ++b) {
        EXPECT_EQ(4, table.Digits(2, b));
        EXPECT_EQ(1, table.Digits(1, b));
    }
    // A first band of one segment in a table of 2^64 codes.
    std::vector<int32_t> oneFirst(34, 4);
    oneFirst[1] = 1;
    const Result<CodeTable> single = BuildCodeTable(oneFirst, true);
    ASSERT_TRUE(single) << single.message;
    EXPECT_EQ(1, single.value->DigitOfOffset(~CodeOffset{0}, 1));
    EXPECT_EQ(4, single.value->DigitOfOffset(~CodeOffset{0}, 2));

    std::vector<int32_t> past(33, 4);
    past[32] = 5;
    const Result<CodeTable> refused = BuildCodeTable(past, true);
    ASSERT_FALSE(refused);
    EXPECT_NE(std::string::npos, refused.message.find("= 23058430092136939520 codes, more than "
                                                      "the 18446744073709551616"))
        << refused.message;
}

TEST(CodeTable, SparseCodeListHoldsTheCodesThatOccurOnly) {
    std::vector<int32_t> counts(21, 3);
    counts[20] = 12;  // digits of two figures
    const Result<CodeTable> built = BuildCodeTable(counts, true);
    ASSERT_TRUE(built) << built.message;
    CodeTable table = *built.value;
    // Codes 1, 12 (last band 12) and the last code 3^19 x 12.
    table.Hold({0, 0, 11, 13947137603ULL});
    const std::string ones = "1\t1\t1\t1\t1\t1\t1\t1\t1\t1\t1\t1\t1\t1\t1\t1\t1\t1\t1\t";
    const std::string threes = "3\t3\t3\t3\t3\t3\t3\t3\t3\t3\t3\t3\t3\t3\t3\t3\t3\t3\t3\t";
    EXPECT_EQ("1\t" + ones + "1\t\n" + "12\t" + ones + "12\t\n" + "13947137604\t" + threes +
                  "12\t\n" + "11111111111111111111\t11111111111111111122\t" +
                  "33333333333333333342\t",
              MultiTabText(table));
}

TEST(CodeTable, RefusesABandWithoutSegments) {
    EXPECT_FALSE(BuildCodeTable({0, 3, 0}));
    EXPECT_FALSE(BuildCodeTable({0, -2, 3}));
    EXPECT_FALSE(BuildCodeTable({0}));
}

TEST(MultiTab, TwoBandsOfTwoSegmentsByteForByte) {
    EXPECT_EQ("1\t1\t1\t\n2\t1\t2\t\n3\t2\t1\t\n4\t2\t2\t\n11\t12\t21\t22\t",
              MultiTabText(Build({0, 2, 2})));
}

TEST(MultiTab, DigitNumbersOfTenBandsExceed32Bits) {
    const std::string text = MultiTabText(Build(std::vector<int32_t>(11, 2)));
    // The last code (all twos) ends the file; 2222222222 does not fit a 32-bit integer.
    const std::string ending = "\t2222222222\t";
    ASSERT_GE(text.size(), ending.size());
    EXPECT_EQ(ending, text.substr(text.size() - ending.size()));
    EXPECT_EQ(0u,
              text.find("1\t1\t1\t1\t1\t1\t1\t1\t1\t1\t1\t\n2\t1\t1\t1\t1\t1\t1\t1\t1\t1\t2\t\n"));
}

TEST(MultiTab, EveryLineAsTheDigitsGiveIt) {
    // Digits of one to three characters, code numbers that gain a character, three bands.
    for (const std::vector<int32_t>& counts :
         {std::vector<int32_t>{0, 12, 3, 11}, std::vector<int32_t>{0, 254, 2},
          std::vector<int32_t>{0, 1, 7, 1, 13}}) {
        const CodeTable table = Build(counts);
        std::string lines, numbers;
        for (int code = 1; code <= table.CodeCount; ++code) {
            lines += std::to_string(code) + "\t";
            int64_t number = 0;
            for (int digit : DigitsOf(table, code)) {
                lines += std::to_string(digit) + "\t";
                number = number * 10 + digit;
            }
            lines += "\n";
            numbers += std::to_string(number) + "\t";
        }
        EXPECT_EQ(lines + numbers, MultiTabText(table)) << table.CodeCount << " codes";
    }
}

TEST(MultiTab, ListOfManyPiecesAsTheDigitsGiveIt) {
    // Four megabytes: the file goes out in several pieces, lines and numbers cut between them.
    ScratchDir dir;
    const CodeTable table = Build({0, 3, 254, 7, 40});
    std::string expected;
    for (int code = 1; code <= table.CodeCount; ++code) {
        expected += std::to_string(code) + "\t";
        for (int digit : DigitsOf(table, code)) expected += std::to_string(digit) + "\t";
        expected += "\n";
    }
    for (int code = 1; code <= table.CodeCount; ++code) {
        int64_t number = 0;
        for (int digit : DigitsOf(table, code)) number = number * 10 + digit;
        expected += std::to_string(number) + "\t";
    }
    ASSERT_GT(expected.size(), size_t{4} << 20);
    const std::string path = dir.File("multi_tab.txt");
    ASSERT_TRUE(WriteMultiTab(path, table));
    EXPECT_TRUE(expected == ReadText(path));
    EXPECT_TRUE(expected == MultiTabText(table));
}

TEST(MultiTab, WrittenFileHoldsTheSameBytes) {
    ScratchDir dir;
    // More codes than one piece of the streamed writer holds.
    const CodeTable table = Build({0, 254, 254});
    const std::string path = dir.File("multi_tab.txt");
    ASSERT_TRUE(WriteMultiTab(path, table));
    EXPECT_EQ(MultiTabText(table), ReadText(path));

    EXPECT_FALSE(WriteMultiTab(dir.File("no-such-folder/multi_tab.txt"), table));
}

}  // namespace
}  // namespace tessera
