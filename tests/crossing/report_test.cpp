#include "crossing/report.h"

#include <gtest/gtest.h>

#include <vector>

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

}  // namespace
}  // namespace tessera
