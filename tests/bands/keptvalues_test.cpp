// The decoded values of a band kept block by block: windows that cut blocks and the band's
// edges read back what was kept, a window keeps only the blocks it holds whole, and the values
// in memory and in the temporary file are the same; the file is in no folder.
#include "bands/keptvalues.h"

#include <gtest/gtest.h>

#include <cstring>
#include <filesystem>
#include <functional>
#include <iterator>
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

// Gray levels and marks of a window, as ReadThrough or ReadGray write them: `count` lines 20
// bytes apart, then the marks.
std::vector<uint8_t> GrayWindow(int count, int width,
                                const std::function<bool(uint8_t*, uint8_t*)>& read) {
    std::vector<uint8_t> gray(static_cast<size_t>(count) * 20, 7);
    std::vector<uint8_t> marks(static_cast<size_t>(count) * width, 9);
    EXPECT_TRUE(read(gray.data(), marks.data()));
    gray.insert(gray.end(), marks.begin(), marks.end());
    return gray;
}

struct Span {
    int first, count, x0, width;
};
// Windows across blocks and to the band's edges.
constexpr Span kSpans[] = {{2, 7, 3, 9}, {0, 11, 0, 13}, {8, 3, 11, 2}};

TEST_P(KeptBlocks, SixteenBitValuesBecomeTheGrayLevelsTheirTableGives) {
    // Several values marked (looked up), one (compared), none; and two kinds of marks (kept a
    // byte a pixel).
    const std::shared_ptr<const GrayTable> tables[] = {
        TableOf(kNodataMark, [](int value) { return value % 3 == 0; }),
        TableOf(kNonFiniteMark,
                [](int value) { return value == static_cast<int>(ValueAt(9, 12)); }),
        TableOf(kNodataMark, [](int) { return false; }), [] {
            auto both = std::make_shared<GrayTable>(
                *TableOf(kNodataMark, [](int value) { return value % 3 == 0; }));
            for (size_t i = 0; i < both->marks.size(); ++i)
                if ((static_cast<int>(i) - 32768) % 7 == 0) both->marks[i] = kNonFiniteMark;
            return std::shared_ptr<const GrayTable>(both);
        }()};
    for (size_t t = 0; t < std::size(tables); ++t) {
        const GrayTable& table = *tables[t];
        const GrayKey key{t + 1};
        std::unique_ptr<KeptValues> kept = Make(KeptValues::Kind::I16);
        ASSERT_TRUE(kept->Keep(0, 11, 0, 13, Window(0, 11, 0, 13).data()));
        std::vector<std::vector<uint8_t>> before;
        for (const Span& span : kSpans)
            before.push_back(GrayWindow(span.count, span.width, [&](uint8_t* gray, uint8_t* marks) {
                return kept->ReadThrough(span.first, span.count, span.x0, span.width,
                                         table.gray.data(), table.marks.data(), table.lowest,
                                         gray, 20, marks);
            }));
        ASSERT_EQ(!GetParam(), kept->KeepGrayLevels({key, tables[t], nullptr}));
        if (GetParam()) continue;  // values spilled to a file stay values
        // Made gray levels block by block as they are read: part of the band first.
        for (size_t w = 0; w < std::size(kSpans); ++w) {
            const Span& span = kSpans[w];
            const auto readGray = [&](uint8_t* gray, uint8_t* marks) {
                return kept->ReadGray(key, span.first, span.count, span.x0, span.width, gray, 20,
                                      marks);
            };
            EXPECT_EQ(before[w], GrayWindow(span.count, span.width, readGray)) << t << " " << w;
        }
        // Their values are gone: a caller decodes them again.
        std::vector<double> values(4);
        EXPECT_FALSE(kept->Read(0, 2, 0, 2, values.data()));
        uint8_t gray[4];
        EXPECT_FALSE(kept->ReadThrough(0, 1, 0, 4, table.gray.data(), table.marks.data(),
                                       table.lowest, gray, 4, nullptr));
        // The statistics of the band's own pixels (not the edge blocks' padding).
        Histogram histogram{}, expected{};
        int64_t without = -1, nonFinite = -1, expectedWithout = 0, expectedNonFinite = 0;
        ASSERT_TRUE(kept->GrayStatistics(key, histogram, without, nonFinite));
        for (const double value : Window(0, 11, 0, 13)) {
            const size_t at = static_cast<size_t>(static_cast<int>(value) + 32768);
            if (table.marks[at] == 0) ++expected[table.gray[at]];
            expectedWithout += table.marks[at] != 0;
            expectedNonFinite += table.marks[at] == kNonFiniteMark;
        }
        EXPECT_EQ(expected, histogram) << t;
        EXPECT_EQ(expectedWithout, without) << t;
        EXPECT_EQ(expectedNonFinite, nonFinite) << t;
        EXPECT_EQ(t != 2, expectedWithout > 0);
        // Once gray levels of one stretch, never of another.
        const GrayKey other{99};
        EXPECT_FALSE(kept->KeepGrayLevels({other, tables[t], nullptr}));
        EXPECT_FALSE(kept->GrayStatistics(other, histogram, without, nonFinite));
        EXPECT_FALSE(kept->ReadGray(other, 0, 1, 0, 4, gray, 4, nullptr));
    }
}

