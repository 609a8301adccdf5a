// The treatment's passes give the same results whether they read the bands' files strip by
// strip or the bands held in memory, whatever the strip height and the threads.
#include "workspace/strips.h"

#include <gtest/gtest.h>

#include <atomic>
#include <string>
#include <vector>

#include "rasterfiles.h"
#include "testfiles.h"
#include "workspace/passes.h"

namespace tessera {
namespace {
using testing_support::ScratchDir;
using testing_support::WriteBytes;
using testing_support::WriteText;

constexpr int kLines = 37;
constexpr int kColumns = 29;

std::vector<uint8_t> Band(int seed) {
    std::vector<uint8_t> pixels(static_cast<size_t>(kLines) * kColumns);
    uint32_t state = 99u + static_cast<uint32_t>(seed) * 613u;
    for (uint8_t& pixel : pixels) {
        state = state * 1103515245u + 12345u;
        pixel = static_cast<uint8_t>(state >> 24);
    }
    return pixels;
}

class BothSources : public ::testing::Test {
  protected:
    void SetUp() override {
        treatment.Begin(3);
        readers.resize(4);
        for (int b = 1; b <= 3; ++b) {
            gray[b] = Band(b);
            const std::string path = dir.File(std::string(1, static_cast<char>('0' + b)) + ".raw");
            WriteBytes(path, gray[b]);
            Result<BandReader> reader = OpenRawBand(path, {kLines, kColumns});
            ASSERT_TRUE(reader);
            readers[b] = std::move(*reader.value);
            treatment.records[b].filePath = path;
        }
        // Band 2 lacks data where it holds 7: in memory, its marks say so.
        readers[2].SetNodata(7.0);
        treatment.records[2].nodata = 7.0;
        marks2.resize(gray[2].size());
        for (size_t i = 0; i < gray[2].size(); ++i) marks2[i] = gray[2][i] == 7 ? kNodataMark : 0;
    }
    MemoryStrips Memory() {
        std::vector<BandPlane> planes;
        for (int b = 1; b <= 3; ++b) {
            std::shared_ptr<uint8_t[]> block(new uint8_t[gray[b].size()]);
            std::copy(gray[b].begin(), gray[b].end(), block.get());
            BandPlane plane{block, nullptr};
            if (b == 2) {
                std::shared_ptr<uint8_t[]> marks(new uint8_t[marks2.size()]);
                std::copy(marks2.begin(), marks2.end(), marks.get());
                plane.marks = marks;
            }
            planes.push_back(plane);
        }
        return MemoryStrips({kLines, kColumns}, planes);
    }
    // Every pass on `source`: the statistics, then a segmentation, the counts and the classes.
    struct Outcome {
        BandStatistics statistics;
        std::vector<int64_t> pixelCount;
        int64_t withoutData = 0;
        std::vector<uint8_t> classes;
    };
    Outcome Run(StripSource& source, int threads) {
        Outcome outcome;
        Treatment state = treatment;
        Result<BandStatistics> statistics = GatherStatistics(source, threads);
        EXPECT_TRUE(statistics);
        outcome.statistics = *statistics.value;
        TakeStatistics(state, outcome.statistics);
        for (int b = 1; b <= 3; ++b) SetBandSegmentation(state, b, Equipopulation, 3 + b, {});
        RandomBelow random;
        EXPECT_TRUE(FinishSegmentation(state, random));
        Result<CodeTally> tally = CountCodes(source, state, threads);
        EXPECT_TRUE(tally);
        outcome.pixelCount = tally.value->pixelCount;
        outcome.withoutData = tally.value->withoutData;
        TakeCounts(state, *tally.value);
        EXPECT_TRUE(FinishCrossing(state, random, SelectByMinimum(state.pixelCount, 2)));
        outcome.classes.assign(static_cast<size_t>(kLines) * kColumns, 0);
        std::atomic<int> linesSeen{0};
        EXPECT_TRUE(ClassifyStrips(source, state, threads,
                                   [&](int, int, const Strip& strip, const uint8_t* classes) {
                                       std::copy(classes, classes + strip.count * kColumns,
                                                 outcome.classes.begin() + strip.first * kColumns);
                                       linesSeen += strip.count;
                                       return Status::Ok();
                                   }));
        EXPECT_EQ(kLines, linesSeen.load());  // every line once
        return outcome;
    }

