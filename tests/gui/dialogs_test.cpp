// The band-count, image-size and segmentation dialogs, driven through their own controls.
#include <QAbstractButton>
#include <QApplication>
#include <QGroupBox>
#include <QKeyEvent>
#include <QLabel>
#include <QLayout>
#include <QLineEdit>
#include <QPushButton>
#include <QRadioButton>
#include <QTimer>
#include <functional>
#include <string>
#include <vector>

#include "app/forms.h"
#include "app/mainwindow.h"
#include "bands/ui/imagesize.h"
#include "bands/ui/numband.h"
#include "crossing/ui/checknumcode2.h"
#include "crossing/ui/checknumcode3.h"
#include "gui/dialoghelpers.h"
#include "gui/guitest.h"
#include "segmentation/ui/segmentation.h"
#include "segmentation/ui/segmentdefinition.h"

namespace {
using dialogtest::RunRealExec;
using dialogtest::Text;
using guitest::Click;
using guitest::Message;
using guitest::ProgramTest;
using guitest::TypeAndClick;

bool Checked(QWidget* dialog, const char* name) {
    auto* button = dialog->findChild<QRadioButton*>(name);
    if (!button) ADD_FAILURE() << "no radio button named " << name;
    return button && button->isChecked();
}

// ----- captions, sizes and texts -----

TEST_F(ProgramTest, DialogCaptionsAndSizes) {
    struct Expected {
        QDialog* dialog;
        const char* caption;
        int width;
        int height;
    };
    const std::vector<Expected> dialogs = {
        {NumBandForm, " BANDS", 220, 160},
        {ImageSizeForm, " Image Size", 214, 213},
        {SegmentationForm, "", 315, 347},
        {SegmentDefinitionForm, " Segment Definition ", 313, 320},
    };
    for (const Expected& e : dialogs) {
        ASSERT_NE(e.dialog, nullptr);
        EXPECT_EQ(e.caption, e.dialog->windowTitle().toStdString());
        EXPECT_EQ(e.width, e.dialog->width()) << e.caption;
        EXPECT_EQ(e.height, e.dialog->height()) << e.caption;
        // The controls must fit the fixed window, or texts would be cut.
        ASSERT_NE(e.dialog->layout(), nullptr);
        EXPECT_LE(e.dialog->layout()->minimumSize().width(), e.width) << e.caption;
        EXPECT_LE(e.dialog->layout()->minimumSize().height(), e.height) << e.caption;
    }
}

TEST_F(ProgramTest, BandDialogTexts) {
    EXPECT_EQ("Number of Bands ?", Text(NumBandForm, "Label1"));
    EXPECT_NE(nullptr, NumBandForm->findChild<QLineEdit*>("NumBandEdit"));
    EXPECT_EQ("OK", Text(NumBandForm, "BitBtn1"));

    EXPECT_EQ("NOTA: Absence of a  descriptive File", Text(ImageSizeForm, "Label1"));
    EXPECT_EQ("SIZE", Text(ImageSizeForm, "GroupBox1"));
    EXPECT_EQ("lines", Text(ImageSizeForm, "Label2"));
    EXPECT_EQ("columns", Text(ImageSizeForm, "Label3"));
    EXPECT_NE(nullptr, ImageSizeForm->findChild<QLineEdit*>("NumLineEdit"));
    EXPECT_NE(nullptr, ImageSizeForm->findChild<QLineEdit*>("NumColEdit"));
}

TEST_F(ProgramTest, SegmentationDialogTexts) {
    QDialog* d = SegmentationForm;
    EXPECT_EQ(" Image Name ", Text(d, "GroupBox1"));
    EXPECT_EQ("Image Number ", Text(d, "Label1"));
    EXPECT_EQ("Name ", Text(d, "Label2"));
    EXPECT_EQ(" Parameters", Text(d, "GroupBox2"));
    EXPECT_EQ("", Text(d, "GroupBox3"));
    EXPECT_EQ("Segmentation", Text(d, "RadioButton1"));
    EXPECT_EQ("Equipopulation", Text(d, "RadioButton2"));
    EXPECT_EQ("Definition", Text(d, "RadioButton3"));
    EXPECT_EQ("Number of segments   ", Text(d, "Label3"));
    EXPECT_EQ("OK", Text(d, "BitBtn1"));
    EXPECT_EQ("Cancel", Text(d, "BitBtn2"));
    EXPECT_TRUE(d->findChild<QPushButton*>("BitBtn1")->isDefault());
    EXPECT_FALSE(Checked(d, "RadioButton1") || Checked(d, "RadioButton2") ||
                 Checked(d, "RadioButton3"));
    EXPECT_EQ(100, SegmentationForm->ChosenType);
    EXPECT_FALSE(SegmentationForm->Cancelled);

    QDialog* s = SegmentDefinitionForm;
    EXPECT_EQ(" Image Name ", Text(s, "GroupBox1"));
    EXPECT_EQ("Number ", Text(s, "Label1"));
    EXPECT_EQ("Name ", Text(s, "Label2"));
    EXPECT_EQ(" Segment Boundaries ", Text(s, "GroupBox2"));
    EXPECT_EQ("Segment Number", Text(s, "Label3"));
    EXPECT_EQ("Dynamic Scale", Text(s, "Label4"));
    EXPECT_EQ("__", Text(s, "Label5"));
    EXPECT_EQ("Min. Value", Text(s, "Label6"));
    EXPECT_EQ("Max. Value ", Text(s, "Label7"));
    for (const char* edit : {"NumberEdit", "NameEdit", "SegmNumberEdit", "DSMinEdit", "DSMaxEdit",
                             "MinValEdit", "MaxValEdit"}) {
        EXPECT_NE(nullptr, s->findChild<QLineEdit*>(edit)) << edit;
    }
    // The definition dialog cannot be cancelled.
    EXPECT_EQ(nullptr, s->findChild<QAbstractButton*>("BitBtn2"));
}

// ----- band count and image size -----

TEST_F(ProgramTest, BandCountFollowsTheTextAndReachesTheLargeCodeDialog) {
    struct Case {
        const char* typed;
        int count;
    };
    for (const Case& c : {Case{"3", 3}, Case{" 12abc", 12}, Case{"-2", -2}, Case{"abc", 0},
                          Case{"", 0}, Case{"+7", 7}}) {
        script.Then(TypeAndClick({{"NumBandEdit", c.typed}}, "BitBtn1"), " BANDS");
        EXPECT_EQ(QDialog::Accepted, form->RunModal(*NumBandForm));
        EXPECT_EQ(c.count, NumBandForm->BandCount) << c.typed;
        EXPECT_EQ(c.count, CheckNumCodeForm2->BandCount) << c.typed;
    }
}

TEST_F(ProgramTest, BandCountDialogKeepsItsTextBetweenShowings) {
    script.Then(TypeAndClick({{"NumBandEdit", "4"}}, "BitBtn1"));
    std::string shownAgain;
    script.Then([&](QDialog& dialog) {
        shownAgain = Text(&dialog, "NumBandEdit");
        dialog.findChild<QAbstractButton*>("BitBtn1")->click();
        return dialog.result();
    });
    form->RunModal(*NumBandForm);
    form->RunModal(*NumBandForm);
    EXPECT_EQ("4", shownAgain);
    EXPECT_EQ(4, NumBandForm->BandCount);
    EXPECT_EQ(4, CheckNumCodeForm2->BandCount);
}

TEST_F(ProgramTest, ImageSizeTakesWhatItShows) {
    script.Then(TypeAndClick({{"NumLineEdit", "400"}, {"NumColEdit", "600 px"}}, "BitBtn1"),
                " Image Size");
    EXPECT_EQ(QDialog::Accepted, form->RunModal(*ImageSizeForm));
    EXPECT_EQ(400, ImageSizeForm->Lines);
    EXPECT_EQ(600, ImageSizeForm->Columns);

    // A band set of another size since: the dialog shows it, and confirming it unchanged
    // takes it.
    ImageSizeForm->ShowSize(512, 256);
    std::string lines, columns;
    script.Then([&](QDialog& dialog) {
        lines = Text(&dialog, "NumLineEdit");
        columns = Text(&dialog, "NumColEdit");
        dialog.findChild<QAbstractButton*>("BitBtn1")->click();
        return dialog.result();
    });
    form->RunModal(*ImageSizeForm);
    EXPECT_EQ("512", lines);
    EXPECT_EQ("256", columns);
    EXPECT_EQ(512, ImageSizeForm->Lines);
    EXPECT_EQ(256, ImageSizeForm->Columns);

    script.Then(TypeAndClick({{"NumColEdit", "x"}}, "BitBtn1"));
    form->RunModal(*ImageSizeForm);
    EXPECT_EQ(512, ImageSizeForm->Lines);
    EXPECT_EQ(0, ImageSizeForm->Columns);
    EXPECT_EQ(0, form->ws.Lines());  // the band set's size changes only with a loaded band
}

// ----- segmentation dialog -----

struct Shown {
    std::string number, name, count;
    bool radio1 = false, radio2 = false, radio3 = false;
};

// An answer that records what the dialog shows, then runs `then`.
guitest::Answer Record(Shown& shown, guitest::Answer then) {
    return [&shown, then](QDialog& dialog) {
        shown.number = Text(&dialog, "NumberEdit");
        shown.name = Text(&dialog, "NameEdit");
        shown.count = Text(&dialog, "SegmentNumberEdit");
        shown.radio1 = Checked(&dialog, "RadioButton1");
        shown.radio2 = Checked(&dialog, "RadioButton2");
        shown.radio3 = Checked(&dialog, "RadioButton3");
        return then(dialog);
    };
}

TEST_F(ProgramTest, SegmentationAsksForATypeOnlyBeforeTheFirstChoice) {
    int type = -1, count = -1;
    Shown first, again;
    // OK without a type: the message, then the same dialog without refilling.
    script.Then(Record(first, TypeAndClick({{"SegmentNumberEdit", "4"}}, "BitBtn1")), "");
    script.Then(Record(again, Click({"RadioButton2", "BitBtn1"})), "");
    ASSERT_TRUE(SegmentationForm->AskBand(1, "/data/band1.raw", type, count));
    EXPECT_EQ(1, type);
    EXPECT_EQ(4, count);
    EXPECT_EQ((std::vector<Message>{{"Not Any Treatment Selected\nTry again", "ERROR"}}),
              script.messages);
    EXPECT_EQ("1", first.number);
    EXPECT_EQ("/data/band1.raw", first.name);
    EXPECT_EQ("", first.count);
    EXPECT_FALSE(first.radio1 || first.radio2 || first.radio3);
    EXPECT_EQ("4", again.count);  // not emptied again
    EXPECT_EQ("1", again.number);

    // The next band opens refilled, with no button selected; OK reuses the previous type.
    Shown second;
    script.Then(Record(second, TypeAndClick({{"SegmentNumberEdit", "7"}}, "BitBtn1")));
    ASSERT_TRUE(SegmentationForm->AskBand(2, "/data/band2.bmp", type, count));
    EXPECT_EQ(1, type);
    EXPECT_EQ(7, count);
    EXPECT_EQ(1u, script.messages.size());
    EXPECT_EQ("2", second.number);
    EXPECT_EQ("/data/band2.bmp", second.name);
    EXPECT_EQ("", second.count);
    EXPECT_FALSE(second.radio1 || second.radio2 || second.radio3);
}

TEST_F(ProgramTest, SegmentationCountIsTheLeadingIntegerAndMustBeTypedForEveryBand) {
    int type = -1, count = -1;
    script.Then([](QDialog& dialog) {
        dialog.findChild<QLineEdit*>("SegmentNumberEdit")->setText(" 5 segments");
        dialog.findChild<QAbstractButton*>("RadioButton3")->click();
        dialog.findChild<QAbstractButton*>("BitBtn1")->click();
        return dialog.result();
    });
    script.Then(Click({"BitBtn1"}));
    ASSERT_TRUE(SegmentationForm->AskBand(1, "a", type, count));
    EXPECT_EQ(2, type);
    EXPECT_EQ(5, count);
    ASSERT_TRUE(SegmentationForm->AskBand(2, "b", type, count));
    EXPECT_EQ(2, type);
    EXPECT_EQ(0, count);  // emptied for band 2 and not typed
    EXPECT_TRUE(script.messages.empty());
}

TEST_F(ProgramTest, SegmentationRadioButtonsStayExclusiveAndSelected) {
    auto* one = SegmentationForm->RadioButton1;
    auto* three = SegmentationForm->RadioButton3;
    three->click();
    EXPECT_EQ(2, SegmentationForm->ChosenType);
    one->click();
    EXPECT_TRUE(one->isChecked());
    EXPECT_FALSE(three->isChecked());
    EXPECT_EQ(0, SegmentationForm->ChosenType);
    one->click();  // clicking the selected button keeps it selected
    EXPECT_TRUE(one->isChecked());
    EXPECT_EQ(0, SegmentationForm->ChosenType);
    SegmentationForm->BitBtn1->click();
    EXPECT_FALSE(one->isChecked() || SegmentationForm->RadioButton2->isChecked() ||
                 three->isChecked());
    EXPECT_EQ(0, SegmentationForm->ChosenType);
}

TEST_F(ProgramTest, SegmentationCancelEndsOnceAndKeepsTheButtons) {
    int type = -1, count = -1;
    script.Then(Click({"RadioButton1", "BitBtn2"}));
    EXPECT_FALSE(SegmentationForm->AskBand(2, "b", type, count));
    EXPECT_FALSE(SegmentationForm->Cancelled);                 // reset for the next run
    EXPECT_TRUE(SegmentationForm->RadioButton1->isChecked());  // only OK deselects
    EXPECT_EQ(-1, type);

    // The next run is not cancelled by the earlier Cancel, and keeps the chosen type.
    Shown shown;
    script.Then(Record(shown, TypeAndClick({{"SegmentNumberEdit", "3"}}, "BitBtn1")));
    ASSERT_TRUE(SegmentationForm->AskBand(1, "a", type, count));
    EXPECT_TRUE(shown.radio1);
    EXPECT_EQ(0, type);
    EXPECT_EQ(3, count);
    EXPECT_TRUE(script.messages.empty());
}

TEST_F(ProgramTest, SegmentationCloseBoxActsAsOkButKeepsTheButtons) {
    DialogSeam realExec;  // the program's exec(); messages recorded
    std::vector<Message> messages;
    realExec.showMessage = [&](const QString& text, const QString& caption) {
        messages.push_back({text, caption});
    };
    TSegmentationForm dialog(&realExec);
    int type = -1, count = -1;
    bool answered = false;
    RunRealExec(
        dialog, [&] { answered = dialog.AskBand(3, "c", type, count); },
        [](QDialog& d) {
            d.findChild<QLineEdit*>("SegmentNumberEdit")->setText("6");
            d.findChild<QAbstractButton*>("RadioButton2")->click();
            d.close();
        });
    EXPECT_TRUE(answered);
    EXPECT_EQ(1, type);
    EXPECT_EQ(6, count);
    EXPECT_TRUE(dialog.RadioButton2->isChecked());
    EXPECT_TRUE(messages.empty());
}

TEST_F(ProgramTest, SegmentationEscapeIsCancel) {
    DialogSeam realExec;
    TSegmentationForm dialog(&realExec);
    int type = -1, count = -1;
    bool answered = true;
    RunRealExec(
        dialog, [&] { answered = dialog.AskBand(1, "a", type, count); },
        [](QDialog& d) {
            QKeyEvent escape(QEvent::KeyPress, Qt::Key_Escape, Qt::NoModifier);
            QApplication::sendEvent(&d, &escape);
        });
    EXPECT_FALSE(answered);
    EXPECT_FALSE(dialog.Cancelled);
}

TEST_F(ProgramTest, SegmentationEnterIsOk) {
    DialogSeam realExec;
    TSegmentationForm dialog(&realExec);
    dialog.RadioButton1->click();
    int type = -1, count = -1;
    bool answered = false;
    RunRealExec(
        dialog, [&] { answered = dialog.AskBand(2, "b", type, count); },
        [](QDialog& d) {
            auto* edit = d.findChild<QLineEdit*>("SegmentNumberEdit");
            edit->setFocus();
            edit->setText("8");
            QKeyEvent enter(QEvent::KeyPress, Qt::Key_Return, Qt::NoModifier);
            QApplication::sendEvent(edit, &enter);
        });
    EXPECT_TRUE(answered);
    EXPECT_EQ(0, type);
    EXPECT_EQ(8, count);
    EXPECT_FALSE(dialog.RadioButton1->isChecked());  // OK deselected it
}

// ----- segment definition dialog -----

struct DefinitionShown {
    std::string number, name, segment, dsMin, dsMax, minValue, maxValue;
};

guitest::Answer RecordDefinition(std::vector<DefinitionShown>& shown, guitest::Answer then) {
    return [&shown, then](QDialog& dialog) {
        shown.push_back({Text(&dialog, "NumberEdit"), Text(&dialog, "NameEdit"),
                         Text(&dialog, "SegmNumberEdit"), Text(&dialog, "DSMinEdit"),
                         Text(&dialog, "DSMaxEdit"), Text(&dialog, "MinValEdit"),
                         Text(&dialog, "MaxValEdit")});
        return then(dialog);
    };
}

TEST_F(ProgramTest, DefinitionDialogProposesEachSegment) {
    std::vector<DefinitionShown> shown;
    script.Then(RecordDefinition(shown, TypeAndClick({{"MaxValEdit", "80"}}, "BitBtn1")),
                " Segment Definition ");
    script.Then(RecordDefinition(shown, TypeAndClick({{"MaxValEdit", "150abc"}}, "BitBtn1")));
    script.Then(RecordDefinition(shown, Click({"BitBtn1"})));  // the proposed maximum
    const std::vector<int> upper =
        SegmentDefinitionForm->AskUpperLimits(2, "/data/band2.raw", 3, 12, 200);
    EXPECT_EQ((std::vector<int>{80, 150, 200}), upper);
    ASSERT_EQ(3u, shown.size());
    const std::vector<std::vector<std::string>> expected = {
        {"2", "/data/band2.raw", "1", "12", "200", "12", " "},
        {"2", "/data/band2.raw", "2", "12", "200", "81", " "},
        {"2", "/data/band2.raw", "3", "12", "200", "151", "200"},
    };
    for (size_t k = 0; k < shown.size(); ++k) {
        const DefinitionShown& s = shown[k];
        EXPECT_EQ(expected[k], (std::vector<std::string>{s.number, s.name, s.segment, s.dsMin,
                                                         s.dsMax, s.minValue, s.maxValue}))
            << "segment " << k + 1;
    }
    EXPECT_TRUE(script.messages.empty());
}

TEST_F(ProgramTest, DefinitionBlankMaximumReadsAsZeroAndTheCloseBoxAccepts) {
    std::vector<DefinitionShown> shown;
    script.Then(RecordDefinition(shown, Click({"BitBtn1"})));
    script.Then(RecordDefinition(shown, [](QDialog& dialog) {
        dialog.findChild<QLineEdit*>("MaxValEdit")->setText("90");
        dialog.reject();  // closed by the frame
        return dialog.result();
    }));
    const std::vector<int> upper = SegmentDefinitionForm->AskUpperLimits(1, "a", 2, 5, 90);
    EXPECT_EQ((std::vector<int>{0, 90}), upper);
    ASSERT_EQ(2u, shown.size());
    EXPECT_EQ(" ", shown[0].maxValue);
    EXPECT_EQ("1", shown[1].minValue);  // 0 + 1
    EXPECT_EQ("90", shown[1].maxValue);
}

TEST_F(ProgramTest, DefinitionSingleSegmentProposesTheMaximum) {
    std::vector<DefinitionShown> shown;
    script.Then(RecordDefinition(shown, Click({"BitBtn1"})));
    EXPECT_EQ((std::vector<int>{255}), SegmentDefinitionForm->AskUpperLimits(4, "d", 1, 0, 255));
    ASSERT_EQ(1u, shown.size());
    EXPECT_EQ("0", shown[0].minValue);
    EXPECT_EQ("255", shown[0].maxValue);
    EXPECT_EQ("4", shown[0].number);
}

// Every dialog opens with the focus in the field the user fills; fields that only show a value
// take no typing.
TEST_F(ProgramTest, DialogsOpenWithTheFocusInTheFieldToFill) {
    struct Row {
        QDialog* dialog;
        const char* field;
        std::vector<const char*> displayOnly;
    };
    const Row rows[] = {
        {NumBandForm, "NumBandEdit", {}},
        {ImageSizeForm, "NumLineEdit", {}},
        {SegmentationForm, "SegmentNumberEdit", {"NumberEdit", "NameEdit"}},
        {SegmentDefinitionForm,
         "MaxValEdit",
         {"NumberEdit", "NameEdit", "SegmNumberEdit", "DSMinEdit", "DSMaxEdit", "MinValEdit"}},
        {CheckNumCodeForm3, "NewTotCodeEdit", {"TotNumCodeEdit"}},
    };
    for (const Row& row : rows) {
        const char* title = row.field;
        for (const char* name : row.displayOnly) {
            auto* edit = row.dialog->findChild<QLineEdit*>(name);
            ASSERT_NE(nullptr, edit) << name;
            EXPECT_TRUE(edit->isReadOnly()) << name;
            EXPECT_EQ(Qt::NoFocus, edit->focusPolicy()) << name;
        }
        std::string focused = "none";
        RunRealExec(
            *row.dialog, [&] { row.dialog->exec(); },
            [&](QDialog& d) {
                if (QWidget* widget = d.focusWidget()) focused = widget->objectName().toStdString();
                d.accept();
            });
        EXPECT_EQ(row.field, focused) << title;
    }
}

// A dialog comes up centred on the main window at every showing, not lower every other time.
TEST_F(ProgramTest, ADialogComesUpInTheSamePlaceEachTime) {
    std::vector<QRect> places;
    for (int showing = 0; showing < 3; ++showing) {
        RunRealExec(
            *NumBandForm, [&] { NumBandForm->exec(); },
            [&](QDialog& d) {
                places.push_back(d.geometry());
                d.accept();
            });
    }
    ASSERT_EQ(3u, places.size());
    EXPECT_EQ(places[0], places[1]);
    EXPECT_EQ(places[0], places[2]);
    EXPECT_EQ(form->geometry().center(), places[0].center());
}

}  // namespace
