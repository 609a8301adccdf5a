#include "crossing/report.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdint>
#include <string>
#include <vector>

#include "bands/stretch.h"
#include "crossing/maplegend.h"
#include "crossing/mapresult.h"
#include "support/numbers.h"

namespace tessera {
namespace {

CodeTable Table(const std::vector<int32_t>& counts) {
    return *BuildCodeTable(counts).value;
}

BandRecord Record(const std::string& path, int type, std::vector<int64_t> lower,
                  std::vector<int64_t> upper) {
    BandRecord record;
    record.filePath = path;
    record.thresholdingType = type;
    record.segmentCount = static_cast<int32_t>(lower.size()) - 1;
    record.segmentLimits.lower = std::move(lower);
    record.segmentLimits.upper = std::move(upper);
    return record;
}

bool EndsWith(const std::string& text, const std::string& ending) {
    return text.size() >= ending.size() &&
           text.compare(text.size() - ending.size(), ending.size(), ending) == 0;
}

TEST(CodeTableText, HeaderNamesEveryBand) {
    EXPECT_EQ("   CODES\t   B1\t   B2\t   NUMPIX", CodeTableHeader(2));
    EXPECT_EQ(
        "   CODES\t   B1\t   B2\t   B3\t   B4\t   B5\t   B6\t   B7\t   B8\t   B9\t   B10\t   "
        "NUMPIX",
        CodeTableHeader(10));
}

TEST(CodeTableText, ThreeByFourListsEveryCodeWithItsCount) {
    const CodeTable table = Table({0, 3, 4});
    std::vector<int64_t> pixels(13, 0);
    pixels[1] = 17;
    pixels[12] = 3000000000;  // counts are 64-bit
    const std::vector<std::string> lines = CodeTableLines(table, pixels);
    ASSERT_EQ(14u, lines.size());
    EXPECT_EQ("   CODES\t   B1\t   B2\t   NUMPIX", lines[0]);
    EXPECT_EQ("   ", lines[1]);
    EXPECT_EQ("   1\t   1\t   1\t   17", lines[2]);
    EXPECT_EQ("   2\t   1\t   2\t   0", lines[3]);
    EXPECT_EQ("   5\t   2\t   1\t   0", lines[6]);
    EXPECT_EQ("   12\t   3\t   4\t   3000000000", lines[13]);
}

TEST(ResultReport, TwoBandsByteForByte) {
    const std::vector<BandRecord> records = {
        BandRecord{},
        Record("/data/b1.raw", Segmentation, {0, 0, 27}, {0, 26, 50}),
        Record("/data/b2.raw", Definition, {0, 100, 151}, {0, 150, 250}),
    };
    const std::vector<int64_t> pixels{0, 2, 1, 1, 2};
    const std::string expected =
        "2\n3\n1\n0\n255\n"
        "\nNumber of Bands = 2"
        "\n\nBand 1 = /data/b1.raw "
        "\nType of thresholding : Segmentation \n"
        "\nSegment limits\n"
        "\nNumber of segments : 2 "
        "\n\tSegment 1 min = 0 max = 26 "
        "\n\tSegment 2 min = 27 max = 50 "
        "\n\nBand 2 = /data/b2.raw "
        "\nType of thresholding : Definition \n"
        "\nSegment limits\n"
        "\nNumber of segments : 2 "
        "\n\tSegment 1 min = 100 max = 150 "
        "\n\tSegment 2 min = 151 max = 250 "
        "\n\n\tCodes"
        "\tNumber of pixels\n\n"
        "\t1\t1\t1\t\t2\n"
        "\t2\t2\t2\t\t2\n";
    EXPECT_EQ(expected,
              ResultReport(ImageSize{2, 3}, records, Table({0, 2, 2}), pixels, {0, 1, 4}));
}

TEST(ResultReport, TenBandsHeaderHasSeventeenTabs) {
    std::vector<BandRecord> records{BandRecord{}};
    for (int b = 1; b <= 10; ++b)
        records.push_back(Record("band" + std::to_string(b), Equipopulation, {0, 3}, {0, 250}));
    const std::vector<int64_t> pixels{0, 5000000000};
    const std::string report = ResultReport(ImageSize{50000, 100000}, records,
                                            Table(std::vector<int32_t>(11, 1)), pixels, {0, 1});
    EXPECT_EQ(0u, report.find("50000\n100000\n1\n0\n255\n\nNumber of Bands = 10\n\nBand 1 = band1 "
                              "\nType of thresholding : Equipopulation \n"));
    EXPECT_TRUE(EndsWith(report,
                         "\n\tSegment 1 min = 3 max = 250 "
                         "\n\n\tCodes\t\t\t\t\t\t\t\t\t\t\t\t\t\t\t\t\tNumber of pixels\n\n"
                         "\t1\t1\t1\t1\t1\t1\t1\t1\t1\t1\t1\t\t5000000000\n"))
        << report;
}

TEST(ResultReport, NoClassEndsWithTheHeaderAndItsEmptyLine) {
    const std::vector<BandRecord> records = {
        BandRecord{},
        Record("a", Segmentation, {0, 0}, {0, 255}),
        Record("b", Segmentation, {0, 0}, {0, 255}),
        Record("c", Segmentation, {0, 0}, {0, 255}),
    };
    const std::string report =
        ResultReport(ImageSize{1, 1}, records, Table({0, 1, 1, 1}), {0, 1}, {0});
    EXPECT_TRUE(EndsWith(report, " \n\n\tCodes\t\t\tNumber of pixels\n\n")) << report;
}

TEST(ResultReport, ClassWithoutPixelsIsListedWithZero) {
    const std::vector<BandRecord> records = {
        BandRecord{},
        Record("a", Segmentation, {0, 0, 128}, {0, 127, 255}),
        Record("b", Segmentation, {0, 0, 128}, {0, 127, 255}),
    };
    const std::string report =
        ResultReport(ImageSize{1, 4}, records, Table({0, 2, 2}), {0, 4, 0, 0, 0}, {0, 1, 2, 3, 4});
    EXPECT_TRUE(EndsWith(report,
                         "Number of pixels\n\n"
                         "\t1\t1\t1\t\t4\n"
                         "\t2\t1\t2\t\t0\n"
                         "\t3\t2\t1\t\t0\n"
                         "\t4\t2\t2\t\t0\n"))
        << report;
}

// Landsat 8's red band in reflectance (stored value x 2e-05 - 0.1), stretched at its 2 % and
// 98 % percentiles: DN 6720.6 and 11171.8 (in 50ths: 336030/50 and 558590/50), so MIN =
// 0.134412 - 0.1 = 0.034412 and MAX = 0.223436 - 0.1 = 0.123436. A DN is gray
// (DN - 6720.6) x 255 / 4451.2, rounded: gray 53 ends below 6720.6 + 53.5 x 4451.2 / 255 =
// 7654.48, so segment 1 (grays 0..53) ends at DN 7654 -> 0.05308 and segment 2 (54..87)
// begins at 7655 -> 0.0531 and ends below 6720.6 + 87.5 x 4451.2 / 255 = 8247.97, at 8247 ->
// 0.06494.
TEST(ResultReport, AScaledBandIsWrittenInTheDigitsOfItsScaleEverywhere) {
    const Scaling reflectance{2e-05, -0.1};
    std::vector<BandRecord> records{
        BandRecord{},
        Record("/data/B4.TIF", Equipopulation, {0, 0, 54, 88, 123}, {0, 53, 87, 122, 255})};
    records[1].rasterBand = 1;
    records[1].stretch = GrayStretch{"Int16",
                                     {PhysicalValue(RoundedQuotient(336030, 50), reflectance),
                                      PhysicalValue(RoundedQuotient(558590, 50), reflectance)},
                                     PercentileRange{2, 98},
                                     reflectance};
    ASSERT_NE("0.034412", NumberText(records[1].stretch->range.minimum));  // noise before
    const std::string report =
        ResultReport(ImageSize{2, 2}, records, Table({0, 4}), {0, 1, 1, 1, 1}, {0, 1, 2, 3, 4});
    const std::string band =
        "Data type : Int16, stretched linearly to gray levels 0 to 255 from MIN = 0.034412 "
        "(gray 0) to MAX = 0.123436 (gray 255) \n"
        "MIN and MAX : the percentiles 2 % and 98 % of the band's pixels with data \n"
        "Physical values : stored value x 2e-05 - 0.1, in which MIN, MAX and the native values "
        "are given \n"
        "\nSegment limits\n"
        "\nNumber of segments : 4 "
        "\n\tSegment 1 min = 0 max = 53 (native values -inf to 0.05308) "
        "\n\tSegment 2 min = 54 max = 87 (native values 0.0531 to 0.06494) ";
    EXPECT_NE(std::string::npos, report.find(band)) << report;
    // The class table and the metadata of the class GeoTIFF.
    const uint8_t classes[] = {1, 2, 3, 4};
    const std::string csv =
        ClassTableCsv(MakeClassTable(ImageSize{2, 2}, records, Table({0, 4}), {0, 1, 1, 1, 1},
                                     {0, 1, 2, 3, 4}, std::nullopt, classes, Georeference{}));
    EXPECT_NE(std::string::npos, csv.find("\n1,1,1,0,53,-inf,0.05308,1,")) << csv;
    EXPECT_NE(std::string::npos, csv.find("\n2,2,2,54,87,0.0531,0.06494,1,")) << csv;
    const RasterMetadata metadata = TreatmentMetadata("tessera", records, std::nullopt, 4);
    const std::pair<std::string, std::string> stretch{"TESSERA_BAND_1_STRETCH",
                                                      "0.034412,0.123436 (Int16)"};
    EXPECT_NE(metadata.end(), std::find(metadata.begin(), metadata.end(), stretch));
}

}  // namespace
}  // namespace tessera