    ScratchDir dir;
    Treatment treatment;
    std::vector<BandReader> readers;
    std::vector<uint8_t> gray[4];
    std::vector<uint8_t> marks2;
};

TEST_F(BothSources, GiveThePassesTheSameResultsWhateverTheStripsAndThreads) {
    MemoryStrips memory = Memory();
    const Outcome expected = Run(memory, 1);
    // The pixels holding 7 in band 2, counted by hand.
    int64_t sevens = 0;
    for (uint8_t value : gray[2]) sevens += value == 7;
    ASSERT_GT(sevens, 0);
    EXPECT_EQ(sevens, expected.statistics.withoutData[2]);
    EXPECT_EQ(0, expected.statistics.histograms[2][7]);
    EXPECT_EQ(sevens, expected.withoutData);
    EXPECT_EQ(sevens, expected.pixelCount[0]);
    for (int threads : {1, 2, 3}) {
        const Outcome inMemory = Run(memory, threads);
        EXPECT_EQ(expected.pixelCount, inMemory.pixelCount) << threads;
        EXPECT_EQ(expected.classes, inMemory.classes) << threads;
        for (int stripLines : {1, 4, 36, 37, 64}) {
            FileStrips files(readers, {kLines, kColumns}, stripLines);
            const Outcome read = Run(files, threads);
            for (int b = 1; b <= 3; ++b) {
                EXPECT_EQ(expected.statistics.histograms[b], read.statistics.histograms[b]);
                EXPECT_EQ(expected.statistics.withoutData[b], read.statistics.withoutData[b]);
            }
            EXPECT_EQ(expected.pixelCount, read.pixelCount) << stripLines << " " << threads;
            EXPECT_EQ(expected.withoutData, read.withoutData);
            EXPECT_EQ(expected.classes, read.classes) << stripLines << " " << threads;
        }
    }
}

// Bands of a tiled, pixel-interleaved file are read a row of blocks at a time, the bands of the
// file decoded together: each takes its own least and greatest value with data as its stretch,
// whatever the threads and whether its blocks are kept.
TEST(FileStrips, RowsOfBlocksGiveEachBandItsOwnRange) {
    ScratchDir dir;
    const int lines = 70, columns = 50;
    std::vector<std::vector<double>> bands(3, std::vector<double>(lines * columns));
    for (int b = 0; b < 3; ++b)
        for (int i = 0; i < lines * columns; ++i) bands[b][i] = 1000 + (i * (7 + 2 * b)) % 3001;
    // A pixel without data (0), and the extremes of bands 2 and 3 in the last and first tile.
    bands[0][5] = 0;
    bands[1][lines * columns - 1] = 9000;
    bands[2][0] = 999;
    const std::string path = dir.File("tiled.tif");
    testing_support::RasterExtras extras;
    extras.nodata = 0;
    extras.options = {"TILED=YES", "BLOCKXSIZE=16", "BLOCKYSIZE=16", "COMPRESS=DEFLATE",
                      "INTERLEAVE=PIXEL"};
    ASSERT_TRUE(testing_support::WriteGeoTiff(path, lines, columns,
                                              testing_support::RasterType::UInt16, bands, extras));
    const StretchRange expected[3] = {{1000, 4000}, {1000, 9000}, {999, 4000}};
    for (const bool keep : {false, true}) {
        for (int threads : {1, 3}) {
            std::vector<BandReader> readers(4);
            std::vector<RasterSource*> rasters;
            for (int b = 1; b <= 3; ++b) {
                Result<BandReader> reader = OpenRasterBand(path, b);
                ASSERT_TRUE(reader) << reader.message;
                readers[b] = std::move(*reader.value);
                rasters.push_back(readers[b].MutableRaster());
            }
            ASSERT_TRUE(rasters[0]->SharesBlocks());
            if (keep) RasterSource::KeepDecodedValues(rasters, int64_t{1} << 30, "");
            FileStrips files(readers, {lines, columns}, 4);
            files.Plan(threads);
            ASSERT_TRUE(files.ChooseStretches(readers, threads));
            for (int b = 1; b <= 3; ++b) {
                ASSERT_TRUE(readers[b].Raster()->Stretch()) << b;
                EXPECT_EQ(expected[b - 1].minimum, readers[b].Raster()->Stretch()->minimum)
                    << b << " " << threads << " " << keep;
                EXPECT_EQ(expected[b - 1].maximum, readers[b].Raster()->Stretch()->maximum)
                    << b << " " << threads << " " << keep;
            }
        }
    }
}

TEST(RunStrips, AnswersTheFirstRefusalAndReleasesWhatWaitsForIt) {
    for (int threads : {1, 2, 4}) {
        std::atomic<int> stopped{0};
        const Status refused = RunStrips(
            0, 40, threads,
            [](int, int strip) {
                return strip % 10 == 7 ? Status::Failure(std::to_string(strip))
                                       : Status::Ok();
            },
            nullptr, nullptr, 40, [&] { ++stopped; });
        EXPECT_EQ("7", refused.message) << threads;
        EXPECT_EQ(1, stopped.load()) << threads;
    }
}

}  // namespace
}  // namespace tessera
