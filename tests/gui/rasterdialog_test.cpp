// The raster dialog through the open commands: what it shows of the band, the band of the file
// it takes, the field a refused entry goes back to; and the folders and hints of the open and
// save dialogs around it.
#include <QAbstractButton>
#include <QDir>
#include <QFileDialog>
#include <QLabel>
#include <QLineEdit>
#include <QRadioButton>

#include "app/forms.h"
#include "app/mainwindow.h"
#include "bands/bandreader.h"
#include "bands/ui/rasterchoice.h"
#include "bands/ui/typehint.h"
#include "gui/dialoghelpers.h"
#include "gui/guitest.h"
#include "rasterfiles.h"
#include "testfiles.h"
#include "view/ui/imagewindow.h"

namespace {
using guitest::Answer;
using guitest::ChooseFile;
using guitest::Message;
using guitest::TypeAndClick;
using testing_support::RasterType;
using testing_support::ScratchDir;

// What a raster dialog showed when it was answered.
struct Shown {
    std::string heading;  // Label1's first line
    std::string label;
    std::string band;
    bool bandOffered = false;
};

Answer Record(std::vector<Shown>& shown, Answer then) {
    return [&shown, then](QDialog& dialog) {
        const QString label = dialog.findChild<QLabel*>("Label1")->text();
        auto* band = dialog.findChild<QLineEdit*>("BandEdit");
        shown.push_back({label.section('\n', 0, 0).toStdString(), label.toStdString(),
                         band->text().toStdString(), band->isVisibleTo(&dialog)});
        return then(dialog);
    };
}

class RasterDialog : public guitest::ProgramTest {
  protected:
    // three.tif: three UInt16 bands of 2 x 3 pixels, nodata 0; band 2 runs from 1000 to 2020.
    void SetUp() override {
        ProgramTest::SetUp();
        three = dir.File("three.tif");
        testing_support::RasterExtras extras;
        extras.nodata = 0;
        ASSERT_TRUE(testing_support::WriteGeoTiff(
            three, 2, 3, RasterType::UInt16,
            {{0, 10, 20, 30, 40, 50}, {1000, 1100, 1200, 1300, 1400, 2020}, {7, 8, 9, 10, 11, 12}},
            extras));
        one = dir.File("one.tif");
        ASSERT_TRUE(
            testing_support::WriteGeoTiff(one, 2, 3, RasterType::Byte, {{5, 6, 7, 8, 9, 10}}));
    }
    QString Path(const std::string& path) const { return QString::fromStdString(path); }
    ScratchDir dir;
    std::string three, one;
};

TEST_F(RasterDialog, ShowsTheBandItsRangeAndNodataAndTakesAnotherBandOfTheFile) {
    std::vector<Shown> shown;
    script.Then(TypeAndClick({{"NumBandEdit", "2"}}, "BitBtn1"));
    script.Then(ChooseFile(Path(three), 3), "OPEN BAND 1");
    script.Then(Record(shown, TypeAndClick({{"BandEdit", "2"}}, "BitBtn1")), " RASTER BAND");
    // Band 2 of the file comes with its own facts, to be confirmed.
    script.Then(Record(shown, TypeAndClick({}, "BitBtn1")), " RASTER BAND");
    script.Then(guitest::Cancel(), "OPEN BAND 2");
    Trigger("OpenSpeedButton");
    EXPECT_EQ(std::vector<Message>{}, script.messages);
    ASSERT_EQ(2u, shown.size());
    EXPECT_EQ("BAND 1 ← band 1 of three.tif", shown[0].heading);
    EXPECT_TRUE(shown[0].bandOffered);
    EXPECT_EQ("1", shown[0].band);
    EXPECT_NE(std::string::npos, shown[0].label.find("Data type: UInt16"));
    EXPECT_NE(std::string::npos,
              shown[0].label.find("\nMinimum 10, maximum 50 over the pixels with data."))
        << shown[0].label;
    EXPECT_NE(std::string::npos, shown[0].label.find("\nNodata value of the file: 0."))
        << shown[0].label;
    EXPECT_EQ("BAND 1 ← band 2 of three.tif", shown[1].heading);
    EXPECT_EQ("2", shown[1].band);
    EXPECT_NE(std::string::npos, shown[1].label.find("\nMinimum 1000, maximum 2020 over"));

    ASSERT_TRUE(form->ws.Band(1).Loaded());
    EXPECT_EQ(2, form->ws.Record(1).rasterBand);
    EXPECT_EQ(1000, form->ws.Record(1).stretch->range.minimum);
    EXPECT_EQ(2020, form->ws.Record(1).stretch->range.maximum);
    EXPECT_EQ(25, form->ws.Band(1).pixels[0][1]);  // 100 x 255 / 1020, rounded
    EXPECT_EQ(" BAND 1. " + three + " (raster band 2)", ImageForm->BandTitles[1].toStdString());
}

TEST_F(RasterDialog, ABandNotInTheFileIsRefusedAndAskedAgain) {
    std::vector<Shown> shown;
    script.Then(TypeAndClick({{"NumBandEdit", "2"}}, "BitBtn1"));
    script.Then(ChooseFile(Path(three), 3), "OPEN BAND 1");
    script.Then(TypeAndClick({{"BandEdit", "4"}}, "BitBtn1"), " RASTER BAND");
    script.Then(TypeAndClick({{"BandEdit", "two"}}, "BitBtn1"), " RASTER BAND");
    script.Then(Record(shown, TypeAndClick({{"BandEdit", "3"}}, "BitBtn1")), " RASTER BAND");
    script.Then(TypeAndClick({}, "BitBtn1"), " RASTER BAND");
    script.Then(guitest::Cancel(), "OPEN BAND 2");
    Trigger("OpenSpeedButton");
    const Message refused{" The band of the file must be a whole number from 1 to 3 ", "CAUTION"};
    EXPECT_EQ((std::vector<Message>{refused, refused}), script.messages);
    ASSERT_TRUE(form->ws.Band(1).Loaded());
    EXPECT_EQ(3, form->ws.Record(1).rasterBand);
}

TEST_F(RasterDialog, TheBandsOfAMultiBandImageAreNotChosenInIt) {
    std::vector<Shown> shown;
    script.Then(ChooseFile(Path(three)), "OPEN MULTI-BAND IMAGE");
    script.Then(Record(shown, TypeAndClick({{"BandEdit", "3"}}, "BitBtn1")), " RASTER BAND");
    Trigger("OpenMultiband");
    EXPECT_EQ(std::vector<Message>{}, script.messages);
    ASSERT_EQ(1u, shown.size());
    EXPECT_FALSE(shown[0].bandOffered);
    EXPECT_EQ(3, form->ws.BandCount());
    for (int band = 1; band <= 3; ++band) EXPECT_EQ(band, form->ws.Record(band).rasterBand);
}

TEST_F(RasterDialog, AOneBandFileAsAMultiBandImageSaysItHoldsOneBand) {
    script.Then(ChooseFile(Path(one)), "OPEN MULTI-BAND IMAGE");
    Trigger("OpenMultiband");
    ASSERT_EQ(1u, script.messages.size());
    EXPECT_EQ("ERROR", script.messages[0].caption.toStdString());
    EXPECT_TRUE(script.messages[0].text.startsWith(" Insufficient Number of Bands \n"));
    EXPECT_NE(-1, script.messages[0].text.indexOf("single band"))
        << script.messages[0].text.toStdString();
}

// The hint the open dialog adds to a refusal of a file read as a raster.
TEST(TypeHints, AFileGdalDoesNotRecogniseIsToldToBeReadAsRaw) {
    ScratchDir dir;
    const std::string raw = dir.File("band.raw");
    testing_support::WriteBytes(raw, std::vector<uint8_t>(300, 7));
    const tessera::Result<tessera::BandReader> file = tessera::OpenRasterBand(raw, 1);
    ASSERT_FALSE(file);
    EXPECT_EQ(
        "\nThe file type list of the dialog decides how a file is read: it says GeoTIFF. Choose "
        "Raw Files [*.raw] there to read a raw image.",
        tessera::RasterTypeHint(file.message, "GeoTIFF", "Raw Files [*.raw]"));
    // A raster GDAL reads but cannot use is no matter of the type list.
    EXPECT_EQ("", tessera::RasterTypeHint(
                      tessera::RasterRefusal(raw, 2, "the file has 1 band, there is no band 2"),
                      "GeoTIFF", "Raw Files [*.raw]"));
}

// Without its descriptor a raw file cannot be read soundly as raw in its place: refused, with
// the hint (with one, it is read as raw; see bandset_test).
TEST_F(RasterDialog, ARawFileReadAsAGeoTiffIsRefusedWithAHintAtTheTypeList) {
    const std::string raw = dir.File("band.raw");
    testing_support::WriteBytes(raw, std::vector<uint8_t>(6, 9));
    script.Then(TypeAndClick({{"NumBandEdit", "2"}}, "BitBtn1"));
    script.Then(ChooseFile(Path(raw), 3), "OPEN BAND 1");
    script.Then(guitest::Cancel(), "OPEN BAND 1");
    script.Then(guitest::Cancel(), "OPEN BAND 2");
    Trigger("OpenSpeedButton");
    ASSERT_EQ(1u, script.messages.size());
    const std::string text = script.messages[0].text.toStdString();
    EXPECT_EQ(0u, text.find("The raster\n" + raw + "\nband 1 cannot be loaded")) << text;
    const std::string hint =
        "\nThe file type list of the dialog decides how a file is read: it says GeoTIFF. Choose "
        "Raw Files [*.raw] there to read a raw image.";
    ASSERT_GE(text.size(), hint.size());
    EXPECT_EQ(hint, text.substr(text.size() - hint.size())) << text;
}

// The file dialogs start in the folder of the band last opened, also when no band is raw.
TEST_F(RasterDialog, FileDialogsFollowTheFolderOfTheLastBand) {
    const std::string second = dir.File("second.tif");
    ASSERT_TRUE(
        testing_support::WriteGeoTiff(second, 2, 3, RasterType::Byte, {{1, 1, 2, 2, 1, 2}}));
    const QString folder = QDir(Path(dir.path())).canonicalPath();
    QStringList started;
    const auto noteFolder = [&started](Answer then) -> Answer {
        return [&started, then](QDialog& dialog) {
            started << QDir(static_cast<QFileDialog&>(dialog).directory()).canonicalPath();
            return then(dialog);
        };
    };
    script.Then(TypeAndClick({{"NumBandEdit", "2"}}, "BitBtn1"));
    script.Then(ChooseFile(Path(one), 3), "OPEN BAND 1");
    script.Then(TypeAndClick({}, "BitBtn1"), " RASTER BAND");
    script.Then(ChooseFile(Path(second), 3), "OPEN BAND 2");
    script.Then(TypeAndClick({}, "BitBtn1"), " RASTER BAND");
    Trigger("OpenSpeedButton");
    ASSERT_TRUE(form->ws.Band(2).Loaded());

    script.Then(guitest::Segment("RadioButton1", "2"));
    script.Then(guitest::Segment(nullptr, "2"));
    Trigger("SegmentationSpeedButton");
    script.Then(noteFolder(guitest::Cancel()), "SAVE SEGMENTED IMAGE");
    Trigger("SaveSegmentedImageSpeedButton");
    script.Then([](QDialog& dialog) {
        dialog.findChild<QRadioButton*>("RadioButton3")->click();
        dialog.findChild<QAbstractButton*>("BitBtn1")->click();
        return dialog.result();
    });
    Trigger("TreatmentSpeedButton");
    script.Then(noteFolder(guitest::Cancel()));
    Trigger("SaveResultSpeedButton");
    script.Then(noteFolder(guitest::Cancel()), "OPEN MULTI-BAND IMAGE");
    Trigger("OpenMultiband");
    EXPECT_EQ((QStringList{folder, folder, folder}), started);
    EXPECT_EQ(std::vector<Message>{}, script.messages);
}

// ----- the dialog itself, through its real modal loop -----

class RasterDialogFocus : public guitest::ProgramTest {
  protected:
    // The field that has the focus when the dialog shows after Answer() refused `typed`.
    std::string FocusAfter(std::vector<std::pair<const char*, const char*>> typed) {
        TRasterChoiceForm& dialog = *form->RasterChoice;
        tessera::BandLoadOptions::RasterQuestion proposed;
        proposed.dataType = "UInt16";
        proposed.stretched = true;
        proposed.bandsInFile = 3;
        dialog.ShowProposal("BAND 1 ← band 1 of a.tif", proposed);
        for (const auto& [name, text] : typed) dialog.findChild<QLineEdit*>(name)->setText(text);
        EXPECT_FALSE(dialog.Answer());
        std::string focused = "none";
        dialogtest::RunRealExec(
            dialog, [&] { dialog.exec(); },
            [&](QDialog& d) {
                if (QWidget* widget = d.focusWidget()) focused = widget->objectName().toStdString();
                d.reject();
            });
        return focused;
    }
};

TEST_F(RasterDialogFocus, ARefusedEntryTakesTheFocusBackToItsField) {
    EXPECT_EQ("BandEdit", FocusAfter({{"BandEdit", "0"}}));
    EXPECT_EQ("NodataEdit", FocusAfter({{"NodataEdit", "x"}}));
    EXPECT_EQ("MinEdit", FocusAfter({{"MinEdit", "low"}, {"MaxEdit", "9"}}));
    EXPECT_EQ("MaxEdit", FocusAfter({{"MinEdit", "1"}, {"MaxEdit", "high"}}));
    EXPECT_EQ("MaxEdit", FocusAfter({{"MinEdit", "1"}, {"MaxEdit", ""}}));
    EXPECT_EQ("MinEdit", FocusAfter({{"MinEdit", "9"}, {"MaxEdit", "1"}}));
    // A new band's question starts again at the nodata value.
    TRasterChoiceForm& dialog = *form->RasterChoice;
    dialog.ShowProposal("BAND 2 ← band 1 of b.tif", {});
    std::string focused;
    dialogtest::RunRealExec(
        dialog, [&] { dialog.exec(); },
        [&](QDialog& d) {
            focused = d.focusWidget() ? d.focusWidget()->objectName().toStdString() : "none";
            d.reject();
        });
    EXPECT_EQ("NodataEdit", focused);
}

}  // namespace
