// The map read-out of the image windows: the centre of the pixel under the pointer through the
// geotransform, in the words of its coordinate system.
#include "view/mapreadout.h"

#include <gtest/gtest.h>

#include "rasterfiles.h"

namespace tessera {
namespace {

TEST(MapReadout, GivesThePixelCentreInTheWordsOfItsSystem) {
    // 30 m pixels in UTM zone 31N: pixel (line 1, column 2) is centred 2.5 and 1.5 pixels in.
    const std::array<double, 6> utm{500000, 30, 0, 4650000, 0, -30};
    EXPECT_EQ("E: 500075.00  N: 4649955.00 ",
              MapReadout({utm, testing_support::CoordinateSystemOfEpsg(32631)}).Text(1, 2));
    // Degrees of WGS 84, longitude first as GDAL's geotransform gives them.
    const std::array<double, 6> degrees{2.35, 0.00125, 0, 48.86, 0, -0.001};
    EXPECT_EQ("Lon: 2.353125  Lat: 48.859500 ",
              MapReadout({degrees, testing_support::CoordinateSystemOfEpsg(4326)}).Text(0, 2));
    // No coordinate system: plain x and y.
    EXPECT_EQ("X: 500075.00  Y: 4649955.00 ", MapReadout({utm, ""}).Text(1, 2));
}

TEST(MapReadout, FollowsARotatedGrid) {
    // x = t0 + (column + 0.5) t1 + (line + 0.5) t2, y = t3 + (column + 0.5) t4 + (line + 0.5) t5.
    const MapPoint centre = PixelCentreOnMap({100, 2, 1, 200, -1, -3}, 3, 4);
    EXPECT_DOUBLE_EQ(112.5, centre.x);
    EXPECT_DOUBLE_EQ(185, centre.y);
}

}  // namespace
}  // namespace tessera
