// Save Treatment and Apply Treatment through the real dialogs: the commands' states, the saved
// document read back, a treatment applied to the bands it came from giving the same class
// files (the report adding its treatment lines), applied to other bands keeping every code's
// class and colour, and a file that is no treatment refused with nothing changed.
#include <QAbstractButton>
#include <QDialog>
#include <QDir>
#include <QFileDialog>

#include "app/forms.h"
#include "app/mainwindow.h"
#include "gui/guitest.h"
#include "testfiles.h"
#include "view/ui/tempimage.h"
#include "workspace/treatmentfile.h"

namespace {
using guitest::ChooseFile;
using guitest::Message;
using guitest::Segment;
using guitest::TypeAndClick;
using testing_support::ReadBytes;
using testing_support::ReadText;
using testing_support::ScratchDir;
using testing_support::WriteBytes;
using testing_support::WriteText;

constexpr const char* kSaveTitle = "Saving Final Resulting Colored BMP File and Related Raw Image";

// Two raw bands of 2 x 4 pixels, and the same bands with every gray level raised by 10.
class TreatmentCommands : public guitest::ProgramTest {
  protected:
    void SetUp() override {
        ProgramTest::SetUp();
        WriteBytes(dir.File("band1.raw"), {0, 10, 20, 30, 40, 50, 60, 70});
        WriteText(dir.File("band1.txt"), "2\n4\n");
        WriteBytes(dir.File("band2.raw"), {5, 5, 100, 100, 5, 100, 5, 100});
        WriteText(dir.File("band2.txt"), "2\n4\n");
        WriteBytes(dir.File("high1.raw"), {10, 20, 30, 40, 50, 60, 70, 80});
        WriteText(dir.File("high1.txt"), "2\n4\n");
        WriteBytes(dir.File("high2.raw"), {15, 15, 110, 110, 15, 110, 15, 110});
        WriteText(dir.File("high2.txt"), "2\n4\n");
    }
    void OpenBands(const char* first, const char* second) {
        script.Then(TypeAndClick({{"NumBandEdit", "2"}}, "BitBtn1"), " BANDS");
        script.Then(ChooseFile(QString::fromStdString(dir.File(first)), 1), "OPEN BAND 1");
        script.Then(ChooseFile(QString::fromStdString(dir.File(second)), 1), "OPEN BAND 2");
        Trigger("OpenSpeedButton");
    }
    void SaveResult(const std::string& stem) {
        script.Then(ChooseFile(QString::fromStdString(dir.File(stem))), kSaveTitle);
        Trigger("SaveResultSpeedButton");
    }
    void Apply(const std::string& name) {
        script.Then(ChooseFile(QString::fromStdString(dir.File(name))), "APPLY TREATMENT");
        Trigger("ApplyTreatment");
    }
    ScratchDir dir;
};

// A name typed without extension gets ".json", so that Apply Treatment's list shows the file;
// a name with its own extension is kept.
TEST_F(TreatmentCommands, SaveTreatmentAddsJsonToANameWithoutExtension) {
    OpenBands("band1.raw", "band2.raw");
    script.Then(Segment("RadioButton1", "2"));
    script.Then(Segment("RadioButton1", "2"));
    Trigger("SegmentationSpeedButton");
    script.Then(guitest::Click({"RadioButton1", "BitBtn1"}));
    Trigger("TreatmentSpeedButton");
    script.Then(ChooseFile(QString::fromStdString(dir.File("mine"))), "SAVE TREATMENT");
    Trigger("SaveTreatment");
    EXPECT_EQ(std::vector<Message>{}, script.messages);
    EXPECT_TRUE(testing_support::FileExists(dir.File("mine.json")));
    EXPECT_FALSE(testing_support::FileExists(dir.File("mine")));
    EXPECT_TRUE(tessera::ReadTreatment(dir.File("mine.json")));
    script.Then(ChooseFile(QString::fromStdString(dir.File("kept.txt"))), "SAVE TREATMENT");
    Trigger("SaveTreatment");
    EXPECT_TRUE(testing_support::FileExists(dir.File("kept.txt")));
    EXPECT_FALSE(testing_support::FileExists(dir.File("kept.txt.json")));

    // Apply Treatment's own list shows the file saved.
    QStringList listed;
    script.Then(
        [&](QDialog& dialog) {
            auto* files = qobject_cast<QFileDialog*>(&dialog);
            listed = files->directory().entryList(
                files->nameFilters().first().section('(', 1).chopped(1).split(' '), QDir::Files);
            dialog.reject();
            return static_cast<int>(QDialog::Rejected);
        },
        "APPLY TREATMENT");
    Trigger("ApplyTreatment");
    EXPECT_EQ(QStringList{"mine.json"}, listed);
}

TEST_F(TreatmentCommands, SavedThenAppliedGivesTheSameClassesAndColours) {
    EXPECT_FALSE(Enabled("ApplyTreatment"));
    EXPECT_FALSE(Enabled("SaveTreatment"));
    OpenBands("band1.raw", "band2.raw");
    EXPECT_TRUE(Enabled("ApplyTreatment"));
    EXPECT_FALSE(Enabled("SaveTreatment"));
    script.Then(Segment("RadioButton1", "2"));
    script.Then(Segment("RadioButton2", "2"));
    Trigger("SegmentationSpeedButton");
    script.Then(guitest::Click({"RadioButton1", "BitBtn1"}), " Code Number Definition");
    Trigger("TreatmentSpeedButton");
    ASSERT_TRUE(Enabled("SaveTreatment"));
    SaveResult("first");
    script.Then(ChooseFile(QString::fromStdString(dir.File("t.json"))), "SAVE TREATMENT");
    Trigger("SaveTreatment");
    EXPECT_EQ(std::vector<Message>{}, script.messages);

    const tessera::Result<tessera::SavedTreatment> saved =
        tessera::ReadTreatment(dir.File("t.json"));
    ASSERT_TRUE(saved) << saved.message;
    ASSERT_EQ(2, saved.value->BandCount());
    EXPECT_EQ(dir.File("band1.raw"), saved.value->bands[0].file);
    EXPECT_EQ(tessera::Equipopulation, saved.value->bands[1].type);
    EXPECT_EQ(form->ws.crossing->selectedCodes, saved.value->selectedCodes);
    EXPECT_EQ(form->ws.crossing->classColourTable, saved.value->colours);
    ASSERT_TRUE(saved.value->selection.has_value());
    EXPECT_FALSE(saved.value->selection->keepAll);
    EXPECT_EQ(0, saved.value->selection->minimum);

    // Applied to the same bands: the same files, and no colour drawn.
    const tessera::RandomBelow before = form->ws.random;
    Apply("t.json");
    EXPECT_EQ(std::vector<Message>{}, script.messages);
    SaveResult("again");
    for (const char* extension : {".bmp", ".raw"})
        EXPECT_EQ(ReadBytes(dir.File(std::string("first") + extension)),
                  ReadBytes(dir.File(std::string("again") + extension)))
            << extension;
    const std::string added = "\n\nTreatment applied : " + dir.File("t.json") +
                              " \n\nPixels of codes the treatment did not keep : 0 (in no class) ";
    std::string report = ReadText(dir.File("again.txt"));
    const size_t at = report.find(added);
    ASSERT_NE(std::string::npos, at) << report;
    EXPECT_EQ(ReadText(dir.File("first.txt")), report.erase(at, added.size()));
    tessera::RandomBelow segmentColoursOnly = before;
    tessera::BuildSegmentColourTable(segmentColoursOnly);
    EXPECT_EQ(segmentColoursOnly(1000), form->ws.random(1000));

    // Other bands, gray levels raised by 10: a code keeps its class and colour.
    OpenBands("high1.raw", "high2.raw");
    Apply("t.json");
    EXPECT_EQ(std::vector<Message>{}, script.messages);
    ASSERT_TRUE(form->ws.crossing.has_value());
    EXPECT_EQ(saved.value->selectedCodes, form->ws.crossing->selectedCodes);
    EXPECT_EQ(saved.value->colours, form->ws.crossing->classColourTable);
    EXPECT_EQ(form->ws.segmentation->records[1].segmentLimits, saved.value->bands[0].limits);
    // The segmented window names the band it shows, of the set the treatment segmented.
    EXPECT_EQ(" BAND 2. " + dir.File("high2.raw"), TempImageForm->windowTitle().toStdString());
}

TEST_F(TreatmentCommands, AFileThatIsNoTreatmentIsRefusedAndChangesNothing) {
    OpenBands("band1.raw", "band2.raw");
    WriteText(dir.File("other.json"), "{\"format\": \"something\"}");
    Apply("other.json");
    std::string text = " ";
    text += dir.File("other.json");
    text += " is not a treatment (its \"format\" is not \"tessera-treatment\") ";
    const QString refusal = QString::fromStdString(text);
    EXPECT_EQ((std::vector<Message>{{refusal, "CAUTION"}}), script.messages);

    // A treatment of three bands for a set of two.
    tessera::SavedTreatment three;
    for (int b = 1; b <= 3; ++b) {
        tessera::SavedBand band;
        band.file = "b";
        band.file += std::to_string(b);
        band.count = 1;
        band.limits = {{0, 0}, {0, 255}};
        three.bands.push_back(band);
    }
    three.selectedCodes = {0, 1};
    WriteText(dir.File("three.json"), tessera::TreatmentJson(three));
    Apply("three.json");
    std::string count = " the treatment ";
    count += dir.File("three.json");
    count += " treats 3 bands, and 2 are given ";
    ASSERT_EQ(2u, script.messages.size());
    EXPECT_EQ((Message{QString::fromStdString(count), "CAUTION"}), script.messages[1]);
    EXPECT_FALSE(form->ws.segmentation.has_value());
    EXPECT_FALSE(form->ws.crossing.has_value());
    EXPECT_FALSE(Enabled("SaveTreatment"));
}

}  // namespace
