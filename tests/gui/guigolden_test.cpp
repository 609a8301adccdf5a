// The golden job through the interactive program: the same choices as the batch arguments
// of tests/data/golden-samples/args, answered in the real dialogs, give the stored files.
#include <QAbstractButton>
#include <QLineEdit>
#include <QRadioButton>

#include "app/mainwindow.h"
#include "golden.h"
#include "gui/guitest.h"
#include "testfiles.h"

namespace {
using guitest::Answer;
using guitest::ChooseFile;
using guitest::Click;
using guitest::Segment;
using guitest::TypeAndClick;
using testing_support::GoldenCase;
using testing_support::ScratchDir;

using GoldenJob = guitest::ProgramTest;

TEST_F(GoldenJob, DialogsWriteTheStoredFiles) {
    ScratchDir dir;
    const GoldenCase golden = GoldenCase::Prepare("golden-samples", dir.path());
    auto path = [&dir](const char* name) { return QString::fromStdString(dir.File(name)); };

    script.Then(TypeAndClick({{"NumBandEdit", "5"}}, "BitBtn1"), " BANDS");
    script.Then(ChooseFile(path("band1.raw"), 1), "OPEN BAND 1");
    script.Then(ChooseFile(path("band2.raw"), 1), "OPEN BAND 2");
    script.Then(ChooseFile(path("band3.raw"), 1), "OPEN BAND 3");
    script.Then(ChooseFile(path("band4.raw"), 1), "OPEN BAND 4");
    script.Then(ChooseFile(path("band1.bmp"), 2), "OPEN BAND 5");
    Trigger("OpenSpeedButton");

    script.Then(Segment("RadioButton1", "4"));  // segmentation
    script.Then(Segment("RadioButton2", "3"));  // equipopulation
    script.Then(Segment("RadioButton3", "3"));  // definition, upper limits 60, 120, 255
    script.Then(TypeAndClick({{"MaxValEdit", "60"}}, "BitBtn1"), " Segment Definition ");
    script.Then(TypeAndClick({{"MaxValEdit", "120"}}, "BitBtn1"));
    script.Then(TypeAndClick({{"MaxValEdit", "255"}}, "BitBtn1"));
    script.Then(Segment("RadioButton1", "2"));
    script.Then(Segment("RadioButton2", "2"));
    Trigger("SegmentationSpeedButton");

    script.Then(
        [](QDialog& dialog) {
            dialog.findChild<QRadioButton*>("RadioButton2")->click();
            dialog.findChild<QLineEdit*>("MinPixelEdit")->setText("100");
            dialog.findChild<QAbstractButton*>("BitBtn1")->click();
            return dialog.result();
        },
        " Code Number Definition");
    Trigger("TreatmentSpeedButton");

    script.Then(ChooseFile(path("result")),
                "Saving Final Resulting Colored BMP File and Related Raw Image");
    Trigger("SaveResultSpeedButton");
    script.Then(ChooseFile(path("seg")), "SAVE SEGMENTED IMAGE");
    Trigger("SaveSegmentedImageSpeedButton");

    EXPECT_TRUE(script.messages.empty());
    // The code list goes to the program's data folder; nothing is written beside the bands
    // but the results asked for.
    EXPECT_EQ(std::vector<std::string>{},
              golden.Compare(dir.path(),
                             {{"result_codes.txt", form->ws.CodeListFolder() + "/multi_tab.txt"}}));
    EXPECT_FALSE(testing_support::FileExists(dir.File("multi_tab.txt")));
    EXPECT_FALSE(testing_support::FileExists(dir.File("result_codes.txt")));
}

}  // namespace
