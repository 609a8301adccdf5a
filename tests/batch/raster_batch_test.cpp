// tessera-batch on rasters GDAL reads: a GeoTIFF's bands give the files their raw exports give,
// a band of more than 8 bits is reported with its stretch, and bad rasters are refused by name.
#include <gtest/gtest.h>
#include <sys/wait.h>

#include <algorithm>
#include <cstdlib>
#include <string>
#include <vector>

#include "rasterfiles.h"
#include "testfiles.h"

namespace {
using testing_support::FileExists;
using testing_support::RasterType;
using testing_support::ReadBytes;
using testing_support::ReadText;
using testing_support::ScratchDir;
using testing_support::WriteBytes;
using testing_support::WriteGeoTiff;
using testing_support::WriteText;

constexpr int kLines = 6;
constexpr int kColumns = 7;

struct RunResult {
    int status = -1;
    std::string errors;
};

RunResult RunBatch(const std::vector<std::string>& arguments, const ScratchDir& dir) {
    std::string command = std::string("'") + TESSERA_BATCH + "'";
    for (const std::string& argument : arguments) command += " '" + argument + "'";
    command += " 2>'" + dir.File("errors.txt") + "'";
    const int raw = std::system(command.c_str());
    return {WIFEXITED(raw) ? WEXITSTATUS(raw) : -1, ReadText(dir.File("errors.txt"))};
}

std::vector<double> BandValues(int band) {
    std::vector<double> values;
    for (int i = 0; i < kLines * kColumns; ++i) values.push_back((i * (17 + 6 * band) + 40 * band) % 230);
    return values;
}

std::string Replaced(std::string text, const std::string& from, const std::string& to) {
    for (size_t at = text.find(from); at != std::string::npos; at = text.find(from, at + to.size()))
        text.replace(at, from.size(), to);
    return text;
}

TEST(RasterBands, AThreeBandGeoTiffGivesTheFilesOfItsBandsExportedAsRawFiles) {
    ScratchDir dir;
    const std::string tiff = dir.File("scene.tif");
    ASSERT_TRUE(WriteGeoTiff(tiff, kLines, kColumns, RasterType::Byte,
                             {BandValues(1), BandValues(2), BandValues(3)}));
    std::vector<std::string> rawRun{"--out", dir.File("fromraw"), "--keep-all", "--method",
                                    "segmentation", "--segments", "3"};
    for (int band = 1; band <= 3; ++band) {
        const std::string stem = dir.File("band" + std::to_string(band));
        const std::vector<double> values = BandValues(band);
        WriteBytes(stem + ".raw", std::vector<uint8_t>(values.begin(), values.end()));
        WriteText(stem + ".txt", std::to_string(kLines) + "\n" + std::to_string(kColumns) + "\n");
        rawRun.insert(rawRun.end(), {"--band", stem + ".raw"});
    }
    RunResult run = RunBatch(rawRun, dir);
    ASSERT_EQ(0, run.status) << run.errors;
    run = RunBatch({"--out", dir.File("fromtiff"), "--keep-all", "--method", "segmentation",
                    "--segments", "3", "--bands", tiff},
                   dir);
    ASSERT_EQ(0, run.status) << run.errors;

    EXPECT_EQ(ReadBytes(dir.File("fromraw.bmp")), ReadBytes(dir.File("fromtiff.bmp")));
    EXPECT_EQ(ReadBytes(dir.File("fromraw.raw")), ReadBytes(dir.File("fromtiff.raw")));
    std::string expected = ReadText(dir.File("fromraw.txt"));
    for (int band = 1; band <= 3; ++band)
        expected = Replaced(expected, dir.File("band" + std::to_string(band) + ".raw "),
                            tiff + " (raster band " + std::to_string(band) + ") ");
    EXPECT_EQ(expected, ReadText(dir.File("fromtiff.txt")));
    // Its bands one by one, by number, are the same bands in the same order.
    run = RunBatch({"--out", dir.File("bynumber"), "--keep-all", "--method", "segmentation",
                    "--segments", "3", "--band", tiff + ":1", "--band", tiff + ":2", "--band",
                    tiff + ":3"},
                   dir);
    ASSERT_EQ(0, run.status) << run.errors;
    EXPECT_EQ(ReadBytes(dir.File("fromtiff.raw")), ReadBytes(dir.File("bynumber.raw")));
    EXPECT_EQ(ReadText(dir.File("fromtiff.txt")), ReadText(dir.File("bynumber.txt")));
}

TEST(RasterBands, ASixteenBitBandIsReportedWithItsStretchAndNativeLimits) {
    ScratchDir dir;
    const std::string wide = dir.File("wide.tif");
    const std::string bytes = dir.File("bytes.tif");
    ASSERT_TRUE(WriteGeoTiff(wide, 1, 4, RasterType::UInt16, {{100, 500, 900, 1120}}));
    ASSERT_TRUE(WriteGeoTiff(bytes, 1, 4, RasterType::Byte, {{0, 0, 0, 0}, {1, 2, 3, 4}}));
    const RunResult run = RunBatch({"--out", dir.File("r"), "--keep-all", "--method", "segmentation",
                              "--segments", "2", "--band", wide, "--stretch", "100,1120",
                              "--band", bytes + ":2"},
                             dir);
    ASSERT_EQ(0, run.status) << run.errors;
    const std::string report = ReadText(dir.File("r.txt"));
    // 100..1120 become 0..255: a gray level stands for 4 native units.
    EXPECT_NE(std::string::npos,
              report.find("\nBand 1 = " + wide +
                          " (raster band 1) \nType of thresholding : Segmentation \n"
                          "Data type : UInt16, stretched linearly to gray levels 0 to 255 from "
                          "MIN = 100 (gray 0) to MAX = 1120 (gray 255) \n"
                          "\nSegment limits\n\nNumber of segments : 2 "
                          // Gray 129 starts half a level (2 units) above 612 = 100 + 128 x 4.
                          "\n\tSegment 1 min = 0 max = 128 (native values -inf to 613) "
                          "\n\tSegment 2 min = 129 max = 255 (native values 614 to inf) \n"))
        << report;
    // The 8-bit band is reported as ever.
    EXPECT_NE(std::string::npos,
              report.find("\nBand 2 = " + bytes +
                          " (raster band 2) \nType of thresholding : Segmentation \n\nSegment limits\n"))
        << report;
    EXPECT_EQ(report.find("Data type"), report.rfind("Data type")) << report;
}

TEST(RasterBands, BadRastersAreRefusedByFileAndBandAndNothingIsWritten) {
    ScratchDir dir;
    const std::string bytes = dir.File("bytes.tif");
    const std::string wide = dir.File("wide.tif");
    const std::string flat = dir.File("flat.tif");
    const std::string small = dir.File("small.tif");
    const std::string junk = dir.File("junk.tif");
    ASSERT_TRUE(WriteGeoTiff(bytes, 2, 3, RasterType::Byte, {{1, 2, 3, 4, 5, 6}, {6, 5, 4, 3, 2, 1}}));
    ASSERT_TRUE(WriteGeoTiff(wide, 2, 3, RasterType::UInt16, {{1, 200, 3000, 4, 5, 6}}));
    ASSERT_TRUE(WriteGeoTiff(flat, 2, 3, RasterType::UInt16, {{700, 700, 700, 700, 700, 700}}));
    ASSERT_TRUE(WriteGeoTiff(small, 3, 2, RasterType::Byte, {{1, 2, 3, 4, 5, 6}}));
    WriteText(junk, "not a raster");

    struct Case {
        std::vector<std::string> bands;
        std::string named;  // the file and, but for the size, the band
        std::string why;
    };
    const std::vector<Case> cases{
        {{"--band", junk, "--band", bytes}, junk + " band 1", "GDAL cannot open it"},
        {{"--band", bytes, "--band", bytes + ":3"}, bytes + " band 3", "the file has 2 bands"},
        {{"--band", bytes, "--band", wide, "--stretch", "9,9"}, wide + " band 1",
         "the stretch 9,9 needs a MIN lower than its MAX"},
        {{"--band", bytes, "--band", small}, small, "All bands of a set must have the same size"},
        {{"--band", bytes, "--band", flat}, flat + " band 1",
         "every pixel holds the value 700, which leaves no range to stretch to gray levels; "
         "give one with --stretch MIN,MAX"},
    };
    for (const Case& refused : cases) {
        std::vector<std::string> arguments{"--out", dir.File("r"), "--method", "segmentation",
                                           "--segments", "2"};
        arguments.insert(arguments.end(), refused.bands.begin(), refused.bands.end());
        const RunResult run = RunBatch(arguments, dir);
        EXPECT_EQ(3, run.status) << run.errors;
        EXPECT_EQ(1, std::count(run.errors.begin(), run.errors.end(), '\n')) << run.errors;
        EXPECT_NE(std::string::npos, run.errors.find(refused.named)) << run.errors;
        EXPECT_NE(std::string::npos, run.errors.find(refused.why)) << run.errors;
        EXPECT_FALSE(FileExists(dir.File("r.bmp"))) << run.errors;
        EXPECT_FALSE(FileExists(dir.File("r.txt"))) << run.errors;
        EXPECT_FALSE(FileExists(dir.File("r.raw"))) << run.errors;
    }
}

}  // namespace

