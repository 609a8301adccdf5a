// Every malformed band file of the corrupt-file folder, opened through the real open sequence:
// one "CAUTION" message with the loader's reason, the same band's dialog again, nothing
// loaded, and the file itself left as it was.
#include <string>

#include "app/mainwindow.h"
#include "gui/guitest.h"
#include "support/paths.h"
#include "testfiles.h"

namespace {
using guitest::ChooseFile;
using guitest::TypeAndClick;

const std::string kCorrupt = std::string(TESSERA_TEST_DATA) + "/corrupt";

// What the loading rule itself says of the file (its exact texts are checked by the core's
// tests).
std::string LoaderRefusal(const std::string& path, bool bitmap) {
    tessera::Workspace probe;
    probe.BeginBandSet(2);
    const auto type = bitmap ? tessera::BandFileType::Bitmap : tessera::BandFileType::Raw;
    return probe.LoadBand(1, path, type, {}).message;
}

class CorruptFiles : public guitest::ProgramTest {
  protected:
    // Opens a set of two bands whose first is `path`, then cancels the dialogs.
    void OpenRefused(const std::string& path, bool bitmap) {
        script.messages.clear();
        script.Then(TypeAndClick({{"NumBandEdit", "2"}}, "BitBtn1"));
        script.Then(ChooseFile(QString::fromStdString(path), bitmap ? 2 : 1), "OPEN BAND 1");
        script.Then(guitest::Cancel(), "OPEN BAND 1");  // the same band's dialog again
        script.Then(guitest::Cancel(), "OPEN BAND 2");
        Trigger("OpenSpeedButton");
    }
};

TEST_F(CorruptFiles, EveryFileIsRefusedWithItsReasonAndNothingIsLoaded) {
    int checked = 0;
    for (const std::string& name : testing_support::ListFolder(kCorrupt)) {
        const std::string extension = name.substr(name.find_last_of('.'));
        const bool bitmap = extension == ".bmp";
        if (!bitmap && extension != ".txt") continue;
        const std::string path = bitmap ? kCorrupt + "/" + name
                                        : tessera::ReplaceExtension(kCorrupt + "/" + name, ".raw");
        const std::string descriptorBefore =
            bitmap ? "" : testing_support::ReadText(kCorrupt + "/" + name);

        OpenRefused(path, bitmap);
        ASSERT_EQ(1u, script.messages.size()) << name;
        EXPECT_EQ("CAUTION", script.messages[0].caption.toStdString()) << name;
        EXPECT_EQ(LoaderRefusal(path, bitmap), script.messages[0].text.toStdString()) << name;
        EXPECT_FALSE(form->ws.Band(1).Loaded()) << name;
        EXPECT_EQ(0, form->ws.Lines()) << name;
        if (!bitmap) {
            EXPECT_EQ(descriptorBefore, testing_support::ReadText(kCorrupt + "/" + name)) << name;
        }
        ++checked;
    }
    EXPECT_GE(checked, 20);
}

}  // namespace
