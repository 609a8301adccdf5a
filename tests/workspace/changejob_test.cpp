// The change between two hand-made 4 x 4 class maps of 10 m cells, worked out by hand: the
// from-to table with its areas, the change map, the report, the legend that names the classes of
// each pair from the maps' own legends; the same with 16-bit classes; maps of other grids refused.
#include "workspace/changejob.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "rasterfiles.h"
#include "testfiles.h"

namespace {
using testing_support::RasterExtras;
using testing_support::RasterType;
using testing_support::ReadText;
using testing_support::ScratchDir;

RasterExtras OnTheMap(double x = 500000) {
    RasterExtras extras;
    extras.nodata = 255;
    extras.place = testing_support::RasterPlace{{x, 10, 0, 4000000, 0, -10}, 32632};
    return extras;
}

class ChangeMaps : public ::testing::Test {
  protected:
    void SetUp() override {
        ASSERT_TRUE(testing_support::WriteGeoTiff(from, 4, 4, RasterType::Byte,
                                                  {{1, 1, 2, 2,      //
                                                    1, 1, 2, 2,      //
                                                    3, 3, 255, 255,  //
                                                    3, 3, 3, 255}},
                                                  OnTheMap()));
        ASSERT_TRUE(testing_support::WriteGeoTiff(to, 4, 4, RasterType::Byte,
                                                  {{1, 2, 2, 2,    //
                                                    1, 1, 2, 255,  //
                                                    3, 1, 255, 3,  //
                                                    3, 3, 3, 3}},
                                                  OnTheMap()));
    }
    ScratchDir dir;
    std::string from = dir.File("2019.tif"), to = dir.File("2024.tif");
};

TEST_F(ChangeMaps, TableMapAndReportAreThoseWorkedOutByHand) {
    tessera::ChangeJob job;
    ASSERT_TRUE(job.Open(from, to));
    ASSERT_TRUE(job.Count());
    ASSERT_TRUE(job.Save(dir.File("change")));
    // Pairs of classes by (from, to) take values 1..5; then class 2 where the second map has
    // none, none to class 3 (twice), and the pixel without a class in both.
    EXPECT_EQ(
        "from_class,to_class,pixels,area_square_metre\n"
        "1,1,3,300\n"
        "1,2,1,100\n"
        "2,2,3,300\n"
        "3,1,1,100\n"
        "3,3,4,400\n"
        "2,none,1,100\n"
        "none,3,2,200\n"
        "none,none,1,100\n",
        ReadText(dir.File("change.csv")));
    const auto map = testing_support::ReadRaster(dir.File("change.tif"));
    ASSERT_TRUE(map.has_value());
    EXPECT_EQ((std::vector<double>{1, 2, 3, 3,      //
                                   1, 1, 3, 255,    //
                                   5, 4, 255, 255,  //
                                   5, 5, 5, 255}),
              map->pixels);
    EXPECT_EQ(std::optional<double>(255), map->nodata);
    EXPECT_EQ("Change between two class maps\n\nFrom : " + from + "\nTo : " + to +
                  "\nLines : 4\nColumns : 4\n\n"
                  "Pairs of classes that occur : 5\n"
                  "Pixels that keep their class : 10\n"
                  "Pixels that change their class : 2\n"
                  "Pixels without a class in either map : 4\n",
              ReadText(dir.File("change.txt")));
    const std::string legend = ReadText(dir.File("change.tif.aux.xml"));
    EXPECT_NE(std::string::npos, legend.find("<Category>3 &gt; 1</Category>")) << legend;
    EXPECT_NE(std::string::npos, ReadText(dir.File("change.qml")).find("label=\"3 = 3\""));
}

TEST_F(ChangeMaps, TheLegendsBesideTheMapsNameTheClassesOfEveryPair) {
    // As a job writes them: entry k names class k; class 2 of the first map has no name.
    const auto legend = [](std::vector<std::string> names) {
        std::string text = "<PAMDataset>\n  <PAMRasterBand band=\"1\">\n    <CategoryNames>\n";
        for (const std::string& name : names)
            text += name.empty() ? "      <Category></Category>\n"
                                 : "      <Category>" + name + "</Category>\n";
        return text + "    </CategoryNames>\n  </PAMRasterBand>\n</PAMDataset>\n";
    };
    testing_support::WriteText(from + ".aux.xml",
                               legend({"", "1: b1 s1 [0, 10)", "", "3: b1 s3 &lt;dense&gt;"}));
    testing_support::WriteText(to + ".aux.xml",
                               legend({"", "1: b1 s1 [0, 12)", "2: b1 s2", "3: b1 s3 &amp; more"}));
    tessera::ChangeJob job;
    ASSERT_TRUE(job.Open(from, to));
    ASSERT_TRUE(job.Count());
    ASSERT_TRUE(job.Save(dir.File("change")));
    const std::string map = ReadText(dir.File("change.tif.aux.xml"));
    EXPECT_NE(std::string::npos,
              map.find("<Category>3 &gt; 1: 3: b1 s3 &lt;dense&gt; &gt; 1: b1 s1 [0, 12)</Category>"))
        << map;
    EXPECT_NE(std::string::npos, map.find("<Category>1 = 1: 1: b1 s1 [0, 10) &gt; 1: b1 s1 [0, 12)"))
        << map;
    // Class 2 of the first map has no name: its pairs keep their numbers alone.
    EXPECT_NE(std::string::npos, map.find("<Category>2 = 2</Category>")) << map;
    EXPECT_NE(std::string::npos, ReadText(dir.File("change.qml"))
                                     .find("label=\"3 = 3: 3: b1 s3 &lt;dense&gt; &gt; 3: b1 s3 "
                                           "&amp; more\""));
}

TEST_F(ChangeMaps, SixteenBitMapsCompareAsByteMapsDo) {
    // The same maps with 16-bit classes: 1 as 300, 2 as 65534, 3 as 255 (a class of its own
    // here), and 65535 for no class. Pairs take their values in the order of their classes.
    const auto wide = [](std::vector<double> values) {
        for (double& value : values)
            value = value == 1 ? 300 : value == 2 ? 65534 : value == 3 ? 255 : 65535;
        return values;
    };
    RasterExtras extras = OnTheMap();
    extras.nodata = 65535;
    const std::string wideFrom = dir.File("2019-16.tif"), wideTo = dir.File("2024-16.tif");
    ASSERT_TRUE(testing_support::WriteGeoTiff(
        wideFrom, 4, 4, RasterType::UInt16,
        {wide({1, 1, 2, 2, 1, 1, 2, 2, 3, 3, 255, 255, 3, 3, 3, 255})}, extras));
    ASSERT_TRUE(testing_support::WriteGeoTiff(
        wideTo, 4, 4, RasterType::UInt16,
        {wide({1, 2, 2, 2, 1, 1, 2, 255, 3, 1, 255, 3, 3, 3, 3, 3})}, extras));
    tessera::ChangeJob job;
    ASSERT_TRUE(job.Open(wideFrom, wideTo));
    ASSERT_TRUE(job.Count());
    ASSERT_TRUE(job.Save(dir.File("change")));
    EXPECT_EQ(
        "from_class,to_class,pixels,area_square_metre\n"
        "255,255,4,400\n"
        "255,300,1,100\n"
        "300,300,3,300\n"
        "300,65534,1,100\n"
        "65534,65534,3,300\n"
        "65534,none,1,100\n"
        "none,255,2,200\n"
        "none,none,1,100\n",
        ReadText(dir.File("change.csv")));
    const auto map = testing_support::ReadRaster(dir.File("change.tif"));
    ASSERT_TRUE(map.has_value());
    EXPECT_EQ((std::vector<double>{3, 4, 5, 5,      //
                                   3, 3, 5, 255,    //
                                   1, 2, 255, 255,  //
                                   1, 1, 1, 255}),
              map->pixels);
    EXPECT_NE(std::string::npos,
              ReadText(dir.File("change.txt")).find("Pixels that keep their class : 10\n"
                                                    "Pixels that change their class : 2\n"
                                                    "Pixels without a class in either map : 4\n"));
    EXPECT_NE(std::string::npos, ReadText(dir.File("change.tif.aux.xml"))
                                     .find("<Category>300 &gt; 65534</Category>"));

    // A byte map beside a 16-bit one is refused, saying so.
    EXPECT_EQ("the class maps " + from + " and " + wideTo +
                  " hold classes of different sizes: Byte and UInt16",
              job.Open(from, wideTo).message);
}

TEST_F(ChangeMaps, MapsOfOtherGridsAreRefused) {
    const std::string narrow = dir.File("narrow.tif"), moved = dir.File("moved.tif");
    ASSERT_TRUE(testing_support::WriteGeoTiff(narrow, 4, 3, RasterType::Byte,
                                              {std::vector<double>(12, 1)}, OnTheMap()));
    ASSERT_TRUE(testing_support::WriteGeoTiff(moved, 4, 4, RasterType::Byte,
                                              {std::vector<double>(16, 1)}, OnTheMap(500005)));
    tessera::ChangeJob job;
    EXPECT_EQ("the class maps " + from + " and " + narrow +
                  " lie on different grids: 4 x 4 and 4 x 3 pixels",
              job.Open(from, narrow).message);
    const std::string refusal = job.Open(from, moved).message;
    EXPECT_EQ(
        0u, refusal.find("the class maps " + from + " and " + moved + " lie on different grids: "))
        << refusal;
}

}  // namespace
