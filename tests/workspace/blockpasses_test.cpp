// The passes over blocks of native values: a block reads as the band's file reads, and the
// blocks of a scene, however it is cut, add up to the scene's statistics and counts and give
// its classes.
#include "workspace/blockpasses.h"

#include <gtest/gtest.h>

#include <algorithm>
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

namespace {

TEST(BlockPasses, AScaledBlockReadsAsItsPhysicalValues) {
    // Stored whole numbers with a scale and offset, against their physical values held as
    // doubles: the same gray levels, marks, range and percentiles; the nodata value is stored.
    const std::vector<uint16_t> stored{0, 5000, 10000, 20000, 30000, 40000, 50000, 65535};
    std::vector<double> physical;
    for (uint16_t v : stored) physical.push_back(v * 2.0e-5 - 0.1);
    physical[0] = std::nan("");
    const StretchRange stretch{0.0, 0.5};
    const ArrayBand scaled =
        MakeArrayBand(ValueType::UInt16, 0, stretch, Scaling{2.0e-5, -0.1});
    const ArrayBand doubles = MakeArrayBand(ValueType::Float64, std::nullopt, stretch);
    ASSERT_TRUE(scaled.Scaled());
    const size_t n = stored.size();
    std::vector<uint8_t> gray(n), marks(n), wantedGray(n), wantedMarks(n);
    BlockToGray(scaled, ValueBlock{stored.data()}, n, gray.data(), marks.data());
    BlockToGray(doubles, ValueBlock{physical.data()}, n, wantedGray.data(), wantedMarks.data());
    EXPECT_EQ(wantedGray, gray);
    EXPECT_EQ(kNodataMark, marks[0]);
    EXPECT_EQ(std::vector<uint8_t>(marks.begin() + 1, marks.end()),
              std::vector<uint8_t>(wantedMarks.begin() + 1, wantedMarks.end()));
    const ValueRange range = BlockRange(scaled, ValueBlock{stored.data()}, n);
    EXPECT_EQ(physical[1], range.low);
    EXPECT_EQ(physical[n - 1], range.high);
    // The report tells the physical values.
    EXPECT_TRUE(scaled.Told().scaling.has_value());
    EXPECT_EQ("Float64", scaled.Told().ValueType());
    // A scale of 1 and an offset of 0 leave the stored values.
    EXPECT_FALSE(MakeArrayBand(ValueType::UInt16, 0, stretch, Scaling{1, 0}).Scaled());
}

TEST(BlockPasses, AMaskLeavesItsPixelsOutOfEveryBand) {
    const Scene scene = MakeScene();
    const size_t cells = static_cast<size_t>(kScene.lines) * kScene.columns;
    std::vector<uint8_t> quality(cells);
    for (size_t i = 0; i < cells; ++i) quality[i] = static_cast<uint8_t>(i % 11);
    ArrayMask mask;
    mask.rule = *BitsRule("0,3").value;  // 1, 3, 5, 7, 8, 9, 10 of 0..10
    std::vector<ValueBlock> blocks = WholeBlocks(scene);
    blocks.push_back(ValueBlock{quality.data()});
    Result<BandStatistics> masked = BlockStatistics(scene.bands, blocks, kScene, {mask});
    Result<BandStatistics> plain = BlockStatistics(scene.bands, WholeBlocks(scene), kScene);
    ASSERT_TRUE(masked && plain);
    std::vector<uint8_t> marked(cells, 0);
    MarkMaskedBlock(mask, blocks.back(), cells, marked.data());
    int64_t maskedCount = 0;
    for (size_t i = 0; i < cells; ++i) {
        const int v = quality[i];
        EXPECT_EQ(v % 2 == 1 || v >= 8, marked[i] != 0) << v;
        maskedCount += marked[i];
    }
    // The Byte band has no data of its own to lack: every pixel the mask masks is out of its
    // histogram and counted as masked.
    int64_t plainPixels = 0, maskedPixels = 0;
    for (int g = 0; g < 256; ++g) {
        plainPixels += plain.value->histograms[3][g];
        maskedPixels += masked.value->histograms[3][g];
    }
    EXPECT_EQ(static_cast<int64_t>(cells), plainPixels);
    EXPECT_EQ(static_cast<int64_t>(cells) - maskedCount, maskedPixels);
    EXPECT_EQ(maskedCount, masked.value->masked[3]);
    // A pixel already without data of its own counts as that, not as masked.
    EXPECT_LT(masked.value->masked[1], maskedCount);
    EXPECT_EQ(plain.value->withoutData[1] + masked.value->masked[1], masked.value->withoutData[1]);
}

TEST(BlockPasses, PercentilesOfBlocksAreThoseOfTheWholeBand) {
    // A search shared over three pieces finds numpy's 2 % and 98 % of the values with data
    // (1234 is the nodata value), masked pixels left out.
    const Scene scene = MakeScene();
    const PercentileBand wanted{"UInt16", std::nullopt, PercentileRange{2, 98}};
    RankFinder search = NewPercentileFinder(wanted);
    bool ranked = false;
    while (!search.Done()) {
        RankFinder pass = search.Cleared();
        for (const Piece& piece : kPieces) {
            const PieceBlocks blocks = BlocksOf(scene, piece);
            RankFinder part = search.Cleared();
            const size_t cells = static_cast<size_t>(piece.Size().lines) * piece.Size().columns;
            CountBlockPercentiles(scene.bands[0], blocks.Blocks()[0], nullptr, cells, part);
            ASSERT_TRUE(pass.Merge(part));
        }
        search = pass;
        if (!ranked) {
            ASSERT_TRUE(RankPercentiles(wanted, search));
            ranked = true;
        } else {
            search.EndPass();
        }
    }
    Result<StretchRange> found = PercentileStretchFound(wanted, search);
    ASSERT_TRUE(found) << found.message;
    std::vector<double> sorted;
    for (uint16_t v : scene.first)
        if (v != 1234) sorted.push_back(v);
    std::sort(sorted.begin(), sorted.end());
    const auto numpy = [&](double q) {
        const double at = (static_cast<double>(sorted.size()) - 1) * q / 100;
        const size_t lower = static_cast<size_t>(std::floor(at));
        const double fraction = at - std::floor(at);
        return sorted[lower] + (sorted[std::min(lower + 1, sorted.size() - 1)] - sorted[lower]) *
                                   fraction;
    };
    EXPECT_NEAR(numpy(2), found.value->minimum, 1e-9);
    EXPECT_NEAR(numpy(98), found.value->maximum, 1e-9);
}

}  // namespace
