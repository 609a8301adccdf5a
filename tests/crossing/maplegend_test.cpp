// The legend that travels with the class GeoTIFF: the class labels, the side file GDAL reads
// (category names and attribute table) and the treatment in the GeoTIFF's metadata.
#include "crossing/maplegend.h"

#include <cpl_string.h>
#include <gdal.h>
#include <gtest/gtest.h>

#include <cmath>
#include <string>
#include <vector>

#include "rasterfiles.h"
#include "support/safefile.h"
#include "testfiles.h"

namespace tessera {
namespace {

ClassRow Row(int k, int code, std::vector<ClassRow::Band> bands, int64_t pixels, std::string area,
             std::string percent) {
    ClassRow row;
    row.classValue = k;
    row.code = code;
    row.bands = std::move(bands);
    row.pixels = pixels;
    row.area = std::move(area);
    row.percent = std::move(percent);
    return row;
}

TEST(ClassLabels, NameEachBandsSegmentAndTheNativeValuesItHolds) {
    const ClassRow row = Row(3, 17,
                             {{2, 95, 149, "1495", "2794"},
                              {1, 0, 49, "-inf", "1494"},
                              {4, 180, 255, "0.123456789", "inf"},
                              {2, 3, 3, "", ""}},
                             5, "4500", "1.0000");
    EXPECT_EQ(
        "3: b1 s2 [1495, 2794] \u00b7 b2 s1 (-inf, 1494] \u00b7 b3 s4 [0.123457, inf) \u00b7 "
        "b4 s2 (no value)",
        ClassLabel(row));
}

TEST(ClassLegend, GdalReadsItsNamesAndItsAttributeTable) {
    testing_support::ScratchDir dir;
    const std::string raster = dir.File("c.tif");
    ASSERT_TRUE(testing_support::WriteGeoTiff(raster, 2, 3, testing_support::RasterType::Byte,
                                              {{1, 1, 2, 255, 2, 2}}));
    ClassTable classes;
    classes.bandCount = 2;
    classes.areaUnit = "square_metre";
    classes.rows = {
        Row(1, 4, {{2, 40, 94, "40", "94"}, {1, 0, 49, "-inf", "1494"}}, 2, "1800", "40.0000"),
        Row(2, 5, {{2, 40, 94, "40", "94"}, {2, 50, 255, "1500", "inf"}}, 3, "", "60.0000")};
    ColourTable colours{};
    colours[1] = {30, 20, 10};  // blue, green, red
    colours[2] = {3, 2, 1};
    ASSERT_TRUE(WriteWholeFile(raster + ".aux.xml", ClassRasterLegend(classes, colours)));

    GDALAllRegister();
    GDALDatasetH dataset = GDALOpen(raster.c_str(), GA_ReadOnly);
    ASSERT_NE(nullptr, dataset);
    GDALRasterBandH band = GDALGetRasterBand(dataset, 1);
    GDALGetRasterNoDataValue(band, nullptr);  // GDAL 3.6 reads the side file on this question
    char** names = GDALGetRasterCategoryNames(band);
    ASSERT_NE(nullptr, names);
    ASSERT_EQ(3, CSLCount(names));
    EXPECT_STREQ("", names[0]);
    EXPECT_EQ("1: b1 s2 [40, 94] \u00b7 b2 s1 (-inf, 1494]", std::string(names[1]));
    EXPECT_EQ("2: b1 s2 [40, 94] \u00b7 b2 s2 [1500, inf)", std::string(names[2]));

    GDALRasterAttributeTableH table = GDALGetDefaultRAT(band);
    ASSERT_NE(nullptr, table);
    EXPECT_EQ(GRTT_THEMATIC, GDALRATGetTableType(table));
    ASSERT_EQ(2, GDALRATGetRowCount(table));
    const std::vector<std::string> fields{"Value",
                                          "Count",
                                          "Red",
                                          "Green",
                                          "Blue",
                                          "Label",
                                          "Code",
                                          "b1_segment",
                                          "b1_native_min",
                                          "b1_native_max",
                                          "b2_segment",
                                          "b2_native_min",
                                          "b2_native_max",
                                          "area_square_metre",
                                          "percent_of_data_pixels"};
    ASSERT_EQ(static_cast<int>(fields.size()), GDALRATGetColumnCount(table));
    for (int c = 0; c < GDALRATGetColumnCount(table); ++c)
        EXPECT_EQ(fields[c], GDALRATGetNameOfCol(table, c)) << c;
    EXPECT_EQ(GFU_MinMax, GDALRATGetUsageOfCol(table, 0));
    EXPECT_EQ(GFU_PixelCount, GDALRATGetUsageOfCol(table, 1));
    EXPECT_EQ(GFU_Red, GDALRATGetUsageOfCol(table, 2));
    EXPECT_EQ(GFU_Name, GDALRATGetUsageOfCol(table, 5));
    EXPECT_EQ(GFT_Real, GDALRATGetTypeOfCol(table, 8));
    const std::vector<int> first{1, 2, 10, 20, 30};
    for (int c = 0; c < 5; ++c) EXPECT_EQ(first[c], GDALRATGetValueAsInt(table, 0, c)) << c;
    EXPECT_EQ(names[1], std::string(GDALRATGetValueAsString(table, 0, 5)));
    EXPECT_EQ(4, GDALRATGetValueAsInt(table, 0, 6));
    EXPECT_EQ(-INFINITY, GDALRATGetValueAsDouble(table, 0, 11));
    EXPECT_EQ(1494, GDALRATGetValueAsDouble(table, 0, 12));
    EXPECT_EQ(1800, GDALRATGetValueAsDouble(table, 0, 13));
    EXPECT_EQ(INFINITY, GDALRATGetValueAsDouble(table, 1, 12));
    EXPECT_TRUE(std::isnan(GDALRATGetValueAsDouble(table, 1, 13)));  // no area known
    EXPECT_EQ(60, GDALRATGetValueAsDouble(table, 1, 14));
    GDALClose(dataset);
}

TEST(TreatmentMetadata, SaysHowEachBandWasTreatedAndHowCodesWereChosen) {
    std::vector<BandRecord> records(3);
    records[1].filePath = "/data/scene.tif";
    records[1].rasterBand = 2;
    records[1].thresholdingType = Definition;
    records[1].segmentCount = 2;
    records[1].segmentLimits.lower = {0, 0, 6};
    records[1].segmentLimits.upper = {0, 5, 255};
    records[1].stretch = GrayStretch{"Int16", {-100, 2000.5}};
    records[1].nodata = -9999;
    records[2].filePath = "/data/b2.raw";
    records[2].thresholdingType = Equipopulation;
    records[2].segmentCount = 1;
    records[2].segmentLimits.lower = {0, 12};
    records[2].segmentLimits.upper = {0, 200};
    const RasterMetadata expected{
        {"TIFFTAG_SOFTWARE", "Tessera_V2 tessera"},
        {"TESSERA_BANDS", "2"},
        {"TESSERA_BAND_1_FILE", "/data/scene.tif (raster band 2)"},
        {"TESSERA_BAND_1_METHOD", "definition (typed limits)"},
        {"TESSERA_BAND_1_SEGMENTS", "2"},
        {"TESSERA_BAND_1_GRAY_LIMITS", "0-5,6-255"},
        {"TESSERA_BAND_1_STRETCH", "-100,2000.5 (Int16)"},
        {"TESSERA_BAND_1_NODATA", "-9999"},
        {"TESSERA_BAND_2_FILE", "/data/b2.raw"},
        {"TESSERA_BAND_2_METHOD", "equipopulation (equal-population ranges)"},
        {"TESSERA_BAND_2_SEGMENTS", "1"},
        {"TESSERA_BAND_2_GRAY_LIMITS", "12-200"},
        {"TESSERA_SELECTION", "the codes with more than 40 pixels"},
        {"TESSERA_CLASSES", "7"}};
    EXPECT_EQ(expected, TreatmentMetadata("tessera", records, CodeSelection{false, 40}, 7));
    const RasterMetadata unknown = TreatmentMetadata("tessera", records, std::nullopt, 7);
    EXPECT_EQ(expected.size() - 1, unknown.size());  // no selection rule is told
}

TEST(ClassLegend, ControlCharactersOfANameNeverReachTheXml) {
    // A file may be named with any byte but '/' and NUL; XML 1.0 holds no control character
    // but tab, line feed and carriage return, even as a reference.
    EXPECT_EQ(
        "a\xEF\xBF\xBD"
        "b\tc &amp; &lt;d&gt; &quot;e&quot;",
        XmlEscaped("a\x01"
                   "b\tc & <d> \"e\""));
}

}  // namespace
}  // namespace tessera
