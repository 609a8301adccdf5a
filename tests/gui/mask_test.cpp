// Open Mask through the real dialogs: a bits rule on a mask made with GDAL leaves its pixels
// without data in the bands loaded before it, the report names it and counts them, and the
// saved classes give them 255; refused rules and masks change nothing.
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
using guitest::Answer;
using guitest::ChooseFile;
using guitest::Message;
using guitest::TypeAndClick;
using testing_support::ReadBytes;
using testing_support::ReadText;
using testing_support::ScratchDir;
using testing_support::WriteBytes;
using testing_support::WriteText;

Answer Segment(const char* radio, const char* count) {
    return [radio, count](QDialog& dialog) {
        if (radio) dialog.findChild<QRadioButton*>(radio)->click();
        dialog.findChild<QLineEdit*>("SegmentNumberEdit")->setText(count);
        dialog.findChild<QAbstractButton*>("BitBtn1")->click();
        return dialog.result();
    };
}

// The mask dialog: a rule's radio button and its list, then OK.
Answer MaskRule(const char* radio, const char* list) {
    return [radio, list](QDialog& dialog) {
        dialog.findChild<QRadioButton*>(radio)->click();
        dialog.findChild<QLineEdit*>("ListEdit")->setText(list);
        dialog.findChild<QAbstractButton*>("BitBtn1")->click();
        return dialog.result();
    };
}

// Two raw bands of 2 x 3 pixels and a GeoTIFF mask whose value 2 (bit 1) masks pixel 2 of
// line 1; value 1 (bit 0) does not under the rule "bit 1".
class MaskCommand : public guitest::ProgramTest {
  protected:
    void SetUp() override {
        ProgramTest::SetUp();
        band1 = dir.File("band1.raw");
        band2 = dir.File("band2.raw");
        WriteBytes(band1, {0, 10, 20, 30, 40, 50});
        WriteText(dir.File("band1.txt"), "2\n3\n");
        WriteBytes(band2, {5, 5, 100, 100, 5, 100});
        WriteText(dir.File("band2.txt"), "2\n3\n");
        mask = dir.File("mask.tif");
        ASSERT_TRUE(testing_support::WriteGeoTiff(mask, 2, 3, testing_support::RasterType::Byte,
                                                  {{0, 2, 0, 1, 0, 0}}));
        wide = dir.File("wide.tif");
        ASSERT_TRUE(testing_support::WriteGeoTiff(wide, 3, 3, testing_support::RasterType::Byte,
                                                  {{0, 0, 0, 0, 0, 0, 0, 0, 0}}));
    }
    void OpenBands() {
        script.Then(TypeAndClick({{"NumBandEdit", "2"}}, "BitBtn1"), " BANDS");
        script.Then(ChooseFile(QString::fromStdString(band1), 1), "OPEN BAND 1");
        script.Then(ChooseFile(QString::fromStdString(band2), 1), "OPEN BAND 2");
        Trigger("OpenSpeedButton");
    }
    ScratchDir dir;
    std::string band1, band2, mask, wide;
};

