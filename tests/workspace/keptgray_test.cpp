// The values kept of a band become its gray levels once its stretch is known: from then on the
// passes read a byte and a bit a pixel. Whatever the band's type, its nodata value and NaN, the
// strips and statistics are those of the band read again from its file: with gray levels kept
// as soon as the band's own range is read, and, where the stretch is given, with values kept
// and converted at every read and with gray levels kept from the first decode; with values
// limited to the gray levels still to come while the ranges are read (the rest decoded again);
// and with the values spilled to a file, which stay values.
#include <gtest/gtest.h>

#include <cmath>
#include <limits>
#include <mutex>
#include <optional>
#include <string>
#include <vector>

#include "bands/rasterband.h"
#include "rasterfiles.h"
#include "testfiles.h"
#include "crossing/crossing.h"
#include "segmentation/thresholding.h"
#include "workspace/passes.h"
#include "workspace/streamedjob.h"
#include "workspace/strips.h"

namespace tessera {
namespace {
using testing_support::RasterType;
using testing_support::ScratchDir;

// Two bands of 70 x 50 in tiles of 16 x 16: edge tiles of 6 lines and 2 columns.
constexpr int kLines = 70;
constexpr int kColumns = 50;

struct TypeCase {
    const char* name;
    RasterType type;
    double low, high;  // the values the bands spread over
    double nodata;
    bool floating;
};

const TypeCase kTypes[] = {
    {"Byte", RasterType::Byte, 3, 250, 0, false},
    {"Int8", RasterType::SignedByte, -120, 110, -128, false},
    {"UInt16", RasterType::UInt16, 100, 60000, 0, false},
    {"Int16", RasterType::Int16, -30000, 25000, -9999, false},
    {"UInt32", RasterType::UInt32, 5, 4000000000.0, 7, false},
    {"Int32", RasterType::Int32, -2000000, 3000000, -5, false},
    {"Float32", RasterType::Float32, -1.5, 900.25, -1, true},
    {"Float64", RasterType::Float64, -1e6, 2.5e6, -1, true},
};

std::vector<std::vector<double>> Values(const TypeCase& type) {
    std::vector<std::vector<double>> bands(2, std::vector<double>(kLines * kColumns));
    for (int b = 0; b < 2; ++b)
        for (int i = 0; i < kLines * kColumns; ++i) {
            const double share = ((i * (13 + 6 * b)) % 997) / 996.0;
            double value = std::round(type.low + share * (type.high - type.low));
            if (value == type.nodata) value += 1;
            bands[b][i] = value;
        }
    // Pixels without data: a border of band 1, scattered ones of band 2, NaN where it can be.
    for (int y = 0; y < kLines; ++y)
        for (int x = 0; x < kColumns; ++x) {
            if (x < 3 || y >= kLines - 2) bands[0][y * kColumns + x] = type.nodata;
            if ((y * kColumns + x) % 37 == 5) bands[1][y * kColumns + x] = type.nodata;
            if (type.floating && (y * kColumns + x) % 41 == 3)
                bands[1][y * kColumns + x] = std::numeric_limits<double>::quiet_NaN();
        }
    // The extremes in the last tile, away from the first read.
    bands[0][kLines * kColumns - 3 * kColumns - 1] = type.high;
    bands[1][kLines * kColumns - 1] = type.low;
    return bands;
}

// A rectangle of pixels a mask leaves without data.
class Rectangle : public PixelExclusion {
  public:
    Status Mark(int first, int count, int x0, int width, uint8_t* masked) const override {
        for (int y = first; y < first + count; ++y)
            for (int x = x0; x < x0 + width; ++x)
                masked[(y - first) * width + (x - x0)] = y >= 20 && y < 33 && x >= 10 && x < 41;
        return Status::Ok();
    }
};

// Limited: as GrayLevels, each band keeping as values no more than the gray levels still to
// come take while its range is read (the rest decoded again once it is known).
enum class Kept { Nothing, Values, GrayLevels, Limited, Spilled };

struct Read {
    std::vector<uint8_t> gray[2], marks[2];
    BandStatistics statistics;
    bool keptStatistics[2] = {false, false};
};

// Every strip of the two bands, after their stretches: their own range, or `given`.
Read ReadStrips(const std::string& path, Kept kept, const std::optional<StretchRange>& given,
                bool masked, int threads, const std::string& spill = "",
                ImageSize size = {kLines, kColumns}) {
    Read read;
    std::vector<BandReader> readers(3);
    std::vector<RasterSource*> rasters;
    for (int b = 1; b <= 2; ++b) {
        Result<BandReader> reader = OpenRasterBand(path, b);
        EXPECT_TRUE(reader) << reader.message;
        if (!reader) return read;
        readers[b] = std::move(*reader.value);
        if (masked) readers[b].SetExclusion(std::make_shared<Rectangle>());
        rasters.push_back(readers[b].MutableRaster());
    }
    if (kept != Kept::Nothing)
        RasterSource::KeepDecodedValues(rasters, kept == Kept::Spilled ? 0 : int64_t{1} << 30,
                                        kept == Kept::Spilled ? spill : "");
    if (given) {
        for (int b = 1; b <= 2; ++b) EXPECT_TRUE(readers[b].ChooseStretch(given));
    }
    if (kept == Kept::Limited) RasterSource::KeepValuesWithinGrayLevels(rasters);
    FileStrips files(readers, size, 4);
    files.Plan(threads);
    EXPECT_TRUE(files.ChooseStretches(readers, threads));
    if (kept == Kept::GrayLevels || kept == Kept::Limited || kept == Kept::Spilled)
        for (RasterSource* raster : rasters) raster->KeepGrayLevels();
    for (int b = 0; b < 2; ++b) {
        read.gray[b].assign(static_cast<size_t>(size.lines) * size.columns, 0);
        read.marks[b].assign(static_cast<size_t>(size.lines) * size.columns, 0);
    }
    std::mutex lock;
    EXPECT_TRUE(files.ForEachStrip(threads, [&](int, int, const Strip& strip) {
        const std::lock_guard<std::mutex> hold(lock);
        for (int b = 0; b < 2; ++b)
            for (int i = 0; i < strip.count; ++i) {
                const size_t at = static_cast<size_t>(strip.first + i) * size.columns;
                std::copy(strip.Gray(b, i), strip.Gray(b, i) + size.columns,
                          read.gray[b].begin() + at);
                if (const uint8_t* marks = strip.Marks(b, i))
                    std::copy(marks, marks + size.columns, read.marks[b].begin() + at);
            }
        return Status::Ok();
    }));
    Result<BandStatistics> statistics = GatherStatistics(files, threads);
    EXPECT_TRUE(statistics);
    if (statistics) read.statistics = *statistics.value;
    for (int b = 1; b <= 2; ++b) {
        Histogram histogram{};
        int64_t withoutData = -1, nonFinite = -1;
        read.keptStatistics[b - 1] =
            readers[b].Raster()->KeptStatistics(histogram, withoutData, nonFinite);
        if (!read.keptStatistics[b - 1]) continue;
        EXPECT_EQ(read.statistics.histograms[b], histogram) << b;
        EXPECT_EQ(read.statistics.withoutData[b], withoutData) << b;
        EXPECT_EQ(read.statistics.nonFinite[b], nonFinite) << b;
    }
    return read;
}

// Band b (from 0) of `read` as in `expected`: strips, marks and statistics.
void ExpectSameBand(const Read& expected, const Read& read, int b, const std::string& what) {
    EXPECT_EQ(expected.gray[b], read.gray[b]) << what << " band " << b + 1;
    EXPECT_EQ(expected.marks[b], read.marks[b]) << what << " band " << b + 1;
    EXPECT_EQ(expected.statistics.histograms[b + 1], read.statistics.histograms[b + 1]) << what;
    EXPECT_EQ(expected.statistics.withoutData[b + 1], read.statistics.withoutData[b + 1])
        << what;
}

TEST(KeptGrayLevels, GiveTheStripsOfValuesReadAgainForEveryTypeWithNodataAndNaN) {
    ScratchDir dir;
    for (const TypeCase& type : kTypes) {
        const std::string path = dir.File(std::string(type.name) + ".tif");
        testing_support::RasterExtras extras;
        extras.nodata = type.nodata;
        extras.options = {"TILED=YES", "BLOCKXSIZE=16", "BLOCKYSIZE=16", "COMPRESS=DEFLATE",
                          "INTERLEAVE=BAND"};
        ASSERT_TRUE(
            testing_support::WriteGeoTiff(path, kLines, kColumns, type.type, Values(type), extras))
            << type.name;
        // Gray levels in place of values wider than 8 bits.
        const bool wide = type.type != RasterType::Byte && type.type != RasterType::SignedByte;
        const std::optional<StretchRange> given =
            StretchRange{type.low + (type.high - type.low) / 5,
                         type.high - (type.high - type.low) / 4};
        for (const bool masked : {false, true})
            for (const std::optional<StretchRange>& stretch :
                 {std::optional<StretchRange>{}, given}) {
                const bool byte = type.type == RasterType::Byte;
                if (byte && stretch) continue;  // 8-bit bands are not stretched
                const Read expected = ReadStrips(path, Kept::Nothing, stretch, masked, 1);
                for (int b = 0; b < 2; ++b) {
                    // Each band has pixels without data, and more than one gray level.
                    EXPECT_GT(expected.statistics.withoutData[b + 1], 0) << type.name;
                    int levels = 0;
                    for (const int64_t count : expected.statistics.histograms[b + 1])
                        levels += count > 0;
                    EXPECT_GT(levels, 100) << type.name;
                }
                if (type.floating) {
                    EXPECT_GT(expected.statistics.nonFinite[2], 0) << type.name;
                }
                for (const Kept kept :
                     {Kept::Values, Kept::GrayLevels, Kept::Limited, Kept::Spilled})
                    for (const int threads : {1, 2}) {
                        const Read read =
                            ReadStrips(path, kept, stretch, masked, threads, dir.path());
                        const std::string what = std::string(type.name) +
                                                 (stretch ? " given" : " own") +
                                                 (masked ? " masked" : "") +
                                                 (kept == Kept::Values    ? " values"
                                                  : kept == Kept::Spilled ? " spilled"
                                                  : kept == Kept::Limited ? " limited"
                                                                          : " gray") +
                                                 " threads " + std::to_string(threads);
                        for (int b = 0; b < 2; ++b) {
                            ExpectSameBand(expected, read, b, what);
                            // Counted as the blocks became gray levels: bands kept in memory
                            // and unmasked, once every block is (a band's own range: as soon
                            // as it is read; a given one: as the passes read it).
                            // Values spilled to a file stay values.
                            EXPECT_EQ(wide && !masked && kept != Kept::Spilled &&
                                          (kept != Kept::Values || !stretch),
                                      read.keptStatistics[b])
                                << what << " band " << b + 1;
                        }
                    }
            }
    }
}

// In blocks wide enough, the marks of 16-bit values are kept as runs of pixels without data
// where those take less than a bit a pixel: a border, whole lines, a run to the line's end, a
// lone pixel; and a bit a pixel where pixels without data are scattered. Edge blocks keep
// only their pixels within the band. Strips, marks and statistics are those read again.
TEST(KeptGrayLevels, KeepMarksAsRunsOrBitsAndEdgeBlocksWithoutTheirPadding) {
    ScratchDir dir;
    const ImageSize size{300, 290};  // blocks of 128: edge blocks of 44 lines and 34 columns
    for (const TypeCase& type : {kTypes[2], kTypes[3]}) {
        std::vector<std::vector<double>> bands(2, std::vector<double>(300 * 290));
        for (int b = 0; b < 2; ++b)
            for (int y = 0; y < size.lines; ++y)
                for (int x = 0; x < size.columns; ++x) {
                    const int i = y * size.columns + x;
                    const double share = ((i * (7 + 4 * b)) % 1009) / 1008.0;
                    double value = std::round(type.low + share * (type.high - type.low));
                    if (value == type.nodata) value += 1;
                    const bool without =
                        b == 0 ? x < 40 || y < 3 || (y == 150 && x >= 200) ||
                                     (y == 77 && x == 131) || (y > 260 && x >= 280 && x < 289)
                               : y >= 130 && y < 250 && x >= 130 && x < 250 && (x * y) % 3 == 0;
                    bands[b][i] = without ? type.nodata : value;
                }
        const std::string path = dir.File(std::string(type.name) + "-runs.tif");
        testing_support::RasterExtras extras;
        extras.nodata = type.nodata;
        extras.options = {"TILED=YES", "BLOCKXSIZE=128", "BLOCKYSIZE=128", "COMPRESS=DEFLATE"};
        ASSERT_TRUE(testing_support::WriteGeoTiff(path, size.lines, size.columns, type.type, bands,
                                                  extras));
        for (const bool masked : {false, true}) {
            const Read expected =
                ReadStrips(path, Kept::Nothing, std::nullopt, masked, 1, "", size);
            EXPECT_GT(expected.statistics.withoutData[1], 40 * 300) << type.name;
            for (const int threads : {1, 2})
                for (const Kept kept : {Kept::GrayLevels, Kept::Limited}) {
                    const Read read =
                        ReadStrips(path, kept, std::nullopt, masked, threads, "", size);
                    const std::string what = std::string(type.name) + (masked ? " masked" : "") +
                                             (kept == Kept::Limited ? " limited" : "") +
                                             " threads " + std::to_string(threads);
                    for (int b = 0; b < 2; ++b) {
                        ExpectSameBand(expected, read, b, what);
                        EXPECT_EQ(!masked, read.keptStatistics[b]) << what << " band " << b + 1;
                    }
                }
        }
    }
}

// The job lets go of what it kept once its last pass is over, while its files are finished: a
// second save of the same job decodes the tiles again and writes the same files.
TEST(KeptGrayLevels, ASecondSaveDecodesTheBandsAgainAndWritesTheSameFiles) {
    ScratchDir dir;
    const TypeCase& type = kTypes[2];  // UInt16
    const std::vector<std::vector<double>> values = Values(type);
    testing_support::RasterExtras extras = testing_support::PlacedAt(30);  // with its GeoTIFF
    extras.nodata = type.nodata;
    extras.options = {"TILED=YES", "BLOCKXSIZE=16", "BLOCKYSIZE=16", "COMPRESS=DEFLATE"};
    std::vector<std::string> paths;
    for (int b = 0; b < 2; ++b) {
        paths.push_back(dir.File("band" + std::to_string(b + 1) + ".tif"));
        ASSERT_TRUE(testing_support::WriteGeoTiff(paths.back(), kLines, kColumns, type.type,
                                                  {values[b]}, extras));
    }
    StreamSettings settings;
    settings.threads = 2;
    StreamedJob job(settings);
    job.BeginBandSet(2);
    BandLoadOptions options;
    options.checkMemory = false;
    for (int b = 1; b <= 2; ++b)
        ASSERT_TRUE(job.LoadBand(b, paths[b - 1], BandFileType::Raster, options));
    for (int b = 1; b <= 2; ++b) job.SetSegmentation(b, Segmentation, 3, {});
    const Status segmented = job.FinishSegmentation();
    ASSERT_TRUE(segmented) << segmented.message;
    ASSERT_TRUE(job.CountCodes());
    ASSERT_TRUE(job.FinishCrossing(SelectCodes(job.PixelCount(), CodeSelection{true, 0})));
    for (const char* stem : {"first", "second"}) {
        const Status saved = job.Save(dir.File(stem), "", ResultFiles{});
        ASSERT_TRUE(saved) << stem << saved.message;
    }
    for (const char* suffix : {".raw", ".bmp", ".tif"}) {
        const std::vector<uint8_t> first = testing_support::ReadBytes(dir.File("first") + suffix);
        EXPECT_FALSE(first.empty()) << suffix;
        EXPECT_EQ(first, testing_support::ReadBytes(dir.File("second") + suffix)) << suffix;
    }
}

}  // namespace
}  // namespace tessera
