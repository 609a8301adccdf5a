#include <gdal.h>
#include <gtest/gtest.h>
#include <ogr_srs_api.h>
#include <sys/wait.h>

#include <cstdlib>
#include <string>

#include "bands/bandfiles.h"
#include "bands/bandreader.h"
#include "image/bitmapfile.h"
#include "support/paths.h"
#include "testfiles.h"

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

// scene.tif holds the same four bands in one GeoTIFF, written by hand by make_samples.py: the
// program's raster reader reads them, GDAL finds its georeferencing without a complaint.
TEST(SampleBands, SceneTifHoldsTheFourBandsGeoreferenced) {
    const std::string scene = kSamples + "/scene.tif";
    const Result<int> count = CountRasterBands(scene);
    ASSERT_TRUE(count) << count.message;
    EXPECT_EQ(4, *count.value);
    for (int band = 1; band <= 4; ++band) {
        const Result<BandReader> reader = OpenRasterBand(scene, band);
        ASSERT_TRUE(reader) << reader.message;
        EXPECT_EQ(reader.value->Size(), (ImageSize{200, 300}));
        EXPECT_FALSE(reader.value->Stretch());
        const Result<ByteMatrix> pixels = reader.value->ReadAll();
        ASSERT_TRUE(pixels) << pixels.message;
        const std::string raw = kSamples + "/band" + std::to_string(band) + ".raw";
        EXPECT_EQ(*pixels.value, *LoadRawBand(raw, {200, 300}).value) << band;
    }

    GDALAllRegister();
    CPLErrorReset();
    GDALDatasetH dataset = GDALOpen(scene.c_str(), GA_ReadOnly);
    ASSERT_NE(nullptr, dataset);
    double transform[6] = {};
    EXPECT_EQ(CE_None, GDALGetGeoTransform(dataset, transform));
    // The upper left corner of the upper left pixel, 30 m pixels, north up.
    EXPECT_EQ(448020, transform[0]);
    EXPECT_EQ(30, transform[1]);
    EXPECT_EQ(0, transform[2]);
    EXPECT_EQ(5411970, transform[3]);
    EXPECT_EQ(0, transform[4]);
    EXPECT_EQ(-30, transform[5]);
    const std::string wkt = GDALGetProjectionRef(dataset);
    OGRSpatialReferenceH system = OSRNewSpatialReference(wkt.c_str());
    ASSERT_NE(nullptr, system) << wkt;
    EXPECT_TRUE(OSRIsProjected(system)) << wkt;
    const char* code = OSRGetAuthorityCode(system, nullptr);
    EXPECT_STREQ("32631", code ? code : "") << wkt;
    OSRDestroySpatialReference(system);
    const char* area = GDALGetMetadataItem(dataset, "AREA_OR_POINT", nullptr);
    EXPECT_STREQ("Area", area ? area : "");
    EXPECT_EQ(CE_None, CPLGetLastErrorType()) << CPLGetLastErrorMsg();
    GDALClose(dataset);
}

// The batch tool takes it whole with --bands and writes what it writes from the raw bands.
TEST(SampleBands, BatchToolGivesTheSameResultFromSceneTifAsFromTheRawBands) {
    testing_support::ScratchDir dir;
    const std::string job = " --min-pixels 100 --method equipopulation --segments 3";
    std::string raws;
    for (int band = 1; band <= 4; ++band)
        raws += " --band '" + kSamples + "/band" + std::to_string(band) + ".raw'";
    const std::string batch = std::string("'") + TESSERA_BATCH + "' --out '";
    const int fromTiff = std::system(
        (batch + dir.File("fromtiff") + "'" + job + " --bands '" + kSamples + "/scene.tif'")
            .c_str());
    ASSERT_TRUE(WIFEXITED(fromTiff) && WEXITSTATUS(fromTiff) == 0) << fromTiff;
    const int fromRaw = std::system((batch + dir.File("fromraw") + "'" + job + raws).c_str());
    ASSERT_TRUE(WIFEXITED(fromRaw) && WEXITSTATUS(fromRaw) == 0) << fromRaw;
    using testing_support::ReadBytes;
    EXPECT_EQ(200u * 300u, ReadBytes(dir.File("fromtiff.raw")).size());
    EXPECT_EQ(ReadBytes(dir.File("fromraw.raw")), ReadBytes(dir.File("fromtiff.raw")));
    EXPECT_EQ(ReadBytes(dir.File("fromraw.bmp")), ReadBytes(dir.File("fromtiff.bmp")));
    const std::string report = testing_support::ReadText(dir.File("fromtiff.txt"));
    EXPECT_NE(std::string::npos, report.find("\nNumber of Bands = 4\n")) << report;
    for (int band = 1; band <= 4; ++band) {
        EXPECT_NE(std::string::npos, report.find("\nBand " + std::to_string(band) + " = " +
                                                 kSamples + "/scene.tif (raster band " +
                                                 std::to_string(band) + ") \n"))
            << report;
    }
}
