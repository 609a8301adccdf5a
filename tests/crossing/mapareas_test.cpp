// Areas of the class table on projected grids: written as the grid's cell area allows, without
// the noise of its binary transform.
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

TEST(ClassAreas, CellsWithoutAShortDecimalKeepSevenDigitsOfACell) {
    // A third of a square metre a cell: 0.3333333, so 3 cells are 1 and 4 are 1.3333333.
    const Georeference thirds{{0, 1.0 / 3, 0, 0, 0, -1}, ""};
    EXPECT_EQ("1", AreaOfPixels(thirds, 3));
    EXPECT_EQ("1.3333333", AreaOfPixels(thirds, 4));
    // Cells of 111111.11... m2, written to the tenth.
    const Georeference ninths{{0, 1000.0 / 3, 0, 0, 0, -1000.0 / 3}, ""};
    EXPECT_EQ("222222.2", AreaOfPixels(ninths, 2));
}

}  // namespace
}  // namespace tessera
