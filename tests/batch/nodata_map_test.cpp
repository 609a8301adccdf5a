// Pixels without data and results put back on the map, through tessera-batch and through the
// Workspace the interactive program drives: limits, counts and classes worked out by hand, and
// the same bytes from both front ends.
#include <gdal.h>
#include <gtest/gtest.h>
#include <sys/wait.h>

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <map>
#include <numbers>
#include <optional>
#include <sstream>
#include <string>
#include <vector>

#include "rasterfiles.h"
#include "testfiles.h"
#include "workspace/streamedjob.h"
#include "workspace/workspace.h"

namespace tessera {
namespace {
using namespace testing_support;
using Arguments = std::vector<std::string>;

constexpr int kLines = 5;
constexpr int kColumns = 6;
constexpr int X = 255;  // no segment, no class
// clang-format off
// Band 1, 8-bit, nodata 9 given to the program: 9 at one border pixel and one inside.
const std::vector<double> kBytes{ 40,  60,   9, 120, 150, 170,
                                  90,  95,   9, 149,  94, 100,
                                 130, 200, 150,  60,  80, 110,
                                  70,  41,  99, 180, 190,  55,
                                  66,  77,  88, 144, 160, 199};
// Band 2, 16-bit, declaring nodata 0: a border of 18 pixels without data around 12 with data.
const std::vector<double> kWide{0,    0,    0,    0,    0, 0,
                                0, 1000, 2400, 1100, 3550, 0,
                                0, 3000, 1500, 1200, 2800, 0,
                                0, 1700, 3300, 2000, 1300, 0,
                                0,    0,    0,    0,    0, 0};
// Band 1, equal widths over its data 40..200 (9 left out): R = 161 levels, step round(161 / 3)
// = 54, segments of 55 levels: 40-94, 95-149, 150-200.
// Band 2, stretched from its least value with data, 1000 (gray 0), to 3550 (gray 255): a gray
// level is 10 units. Equipopulation over its 12 pixels with data, 4 a segment: grays 0 10 20 30
// | 50 70 100 140 | 180 200 230 255; a segment closes below the next level holding a pixel:
// 0-49 (1000-1490), 50-179 (1500-2790), 180-255 (2800-3550). Band 2's segment numbers:
const std::vector<int> kSegments2{X, X, X, X, X, X,
                                  X, 1, 2, 1, 3, X,
                                  X, 3, 2, 1, 3, X,
                                  X, 2, 3, 2, 1, X,
                                  X, X, X, X, X, X};
// Every code kept: class = code = 3 (s1 - 1) + s2; none where either band lacks data.
const std::vector<int> kClasses{X, X, X, X, X, X,
                                X, 4, X, 4, 3, X,
                                X, 9, 8, 1, 3, X,
                                X, 2, 6, 8, 7, X,
                                X, X, X, X, X, X};
// clang-format on
const std::vector<int> kClassPixels{0, 1, 1, 2, 2, 0, 1, 1, 2, 1};  // classes 1..9
constexpr int kWithoutData = 19;  // the border's 18 and the pixel of gray 9 inside

struct Scene {
    std::string bytes, wide;
};

// 30 m pixels in UTM zone 31N.
const RasterPlace kUtm{{500000, 30, 0, 4650000, 0, -30}, 32631};

Scene WriteScene(const ScratchDir& dir, std::optional<RasterPlace> place) {
    RasterExtras bytes, wide;
    wide.nodata = 0;
    bytes.place = wide.place = place;
    const Scene scene{dir.File("bytes.tif"), dir.File("wide.tif")};
    EXPECT_TRUE(WriteGeoTiff(scene.bytes, kLines, kColumns, RasterType::Byte, {kBytes}, bytes));
    EXPECT_TRUE(WriteGeoTiff(scene.wide, kLines, kColumns, RasterType::UInt16, {kWide}, wide));
    return scene;
}

Arguments Job(const Scene& scene, const std::string& out) {
    // clang-format off
    return {"--out", out, "--keep-all",
            "--band", scene.bytes, "--method", "segmentation", "--segments", "3", "--nodata", "9",
            "--band", scene.wide, "--method", "equipopulation", "--segments", "3"};
    // clang-format on
}

int RunBatch(const Arguments& arguments, const ScratchDir& dir, std::string* errors = nullptr) {
    std::string command = std::string("'") + TESSERA_BATCH + "'";
    for (const std::string& argument : arguments) command += " '" + argument + "'";
    command += " 2>'" + dir.File("errors.txt") + "'";
    const int raw = std::system(command.c_str());
    if (errors) *errors = ReadText(dir.File("errors.txt"));
    return WIFEXITED(raw) ? WEXITSTATUS(raw) : -1;
}

// The same job as the interactive program runs it: band 1 given nodata 9, band 2 the file's own.
void RunWorkspace(const Scene& scene, const std::string& stem, const std::string& segmented) {
    Workspace ws;
    ws.BeginBandSet(2);
    BandLoadOptions options;
    options.nodata = 9;
    ASSERT_TRUE(ws.LoadBand(1, scene.bytes, BandFileType::Raster, options));
    options.nodata.reset();
    ASSERT_TRUE(ws.LoadBand(2, scene.wide, BandFileType::Raster, options));
    ws.SetSegmentation(1, Segmentation, 3, {});
    ws.SetSegmentation(2, Equipopulation, 3, {});
    ASSERT_TRUE(ws.FinishSegmentation());
    Result<CodeCounts> counts = ws.CountCodes();
    ASSERT_TRUE(counts);
    std::vector<int32_t> all = SelectCodes(counts.value->pixelCount, CodeSelection{true, 0});
    ASSERT_TRUE(ws.FinishCrossing(std::move(*counts.value), std::move(all)));
    ASSERT_TRUE(ws.SaveResult(stem));
    if (!segmented.empty()) {
        ASSERT_TRUE(ws.SaveSegmented(segmented));
    }
}

// The batch path again without the program, in strips of 2 lines shared by 3 threads.
void RunStreamed(const Scene& scene, const std::string& stem) {
    StreamedJob job(StreamSettings{3, 2});
    job.BeginBandSet(2);
    BandLoadOptions options;
    options.checkMemory = false;
    options.nodata = 9;
    ASSERT_TRUE(job.LoadBand(1, scene.bytes, BandFileType::Raster, options));
    options.nodata.reset();
    ASSERT_TRUE(job.LoadBand(2, scene.wide, BandFileType::Raster, options));
    job.SetSegmentation(1, Segmentation, 3, {});
    job.SetSegmentation(2, Equipopulation, 3, {});
    ASSERT_TRUE(job.FinishSegmentation());
    ASSERT_TRUE(job.CountCodes());
    ASSERT_TRUE(job.FinishCrossing(SelectCodes(job.PixelCount(), CodeSelection{true, 0})));
    ASSERT_TRUE(job.Save(stem, ""));
}

std::vector<uint8_t> Bytes(const std::vector<int>& values) {
    return std::vector<uint8_t>(values.begin(), values.end());
}

TEST(NodataPixels, AreLeftOutOfGrayRangesSegmentsAndClassesByBothFrontEnds) {
    ScratchDir dir;
    const Scene scene = WriteScene(dir, std::nullopt);
    std::string errors;
    Arguments batch = Job(scene, dir.File("b"));
    batch.insert(batch.end(), {"--save-segmented", dir.File("bseg")});
    ASSERT_EQ(0, RunBatch(batch, dir, &errors)) << errors;
    RunWorkspace(scene, dir.File("w"), dir.File("wseg"));

    const std::string report = ReadText(dir.File("b.txt"));
    // Each band's lines, from the line that names its file to the next band's.
    const size_t band1 = report.find("\n\nBand 1 = " + scene.bytes + " ");
    const size_t band2 = report.find("\n\nBand 2 = " + scene.wide + " ");
    ASSERT_LT(band1, band2) << report;
    ASSERT_NE(std::string::npos, band2) << report;
    const std::string nodataLine = " pixels, left out of the gray range and the segments \n";
    EXPECT_LT(report.find("\nType of thresholding : Segmentation \n"
                          "Nodata value : 9, held by 2" +
                              nodataLine +
                              "\nSegment limits\n\nNumber of segments : 3 "
                              "\n\tSegment 1 min = 40 max = 94 \n\tSegment 2 min = 95 max = 149 "
                              "\n\tSegment 3 min = 150 max = 200 \n\nBand 2",
                          band1),
              band2)
        << report;
    EXPECT_NE(std::string::npos,
              report.find("\nType of thresholding : Equipopulation \n"
                          "Data type : UInt16, stretched linearly to gray levels 0 to 255 from "
                          "MIN = 1000 (gray 0) to MAX = 3550 (gray 255) \n"
                          "Nodata value : 0, held by 18" +
                              nodataLine +
                              "\nSegment limits\n\nNumber of segments : 3 "
                              // 10 native units a gray level, gray g from 995 + 10 g on.
                              "\n\tSegment 1 min = 0 max = 49 (native values -inf to 1494) "
                              "\n\tSegment 2 min = 50 max = 179 (native values 1495 to 2794) "
                              "\n\tSegment 3 min = 180 max = 255 (native values 2795 to inf) \n",
                          band2))
        << report;
    EXPECT_NE(std::string::npos,
              report.find("\n\nPixels without data in at least one band : " +
                          std::to_string(kWithoutData) + " (code 0, in no class) \n\n\tCodes"))
        << report;
    for (int code = 1; code <= 9; ++code) {
        char line[64];  // code, segments of bands 1 and 2, pixels
        std::snprintf(line, sizeof line, "\t%d\t%d\t%d\t\t%d\n", code, (code - 1) / 3 + 1,
                      (code - 1) % 3 + 1, kClassPixels[code]);
        EXPECT_NE(std::string::npos, report.find(line)) << report;
    }
    EXPECT_EQ(Bytes(kClasses), ReadBytes(dir.File("b.raw")));
    EXPECT_EQ(Bytes(kSegments2), ReadBytes(dir.File("bseg.raw")));
    for (const std::string file : {".bmp", ".txt", ".raw", "seg.bmp", "seg.txt", "seg.raw"})
        EXPECT_EQ(ReadBytes(dir.File("b" + file)), ReadBytes(dir.File("w" + file))) << file;
}

// The palette of an 8-bit bitmap: blue, green, red and a spare byte per entry after the headers.
std::array<int, 4> BitmapColour(const std::vector<uint8_t>& bitmap, int entry) {
    const size_t at = 54 + 4 * static_cast<size_t>(entry);
    return {bitmap.at(at + 2), bitmap.at(at + 1), bitmap.at(at), 255};
}

TEST(MapResults, TheClassRasterAndTableLieWhereTheBandsLie) {
    ScratchDir dir;
    const Scene scene = WriteScene(dir, kUtm);
    std::string errors;
    ASSERT_EQ(0, RunBatch(Job(scene, dir.File("b")), dir, &errors)) << errors;
    RunWorkspace(scene, dir.File("w"), "");
    RunStreamed(scene, dir.File("s"));

    const std::optional<RasterContents> input = ReadRaster(scene.wide);
    ASSERT_TRUE(input && input->transform);
    const std::vector<uint8_t> bitmap = ReadBytes(dir.File("b.bmp"));
    EXPECT_EQ((std::array<int, 4>{255, 255, 255, 255}), BitmapColour(bitmap, 255));  // no class
    for (const std::string stem : {"b", "w", "s"}) {
        SCOPED_TRACE(stem);
        const std::optional<RasterContents> classes = ReadRaster(dir.File(stem + ".tif"));
        ASSERT_TRUE(classes);
        EXPECT_EQ("Byte", classes->dataType);
        EXPECT_EQ(kLines, classes->lines);
        EXPECT_EQ(kColumns, classes->columns);
        EXPECT_EQ(input->transform, classes->transform);
        EXPECT_TRUE(SameCoordinateSystem(input->coordinateSystem, classes->coordinateSystem));
        EXPECT_TRUE(SameCoordinateSystem(CoordinateSystemOfEpsg(32631), classes->coordinateSystem));
        EXPECT_EQ(std::optional<double>(255), classes->nodata);
        ASSERT_GE(classes->colours.size(), 10u);
        for (int k = 1; k <= 9; ++k) EXPECT_EQ(BitmapColour(bitmap, k), classes->colours[k]) << k;
        const std::vector<uint8_t> raw = ReadBytes(dir.File("b.raw"));
        EXPECT_EQ(std::vector<double>(raw.begin(), raw.end()), classes->pixels);
    }

    // One row per class: its code's segments and limits (natives of band 2 from its stretch),
    // pixels, area at 30 m x 30 m, share of the 11 pixels with data in both bands.
    const int limits1[4][2] = {{}, {40, 94}, {95, 149}, {150, 200}};
    const int limits2[4][2] = {{}, {0, 49}, {50, 179}, {180, 255}};
    const char* natives2[4][2] = {{}, {"-inf", "1494"}, {"1495", "2794"}, {"2795", "inf"}};
    std::string expected =
        "class,code,b1_segment,b1_gray_min,b1_gray_max,b1_native_min,b1_native_max,b2_segment,"
        "b2_gray_min,b2_gray_max,b2_native_min,b2_native_max,pixels,area_square_metre,"
        "percent_of_data_pixels\n";
    for (int k = 1; k <= 9; ++k) {
        const int s1 = (k - 1) / 3 + 1, s2 = (k - 1) % 3 + 1, pixels = kClassPixels[k];
        char row[200];
        std::snprintf(row, sizeof row, "%d,%d,%d,%d,%d,%d,%d,%d,%d,%d,%s,%s,%d,%d,%.4f\n", k, k, s1,
                      limits1[s1][0], limits1[s1][1], limits1[s1][0], limits1[s1][1], s2,
                      limits2[s2][0], limits2[s2][1], natives2[s2][0], natives2[s2][1], pixels,
                      pixels * 900, 100.0 * pixels / (kLines * kColumns - kWithoutData));
        expected += row;
    }
    EXPECT_EQ(expected, ReadText(dir.File("b.csv")));
    EXPECT_EQ(expected, ReadText(dir.File("w.csv")));
    EXPECT_EQ(expected, ReadText(dir.File("s.csv")));
    for (const std::string file : {".bmp", ".txt", ".raw", ".tif.aux.xml", ".qml"})
        EXPECT_EQ(ReadBytes(dir.File("b" + file)), ReadBytes(dir.File("w" + file))) << file;
    // Nothing else: no temporary file of a save is left behind.
    std::vector<std::string> files{"bytes.tif", "errors.txt", "wide.tif"};
    for (const std::string stem : {"b", "s", "w"})
        for (const std::string extension :
             {".bmp", ".csv", ".qml", ".raw", ".tif", ".tif.aux.xml", ".txt"})
            files.push_back(stem + extension);
    std::sort(files.begin(), files.end());
    EXPECT_EQ(files, ListFolder(dir.path()));
}

// What GDAL reads of a class GeoTIFF and the legend beside it.
struct ClassRasterInfo {
    std::vector<std::string> names;      // category names by class value
    std::vector<int64_t> counts, areas;  // the attribute table's Count and area, by row
    std::map<std::string, std::string> metadata;
};
ClassRasterInfo ReadClassRaster(const std::string& path) {
    ClassRasterInfo info;
    GDALAllRegister();
    GDALDatasetH dataset = GDALOpen(path.c_str(), GA_ReadOnly);
    EXPECT_NE(nullptr, dataset) << path;
    if (dataset == nullptr) return info;
    GDALRasterBandH band = GDALGetRasterBand(dataset, 1);
    GDALGetRasterNoDataValue(band, nullptr);  // GDAL 3.6 reads the side file on this question
    for (char** name = GDALGetRasterCategoryNames(band); name && *name; ++name)
        info.names.emplace_back(*name);
    if (GDALRasterAttributeTableH table = GDALGetDefaultRAT(band)) {
        for (int row = 0; row < GDALRATGetRowCount(table); ++row) {
            info.counts.push_back(GDALRATGetValueAsInt(table, row, 1));
            const int area = GDALRATGetColumnCount(table) - 2;
            info.areas.push_back(std::llround(GDALRATGetValueAsDouble(table, row, area)));
        }
    }
    for (char** item = GDALGetMetadata(dataset, nullptr); item && *item; ++item) {
        const std::string text = *item;
        const size_t equals = text.find('=');
        info.metadata[text.substr(0, equals)] = text.substr(equals + 1);
    }
    GDALClose(dataset);
    return info;
}

TEST(MapResults, TheLegendNamesTheClassesOfTheTableAndASaveReplacesAnEarlierLegend) {
    ScratchDir dir;
    const Scene scene = WriteScene(dir, kUtm);
    // A legend GDAL once wrote beside an earlier b.tif, with statistics of other classes.
    WriteText(dir.File("b.tif.aux.xml"),
              "<PAMDataset><PAMRasterBand band=\"1\"><Metadata><MDI key=\"STATISTICS_MAXIMUM\">"
              "12</MDI></Metadata></PAMRasterBand></PAMDataset>\n");
    std::string errors;
    ASSERT_EQ(0, RunBatch(Job(scene, dir.File("b")), dir, &errors)) << errors;
    RunWorkspace(scene, dir.File("w"), "");
    EXPECT_EQ(ReadBytes(dir.File("w.tif.aux.xml")), ReadBytes(dir.File("b.tif.aux.xml")));

    // Per class its segments and the native values they hold, from the limits of the table.
    const char* natives1[4] = {"", "[40, 94]", "[95, 149]", "[150, 200]"};
    const char* natives2[4] = {"", "(-inf, 1494]", "[1495, 2794]", "[2795, inf)"};
    ClassRasterInfo batch = ReadClassRaster(dir.File("b.tif"));
    ASSERT_EQ(10u, batch.names.size());
    ASSERT_EQ(9u, batch.counts.size());
    EXPECT_EQ("", batch.names[0]);
    for (int k = 1; k <= 9; ++k) {
        const int s1 = (k - 1) / 3 + 1, s2 = (k - 1) % 3 + 1;
        EXPECT_EQ(std::to_string(k) + ": b1 s" + std::to_string(s1) + " " + natives1[s1] +
                      " \u00b7 b2 s" + std::to_string(s2) + " " + natives2[s2],
                  batch.names[k]);
        EXPECT_EQ(kClassPixels[k], batch.counts[k - 1]) << k;
        EXPECT_EQ(kClassPixels[k] * 900, batch.areas[k - 1]) << k;
    }
    // The treatment in the GeoTIFF's metadata, and which front end made it.
    EXPECT_EQ("Tessera_V2 tessera-batch", batch.metadata["TIFFTAG_SOFTWARE"]);
    EXPECT_EQ("9", batch.metadata["TESSERA_BAND_1_NODATA"]);
    EXPECT_EQ("0", batch.metadata["TESSERA_BAND_2_NODATA"]);
    EXPECT_EQ("1000,3550 (UInt16)", batch.metadata["TESSERA_BAND_2_STRETCH"]);
    EXPECT_EQ("0-49,50-179,180-255", batch.metadata["TESSERA_BAND_2_GRAY_LIMITS"]);
    EXPECT_EQ("every code", batch.metadata["TESSERA_SELECTION"]);
    EXPECT_EQ("Tessera_V2 tessera", ReadClassRaster(dir.File("w.tif")).metadata["TIFFTAG_SOFTWARE"]);

    // Saved again under the same name, with other classes and without a style: the legend is
    // the new one, and the style of the earlier classes is gone.
    Arguments again = Job(scene, dir.File("b"));
    again[8] = "2";  // band 1's segments: step round(161 / 2) = 81, 40-121 and 122-200
    again.insert(again.end(), {"--format", "tif"});
    ASSERT_EQ(0, RunBatch(again, dir, &errors)) << errors;
    const ClassRasterInfo replaced = ReadClassRaster(dir.File("b.tif"));
    ASSERT_EQ(7u, replaced.names.size());
    EXPECT_EQ("6: b1 s2 [122, 200] \u00b7 b2 s3 [2795, inf)", replaced.names[6]);
    std::vector<std::string> files = ListFolder(dir.path());
    EXPECT_EQ(0, std::count(files.begin(), files.end(), "b.qml")) << "the earlier style is left";
    EXPECT_EQ(7, std::count_if(files.begin(), files.end(),
                               [](const std::string& name) { return name[0] == 'b'; }))
        << "b.bmp, b.csv, b.raw, b.tif, b.tif.aux.xml, b.txt and bytes.tif, nothing else";

    // A style asked for bands that lie on no map is refused, and nothing is written.
    ScratchDir plain;
    const Scene nowhere = WriteScene(plain, std::nullopt);
    Arguments styled = Job(nowhere, plain.File("p"));
    styled.insert(styled.end(), {"--format", "bmp,qml"});
    EXPECT_EQ(3, RunBatch(styled, plain, &errors));
    EXPECT_EQ("tessera-batch: --format asks for " + plain.File("p") +
                  ".qml, but not every band carries a georeference\n",
              errors);
    EXPECT_EQ((std::vector<std::string>{"bytes.tif", "errors.txt", "wide.tif"}),
              ListFolder(plain.path()));
}

// The fields of each line of a CSV text.
std::vector<std::vector<std::string>> CsvRows(const std::string& text) {
    std::vector<std::vector<std::string>> rows;
    std::istringstream lines(text);
    for (std::string line; std::getline(lines, line);) {
        std::vector<std::string>& fields = rows.emplace_back();
        std::istringstream cells(line);
        for (std::string cell; std::getline(cells, cell, ',');) fields.push_back(cell);
    }
    return rows;
}

// The area on WGS 84 between the parallels `south` and `north` over `width` degrees of
// longitude, in closed form: the ellipsoid's zone from the equator, per radian of longitude, is
// b^2 / 2 (sin(lat) / (1 - e^2 sin^2(lat)) + atanh(e sin(lat)) / e).
double QuadrangleArea(double south, double north, double width) {
    const double a = 6378137, f = 1 / 298.257223563;
    const double e2 = f * (2 - f), e = std::sqrt(e2), b = a * (1 - f);
    const auto zone = [&](double latitude) {
        const double s = std::sin(latitude * std::numbers::pi / 180);
        return b * b / 2 * (s / (1 - e2 * s * s) + std::atanh(e * s) / e);
    };
    return (zone(north) - zone(south)) * width * std::numbers::pi / 180;
}

TEST(MapResults, GeographicAreasAreSquareMetresOnTheEllipsoidTheSameFromEveryFrontEnd) {
    ScratchDir dir;
    // Cells of 0.00125 by 0.001 degree (about 92 m x 111 m) at Paris, on WGS 84.
    const double west = 2.35, north = 48.86, width = 0.00125, height = 0.001;
    const Scene scene = WriteScene(dir, RasterPlace{{west, width, 0, north, 0, -height}, 4326});
    std::string errors;
    ASSERT_EQ(0, RunBatch(Job(scene, dir.File("b")), dir, &errors)) << errors;
    RunWorkspace(scene, dir.File("w"), "");
    RunStreamed(scene, dir.File("s"));
    const std::string table = ReadText(dir.File("b.csv"));
    EXPECT_EQ(table, ReadText(dir.File("w.csv")));
    EXPECT_EQ(table, ReadText(dir.File("s.csv")));

    const std::vector<std::vector<std::string>> rows = CsvRows(table);
    ASSERT_EQ(10u, rows.size()) << table;
    const size_t pixels = static_cast<size_t>(
        std::find(rows[0].begin(), rows[0].end(), "pixels") - rows[0].begin());
    ASSERT_LT(pixels + 1, rows[0].size()) << table;
    EXPECT_EQ("area_square_metre", rows[0][pixels + 1]) << table;
    for (int k = 1; k <= 9; ++k) {
        SCOPED_TRACE(k);
        ASSERT_EQ(rows[0].size(), rows[k].size()) << table;
        EXPECT_EQ(std::to_string(kClassPixels[k]), rows[k][pixels]);
        // The parallels bound a line of cells; their geodesic polygons differ from that by far
        // less than the hundredth of a square metre the areas are written to (seven digits of a
        // cell of about 10,000 m2).
        double expected = 0;
        for (int i = 0; i < kLines * kColumns; ++i) {
            const int line = i / kColumns;
            if (kClasses[i] == k)
                expected += QuadrangleArea(north - height * (line + 1), north - height * line,
                                           width);
        }
        const std::string& area = rows[k][pixels + 1];
        ASSERT_FALSE(area.empty());
        EXPECT_NEAR(expected, std::stod(area), 0.005 + 1e-9 * expected) << area;
        const size_t point = area.find('.');
        EXPECT_TRUE(point == std::string::npos || area.size() - point <= 3) << area;
    }

    // The same bands on a grid turned and sheared in degrees: pixel counts, no areas.
    ScratchDir turned;
    const Scene tilted = WriteScene(
        turned, RasterPlace{{west, width, 0.0002, north, 0.0001, -height}, 4326});
    ASSERT_EQ(0, RunBatch(Job(tilted, turned.File("b")), turned, &errors)) << errors;
    const std::vector<std::vector<std::string>> counted = CsvRows(ReadText(turned.File("b.csv")));
    ASSERT_EQ(10u, counted.size());
    EXPECT_EQ(rows[0], counted[0]);
    for (int k = 1; k <= 9; ++k) {
        ASSERT_EQ(rows[0].size(), counted[k].size()) << k;
        EXPECT_EQ(std::to_string(kClassPixels[k]), counted[k][pixels]) << k;
        EXPECT_EQ("", counted[k][pixels + 1]) << k;
    }
}

TEST(MapResults, RefusalsNameTheFilesAndWriteNothingAndFormatChoosesTheFiles) {
    ScratchDir dir;
    const Scene scene = WriteScene(dir, kUtm);
    const std::string moved = dir.File("moved.tif"), empty = dir.File("empty.tif"),
                      nines = dir.File("nines.tif"), plain = dir.File("plain.tif");
    RasterExtras shifted, allNodata;
    shifted.place = RasterPlace{{500030, 30, 0, 4650000, 0, -30}, 32631};  // a pixel east
    allNodata.nodata = 0;
    ASSERT_TRUE(WriteGeoTiff(moved, kLines, kColumns, RasterType::Byte, {kBytes}, shifted));
    ASSERT_TRUE(WriteGeoTiff(empty, kLines, kColumns, RasterType::UInt16,
                             {std::vector<double>(kLines * kColumns, 0)}, allNodata));
    ASSERT_TRUE(WriteGeoTiff(nines, kLines, kColumns, RasterType::Byte,
                             {std::vector<double>(kLines * kColumns, 9)}));
    ASSERT_TRUE(WriteGeoTiff(plain, kLines, kColumns, RasterType::Byte, {kBytes}));
    const std::string out = dir.File("out");
    std::filesystem::create_directory(out);

    struct Case {
        Arguments bands;
        std::vector<std::string> named;
    };
    const std::vector<Case> cases{
        // (A band whose origin differs is brought onto band 1's grid: products_test.py.)
        {{"--band", scene.bytes, "--band", empty},
         {empty, "every pixel holds its nodata value 0, which leaves no data to segment"}},
        {{"--band", scene.bytes, "--band", nines, "--nodata", "9"},
         {nines, "every pixel holds its nodata value 9, which leaves no data to segment"}},
        {{"--band", scene.bytes, "--band", plain, "--format", "csv"}, {out + "/r.csv"}},
    };
    for (const Case& refused : cases) {
        Arguments arguments{"--out", out + "/r", "--method", "segmentation", "--segments", "2"};
        arguments.insert(arguments.end(), refused.bands.begin(), refused.bands.end());
        std::string errors;
        EXPECT_EQ(3, RunBatch(arguments, dir, &errors)) << errors;
        for (const std::string& text : refused.named)
            EXPECT_NE(std::string::npos, errors.find(text)) << errors;
        EXPECT_EQ(std::vector<std::string>{}, ListFolder(out)) << errors;
    }
    // The interactive program refuses the band that lies elsewhere likewise, and keeps none of it.
    Workspace ws;
    ws.BeginBandSet(2);
    ASSERT_TRUE(ws.LoadBand(1, scene.bytes, BandFileType::Raster, {}));
    const Status refused = ws.LoadBand(2, moved, BandFileType::Raster, {});
    EXPECT_FALSE(refused);
    EXPECT_NE(std::string::npos,
              refused.message.find("Band 2\n" + moved + "\nand band 1\n" + scene.bytes))
        << refused.message;
    EXPECT_FALSE(ws.Band(2).Loaded());

    Arguments chosen = Job(scene, out + "/r");
    chosen.insert(chosen.end(), {"--format", "txt,tif"});
    std::string errors;
    ASSERT_EQ(0, RunBatch(chosen, dir, &errors)) << errors;
    EXPECT_EQ((std::vector<std::string>{"r.tif", "r.tif.aux.xml", "r.txt"}), ListFolder(out));
    const std::optional<RasterContents> classes = ReadRaster(out + "/r.tif");
    ASSERT_TRUE(classes);
    EXPECT_EQ(std::vector<double>(kClasses.begin(), kClasses.end()), classes->pixels);
}

}  // namespace
}  // namespace tessera

