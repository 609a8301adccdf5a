// What the windows show is the open band set: a new set takes nothing of the earlier one, a
// refused or cancelled load leaves the window as it was, the crossing never treats an earlier
// set's segmentation, and a file is read by what it is whatever the type entry said.
#include <QAbstractButton>
#include <QLabel>
#include <QLineEdit>
#include <cstring>
#include <string>

#include "app/forms.h"
#include "app/mainwindow.h"
#include "gui/guitest.h"
#include "rasterfiles.h"
#include "testfiles.h"
#include "view/ui/imagewindow.h"
#include "view/ui/resultimage.h"

namespace {
using guitest::Answer;
using guitest::ChooseFile;
using guitest::Message;
using guitest::Segment;
using guitest::TypeAndClick;
using testing_support::FileExists;
using testing_support::ScratchDir;
using testing_support::WriteBytes;
using testing_support::WriteText;

class BandSet : public guitest::ProgramTest {
  protected:
    void SetUp() override {
        ProgramTest::SetUp();
        for (const char* name : {"a", "b", "c"}) {
            WriteBytes(dir.File(std::string(name) + ".raw"), {0, 10, 20, 30, 40, 50});
            WriteText(dir.File(std::string(name) + ".txt"), "2\n3\n");
        }
    }
    QString File(const char* name) const { return QString::fromStdString(dir.File(name)); }
    void Open(std::initializer_list<Answer> bands, int count = 0) {
        if (count == 0) count = static_cast<int>(bands.size());
        script.Then(TypeAndClick({{"NumBandEdit", QString::number(count)}}, "BitBtn1"));
        for (const Answer& band : bands) script.Then(band);
        Trigger("OpenSpeedButton");
    }
    void Segment2() {
        script.Then(Segment("RadioButton1", "2"));
        script.Then(Segment("RadioButton1", "2"));
        Trigger("SegmentationSpeedButton");
    }
    ScratchDir dir;
};

TEST_F(BandSet, AGeoTiffPickedAsARawImageIsReadAsARasterAndNothingIsWrittenBesideIt) {
    const std::string tiff = dir.File("l8_b4.tif");
    ASSERT_TRUE(testing_support::WriteGeoTiff(tiff, 2, 3, testing_support::RasterType::Byte,
                                              {{5, 10, 20, 30, 40, 50}}));
    script.Then(TypeAndClick({{"NumBandEdit", "2"}}, "BitBtn1"));
    script.Then(ChooseFile(File("a.raw")));
    script.Then(ChooseFile(QString::fromStdString(tiff), 1), "OPEN BAND 2");  // "Raw Files"
    script.Then(guitest::Accept(), " RASTER BAND");  // no image-size dialog
    Trigger("OpenSpeedButton");
    EXPECT_TRUE(script.messages.empty());
    EXPECT_FALSE(FileExists(dir.File("l8_b4.txt")));
    ASSERT_TRUE(form->ws.Band(2).Loaded());
    EXPECT_EQ(5, form->ws.Band(2).minGray);
    EXPECT_EQ(tessera::BandFileType::Raster, form->ws.LoadedType());
    EXPECT_NE(-1, form->MapPanel->text().indexOf("a TIFF file")) << form->MapPanel->text().toStdString();
}

TEST_F(BandSet, ARawImageWithItsDescriptorPickedAsARasterIsReadAsRaw) {
    script.Then(TypeAndClick({{"NumBandEdit", "2"}}, "BitBtn1"));
    script.Then(ChooseFile(File("b.raw")));
    script.Then(ChooseFile(File("a.raw"), 3));  // "GeoTIFF"
    Trigger("OpenSpeedButton");
    EXPECT_TRUE(script.messages.empty());
    ASSERT_TRUE(form->ws.Band(2).Loaded());
    EXPECT_EQ(50, form->ws.Band(2).maxGray);
    EXPECT_EQ(tessera::BandFileType::Raw, form->ws.LoadedType());
    EXPECT_NE(-1, form->MapPanel->text().indexOf("Band 2: a.raw is a raw image with its descriptor"))
        << form->MapPanel->text().toStdString();
}

TEST_F(BandSet, ARefusedLoadThenASkippedBandLeaveTheWindowAndReuseNothing) {
    Open({ChooseFile(File("a.raw")), ChooseFile(File("b.raw"))});
    const QString caption = ImageForm->windowTitle();
    const QRgb pixel = ImageForm->Picture().pixel(2, 1);
    // A new set: band 1 refused (a descriptor that says nothing), then skipped; band 2 skipped.
    WriteBytes(dir.File("bad.raw"), {1, 2, 3});
    WriteText(dir.File("bad.txt"), "lines\n");
    Open({ChooseFile(File("bad.raw")), guitest::Cancel(), guitest::Cancel()}, 2);
    ASSERT_EQ(1u, script.messages.size());
    EXPECT_EQ("CAUTION", script.messages[0].caption.toStdString());
    EXPECT_EQ(caption, ImageForm->windowTitle());
    EXPECT_EQ(pixel, ImageForm->Picture().pixel(2, 1));
    EXPECT_TRUE(ImageForm->BandTitles[1].isEmpty());
    // The segmentation names the first band missing before any dialog: the earlier set's
    // bands are not taken for this one's.
    script.messages.clear();
    Trigger("SegmentationSpeedButton");
    EXPECT_EQ((std::vector<Message>{{QString::fromStdString(tessera::MissingBandMessage(1)),
                                     "ERROR"}}),
              script.messages);
    EXPECT_FALSE(form->ws.segmentation.has_value());
}

TEST_F(BandSet, PreviousStepsFromTheBandShownWhenTheLastBandWasSkipped) {
    Open({ChooseFile(File("a.raw")), ChooseFile(File("b.raw")), guitest::Cancel()});
    EXPECT_EQ(2, form->ws.CurrentBand());
    EXPECT_EQ(ImageForm->BandTitles[2], ImageForm->windowTitle());
    Trigger("PreviousSpeedButton");
    EXPECT_EQ(1, form->ws.CurrentBand());
    EXPECT_EQ(ImageForm->BandTitles[1], ImageForm->windowTitle());
    EXPECT_TRUE(ImageForm->HasPicture());
}

TEST_F(BandSet, ACancelOfAnEarlierCommandDoesNotEndALaterOpenSequence) {
    Open({ChooseFile(File("a.raw")), ChooseFile(File("b.raw"))});
    form->Work->threshold = 0;
    form->Work->stepHook = [](const char* stage, int64_t, int64_t) {
        return std::strcmp(stage, tessera::kStageNumbering) != 0;
    };
    script.Then(Segment("RadioButton1", "2"));
    script.Then(Segment("RadioButton1", "2"));
    Trigger("SegmentationSpeedButton");  // cancelled while numbering
    EXPECT_FALSE(form->ws.segmentation.has_value());
    form->Work->stepHook = nullptr;
    // Band 1's dialog cancelled skips band 1 only: band 2's dialog still comes.
    Open({guitest::Cancel(), ChooseFile(File("c.raw"))});
    EXPECT_FALSE(form->ws.Band(1).Loaded());
    EXPECT_TRUE(form->ws.Band(2).Loaded());
}

TEST_F(BandSet, TheTreatmentWaitsForTheNewSetsSegmentation) {
    Open({ChooseFile(File("a.raw")), ChooseFile(File("b.raw"))});
    Segment2();
    EXPECT_TRUE(Enabled("TreatmentSpeedButton"));
    script.Then(guitest::Click({"RadioButton3", "BitBtn1"}));  // keep every code
    Trigger("TreatmentSpeedButton");
    const QString caption = ResultImageForm->windowTitle();
    Open({ChooseFile(File("b.raw")), ChooseFile(File("c.raw"))});
    EXPECT_FALSE(Enabled("TreatmentSpeedButton"));
    // Save Result still saves that crossing, and its window says which set it treated.
    EXPECT_TRUE(Enabled("SaveResultSpeedButton"));
    EXPECT_EQ(caption + "  - crossing of the earlier band set of a.raw",
              ResultImageForm->windowTitle());
    EXPECT_TRUE(Enabled("SaveSegmentedImageSpeedButton"));  // the earlier segmentation's
    Segment2();
    EXPECT_TRUE(Enabled("TreatmentSpeedButton"));
    script.Then(guitest::Click({"RadioButton3", "BitBtn1"}));
    Trigger("TreatmentSpeedButton");
    EXPECT_EQ(caption, ResultImageForm->windowTitle());
}

TEST_F(BandSet, EachBandOfAMultiBandImageKeepsItsOwnNodataUnlessOneIsTyped) {
    const std::string path = dir.File("two.img");  // a format with a nodata value per band
    testing_support::RasterExtras extras;
    extras.bandNodata = {1, 7};
    extras.driver = "HFA";
    ASSERT_TRUE(testing_support::WriteGeoTiff(path, 2, 3, testing_support::RasterType::Byte,
                                              {{1, 1, 2, 3, 4, 5}, {7, 2, 3, 4, 5, 6}}, extras));
    script.Then(ChooseFile(QString::fromStdString(path)), "OPEN MULTI-BAND IMAGE");
    script.Then(guitest::Accept(), " RASTER BAND");
    Trigger("OpenMultiband");
    EXPECT_EQ(1.0, form->ws.Record(1).nodata.value_or(-1));
    EXPECT_EQ(7.0, form->ws.Record(2).nodata.value_or(-1));
    EXPECT_EQ(2, form->ws.Record(1).nodataPixels);
    EXPECT_EQ(1, form->ws.Record(2).nodataPixels);

    script.Then(ChooseFile(QString::fromStdString(path)), "OPEN MULTI-BAND IMAGE");
    script.Then(TypeAndClick({{"NodataEdit", "5"}}, "BitBtn1"), " RASTER BAND");
    Trigger("OpenMultiband");
    EXPECT_EQ(5.0, form->ws.Record(1).nodata.value_or(-1));
    EXPECT_EQ(5.0, form->ws.Record(2).nodata.value_or(-1));
}

TEST_F(BandSet, ARasterLoadCanBeCancelledAndEndsTheSequence) {
    const std::string tiff = dir.File("r.tif");
    ASSERT_TRUE(testing_support::WriteGeoTiff(tiff, 2, 3, testing_support::RasterType::UInt16,
                                              {{100, 200, 300, 400, 500, 600}}));
    form->Work->threshold = 0;
    bool cancelledAtLoading = false;
    form->Work->stepHook = [&](const char* stage, int64_t done, int64_t) {
        if (std::strcmp(stage, tessera::kStageLoading) != 0 || done != 0) return true;
        cancelledAtLoading = true;
        return false;
    };
    script.Then(TypeAndClick({{"NumBandEdit", "2"}}, "BitBtn1"));
    script.Then(ChooseFile(QString::fromStdString(tiff), 3));
    script.Then(guitest::Accept(), " RASTER BAND");
    Trigger("OpenSpeedButton");  // band 2's dialog never comes
    EXPECT_TRUE(cancelledAtLoading);
    EXPECT_FALSE(form->ws.Band(1).Loaded());
    EXPECT_TRUE(script.messages.empty());
    EXPECT_FALSE(form->Busy());
}

}  // namespace
