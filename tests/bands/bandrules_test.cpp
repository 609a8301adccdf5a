// The rules of a band set's choices that the job and the window share, tested where they live:
// percentiles as typed, the rules of mask bands, and the plan that brings bands onto one grid
// and cuts a region from them.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "bands/bandgrid.h"
#include "bands/percentiles.h"
#include "bands/pixelmask.h"
#include "testfiles.h"

namespace tessera {
namespace {

TEST(PercentilesAsTyped, TwoIncreasingPercentilesOrARefusalThatSaysWhy) {
    const auto typed = ParsePercentiles("2%,98%");
    ASSERT_TRUE(typed && *typed);
    EXPECT_EQ(2, typed->value->low);
    EXPECT_EQ(98, typed->value->high);
    const auto fractional = ParsePercentiles("0.5%,100%");
    ASSERT_TRUE(fractional && *fractional);
    EXPECT_EQ(0.5, fractional->value->low);
    EXPECT_EQ(100, fractional->value->high);
    // Not percentiles at all: a stretch of values, for the caller to read.
    EXPECT_FALSE(ParsePercentiles("10,200").has_value());
    for (const char* wrong : {"98%,2%", "2%,101%", "-1%,50%", "2%", "5%,5%", "a%,9%"}) {
        const auto refused = ParsePercentiles(wrong);
        ASSERT_TRUE(refused.has_value()) << wrong;
        EXPECT_FALSE(*refused) << wrong;
        EXPECT_EQ(std::string("the percentiles '") + wrong +
                      "' are not two increasing percentiles from 0% to 100%, as 2%,98%",
                  refused->message);
    }
}

TEST(MaskRules, BitsAndValuesAsTypedAndWhatTheyMask) {
    const Result<MaskRule> bits = BitsRule("1,4");
    ASSERT_TRUE(bits) << bits.message;
    EXPECT_TRUE(bits.value->Masks(16));      // bit 4
    EXPECT_TRUE(bits.value->Masks(2 + 64));  // bit 1
    EXPECT_FALSE(bits.value->Masks(1 + 8 + 32));
    EXPECT_FALSE(bits.value->Masks(0));
    EXPECT_TRUE(BitsRule("63").value->Masks(static_cast<double>(uint64_t{1} << 63)));
    EXPECT_EQ("the bit number 64 lies outside 0..63", BitsRule("1,64").message);
    EXPECT_EQ("the bit numbers '1;4' are not a list like 1,3,4", BitsRule("1;4").message);

    const Result<MaskRule> values = ValuesRule("3,8,9,10");
    ASSERT_TRUE(values) << values.message;
    for (double masked : {3.0, 8.0, 9.0, 10.0}) EXPECT_TRUE(values.value->Masks(masked));
    for (double kept : {0.0, 4.0, 8.5, 11.0}) EXPECT_FALSE(values.value->Masks(kept));
    EXPECT_EQ("the mask value x is not a number", ValuesRule("3,x").message);
    // Without a rule: masked where not 0.
    const MaskRule nonZero;
    EXPECT_FALSE(nonZero.Masks(0));
    EXPECT_TRUE(nonZero.Masks(-1));
}

Georeference UtmPlace(double x, double y, double size) {
    Georeference place;
    place.transform = {x, size, 0, y, 0, -size};
    place.coordinateSystem = "EPSG:32631";
    return place;
}

TEST(GridPlans, BandsOfOneSystemOnOtherGridsAreBroughtOntoTheFinest) {
    // A 15 m band after two 30 m bands of the same place.
    const std::vector<BandFacts> bands{{"red.tif", 1, {32, 30}, UtmPlace(500000, 4000020, 30)},
                                       {"nir.tif", 1, {32, 30}, UtmPlace(500000, 4000020, 30)},
                                       {"pan.tif", 1, {64, 60}, UtmPlace(500000, 4000020, 15)}};
    const Result<GridPlan> finest = PlanGrid(bands, {});
    ASSERT_TRUE(finest) << finest.message;
    EXPECT_TRUE(finest.value->active);
    EXPECT_EQ(3, finest.value->gridBand);
    EXPECT_EQ(64, finest.value->size.lines);
    EXPECT_EQ(60, finest.value->size.columns);
    ASSERT_TRUE(finest.value->views[0].has_value());
    EXPECT_EQ(RasterView::Tool::Warp, finest.value->views[0]->tool);
    // gdalwarp -te XMIN YMIN XMAX YMAX -tr 15 15 -r near, onto the pan band's extent.
    const std::vector<std::string> warp{"-te", "500000", "4000020", "500900", "4000980",
                                        "-tr", "15",     "15",      "-r",     "near"};
    EXPECT_NE(warp, finest.value->views[0]->arguments);  // YMIN is the grid's bottom
    const std::vector<std::string> onto15{"-te", "500000", "3999060", "500900", "4000020",
                                          "-tr", "15",     "15",      "-r",     "near"};
    EXPECT_EQ(onto15, finest.value->views[0]->arguments);
    EXPECT_FALSE(finest.value->views[2].has_value());  // the grid band read as it is

    // The grid chosen: band 1's 30 m.
    GridChoice coarse;
    coarse.gridBand = 1;
    const Result<GridPlan> onto30 = PlanGrid(bands, coarse);
    ASSERT_TRUE(onto30) << onto30.message;
    EXPECT_EQ(1, onto30.value->gridBand);
    EXPECT_EQ(32, onto30.value->size.lines);
    ASSERT_TRUE(onto30.value->views[2].has_value());
    EXPECT_EQ("30", onto30.value->views[2]->arguments[6]);
    EXPECT_FALSE(onto30.value->views[1].has_value());  // already on band 1's grid

    GridChoice missing;
    missing.gridBand = 4;
    EXPECT_EQ("--grid 4: there is no band 4 of 3", PlanGrid(bands, missing).message);
}

TEST(GridPlans, BandsOfOneGridAreReadAsTheyAreUnlessARegionIsCut) {
    const std::vector<BandFacts> same{{"a.tif", 1, {32, 30}, UtmPlace(500000, 4000020, 30)},
                                      {"b.tif", 1, {32, 30}, UtmPlace(500000, 4000020, 30)}};
    const Result<GridPlan> plain = PlanGrid(same, {});
    ASSERT_TRUE(plain);
    EXPECT_FALSE(plain.value->active);
    // Raw files and bitmaps lie on no map: a map window cannot cut them.
    const std::vector<BandFacts> raw{{"a.raw", 0, {32, 30}, std::nullopt},
                                     {"b.raw", 0, {32, 30}, std::nullopt}};
    GridChoice window;
    window.window = std::array<double, 4>{500000, 4000000, 500300, 4000020};
    EXPECT_EQ(
        "--window is in map coordinates, and a.raw lies on no map: give --window-pixels "
        "instead",
        PlanGrid(raw, window).message);
    GridChoice empty;
    empty.windowPixels = std::array<int64_t, 4>{0, 0, 0, 5};
    const Result<GridPlan> none = PlanGrid(raw, empty);
    EXPECT_FALSE(none);
    EXPECT_NE(std::string::npos, none.message.find("the window of 0 lines x 5 columns is empty"))
        << none.message;
}

}  // namespace
}  // namespace tessera