namespace tessera {
namespace {

TEST(MapResults, TheMasksAreInTheGeoTiffsMetadataWithTheirFileBandAndRule) {
    ScratchDir dir;
    const Scene scene = WriteScene(dir, kUtm);
    RasterExtras placed;
    placed.place = kUtm;
    const std::vector<double> none(static_cast<size_t>(kLines) * kColumns, 0.0);
    std::vector<double> flags = none;
    flags[0] = 10;  // bits 1 and 3
    const std::string quality = dir.File("quality.tif"), cloud = dir.File("cloud.tif");
    ASSERT_TRUE(WriteGeoTiff(quality, kLines, kColumns, RasterType::Byte, {none, flags}, placed));
    ASSERT_TRUE(WriteGeoTiff(cloud, kLines, kColumns, RasterType::Byte, {none}, placed));
    Arguments job = Job(scene, dir.File("b"));
    job.insert(job.end(), {"--mask", quality + ":2", "--mask-bits", "1,3", "--mask", cloud});
    std::string errors;
    ASSERT_EQ(0, RunBatch(job, dir, &errors)) << errors;
    std::map<std::string, std::string> metadata = ReadClassRaster(dir.File("b.tif")).metadata;
    EXPECT_EQ("2", metadata["TESSERA_MASKS"]);
    EXPECT_EQ(quality + " (raster band 2)", metadata["TESSERA_MASK_1_FILE"]);
    EXPECT_EQ("masked where any of bits 1 and 3 is set", metadata["TESSERA_MASK_1_RULE"]);
    EXPECT_EQ(cloud + " (raster band 1)", metadata["TESSERA_MASK_2_FILE"]);
    EXPECT_EQ("masked where it is not 0", metadata["TESSERA_MASK_2_RULE"]);
    EXPECT_EQ(0u, metadata.count("TESSERA_MASK_3_FILE"));

    // Without masks, no entry speaks of one.
    ASSERT_EQ(0, RunBatch(Job(scene, dir.File("n")), dir, &errors)) << errors;
    for (const auto& [name, value] : ReadClassRaster(dir.File("n.tif")).metadata)
        EXPECT_EQ(std::string::npos, name.find("MASK")) << name << "=" << value;
}

}  // namespace
}  // namespace tessera
