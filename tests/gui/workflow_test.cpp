// The main workflow end to end through the real dialogs: open a band set, segment it, cross
// it, save every result; then the same through the real modal event loops.
#include <QAbstractButton>
#include <QApplication>
#include <QDialogButtonBox>
#include <QFileDialog>
#include <QLineEdit>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QRadioButton>
#include <QStandardPaths>
#include <QTimer>
#include <deque>
#include <limits>
#include <memory>

#include "app/forms.h"
#include "app/mainwindow.h"
#include "bands/bandfiles.h"
#include "gui/guitest.h"
#include "rasterfiles.h"
#include "testfiles.h"
#include "view/ui/imagewindow.h"
#include "view/ui/resultimage.h"
#include "view/ui/tempimage.h"

namespace {
using guitest::Answer;
using guitest::ChooseFile;
using guitest::Message;
using guitest::TypeAndClick;
using testing_support::FileExists;
using testing_support::ReadBytes;
using testing_support::ReadText;
using testing_support::ScratchDir;
using testing_support::WriteBytes;
using testing_support::WriteText;

// Chooses a thresholding type (radio button name, or none) and a count, then OK.
Answer Segment(const char* radio, const char* count) {
    return [radio, count](QDialog& dialog) {
        if (radio) dialog.findChild<QRadioButton*>(radio)->click();
        dialog.findChild<QLineEdit*>("SegmentNumberEdit")->setText(count);
        dialog.findChild<QAbstractButton*>("BitBtn1")->click();
        return dialog.result();
    };
}

// Two bands of 2 x 3 pixels whose segments and codes are worked out by hand (two equal-width
// segments each): segment numbers 1 1 1 / 2 2 2 and 1 1 2 / 2 1 2, codes 1 1 2 / 4 3 4.
class Workflow : public guitest::ProgramTest {
  protected:
    void SetUp() override {
        ProgramTest::SetUp();
        band1 = dir.File("band1.raw");
        band2 = dir.File("band2.raw");
        WriteBytes(band1, {0, 10, 20, 30, 40, 50});
        WriteText(dir.File("band1.txt"), "2\n3\n");
        WriteBytes(band2, {5, 5, 100, 100, 5, 100});  // no descriptor: the size dialog asks
    }
    void OpenBands() {
        script.Then(TypeAndClick({{"NumBandEdit", "2"}}, "BitBtn1"), " BANDS");
        script.Then(ChooseFile(QString::fromStdString(band1), 1), "OPEN BAND 1");
        script.Then(ChooseFile(QString::fromStdString(band2), 1), "OPEN BAND 2");
        script.Then(TypeAndClick({{"NumLineEdit", "2"}, {"NumColEdit", "3"}}, "BitBtn1"),
                    " Image Size");
        Trigger("OpenSpeedButton");
    }
    ScratchDir dir;
    std::string band1, band2;
};

TEST_F(Workflow, OpenSegmentCrossAndSave) {
    EXPECT_FALSE(Enabled("SegmentationSpeedButton"));
    OpenBands();
    EXPECT_TRUE(script.messages.empty());
    EXPECT_EQ("2\n3\n", ReadText(dir.File("band2.txt")));  // the size typed, kept for next time
    EXPECT_EQ(" BAND 2. " + band2, ImageForm->windowTitle().toStdString());
    EXPECT_TRUE(ImageForm->HasPicture());
    EXPECT_EQ(2, form->ws.CurrentBand());
    EXPECT_TRUE(Enabled("SegmentationSpeedButton"));
    EXPECT_TRUE(Enabled("Histo"));
    EXPECT_FALSE(Enabled("TreatmentSpeedButton"));

    // The first run asks for a type; the second band reuses it after OK.
    script.Then(Segment("RadioButton1", "2"));
    script.Then(Segment(nullptr, "2"));
    Trigger("SegmentationSpeedButton");
    EXPECT_TRUE(script.messages.empty());
    EXPECT_TRUE(TempImageForm->HasPicture());
    // Named as the band it shows, the last one.
    EXPECT_EQ(" BAND 2. " + dir.File("band2.raw"), TempImageForm->windowTitle().toStdString());
    EXPECT_TRUE(Enabled("TreatmentSpeedButton"));
    EXPECT_FALSE(Enabled("SaveResultSpeedButton"));
    // The code list goes to the program's data folder, never beside the bands.
    EXPECT_EQ("1\t1\t1\t\n2\t1\t2\t\n3\t2\t1\t\n4\t2\t2\t\n11\t12\t21\t22\t",
              ReadText(form->ws.CodeListFolder() + "/multi_tab.txt"));
    EXPECT_EQ(QStandardPaths::writableLocation(QStandardPaths::AppLocalDataLocation).toStdString(),
              form->ws.CodeListFolder());
    EXPECT_FALSE(testing_support::FileExists(dir.File("multi_tab.txt")));

    // Eliminate the codes of one pixel: codes 1 and 4 become classes 1 and 2.
    script.Then(
        [](QDialog& dialog) {
            EXPECT_EQ("4", dialog.findChild<QLineEdit*>("CodeNumberEdit")->text().toStdString());
            dialog.findChild<QRadioButton*>("RadioButton2")->click();
            dialog.findChild<QLineEdit*>("MinPixelEdit")->setText("1");
            dialog.findChild<QAbstractButton*>("BitBtn1")->click();
            return dialog.result();
        },
        " Code Number Definition");
    Trigger("TreatmentSpeedButton");
    EXPECT_TRUE(script.messages.empty());
    EXPECT_TRUE(ResultImageForm->HasPicture());
    EXPECT_EQ(" PANEL 3  (1:1)", ResultImageForm->windowTitle().toStdString());
    ASSERT_TRUE(Enabled("SaveResultSpeedButton"));

    script.Then(ChooseFile(QString::fromStdString(dir.File("result"))),
                "Saving Final Resulting Colored BMP File and Related Raw Image");
    Trigger("SaveResultSpeedButton");
    EXPECT_TRUE(script.messages.empty());
    EXPECT_EQ((std::vector<uint8_t>{1, 1, 255, 2, 255, 2}), ReadBytes(dir.File("result.raw")));
    EXPECT_EQ(1078u + 8, ReadBytes(dir.File("result.bmp")).size());
    const std::string report = ReadText(dir.File("result.txt"));
    EXPECT_EQ(
        0u, report.rfind("2\n3\n1\n0\n255\n\nNumber of Bands = 2\n\nBand 1 = " + band1 + " \n", 0))
        << report;
    EXPECT_NE(std::string::npos,
              report.find("\n\n\tCodes\tNumber of pixels\n\n\t1\t1\t1\t\t2\n\t2\t2\t2\t\t2\n"))
        << report;

    // The segmented band shown is the last; a name ending in .bmp keeps it and gains another.
    script.Then(ChooseFile(QString::fromStdString(dir.File("seg.bmp"))), "SAVE SEGMENTED IMAGE");
    Trigger("SaveSegmentedImageSpeedButton");
    EXPECT_EQ((std::vector<uint8_t>{1, 1, 2, 2, 1, 2}), ReadBytes(dir.File("seg.bmp.raw")));
    EXPECT_EQ("2\n3\n1\n0\n255\n", ReadText(dir.File("seg.bmp.txt")));
    EXPECT_TRUE(FileExists(dir.File("seg.bmp.bmp")));
    EXPECT_TRUE(script.messages.empty());
}

TEST_F(Workflow, SteppingThroughSegmentedBands) {
    OpenBands();
    script.Then(Segment("RadioButton2", "2"));
    script.Then(Segment(nullptr, "3"));
    Trigger("SegmentationSpeedButton");
    ASSERT_TRUE(script.messages.empty());

    Trigger("NextSegmentedSpeedButton");
    Trigger("PreviousSegmentedSpeedButton");
    EXPECT_EQ(" BAND 1. " + band1, TempImageForm->windowTitle().toStdString());
    Trigger("PreviousSegmentedSpeedButton");
    Trigger("NextSegmentedSpeedButton");
    EXPECT_EQ(" BAND 2. " + band2, TempImageForm->windowTitle().toStdString());
    EXPECT_EQ((std::vector<Message>{
                  {"This image corresponds to the last one\nUse Left Speed Button to go down "
                   "inside the file",
                   "INFO"},
                  {"This image corresponds to the first one\nUse Rigth Speed Button to go up "
                   "inside the file",
                   "INFO"}}),
              script.messages);
}

TEST_F(Workflow, SegmentCountOutsideTheRangeBringsTheSameDialogAgain) {
    OpenBands();
    const size_t dialogsBefore = script.dialogTitles.size();
    script.Then(Segment("RadioButton1", "0"));
    script.Then(Segment(nullptr, "255"));
    script.Then(Segment(nullptr, "2"));
    script.Then(Segment(nullptr, "2"));
    Trigger("SegmentationSpeedButton");
    ASSERT_EQ(2u, script.messages.size());
    EXPECT_EQ("CAUTION", script.messages[0].caption.toStdString());
    EXPECT_NE(-1, script.messages[0].text.indexOf("254")) << script.messages[0].text.toStdString();
    EXPECT_EQ(script.messages[0], script.messages[1]);
    // Band 1 was asked three times, band 2 once.
    EXPECT_EQ(4u, script.dialogTitles.size() - dialogsBefore);
    ASSERT_TRUE(form->ws.segmentation.has_value());
    EXPECT_EQ(4, form->ws.segmentation->table.CodeCount);
}

TEST_F(Workflow, ARefusedTypedSizeIsNotKeptAndTheSizeDialogComesAgain) {
    script.Then(TypeAndClick({{"NumBandEdit", "2"}}, "BitBtn1"));
    script.Then(ChooseFile(QString::fromStdString(band1), 1));
    script.Then(ChooseFile(QString::fromStdString(band2), 1), "OPEN BAND 2");
    script.Then(TypeAndClick({{"NumLineEdit", "3"}, {"NumColEdit", "2"}}, "BitBtn1"));
    // The same file again: no descriptor was kept, so the size is asked again, and the dialog
    // shows the band set's size, which confirming it takes.
    script.Then(ChooseFile(QString::fromStdString(band2), 1), "OPEN BAND 2");
    std::string shownLines, shownColumns;
    script.Then(
        [&](QDialog& dialog) {
            shownLines = dialog.findChild<QLineEdit*>("NumLineEdit")->text().toStdString();
            shownColumns = dialog.findChild<QLineEdit*>("NumColEdit")->text().toStdString();
            return guitest::Click({"BitBtn1"})(dialog);
        },
        " Image Size");
    Trigger("OpenSpeedButton");
    ASSERT_EQ(1u, script.messages.size());
    EXPECT_EQ((Message{QString::fromStdString(tessera::SizeMismatchMessage(band2, {3, 2}, {2, 3})),
                       "CAUTION"}),
              script.messages[0]);
    EXPECT_EQ("2", shownLines);
    EXPECT_EQ("3", shownColumns);
    EXPECT_TRUE(form->ws.Band(2).Loaded());
    EXPECT_EQ("2\n3\n", ReadText(dir.File("band2.txt")));
    EXPECT_EQ(2, form->ws.Lines());
    EXPECT_EQ(3, form->ws.Columns());
}

TEST_F(Workflow, ARawFileReadAsABitmapIsRefusedWithAHintAtTheTypeList) {
    script.Then(TypeAndClick({{"NumBandEdit", "2"}}, "BitBtn1"));
    script.Then(ChooseFile(QString::fromStdString(band1), 2), "OPEN BAND 1");
    script.Then(guitest::Cancel(), "OPEN BAND 1");
    script.Then(guitest::Cancel(), "OPEN BAND 2");
    Trigger("OpenSpeedButton");
    ASSERT_EQ(1u, script.messages.size());
    EXPECT_EQ("The bitmap\n" + band1 +
                  "\ncannot be read: it is not a bitmap file.\nThe file type list of the dialog "
                  "decides how a file is read: it says Bitmaps. Choose Raw Files [*.raw] there "
                  "to read a raw image.",
              script.messages[0].text.toStdString());

    // Without a band set, the current band's commands say so rather than name a band 0.
    script.Then(TypeAndClick({{"NumBandEdit", "0"}}, "BitBtn1"));
    Trigger("OpenSpeedButton");
    script.messages.clear();
    Trigger("GTNumber");
    Trigger("HistoSpeedButton");
    const Message none{" No band set is open \nOpen a set of 2 to 10 bands first ", "ERROR"};
    EXPECT_EQ((std::vector<Message>{none, none}), script.messages);
}

// GeoTIFF and the other rasters come through the type list's third and fourth entries; a
// 16-bit band is stretched between its minimum and maximum.
TEST_F(Workflow, RastersAreOpenedThroughTheLastTwoTypes) {
    const std::string eight = dir.File("eight.tif"), sixteen = dir.File("sixteen.data");
    ASSERT_TRUE(testing_support::WriteGeoTiff(eight, 2, 3, testing_support::RasterType::Byte,
                                              {{0, 10, 20, 30, 40, 50}}));
    ASSERT_TRUE(testing_support::WriteGeoTiff(sixteen, 2, 3, testing_support::RasterType::UInt16,
                                              {{1000, 1100, 1200, 1300, 1400, 2020}}));
    // Each raster band's dialog: an 8-bit band has no stretch to give; a stretch of MIN not
    // below MAX is refused and the dialog comes again.
    bool stretchOffered = true;
    const auto noteStretch = [&](QDialog& dialog) {
        stretchOffered = dialog.findChild<QLineEdit*>("MinEdit")->isEnabled();
        return TypeAndClick({{"NodataEdit", "0"}}, "BitBtn1")(dialog);
    };
    script.Then(TypeAndClick({{"NumBandEdit", "2"}}, "BitBtn1"));
    script.Then(ChooseFile(QString::fromStdString(eight), 3), "OPEN BAND 1");
    script.Then(noteStretch, " RASTER BAND");
    script.Then(ChooseFile(QString::fromStdString(sixteen), 4), "OPEN BAND 2");
    script.Then(TypeAndClick({{"MinEdit", "2000"}, {"MaxEdit", "1000"}}, "BitBtn1"),
                " RASTER BAND");
    script.Then(TypeAndClick({{"MinEdit", ""}, {"MaxEdit", ""}}, "BitBtn1"), " RASTER BAND");
    Trigger("OpenSpeedButton");
    EXPECT_FALSE(stretchOffered);
    EXPECT_EQ((std::vector<Message>{{" MIN must be lower than MAX ", "CAUTION"}}), script.messages);
    ASSERT_TRUE(form->ws.Band(2).Loaded());
    // The nodata pixel (0) is left out of band 1's range.
    EXPECT_EQ(10, form->ws.Band(1).minGray);
    EXPECT_EQ(50, form->ws.Band(1).maxGray);
    EXPECT_EQ(1, form->ws.Record(1).nodataPixels);
    EXPECT_EQ(0, form->ws.Band(2).minGray);
    EXPECT_EQ(255, form->ws.Band(2).maxGray);
    EXPECT_EQ(25, form->ws.Band(2).pixels[0][1]);  // 100 x 255 / 1020, rounded
}

// The raster dialog takes back every nodata value it offers (-inf declared by the file), and a
// value typed for a Float32 band is the float the band holds.
TEST_F(Workflow, TheRasterDialogTakesInfiniteAndFloatNodataValues) {
    const std::string declared = dir.File("declared.tif"), typed = dir.File("typed.tif");
    testing_support::RasterExtras minusInfinity;
    minusInfinity.nodata = -std::numeric_limits<double>::infinity();
    const double inf = std::numeric_limits<double>::infinity();
    ASSERT_TRUE(testing_support::WriteGeoTiff(declared, 2, 3, testing_support::RasterType::Float32,
                                              {{-inf, 1, 2, 3, 4, 5}}, minusInfinity));
    ASSERT_TRUE(testing_support::WriteGeoTiff(typed, 2, 3, testing_support::RasterType::Float32,
                                              {{-9999.9, 10, 20, -9999.9, 30, 40}}));
    QString offered;
    const auto keepOffered = [&](QDialog& dialog) {
        offered = dialog.findChild<QLineEdit*>("NodataEdit")->text();
        return TypeAndClick({}, "BitBtn1")(dialog);
    };
    script.Then(TypeAndClick({{"NumBandEdit", "2"}}, "BitBtn1"));
    script.Then(ChooseFile(QString::fromStdString(declared), 3), "OPEN BAND 1");
    script.Then(keepOffered, " RASTER BAND");
    script.Then(ChooseFile(QString::fromStdString(typed), 3), "OPEN BAND 2");
    script.Then(TypeAndClick({{"NodataEdit", "-9999.9"}}, "BitBtn1"), " RASTER BAND");
    Trigger("OpenSpeedButton");
    EXPECT_EQ("-inf", offered);
    EXPECT_TRUE(script.messages.empty());
    ASSERT_TRUE(form->ws.Band(2).Loaded());
    EXPECT_EQ(1, form->ws.Record(1).nodataPixels);
    EXPECT_EQ(2, form->ws.Record(2).nodataPixels);
    EXPECT_EQ(10, form->ws.Record(2).stretch->range.minimum);
}

// A file of several bands opened as the band set; of more than 10, the bands chosen.
TEST_F(Workflow, AMultiBandFileOpensAsTheBandSet) {
    const std::string three = dir.File("three.tif"), twelve = dir.File("twelve.tif");
    ASSERT_TRUE(testing_support::WriteGeoTiff(
        three, 2, 3, testing_support::RasterType::Byte,
        {{1, 1, 1, 1, 1, 1}, {2, 2, 2, 2, 2, 9}, {3, 4, 5, 6, 7, 8}}));
    std::vector<std::vector<double>> bands;
    for (int band = 1; band <= 12; ++band) bands.push_back(std::vector<double>(6, band * 10));
    ASSERT_TRUE(
        testing_support::WriteGeoTiff(twelve, 2, 3, testing_support::RasterType::Byte, bands));
    EXPECT_TRUE(Enabled("OpenMultiband"));
    // One raster dialog for the whole file.
    script.Then(ChooseFile(QString::fromStdString(three)), "OPEN MULTI-BAND IMAGE");
    script.Then(guitest::Accept(), " RASTER BAND");
    Trigger("OpenMultiband");
    EXPECT_EQ(std::vector<Message>{}, script.messages);
    EXPECT_EQ(3, form->ws.BandCount());
    EXPECT_EQ(9, form->ws.Band(2).maxGray);
    EXPECT_EQ(3, form->ws.Band(3).minGray);
    EXPECT_EQ(" BAND 3. " + three + " (raster band 3)", ImageForm->windowTitle().toStdString());
    EXPECT_TRUE(Enabled("SegmentationSpeedButton"));

    script.Then(ChooseFile(QString::fromStdString(twelve)), "OPEN MULTI-BAND IMAGE");
    script.Then(TypeAndClick({{"BandListEdit", "4"}}, "BitBtn1"), " BANDS");
    script.Then(TypeAndClick({{"BandListEdit", "12, 2-3"}}, "BitBtn1"), " BANDS");
    script.Then(guitest::Accept(), " RASTER BAND");
    Trigger("OpenMultiband");
    ASSERT_EQ(1u, script.messages.size());
    EXPECT_EQ("CAUTION", script.messages[0].caption.toStdString());
    EXPECT_EQ(3, form->ws.BandCount());
    EXPECT_EQ(120, form->ws.Band(1).minGray);
    EXPECT_EQ(20, form->ws.Band(2).minGray);
    EXPECT_EQ(30, form->ws.Band(3).minGray);
    // Each band's caption names the band of the file it shows.
    EXPECT_EQ(" BAND 1. " + twelve + " (raster band 12)", ImageForm->BandTitles[1].toStdString());
}

TEST_F(Workflow, RefusedCountAndMissingBandsAreReportedNotRead) {
    script.Then(TypeAndClick({{"NumBandEdit", "1"}}, "BitBtn1"));
    Trigger("Open");
    ASSERT_EQ(1u, script.messages.size());
    EXPECT_EQ((Message{" Insufficient Number of Bands ", "ERROR"}), script.messages[0]);
    EXPECT_TRUE(Enabled("SegmentationSpeedButton"));  // enabled all the same

    // Three bands asked, the second cancelled: the treatment refuses to start.
    script.messages.clear();
    script.Then(TypeAndClick({{"NumBandEdit", "3"}}, "BitBtn1"));
    script.Then(ChooseFile(QString::fromStdString(band1), 1));
    script.Then(guitest::Cancel(), "OPEN BAND 2");
    script.Then(ChooseFile(QString::fromStdString(band1), 1), "OPEN BAND 3");
    Trigger("OpenSpeedButton");
    EXPECT_TRUE(script.messages.empty());
    Trigger("SegmentationSpeedButton");
    ASSERT_EQ(1u, script.messages.size());
    EXPECT_EQ("ERROR", script.messages[0].caption.toStdString());
    EXPECT_NE(-1, script.messages[0].text.indexOf("2")) << script.messages[0].text.toStdString();
}

TEST_F(Workflow, RgbBitmapIsRefusedAndTheSameDialogComesAgain) {
    // A 24-bit bitmap of 2 x 2 pixels.
    const uint8_t header[] = {'B', 'M', 70, 0,  0, 0, 0,  0,  0, 0, 54, 0, 0, 0, 40, 0, 0,  0,
                              2,   0,   0,  0,  2, 0, 0,  0,  1, 0, 24, 0, 0, 0, 0,  0, 16, 0,
                              0,   0,   16, 39, 0, 0, 16, 39, 0, 0, 0,  0, 0, 0, 0,  0, 0,  0};
    std::vector<uint8_t> bitmap(70, 7);  // the pixels follow the header
    std::copy(std::begin(header), std::end(header), bitmap.begin());
    WriteBytes(dir.File("colour.bmp"), bitmap);
    script.Then(TypeAndClick({{"NumBandEdit", "2"}}, "BitBtn1"));
    script.Then(ChooseFile(QString::fromStdString(dir.File("colour.bmp")), 2), "OPEN BAND 1");
    script.Then(guitest::Cancel(), "OPEN BAND 1");
    script.Then(guitest::Cancel(), "OPEN BAND 2");
    Trigger("OpenSpeedButton");
    EXPECT_EQ(
        (std::vector<Message>{{"This program does not take into account RGB Bitmap", "CAUTION"}}),
        script.messages);
    EXPECT_FALSE(form->ws.Band(1).Loaded());
}

// The same workflow through the dialogs' own modal loops: each modal dialog is answered by a
// timer once it is the active modal widget.
class RealDialogs : public Workflow {
  protected:
    void SetUp() override {
        Workflow::SetUp();
        form->seam.runModal = [](QDialog& dialog) { return dialog.exec(); };
    }
    // Schedules answers for the modal dialogs to come, in order.
    void AnswerModals(std::vector<std::function<void(QWidget*)>> answers) {
        auto pending = std::make_shared<std::deque<std::function<void(QWidget*)>>>(answers.begin(),
                                                                                   answers.end());
        auto poll = std::make_shared<std::function<void()>>();
        *poll = [this, pending, poll]() {
            QWidget* modal = QApplication::activeModalWidget();
            if (modal && modal != lastModal_ && modal->isVisible()) {
                auto answer = std::move(pending->front());
                pending->pop_front();
                answer(modal);
                // A dialog the answer closed may be shown again (one dialog per band).
                lastModal_ = modal->isVisible() ? modal : nullptr;
            } else if (modal == nullptr) {
                lastModal_ = nullptr;
            }
            if (!pending->empty())
                QTimer::singleShot(10, *poll);
            else
                answered_ = true;
        };
        answered_ = false;
        QTimer::singleShot(0, *poll);
    }
    static void Type(QWidget* dialog, const char* edit, const QString& text) {
        dialog->findChild<QLineEdit*>(edit)->setText(text);
    }
    // Types the path into the file dialog's name field and presses its Open button, as a user
    // would.
    static void TypeFileName(QWidget* dialog, const QString& path) {
        auto* name = dialog->findChild<QLineEdit*>("fileNameEdit");
        ASSERT_NE(name, nullptr);
        name->setText(path);
        auto* buttons = dialog->findChild<QDialogButtonBox*>("buttonBox");
        ASSERT_NE(buttons, nullptr);
        QPushButton* open = buttons->button(QDialogButtonBox::Open);
        ASSERT_NE(open, nullptr);
        open->click();
    }
    static void Press(QWidget* dialog, const char* button) {
        dialog->findChild<QAbstractButton*>(button)->click();
    }
    QWidget* lastModal_ = nullptr;
    bool answered_ = false;
};

TEST_F(RealDialogs, OpenAndSegmentThroughExec) {
    const QString first = QString::fromStdString(band1);
    const QString second = QString::fromStdString(band2);
    AnswerModals({
        [](QWidget* d) {
            Type(d, "NumBandEdit", "2");
            Press(d, "BitBtn1");
        },
        [first](QWidget* d) { TypeFileName(d, first); },
        [second](QWidget* d) { TypeFileName(d, second); },
        [](QWidget* d) {
            Type(d, "NumLineEdit", "2");
            Type(d, "NumColEdit", "3");
            Press(d, "BitBtn1");
        },
    });
    Trigger("OpenSpeedButton");
    ASSERT_TRUE(guitest::WaitUntil([this] { return answered_; }));
    EXPECT_TRUE(form->ws.Band(1).Loaded());
    EXPECT_TRUE(form->ws.Band(2).Loaded());

    AnswerModals({
        [](QWidget* d) {
            Press(d, "RadioButton1");
            Type(d, "SegmentNumberEdit", "2");
            Press(d, "BitBtn1");
        },
        [](QWidget* d) {
            Type(d, "SegmentNumberEdit", "2");
            Press(d, "BitBtn1");
        },
    });
    Trigger("SegmentationSpeedButton");
    ASSERT_TRUE(guitest::WaitUntil([this] { return answered_; }));
    ASSERT_TRUE(form->ws.segmentation.has_value());
    EXPECT_EQ(4, form->ws.segmentation->table.CodeCount);
    EXPECT_TRUE(script.messages.empty());
    EXPECT_EQ(" BAND 2. " + band2, TempImageForm->windowTitle().toStdString());
}

}  // namespace
