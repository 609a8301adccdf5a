// Bands of one product on other grids, through the real dialogs: the open sequence asks once
// whether a band of another resolution is brought onto the grid of the bands before it, a mask
// of another resolution is read onto that grid, and a stretch typed as percentiles in the
// raster dialog takes MIN and MAX at them.
#include <QAbstractButton>
#include <QLineEdit>
#include <QRadioButton>

#include "app/forms.h"
#include "app/mainwindow.h"
#include "bands/bandfiles.h"
#include "gui/guitest.h"
#include "rasterfiles.h"
#include "testfiles.h"

namespace {
using guitest::ChooseFile;
using guitest::Message;
using guitest::TypeAndClick;
using testing_support::PlacedAt;
using testing_support::RasterExtras;
using testing_support::RasterType;
using testing_support::ScratchDir;

class BandGrid : public guitest::ProgramTest {
  protected:
    // coarse.tif: 2 x 2 pixels of 30 m. fine.tif: 4 lines x 2 columns of 15 m, covering the
    // left column of coarse.tif: 10 in its upper 30 m square, 30 in its lower one.
    // mask.tif: 4 x 4 pixels of 15 m over coarse.tif, non-zero in its upper left 30 m square.
    void SetUp() override {
        ProgramTest::SetUp();
        coarse = dir.File("coarse.tif");
        fine = dir.File("fine.tif");
        mask = dir.File("mask.tif");
        ASSERT_TRUE(testing_support::WriteGeoTiff(coarse, 2, 2, RasterType::Byte,
                                                  {{1, 2, 3, 4}}, PlacedAt(30)));
        ASSERT_TRUE(testing_support::WriteGeoTiff(fine, 4, 2, RasterType::Byte,
                                                  {{10, 10, 10, 10, 30, 30, 30, 30}}, PlacedAt(15)));
        ASSERT_TRUE(testing_support::WriteGeoTiff(
            mask, 4, 4, RasterType::Byte, {{1, 1, 0, 0, 1, 1, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0}},
            PlacedAt(15)));
    }
    void OpenCoarseThenFine() {
        script.Then(TypeAndClick({{"NumBandEdit", "2"}}, "BitBtn1"), " BANDS");
        script.Then(ChooseFile(QString::fromStdString(coarse), 3), "OPEN BAND 1");
        script.Then(TypeAndClick({}, "BitBtn1"), " RASTER BAND");
        script.Then(ChooseFile(QString::fromStdString(fine), 3), "OPEN BAND 2");
    }
    std::string Question() const {
        return " Band 2\n" + fine +
               "\nlies on another grid than band 1: pixels of 15 x 15 map units, 4 lines x 2 "
               "columns, beside band 1's 30 x 30, 2 x 2.\nBring band 2 onto the grid of band 1? "
               "Its pixels are then taken by nearest neighbour, and those of the grid it does not "
               "cover are without data. ";
    }
    ScratchDir dir;
    std::string coarse, fine, mask;
};

TEST_F(BandGrid, ABandOfAnotherResolutionIsBroughtOntoTheGridWhenTheUserSaysSo) {
    OpenCoarseThenFine();
    script.Then(TypeAndClick({}, "BitBtn1"), " RASTER BAND");
    Trigger("OpenSpeedButton");
    EXPECT_EQ(std::vector<Message>{}, script.messages);
    EXPECT_EQ((std::vector<Message>{{QString::fromStdString(Question()), "CAUTION"}}),
              script.questions);
    ASSERT_TRUE(form->ws.Band(2).Loaded());
    const tessera::ByteMatrix& pixels = form->ws.Band(2).pixels;
    ASSERT_EQ(2, pixels.Lines());
    ASSERT_EQ(2, pixels.Columns());
    EXPECT_EQ(10, pixels[0][0]);
    EXPECT_EQ(30, pixels[1][0]);
    // The right column of the grid lies outside the band: without data, and counted so.
    const tessera::ByteMatrix& marks = form->ws.Band(2).nodata;
    ASSERT_FALSE(marks.Empty());
    EXPECT_EQ(0, marks[0][0]);
    EXPECT_EQ(tessera::kNodataMark, marks[0][1]);
    EXPECT_EQ(tessera::kNodataMark, marks[1][1]);
    EXPECT_EQ(2, form->ws.Record(2).nodataPixels);
    ASSERT_TRUE(form->ws.Record(2).georeference.has_value());
    EXPECT_EQ(30, form->ws.Record(2).georeference->transform[1]);

    // A mask of 15 m is read onto the grid too, and band 2 is loaded again onto it without
    // being asked about again.
    script.Then(ChooseFile(QString::fromStdString(mask), 3), "OPEN MASK");
    script.Then(
        [](QDialog& dialog) {
            dialog.findChild<QRadioButton*>("NonZeroRadio")->click();
            dialog.findChild<QAbstractButton*>("BitBtn1")->click();
            return dialog.result();
        },
        " MASK");
    Trigger("OpenMask");
    EXPECT_EQ(std::vector<Message>{}, script.messages);
    EXPECT_EQ(1u, script.questions.size());
    EXPECT_EQ(tessera::kMaskedMark, form->ws.Band(1).nodata[0][0]);
    EXPECT_EQ(0, form->ws.Band(1).nodata[0][1]);
    EXPECT_EQ(0, form->ws.Band(1).nodata[1][0]);
    ASSERT_EQ(2, form->ws.Band(2).pixels.Columns());
    EXPECT_EQ(tessera::kMaskedMark, form->ws.Band(2).nodata[0][0]);
    EXPECT_EQ(tessera::kNodataMark, form->ws.Band(2).nodata[1][1]);
    EXPECT_EQ(30, form->ws.Band(2).pixels[1][0]);
}

TEST_F(BandGrid, ABandOfAnotherResolutionIsRefusedAsBeforeWhenTheUserSaysNo) {
    script.answerYes = false;
    OpenCoarseThenFine();
    script.Then(guitest::Cancel(), "OPEN BAND 2");
    Trigger("OpenSpeedButton");
    EXPECT_EQ(1u, script.questions.size());
    ASSERT_EQ(1u, script.messages.size());
    EXPECT_EQ("CAUTION", script.messages[0].caption.toStdString());
    EXPECT_NE(std::string::npos, script.messages[0].text.toStdString().find(fine));
    EXPECT_FALSE(form->ws.Band(2).Loaded());
    EXPECT_TRUE(form->ws.Band(1).Loaded());
}

TEST_F(BandGrid, PercentilesTypedInTheRasterDialogGiveTheStretch) {
    // Values 10 to 50 with data: numpy's percentile gives 20 at 25 % and 40 at 75 %.
    const std::string band = dir.File("uint16.tif");
    RasterExtras extras;
    extras.nodata = 0;
    ASSERT_TRUE(testing_support::WriteGeoTiff(band, 2, 3, RasterType::UInt16,
                                              {{0, 10, 20, 30, 40, 50}}, extras));
    script.Then(TypeAndClick({{"NumBandEdit", "2"}}, "BitBtn1"), " BANDS");
    script.Then(ChooseFile(QString::fromStdString(band), 3), "OPEN BAND 1");
    script.Then(TypeAndClick({{"MinEdit", "25%"}, {"MaxEdit", "101%"}}, "BitBtn1"),
                " RASTER BAND");
    script.Then(TypeAndClick({{"MinEdit", "25%"}, {"MaxEdit", "75%"}}, "BitBtn1"),
                " RASTER BAND");
    script.Then(guitest::Cancel(), "OPEN BAND 2");
    Trigger("OpenSpeedButton");
    ASSERT_EQ(1u, script.messages.size());
    EXPECT_EQ("CAUTION", script.messages[0].caption.toStdString());
    EXPECT_EQ(0u, script.messages[0].text.toStdString().find(" MIN and MAX: "))
        << script.messages[0].text.toStdString();
    ASSERT_TRUE(form->ws.Band(1).Loaded());
    const auto& stretch = form->ws.Record(1).stretch;
    ASSERT_TRUE(stretch.has_value());
    EXPECT_EQ(20, stretch->range.minimum);
    EXPECT_EQ(40, stretch->range.maximum);
    ASSERT_TRUE(stretch->percentiles.has_value());
    EXPECT_EQ(25, stretch->percentiles->low);
    EXPECT_EQ(75, stretch->percentiles->high);
    // 10 lies under MIN and 50 over MAX: gray 0 and 255; 30 half way.
    EXPECT_EQ(0, form->ws.Band(1).pixels[0][1]);
    EXPECT_EQ(255, form->ws.Band(1).pixels[1][2]);
    EXPECT_EQ(128, form->ws.Band(1).pixels[1][0]);
}

}  // namespace
