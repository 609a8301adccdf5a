// The passes over blocks of native values: a block reads as the band's file reads, and the
// blocks of a scene, however it is cut, add up to the scene's statistics and counts and give
// its classes.
#include "workspace/blockpasses.h"

#include <gtest/gtest.h>

#include <cmath>
#include <limits>
#include <random>
#include <vector>

#include "bands/bandreader.h"
#include "rasterfiles.h"
#include "testfiles.h"

namespace {

using namespace tessera;
using testing_support::RasterExtras;
using testing_support::RasterType;
using testing_support::ScratchDir;
using testing_support::WriteGeoTiff;

constexpr ImageSize kScene{37, 53};

// Three bands: UInt16 with a nodata value, Float32 with NaN and infinite values, Byte.
struct Scene {
    std::vector<uint16_t> first;
    std::vector<float> second;
    std::vector<uint8_t> third;
    std::vector<ArrayBand> bands;
};

Scene MakeScene() {
    Scene scene;
    std::mt19937 random(11);
    const size_t cells = static_cast<size_t>(kScene.lines) * kScene.columns;
    for (size_t i = 0; i < cells; ++i) {
        scene.first.push_back(static_cast<uint16_t>(1300 + random() % 2700));  // never 1234
        scene.second.push_back(static_cast<float>(random() % 1000) / 10.0f);
        scene.third.push_back(static_cast<uint8_t>(40 + random() % 150));
    }
    for (size_t i = 0; i < cells; i += 17) scene.first[i] = 1234;
    scene.second[5] = std::numeric_limits<float>::quiet_NaN();
    scene.second[99] = std::numeric_limits<float>::infinity();
    scene.bands = {MakeArrayBand(ValueType::UInt16, 1234, StretchRange{1000, 3999}),
                   MakeArrayBand(ValueType::Float32, std::nullopt, StretchRange{0, 99.9}),
                   MakeArrayBand(ValueType::Byte, std::nullopt, std::nullopt)};
    return scene;
}

// Lines y0..y1 - 1 and columns x0..x1 - 1 of a band, line after line.
template <class T>
std::vector<T> Cut(const std::vector<T>& band, int y0, int y1, int x0, int x1) {
    std::vector<T> part;
    for (int y = y0; y < y1; ++y)
        for (int x = x0; x < x1; ++x)
            part.push_back(band[static_cast<size_t>(y) * kScene.columns + x]);
    return part;
}

struct Piece {
    int y0, y1, x0, x1;
    ImageSize Size() const { return {y1 - y0, x1 - x0}; }
};
const std::vector<Piece> kPieces{{0, 10, 0, 53}, {10, 37, 0, 20}, {10, 37, 20, 53}};

struct PieceBlocks {
    std::vector<uint16_t> first;
    std::vector<float> second;
    std::vector<uint8_t> third;
    std::vector<ValueBlock> Blocks() const {
        return {{first.data()}, {second.data()}, {third.data()}};
    }
};
PieceBlocks BlocksOf(const Scene& scene, const Piece& p) {
    return {Cut(scene.first, p.y0, p.y1, p.x0, p.x1), Cut(scene.second, p.y0, p.y1, p.x0, p.x1),
            Cut(scene.third, p.y0, p.y1, p.x0, p.x1)};
}

std::vector<ValueBlock> WholeBlocks(const Scene& scene) {
    return {{scene.first.data()}, {scene.second.data()}, {scene.third.data()}};
}

TEST(BlockPasses, StatisticsOfBlocksAddUpToTheScenesAndLeaveOutPixelsWithoutData) {
    const Scene scene = MakeScene();
    const Result<BandStatistics> whole = BlockStatistics(scene.bands, WholeBlocks(scene), kScene);
    ASSERT_TRUE(whole) << whole.message;
    BandStatistics sum;
    for (const Piece& piece : kPieces) {
        const PieceBlocks blocks = BlocksOf(scene, piece);
        const Result<BandStatistics> part =
            BlockStatistics(scene.bands, blocks.Blocks(), piece.Size());
        ASSERT_TRUE(part) << part.message;
        AddStatistics(sum, *part.value);
    }
    EXPECT_EQ(whole.value->histograms, sum.histograms);
    EXPECT_EQ(whole.value->withoutData, sum.withoutData);
    // Band 1: every 17th pixel holds the nodata value; band 2: one NaN, one infinity.
    const int64_t cells = int64_t{kScene.lines} * kScene.columns;
    EXPECT_EQ((cells + 16) / 17, whole.value->withoutData[1]);
    EXPECT_EQ(2, whole.value->withoutData[2]);
    EXPECT_EQ(2, whole.value->nonFinite[2]);
    EXPECT_EQ(0, whole.value->withoutData[3]);
    int64_t counted = 0;
    for (int64_t c : whole.value->histograms[1]) counted += c;
    EXPECT_EQ(cells - whole.value->withoutData[1], counted);
}

TEST(BlockPasses, CountsAndClassesOfBlocksAreThoseOfTheWholeScene) {
    const Scene scene = MakeScene();
    const Result<BandStatistics> statistics =
        BlockStatistics(scene.bands, WholeBlocks(scene), kScene);
    ASSERT_TRUE(statistics);
    Treatment treatment;
    ASSERT_TRUE(TakeBlockStatistics(treatment, scene.bands, {"a", "b", "c"}, {1, 1, 0},
                                    *statistics.value, kScene));
    SetBandSegmentation(treatment, 1, Segmentation, 4, {});
    SetBandSegmentation(treatment, 2, Equipopulation, 3, {});
    SetBandSegmentation(treatment, 3, Definition, 2, {100, 255});
    Result<BlockPlan> plan = MakeBlockPlan(scene.bands, treatment.records, {});
    ASSERT_TRUE(plan) << plan.message;
    const Result<CodeTally> whole = BlockCounts(*plan.value, WholeBlocks(scene), kScene);
    ASSERT_TRUE(whole);
    ASSERT_EQ(size_t{4 * 3 * 2 + 1}, whole.value->pixelCount.size());
    std::vector<int64_t> sum(whole.value->pixelCount.size(), 0);
    int64_t without = 0;
    for (const Piece& piece : kPieces) {
        const PieceBlocks blocks = BlocksOf(scene, piece);
        const Result<CodeTally> part = BlockCounts(*plan.value, blocks.Blocks(), piece.Size());
        ASSERT_TRUE(part);
        for (size_t c = 0; c < sum.size(); ++c) sum[c] += part.value->pixelCount[c];
        without += part.value->withoutData;
    }
    EXPECT_EQ(whole.value->pixelCount, sum);
    EXPECT_EQ(whole.value->withoutData, without);
    // Pixels without data in some band have code 0 and count there.
    EXPECT_EQ(statistics.value->withoutData[1] + 2, whole.value->withoutData);
    EXPECT_LE(whole.value->withoutData, whole.value->pixelCount[0]);

    // The codes of more than 20 pixels become classes 1..K, in code order.
    const std::vector<int32_t> selected = SelectByMinimum(whole.value->pixelCount, 20);
    ASSERT_GT(selected.size(), size_t{2});
    Result<BlockPlan> crossing = MakeBlockPlan(scene.bands, treatment.records, selected);
    ASSERT_TRUE(crossing);
    std::vector<int32_t> codes(static_cast<size_t>(kScene.lines) * kScene.columns);
    std::vector<uint8_t> classes(codes.size()), pieces(codes.size(), 0);
    ASSERT_TRUE(BlockCodes(*crossing.value, WholeBlocks(scene), kScene, codes.data()));
    ASSERT_TRUE(BlockClasses(*crossing.value, WholeBlocks(scene), kScene, classes.data()));
    const std::vector<uint8_t> classOf =
        ClassOfCode(selected, crossing.value->treatment.table.CodeCount);
    for (size_t i = 0; i < codes.size(); ++i) ASSERT_EQ(classOf[codes[i]], classes[i]) << i;
    EXPECT_EQ(NoClass, classes[0]);  // the nodata value
    for (const Piece& piece : kPieces) {
        const PieceBlocks blocks = BlocksOf(scene, piece);
        std::vector<uint8_t> part(static_cast<size_t>(piece.Size().lines) * piece.Size().columns);
        ASSERT_TRUE(BlockClasses(*crossing.value, blocks.Blocks(), piece.Size(), part.data()));
        for (int y = piece.y0; y < piece.y1; ++y)
            for (int x = piece.x0; x < piece.x1; ++x)
                pieces[static_cast<size_t>(y) * kScene.columns + x] =
                    part[static_cast<size_t>(y - piece.y0) * piece.Size().columns + (x - piece.x0)];
    }
    EXPECT_EQ(classes, pieces);
}

TEST(BlockPasses, ABlockReadsAsTheBandsFileReads) {
    ScratchDir dir;
    const std::vector<double> values{-5, 0, 1, 254.5, 255, 509.4, 510, 9999, -9999, 70000};
    for (const auto& [type, name] : {std::pair{RasterType::Float32, ValueType::Float32},
                                     std::pair{RasterType::Float64, ValueType::Float64}}) {
        const std::string path = dir.File(std::string(ValueTypeName(name)) + ".tif");
        RasterExtras extras;
        extras.nodata = -9999;
        ASSERT_TRUE(WriteGeoTiff(path, 2, 5, type, {values}, extras));
        Result<BandReader> reader = OpenRasterBand(path, 1);
        ASSERT_TRUE(reader) << reader.message;
        ASSERT_TRUE(reader.value->ChooseStretch(StretchRange{0, 510}));
        std::vector<uint8_t> fileGray(10), fileMarks(10), gray(10), marks(10);
        ASSERT_TRUE(reader.value->ReadLines(0, 2, fileGray.data(), fileMarks.data()));
        const ArrayBand band = MakeArrayBand(name, -9999, StretchRange{0, 510});
        if (name == ValueType::Float32) {
            const std::vector<float> floats(values.begin(), values.end());
            BlockToGray(band, ValueBlock{floats.data()}, 10, gray.data(), marks.data());
        } else {
            BlockToGray(band, ValueBlock{values.data()}, 10, gray.data(), marks.data());
        }
        EXPECT_EQ(fileGray, gray) << path;
        EXPECT_EQ(fileMarks, marks) << path;
        EXPECT_EQ(kNodataMark, marks[8]);
    }
}

TEST(BlockPasses, TheRangeOfABlockLeavesOutNodataAndNonFiniteValues) {
    const std::vector<double> values{-9999, 3, std::nan(""), -2.5, HUGE_VAL, 11, -9999};
    const ArrayBand band = MakeArrayBand(ValueType::Float64, -9999, std::nullopt);
    const ValueRange range = BlockRange(band, ValueBlock{values.data()}, values.size());
    EXPECT_EQ(-2.5, range.low);
    EXPECT_EQ(11, range.high);
    EXPECT_TRUE(BlockRange(band, ValueBlock{values.data()}, 1).Empty());
}

TEST(BlockPasses, RefusalsNameTheBandAndWhatIsWrong) {
    EXPECT_FALSE(ValueTypeNamed("complex64"));
    EXPECT_EQ(0u, ValueTypeNamed("complex64").message.find("a band of complex64 values cannot"));
    EXPECT_TRUE(ValueTypeNamed("Int8"));
    EXPECT_EQ(
        "band 2 holds 3 x 4 pixels (lines x columns), band 1 3 x 5: every band of a set "
        "has the size of the first",
        ArraySizeMismatchText(2, {3, 4}, {3, 5}));
    const Result<StretchRange> flat = OwnStretch("x.tif", 2, 7, 7, std::nullopt, false, "UInt16");
    ASSERT_FALSE(flat);
    EXPECT_EQ(
        "The raster\nx.tif\nband 2 cannot be loaded: every pixel holds the value 7, which "
        "leaves no range to stretch to gray levels; give one with --stretch MIN,MAX.",
        flat.message);
    const Scene scene = MakeScene();
    Treatment treatment;
    BandStatistics none;
    none.histograms.assign(4, Histogram{});
    none.withoutData = {0, int64_t{kScene.lines} * kScene.columns, 0, 0};
    none.nonFinite = {0, 0, 0, 0};
    none.masked = {0, 0, 0, 0};
    const Status refused =
        TakeBlockStatistics(treatment, scene.bands, {"a.tif", "b", "c"}, {3, 1, 0}, none, kScene);
    ASSERT_FALSE(refused);
    EXPECT_EQ(
        "The raster\na.tif\nband 3 cannot be loaded: every pixel holds its nodata value "
        "1234, which leaves no data to segment.",
        refused.message);
}

}  // namespace