TEST_F(MaskCommand, ABitsMaskLeavesItsPixelsOutOfTheReportAndTheClasses) {
    EXPECT_FALSE(Enabled("OpenMask"));
    OpenBands();
    ASSERT_TRUE(Enabled("OpenMask"));
    script.Then(ChooseFile(QString::fromStdString(mask), 3), "OPEN MASK");
    script.Then(MaskRule("BitsRadio", "1"), " MASK");
    Trigger("OpenMask");
    EXPECT_EQ(std::vector<Message>{}, script.messages);
    // The bands loaded before the mask carry it now.
    ASSERT_FALSE(form->ws.Band(1).nodata.Empty());
    EXPECT_EQ(tessera::kMaskedMark, form->ws.Band(1).nodata[0][1]);
    EXPECT_EQ(0, form->ws.Band(1).nodata[1][0]);
    EXPECT_EQ(tessera::kMaskedMark, form->ws.Band(2).nodata[0][1]);
    EXPECT_EQ(5, form->ws.Band(1).histogram[0] + form->ws.Band(1).histogram[20] +
                     form->ws.Band(1).histogram[30] + form->ws.Band(1).histogram[40] +
                     form->ws.Band(1).histogram[50]);
    EXPECT_EQ(0, form->ws.Band(1).histogram[10]);

    script.Then(Segment("RadioButton1", "2"));
    script.Then(Segment(nullptr, "2"));
    Trigger("SegmentationSpeedButton");
    script.Then(
        [](QDialog& dialog) {
            dialog.findChild<QAbstractButton*>("BitBtn1")->click();
            return dialog.result();
        },
        " Code Number Definition");
    Trigger("TreatmentSpeedButton");
    script.Then(ChooseFile(QString::fromStdString(dir.File("result"))),
                "Saving Final Resulting Colored BMP File and Related Raw Image");
    Trigger("SaveResultSpeedButton");
    EXPECT_EQ(std::vector<Message>{}, script.messages);
    const std::vector<uint8_t> classes = ReadBytes(dir.File("result.raw"));
    ASSERT_EQ(6u, classes.size());
    EXPECT_EQ(255, classes[1]);
    for (size_t i : {0u, 2u, 3u, 4u, 5u}) EXPECT_NE(255, classes[i]) << i;
    const std::string report = ReadText(dir.File("result.txt"));
    EXPECT_NE(std::string::npos, report.find("\n\nMask : " + mask +
                                          " (raster band 1), masked where bit 1 is set \n"))
        << report;
    EXPECT_NE(std::string::npos, report.find("\nPixels masked (with data in every band) : 1 (code 0, in no class) "))
        << report;
    ASSERT_TRUE(form->ws.crossing.has_value());
    EXPECT_EQ(std::optional<int64_t>(1), form->ws.crossing->maskedPixels);
}

TEST_F(MaskCommand, ABitOutsideTheRangeIsRefusedAndTheDialogComesAgain) {
    OpenBands();
    script.Then(ChooseFile(QString::fromStdString(mask), 3), "OPEN MASK");
    script.Then(MaskRule("BitsRadio", "70"), " MASK");
    script.Then(guitest::Cancel(), " MASK");
    Trigger("OpenMask");
    ASSERT_EQ(1u, script.messages.size());
    EXPECT_EQ(" The mask is refused: the bit number 70 lies outside 0..63 ",
              script.messages[0].text.toStdString());
    EXPECT_EQ("CAUTION", script.messages[0].caption.toStdString());
    EXPECT_TRUE(form->ws.MaskTexts().empty());
    EXPECT_TRUE(form->ws.Band(1).nodata.Empty());
}

TEST_F(MaskCommand, AMaskOfAnotherSizeIsRefusedAndANewBandSetForgetsTheMask) {
    OpenBands();
    script.Then(ChooseFile(QString::fromStdString(wide), 3), "OPEN MASK");
    script.Then(MaskRule("NonZeroRadio", ""), " MASK");
    Trigger("OpenMask");
    ASSERT_EQ(1u, script.messages.size());
    EXPECT_NE(std::string::npos, script.messages[0].text.toStdString().find(
                                     "as a mask, it has 3 lines x 3 columns, the bands 2 x 3"))
        << script.messages[0].text.toStdString();
    EXPECT_TRUE(form->ws.MaskTexts().empty());

    script.Then(ChooseFile(QString::fromStdString(mask), 3), "OPEN MASK");
    script.Then(MaskRule("ValuesRadio", "2"), " MASK");
    Trigger("OpenMask");
    EXPECT_EQ(1u, form->ws.MaskTexts().size());
    OpenBands();
    EXPECT_TRUE(form->ws.MaskTexts().empty());
    EXPECT_TRUE(form->ws.Band(1).nodata.Empty());
}

}  // namespace
