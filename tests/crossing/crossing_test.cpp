#include "crossing/crossing.h"

#include <gtest/gtest.h>

#include <vector>

#include "matrices.h"

namespace tessera {
namespace {
using testing_support::Bytes;
using testing_support::Ints;

TEST(CountCodes, CodesComeFromTheDigitsAndInvalidTuplesCountAsNoCode) {
    const CodeTable table = *BuildCodeTable({0, 3, 4}).value;
    // Band 2 has 4 segments: 5, 0 and NoSegment form no code.
    const ByteMatrix band1 = Bytes({{1, 1, 2, 3}, {3, 1, 255, 2}});
    const ByteMatrix band2 = Bytes({{1, 4, 1, 4}, {4, 5, 2, 0}});
    const std::optional<CodeCounts> counts = CountCodes({&band1, &band2}, table);
    ASSERT_TRUE(counts);
    EXPECT_EQ(Ints({{1, 4, 5, 12}, {12, 0, 0, 0}}), counts->codeImage);

    std::vector<int64_t> expected(13, 0);
    expected[0] = 3;  // pixels without a code
    expected[1] = 1;
    expected[4] = 1;
    expected[5] = 1;
    expected[12] = 2;
    EXPECT_EQ(expected, counts->pixelCount);
}

TEST(CountCodes, TenBandsAgreeWithTheCodeTable) {
    std::vector<int32_t> segmentCounts{0, 2, 3, 1, 4, 2, 2, 3, 1, 2, 5};
    const CodeTable table = *BuildCodeTable(segmentCounts).value;
    // One pixel per code 1..N in a single line, its digits taken from the table itself.
    std::vector<ByteMatrix> bands;
    for (int b = 1; b <= 10; ++b) {
        ByteMatrix m = *NewByteMatrix(table.CodeCount, 1);
        for (int code = 1; code <= table.CodeCount; ++code)
            m[0][code - 1] = static_cast<uint8_t>(table.Digits(code, b));
        bands.push_back(std::move(m));
    }
    std::vector<const ByteMatrix*> pointers;
    for (const ByteMatrix& m : bands) pointers.push_back(&m);
    const std::optional<CodeCounts> counts = CountCodes(pointers, table);
    ASSERT_TRUE(counts);
    for (int code = 1; code <= table.CodeCount; ++code) {
        EXPECT_EQ(code, counts->codeImage[0][code - 1]);
        EXPECT_EQ(1, counts->pixelCount[code]);
    }
    EXPECT_EQ(0, counts->pixelCount[0]);
}

TEST(CountCodes, RefusesMatricesThatDoNotMatch) {
    const CodeTable table = *BuildCodeTable({0, 2, 2}).value;
    const ByteMatrix small = Bytes({{1, 1}});
    const ByteMatrix wide = Bytes({{1, 1, 1}});
    EXPECT_FALSE(CountCodes({&small, &wide}, table));
    EXPECT_FALSE(CountCodes({&small}, table));
}

TEST(Selection, MinimumIsExclusive) {
    // Codes 1..5 with 0, 5, 6, 0, 7 pixels.
    const std::vector<int64_t> pixels{9, 0, 5, 6, 0, 7};
    EXPECT_EQ((std::vector<int32_t>{0, 3, 5}), SelectByMinimum(pixels, 5));
    EXPECT_EQ(2, CountRetained(pixels, 5));
    EXPECT_EQ((std::vector<int32_t>{0, 2, 3, 5}), SelectByMinimum(pixels, 0));
    EXPECT_EQ(3, CountRetained(pixels, 0));
    // A negative minimum keeps codes without pixels too; entry 0 (no code) is never a class.
    EXPECT_EQ((std::vector<int32_t>{0, 1, 2, 3, 4, 5}), SelectByMinimum(pixels, -1));
    EXPECT_EQ(5, CountRetained(pixels, -1));
    EXPECT_EQ((std::vector<int32_t>{0}), SelectByMinimum(pixels, 7));
    EXPECT_EQ(0, CountRetained(pixels, 7));
}

TEST(Selection, AllCodesIncludesEmptyOnes) {
    EXPECT_EQ((std::vector<int32_t>{0, 1, 2, 3}), SelectAll(3));
}

TEST(Selection, ANegativeMinimumKeepsNoneOnlyBeyond250Codes) {
    const std::vector<int64_t> few{0, 0, 5, 6};
    EXPECT_EQ((std::vector<int32_t>{0, 1, 2, 3}), SelectCodes(few, {false, -1}));
    EXPECT_EQ(3, CountSelected(few, {false, -1}));
    EXPECT_EQ((std::vector<int32_t>{0, 1, 2, 3}), SelectCodes(few, {true, 6}));

    std::vector<int64_t> many(252, 1);  // codes 1..251 of one pixel each
    EXPECT_EQ((std::vector<int32_t>{0}), SelectCodes(many, {false, -1}));
    EXPECT_EQ(0, CountSelected(many, {false, -1}));
    EXPECT_EQ(251, CountSelected(many, {false, 0}));
    EXPECT_EQ(251, CountSelected(many, {true, -1}));
    EXPECT_EQ(252u, SelectCodes(many, {true, -1}).size());
}

TEST(ClassColours, DrawnRedGreenBlueWithWhiteEndsAndZeroSpare) {
    RandomBelow random;
    random(7);  // the sequence continues from wherever it is
    RandomBelow replay = random;
    const ColourTable table = BuildClassColourTable(random);
    EXPECT_EQ(763u, random.DrawCount());
    for (int value = 1; value <= 254; ++value) {
        EXPECT_EQ(replay(254), table[value].red) << value;
        EXPECT_EQ(replay(254), table[value].green) << value;
        EXPECT_EQ(replay(254), table[value].blue) << value;
        EXPECT_EQ(value, table[value].index);
        EXPECT_EQ(0, table[value].spare);
    }
    EXPECT_EQ((ColourEntry{255, 255, 255, 0, 0}), table[0]);
    EXPECT_EQ(255, table[255].blue);
    EXPECT_EQ(255, table[255].green);
    EXPECT_EQ(255, table[255].red);
    EXPECT_EQ(0, table[255].spare);
}

TEST(ClassColours, BeyondA254ColourTableTheDrawsGoOnAndTheFirstColoursStay) {
    RandomBelow random;
    const ColourTable first = BuildClassColourTable(random);
    RandomBelow replay = random;
    const std::vector<ColourEntry> wide = WideClassColours(first, 300, random);
    ASSERT_EQ(301u, wide.size());
    EXPECT_EQ(first[0], wide[0]);
    for (int value = 1; value <= 254; ++value) EXPECT_EQ(first[value], wide[value]) << value;
    for (int value = 255; value <= 300; ++value) {
        EXPECT_EQ(replay(254), wide[value].red) << value;
        EXPECT_EQ(replay(254), wide[value].green) << value;
        EXPECT_EQ(replay(254), wide[value].blue) << value;
        EXPECT_EQ(value, wide[value].index);
    }
    EXPECT_EQ(replay.DrawCount(), random.DrawCount());
    // Up to 254 classes nothing more is drawn.
    const uint64_t before = random.DrawCount();
    EXPECT_EQ(201u, WideClassColours(first, 200, random).size());
    EXPECT_EQ(before, random.DrawCount());
}

TEST(ClassImage, SixteenBitClassesReachPast255AndMarkTheRestNoWideClass) {
    // 300 codes, every other one kept: code 600 is class 300; codes out of the table none.
    std::vector<int32_t> selected{0};
    for (int32_t code = 2; code <= 600; code += 2) selected.push_back(code);
    const std::vector<uint16_t> classOf = WideClassOfCode(selected, 600);
    const int32_t codes[] = {0, 1, 2, 510, 512, 600, 601, -3};
    uint16_t classes[8] = {};
    ClassifyLine(codes, 8, classOf, classes);
    const std::vector<uint16_t> expected{NoWideClass, NoWideClass, 1, 255, 256, 300,
                                         NoWideClass, NoWideClass};
    EXPECT_EQ(expected, std::vector<uint16_t>(classes, classes + 8));
}

TEST(ClassImage, RetainedCodesBecomeClassesOthersNoClass) {
    // Code 3 is eliminated, 0 is no code, 99 lies beyond the table.
    const IntMatrix codes = Ints({{0, 2, 3}, {4, 2, 99}});
    const std::optional<ByteMatrix> classes = MakeClassImage(codes, {0, 2, 4}, 5);
    ASSERT_TRUE(classes);
    EXPECT_EQ(Bytes({{255, 1, 255}, {2, 1, 255}}), *classes);

    const std::optional<ByteMatrix> none = MakeClassImage(codes, {0}, 5);
    ASSERT_TRUE(none);
    EXPECT_EQ(Bytes({{255, 255, 255}, {255, 255, 255}}), *none);
}

TEST(ClassImage, EveryPixelHasOneClassAndClassSizesMatchTheCounts) {
    const CodeTable table = *BuildCodeTable({0, 3, 3}).value;
    ByteMatrix band1 = *NewByteMatrix(17, 11);
    ByteMatrix band2 = *NewByteMatrix(17, 11);
    for (int y = 0; y < 11; ++y)
        for (int x = 0; x < 17; ++x) {
            band1[y][x] = static_cast<uint8_t>((x * 7 + y * 3) % 4);  // 0 forms no code
            band2[y][x] = static_cast<uint8_t>(1 + (x + y * y) % 3);
        }
    const CodeCounts counts = *CountCodes({&band1, &band2}, table);
    const std::vector<int32_t> selected = SelectByMinimum(counts.pixelCount, 10);
    const ByteMatrix classes = *MakeClassImage(counts.codeImage, selected, table.CodeCount);

    std::vector<int64_t> perClass(256, 0);
    for (int y = 0; y < 11; ++y)
        for (int x = 0; x < 17; ++x) {
            const int k = classes[y][x];
            ++perClass[k];
            if (k != NoClass) {
                ASSERT_LT(k, static_cast<int>(selected.size()));
                EXPECT_EQ(selected[k], counts.codeImage[y][x]);
            }
        }
    int64_t classified = 0;
    for (size_t k = 1; k < selected.size(); ++k) {
        EXPECT_EQ(counts.pixelCount[selected[k]], perClass[k]) << k;
        classified += perClass[k];
    }
    EXPECT_EQ(11 * 17, classified + perClass[NoClass]);
    EXPECT_GT(perClass[NoClass], 0);
}

}  // namespace
}  // namespace tessera
