// Bands of rasters GDAL reads: the stretch of values of more than 8 bits to gray levels, at its
// ends, through the loading rule of both front ends.
#include "bands/rasterband.h"

#include <gtest/gtest.h>

#include <vector>

#include "rasterfiles.h"
#include "testfiles.h"
#include "workspace/workspace.h"

namespace tessera {
namespace {
using testing_support::RasterType;
using testing_support::ScratchDir;
using testing_support::WriteGeoTiff;

std::vector<int> LoadedGrays(const std::string& path, std::optional<StretchRange> stretch) {
    Workspace ws;
    ws.BeginBandSet(2);
    BandLoadOptions options;
    options.stretch = stretch;
    const Status loaded = ws.LoadBand(1, path, BandFileType::Raster, options);
    EXPECT_TRUE(loaded) << loaded.message;
    const ByteMatrix& pixels = ws.Band(1).pixels;
    return std::vector<int>(pixels.Data(), pixels.Data() + pixels.Size());
}

TEST(RasterStretch, EndsMapToZeroAndFullHalvesRoundUpAndBeyondIsClamped) {
    ScratchDir dir;
    const std::string path = dir.File("signed.tif");
    // MIN = 0, MAX = 510: 255 is halfway (127.5 -> 128), 1 gives 0.5 -> 1.
    ASSERT_TRUE(
        WriteGeoTiff(path, 2, 4, RasterType::Int16, {{-7, 0, 1, 255, 509, 510, 511, 3000}}));
    EXPECT_EQ((std::vector<int>{0, 0, 1, 128, 255, 255, 255, 255}),
              LoadedGrays(path, StretchRange{0, 510}));
    // 254 is 126.5 -> 127 and 2 is 1 exactly; 508 is 253.5 -> 254.
    EXPECT_EQ(127, StretchToGray(254, {0, 510}));
    EXPECT_EQ(254, StretchToGray(508, {0, 510}));
    EXPECT_EQ(1, StretchToGray(2, {0, 510}));
}

TEST(RasterStretch, ByDefaultTheBandsOwnMinimumAndMaximum) {
    ScratchDir dir;
    const std::string path = dir.File("wide.tif");
    ASSERT_TRUE(WriteGeoTiff(path, 1, 4, RasterType::UInt16, {{1000, 3000, 2000, 1004}}));
    // 2000 is halfway; 1004 is 0.51 -> 1.
    EXPECT_EQ((std::vector<int>{0, 255, 128, 1}), LoadedGrays(path, std::nullopt));
    EXPECT_DOUBLE_EQ(2000, NativeOfGray(127.5, {1000, 3000}));
}

TEST(RasterStretch, EightBitBandsAreNeverStretched) {
    ScratchDir dir;
    const std::string path = dir.File("bytes.tif");
    ASSERT_TRUE(WriteGeoTiff(path, 1, 3, RasterType::Byte, {{10, 20, 30}}));
    EXPECT_EQ((std::vector<int>{10, 20, 30}), LoadedGrays(path, StretchRange{0, 1000}));
}

}  // namespace
}  // namespace tessera

namespace tessera {
namespace {

TEST(BandList, NumbersAndRangesInTheOrderTyped) {
    EXPECT_EQ((std::vector<int>{2, 5, 6, 7}), *ParseBandList("2, 5-7", 12).value);
    EXPECT_EQ((std::vector<int>{12, 1}), *ParseBandList("12,1", 12).value);
    for (const char* refused : {"", "1", "0,1", "1,13", "1-11", "3-1", "1;2", "1,,2", "a,b"})
        EXPECT_EQ(" Give 2 to 10 band numbers from 1 to 12, as 1,2,3 or 4-9 ",
                  ParseBandList(refused, 12).message)
            << refused;
}

}  // namespace
}  // namespace tessera
