// Areas of the class table on projected grids: written exactly when a cell's area is a short
// decimal up to the noise of its binary transform.
#include "crossing/mapareas.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <string>
#include <vector>

#include "rasterfiles.h"

namespace tessera {
namespace {

// The areas of class 1 filling `pixels` cells of a single line on `place`.
std::string AreaOfPixels(const Georeference& place, int pixels) {
    const CellAreas cells(ImageSize{1, pixels}, place);
    ClassAreas areas(cells);
    const std::vector<uint8_t> line(static_cast<size_t>(pixels), 1);
    areas.AddLine(0, line.data(), pixels);
    return areas.Text(1);
}

TEST(ClassAreas, CellsThatAreShortDecimalsUpToNoiseGiveExactAreas) {
    const std::string utm = testing_support::CoordinateSystemOfEpsg(32631);
    // 5 m x 0.49999999997454525 m: 2.4999999998727263 m2 a cell, 29241 of them
    // 73102.49999627839 m2 when multiplied out.
    const Georeference noisy{{500000, 5, 0, 4650000, 0, -0.49999999997454525}, utm};
    EXPECT_EQ("square_metre", CellAreas(ImageSize{1, 1}, noisy).Unit());
    EXPECT_EQ("73102.5", AreaOfPixels(noisy, 29241));
    EXPECT_EQ("5", AreaOfPixels(noisy, 2));
    // 0.1 x 0.7 is 0.06999999999999999 in binary; no coordinate system names a unit.
    const Georeference tenths{{0, 0.1, 0, 0, 0, -0.7}, ""};
    EXPECT_EQ("square_unit", CellAreas(ImageSize{1, 1}, tenths).Unit());
    EXPECT_EQ("0.21", AreaOfPixels(tenths, 3));
    EXPECT_EQ("700", AreaOfPixels(tenths, 10000));
}

}  // namespace
}  // namespace tessera
