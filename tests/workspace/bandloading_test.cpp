// The interactive program's band set as it is opened, without its windows: a band of another
// grid brought onto the grid of the bands before it when the question is answered yes and
// refused when it is answered no, a mask of another grid read onto theirs, a mask of another
// size refused without changing anything, and a new band set that forgets its masks.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "bands/pixelmask.h"
#include "rasterfiles.h"
#include "testfiles.h"
#include "workspace/workspace.h"

namespace tessera {
namespace {

using testing_support::PlacedAt;
using testing_support::RasterType;
using testing_support::ScratchDir;
using testing_support::WriteBytes;
using testing_support::WriteGeoTiff;
using testing_support::WriteText;

MaskSource NonZeroMask(const std::string& path) {
    return MaskSource{path, BandFileType::Raster, 1, MaskRule{}};
}

// coarse.tif: 2 x 2 pixels of 30 m. fine.tif: 4 lines x 2 columns of 15 m, covering the left
// column of coarse.tif: 10 in its upper 30 m square, 30 in its lower one. mask.tif: 4 x 4
// pixels of 15 m over coarse.tif, non-zero in its upper left 30 m square.
class BandGridLoading : public ::testing::Test {
  protected:
    void SetUp() override {
        ASSERT_TRUE(WriteGeoTiff(coarse, 2, 2, RasterType::Byte, {{1, 2, 3, 4}}, PlacedAt(30)));
        ASSERT_TRUE(WriteGeoTiff(fine, 4, 2, RasterType::Byte, {{10, 10, 10, 10, 30, 30, 30, 30}},
                                 PlacedAt(15)));
        ASSERT_TRUE(WriteGeoTiff(mask, 4, 4, RasterType::Byte,
                                 {{1, 1, 0, 0, 1, 1, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0}}, PlacedAt(15)));
        ws.BeginBandSet(2);
    }
    // Loads fine.tif as band 2 after coarse.tif, answering the grid question with `yes`.
    Status LoadFineAnswering(bool yes) {
        EXPECT_TRUE(ws.LoadBand(1, coarse, BandFileType::Raster, {}));
        BandLoadOptions options;
        options.askRegrid = [this, yes](const std::string& question) {
            questions.push_back(question);
            return yes;
        };
        return ws.LoadBand(2, fine, BandFileType::Raster, options);
    }
    ScratchDir dir;
    const std::string coarse = dir.File("coarse.tif"), fine = dir.File("fine.tif"),
                      mask = dir.File("mask.tif");
    Workspace ws;
    std::vector<std::string> questions;
};

TEST_F(BandGridLoading, ABandOfAnotherResolutionIsBroughtOntoTheGridAndSoIsAMaskAfterIt) {
    const Status loaded = LoadFineAnswering(true);
    ASSERT_TRUE(loaded) << loaded.message;
    ASSERT_EQ(1u, questions.size());
    EXPECT_EQ(" Band 2\n" + fine +
                  "\nlies on another grid than band 1: pixels of 15 x 15 map units, 4 lines x 2 "
                  "columns, beside band 1's 30 x 30, 2 x 2.\nBring band 2 onto the grid of band "
                  "1? Its pixels are then taken by nearest neighbour, and those of the grid it "
                  "does not cover are without data. ",
              questions[0]);
    const BandData& band = ws.Band(2);
    ASSERT_EQ(2, band.pixels.Lines());
    ASSERT_EQ(2, band.pixels.Columns());
    EXPECT_EQ(10, band.pixels[0][0]);
    EXPECT_EQ(30, band.pixels[1][0]);
    // The right column of the grid lies outside the band: without data, and counted so.
    ASSERT_FALSE(band.nodata.Empty());
    EXPECT_EQ(0, band.nodata[0][0]);
    EXPECT_EQ(kNodataMark, band.nodata[0][1]);
    EXPECT_EQ(kNodataMark, band.nodata[1][1]);
    EXPECT_EQ(2, ws.Record(2).nodataPixels);
    ASSERT_TRUE(ws.Record(2).georeference.has_value());
    EXPECT_EQ(30, ws.Record(2).georeference->transform[1]);

    // A mask of 15 m is read onto the grid too; band 2 is loaded again onto it without the
    // question coming again, and keeps its own pixels without data.
    const Status masked = ws.AddMask(NonZeroMask(mask));
    ASSERT_TRUE(masked) << masked.message;
    EXPECT_EQ(1u, questions.size());
    EXPECT_EQ(kMaskedMark, ws.Band(1).nodata[0][0]);
    EXPECT_EQ(0, ws.Band(1).nodata[0][1]);
    EXPECT_EQ(0, ws.Band(1).nodata[1][0]);
    EXPECT_EQ(kMaskedMark, ws.Band(2).nodata[0][0]);
    EXPECT_EQ(kNodataMark, ws.Band(2).nodata[1][1]);
    EXPECT_EQ(30, ws.Band(2).pixels[1][0]);
    EXPECT_EQ(1u, ws.MaskTexts().size());
}

TEST_F(BandGridLoading, ABandOfAnotherResolutionIsRefusedWhenTheAnswerIsNo) {
    const Status refused = LoadFineAnswering(false);
    EXPECT_FALSE(refused);
    EXPECT_EQ(1u, questions.size());
    EXPECT_NE(std::string::npos, refused.message.find(fine)) << refused.message;
    EXPECT_FALSE(ws.Band(2).Loaded());
    EXPECT_TRUE(ws.Band(1).Loaded());
    EXPECT_EQ(BandFileType::Raster, ws.LoadedType());
}

// Two raw bands of 2 x 3 pixels, and GeoTIFF masks of that size and of 3 x 3.
class MaskLoading : public ::testing::Test {
  protected:
    void SetUp() override {
        WriteBytes(band1, {0, 10, 20, 30, 40, 50});
        WriteText(dir.File("band1.txt"), "2\n3\n");
        WriteBytes(band2, {5, 5, 100, 100, 5, 100});
        WriteText(dir.File("band2.txt"), "2\n3\n");
        ASSERT_TRUE(WriteGeoTiff(mask, 2, 3, RasterType::Byte, {{0, 2, 0, 1, 0, 0}}));
        ASSERT_TRUE(WriteGeoTiff(wide, 3, 3, RasterType::Byte, {{0, 0, 0, 0, 0, 0, 0, 0, 0}}));
    }
    void OpenBands() {
        ws.BeginBandSet(2);
        ASSERT_TRUE(ws.LoadBand(1, band1, BandFileType::Raw, {}));
        ASSERT_TRUE(ws.LoadBand(2, band2, BandFileType::Raw, {}));
    }
    ScratchDir dir;
    const std::string band1 = dir.File("band1.raw"), band2 = dir.File("band2.raw"),
                      mask = dir.File("mask.tif"), wide = dir.File("wide.tif");
    Workspace ws;
};

TEST_F(MaskLoading, ABitsMaskLeavesItsPixelsOutOfTheBandsLoadedBeforeIt) {
    OpenBands();
    // Value 2 (bit 1) masks pixel 2 of line 1; value 1 (bit 0) does not.
    const Status added = ws.AddMask({mask, BandFileType::Raster, 1, *BitsRule("1").value});
    ASSERT_TRUE(added) << added.message;
    for (int b : {1, 2}) {
        ASSERT_FALSE(ws.Band(b).nodata.Empty()) << "band " << b;
        EXPECT_EQ(kMaskedMark, ws.Band(b).nodata[0][1]) << "band " << b;
        EXPECT_EQ(0, ws.Band(b).nodata[1][0]) << "band " << b;
        EXPECT_EQ(0, ws.Record(b).nodataPixels) << "band " << b;  // masked, not without data
    }
    // Band 1's histogram and range without its masked pixel 10.
    const Histogram& histogram = ws.Band(1).histogram;
    EXPECT_EQ(0, histogram[10]);
    EXPECT_EQ(5, histogram[0] + histogram[20] + histogram[30] + histogram[40] + histogram[50]);
    EXPECT_EQ(0, ws.Band(1).minGray);
    EXPECT_EQ(50, ws.Band(1).maxGray);
    ASSERT_EQ(1u, ws.MaskTexts().size());
    EXPECT_EQ(mask + " (raster band 1), masked where bit 1 is set", ws.MaskTexts()[0]);
}

TEST_F(MaskLoading, AMaskOfAnotherSizeChangesNothingAndANewBandSetForgetsTheMasks) {
    EXPECT_FALSE(ws.BandSetSize().has_value());
    EXPECT_EQ(" Open a band of the band set before its mask ",
              ws.AddMask(NonZeroMask(mask)).message);
    OpenBands();
    const Status refused = ws.AddMask(NonZeroMask(wide));
    EXPECT_FALSE(refused);
    EXPECT_NE(std::string::npos,
              refused.message.find("as a mask, it has 3 lines x 3 columns, the bands 2 x 3"))
        << refused.message;
    EXPECT_TRUE(ws.MaskTexts().empty());
    EXPECT_TRUE(ws.Band(1).nodata.Empty());

    ASSERT_TRUE(ws.AddMask({mask, BandFileType::Raster, 1, *ValuesRule("2").value}));
    EXPECT_EQ(1u, ws.MaskTexts().size());
    EXPECT_EQ(kMaskedMark, ws.Band(2).nodata[0][1]);
    OpenBands();
    EXPECT_TRUE(ws.MaskTexts().empty());
    EXPECT_TRUE(ws.Band(1).nodata.Empty());
    EXPECT_TRUE(ws.Band(2).nodata.Empty());
}

}  // namespace
}  // namespace tessera