TEST_P(KeptBlocks, WiderValuesBecomeTheGrayLevelsTheirConversionGives) {
    // Gray: the value's low byte; marks: every fifth value NaN, every seventh nodata.
    const auto markOf = [](int value) -> uint8_t {
        return value % 5 == 0 ? kNonFiniteMark : value % 7 == 0 ? kNodataMark : 0;
    };
    const KeptValues::GrayOfValues convert = [&](double* values, size_t count, uint8_t* gray,
                                                 uint8_t* marks) {
        for (size_t i = 0; i < count; ++i) {
            gray[i] = static_cast<uint8_t>(static_cast<int>(values[i]) & 255);
            marks[i] = markOf(static_cast<int>(values[i]));
        }
    };
    for (const KeptValues::Kind kind :
         {KeptValues::Kind::I32, KeptValues::Kind::F32, KeptValues::Kind::F64}) {
        std::unique_ptr<KeptValues> kept = Make(kind);
        ASSERT_TRUE(kept->Keep(0, 11, 0, 13, Window(0, 11, 0, 13).data()));
        ASSERT_EQ(!GetParam(), kept->KeepGrayLevels({GrayKey{5}, nullptr, convert}));
        if (GetParam()) continue;
        for (const Span& span : kSpans) {
            const std::vector<uint8_t> read =
                GrayWindow(span.count, span.width, [&](uint8_t* gray, uint8_t* marks) {
                    return kept->ReadGray(GrayKey{5}, span.first, span.count, span.x0,
                                          span.width, gray, 20, marks);
                });
            for (int y = 0; y < span.count; ++y)
                for (int x = 0; x < span.width; ++x) {
                    const int value = static_cast<int>(ValueAt(span.first + y, span.x0 + x));
                    EXPECT_EQ(value & 255, read[static_cast<size_t>(y * 20 + x)]);
                    EXPECT_EQ(markOf(value),
                              read[static_cast<size_t>(span.count * 20 + y * span.width + x)]);
                }
        }
        Histogram histogram{};
        int64_t without = -1, nonFinite = -1;
        ASSERT_TRUE(kept->GrayStatistics(GrayKey{5}, histogram, without, nonFinite));
        int64_t expectedWithout = 0, expectedNonFinite = 0;
        for (const double value : Window(0, 11, 0, 13)) {
            expectedWithout += markOf(static_cast<int>(value)) != 0;
            expectedNonFinite += markOf(static_cast<int>(value)) == kNonFiniteMark;
        }
        EXPECT_EQ(expectedWithout, without);
        EXPECT_EQ(expectedNonFinite, nonFinite);
        int64_t counted = 0;
        for (const int64_t each : histogram) counted += each;
        EXPECT_EQ(11 * 13 - expectedWithout, counted);
    }
    // 8-bit values are gray levels enough as they are.
    EXPECT_FALSE(Make(KeptValues::Kind::U8)->KeepGrayLevels({GrayKey{5}, nullptr, convert}));
}

TEST(KeptBlockPool, ValuesBecomeGrayLevelsAndTheNextBandDecodesIntoTheirMemory) {
    const auto pool = std::make_shared<KeptBlockPool>();
    const std::shared_ptr<const GrayTable> table =
        TableOf(kNodataMark, [](int value) { return value % 3 == 0; });
    const auto make = [&] {
        Result<std::unique_ptr<KeptValues>> made =
            KeptValues::Make(kSize, 4, 5, KeptValues::Kind::I16, "", pool);
        EXPECT_TRUE(made) << made.message;
        return std::move(*made.value);
    };
    std::unique_ptr<KeptValues> first = make(), second = make();
    ASSERT_TRUE(first->Keep(0, 11, 0, 13, Window(0, 11, 0, 13).data()));
    std::vector<uint8_t> gray(11 * 13), marks(11 * 13);
    ASSERT_TRUE(first->ReadThrough(0, 11, 0, 13, table->gray.data(), table->marks.data(),
                                   table->lowest, gray.data(), 13, marks.data()));
    EXPECT_EQ(nullptr, pool->Take(4 * 5 * 2));  // nothing given back yet
    ASSERT_TRUE(first->KeepGrayLevels({GrayKey{1}, table, nullptr}));
    for (int row = 0; row < first->BlockRows(); ++row) first->KeepRowAsGray(row);
    // The second band's values go where the first's were: read back whole, the first band's
    // gray levels untouched.
    std::vector<double> values = Window(0, 11, 0, 13);
    for (double& value : values) value = 20000 - value;
    ASSERT_TRUE(second->Keep(0, 11, 0, 13, values.data()));
    std::vector<double> read(values.size());
    ASSERT_TRUE(second->Read(0, 11, 0, 13, read.data()));
    EXPECT_EQ(values, read);
    std::vector<uint8_t> grayAfter(gray.size()), marksAfter(marks.size());
    ASSERT_TRUE(first->ReadGray(GrayKey{1}, 0, 11, 0, 13, grayAfter.data(), 13, marksAfter.data()));
    EXPECT_EQ(gray, grayAfter);
    EXPECT_EQ(marks, marksAfter);
    // Every one of the 9 blocks was taken again: none is left.
    EXPECT_EQ(nullptr, pool->Take(4 * 5 * 2));
    // Once no band decodes any more, values become gray levels in their own place: nothing
    // is given back.
    std::vector<uint8_t> secondGray(gray.size()), secondMarks(marks.size());
    ASSERT_TRUE(second->ReadThrough(0, 11, 0, 13, table->gray.data(), table->marks.data(),
                                    table->lowest, secondGray.data(), 13, secondMarks.data()));
    ASSERT_TRUE(second->KeepGrayLevels({GrayKey{1}, table, nullptr}));
    pool->Trim(true);
    EXPECT_TRUE(pool->Releasing());
    for (int row = 0; row < second->BlockRows(); ++row) second->KeepRowAsGray(row);
    EXPECT_EQ(nullptr, pool->Take(4 * 5 * 2));
    ASSERT_TRUE(
        second->ReadGray(GrayKey{1}, 0, 11, 0, 13, grayAfter.data(), 13, marksAfter.data()));
    EXPECT_EQ(secondGray, grayAfter);
    EXPECT_EQ(secondMarks, marksAfter);
}

