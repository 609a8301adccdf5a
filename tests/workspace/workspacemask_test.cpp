// A mask given to the interactive program after its bands are loaded: the bands are loaded
// again with it, so that the saved report and rasters are those of the batch job that opens
// the mask before reading the bands, byte for byte.
#include <gtest/gtest.h>

#include <memory>
#include <string>
#include <vector>

#include "bands/pixelmask.h"
#include "rasterfiles.h"
#include "testfiles.h"
#include "workspace/streamedjob.h"
#include "workspace/workspace.h"

namespace tessera {
namespace {

using testing_support::RasterType;
using testing_support::ReadBytes;
using testing_support::ScratchDir;

constexpr int kLines = 5, kColumns = 7;

std::vector<double> Ramp(int step, int offset) {
    std::vector<double> values;
    for (int i = 0; i < kLines * kColumns; ++i) values.push_back(offset + (i * step) % 4001);
    return values;
}

BandLoadOptions Quiet() {
    BandLoadOptions options;
    options.checkMemory = false;
    return options;
}

TEST(WorkspaceMask, AMaskAfterTheBandsWritesTheBatchJobsFiles) {
    ScratchDir dir;
    // A 16-bit band stretched from its own range: the mask takes its extremes away.
    const std::string wide = dir.File("wide.tif"), narrow = dir.File("narrow.tif");
    std::vector<double> first = Ramp(97, 100);
    first[0] = 60000;  // masked: the stretch must not reach it
    ASSERT_TRUE(testing_support::WriteGeoTiff(wide, kLines, kColumns, RasterType::UInt16, {first}));
    ASSERT_TRUE(testing_support::WriteGeoTiff(narrow, kLines, kColumns, RasterType::Byte,
                                              {Ramp(13, 0)}));
    std::vector<double> flags(kLines * kColumns, 0);
    flags[0] = 4;
    flags[9] = 6;
    flags[20] = 1;  // bit 0 only: not masked
    const std::string maskPath = dir.File("mask.tif");
    ASSERT_TRUE(testing_support::WriteGeoTiff(maskPath, kLines, kColumns, RasterType::Byte, {flags}));
    const Result<MaskRule> rule = BitsRule("2");
    ASSERT_TRUE(rule);

    Workspace ws;
    ws.SetThreads(1);
    ws.BeginBandSet(2);
    ASSERT_TRUE(ws.LoadBand(1, wide, BandFileType::Raster, Quiet()));
    ASSERT_TRUE(ws.LoadBand(2, narrow, BandFileType::Raster, Quiet()));
    const Status added = ws.AddMask(MaskSource{maskPath, BandFileType::Raster, 1, *rule.value});
    ASSERT_TRUE(added) << added.message;
    ASSERT_EQ(1u, ws.MaskTexts().size());
    EXPECT_EQ(maskPath + " (raster band 1), masked where bit 2 is set", ws.MaskTexts()[0]);
    ASSERT_TRUE(ws.Record(1).stretch.has_value());
    EXPECT_LT(ws.Record(1).stretch->range.maximum, 60000);
    for (int b = 1; b <= 2; ++b) {
        ws.SetSegmentation(b, 1, 3, {});
    }
    ASSERT_TRUE(ws.FinishSegmentation());
    Result<CodeCounts> counts = ws.CountCodes();
    ASSERT_TRUE(counts);
    const std::vector<int64_t> pixelCount = counts.value->pixelCount;
    ASSERT_TRUE(ws.FinishCrossing(std::move(*counts.value),
                                  SelectCodes(pixelCount, CodeSelection{true, 0})));
    ASSERT_TRUE(ws.SaveResult(dir.File("memory")));
    EXPECT_EQ(std::optional<int64_t>(2), ws.crossing->maskedPixels);

    StreamedJob job(StreamSettings{1, 0});
    job.BeginBandSet(2);
    BandLoadOptions later = Quiet();
    later.ownStretchLater = true;
    ASSERT_TRUE(job.LoadBand(1, wide, BandFileType::Raster, later));
    ASSERT_TRUE(job.LoadBand(2, narrow, BandFileType::Raster, later));
    BandSet single;
    single.Begin(1);
    BandLoadOptions maskLoading = Quiet();
    maskLoading.ownStretchLater = true;
    Result<BandReader> maskBand = single.Open(1, maskPath, BandFileType::Raster, maskLoading);
    ASSERT_TRUE(maskBand);
    auto mask = std::make_shared<PixelMask>();
    mask->Add(std::move(*maskBand.value), *rule.value,
              MaskName(maskPath, BandFileType::Raster, 1));
    job.SetMask(mask, mask->Texts());
    for (int b = 1; b <= 2; ++b) job.SetSegmentation(b, 1, 3, {});
    ASSERT_TRUE(job.FinishSegmentation());
    ASSERT_TRUE(job.CountCodes());
    ASSERT_TRUE(job.FinishCrossing(SelectCodes(job.PixelCount(), CodeSelection{true, 0})));
    const Status saved = job.Save(dir.File("streamed"), dir.File("streamed-seg"));
    ASSERT_TRUE(saved) << saved.message;

    for (const std::string extension : {".txt", ".raw", ".bmp"})
        EXPECT_EQ(ReadBytes(dir.File("memory" + extension)),
                  ReadBytes(dir.File("streamed" + extension)))
            << extension;
    const std::vector<uint8_t> classes = ReadBytes(dir.File("memory.raw"));
    ASSERT_EQ(static_cast<size_t>(kLines * kColumns), classes.size());
    EXPECT_EQ(255, classes[0]);
    EXPECT_EQ(255, classes[9]);
    EXPECT_NE(255, classes[20]);
}

}  // namespace
}  // namespace tessera
