#include <gtest/gtest.h>

#include <string>

#include "bands/bandfiles.h"
#include "image/guitools.h"
#include "support/paths.h"

using namespace tessera;

namespace {

const std::string kSamples = std::string(TESSERA_TEST_DATA) + "/../../samples";

}  // namespace

// The sample band set must load through the program's own rules, as a first run would.
TEST(SampleBands, FourRawBandsOfOneSizeLoad) {
    for (int band = 1; band <= 4; ++band) {
        const std::string raw = kSamples + "/band" + std::to_string(band) + ".raw";
        const DescriptorRead descriptor = ReadDescriptor(ReplaceExtension(raw, ".txt"));
        ASSERT_EQ(descriptor.outcome, DescriptorRead::Read) << raw;
        EXPECT_EQ(descriptor.size, (ImageSize{200, 300})) << raw;
        EXPECT_EQ(FileSizeOf(raw), 200 * 300) << raw;
        const Result<ByteMatrix> pixels = LoadRawBand(raw, descriptor.size);
        ASSERT_TRUE(pixels) << pixels.message;
        // A scene with something to segment: a real spread of gray levels.
        const GrayRange range = ComputeGrayRange(*pixels.value);
        EXPECT_GE(range.maxGray - range.minGray, 60) << raw;
        EXPECT_GE(CountGrayTones(*pixels.value), 50) << raw;
    }
}

TEST(SampleBands, BitmapOfBandOneHoldsTheSamePixels) {
    const Result<ByteMatrix> fromBitmap = LoadBitmapBand(kSamples + "/band1.bmp");
    ASSERT_TRUE(fromBitmap) << fromBitmap.message;
    const Result<ByteMatrix> fromRaw = LoadRawBand(kSamples + "/band1.raw", {200, 300});
    ASSERT_TRUE(fromRaw) << fromRaw.message;
    EXPECT_EQ(*fromBitmap.value, *fromRaw.value);
}
