// What the windows name and show after one command follows another: the segmented window
// names the bands of the set it shows (after a segmentation, after a new set, when saved), the
// code table is the one of the crossing asked, a cancelled load leaves no band shown that is
// not loaded, and a raw file that is not there is refused before any dialog.
#include <QAbstractButton>
#include <QDialog>
#include <QDir>
#include <QFileDialog>
#include <QFileInfo>
#include <QLineEdit>
#include <cstring>
#include <string>
#include <vector>

#include "app/forms.h"
#include "app/mainwindow.h"
#include "crossing/ui/checknumcode1.h"
#include "crossing/ui/codetablememo.h"
#include "gui/guitest.h"
#include "testfiles.h"
#include "view/ui/imagewindow.h"
#include "view/ui/tempimage.h"

namespace {
using guitest::Answer;
using guitest::ChooseFile;
using guitest::Message;
using guitest::Segment;
using guitest::TypeAndClick;
using testing_support::FileExists;
using testing_support::ReadBytes;
using testing_support::ReadText;
using testing_support::ScratchDir;
using testing_support::WriteBytes;
using testing_support::WriteText;

// Bands of 2 x 3 pixels in two folders: first/a, first/b, first/c and second/d, second/e.
class Windows : public guitest::ProgramTest {
  protected:
    void SetUp() override {
        ProgramTest::SetUp();
        ASSERT_TRUE(QDir().mkpath(QString::fromStdString(dir.File("first"))));
        ASSERT_TRUE(QDir().mkpath(QString::fromStdString(dir.File("second"))));
        Band("first/a", {0, 10, 20, 30, 40, 50});
        Band("first/b", {50, 40, 30, 20, 10, 0});
        Band("first/c", {5, 5, 100, 100, 5, 100});
        Band("second/d", {0, 0, 0, 90, 90, 90});
        Band("second/e", {7, 60, 7, 60, 7, 60});
    }
    void Band(const std::string& name, std::vector<uint8_t> pixels) {
        WriteBytes(dir.File(name + ".raw"), pixels);
        WriteText(dir.File(name + ".txt"), "2\n3\n");
    }
    std::string Path(const std::string& name) const { return dir.File(name + ".raw"); }
    std::string Title(int band, const std::string& name) const {
        return " BAND " + std::to_string(band) + ". " + Path(name);
    }
    void Open(const std::vector<std::string>& names) {
        script.Then(TypeAndClick({{"NumBandEdit", QString::number(names.size())}}, "BitBtn1"));
        for (const std::string& name : names)
            script.Then(ChooseFile(QString::fromStdString(Path(name))));
        Trigger("OpenSpeedButton");
    }
    void SegmentAll(int bands, const char* count) {
        for (int band = 1; band <= bands; ++band) script.Then(Segment("RadioButton1", count));
        Trigger("SegmentationSpeedButton");
    }
    static std::string Caption(const QWidget* window) {
        return window->windowTitle().toStdString();
    }
    ScratchDir dir;
};

TEST_F(Windows, TheSegmentedWindowNamesTheBandsOfTheSetItShows) {
    Open({"first/a", "first/b"});
    SegmentAll(2, "2");
    // Right after the run: the last band, named.
    EXPECT_EQ(Title(2, "first/b"), Caption(TempImageForm));
    Trigger("PreviousSegmentedSpeedButton");
    EXPECT_EQ(Title(1, "first/a"), Caption(TempImageForm));

    // A new set of another folder: the segmented window still shows the first set's bands and
    // names them so, while stepping and zoomed.
    Open({"second/d", "second/e"});
    EXPECT_EQ(Title(2, "second/e"), Caption(ImageForm));
    EXPECT_EQ(Title(1, "first/a"), Caption(TempImageForm));
    Trigger("NextSegmentedSpeedButton");
    EXPECT_EQ(Title(2, "first/b"), Caption(TempImageForm));
    Trigger("ZoomSpeedButton");
    TempImageForm->Zoom(Qt::LeftButton, QPoint(1, 1));
    EXPECT_EQ(Title(2, "first/b") + " Segmented (2:1) ", Caption(TempImageForm));
    Trigger("ZoomSpeedButton");

    // Saved: proposed in the first set's folder under band 2's name.
    const std::vector<uint8_t> shown(form->ws.ShownSegmentMatrix.Data(),
                                     form->ws.ShownSegmentMatrix.Data() + 6);
    QString folder, proposed;
    script.Then(
        [&](QDialog& dialog) {
            auto* files = qobject_cast<QFileDialog*>(&dialog);
            folder = files->directory().absolutePath();
            proposed = files->findChild<QLineEdit*>("fileNameEdit")->text();
            static_cast<QDialog*>(files)->accept();  // the name as proposed
            return static_cast<int>(QDialog::Accepted);
        },
        "SAVE SEGMENTED IMAGE");
    Trigger("SaveSegmentedImageSpeedButton");
    EXPECT_EQ(std::vector<Message>{}, script.messages);
    EXPECT_EQ(QFileInfo(QString::fromStdString(dir.File("first"))).absoluteFilePath(), folder);
    EXPECT_EQ("b_segmented", proposed.toStdString());
    EXPECT_EQ(shown, ReadBytes(dir.File("first/b_segmented.raw")));
    EXPECT_EQ((std::vector<uint8_t>{2, 2, 2, 1, 1, 1}), shown);  // band b's segments, not e's
    EXPECT_EQ("2\n3\n1\n0\n255\n", ReadText(dir.File("first/b_segmented.txt")));
    EXPECT_TRUE(FileExists(dir.File("first/b_segmented.bmp")));
    EXPECT_FALSE(FileExists(dir.File("second/e_segmented.raw")));

    // The new set segmented: its own names (at the window's zoom).
    SegmentAll(2, "2");
    EXPECT_EQ(Title(2, "second/e") + " Segmented (2:1) ", Caption(TempImageForm));
    Trigger("PreviousSegmentedSpeedButton");
    EXPECT_EQ(Title(1, "second/d") + " Segmented (2:1) ", Caption(TempImageForm));
}

// The segmented window reads out its own segmentation's pixels, size and values, whatever the
// size of a set opened since.
TEST_F(Windows, TheSegmentedWindowReadsOutTheSetItShows) {
    Open({"first/a", "first/b"});
    SegmentAll(2, "2");
    Band("second/small1", {1, 2});
    Band("second/small2", {3, 4});
    WriteText(dir.File("second/small1.txt"), "1\n2\n");
    WriteText(dir.File("second/small2.txt"), "1\n2\n");
    Open({"second/small1", "second/small2"});
    ASSERT_EQ(1, form->ws.Lines());
    TempImageForm->PointerMoved(QPoint(2, 1));  // line 1, column 2: beyond the small set
    EXPECT_EQ("Line:     1  Column:     2 ", form->PanelText(0).toStdString());
    EXPECT_EQ("Gray Tone :    1 ", form->PanelText(2).toStdString());  // b's 0: segment 1
    EXPECT_EQ("Image Size: 2 lines x 3 columns  ", form->PanelText(3).toStdString());
}

TEST_F(Windows, TheCodeTableIsTheOneOfTheCrossingAsked) {
    auto* memo = CheckNumCodeForm1->findChild<TCodeTableMemo*>("Memo");
    ASSERT_NE(nullptr, memo);
    // Three bands of three segments: 27 codes, the table shown and kept up.
    Open({"first/a", "first/b", "first/c"});
    SegmentAll(3, "3");
    int64_t linesSeen = 0;
    script.Then([&](QDialog& dialog) {
        dialog.findChild<QAbstractButton*>("RadioButton4")->click();  // Display Table
        linesSeen = memo->LineCount();
        dialog.findChild<QAbstractButton*>("BitBtn1")->click();
        return dialog.result();
    });
    Trigger("TreatmentSpeedButton");
    EXPECT_EQ(1 + 2 + 27, linesSeen);  // the memo's first empty line, header, blank, codes

    // Two bands of three segments: 9 codes. With Display Table still checked, the memo holds
    // this crossing's table at once, and only it.
    Open({"second/d", "second/e"});
    SegmentAll(2, "3");
    std::vector<std::string> lines;
    script.Then([&](QDialog& dialog) {
        for (int64_t line = 0; line < memo->LineCount(); ++line)
            lines.push_back(memo->Line(line).toStdString());
        dialog.findChild<QAbstractButton*>("RadioButton3")->click();
        dialog.findChild<QAbstractButton*>("BitBtn1")->click();
        return dialog.result();
    });
    Trigger("TreatmentSpeedButton");
    ASSERT_EQ(2u + 9u, lines.size());
    EXPECT_EQ("   CODES\t   B1\t   B2\t   NUMPIX", lines[0]);
    EXPECT_EQ("   ", lines[1]);
    EXPECT_EQ(0u, lines[2].rfind("   1\t   1\t   1\t   ", 0)) << lines[2];
    EXPECT_EQ(0u, lines[10].rfind("   9\t   3\t   3\t   ", 0)) << lines[10];
    int64_t pixels = 0;
    for (size_t line = 2; line < lines.size(); ++line)
        pixels += std::stoll(lines[line].substr(lines[line].rfind('\t') + 1));
    EXPECT_EQ(6, pixels);

    // The same crossing again: its table once, not twice.
    int64_t again = 0;
    script.Then([&](QDialog& dialog) {
        again = memo->LineCount();
        dialog.findChild<QAbstractButton*>("RadioButton3")->click();
        dialog.findChild<QAbstractButton*>("BitBtn1")->click();
        return dialog.result();
    });
    Trigger("TreatmentSpeedButton");
    EXPECT_EQ(2 + 9, again);

    // Erase Table checked at the last crossing: the next one of another set shows no table.
    Open({"first/a", "first/b", "first/c"});
    SegmentAll(3, "2");
    QString shown = "not asked";
    script.Then([&](QDialog& dialog) {
        dialog.findChild<QAbstractButton*>("RadioButton5")->click();  // Erase Table
        dialog.findChild<QAbstractButton*>("RadioButton3")->click();
        dialog.findChild<QAbstractButton*>("BitBtn1")->click();
        return dialog.result();
    });
    Trigger("TreatmentSpeedButton");
    Open({"second/d", "second/e"});
    SegmentAll(2, "2");
    script.Then([&](QDialog& dialog) {
        shown = memo->toPlainText();
        dialog.findChild<QAbstractButton*>("RadioButton3")->click();
        dialog.findChild<QAbstractButton*>("BitBtn1")->click();
        return dialog.result();
    });
    Trigger("TreatmentSpeedButton");
    EXPECT_EQ("", shown.toStdString());
}

// The load of a band cancelled in its progress dialog (the work runs on the worker thread).
class CancelledLoad : public Windows {
  protected:
    void SetUp() override {
        Windows::SetUp();
        form->Work->threshold = 0;
        form->Work->stepHook = [this](const char* stage, int64_t, int64_t) {
            return !(cancelLoading && std::strcmp(stage, tessera::kStageLoading) == 0);
        };
    }
    // Chooses the file and cancels its load.
    Answer ChooseAndCancel(const std::string& name) {
        return [this, path = QString::fromStdString(Path(name))](QDialog& dialog) {
            cancelLoading = true;
            return ChooseFile(path)(dialog);
        };
    }
    bool cancelLoading = false;
};

TEST_F(CancelledLoad, TheBandWindowIsLeftOnALoadedBandOrEmpty) {
    Open({"first/a", "first/b"});
    ASSERT_EQ(Title(2, "first/b"), Caption(ImageForm));

    // A new set whose first load is cancelled: no band of it is loaded, and the window no
    // longer shows first/b (a band no longer loaded, here the very file being loaded).
    script.Then(TypeAndClick({{"NumBandEdit", "2"}}, "BitBtn1"));
    script.Then(ChooseAndCancel("first/b"));
    Trigger("OpenSpeedButton");
    EXPECT_FALSE(form->ws.Band(1).Loaded());
    EXPECT_FALSE(ImageForm->HasPicture());
    EXPECT_EQ("", Caption(ImageForm));
    EXPECT_EQ(std::vector<Message>{}, script.messages);

    // Band 1 loaded, band 2's load cancelled: the window on band 1, the current band.
    cancelLoading = false;
    script.Then(TypeAndClick({{"NumBandEdit", "2"}}, "BitBtn1"));
    script.Then(ChooseFile(QString::fromStdString(Path("second/d"))));
    script.Then(ChooseAndCancel("second/e"));
    Trigger("OpenSpeedButton");
    EXPECT_TRUE(form->ws.Band(1).Loaded());
    EXPECT_FALSE(form->ws.Band(2).Loaded());
    EXPECT_EQ(1, form->ws.CurrentBand());
    EXPECT_EQ(Title(1, "second/d"), Caption(ImageForm));
    ASSERT_TRUE(ImageForm->HasPicture());
    EXPECT_EQ(qRgb(90, 90, 90), ImageForm->Picture().pixel(0, 1));
}

TEST_F(Windows, ARawFileThatIsNotThereIsRefusedBeforeAnyDialog) {
    const std::string missing = dir.File("first/missing.raw");
    script.Then(TypeAndClick({{"NumBandEdit", "2"}}, "BitBtn1"));
    script.Then(ChooseFile(QString::fromStdString(missing)), "OPEN BAND 1");
    script.Then(guitest::Cancel(), "OPEN BAND 1");  // the same band's dialog again
    script.Then(guitest::Cancel(), "OPEN BAND 2");
    Trigger("OpenSpeedButton");
    EXPECT_EQ((std::vector<QString>{" BANDS", "OPEN BAND 1", "OPEN BAND 1", "OPEN BAND 2"}),
              script.dialogTitles);  // no " Image Size"
    EXPECT_EQ((std::vector<Message>{{QString::fromStdString("The raw image\n" + missing +
                                                            "\ncannot be opened for reading."),
                                     "CAUTION"}}),
              script.messages);
    EXPECT_FALSE(FileExists(dir.File("first/missing.txt")));
}

}  // namespace
