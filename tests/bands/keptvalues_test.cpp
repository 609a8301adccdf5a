// The decoded values of a band kept block by block: windows that cut blocks and the band's
// edges read back what was kept, a window keeps only the blocks it holds whole, and the values
// in memory and in the temporary file are the same; the file is in no folder.
#include "bands/keptvalues.h"

#include <gtest/gtest.h>

#include <cstring>
#include <filesystem>
#include <vector>

#include "bands/graytable.h"
#include "testfiles.h"

namespace tessera {
namespace {

// A band of 11 lines x 13 columns in blocks of 4 x 5: edge blocks of 3 lines and 3 columns.
constexpr ImageSize kSize{11, 13};
double ValueAt(int y, int x) { return 1000 * y + x - 500; }

std::vector<double> Window(int first, int count, int x0, int width) {
    std::vector<double> values;
    for (int y = first; y < first + count; ++y)
        for (int x = x0; x < x0 + width; ++x) values.push_back(ValueAt(y, x));
    return values;
}

class KeptBlocks : public ::testing::TestWithParam<bool> {
  protected:
    std::unique_ptr<KeptValues> Make(KeptValues::Kind kind) {
        Result<std::unique_ptr<KeptValues>> made =
            KeptValues::Make(kSize, 4, 5, kind, GetParam() ? dir.path() : std::string());
        EXPECT_TRUE(made) << made.message;
        return made ? std::move(*made.value) : nullptr;
    }
    testing_support::ScratchDir dir;
};

TEST_P(KeptBlocks, WindowsAcrossBlocksAndEdgesReadBackWhatWasKept) {
    std::unique_ptr<KeptValues> kept = Make(KeptValues::Kind::I32);
    ASSERT_TRUE(kept);
    EXPECT_EQ(GetParam(), kept->Spilled());
    // The file is unlinked as soon as it is open: the folder lists nothing.
    EXPECT_TRUE(std::filesystem::is_empty(dir.path()));
    // Lines 1..6 do not hold the blocks of lines 0..3 or 4..7 whole: nothing is kept.
    ASSERT_TRUE(kept->Keep(1, 6, 0, 13, Window(1, 6, 0, 13).data()));
    EXPECT_FALSE(kept->Holds(4, 1, 0, 1));
    // Lines 4..10, columns 5..12: the blocks of lines 4..7 and 8..10, columns 5..9 and 10..12.
    ASSERT_TRUE(kept->Keep(4, 7, 5, 8, Window(4, 7, 5, 8).data()));
    EXPECT_TRUE(kept->Holds(4, 7, 5, 8));
    EXPECT_FALSE(kept->Holds(4, 7, 4, 9));
    EXPECT_FALSE(kept->Holds(3, 1, 5, 1));
    std::vector<double> read(3 * 6, -1);
    ASSERT_TRUE(kept->Read(7, 3, 6, 6, read.data()));  // across four blocks
    EXPECT_EQ(Window(7, 3, 6, 6), read);
    std::vector<double> outside(4, -1);
    EXPECT_FALSE(kept->Read(2, 2, 5, 2, outside.data()));
    // The rest of the band, then every line whole.
    ASSERT_TRUE(kept->Keep(0, 11, 0, 13, Window(0, 11, 0, 13).data()));
    std::vector<double> whole(11 * 13, -1);
    ASSERT_TRUE(kept->Read(0, 11, 0, 13, whole.data()));
    EXPECT_EQ(Window(0, 11, 0, 13), whole);
}

TEST_P(KeptBlocks, ABlockDecodedInPlaceIsKeptOnceAndAFailedDecodeLeavesItFree) {
    std::unique_ptr<KeptValues> kept = Make(KeptValues::Kind::I32);
    ASSERT_TRUE(kept);
    // The edge block of lines 8..10, columns 10..12: written whole, 4 rows of 5 values.
    const auto fill = [](uint8_t* block) {
        for (int r = 0; r < 4; ++r)
            for (int c = 0; c < 5; ++c) {
                const int32_t value = static_cast<int32_t>(ValueAt(8 + r, 10 + c));
                std::memcpy(block + (r * 5 + c) * 4, &value, 4);
            }
        return true;
    };
    int decodes = 0;
    const auto fails = [&](uint8_t*) { return ++decodes, false; };
    EXPECT_EQ(KeptValues::Filled::NotDecoded, kept->KeepBlock(2, 2, fails));
    EXPECT_FALSE(kept->Holds(8, 3, 10, 3));
    EXPECT_EQ(KeptValues::Filled::Kept, kept->KeepBlock(2, 2, fill));
    EXPECT_EQ(KeptValues::Filled::Kept, kept->KeepBlock(2, 2, fails));  // kept already
    EXPECT_EQ(1, decodes);
    std::vector<double> read(3 * 3, -1);
    ASSERT_TRUE(kept->Read(8, 3, 10, 3, read.data()));
    EXPECT_EQ(Window(8, 3, 10, 3), read);
}

TEST_P(KeptBlocks, SixteenBitValuesGoThroughTheTablesOfEveryValue) {
    std::unique_ptr<KeptValues> kept = Make(KeptValues::Kind::I16);
    ASSERT_TRUE(kept);
    ASSERT_TRUE(kept->Keep(0, 11, 0, 13, Window(0, 11, 0, 13).data()));
    // Gray: the value's low byte; mark: 1 for the odd values.
    std::vector<uint8_t> grayOf(65536), markOf(65536);
    for (int i = 0; i < 65536; ++i) {
        const int value = i - 32768;
        grayOf[static_cast<size_t>(i)] = static_cast<uint8_t>(value & 255);
        markOf[static_cast<size_t>(i)] = static_cast<uint8_t>(value & 1);
    }
    // Three lines of six columns into lines 20 bytes apart.
    std::vector<uint8_t> gray(3 * 20, 7), marks(3 * 6, 9);
    ASSERT_TRUE(kept->ReadThrough(2, 3, 4, 6, grayOf.data(), markOf.data(), -32768, gray.data(),
                                  20, marks.data()));
    for (int y = 0; y < 3; ++y)
        for (int x = 0; x < 6; ++x) {
            const int value = static_cast<int>(ValueAt(2 + y, 4 + x));
            EXPECT_EQ(value & 255, gray[static_cast<size_t>(y * 20 + x)]) << y << "," << x;
            EXPECT_EQ(value & 1, marks[static_cast<size_t>(y * 6 + x)]) << y << "," << x;
        }
    EXPECT_EQ(7, gray[6]);  // beyond the window's width: untouched
    // Values of 32 bits have no such tables.
    std::unique_ptr<KeptValues> wide = Make(KeptValues::Kind::F32);
    ASSERT_TRUE(wide->Keep(0, 11, 0, 13, Window(0, 11, 0, 13).data()));
    EXPECT_FALSE(wide->ReadThrough(0, 1, 0, 1, grayOf.data(), markOf.data(), 0, gray.data(), 20,
                                   nullptr));
}

// A table of every 16-bit value: gray the value's low byte; marked (`mark`) where `marked`.
template <class Marked>
std::shared_ptr<const GrayTable> TableOf(uint8_t mark, const Marked& marked) {
    auto table = std::make_shared<GrayTable>();
    table->lowest = -32768;
    table->gray.resize(65536);
    table->marks.resize(65536);
    for (int i = 0; i < 65536; ++i) {
        const int value = i - 32768;
        table->gray[static_cast<size_t>(i)] = static_cast<uint8_t>(value & 255);
        table->marks[static_cast<size_t>(i)] = marked(value) ? mark : 0;
    }
    return table;
}

TEST_P(KeptBlocks, GrayLevelsKeptInPlaceOfValuesReadAsTheTableGivesThem) {
    // Several values marked (looked up), one (compared), none.
    const std::shared_ptr<const GrayTable> tables[] = {
        TableOf(kNodataMark, [](int value) { return value % 3 == 0; }),
        TableOf(kNonFiniteMark, [](int value) { return value == static_cast<int>(ValueAt(9, 12)); }),
        TableOf(kNodataMark, [](int) { return false; })};
    for (const std::shared_ptr<const GrayTable>& table : tables) {
        std::unique_ptr<KeptValues> kept = Make(KeptValues::Kind::I16);
        ASSERT_TRUE(kept->Keep(0, 11, 0, 13, Window(0, 11, 0, 13).data()));
        const auto read = [&](int first, int count, int x0, int width) {
            std::vector<uint8_t> gray(static_cast<size_t>(count) * 20, 7);
            std::vector<uint8_t> marks(static_cast<size_t>(count) * width, 9);
            EXPECT_TRUE(kept->ReadThrough(first, count, x0, width, table->gray.data(),
                                          table->marks.data(), table->lowest, gray.data(), 20,
                                          marks.data()));
            gray.insert(gray.end(), marks.begin(), marks.end());
            return gray;
        };
        // Windows across blocks and to the band's edges, as the values give them.
        const std::vector<uint8_t> before[] = {read(0, 11, 0, 13), read(2, 7, 3, 9),
                                               read(8, 3, 11, 2)};
        ASSERT_EQ(!GetParam(), kept->KeepGrayLevels(table));
        if (GetParam()) continue;  // values spilled to a file stay values
        // Made gray levels block by block as they are read: part of the band first.
        EXPECT_EQ(before[1], read(2, 7, 3, 9));
        EXPECT_EQ(before[0], read(0, 11, 0, 13));
        EXPECT_EQ(before[2], read(8, 3, 11, 2));
        // Their values are gone: a caller decodes them again.
        std::vector<double> values(4);
        EXPECT_FALSE(kept->Read(0, 2, 0, 2, values.data()));
        // The statistics of the band's own pixels (not the edge blocks' padding).
        Histogram histogram{}, expected{};
        int64_t without = -1, expectedWithout = 0;
        uint8_t mark = 0;
        ASSERT_TRUE(kept->GrayStatistics(table.get(), histogram, without, mark));
        for (const double value : Window(0, 11, 0, 13)) {
            const size_t at = static_cast<size_t>(static_cast<int>(value) + 32768);
            if (table->marks[at] != 0)
                ++expectedWithout;
            else
                ++expected[table->gray[at]];
        }
        EXPECT_EQ(expected, histogram);
        EXPECT_EQ(expectedWithout, without);
        EXPECT_GT(expectedWithout, table == tables[2] ? -1 : 0);
        if (expectedWithout > 0) {
            EXPECT_EQ(table == tables[1] ? kNonFiniteMark : kNodataMark, mark);
        }
        // Once gray levels of one table, never of another.
        EXPECT_FALSE(kept->KeepGrayLevels(tables[2] == table ? tables[0] : tables[2]));
        EXPECT_FALSE(kept->GrayStatistics(tables[2] == table ? tables[0].get() : tables[2].get(),
                                          histogram, without, mark));
    }
    // A table of two kinds of marks cannot be told in a bit; 32-bit values have no table.
    std::unique_ptr<KeptValues> kept = Make(KeptValues::Kind::U16);
    auto both = std::make_shared<GrayTable>(*tables[0]);
    both->marks[5] = kNonFiniteMark;
    EXPECT_FALSE(kept->KeepGrayLevels(both));
    EXPECT_FALSE(Make(KeptValues::Kind::I32)->KeepGrayLevels(tables[0]));
}

INSTANTIATE_TEST_SUITE_P(InMemoryAndInAFile, KeptBlocks, ::testing::Values(false, true));

TEST(KeptValuesFile, AFolderThatCannotTakeTheFileIsRefused) {
    Result<std::unique_ptr<KeptValues>> made =
        KeptValues::Make(kSize, 4, 5, KeptValues::Kind::U16, "/nonexistent-folder");
    ASSERT_FALSE(made);
    EXPECT_NE(std::string::npos, made.message.find("/nonexistent-folder")) << made.message;
}

}  // namespace
}  // namespace tessera
