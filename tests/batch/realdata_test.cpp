// tessera-batch on real scenes from Debian's archive (scripts/fetch-real-data.sh fetches them
// into TESSERA_REAL_DATA; without them these tests are skipped): a Landsat 7 GeoTIFF of six
// 8-bit bands gives the files of its bands exported as raw files, and 16-bit Landsat 8 bands are
// stretched between their own minimum and maximum, reported as GDAL reads them.
#include <gdal.h>
#include <gtest/gtest.h>
#include <sys/wait.h>

#include <algorithm>
#include <charconv>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <set>
#include <string>
#include <vector>

#include "testfiles.h"

namespace {
using testing_support::FileExists;
using testing_support::ReadBytes;
using testing_support::ReadText;
using testing_support::ScratchDir;
using testing_support::WriteBytes;
using testing_support::WriteText;
using Arguments = std::vector<std::string>;

const std::string kRealData = TESSERA_REAL_DATA;

// The file of the real-data folder whose name ends with `ending`; "" when there is none.
std::string RealFile(const std::string& ending) {
    std::error_code error;
    for (const auto& entry : std::filesystem::directory_iterator(kRealData, error)) {
        const std::string name = entry.path().filename().string();
        if (name.ends_with(ending)) return entry.path().string();
    }
    return "";
}

std::string Missing(const std::string& ending) {
    return "no *" + ending + " in " + kRealData +
           ": run scripts/fetch-real-data.sh to fetch the real scenes (Debian's r-cran-stars and "
           "r-cran-satellite packages)";
}

struct RunResult {
    int status = -1;
    std::string errors;
};

RunResult RunBatch(const Arguments& arguments, const ScratchDir& dir) {
    std::string command = std::string("'") + TESSERA_BATCH + "'";
    for (const std::string& argument : arguments) command += " '" + argument + "'";
    command += " 2>'" + dir.File("errors.txt") + "'";
    const int raw = std::system(command.c_str());
    return {WIFEXITED(raw) ? WEXITSTATUS(raw) : -1, ReadText(dir.File("errors.txt"))};
}

// One band as GDAL reads it, independently of the program's reader.
struct GdalBand {
    int lines = 0;
    int columns = 0;
    std::string type;
    std::vector<double> values;  // top line first
    std::vector<uint8_t> bytes;  // the same, read as GDT_Byte
    double minimum = 0;          // GDALComputeRasterMinMax, exact
    double maximum = 0;
};

GdalBand ReadWithGdal(const std::string& path, int number) {
    GDALAllRegister();
    GdalBand read;
    GDALDatasetH dataset = GDALOpen(path.c_str(), GA_ReadOnly);
    if (dataset == nullptr) return read;
    if (GDALRasterBandH band = GDALGetRasterBand(dataset, number)) {
        read.lines = GDALGetRasterBandYSize(band);
        read.columns = GDALGetRasterBandXSize(band);
        read.type = GDALGetDataTypeName(GDALGetRasterDataType(band));
        const size_t cells = static_cast<size_t>(read.lines) * read.columns;
        read.values.resize(cells);
        read.bytes.resize(cells);
        if (GDALRasterIO(band, GF_Read, 0, 0, read.columns, read.lines, read.values.data(),
                         read.columns, read.lines, GDT_Float64, 0, 0) != CE_None ||
            GDALRasterIO(band, GF_Read, 0, 0, read.columns, read.lines, read.bytes.data(),
                         read.columns, read.lines, GDT_Byte, 0, 0) != CE_None)
            read.values.clear();
        double range[2] = {0, 0};
        if (GDALComputeRasterMinMax(band, FALSE, range) != CE_None) read.values.clear();
        read.minimum = range[0];
        read.maximum = range[1];
    }
    GDALClose(dataset);
    return read;
}

// A band written as the raw band STEM.raw with its descriptor STEM.txt (lines, then columns).
std::string WriteRawBand(const std::string& stem, const GdalBand& band,
                         const std::vector<uint8_t>& grays) {
    WriteBytes(stem + ".raw", grays);
    WriteText(stem + ".txt",
              std::to_string(band.lines) + "\n" + std::to_string(band.columns) + "\n");
    return stem + ".raw";
}

// A number as the report writes MIN and MAX: the shortest text that reads back the same.
std::string Shortest(double value) {
    char text[32];
    return std::string(text, std::to_chars(text, text + sizeof text, value).ptr);
}

std::string Native(double value) {
    char text[32];
    std::snprintf(text, sizeof text, "%.6g", value);
    return text;
}

std::string Replaced(std::string text, const std::string& from, const std::string& to) {
    for (size_t at = text.find(from); at != std::string::npos; at = text.find(from, at + to.size()))
        text.replace(at, from.size(), to);
    return text;
}

size_t ClassesIn(const std::vector<uint8_t>& classes) {
    return std::set<uint8_t>(classes.begin(), classes.end()).size();
}

TEST(RealScenes, SixLandsat7BandsGiveTheFilesOfTheirRawExports) {
    const std::string scene = RealFile("L7_ETMs.tif");
    if (scene.empty()) GTEST_SKIP() << Missing("L7_ETMs.tif");
    ScratchDir dir;
    std::vector<std::string> raws;
    for (int k = 1; k <= 6; ++k) {
        const GdalBand band = ReadWithGdal(scene, k);
        ASSERT_EQ(352, band.lines) << k;
        ASSERT_EQ(349, band.columns) << k;
        ASSERT_EQ("Byte", band.type) << k;
        ASSERT_FALSE(band.values.empty()) << k;
        raws.push_back(WriteRawBand(dir.File("band" + std::to_string(k)), band, band.bytes));
    }
    // One treatment for every band through --bands; then a treatment of each band its own
    // (equal width, equal population, limits typed), the bands named by number.
    const Arguments kAll{"--min-pixels", "300", "--method", "segmentation", "--segments", "3"};
    const Arguments kMixed{"--min-pixels", "300", "--method", "equipopulation", "--segments", "3"};
    const std::vector<Arguments> kOwn{{},
                                      {"--method", "segmentation", "--segments", "4"},
                                      {},
                                      {"--method", "segmentation"},
                                      {"--method", "definition", "--limits", "60,110,255"},
                                      {"--segments", "2"}};
    for (const bool mixed : {false, true}) {
        SCOPED_TRACE(mixed ? "a method per band" : "--bands");
        Arguments fromRaw = mixed ? kMixed : kAll;
        Arguments fromTiff = fromRaw;
        fromRaw.insert(fromRaw.end(), {"--out", dir.File("fromraw")});
        fromTiff.insert(fromTiff.end(), {"--out", dir.File("fromtiff")});
        if (!mixed) fromTiff.insert(fromTiff.end(), {"--bands", scene});
        for (int k = 1; k <= 6; ++k) {
            fromRaw.insert(fromRaw.end(), {"--band", raws[k - 1]});
            if (!mixed) continue;
            fromTiff.insert(fromTiff.end(), {"--band", scene + ":" + std::to_string(k)});
            for (Arguments* run : {&fromRaw, &fromTiff})
                run->insert(run->end(), kOwn[k - 1].begin(), kOwn[k - 1].end());
        }
        RunResult run = RunBatch(fromRaw, dir);
        ASSERT_EQ(0, run.status) << run.errors;
        run = RunBatch(fromTiff, dir);
        ASSERT_EQ(0, run.status) << run.errors;

        const std::vector<uint8_t> classes = ReadBytes(dir.File("fromtiff.raw"));
        EXPECT_EQ(352u * 349u, classes.size());
        EXPECT_GE(ClassesIn(classes), 8u);  // a real scene gives many classes, not a blank
        EXPECT_EQ(ReadBytes(dir.File("fromraw.raw")), classes);
        EXPECT_EQ(ReadBytes(dir.File("fromraw.bmp")), ReadBytes(dir.File("fromtiff.bmp")));
        std::string expected = ReadText(dir.File("fromraw.txt"));
        for (int k = 1; k <= 6; ++k)
            expected = Replaced(expected, "= " + raws[k - 1] + " \n",
                                "= " + scene + " (raster band " + std::to_string(k) + ") \n");
        const std::string report = ReadText(dir.File("fromtiff.txt"));
        EXPECT_EQ(0u, report.rfind("352\n349\n", 0)) << report;  // lines, then columns
        EXPECT_EQ(expected, report);
    }
}

TEST(RealScenes, SixteenBitLandsat8BandsAreStretchedBetweenTheirOwnMinimumAndMaximum) {
    std::vector<std::string> files;
    for (const char* ending : {"_B2.TIF", "_B3.TIF", "_B4.TIF", "_B5.TIF"}) {
        files.push_back(RealFile(ending));
        if (files.back().empty()) GTEST_SKIP() << Missing(ending);
    }
    ScratchDir dir;
    Arguments fromTiff{"--out",    dir.File("fromtiff"), "--min-pixels", "10",
                       "--method", "equipopulation",     "--segments",   "4"};
    Arguments fromRaw{"--out",    dir.File("fromraw"), "--min-pixels", "10",
                      "--method", "equipopulation",    "--segments",   "4"};
    std::vector<GdalBand> bands;
    for (size_t b = 0; b < files.size(); ++b) {
        const GdalBand& band = bands.emplace_back(ReadWithGdal(files[b], 1));
        ASSERT_FALSE(band.values.empty()) << files[b];
        ASSERT_EQ(2, GDALGetDataTypeSizeBytes(GDALGetDataTypeByName(band.type.c_str())))
            << files[b] << " is " << band.type;
        ASSERT_LT(band.minimum, band.maximum) << files[b];
        // The stretch as the program states it: (value - MIN) x 255 / (MAX - MIN), rounded.
        std::vector<uint8_t> grays;
        for (const double value : band.values) {
            const double gray =
                std::floor((value - band.minimum) * 255.0 / (band.maximum - band.minimum) + 0.5);
            grays.push_back(static_cast<uint8_t>(std::clamp(gray, 0.0, 255.0)));
        }
        const std::string raw = WriteRawBand(dir.File("band" + std::to_string(b + 1)), band, grays);
        fromTiff.insert(fromTiff.end(), {"--band", files[b]});
        fromRaw.insert(fromRaw.end(), {"--band", raw});
        if (b == 2) {  // one band of equal-width segments
            for (Arguments* run : {&fromTiff, &fromRaw})
                run->insert(run->end(), {"--method", "segmentation", "--segments", "3"});
        }
    }
    RunResult run = RunBatch(fromTiff, dir);
    ASSERT_EQ(0, run.status) << run.errors;
    run = RunBatch(fromRaw, dir);
    ASSERT_EQ(0, run.status) << run.errors;
    const std::vector<uint8_t> classes = ReadBytes(dir.File("fromtiff.raw"));
    EXPECT_GE(ClassesIn(classes), 8u);
    EXPECT_EQ(ReadBytes(dir.File("fromraw.raw")), classes);
    EXPECT_EQ(ReadBytes(dir.File("fromraw.bmp")), ReadBytes(dir.File("fromtiff.bmp")));

    const std::string report = ReadText(dir.File("fromtiff.txt"));
    for (size_t b = 0; b < files.size(); ++b) {
        const GdalBand& band = bands[b];
        const std::string head =
            "\nBand " + std::to_string(b + 1) + " = " + files[b] + " (raster band 1) \n";
        const size_t start = report.find(head);
        ASSERT_NE(std::string::npos, start) << report;
        const std::string section = report.substr(
            start, report.find("\n\n", report.find("Number of segments", start)) - start);
        EXPECT_NE(std::string::npos,
                  section.find(" \nData type : " + band.type +
                               ", stretched linearly to gray levels 0 to 255 from MIN = " +
                               Shortest(band.minimum) +
                               " (gray 0) to MAX = " + Shortest(band.maximum) + " (gray 255) \n"))
            << section;
        // Every segment's gray limits a and b with the native values they stand for:
        // MIN + gray x (MAX - MIN) / 255; the segments run from MIN (gray 0) to MAX (gray 255).
        int segments = 0, last = -1;
        for (size_t at = section.find("\n\tSegment "); at != std::string::npos;
             at = section.find("\n\tSegment ", at + 1)) {
            const std::string line = section.substr(at + 1, section.find('\n', at + 1) - at - 1);
            int j = 0, low = 0, high = 0;
            ASSERT_EQ(3,
                      std::sscanf(line.c_str(), "\tSegment %d min = %d max = %d", &j, &low, &high))
                << line;
            // The integers whose gray level lies in low..high, found by trying each value.
            const auto gray = [&](double value) {
                return std::clamp(std::floor((value - band.minimum) * 255.0 /
                                                 (band.maximum - band.minimum) +
                                             0.5),
                                  0.0, 255.0);
            };
            double lowest = band.minimum, highest = band.maximum;
            while (gray(lowest) < low) ++lowest;
            while (gray(highest) > high) --highest;
            EXPECT_EQ("\tSegment " + std::to_string(j) + " min = " + std::to_string(low) +
                          " max = " + std::to_string(high) + " (native values " +
                          (low == 0 ? "-inf" : Native(lowest)) + " to " +
                          (high == 255 ? "inf" : Native(highest)) + ") ",
                      line);
            EXPECT_EQ(last + 1, low) << line;
            last = high;
            ++segments;
        }
        EXPECT_EQ(b == 2 ? 3 : 4, segments) << section;
        EXPECT_EQ(255, last) << section;
    }
}

// The two bands with the scene metadata's reflectance, REFLECTANCE_MULT_BAND_n = 2.0000E-05 and
// REFLECTANCE_ADD_BAND_n = -0.100000: every value the report, the class table, the legend and
// the GeoTIFF's metadata give is a stored value x 0.00002 - 0.1, in five decimals at most.
TEST(RealScenes, Landsat8ReflectanceIsWrittenInTheDigitsOfItsScale) {
    const std::string blue = RealFile("_B2.TIF"), green = RealFile("_B3.TIF");
    for (const std::string& file : {blue, green})
        if (file.empty()) GTEST_SKIP() << Missing("_B2.TIF and *_B3.TIF");
    ScratchDir dir;
    const RunResult run =
        RunBatch({"--out", dir.File("r"), "--method", "segmentation", "--segments", "3", "--scale",
                  "2.0E-05", "--offset", "-0.1", "--band", blue, "--band", green},
                 dir);
    ASSERT_EQ(0, run.status) << run.errors;
    // Worked by hand from the stored values (gdalinfo -mm): band 2 holds 8709 to 15069, band 3
    // 7647 to 14143.
    //   MIN and MAX: 8709 x 0.00002 - 0.1 = 0.07418, 15069 x 0.00002 - 0.1 = 0.20138 (the
    //   doubles give 0.20138000000000003); 7647 -> 0.05294, 14143 -> 0.18286.
    //   A stored value v is gray (v - 8709) x 255 / 6360 rounded (the scale cancels out), so
    //   gray 85 ends below (85.5 x 6360 / 255 = 2132.47) above 8709: segment 1 (grays 0..85)
    //   ends at 8709 + 2132 = 10841 -> 0.11682, segment 2 (86..171) begins at 10842 ->
    //   0.11684 and ends at 8709 + 4277 (171.5 x 6360 / 255 = 4277.41) = 12986 -> 0.15972.
    //   Band 3, span 6496: 85.5 x 6496 / 255 = 2178.07 and 171.5 x 6496 / 255 = 4368.88, so
    //   segment 1 ends at 9825 -> 0.0965, segment 2 holds 9826..12015 -> 0.09652 to 0.1403.
    // Before, the ends were the doubles where the gray levels meet (-inf to
    // 0.11682941176470588, 0.11682941176470589 to ...), values no pixel holds.
    const std::string report = ReadText(dir.File("r.txt"));
    for (const char* line :
         {"Data type : Int16, stretched linearly to gray levels 0 to 255 from MIN = 0.07418 "
          "(gray 0) to MAX = 0.20138 (gray 255) \n",
          "\tSegment 1 min = 0 max = 85 (native values -inf to 0.11682) \n",
          "\tSegment 2 min = 86 max = 171 (native values 0.11684 to 0.15972) \n",
          "\tSegment 3 min = 172 max = 255 (native values 0.15974 to inf) \n",
          "Data type : Int16, stretched linearly to gray levels 0 to 255 from MIN = 0.05294 "
          "(gray 0) to MAX = 0.18286 (gray 255) \n",
          "\tSegment 1 min = 0 max = 85 (native values -inf to 0.0965) \n",
          "\tSegment 2 min = 86 max = 171 (native values 0.09652 to 0.1403) \n"})
        EXPECT_NE(std::string::npos, report.find(line)) << line << "\n" << report;
    // The class table: class, code, then per band segment, gray and native limits.
    const std::string table = ReadText(dir.File("r.csv"));
    EXPECT_NE(std::string::npos, table.find("\n1,1,1,0,85,-inf,0.11682,1,0,85,-inf,0.0965,"))
        << table;
    EXPECT_NE(std::string::npos,
              table.find("\n4,5,2,86,171,0.11684,0.15972,2,86,171,0.09652,0.1403,"))
        << table;
    // The legend and the metadata take the same texts.
    EXPECT_NE(std::string::npos,
              ReadText(dir.File("r.tif.aux.xml"))
                  .find("4: b1 s2 [0.11684, 0.15972] \xc2\xb7 b2 s2 [0.09652, 0.1403]"));
    EXPECT_NE(
        std::string::npos,
        ReadText(dir.File("r.qml")).find("b1 s1 (-inf, 0.11682] \xc2\xb7 b2 s1 (-inf, 0.0965]"));
    GDALAllRegister();
    GDALDatasetH classes = GDALOpen(dir.File("r.tif").c_str(), GA_ReadOnly);
    ASSERT_NE(nullptr, classes);
    const char* stretch = GDALGetMetadataItem(classes, "TESSERA_BAND_1_STRETCH", nullptr);
    EXPECT_STREQ("0.07418,0.20138 (Int16)", stretch);
    GDALClose(classes);
    // Nothing written anywhere has the noise of a double's last digits.
    for (const char* file : {"r.txt", "r.csv", "r.tif.aux.xml", "r.qml"})
        for (const char* noise : {"0000000", "9999999"})
            EXPECT_EQ(std::string::npos, ReadText(dir.File(file)).find(noise)) << file;
}

// (The panchromatic band, on a finer grid, is brought onto one grid with the others: see
// tests/batch/products_test.py.)
TEST(RealScenes, Landsat8BandOfOneValueIsRefused) {
    const std::string red = RealFile("_B4.TIF");
    const std::string quality = RealFile("_BQA.TIF");
    for (const std::string& file : {red, quality})
        if (file.empty()) GTEST_SKIP() << Missing("_B4.TIF and *_BQA.TIF");
    const GdalBand flat = ReadWithGdal(quality, 1);
    ASSERT_EQ(flat.minimum, flat.maximum);
    ScratchDir dir;
    const std::string value = "every pixel holds the value " + Shortest(flat.minimum);
    for (const auto& [file, why] : {std::pair{quality, value}}) {
        const RunResult run = RunBatch({"--out", dir.File("r"), "--method", "segmentation",
                                        "--segments", "2", "--band", red, "--band", file},
                                       dir);
        EXPECT_EQ(3, run.status) << run.errors;
        EXPECT_NE(std::string::npos, run.errors.find(file)) << run.errors;
        EXPECT_NE(std::string::npos, run.errors.find(why)) << run.errors;
        EXPECT_FALSE(FileExists(dir.File("r.txt")));
    }
}

}  // namespace