// Beyond its limit a band keeps blocks only passing: let go, they are decoded again later, and
// a block decoded again in its own place finds it its own, not another block's.
TEST(KeptBlockPool, BlocksBeyondTheLimitPassAndAreDecodedAgainWithoutTakingAnothersPlace) {
    const auto pool = std::make_shared<KeptBlockPool>();
    Result<std::unique_ptr<KeptValues>> made =
        KeptValues::Make(kSize, 4, 5, KeptValues::Kind::I16, "", pool);
    ASSERT_TRUE(made) << made.message;
    KeptValues& kept = **made.value;
    const auto decode = [&](int by, int bx) {
        return kept.KeepBlock(by, bx, [&](uint8_t* block) {
            for (int y = 0; y < 4; ++y)
                for (int x = 0; x < 5; ++x) {
                    const int16_t value = static_cast<int16_t>(ValueAt(4 * by + y, 5 * bx + x));
                    std::memcpy(block + 2 * (5 * y + x), &value, 2);
                }
            return true;
        });
    };
    kept.LimitValues(2, 0);
    for (int bx = 0; bx < 3; ++bx) ASSERT_EQ(KeptValues::Filled::Kept, decode(0, bx));
    EXPECT_TRUE(kept.Holds(0, 4, 0, 13));
    // The third block only passes: let go once its window is read, the first two stay.
    kept.LetGoPassing(0, 4, 0, 13);
    EXPECT_TRUE(kept.HoldsBlock(0, 0) && kept.HoldsBlock(0, 1));
    EXPECT_FALSE(kept.HoldsBlock(0, 2));
    ASSERT_EQ(KeptValues::Filled::Kept, decode(1, 0));  // passing too, not let go
    // The stretch known: the block let go is decoded again, nothing overwritten.
    const std::shared_ptr<const GrayTable> table =
        TableOf(kNodataMark, [](int value) { return value % 3 == 0; });
    ASSERT_TRUE(kept.KeepGrayLevels({GrayKey{1}, table, nullptr}));
    ASSERT_EQ(KeptValues::Filled::Kept, decode(0, 2));
    std::vector<double> read(4 * 13, -1);
    ASSERT_TRUE(kept.Read(0, 4, 0, 13, read.data()));
    EXPECT_EQ(Window(0, 4, 0, 13), read);
    std::vector<double> second(4 * 5, -1);
    ASSERT_TRUE(kept.Read(4, 4, 0, 5, second.data()));
    EXPECT_EQ(Window(4, 4, 0, 5), second);

    // A pool keeps the pages of as many blocks given back as it is told to, and gives those
    // first; the others' it gives back to the system, and gives them after.
    KeptBlockPool reserved;
    reserved.Reserve(2 * 4096);
    std::vector<uint8_t> blocks(3 * 4096);
    for (int i = 0; i < 3; ++i) reserved.Give(blocks.data() + 4096 * i, 4096);
    EXPECT_EQ(0, reserved.Wanted());
    EXPECT_EQ(blocks.data() + 4096, reserved.Take(4096));
    EXPECT_EQ(blocks.data(), reserved.Take(4096));
    EXPECT_EQ(blocks.data() + 2 * 4096, reserved.Take(4096));
    EXPECT_EQ(nullptr, reserved.Take(4096));
    EXPECT_EQ(2 * 4096, reserved.Wanted());
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