namespace {

TEST(RasterBands, PixelAndBandInterleavedTilesGiveWhatTheSameBandsGiveInStrips) {
    ScratchDir dir;
    // Tiles 128 lines high, higher than a strip of 1500 columns: a row of tiles is read at a
    // time and cut into strips. Nodata 0 at a corner of every band.
    constexpr int kLines = 300, kWidth = 1500;
    std::vector<std::vector<double>> bands(3);
    for (int b = 0; b < 3; ++b)
        for (int i = 0; i < kLines * kWidth; ++i)
            bands[b].push_back(i % kWidth < 5 && i / kWidth < 5
                                   ? 0
                                   : 100 + (i % kWidth) * (b + 1) + (i / kWidth) * (3 - b) * 7);
    testing_support::RasterExtras pixel, band, striped;
    pixel.nodata = band.nodata = striped.nodata = 0;
    pixel.options = {"TILED=YES", "BLOCKXSIZE=128", "BLOCKYSIZE=128", "COMPRESS=DEFLATE",
                     "INTERLEAVE=PIXEL"};
    band.options = {"TILED=YES", "BLOCKXSIZE=128", "BLOCKYSIZE=128", "COMPRESS=DEFLATE",
                    "INTERLEAVE=BAND"};
    striped.options = {"INTERLEAVE=BAND"};
    ASSERT_TRUE(WriteGeoTiff(dir.File("pixel.tif"), kLines, kWidth, RasterType::UInt16, bands, pixel));
    ASSERT_TRUE(WriteGeoTiff(dir.File("band.tif"), kLines, kWidth, RasterType::UInt16, bands, band));
    ASSERT_TRUE(
        WriteGeoTiff(dir.File("striped.tif"), kLines, kWidth, RasterType::UInt16, bands, striped));
    ASSERT_TRUE(WriteGeoTiff(dir.File("other.tif"), kLines, kWidth, RasterType::UInt16,
                             {bands[1]}, striped));
    // Bands 3 and 1 of one file with another file between them, on two threads.
    for (const std::string layout : {"pixel", "band", "striped"}) {
        const std::string file = dir.File(layout + ".tif");
        const RunResult run =
            RunBatch({"--out", dir.File(layout), "--threads", "2", "--method", "equipopulation",
                      "--segments", "4", "--min-pixels", "0", "--band", file + ":3", "--band",
                      dir.File("other.tif"), "--band", file + ":1"},
                     dir);
        ASSERT_EQ(0, run.status) << layout << ": " << run.errors;
    }
    const std::string report = Replaced(ReadText(dir.File("striped.txt")), dir.File("striped.tif"), "F");
    for (const std::string layout : {"pixel", "band"}) {
        for (const std::string extension : {".raw", ".bmp"}) {
            const std::vector<uint8_t> pixels = ReadBytes(dir.File("striped" + extension));
            EXPECT_FALSE(pixels.empty());
            EXPECT_EQ(pixels, ReadBytes(dir.File(layout + extension))) << layout << extension;
        }
        EXPECT_EQ(report,
                  Replaced(ReadText(dir.File(layout + ".txt")), dir.File(layout + ".tif"), "F"))
            << layout;
    }
}

}  // namespace
