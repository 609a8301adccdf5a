// Every value a raster can hold has a rule, the same in tessera-batch and in the Workspace the
// interactive program drives: NaN and infinite values are without data, a typed nodata value
// is the band's own type, signed bytes are signed, complex bands and unreadable files are
// refused, and the native ranges of the segments hold their pixels.
#include <gtest/gtest.h>
#include <sys/wait.h>

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <limits>
#include <string>
#include <vector>

#include "rasterfiles.h"
#include "testfiles.h"
#include "workspace/workspace.h"

namespace tessera {
namespace {
using namespace testing_support;
using Arguments = std::vector<std::string>;

constexpr double kNan = std::numeric_limits<double>::quiet_NaN();
constexpr double kInf = std::numeric_limits<double>::infinity();

struct BatchRun {
    int status = -1;
    std::string errors;
};

BatchRun RunBatch(const Arguments& arguments, const ScratchDir& dir) {
    std::string command = std::string("'") + TESSERA_BATCH + "'";
    for (const std::string& argument : arguments) command += " '" + argument + "'";
    command += " 2>'" + dir.File("errors.txt") + "'";
    const int raw = std::system(command.c_str());
    return {WIFEXITED(raw) ? WEXITSTATUS(raw) : -1, ReadText(dir.File("errors.txt"))};
}

// Both bands by the interactive program's rules, every code kept, saved as `stem`.
Status RunWorkspace(const std::string& first, const std::string& second,
                    std::optional<double> nodata, const std::string& stem, int segments = 2) {
    Workspace ws;
    ws.BeginBandSet(2);
    BandLoadOptions options;
    if (Status loaded = ws.LoadBand(1, first, BandFileType::Raster, options); !loaded)
        return loaded;
    options.nodata = nodata;
    if (Status loaded = ws.LoadBand(2, second, BandFileType::Raster, options); !loaded)
        return loaded;
    ws.SetSegmentation(1, Segmentation, 2, {});
    ws.SetSegmentation(2, Segmentation, segments, {});
    if (Status done = ws.FinishSegmentation(); !done) return done;
    Result<CodeCounts> counts = ws.CountCodes();
    if (!counts) return Status::Failure(counts.message);
    std::vector<int32_t> all = SelectCodes(counts.value->pixelCount, CodeSelection{true, 0});
    if (Status done = ws.FinishCrossing(std::move(*counts.value), std::move(all)); !done)
        return done;
    return ws.SaveResult(stem);
}

Arguments Job(const std::string& out, const std::string& first, const std::string& second) {
    return {"--out", out, "--keep-all", "--method", "segmentation", "--segments", "2",
            "--band", first, "--band", second};
}

bool Contains(const std::string& text, const std::string& part) {
    return text.find(part) != std::string::npos;
}

TEST(RasterValues, NanAndInfinitePixelsAreWithoutDataInBothFrontEnds) {
    ScratchDir dir;
    const std::string first = dir.File("first.tif"), second = dir.File("second.tif");
    ASSERT_TRUE(WriteGeoTiff(first, 3, 4, RasterType::Byte,
                             {{10, 20, 30, 40, 50, 60, 70, 80, 90, 100, 110, 120}}));
    ASSERT_TRUE(WriteGeoTiff(second, 3, 4, RasterType::Float32,
                             {{kNan, 1, 2, kInf, -kInf, 3, 4, 5, 6, 7, 8, 9}}));
    // The stretch runs over the finite values only, and the three others are in no class.
    for (const bool typedInf : {false, true}) {
        SCOPED_TRACE(typedInf ? "--nodata -inf" : "no nodata value");
        Arguments job = Job(dir.File("b"), first, second);
        if (typedInf) job.insert(job.end(), {"--nodata", "-inf"});
        const BatchRun run = RunBatch(job, dir);
        ASSERT_EQ(0, run.status) << run.errors;
        ASSERT_TRUE(RunWorkspace(first, second, typedInf ? std::optional<double>(-kInf)
                                                         : std::nullopt,
                                 dir.File("w")));
        const std::string report = ReadText(dir.File("b.txt"));
        EXPECT_TRUE(Contains(report, "MIN = 1 (gray 0) to MAX = 9 (gray 255) \n")) << report;
        const std::string held = " pixels, left out of the gray range and the segments \n";
        if (typedInf) {
            EXPECT_TRUE(Contains(report, "Nodata value : -inf, held by 1" + held +
                                             "NaN or infinite values : held by 2" + held))
                << report;
        } else {
            EXPECT_TRUE(Contains(report, "NaN or infinite values : held by 3" + held)) << report;
        }
        EXPECT_TRUE(Contains(report, "Pixels without data in at least one band : 3 ")) << report;
        const std::vector<uint8_t> classes = ReadBytes(dir.File("b.raw"));
        ASSERT_EQ(12u, classes.size());
        for (size_t i = 0; i < classes.size(); ++i)
            EXPECT_EQ(i == 0 || i == 3 || i == 4, classes[i] == 255) << "pixel " << i;
        EXPECT_EQ(classes, ReadBytes(dir.File("w.raw")));
        EXPECT_EQ(report, ReadText(dir.File("w.txt")));
    }
}

TEST(RasterValues, ATypedFloatNodataMatchesThePixelsHoldingItsNearestFloat) {
    ScratchDir dir;
    const std::string first = dir.File("first.tif"), second = dir.File("second.tif");
    ASSERT_TRUE(WriteGeoTiff(first, 2, 3, RasterType::Byte, {{1, 2, 3, 4, 5, 6}}));
    // -9999.9 is no float: the band holds -9999.900390625 there.
    ASSERT_TRUE(WriteGeoTiff(second, 2, 3, RasterType::Float32,
                             {{-9999.9, 10, 20, 30, -9999.9, 40}}));
    Arguments job = Job(dir.File("b"), first, second);
    job.insert(job.end(), {"--nodata", "-9999.9"});
    const BatchRun run = RunBatch(job, dir);
    ASSERT_EQ(0, run.status) << run.errors;
    ASSERT_TRUE(RunWorkspace(first, second, -9999.9, dir.File("w")));
    const std::string report = ReadText(dir.File("b.txt"));
    EXPECT_TRUE(Contains(report, "MIN = 10 (gray 0) to MAX = 40 (gray 255) \n"
                                 "Nodata value : -9999.9, held by 2 pixels"))
        << report;
    EXPECT_EQ(report, ReadText(dir.File("w.txt")));
    const std::vector<uint8_t> classes = ReadBytes(dir.File("b.raw"));
    ASSERT_EQ(6u, classes.size());
    for (size_t i = 0; i < classes.size(); ++i)
        EXPECT_EQ(i == 0 || i == 4, classes[i] == 255) << "pixel " << i;
    EXPECT_EQ(classes, ReadBytes(dir.File("w.raw")));
}

TEST(RasterValues, SignedBytesAreSignedAndStretched) {
    ScratchDir dir;
    const std::string first = dir.File("first.tif"), second = dir.File("second.tif");
    ASSERT_TRUE(WriteGeoTiff(first, 1, 4, RasterType::Byte, {{5, 5, 5, 5}}));
    ASSERT_TRUE(WriteGeoTiff(second, 1, 4, RasterType::SignedByte, {{-128, -1, 1, 127}}));
    Arguments job = Job(dir.File("b"), first, second);
    job.insert(job.end(), {"--save-segmented", dir.File("seg")});
    const BatchRun run = RunBatch(job, dir);
    ASSERT_EQ(0, run.status) << run.errors;
    const std::string report = ReadText(dir.File("b.txt"));
    EXPECT_TRUE(Contains(report, "Data type : Int8, stretched linearly to gray levels 0 to 255 "
                                 "from MIN = -128 (gray 0) to MAX = 127 (gray 255) \n"))
        << report;
    // -1 is gray 127, below the middle; read as unsigned it would be 255, the highest.
    EXPECT_TRUE(Contains(report, "\tSegment 1 min = 0 max = 128 (native values -inf to 0) "
                                 "\n\tSegment 2 min = 129 max = 255 (native values 1 to inf) "))
        << report;
    EXPECT_EQ(std::vector<uint8_t>({1, 1, 2, 2}), ReadBytes(dir.File("seg.raw")));
}

TEST(RasterValues, ComplexBandsAndUnreadableFilesAreRefusedByFileBandAndLine) {
    ScratchDir dir;
    const std::string first = dir.File("first.tif");
    ASSERT_TRUE(WriteGeoTiff(first, 64, 64, RasterType::Byte, {std::vector<double>(64 * 64, 7)}));
    const std::string complex = dir.File("complex.tif");
    ASSERT_TRUE(WriteGeoTiff(complex, 64, 64, RasterType::CInt16, {std::vector<double>(64 * 64)}));
    BatchRun run = RunBatch(Job(dir.File("c"), first, complex), dir);
    EXPECT_EQ(3, run.status);
    EXPECT_EQ("tessera-batch: The raster " + complex +
                  " band 1 cannot be loaded: its values are complex numbers (CInt16), which have "
                  "no order to cut into segments.\n",
              run.errors);

    // A compressed file whose middle is damaged: the tiles there no longer decode.
    const std::string damaged = dir.File("damaged.tif");
    std::vector<double> values(256 * 256);
    for (size_t i = 0; i < values.size(); ++i) values[i] = static_cast<double>((i * 7919) % 4001);
    RasterExtras tiled;
    tiled.options = {"TILED=YES", "BLOCKXSIZE=64", "BLOCKYSIZE=64", "COMPRESS=DEFLATE"};
    ASSERT_TRUE(WriteGeoTiff(damaged, 256, 256, RasterType::UInt16, {values}, tiled));
    const auto length = std::filesystem::file_size(damaged);
    {
        std::fstream file(damaged, std::ios::in | std::ios::out | std::ios::binary);
        file.seekp(static_cast<std::streamoff>(length / 2));
        const std::string garbage(length / 8, '\xa5');
        file.write(garbage.data(), static_cast<std::streamsize>(garbage.size()));
    }
    ASSERT_TRUE(WriteGeoTiff(first, 256, 256, RasterType::Byte,
                             {std::vector<double>(256 * 256, 7)}));
    run = RunBatch(Job(dir.File("d"), first, damaged), dir);
    EXPECT_EQ(3, run.status);
    const std::string start = "tessera-batch: The raster " + damaged +
                              " band 1 cannot be loaded: GDAL cannot read its line ";
    EXPECT_EQ(start, run.errors.substr(0, start.size())) << run.errors;
    const Status loaded = RunWorkspace(first, damaged, std::nullopt, dir.File("w"));
    EXPECT_FALSE(loaded);
    // The same first line that fails, in both front ends.
    std::string message = loaded.message;
    std::replace(message.begin(), message.end(), '\n', ' ');
    EXPECT_EQ(run.errors, "tessera-batch: " + message + "\n");
    for (const char* stem : {"c", "d", "w"})
        for (const char* extension : {".bmp", ".raw", ".txt"})
            EXPECT_FALSE(std::filesystem::exists(dir.File(std::string(stem) + extension)))
                << stem << extension;
}

// Each pixel's own value against the native range the report gives its segment.
void ExpectRangesHoldTheirPixels(RasterType type, const std::vector<double>& values,
                                 const std::string& stretch, int segments) {
    ScratchDir dir;
    const std::string first = dir.File("first.tif"), second = dir.File("second.tif");
    const int columns = static_cast<int>(values.size());
    ASSERT_TRUE(WriteGeoTiff(first, 1, columns, RasterType::Byte,
                             {std::vector<double>(values.size(), 1)}));
    ASSERT_TRUE(WriteGeoTiff(second, 1, columns, type, {values}));
    const BatchRun run = RunBatch({"--out", dir.File("b"), "--keep-all", "--band", first, "--method",
                              "segmentation", "--segments", "2", "--band", second, "--method",
                              "segmentation", "--segments", std::to_string(segments), "--stretch",
                              stretch, "--save-segmented", dir.File("seg")},
                             dir);
    ASSERT_EQ(0, run.status) << run.errors;
    const std::string report = ReadText(dir.File("b.txt"));
    const std::string section = report.substr(report.find("\nBand 2 = "));
    std::vector<std::pair<double, double>> ranges(static_cast<size_t>(segments) + 1);
    for (int j = 1; j <= segments; ++j) {
        const size_t at = section.find("\tSegment " + std::to_string(j) + " min");
        ASSERT_NE(std::string::npos, at) << section;
        const size_t open = section.find("(native values ", at);
        char low[32] = {}, high[32] = {};
        ASSERT_EQ(2, std::sscanf(section.c_str() + open, "(native values %31s to %31[^)])", low,
                                 high))
            << section.substr(at, 80);
        ranges[j] = {std::strtod(low, nullptr), std::strtod(high, nullptr)};
    }
    const std::vector<uint8_t> segment = ReadBytes(dir.File("seg.raw"));
    ASSERT_EQ(values.size(), segment.size());
    for (size_t i = 0; i < values.size(); ++i) {
        const auto [low, high] = ranges[segment[i]];
        EXPECT_TRUE(low <= values[i] && values[i] <= high)
            << values[i] << " in segment " << int{segment[i]} << ", reported " << low << " to "
            << high;
        // The ranges do not overlap: no other segment's range holds it.
        for (int j = 1; j <= segments; ++j) {
            if (j == segment[i]) continue;
            EXPECT_FALSE(ranges[j].first <= values[i] && values[i] <= ranges[j].second)
                << values[i] << " also in segment " << j;
        }
    }
}

TEST(RasterValues, TheNativeRangeOfEverySegmentHoldsItsPixels) {
    std::vector<double> wide, fine;
    for (int v = 900; v <= 2100; ++v) wide.push_back(v);
    // As the band holds them: floats.
    for (int i = 0; i < 1200; ++i) fine.push_back(static_cast<float>(0.37 + i * 0.00071));
    {
        SCOPED_TRACE("UInt16");
        ExpectRangesHoldTheirPixels(RasterType::UInt16, wide, "1000.3,1999.7", 7);
    }
    {
        SCOPED_TRACE("Float32");
        ExpectRangesHoldTheirPixels(RasterType::Float32, fine, "0.4,1.1", 5);
    }
}

}  // namespace
}  // namespace tessera
